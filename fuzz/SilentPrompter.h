#pragma once

#include "base/Prompter.h"

// Answers every dialog at once, so fuzz inputs can reach every error path.
class SilentPrompter : public Prompter
{
public:
    QMessageBox::StandardButton showMessage(QWidget *, Kind, const QString &, const QString &,
                                            QMessageBox::StandardButtons buttons) override
    {
        return buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok : QMessageBox::NoButton;
    }
    QString getOpenFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    std::unique_ptr<ProgressHandle> openProgress(QWidget *, const QString &, const QString &,
                                                 const QString &, int, int) override
    {
        return nullptr;
    }
};
