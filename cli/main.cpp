// SPDX-License-Identifier: Apache-2.0
#include "CliApp.h"

int main(int argc, char** argv)
{
    return veltrane::cli::runCli(argc, argv);
}
