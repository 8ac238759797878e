#pragma once

#include "base/GuardingQuestion.h"
#include "base/Prompter.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The dialog seam of a run without an operator. Nobody answers a box: each is
// written to the error output and answered by the rules of the run. A run's
// confirmation goes on; a guarding question is answered "yes" only when -yes=
// allowed it; any other question gets its safe answer (No, Cancel, Abort).
// The image file dialog answers with -firmware= once. Progress dialogs are
// the real ones, so the run can be watched on a display.
class UnattendedPrompter : public Prompter
{
public:
    struct Shown {
        Kind kind = Kind::Information;
        QString title;
        QString text;
    };

    UnattendedPrompter(const QString &firmwarePath, const QList<GuardingQuestion> &allowed,
                       Prompter &progress);

    // Where each box goes besides the list; by default the error output.
    void setEcho(std::function<void(const QString &)> echo) { m_echo = std::move(echo); }

    QMessageBox::StandardButton showMessage(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons) override;
    QMessageBox::StandardButton ask(QWidget *parent, Kind kind, const QString &title,
                                    const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) override;
    QMessageBox::StandardButton confirmRun(QWidget *parent, Kind kind, const QString &title,
                                           const QString &text,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) override;
    QMessageBox::StandardButton askGuarding(GuardingQuestion question, QWidget *parent, Kind kind,
                                            const QString &title, const QString &text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton) override;
    QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override;
    std::unique_ptr<ProgressHandle> openProgress(QWidget *parent, const QString &title,
                                                 const QString &label, const QString &cancelText,
                                                 int minimum, int maximum) override;

    const QList<Shown> &shown() const { return m_shown; }
    // The first guarding question that was answered "no" because -yes= did not allow it.
    std::optional<GuardingQuestion> refusedQuestion() const { return m_refused; }
    // The text of the last question answered "no" (guarding or not).
    QString lastRefusal() const { return m_lastRefusal; }
    // The text of the last warning or error box: the reason a run gave up.
    QString lastProblem() const { return m_lastProblem; }

    static QMessageBox::StandardButton affirmative(QMessageBox::StandardButtons buttons);
    static QMessageBox::StandardButton negative(QMessageBox::StandardButtons buttons);

private:
    void note(Kind kind, const QString &title, const QString &text, const QString &answer);

    QString m_firmwarePath;
    QList<GuardingQuestion> m_allowed;
    Prompter &m_progress;
    std::function<void(const QString &)> m_echo;
    bool m_fileGiven = false;
    QList<Shown> m_shown;
    std::optional<GuardingQuestion> m_refused;
    QString m_lastRefusal;
    QString m_lastProblem;
};
