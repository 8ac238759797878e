#pragma once

#include <functional>

// Waits on the GUI thread without freezing it: the event loop runs (the
// window draws, serial data arrives, timers fire) until the condition holds,
// the time is up, or the application is quitting.
class EventWait
{
public:
    enum Result { Done, TimedOut, Interrupted };

    // done is looked at before the wait and every pollMs while it lasts.
    static Result until(const std::function<bool()> &done, int timeoutMs, int pollMs = 2);
};
