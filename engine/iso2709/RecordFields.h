// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "iso2709/Iso2709Reader.h"
#include "iso2709/RecordLayout.h"

namespace veltrane {

/// One directory entry as the lenient reader took it: where its tag starts in
/// the record's field bytes and how many bytes (tag plus field bytes) it has.
struct FieldSpan {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t declaredLength = 0;  ///< field length as the directory gives it
};

/// The tag-plus-field bytes of one record, entries back to back in directory
/// order, as the display and the search read them; at most kFieldBufferSize
/// bytes. Each object owns its buffer.
///
/// The entries are those Iso2709Reader takes from the record, copied: once
/// the buffer is full nothing more is appended.
class RecordFields {
public:
    RecordFields();

    /// Takes the record of `length` bytes (its leader's length, all of them
    /// readable) apart.
    void assemble(const unsigned char* record, std::size_t length);
    /// Copies the fields a reader has just read.
    void assemble(const Iso2709Reader& reader);

    /// Every entry's tag and field bytes, back to back.
    [[nodiscard]] std::span<const unsigned char> bytes() const { return {m_bytes.get(), m_used}; }
    [[nodiscard]] std::span<const FieldSpan> fields() const { return m_fields; }
    /// The record's leader (24 bytes).
    [[nodiscard]] std::span<const unsigned char, kLeaderLength> leader() const
    {
        return std::span<const unsigned char, kLeaderLength>(m_leader, kLeaderLength);
    }

    /// Entries the base address implies, read or not.
    [[nodiscard]] std::size_t listedEntries() const { return m_listed; }

    /// The three tag bytes of field i (fewer when the buffer filled up inside it).
    [[nodiscard]] std::string_view tag(std::size_t i) const;
    /// The field bytes of field i after its tag, terminator included when stored.
    [[nodiscard]] std::span<const unsigned char> data(std::size_t i) const;

private:
    Iso2709Reader m_reader;
    std::unique_ptr<unsigned char[]> m_bytes;
    std::size_t m_used = 0;
    std::vector<FieldSpan> m_fields;
    unsigned char m_leader[kLeaderLength] = {};
    std::size_t m_listed = 0;
};

}  // namespace veltrane
