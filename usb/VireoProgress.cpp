#include "usb/VireoProgress.h"

#include "base/Prompter.h"

#include <QCoreApplication>

VireoProgress::VireoProgress(Prompter &prompter) : m_prompter(prompter) {}

VireoProgress::~VireoProgress()
{
    close();
}

void VireoProgress::open(QWidget *parent)
{
    if (m_handle)
        return;
    m_value = 0;
    m_maximum = 100;
    const QString label = QCoreApplication::translate("Device_VireoPlayer", "Programming Controller...");
    m_handle = m_prompter.openProgress(parent, QCoreApplication::translate("Device_VireoPlayer", "Vireo Player"),
                                       label, QString(), 0, m_maximum);
}

void VireoProgress::close()
{
    if (m_handle)
        m_handle->close();
    m_handle.reset();
}

void VireoProgress::setLabel(const QString &label)
{
    if (m_handle)
        m_handle->setLabelText(label);
}

void VireoProgress::setMaximum(int maximum)
{
    if (!m_handle)
        return;
    m_maximum = maximum;
    m_handle->setRange(0, maximum);
}

void VireoProgress::setValue(int value)
{
    if (!m_handle)
        return;
    m_value = qBound(0, value, m_maximum);
    m_handle->setValue(m_value);
}

void VireoProgress::step(bool toMaximum, const QString *label)
{
    if (!m_handle)
        return;
    if (label)
        setLabel(*label);
    setValue(toMaximum ? m_maximum : m_value + 1);
    QCoreApplication::processEvents();
}
