#pragma once

#include "base/Prompter.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Test double of the dialog seam. Every message box and file dialog must have
// been scripted with expect...(); an unscripted one fails the running test and
// is answered with the box's first button (or a cancelled file dialog).
// Progress dialogs need no script: their steps are recorded.
class FakePrompter : public Prompter
{
public:
    struct Shown {
        QString what; // "information", "warning", "critical", "question", "file", "progress"
        QString title;
        QString text; // message text; file dialogs: the start directory
        QMessageBox::StandardButtons buttons;
        QString filter;
        bool hasParent = false;
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton; // ask() only
        // How the box was asked: a run's confirmation, or a guarding question.
        bool confirmation = false;
        std::optional<GuardingQuestion> guarding;
    };

    struct Progress {
        QString title;
        QString label;
        QList<int> values;
        QStringList labels;
        int minimum = 0;
        int maximum = 0;
        bool closed = false;
        int cancelAtValue = -1; // wasCanceled() answers true once this value was set
    };

    ~FakePrompter() override;

    // Scripts the next message box. An empty title or text matches any.
    void expectMessage(Kind kind, const QString &title, const QString &text,
                       QMessageBox::StandardButton answer = QMessageBox::Ok);
    // Scripts the next file dialog; an empty answer is a cancel.
    void expectFileDialog(const QString &answer);
    // The next progress dialog reports a cancel once this value is reached.
    void cancelNextProgressAt(int value);

    const QList<Shown> &shown() const { return m_shown; }
    QStringList shownTexts() const;
    const QList<std::shared_ptr<Progress>> &progresses() const { return m_progresses; }
    int pendingExpectations() const;
    bool unexpectedSeen() const { return m_unexpected; }
    void clear();

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

    static QString kindName(Kind kind);

private:
    struct Expectation {
        bool isFile = false;
        Kind kind = Kind::Information;
        QString title;
        QString text;
        QMessageBox::StandardButton answer = QMessageBox::Ok;
        QString fileAnswer;
    };

    void fail(const QString &why);

    QQueue<Expectation> m_expected;
    QList<Shown> m_shown;
    QList<std::shared_ptr<Progress>> m_progresses;
    int m_nextCancelAt = -1;
    bool m_unexpected = false;
};
