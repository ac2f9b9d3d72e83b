// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "files/FileAccess.h"
#include "iso2709/RecordStream.h"
#include "RecordFiles.h"

namespace {

using veltrane::BlockLender;
using veltrane::FramedRecord;
using veltrane::RecordStream;

/// Gives every block out once and keeps them all, so that a record's bytes
/// can be compared after the stream has moved on; fails when the stream
/// leaves any block but the one it read last.
class KeepingLender final : public BlockLender {
public:
    explicit KeepingLender(std::size_t capacity) : m_capacity(capacity) {}

    unsigned char* freshBlock() override
    {
        m_blocks.push_back(std::make_unique_for_overwrite<unsigned char[]>(m_capacity));
        return m_blocks.back().get();
    }
    void leftBlock(unsigned char* block) override
    {
        ++left;
        EXPECT_TRUE(m_blocks.size() >= 2 && block == m_blocks[m_blocks.size() - 2].get());
    }

    int left = 0;

private:
    std::size_t m_capacity;
    std::vector<std::unique_ptr<unsigned char[]>> m_blocks;
};

struct Framed {
    std::int64_t number;
    std::uint64_t offset, separator;
    std::uint32_t length;
    bool lineEnds;
    std::string bytes;

    bool operator==(const Framed&) const = default;
};

TEST(RecordStream, RecordsFramedInLentBlocksStayWholeAfterTheStreamMovesOn)
{
    // Records of many sizes, some longer than a small block, with line ends
    // and junk between them, so records and separators cross block ends.
    std::mt19937 random(2709);
    std::string file;
    for (int n = 0; n < 100; ++n) {
        const std::size_t size = random() % 10 == 0 ? 20'000 + random() % 79'000 : 30 + random() % 3000;
        file += testsupport::MakeRecord({{"001", "id" + std::to_string(n)}, {"245", std::string(size, 'x')}});
        const std::string separators[] = {"", "", "\r\n", "junk", std::string(300, '\0')};
        file += separators[random() % 5];
    }
    testsupport::TempDir dir;
    const std::string path = dir.write("records.mrc", file);
    veltrane::fileaccess::UniqueFd fd(::open(path.c_str(), O_RDONLY));

    auto frame = [&](RecordStream& stream, std::vector<std::span<const unsigned char>>* spans) {
        std::vector<Framed> records;
        FramedRecord r;
        RecordStream::Step step;
        while ((step = stream.next(r)) == RecordStream::Step::Record) {
            records.push_back({r.number, r.offset, r.separatorBefore, r.declaredLength, r.separatorLineEnds,
                               std::string(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size())});
            if (spans != nullptr)
                spans->push_back(r.bytes);
        }
        EXPECT_EQ(step, RecordStream::Step::End);
        return records;
    };
    // The whole file fits one block of the default size: no reading on or
    // moving between blocks there.
    ASSERT_LT(file.size(), RecordStream::kDefaultBlockSize);
    RecordStream whole(fd.get());
    const std::vector<Framed> expected = frame(whole, nullptr);
    ASSERT_EQ(expected.size(), 100u);
    for (std::size_t blockSize : {std::size_t{4096}, std::size_t{65536}}) {
        SCOPED_TRACE(blockSize);
        RecordStream own(fd.get(), blockSize);
        EXPECT_EQ(frame(own, nullptr), expected);

        KeepingLender lender(RecordStream::blockCapacity(blockSize));
        RecordStream lent(fd.get(), blockSize, lender);
        std::vector<std::span<const unsigned char>> spans;
        EXPECT_EQ(frame(lent, &spans), expected);
        EXPECT_GT(lender.left, 0);
        for (std::size_t i = 0; i < spans.size(); ++i)
            ASSERT_EQ(std::string(reinterpret_cast<const char*>(spans[i].data()), spans[i].size()), expected[i].bytes)
                << "record " << i + 1;
    }
}

}  // namespace
