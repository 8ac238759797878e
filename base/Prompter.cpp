#include "base/Prompter.h"

QMessageBox::StandardButton Prompter::ask(QWidget *parent, Kind kind, const QString &title,
                                          const QString &text,
                                          QMessageBox::StandardButtons buttons,
                                          QMessageBox::StandardButton defaultButton)
{
    Q_UNUSED(defaultButton);
    return showMessage(parent, kind, title, text, buttons);
}

void Prompter::information(QWidget *parent, const QString &title, const QString &text)
{
    showMessage(parent, Kind::Information, title, text, QMessageBox::Ok);
}

void Prompter::warning(QWidget *parent, const QString &title, const QString &text)
{
    showMessage(parent, Kind::Warning, title, text, QMessageBox::Ok);
}

void Prompter::critical(QWidget *parent, const QString &title, const QString &text)
{
    showMessage(parent, Kind::Critical, title, text, QMessageBox::Ok);
}

QMessageBox::StandardButton Prompter::askQuestion(QWidget *parent, const QString &title,
                                                  const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton)
{
    return ask(parent, Kind::Question, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton Prompter::confirmRun(QWidget *parent, Kind kind, const QString &title,
                                                 const QString &text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    return ask(parent, kind, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton Prompter::askGuarding(GuardingQuestion question, QWidget *parent,
                                                  Kind kind, const QString &title,
                                                  const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QMessageBox::StandardButton defaultButton)
{
    Q_UNUSED(question);
    return ask(parent, kind, title, text, buttons, defaultButton);
}
