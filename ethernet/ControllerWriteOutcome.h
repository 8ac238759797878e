#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// How the write of the image to one controller of a "program all" run ended.
// The panel keeps one per controller of its last such run, in list order, for
// whatever looks at the run afterwards (a check of the revision the
// controller then reports, the update record).
struct ControllerWriteOutcome {
    enum class Result {
        Waiting,    // not started yet
        Writing,    // under way
        Updated,    // every byte was acknowledged
        Failed,     // the write ended without the controller taking the image
        NotStarted, // the run was cancelled before this controller's turn
    };

    QString address;        // dotted IPv4
    QString idstring;       // as the controller's discovery reply gave it
    QString revisionBefore; // as the panel's revision route read it; empty when not read
    Result result = Result::Waiting;
    QString reason;           // why it was not updated; empty when it was
    qint64 bytesWritten = -1; // the whole image when updated, -1 otherwise
    qint64 durationMs = 0;    // from the write's start to its end

    bool updated() const { return result == Result::Updated; }
    bool finished() const { return result != Result::Waiting && result != Result::Writing; }
};

Q_DECLARE_METATYPE(ControllerWriteOutcome)
