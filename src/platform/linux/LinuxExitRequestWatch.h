#pragma once

#include "platform/ExitRequestWatch.h"

#include <functional>
#include <memory>

class QSocketNotifier;

/**
 * SIGTERM, SIGINT and SIGHUP, turned into a call on the main thread through a self-pipe: the handler
 * only writes a byte, which is all a signal handler may safely do. One watch per process.
 */
class LinuxExitRequestWatch final : public ExitRequestWatch
{
public:
    /** nullptr when the pipe cannot be made or another watch is alive. */
    static std::unique_ptr<LinuxExitRequestWatch> Create(std::function<void()> onRequest);
    ~LinuxExitRequestWatch() override;

private:
    explicit LinuxExitRequestWatch(std::function<void()> onRequest);
    void onReadable();

    std::function<void()> m_onRequest;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
