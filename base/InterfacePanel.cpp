#include "base/InterfacePanel.h"

#include <QTimer>

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

void InterfacePanel::beginWait(const QString &text, bool showElapsed)
{
    m_waitShowsElapsed = showElapsed;
    m_waitClock.start();
    if (showElapsed) {
        if (!m_waitTick) {
            m_waitTick = new QTimer(this);
            m_waitTick->setInterval(1000);
            connect(m_waitTick, &QTimer::timeout, this, &InterfacePanel::emitWaitStatus);
        }
        m_waitTick->start();
    } else if (m_waitTick) {
        m_waitTick->stop();
    }
    m_waitText = text;
    emitWaitStatus();
}

void InterfacePanel::updateWait(const QString &text)
{
    if (!waiting()) {
        beginWait(text);
        return;
    }
    m_waitText = text;
    emitWaitStatus();
}

void InterfacePanel::endWait()
{
    if (m_waitTick)
        m_waitTick->stop();
    if (!waiting())
        return;
    m_waitText.clear();
    emit signal_waitStatus(QString());
}

void InterfacePanel::emitWaitStatus()
{
    if (!waiting())
        return;
    // The tick may come a little early: to the nearest second, "1 s" at the first.
    const qint64 seconds = (m_waitClock.elapsed() + 500) / 1000;
    if (m_waitShowsElapsed && seconds > 0)
        emit signal_waitStatus(tr("%1 %2 s").arg(m_waitText).arg(seconds));
    else
        emit signal_waitStatus(m_waitText);
}
