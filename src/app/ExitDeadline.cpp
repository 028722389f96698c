#include "app/ExitDeadline.h"

#include <cstdio>
#include <cstdlib>

ExitDeadline::~ExitDeadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_finished.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void ExitDeadline::Arm(std::chrono::milliseconds deadline)
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this, deadline] { waitThenEnd(deadline); });
}

void ExitDeadline::waitThenEnd(std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_mutex);
    if (m_finished.wait_for(lock, deadline, [this] { return m_done; }))
        return;
    // Not through the debug log: its writer belongs to the main thread, which is the one stuck.
    std::fprintf(stderr, "larkbell: exit did not finish in %lld ms; ending the process\n",
                 static_cast<long long>(deadline.count()));
    // Destructors of the main thread's objects may be what hangs: end without running them.
    std::quick_exit(0);
}
