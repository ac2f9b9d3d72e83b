#include "CliApp.h"

int main(int argc, char** argv)
{
    return veltrane::cli::runCli(argc, argv);
}
