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
    // What the options say of the device and the image, before any run.
    static UpdateRecord knownFromOptions(const StartOptions &options);
    // Longest a device search or a run may take before the run gives up on
    // it; far above every wait of the panels.
    static constexpr int kDefaultStepLimitMs = 15 * 60 * 1000;

    UnattendedRun(ZelBootLoader &window, const StartOptions &options,
                  UnattendedPrompter &prompter, QObject *parent = nullptr);

    // Also for the step under way, counted from now.
    void setStepLimit(int milliseconds);

    // Starts from the event loop; finished() follows once. When the update
    // ran past its step limit, finished() asks the caller to leave the event
    // loop and call abandon(), which stops the device work and completes the
    // result (isFinished() stays false until then).
    void start();
    // Ends a run that is still going (a termination request): the window's
    // device work is stopped, and what the run recorded up to then, what
    // the stopping recorded included, becomes the result.
    void abandon(const QString &why);

    // The record that decides a run of several devices: the worst outcome,
    // a device that was not written counting above one that was written but
    // not confirmed. -1 for no records.
    static int decisiveRecord(const QList<UpdateRecord> &records);

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
    // The result from the records taken so far; prefix goes before their summary.
    void finishFromRecords(const QString &prefix);
    void stopRun(const QString &why);
    void finish(ExitCode code, const QString &message);
    void armStepLimit(const QString &what);
    QString addressText() const;
    // What the run knows of its device and image without a record.
    UpdateRecord knownSoFar() const;

    QPointer<ZelBootLoader> m_window;
    StartOptions m_options;
    UnattendedPrompter &m_prompter;
    UnattendedResult m_result;
    QList<UpdateRecord> m_records;
    QStringList m_recordErrors;
    QList<QMetaObject::Connection> m_stepConnections;
    QTimer m_stepLimit;
    int m_stepLimitMs = kDefaultStepLimitMs;
    // Why a device was programmed by its address alone; empty otherwise.
    QString m_searchNote;
    bool m_programming = false;
    bool m_finished = false;
    bool m_stopping = false;
    QString m_stopReason; // the step limit the update ran past
};
