#pragma once
// Runs a program of ours as a child process and collects what it wrote, for tests that check a
// whole program from the outside.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace zelkor::test {

struct ChildOptions {
    // Entries of the inherited environment that start with one of these ("ZELKOR_" or
    // "ZELKOR_HOME=") are left out; then `environment` ("NAME=value") is added, in place of any
    // inherited entry of the same name.
    std::vector<std::string> dropEnvironment;
    std::vector<std::string> environment;
    // The child is killed once this has passed without it closing its output.
    std::chrono::seconds timeout{60};
    // Called while the child runs, whenever it wrote something and at least every 100 ms, with
    // the output so far; it may signal the child.
    std::function<void(pid_t, const std::string& out)> whileRunning;
    // The child's standard output is a pipe whose reading end is closed at once: a reader gone.
    bool closedOutput = false;
};

struct ChildOutcome {
    bool started = false;
    int exitCode = -1; // -1 when it did not exit by itself
    int signal = 0;    // the signal that ended it, else 0
    std::string out;
    std::string err;
    // As a shell reports it: the exit code, or 128 + the signal.
    int status() const { return signal ? 128 + signal : exitCode; }
};

ChildOutcome runChild(const std::string& program, const std::vector<std::string>& arguments,
                      const ChildOptions& options = {});

} // namespace zelkor::test
