#include "platform/linux/LinuxExitRequestWatch.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_watchAlive{false};

void onSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action {
    };
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

std::unique_ptr<LinuxExitRequestWatch> LinuxExitRequestWatch::Create(std::function<void()> onRequest)
{
    if (g_watchAlive.exchange(true))
        return nullptr;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_pipe) != 0) {
        g_watchAlive = false;
        return nullptr;
    }
    return std::unique_ptr<LinuxExitRequestWatch>(new LinuxExitRequestWatch(std::move(onRequest)));
}

LinuxExitRequestWatch::LinuxExitRequestWatch(std::function<void()> onRequest)
    : m_onRequest(std::move(onRequest))
    , m_notifier(std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read))
{
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });
    setHandler(onSignal);
}

LinuxExitRequestWatch::~LinuxExitRequestWatch()
{
    // Back to the default action: a signal after this ends the process at once, which is what a program
    // that has already saved and is on its way out wants.
    setHandler(SIG_DFL);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_watchAlive = false;
}

void LinuxExitRequestWatch::onReadable()
{
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (m_onRequest)
        m_onRequest();
}
