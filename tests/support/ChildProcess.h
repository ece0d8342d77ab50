// SPDX-License-Identifier: MIT
#pragma once
// A program run as a child process, concurrently with others: started at once with posix_spawn,
// its standard output and error captured in files, and waited for later. Tests that need
// several real processes at the same time (on one store, say) start them all, then wait.

#include <sys/types.h>

#include <string>
#include <vector>

namespace tavro::test {

// How a child ended and what it printed.
struct ProcessOutcome {
    bool exited = false;  // ended by itself, not by a signal
    int status = -1;      // the exit status when it exited
    int signal = 0;       // the signal that ended it otherwise
    bool hung = false;    // killed by wait() because it ran past its bound
    std::string out;
    std::string err;

    bool succeeded() const { return exited && status == 0; }
    // One line for failure messages: how it ended and what it said on standard error.
    std::string summary() const;
};

class ChildProcess {
  public:
    // Starts `program` with `arguments` in the current environment; standard output and error
    // go to `outputPrefix` + ".out" / ".err". Fails the test (and answers a process that is not
    // running) when the program cannot be started.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& outputPrefix);
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // A child never waited for is killed and reaped, so that no test leaves one behind.
    ~ChildProcess();

    // Waits for the child to end. A child still running after `limitSeconds` is killed and
    // reported as hung: a bound against a test that would otherwise never end, not a measure.
    ProcessOutcome wait(int limitSeconds = 60);

  private:
    pid_t pid_ = -1;
    std::string outputPrefix_;
};

}  // namespace tavro::test
