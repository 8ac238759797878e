#include "base/InterfacePanel.h"

InterfacePanel::InterfacePanel(int interfaceNumber, int defaultVerifyWaitMs, QWidget *parent)
    : QWidget(parent), m_verifyWaitMs(defaultVerifyWaitMs), m_interfaceNumber(interfaceNumber)
{
}

InterfacePanel::~InterfacePanel() = default;

void InterfacePanel::deviceTypeSelected(BootLoadProduct *)
{
}

void InterfacePanel::imageAboutToBeSelected(BootLoadProduct *)
{
}

void InterfacePanel::setFactoryDefault(bool)
{
}

bool InterfacePanel::allowsRun(BootLoadProduct *)
{
    return true;
}

void InterfacePanel::startOver()
{
}

void InterfacePanel::setVerifyWait(int milliseconds)
{
    m_verifyWaitMs = qMax(0, milliseconds);
}

void InterfacePanel::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL, objectName(), text);
}
