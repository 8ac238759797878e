#include "base/Prompter.h"

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
                                                  QMessageBox::StandardButton)
{
    return showMessage(parent, Kind::Question, title, text, buttons);
}
