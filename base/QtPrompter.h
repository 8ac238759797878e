#pragma once

#include "base/Prompter.h"

// Shows the real Qt dialogs.
class QtPrompter : public Prompter
{
public:
    QMessageBox::StandardButton showMessage(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons) override;
    QMessageBox::StandardButton ask(QWidget *parent, Kind kind, const QString &title,
                                    const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) override;
    QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                            const QString &filter) override;
    std::unique_ptr<ProgressHandle> openProgress(QWidget *parent, const QString &title,
                                                 const QString &label, const QString &cancelText,
                                                 int minimum, int maximum) override;
};
