#pragma once

#include "ethernet/EthernetSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTFTP;

// PROGRAM's write of one image to one controller by TFTP, on a thread of its
// own. Passes on the transfer's steps as the thread reports them, and its
// end with the last thing the transfer said, the reason when it failed.
class ControllerWrite : public QObject
{
    Q_OBJECT

public:
    explicit ControllerWrite(const EthernetSettings &settings, QObject *parent = nullptr);
    // As abort().
    ~ControllerWrite() override;

    // timeoutMs: the wait for each answer of the controller.
    void start(const QString &address, const QByteArray &image, int timeoutMs);
    bool isRunning() const { return m_thread != nullptr; }
    QString address() const { return m_address; }
    // Stops the write at its next wait and waits for it; nothing more is
    // signalled. True when the whole image had been written by then.
    bool abort();

signals:
    // QTFTP::progressDlg's steps.
    void progress(int status);
    void finished(int result, const QString &reason);

private:
    void threadDone(int result);

    const EthernetSettings &m_settings;
    QTFTP *m_thread = nullptr;
    QString m_address;
    QByteArray m_image;
    QString m_lastStatus;
};
