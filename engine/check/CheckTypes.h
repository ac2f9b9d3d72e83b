// SPDX-License-Identifier: Apache-2.0
#pragma once

// The values a check takes and gives, apart from the functions that check, so
// that the check's own units can share them without including one another.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "iso2709/RecordLayout.h"
#include "iso2709/RecordStream.h"
#include "rules/RuleCheck.h"

namespace veltrane {

/// One finding, structural or of content: the record it belongs to (junk
/// between records belongs to the record before it, 0 before the first),
/// where it is in the file, the record's 001 value (UTF-8, empty when none),
/// its code and what exactly is wrong; then what a content finding adds.
struct CheckProblem {
    std::int64_t number = 0;
    std::uint64_t offset = 0;
    std::string controlNumber;
    std::string_view code;
    std::string description;
    Severity severity = Severity::Error;  ///< every structural problem is an error
    RuleSet rules = RuleSet::None;        ///< the rules the record was checked by
    std::string tag = {};                 ///< empty where no field applies
    int occurrence = 0;                   ///< 1-based among fields with that tag; 0 where none applies
    int indicator = 0;                    ///< 1 or 2; 0 where none applies
    char subfield = 0;                    ///< 0 where none applies
    int position = -1;                    ///< in a fixed field or the leader; -1 where none applies
};

/// The codes `check` prints, each with what it means; stable across versions.
struct CheckCode {
    std::string_view code;
    std::string_view meaning;
};
inline constexpr CheckCode kCheckCodes[] = {
    {"length-digits", "the record length is not five digits"},
    {"length-short", "a record length under 25 ends the records early"},
    {"truncated", "the record runs past the end of the file"},
    {"length-mismatch", "the record length disagrees with where the record terminator sits"},
    {"leader-characters", "a leader byte is a control character or past ASCII"},
    {"indicator-count", "the indicator count (leader byte 10) is not 2"},
    {"subfield-code-length", "the subfield code length (leader byte 11) is not 2"},
    {"entry-map", "the entry map (leader bytes 20-23) is not '4500' (or '450 ' in a UNIMARC-shaped record)"},
    {"base-address", "the base address lies outside the record or not right after the directory"},
    {"directory-length", "the directory length is not a multiple of 12"},
    {"directory-end", "the directory does not end with the field terminator"},
    {"entry-digits", "a directory entry has a length or start that is not all digits"},
    {"field-outside", "a field lies outside the record"},
    {"field-overlap", "a field overlaps another"},
    {"field-terminator", "a field does not end with its terminator"},
    {"indicators", "a data field does not have two bytes before its first subfield"},
    {"empty-subfield", "a subfield delimiter with no code"},
    {"junk", "bytes between records that belong to no record"},
    {"invalid-bytes", "bytes invalid in the record's character set"},
    {"bad-utf8", "a record flagged UTF-8 (leader byte 9 'a') is not valid UTF-8"},
};

struct CheckOptions {
    DelimiterMode mode = dmNormal;
    CharsetSetting charset = CharsetSetting::Auto;
    /// Content rules checked after each record's structure; None: structure only.
    RuleSetting rules = RuleSetting::None;
    std::int64_t first = 1;
    std::int64_t last = std::numeric_limits<std::int64_t>::max();
    /// Threads that check records while the calling thread reads the file; 0
    /// takes DefaultCheckWorkers(). 1 checks on the calling thread alone, each
    /// record taken apart as CheckRecord does; workers check well-formed
    /// records where they stand. The problems and their order are the same
    /// for any number.
    int workers = 0;
    /// false: the problems are only counted; they come without their 001
    /// value and description, which are not made.
    bool messages = true;
};

inline constexpr int kMaxCheckWorkers = 2;
/// One worker per core, at most kMaxCheckWorkers.
[[nodiscard]] int DefaultCheckWorkers();

/// The problems of a check counted by code and by the rules the record was
/// checked by, and by severity. A file's problems name their codes with a
/// few texts, each where it lies: a count is found by where its code's text
/// is, and counts are added up by text only when asked for.
class ProblemTally {
public:
    void add(std::string_view code, RuleSet rules, Severity severity)
    {
        ++m_bySeverity[severity == Severity::Error ? 0 : 1];
        for (Entry& e : m_entries) {
            if (e.code.data() == code.data() && e.code.size() == code.size() && e.rules == rules) {
                ++e.count;
                return;
            }
        }
        m_entries.push_back({code, rules, 1});
    }
    void add(const CheckProblem& problem) { add(problem.code, problem.rules, problem.severity); }
    /// Adds another tally's counts to this one's.
    void add(const ProblemTally& other);
    void clear()
    {
        m_entries.clear();
        m_bySeverity[0] = m_bySeverity[1] = 0;
    }

    /// The problems of a code found in records checked by `rules`, or by any
    /// rules when none are given.
    [[nodiscard]] std::uint64_t count(std::string_view code, std::optional<RuleSet> rules = std::nullopt) const;
    [[nodiscard]] std::uint64_t count(Severity severity) const
    {
        return m_bySeverity[severity == Severity::Error ? 0 : 1];
    }
    [[nodiscard]] std::uint64_t total() const { return m_bySeverity[0] + m_bySeverity[1]; }

private:
    struct Entry {
        std::string_view code;
        RuleSet rules;
        std::uint64_t count;
    };
    std::vector<Entry> m_entries;
    std::uint64_t m_bySeverity[2] = {0, 0};
};

struct CheckResult {
    enum class Status { Done, ReadError, Cancelled };
    Status status = Status::Done;
    std::int64_t records = 0;   ///< records seen, up to the range's end
    std::uint64_t problems = 0;
    int error = 0;              ///< errno of a read error
};

}  // namespace veltrane
