// SPDX-License-Identifier: Apache-2.0
#pragma once

namespace veltrane {

/// Whether the processor runs AVX2 code: the vector scans pick their widest
/// form by it. Asked once; on other processors than x86-64, false.
[[nodiscard]] inline bool HasAvx2()
{
#if defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();  // may run before the run-time library's own constructors
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace veltrane
