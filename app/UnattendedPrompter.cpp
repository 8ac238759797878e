#include "app/UnattendedPrompter.h"

#include <QFileInfo>

#include <cstdio>

namespace {

const char *kindName(Prompter::Kind kind)
{
    switch (kind) {
    case Prompter::Kind::Information: return "information";
    case Prompter::Kind::Warning: return "warning";
    case Prompter::Kind::Critical: return "error";
    case Prompter::Kind::Question: return "question";
    }
    return "message";
}

bool isQuestion(QMessageBox::StandardButtons buttons)
{
    return buttons & (QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel | QMessageBox::Abort);
}

} // namespace

UnattendedPrompter::UnattendedPrompter(const QString &firmwarePath,
                                       const QList<GuardingQuestion> &allowed, Prompter &progress)
    : m_firmwarePath(firmwarePath), m_allowed(allowed), m_progress(progress)
{
    m_echo = [](const QString &line) {
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        std::fflush(stderr);
    };
}

QMessageBox::StandardButton UnattendedPrompter::affirmative(QMessageBox::StandardButtons buttons)
{
    for (QMessageBox::StandardButton button : {QMessageBox::Yes, QMessageBox::Ok})
        if (buttons & button)
            return button;
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton UnattendedPrompter::negative(QMessageBox::StandardButtons buttons)
{
    for (QMessageBox::StandardButton button : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Abort})
        if (buttons & button)
            return button;
    // A box with only an acknowledging button: acknowledging it changes nothing.
    return buttons & QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::NoButton;
}

void UnattendedPrompter::note(Kind kind, const QString &title, const QString &text,
                              const QString &answer)
{
    m_shown.append({kind, title, text});
    if (kind == Kind::Warning || kind == Kind::Critical)
        m_lastProblem = text;
    QString line = QStringLiteral("zel-updater: [%1] %2: %3")
                       .arg(QLatin1String(kindName(kind)), title, text.simplified());
    if (!answer.isEmpty())
        line += QStringLiteral(" -> %1").arg(answer);
    if (m_echo)
        m_echo(line);
}

QMessageBox::StandardButton UnattendedPrompter::showMessage(QWidget *, Kind kind,
                                                            const QString &title,
                                                            const QString &text,
                                                            QMessageBox::StandardButtons buttons)
{
    if (!isQuestion(buttons)) {
        note(kind, title, text, QString());
        return negative(buttons);
    }
    // A question nobody planned for: the safe answer, and it counts as a refusal.
    m_lastRefusal = text;
    note(kind, title, text, QStringLiteral("answered no: an unattended run answers only its "
                                           "confirmation and the questions -yes= allows"));
    return negative(buttons);
}

QMessageBox::StandardButton UnattendedPrompter::ask(QWidget *parent, Kind kind,
                                                    const QString &title, const QString &text,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton)
{
    return showMessage(parent, kind, title, text, buttons);
}

QMessageBox::StandardButton UnattendedPrompter::confirmRun(QWidget *, Kind kind,
                                                           const QString &title,
                                                           const QString &text,
                                                           QMessageBox::StandardButtons buttons,
                                                           QMessageBox::StandardButton)
{
    note(kind, title, text, QStringLiteral("confirmed by the unattended run"));
    return affirmative(buttons);
}

QMessageBox::StandardButton UnattendedPrompter::askGuarding(GuardingQuestion question, QWidget *,
                                                            Kind kind, const QString &title,
                                                            const QString &text,
                                                            QMessageBox::StandardButtons buttons,
                                                            QMessageBox::StandardButton)
{
    const QString name = guardingQuestionName(question);
    if (m_allowed.contains(question)) {
        note(kind, title, text, QStringLiteral("yes, allowed by -yes=%1").arg(name));
        return affirmative(buttons);
    }
    if (!m_refused)
        m_refused = question;
    m_lastRefusal = text;
    note(kind, title, text, QStringLiteral("no: -yes= does not allow %1").arg(name));
    return negative(buttons);
}

QString UnattendedPrompter::getOpenFileName(QWidget *, const QString &caption, const QString &,
                                            const QString &)
{
    // Once: a refused file would otherwise be offered again and again.
    if (m_fileGiven) {
        note(Kind::Information, caption, QStringLiteral("no other image file to offer"), QString());
        return QString();
    }
    m_fileGiven = true;
    // The record keeps the path: whole, as an operator's file dialog gives it.
    const QString path = m_firmwarePath.isEmpty() ? m_firmwarePath
                                                  : QFileInfo(m_firmwarePath).absoluteFilePath();
    note(Kind::Information, caption, path, QString());
    return path;
}

std::unique_ptr<ProgressHandle> UnattendedPrompter::openProgress(QWidget *parent,
                                                                 const QString &title,
                                                                 const QString &label,
                                                                 const QString &cancelText,
                                                                 int minimum, int maximum)
{
    return m_progress.openProgress(parent, title, label, cancelText, minimum, maximum);
}
