// SPDX-License-Identifier: Apache-2.0
#include "iso2709/RecordFields.h"

#include <algorithm>
#include <cstring>

namespace veltrane {

RecordFields::RecordFields() : m_bytes(new unsigned char[kFieldBufferSize])
{
    m_fields.reserve(64);
}

void RecordFields::assemble(const unsigned char* record, std::size_t length)
{
    m_reader.read({record, length});
    assemble(m_reader);
}

void RecordFields::assemble(const Iso2709Reader& reader)
{
    m_used = 0;
    m_fields.clear();
    std::memcpy(m_leader, reader.leader().data(), kLeaderLength);
    m_listed = reader.listedEntries();
    auto append = [this](const unsigned char* bytes, std::size_t n) {
        n = std::min(n, kFieldBufferSize - m_used);
        if (n == 0)
            return;  // an empty field's bytes may be a null pointer, which memcpy may not take
        std::memcpy(m_bytes.get() + m_used, bytes, n);
        m_used += n;
    };
    for (const IsoField& field : reader.fields()) {
        const std::size_t fieldStart = m_used;
        append(reinterpret_cast<const unsigned char*>(field.tag.data()), field.tag.size());
        append(field.data.data(), field.data.size());
        m_fields.push_back({fieldStart, m_used - fieldStart, field.declaredLength});
    }
}

std::string_view RecordFields::tag(std::size_t i) const
{
    const FieldSpan& f = m_fields[i];
    return {reinterpret_cast<const char*>(m_bytes.get() + f.offset), std::min(f.length, kTagLength)};
}

std::span<const unsigned char> RecordFields::data(std::size_t i) const
{
    const FieldSpan& f = m_fields[i];
    if (f.length <= kTagLength)
        return {};
    return {m_bytes.get() + f.offset + kTagLength, f.length - kTagLength};
}

}  // namespace veltrane
