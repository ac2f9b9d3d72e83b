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
    m_used = 0;
    m_fields.clear();
    std::memset(m_leader, ' ', sizeof m_leader);
    std::memcpy(m_leader, record, std::min(length, kLeaderLength));
    auto append = [this](const unsigned char* bytes, std::size_t n) {
        n = std::min(n, kFieldBufferSize - m_used);
        std::memcpy(m_bytes.get() + m_used, bytes, n);
        m_used += n;
    };
    const std::uint32_t base = length >= kLeaderLength ? ParseDigits(record + kBaseAddressOffset, 5) : 0;
    const std::size_t entries = DirectoryEntryCount(base);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::size_t position = kLeaderLength + i * kDirectoryEntryLength;
        if (position + kDirectoryEntryLength > length)
            break;
        const unsigned char* entry = record + position;
        const std::size_t fieldStart = m_used;
        append(entry, kTagLength);
        const std::size_t fieldLength = ParseDigits(entry + kFieldLengthOffsetInEntry, 4);
        const std::size_t begin = std::size_t{base} + ParseDigits(entry + kFieldStartOffsetInEntry, 5);
        if (begin < length)
            append(record + begin, std::min(fieldLength, length - begin));
        m_fields.push_back({fieldStart, m_used - fieldStart, fieldLength});
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
