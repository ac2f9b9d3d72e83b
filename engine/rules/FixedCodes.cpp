// SPDX-License-Identifier: Apache-2.0
#include "rules/FixedCodes.h"

#include <algorithm>

namespace veltrane::rules {

namespace {

// materialByForm is a run of pairs: the form's byte, then the material's two letters.
constexpr std::size_t kFormPair = 3;
// A continuing resource is told by its bibliographic level, not its type of record.
constexpr std::string_view kContinuingResources = "CR";

bool isCode(const FixedCodeRule& rule, std::span<const unsigned char> value)
{
    const std::string_view text(reinterpret_cast<const char*>(value.data()), value.size());
    if (rule.digits && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return true;
    for (std::size_t i = 0; i + rule.width <= rule.codes.size(); i += rule.width)
        if (rule.codes.substr(i, rule.width) == text)
            return true;
    return false;
}

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

void FindFixedCodeFaults(const RuleSetTables& tables, std::string_view block, std::string_view material,
                         std::span<const unsigned char> bytes, std::size_t shift,
                         const std::function<void(const FixedCodeRule& rule, std::size_t at)>& fault)
{
    for (const FixedCodeRule& rule : tables.fixedCodes) {
        if (rule.block != block || (!rule.material.empty() && rule.material != material) || rule.width == 0)
            continue;
        if (shift != 0 && (rule.material.empty() || rule.position < shift))
            continue;
        const std::size_t first = rule.position - shift;
        if (first + rule.length > bytes.size())
            continue;
        for (std::size_t k = 0; k < rule.length; k += rule.width) {
            if (!isCode(rule, bytes.subspan(first + k, rule.width))) {
                fault(rule, first + k);
                break;
            }
        }
    }
}

}  // namespace veltrane::rules
