// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "iso2709/RecordLayout.h"
#include "iso2709/SubfieldWalk.h"

namespace veltrane {

/// One directory entry as the lenient reader took it, by reference into the
/// record's bytes.
struct IsoField {
    std::string_view tag;                 ///< the entry's three tag bytes
    std::span<const unsigned char> data;  ///< the field bytes within the record, terminator included when there
    std::size_t declaredLength = 0;       ///< the field length the entry gives
};

/// One structural problem of a record: the byte of the record it concerns
/// (0-based, from the record's first byte), its code as `check` prints it and
/// what exactly is wrong. The codes are among those RecordCheck.h lists.
struct RecordProblem {
    std::size_t at = 0;
    std::string_view code;
    std::string description;
};

/// Bytes as a problem's description quotes them: controls and bytes past
/// ASCII as '?'.
[[nodiscard]] std::string PrintableBytes(std::span<const unsigned char> bytes);

/// A data field taken apart at its subfield delimiters.
struct IsoDataField {
    std::span<const unsigned char> indicators;  ///< the bytes before the first subfield delimiter
    std::span<const IsoSubfield> subfields;
};

/// Takes the bytes of a data field (after its tag, before its terminator)
/// apart at the subfield delimiters of a variant: in variants 1 and 2 a '$' is
/// one only before an ASCII letter or digit, as the display reads it. Fills
/// `out` with the subfields and returns the bytes before the first delimiter.
std::span<const unsigned char> SplitSubfields(std::span<const unsigned char> body, DelimiterMode mode,
                                              std::vector<IsoSubfield>& out);

/// How much Iso2709Reader::read finds out.
struct IsoReadOptions {
    DelimiterMode mode = dmNormal;  ///< the field terminator and subfield delimiter
    bool problems = false;  ///< find the structural problems too
    /// With `problems`: first try the quick scan that takes a well-formed
    /// record where it stands; the fields and problems are the same either way.
    bool quickScan = false;
};

/// The one lenient ISO 2709 reader. A record's bytes are taken apart into its
/// leader and its directory entries; nothing is copied and nothing outside
/// the bytes given is ever read:
/// - the base address (its leading digits) says how many entries there are;
///   an entry that does not lie wholly within the bytes is left out with all
///   entries after it;
/// - a field keeps only its bytes that lie within the record (none when it
///   starts beyond the end).
/// Asked for, it also lists the record's structural problems, in the order
/// `check` tells them. Each object keeps its buffers from record to record:
/// use one per thread.
class Iso2709Reader {
public:
    /// Reads one record: `bytes` as the file holds it (declaredLength bytes,
    /// fewer when the file ends inside it). The results stay valid while
    /// those bytes do, until the next read.
    void read(std::span<const unsigned char> bytes, std::uint32_t declaredLength, const IsoReadOptions& options);
    /// Reads bytes all of which are the record (its declared length ignored);
    /// fields only.
    void read(std::span<const unsigned char> bytes) { read(bytes, static_cast<std::uint32_t>(bytes.size()), {}); }

    /// The leader, blanks where the bytes ended inside it.
    [[nodiscard]] std::span<const unsigned char, kLeaderLength> leader() const
    {
        return std::span<const unsigned char, kLeaderLength>(m_leader, kLeaderLength);
    }
    /// Whether the bytes hold a whole leader.
    [[nodiscard]] bool leaderWhole() const { return m_bytes.size() >= kLeaderLength; }
    /// The entries read, in directory order.
    [[nodiscard]] std::span<const IsoField> fields() const { return m_fields; }
    /// Entries the base address implies, read or not.
    [[nodiscard]] std::size_t listedEntries() const { return m_listed; }
    /// The structural problems, when asked for.
    [[nodiscard]] std::span<const RecordProblem> problems() const { return m_problems; }
    /// Whether the quick scan took the record: no structural problem, its
    /// fields back to back in directory order, tags of ASCII letters and
    /// digits, and no more tag and field bytes than kFieldBufferSize.
    [[nodiscard]] bool readByQuickScan() const { return m_quick; }
    /// Whether a field 100 among the entries read starts its $a the UNIMARC
    /// way (IsUnimarcGeneralData): worked out at most once a record, since
    /// the leader check may ask it first.
    [[nodiscard]] bool unimarcShaped() const;

    /// The bytes of field i up to its first field terminator.
    [[nodiscard]] std::span<const unsigned char> body(std::size_t i) const;
    /// Field i taken apart as a data field, at the subfield delimiters of the
    /// variant read with; valid until the next call or read.
    [[nodiscard]] IsoDataField dataField(std::size_t i);
    /// dataField(i) that also tells, from the same pass over the field's
    /// bytes, whether they hold a control character (below 0x20) other than
    /// the subfield delimiter.
    [[nodiscard]] IsoDataField dataField(std::size_t i, bool& controls);
    /// Field i taken apart as dataField does it, told to `sink` as it goes
    /// (see WalkStandardSubfields): its indicators, then each subfield.
    /// Returns whether its bytes hold a control character other than the
    /// subfield delimiter. The views stay valid until the next read.
    template <typename Sink>
    bool walkDataField(std::size_t i, Sink& sink)
    {
        if (m_mode == dmNormal) {
            // The field's bytes, terminator and all, in one pass; its record
            // may be read past it.
            const std::span<const unsigned char> data = m_fields[i].data;
            const auto readable = static_cast<std::size_t>(m_bytes.data() + m_bytes.size() - data.data());
            std::size_t end = 0;
            return WalkStandardSubfields<true>(data, data.empty() ? 0 : readable, sink, end);
        }
        const std::span<const unsigned char> fieldBody = body(i);
        sink.indicators(SplitSubfields(fieldBody, m_mode, m_walked));
        for (const IsoSubfield& s : m_walked)
            sink.subfield(s);
        return holdsControlsPrintably(fieldBody);
    }

private:
    [[nodiscard]] bool readWellFormed(std::uint32_t declaredLength);
    [[nodiscard]] bool leaderWellFormed() const;
    void readEntries();
    void findProblems(std::uint32_t declaredLength);
    void findLeaderProblems();
    void findDataFieldProblems();
    void findEntryProblems(std::uint32_t base, std::size_t available, std::size_t dataEnd, std::uint32_t length);
    void add(std::size_t at, std::string_view code, std::string description);
    /// Whether a field's bytes under a printable delimiter hold a control character.
    [[nodiscard]] static bool holdsControlsPrintably(std::span<const unsigned char> body);

    /// Where one field lies in the record, for the overlap test.
    struct FieldRange {
        std::size_t begin, end, entry;
    };

    std::span<const unsigned char> m_bytes;
    DelimiterMode m_mode = dmNormal;
    unsigned char m_terminator = kStandardFieldTerminator;
    std::vector<IsoSubfield> m_subfields;
    std::vector<IsoSubfield> m_walked;  ///< a field walkDataField took apart the long way
    unsigned char m_leader[kLeaderLength] = {};
    std::vector<IsoField> m_fields;
    std::size_t m_listed = 0;
    std::vector<RecordProblem> m_problems;
    std::vector<FieldRange> m_ranges;
    std::vector<bool> m_unsound;  ///< entries told at fault
    bool m_quick = false;
    /// unimarcShaped() of the entries in m_fields: -1 while not yet worked out.
    mutable signed char m_unimarcShaped = -1;
};

}  // namespace veltrane
