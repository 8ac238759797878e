#pragma once

#include "base/GuardingQuestion.h"
#include "base/ProgressHandle.h"

#include <QMessageBox>
#include <QString>

#include <memory>

class QWidget;

// The one way device and window code talks to the operator through dialogs.
// The real implementation shows Qt dialogs; tests pass a double that records
// and answers them.
class Prompter
{
public:
    enum class Kind { Information, Warning, Critical, Question };

    virtual ~Prompter() = default;

    virtual QMessageBox::StandardButton showMessage(QWidget *parent, Kind kind, const QString &title,
                                                    const QString &text,
                                                    QMessageBox::StandardButtons buttons) = 0;
    // As showMessage, with the button that Enter answers: confirmations whose
    // safe answer is Cancel name it here. By default the choice is Qt's.
    virtual QMessageBox::StandardButton ask(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton);

    // The confirmation of a run the operator started ("You are about to
    // update ..."). A run without an operator answers it with the button that
    // goes on; by default it is asked as ask() would.
    virtual QMessageBox::StandardButton confirmRun(QWidget *parent, Kind kind, const QString &title,
                                                   const QString &text,
                                                   QMessageBox::StandardButtons buttons,
                                                   QMessageBox::StandardButton defaultButton);
    // A question that guards against an unwanted result (a downgrade, an
    // overwrite, a manual address, every fixture at once). A run without an
    // operator answers it "yes" only when it was allowed to; by default it is
    // asked as ask() would.
    virtual QMessageBox::StandardButton askGuarding(GuardingQuestion question, QWidget *parent,
                                                    Kind kind, const QString &title,
                                                    const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton defaultButton);

    // Empty string when the operator cancels.
    virtual QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter) = 0;

    virtual std::unique_ptr<ProgressHandle> openProgress(QWidget *parent, const QString &title,
                                                         const QString &label,
                                                         const QString &cancelText, int minimum,
                                                         int maximum) = 0;

    // A question answered with defaultButton when the operator just presses Enter.
    QMessageBox::StandardButton askQuestion(QWidget *parent, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton);

    // Shorthands for the single-button boxes that make up most messages.
    void information(QWidget *parent, const QString &title, const QString &text);
    void warning(QWidget *parent, const QString &title, const QString &text);
    void critical(QWidget *parent, const QString &title, const QString &text);
};
