// SPDX-License-Identifier: Apache-2.0
// list_dump FILE: the record list's rows of FILE as tests/suites/34-list-oracle.sh
// compares them: one line a record, its number, title, author and year
// separated by tabs (the cells never hold a tab: controls are left out).

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "list/ListFill.h"

int main(int argc, char** argv)
{
    using namespace veltrane;
    if (argc != 2) {
        std::fprintf(stderr, "usage: list_dump FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
        return 2;
    }
    const ListRead read = ReadRecordList(fd, dmNormal, CharsetSetting::Auto);
    ::close(fd);
    if (read.fill.outcome != Outcome::Done)
        return 1;
    std::string out;
    for (std::size_t row = 0; row < read.list.rows(); ++row) {
        out += RecordList::numberText(row);
        for (ListColumn column : {ListColumn::Title, ListColumn::Author, ListColumn::Year}) {
            out += '\t';
            out += read.list.cell(row, column);
        }
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
