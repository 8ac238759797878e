#pragma once

#include "base/UpdateRecord.h"

#include <QObject>

// What the window tells about its runs, for a caller that waits on them (an
// unattended run, a test). Apart from the window so that the window's own
// signals and slots stay as they are.
class RunEvents : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // A device's run ended and was appended to the update record.
    void runRecorded(UpdateRecord record);
    // The record of that run could not be appended to the update record (it
    // comes just before runRecorded).
    void recordNotWritten(UpdateRecord record, QString error);
    // PROGRAM's run is over (queued after the window left Programming).
    void runEnded();
};
