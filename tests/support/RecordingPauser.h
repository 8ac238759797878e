#pragma once

#include "base/Pauser.h"

#include <QList>

// Records the pauses asked for and returns at once.
class RecordingPauser : public Pauser
{
public:
    void pause(int milliseconds) override { pauses.append(milliseconds); }
    QList<int> pauses;
};
