#pragma once

// Runs the built command-line tool as a child process in a sandbox: its own
// current directory (read-only) and temporary directory, both checked to stay
// empty, and a fixed UTF-8 locale.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RecordFiles.h"

namespace clitest {

struct Finished {
    int exitCode = -1;   ///< -1 when ended by a signal
    int signal = 0;      ///< the signal that ended it, or 0
    std::string out;
    std::string err;
};

/// How the child's signals start out.
enum class PipeSignal { Default, Ignored };

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    /// Writes a record file next to (not inside) the watched directories.
    std::string writeFile(const std::string& name, const std::string& bytes) const { return m_files.write(name, bytes); }
    [[nodiscard]] std::string filePath(const std::string& name) const { return m_files.file(name); }

    /// Adds NAME=value to the child's environment (after TMPDIR, LC_ALL, PATH).
    void setEnvironment(const std::string& name, const std::string& value) { m_extraEnvironment.push_back(name + "=" + value); }

    /// Runs veltrane-cli with arguments and waits for it.
    Finished run(const std::vector<std::string>& arguments) const;

    /// Starts veltrane-cli with its standard output on a pipe; returns the pid
    /// and the pipe's read end in readFd.
    pid_t start(const std::vector<std::string>& arguments, int& readFd, PipeSignal pipeSignal) const;
    /// Waits for a started child; out stays empty (it went to the pipe).
    Finished wait(pid_t pid) const;

    /// Names of whatever is in the child's temporary or current directory.
    [[nodiscard]] std::vector<std::string> leftovers() const;
    [[nodiscard]] std::vector<std::string> temporaryFiles() const;

private:
    pid_t spawn(const std::vector<std::string>& arguments, int stdoutFd, PipeSignal pipeSignal) const;

    std::vector<std::string> m_extraEnvironment;
    testsupport::TempDir m_files;
    testsupport::TempDir m_workingDirectory;
    testsupport::TempDir m_temporaryDirectory;
    testsupport::TempDir m_capture;
};

}  // namespace clitest
