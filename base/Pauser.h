#pragma once

// Fixed pauses that block the calling thread. Device code takes a Pauser so
// tests can record the pauses instead of sleeping through them.
class Pauser
{
public:
    virtual ~Pauser() = default;
    virtual void pause(int milliseconds) = 0;

    // The real one: blocks with QThread::msleep.
    static Pauser &blocking();
};
