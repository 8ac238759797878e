#include "app/TerminationWatcher.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};
const int kWatched[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe work here: hand the number to the event loop.
void onSignal(int signalNumber)
{
    const unsigned char n = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &n, 1);
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject *parent)
    : QObject(parent)
{
    if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return; // one watcher per process; without it the process simply ends
    ::fcntl(g_signalPipe[1], F_SETFL, ::fcntl(g_signalPipe[1], F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kWatched) {
        // A signal ignored when the program started stays ignored: nohup
        // ignores SIGHUP, a shell's background job SIGINT, and both mean it.
        struct sigaction previous = {};
        if (::sigaction(s, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(s, &action, nullptr);
        m_handled.append(s);
    }
}

TerminationWatcher::~TerminationWatcher()
{
    if (!m_notifier)
        return;
    for (int s : std::as_const(m_handled))
        std::signal(s, SIG_DFL);
    delete m_notifier;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void TerminationWatcher::readSignal()
{
    unsigned char n = 0;
    if (::read(g_signalPipe[0], &n, 1) == 1) {
        m_requested = true;
        emit terminationRequested(n);
    }
}

#else

TerminationWatcher::TerminationWatcher(QObject *parent) : QObject(parent) {}
TerminationWatcher::~TerminationWatcher() = default;
void TerminationWatcher::readSignal() {}

#endif
