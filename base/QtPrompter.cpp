#include "base/QtPrompter.h"

#include <QFileDialog>
#include <QPointer>
#include <QProgressDialog>

namespace {

class QtProgressHandle : public ProgressHandle
{
public:
    explicit QtProgressHandle(QProgressDialog *dialog) : m_dialog(dialog) {}
    ~QtProgressHandle() override { close(); }

    void setLabelText(const QString &text) override
    {
        if (m_dialog)
            m_dialog->setLabelText(text);
    }
    void setRange(int minimum, int maximum) override
    {
        if (m_dialog)
            m_dialog->setRange(minimum, maximum);
    }
    void setValue(int value) override
    {
        if (m_dialog)
            m_dialog->setValue(value);
    }
    bool wasCanceled() const override { return m_dialog && m_dialog->wasCanceled(); }
    void close() override
    {
        if (m_dialog) {
            m_dialog->close();
            m_dialog->deleteLater();
            m_dialog.clear();
        }
    }

private:
    QPointer<QProgressDialog> m_dialog;
};

} // namespace

QMessageBox::StandardButton QtPrompter::showMessage(QWidget *parent, Kind kind,
                                                    const QString &title, const QString &text,
                                                    QMessageBox::StandardButtons buttons)
{
    switch (kind) {
    case Kind::Information: return QMessageBox::information(parent, title, text, buttons);
    case Kind::Warning: return QMessageBox::warning(parent, title, text, buttons);
    case Kind::Critical: return QMessageBox::critical(parent, title, text, buttons);
    case Kind::Question: return QMessageBox::question(parent, title, text, buttons);
    }
    return QMessageBox::NoButton;
}

QMessageBox::StandardButton QtPrompter::ask(QWidget *parent, Kind kind, const QString &title,
                                            const QString &text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton defaultButton)
{
    switch (kind) {
    case Kind::Information:
        return QMessageBox::information(parent, title, text, buttons, defaultButton);
    case Kind::Warning: return QMessageBox::warning(parent, title, text, buttons, defaultButton);
    case Kind::Critical: return QMessageBox::critical(parent, title, text, buttons, defaultButton);
    case Kind::Question: return QMessageBox::question(parent, title, text, buttons, defaultButton);
    }
    return QMessageBox::NoButton;
}

QString QtPrompter::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

std::unique_ptr<ProgressHandle> QtPrompter::openProgress(QWidget *parent, const QString &title,
                                                         const QString &label,
                                                         const QString &cancelText, int minimum,
                                                         int maximum)
{
    auto *dialog = new QProgressDialog(label, cancelText, minimum, maximum, parent);
    dialog->setWindowTitle(title);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(0);
    dialog->setValue(minimum);
    return std::make_unique<QtProgressHandle>(dialog);
}
