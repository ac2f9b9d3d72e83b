// SPDX-License-Identifier: Apache-2.0
#pragma once

// Runs the built command-line tool in a sandbox: its own read-only current
// directory and temporary directory, both checked to stay empty, and a fixed
// UTF-8 locale.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "RecordFiles.h"

namespace clitest {

struct Finished {
    int exitCode = -1;  ///< -1 when ended by a signal
    int signal = 0;     ///< the signal that ended it, or 0
    std::string out, err;
};

class Sandbox {
public:
    Sandbox() { ::chmod(m_workingDirectory.path().c_str(), 0555); }
    ~Sandbox() { ::chmod(m_workingDirectory.path().c_str(), 0755); }

    /// Writes a record file next to (not inside) the watched directories.
    std::string writeFile(const std::string& name, const std::string& bytes) const { return m_files.write(name, bytes); }
    [[nodiscard]] std::string filePath(const std::string& name) const { return m_files.file(name); }

    /// Starts the tool with its standard output on a pipe read from readFd.
    pid_t start(const std::vector<std::string>& arguments, int& readFd, bool ignorePipeSignal = false) const
    {
        std::vector<std::string> environment = environmentFor("C.UTF-8");
        std::vector<char*> argv = argumentsFor(arguments), envp = pointersTo(environment);
        const std::string errPath = m_capture.file("stderr");
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            std::abort();
        const pid_t pid = ::fork();
        if (pid == 0) {  // only async-signal-safe calls from here on
            const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (errFd < 0 || ::dup2(fds[1], STDOUT_FILENO) < 0 || ::dup2(errFd, STDERR_FILENO) < 0 ||
                ::chdir(m_workingDirectory.path().c_str()) != 0)
                ::_exit(127);
            ::signal(SIGPIPE, ignorePipeSignal ? SIG_IGN : SIG_DFL);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        readFd = fds[0];
        return pid;
    }

    /// Runs the tool with its standard output on a terminal (a pseudo-terminal
    /// read here) in the given locale; out is what the terminal got.
    Finished runOnTerminal(const std::vector<std::string>& arguments, const std::string& locale) const
    {
        std::vector<std::string> environment = environmentFor(locale);
        std::vector<char*> argv = argumentsFor(arguments), envp = pointersTo(environment);
        const std::string errPath = m_capture.file("stderr");
        int terminal = -1;
        const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid < 0)
            std::abort();
        if (pid == 0) {
            const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (errFd < 0 || ::dup2(errFd, STDERR_FILENO) < 0 || ::chdir(m_workingDirectory.path().c_str()) != 0)
                ::_exit(127);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        std::string out;
        char buffer[4096];
        // The terminal reports an error (EIO) once the tool has closed it.
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
            out.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        ::close(terminal);
        Finished finished = wait(pid);
        finished.out = std::move(out);
        return finished;
    }

    Finished wait(pid_t pid) const
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        Finished finished;
        finished.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        finished.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        finished.err = testsupport::ReadFile(m_capture.file("stderr"));
        // Standard error is captured here, out of sight of the sanitizer log scan.
        if (finished.err.find("Sanitizer") != std::string::npos || finished.err.find("runtime error:") != std::string::npos)
            ADD_FAILURE() << "sanitizer report from veltrane-cli:\n" << finished.err;
        return finished;
    }

    Finished run(const std::vector<std::string>& arguments) const
    {
        int readFd = -1;
        const pid_t pid = start(arguments, readFd);
        std::string out;
        char buffer[4096];
        for (ssize_t n; (n = ::read(readFd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
            out.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        ::close(readFd);
        Finished finished = wait(pid);
        finished.out = std::move(out);
        return finished;
    }

    /// Whatever is in the child's temporary ("name") or current ("./name") directory.
    [[nodiscard]] std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_temporaryDirectory.path()))
            names.push_back(entry.path().filename().string());
        for (const auto& entry : std::filesystem::directory_iterator(m_workingDirectory.path()))
            names.push_back("./" + entry.path().filename().string());
        return names;
    }

private:
    std::vector<std::string> environmentFor(const std::string& locale) const
    {
        std::vector<std::string> environment{"LC_ALL=" + locale, "PATH=/usr/bin:/bin",
                                             "TMPDIR=" + m_temporaryDirectory.path().string()};
        // A sanitizer build of the tool keeps the settings of the test run.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
            if (const char* value = std::getenv(name))
                environment.push_back(std::string(name) + "=" + value);
        return environment;
    }
    static std::vector<char*> argumentsFor(const std::vector<std::string>& arguments)
    {
        std::vector<char*> argv{const_cast<char*>(VELTRANE_CLI_PATH)};
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        return argv;
    }
    static std::vector<char*> pointersTo(std::vector<std::string>& strings)
    {
        std::vector<char*> pointers;
        for (std::string& s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    testsupport::TempDir m_files, m_workingDirectory, m_temporaryDirectory, m_capture;
};

}  // namespace clitest
