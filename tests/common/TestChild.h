#pragma once

#include <functional>
#include <utility>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

// A child process running `body` (forked, so it shares nothing with the test
// but the files), whose return value is its exit code; killed at the end if a
// failed check left it running.
class TestChild
{
public:
    explicit TestChild(const std::function<int()>& body)
        : pid_(::fork())
    {
        if (pid_ == 0)
            ::_exit(body());
    }
    ~TestChild()
    {
        if (pid_ > 0)
            kill();
    }
    TestChild(const TestChild&) = delete;
    TestChild& operator=(const TestChild&) = delete;

    // Waits for the child; its exit code, or -1 when a signal ended it.
    int wait() { return collect(); }
    // Kills the child; its exit code, or -1 when the kill ended it.
    int kill()
    {
        ::kill(pid_, SIGKILL);
        return collect();
    }

private:
    int collect()
    {
        int status = 0;
        ::waitpid(std::exchange(pid_, 0), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    pid_t pid_;
};
