// SPDX-License-Identifier: Apache-2.0
#pragma once

// Helpers shared by the tests: build records from their fields and write them
// into files of a private temporary directory.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

struct Field {
    std::string tag;   ///< three bytes, taken as they are
    std::string body;  ///< indicators, subfields, ... without the terminator
};

/// One ISO 2709 record: leader, directory, fields. Subfield delimiters are given
/// in the bodies as they should stand in the file (normally "\x1f").
inline std::string MakeRecord(const std::vector<Field>& fields, char fieldTerminator = '\x1e',
                              char recordTerminator = '\x1d')
{
    std::string directory, data;
    for (const Field& f : fields) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%04zu%05zu", f.body.size() + 1, data.size());
        directory += f.tag + entry;
        data += f.body + fieldTerminator;
    }
    directory += fieldTerminator;
    char leader[32];
    std::snprintf(leader, sizeof leader, "%05zunam0 22%05zu   4500", 25 + directory.size() + data.size(),
                  24 + directory.size());
    return std::string(leader, 24) + directory + data + recordTerminator;
}

inline std::string Joined(const std::vector<std::string>& parts, const std::string& separator = "")
{
    std::string all;
    for (const std::string& part : parts)
        all += part + separator;
    return all;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

/// A temporary directory removed with everything in it when the object dies.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "veltrane-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        m_path = pattern;
    }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(m_path, ignored); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
    [[nodiscard]] std::string file(const std::string& name) const { return (m_path / name).string(); }
    /// Writes bytes to name in this directory and returns the full path.
    std::string write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(file(name), std::ios::binary) << bytes;
        return file(name);
    }

private:
    std::filesystem::path m_path;
};

}  // namespace testsupport
