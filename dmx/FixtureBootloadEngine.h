#pragma once

#include "base/LogTypes.h"
#include "dmx/FixtureOutcome.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class BootLoadProduct;
class Pauser;
class ProgressHandle;
class Prompter;
class QWidget;

namespace ZelHollis {
class Hollis;
}

// Reprograms one ZELDMX fixture through the power-supply library: advanced
// mode, boot-load mode, erase, the flash pages (and the driver's PSoC
// paragraphs), finalize. Every step's result is checked: the first refused
// step ends that fixture's run, so a fixture is never finalized over a failed
// write, and the outcome says which step failed.
//
// Runs on the GUI thread and processes pending events between steps, so the
// window keeps drawing; only the pause after finalize blocks. stop(), called
// meanwhile (the window closing), ends the run before its next step.
class FixtureBootloadEngine : public QObject
{
    Q_OBJECT

public:
    enum class Layout {
        None,         // no procedure fits the product
        IntelHex,     // one processor, Intel HEX
        IntelHexPSoC, // processor 1 Intel HEX, processor 2 Cypress PSoC
    };

    // Dialogs are parented to dialogParent; log records carry its object name.
    FixtureBootloadEngine(Prompter &prompter, Pauser &pauser, QWidget *dialogParent,
                          QObject *parent = nullptr);
    ~FixtureBootloadEngine() override;

    // Blocking wait after finalize while the fixture restarts.
    void setFinalizePause(int milliseconds) { m_finalizePause = milliseconds; }
    int finalizePause() const { return m_finalizePause; }

    // The procedure for the product, or None with the reason in why: missing
    // processors, other file types, or an image the fixture protocol cannot
    // carry (no whole page, pages or paragraphs beyond 16-bit numbers).
    static Layout layoutOf(const BootLoadProduct &product, QString *why = nullptr);
    // Fixtures of these serial prefixes take the model flag in the Intel HEX procedure.
    static bool modelFlag(quint32 serial);

    FixtureOutcome bootloadIntelHex(const BootLoadProduct &product, quint32 serial, int device,
                                    int port);
    FixtureOutcome bootloadIntelHexPSoC(const BootLoadProduct &product, quint32 serial,
                                        int device, int port);

    // Sends nothing more to the fixture being boot-loaded: the call returns
    // before its next step. Returns the outcome it will return: NotRun when
    // nothing had been addressed to the fixture yet, Updated when every step
    // had been accepted, else Failed with a reason that names the last step
    // accepted. Nothing when no boot-load runs.
    std::optional<FixtureOutcome> stop(const QString &why);

signals:
    void signal_log(LOGPRIORITY logLevel, LOGTYPE logType, QString objectName, QString logMessage);

private:
    struct Session;

    void log(LOGPRIORITY priority, const QString &text);
    FixtureOutcome refuse(FixtureOutcome outcome, const QString &logText, const QString &reason);
    void open(Session &s, int maximum);
    void announce(Session &s, const QString &logText, const QString &label);
    void advance(Session &s, int value);
    // True when the library accepted the step; otherwise records and logs the failure.
    bool accepted(Session &s, bool result, FixtureOutcome::Step step, int block = -1,
                  int blocks = 0);
    // False once the run was stopped: the next step is not sent.
    bool proceed(const Session &s) const;
    static QString stepText(FixtureOutcome::Step step, int block, int blocks);
    FixtureOutcome finish(Session &s);

    Prompter &m_prompter;
    Pauser &m_pauser;
    QWidget *m_dialogParent;
    int m_finalizePause = 3000;
    Session *m_session = nullptr;
};
