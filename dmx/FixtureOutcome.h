#pragma once

#include "base/RevisionCheck.h"

#include <QString>
#include <QtGlobal>

#include <optional>

// What one fixture's boot-load came to. The DMX panel keeps these for its last
// run, in the order the fixtures were programmed, for whatever looks at a run
// afterwards (a check of the version the fixture then reports, a run record).
struct FixtureOutcome {
    enum class Result {
        NotRun,  // refused, or stopped, before anything was sent to the fixture
        Updated, // every step of the product's flow was accepted
        Failed,  // a step was refused, or the run stopped part way; nothing after it was sent
    };
    enum class Step { None, AdvancedMode, BootloadMode, Erase, Page, Paragraph, Finalize };

    quint32 serial = 0;
    int device = -1;
    int port = -1;
    Result result = Result::NotRun;
    Step failedStep = Step::None;
    // Page or paragraph (from 0) whose write was refused; -1 for other steps.
    int block = -1;
    // For the operator: why the fixture was not updated. Empty when it was.
    QString reason;
    // After an update: what the fixture reported when its version was read again.
    std::optional<RevisionCheck> check;

    bool updated() const { return result == Result::Updated; }

    // Nothing was sent to the fixture, for reason.
    static FixtureOutcome notRun(quint32 serial, int device, int port, const QString &reason)
    {
        FixtureOutcome outcome;
        outcome.serial = serial;
        outcome.device = device;
        outcome.port = port;
        outcome.reason = reason;
        return outcome;
    }
};
