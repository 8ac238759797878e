#pragma once

#include "simulator/NetnsPair.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// A child process in the controllers' namespace, ended with the test.
class PeerProcess
{
public:
    bool start(const NetnsPair &netns, const QStringList &program, const QByteArray &readyText)
    {
        const QStringList command = netns.peerCommand(program);
        m_output.clear();
        m_process.setProgram(command.first());
        m_process.setArguments(command.mid(1));
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
        while (m_process.waitForReadyRead(5000)) {
            m_output += m_process.readAll();
            if (m_output.contains(readyText))
                return true;
        }
        qWarning("peer did not start: %s", m_output.constData());
        return false;
    }
    // Ends it; everything it printed.
    QByteArray stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
        m_output += m_process.readAll();
        return m_output;
    }
    ~PeerProcess() { stop(); }

private:
    QProcess m_process;
    QByteArray m_output;
};
