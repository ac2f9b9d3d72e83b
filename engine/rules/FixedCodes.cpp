// SPDX-License-Identifier: Apache-2.0
#include "rules/FixedCodes.h"

#include <algorithm>

namespace veltrane::rules {

namespace {

// materialByForm is a run of pairs: the form's byte, then the material's two letters.
constexpr std::size_t kFormPair = 3;
// A continuing resource is told by its bibliographic level, not its type of record.
constexpr std::string_view kContinuingResources = "CR";

}  // namespace

std::string_view MaterialOfForm(const RuleSetTables& tables, unsigned char form)
{
    const std::string_view pairs = tables.materialByForm;
    for (std::size_t i = 0; i + kFormPair <= pairs.size(); i += kFormPair)
        if (static_cast<unsigned char>(pairs[i]) == form)
            return pairs.substr(i + 1, 2);
    return {};
}

std::string_view MaterialOfRecord(const RuleSetTables& tables, unsigned char type, unsigned char level)
{
    // A continuing resource is language material at a serial level; books
    // are language material at a monographic level; the other types of
    // record take the material of the form of the same letter.
    constexpr std::string_view kSerialLevels = "bis", kMonographicLevels = "acdm";
    const auto in = [](std::string_view set, unsigned char c) {
        return c != 0 && set.find(static_cast<char>(c)) != std::string_view::npos;
    };
    if (tables.materialByForm.empty())
        return {};
    if (type == 'a' && in(kSerialLevels, level))
        return kContinuingResources;
    if ((type == 'a' || type == 't') && !in(kMonographicLevels, level))
        return {};
    const std::string_view material = MaterialOfForm(tables, type);
    return material == kContinuingResources ? std::string_view() : material;
}

}  // namespace veltrane::rules
