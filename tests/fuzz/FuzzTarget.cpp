// SPDX-License-Identifier: Apache-2.0
// One libFuzzer target; VELTRANE_FUZZ_CHECK names the check it runs. A broken
// expectation aborts, so libFuzzer keeps the input as a crash.

#include <cstdio>
#include <cstdlib>

#include "FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string failure = fuzzchecks::VELTRANE_FUZZ_CHECK(data, size);
    if (!failure.empty()) {
        std::fprintf(stderr, "fuzz check failed: %s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
