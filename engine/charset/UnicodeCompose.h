// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace veltrane {

/// Joins each base character with the combining marks after it wherever
/// Unicode has one character for both, so that a decoded "e" and combining
/// acute compare equal with a typed "é". Text without marks stays as it is.
void ComposeCanonically(std::string& text);

}  // namespace veltrane
