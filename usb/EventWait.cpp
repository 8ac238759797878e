#include "usb/EventWait.h"

#include <QEventLoop>
#include <QTimer>

EventWait::Result EventWait::until(const std::function<bool()> &done, int timeoutMs, int pollMs)
{
    if (done())
        return Done;
    if (timeoutMs <= 0)
        return TimedOut;

    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&loop] { loop.exit(TimedOut); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&loop, &done] {
        if (done())
            loop.exit(Done);
    });
    deadline.start(timeoutMs);
    poll.start(pollMs);
    // A quitting application ends every running loop with its own code, and
    // later loops at once with -1: anything but ours means stop.
    const int code = loop.exec();
    if (code == Done || code == TimedOut)
        return Result(code);
    return Interrupted;
}
