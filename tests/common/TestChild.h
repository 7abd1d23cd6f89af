#pragma once

#include <functional>
#include <memory>
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
    int wait()
    {
        int status = 0;
        ::waitpid(std::exchange(pid_, 0), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Kills the child; its exit code, or -1 when the kill ended it.
    int kill()
    {
        ::kill(pid_, SIGKILL);
        return wait();
    }

private:
    pid_t pid_;
};

// A child that runs `take` and, once it succeeded, holds on to what it took
// until it is killed; returned when it holds, null when `take` failed.
inline std::unique_ptr<TestChild> holdingChild(const std::function<bool()>& take)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return nullptr;
    auto child = std::make_unique<TestChild>([&] {
        if (!take() || ::write(ready[1], "H", 1) != 1)
            return 1;
        for (;;)
            ::pause();
    });
    ::close(ready[1]);
    char byte = 0;
    const bool held = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    return held ? std::move(child) : nullptr;
}
