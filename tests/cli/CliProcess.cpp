#include "CliProcess.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace clitest {

Sandbox::Sandbox() { ::chmod(m_workingDirectory.path().c_str(), 0555); }
Sandbox::~Sandbox() { ::chmod(m_workingDirectory.path().c_str(), 0755); }

pid_t Sandbox::spawn(const std::vector<std::string>& arguments, int stdoutFd, PipeSignal pipeSignal) const
{
    std::vector<std::string> environment{"LC_ALL=C.UTF-8", "PATH=/usr/bin:/bin",
                                         "TMPDIR=" + m_temporaryDirectory.path().string()};
    environment.insert(environment.end(), m_environment.begin(), m_environment.end());
    // A sanitizer build of the tool keeps the settings of the test run.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            environment.push_back(std::string(name) + "=" + value);
    std::vector<char*> argv{const_cast<char*>(VELTRANE_CLI_PATH)}, envp;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    for (std::string& e : environment)
        envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    std::string errPath = m_capture.file("stderr");

    pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Child: only async-signal-safe calls from here on.
    int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (errFd < 0 || ::dup2(stdoutFd, STDOUT_FILENO) < 0 || ::dup2(errFd, STDERR_FILENO) < 0 ||
        ::chdir(m_workingDirectory.path().c_str()) != 0)
        ::_exit(127);
    ::signal(SIGPIPE, pipeSignal == PipeSignal::Ignored ? SIG_IGN : SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

Finished Sandbox::wait(pid_t pid) const
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Finished finished;
    if (WIFEXITED(status))
        finished.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        finished.signal = WTERMSIG(status);
    finished.err = testsupport::ReadFile(m_capture.file("stderr"));
    // Standard error is captured here, out of sight of the sanitizer log scan.
    if (finished.err.find("Sanitizer") != std::string::npos || finished.err.find("runtime error:") != std::string::npos)
        ADD_FAILURE() << "sanitizer report from veltrane-cli:\n" << finished.err;
    return finished;
}

Finished Sandbox::run(const std::vector<std::string>& arguments) const
{
    std::string outPath = m_capture.file("stdout");
    int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (outFd < 0)
        std::abort();
    pid_t pid = spawn(arguments, outFd, PipeSignal::Default);
    ::close(outFd);
    Finished finished = wait(pid);
    finished.out = testsupport::ReadFile(outPath);
    return finished;
}

pid_t Sandbox::start(const std::vector<std::string>& arguments, int& readFd, PipeSignal pipeSignal) const
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        std::abort();
    pid_t pid = spawn(arguments, fds[1], pipeSignal);
    ::close(fds[1]);
    readFd = fds[0];
    return pid;
}

std::vector<std::string> Sandbox::leftovers() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_temporaryDirectory.path()))
        names.push_back(entry.path().filename().string());
    for (const auto& entry : std::filesystem::directory_iterator(m_workingDirectory.path()))
        names.push_back("./" + entry.path().filename().string());
    return names;
}

}  // namespace clitest
