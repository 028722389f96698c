#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

/**
 * The last guarantee of the exit sequence: once armed, the process ends with exit code 0 when the
 * program has not finished by the deadline. The exit sequence has saved everything before arming it,
 * so whatever keeps the program from returning (a nested loop, a driver that does not answer) cannot
 * leave a copy that is running but will never ring again. The waiting thread sleeps on a condition
 * variable, it does not poll.
 */
class ExitDeadline final
{
public:
    ExitDeadline() = default;
    ~ExitDeadline();
    ExitDeadline(const ExitDeadline&) = delete;
    ExitDeadline& operator=(const ExitDeadline&) = delete;

    /** Starts the countdown; a second call does nothing. */
    void Arm(std::chrono::milliseconds deadline);
    bool Armed() const { return m_thread.joinable(); }

private:
    void waitThenEnd(std::chrono::milliseconds deadline);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_finished;
    bool m_done = false;
};
