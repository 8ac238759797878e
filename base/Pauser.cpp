#include "base/Pauser.h"

#include <QThread>

namespace {
class BlockingPauser : public Pauser
{
public:
    void pause(int milliseconds) override
    {
        if (milliseconds > 0)
            QThread::msleep(static_cast<unsigned long>(milliseconds));
    }
};
}

Pauser &Pauser::blocking()
{
    static BlockingPauser pauser;
    return pauser;
}
