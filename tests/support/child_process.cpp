#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zelkor::test {

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& arguments,
                      const ChildOptions& options) {
    ChildOutcome outcome;
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool dropped = false;
        for (const std::string& prefix : options.dropEnvironment)
            dropped = dropped || entry.starts_with(prefix);
        for (const std::string& added : options.environment)
            dropped = dropped || entry.starts_with(added.substr(0, added.find('=') + 1));
        if (!dropped) envStrings.push_back(entry);
    }
    envStrings.insert(envStrings.end(), options.environment.begin(), options.environment.end());
    std::vector<char*> envp;
    for (std::string& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return outcome;
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return outcome;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    pid_t pid = 0;
    outcome.started = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (!outcome.started) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return outcome;
    }

    if (options.closedOutput) {
        ::close(outPipe[0]);
        outPipe[0] = -1;
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = options.closedOutput ? 1 : 2;
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (::poll(fds, 2, 100) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? outcome.out : outcome.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
        if (options.whileRunning) options.whileRunning(pid, outcome.out);
    }
    for (pollfd& fd : fds) {
        if (fd.fd < 0) continue;
        ::kill(pid, SIGKILL); // past its time
        ::close(fd.fd);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
    }
    return outcome;
}

} // namespace zelkor::test
