#pragma once

#include "app/CommandLine.h"
#include "app/UnattendedResult.h"
#include "base/UpdateRecord.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class UnattendedPrompter;
class ZelBootLoader;

// A whole update without an operator, done in the window as an operator
// would: the image is chosen and checked, the device found and selected,
// PROGRAM pressed, and the run's records turned into an exit code and a
// result. Each step waits on the window's and the panel's own signals.
class UnattendedRun : public QObject
{
    Q_OBJECT

public:
    // Longest a device search or a run may take before the run gives up on
    // it; far above every wait of the panels.
    static constexpr int kDefaultStepLimitMs = 15 * 60 * 1000;

    UnattendedRun(ZelBootLoader &window, const StartOptions &options,
                  UnattendedPrompter &prompter, QObject *parent = nullptr);

    void setStepLimit(int milliseconds) { m_stepLimitMs = milliseconds; }

    // Starts from the event loop; finished() follows once.
    void start();
    // Ends a run that is still going (a termination request): what is known
    // so far becomes the result.
    void abandon(const QString &why);

    const UnattendedResult &result() const { return m_result; }
    bool isFinished() const { return m_finished; }

signals:
    void finished(int exitCode);

private:
    void loadImage();
    void findDevice();
    void deviceSearchDone(bool found, const QString &message);
    void program();
    void runEnded();
    void finish(ExitCode code, const QString &message);
    void armStepLimit(const QString &what);
    QString addressText() const;

    QPointer<ZelBootLoader> m_window;
    StartOptions m_options;
    UnattendedPrompter &m_prompter;
    UnattendedResult m_result;
    QList<UpdateRecord> m_records;
    QList<QMetaObject::Connection> m_stepConnections;
    QTimer m_stepLimit;
    int m_stepLimitMs = kDefaultStepLimitMs;
    // Why a device was programmed by its address alone; empty otherwise.
    QString m_searchNote;
    bool m_programming = false;
    bool m_finished = false;
};
