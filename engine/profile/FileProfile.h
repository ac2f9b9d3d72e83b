// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "charset/Charset.h"
#include "common/Outcome.h"
#include "common/WorkMonitor.h"
#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordFields.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

/// How many records hold something, and how often it occurs in them.
struct Occurrences {
    std::int64_t records = 0;
    std::int64_t occurrences = 0;
    bool operator==(const Occurrences&) const = default;
};

/// Counts of each byte value at each position of a fixed-length piece of data
/// (the leader, 008, UNIMARC's 100 $a): positions x 256 values.
struct PositionCounts {
    std::vector<std::array<std::int64_t, 256>> values;  ///< [position][byte]
    bool operator==(const PositionCounts&) const = default;
};

/// What a file holds, as a profile reports it.
struct FileProfile {
    std::int64_t records = 0;
    std::uint32_t smallest = 0, median = 0, largest = 0;  ///< record sizes in bytes
    /// Records per (told set name, rule number), e.g. ("gbk", 7).
    std::map<std::pair<std::string, int>, std::int64_t> charsets;
    std::map<std::string, std::int64_t> problems;  ///< structural problem counts per code
    struct Tag {
        Occurrences count;
        std::size_t shortest = 0, longest = 0;  ///< field bytes after the tag, terminator included
        bool operator==(const Tag&) const = default;
    };
    std::map<std::string, Tag> tags;
    std::map<std::pair<std::string, char>, Occurrences> subfields;  ///< (tag, code)
    /// (tag, indicator 1 or 2) -> value -> fields.
    std::map<std::pair<std::string, int>, std::map<char, std::int64_t>> indicators;
    PositionCounts leader;
    /// MARC 21 008 per material type (leader/06-07), UNIMARC 100 $a.
    std::map<std::string, PositionCounts> marc21FixedData;
    PositionCounts unimarcGeneralData;
    std::map<int, std::int64_t> years;  ///< publication year -> records
    bool operator==(const FileProfile&) const = default;
};

/// The year of publication a record gives, by the rules the record list and
/// the profile share: UNIMARC-shaped, 210 $d, else 100 $a/9-12; MARC 21, 008/07-10
/// where 008/06 gives a date there, else 264 (second indicator 1) $c, else
/// 260 $c. From a subfield, its first run of four digits. Nothing when none.
[[nodiscard]] std::optional<int> PublicationYear(const RecordFields& record, unsigned char subfieldDelimiter);

/// A byte as a profile shows it: itself when it is printable ASCII, else
/// \xHH (a blank is \x20); a backslash is \\.
[[nodiscard]] std::string ProfileByteText(unsigned char b);
/// A tag as a profile shows it: each byte as ProfileByteText shows it.
[[nodiscard]] std::string ProfileTagText(std::string_view tag);

/// Builds a profile a record at a time, memory bounded whatever the count.
class ProfileBuilder {
public:
    ProfileBuilder(DelimiterMode mode, CharsetSetting setting);
    ~ProfileBuilder();
    ProfileBuilder(const ProfileBuilder&) = delete;
    ProfileBuilder& operator=(const ProfileBuilder&) = delete;

    /// One record: its bytes as the file holds them (declaredLength of them,
    /// fewer when the file ends inside it).
    void add(std::span<const unsigned char> bytes, std::uint32_t declaredLength);
    /// Takes in what another builder (of the same mode and setting) counted
    /// over other records, and leaves it empty.
    void absorb(ProfileBuilder& other);
    [[nodiscard]] FileProfile finish();

private:
    struct Tallies;
    std::unique_ptr<Tallies> m_tallies;
};

/// How profiling a file ended: Done, Cancelled, FileError (the file could not
/// be read); the profile of the records read either way.
struct ProfileResult {
    Outcome outcome = Outcome::Done;
    FileProfile profile;
    std::int64_t framed = 0;  ///< records framed, those before `from` included
};

/// Profiles records `from` to `to` (1-based, inclusive) of the record file fd
/// (not owned) in one pass, framing records as the index does. Reports the
/// bytes framed against the file's size; a stop asked for at any time, even
/// after the last record, ends it Cancelled. The calling thread reads;
/// `workers` threads count (0: one a core, at most two; 1: the calling thread
/// counts too).
[[nodiscard]] ProfileResult ProfileRecords(int fd, std::int64_t from, std::int64_t to, DelimiterMode mode,
                                           CharsetSetting setting, const WorkMonitor& monitor = NoMonitor(),
                                           int workers = 0);

}  // namespace veltrane
