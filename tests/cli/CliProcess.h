#pragma once

// Runs the built command-line tool in a sandbox: its own read-only current
// directory and temporary directory, both checked to stay empty, and a fixed
// UTF-8 locale.

#include <sys/types.h>

#include <string>
#include <vector>

#include "RecordFiles.h"

namespace clitest {

struct Finished {
    int exitCode = -1;  ///< -1 when ended by a signal
    int signal = 0;     ///< the signal that ended it, or 0
    std::string out, err;
};

enum class PipeSignal { Default, Ignored };

class Sandbox {
public:
    Sandbox();
    ~Sandbox();

    /// Writes a record file next to (not inside) the watched directories.
    std::string writeFile(const std::string& name, const std::string& bytes) const { return m_files.write(name, bytes); }
    [[nodiscard]] std::string filePath(const std::string& name) const { return m_files.file(name); }
    void setEnvironment(const std::string& name, const std::string& value) { m_environment.push_back(name + "=" + value); }

    Finished run(const std::vector<std::string>& arguments) const;
    /// Starts the tool with its standard output on a pipe read from readFd.
    pid_t start(const std::vector<std::string>& arguments, int& readFd, PipeSignal pipeSignal) const;
    Finished wait(pid_t pid) const;

    /// Whatever is in the child's temporary ("name") or current ("./name") directory.
    [[nodiscard]] std::vector<std::string> leftovers() const;

private:
    pid_t spawn(const std::vector<std::string>& arguments, int stdoutFd, PipeSignal pipeSignal) const;

    std::vector<std::string> m_environment;
    testsupport::TempDir m_files, m_workingDirectory, m_temporaryDirectory, m_capture;
};

}  // namespace clitest
