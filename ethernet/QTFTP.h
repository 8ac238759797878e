#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QThread>

#include <atomic>

// One TFTP transfer (read or write of a remote file) on its own thread.
// Every packet goes to the device's TFTP port and only answers from that
// same address and port are heard; the mode is always "netascii" and the
// bytes travel unchanged, which is what the controllers expect.
//
// Command one operation, then start(); commandFinished(result) ends it:
//   >= 0  the transfer completed; the number of bytes read or written
//   -1    it failed (see the last statusMessage for what), also when the
//         device answered with an ERROR packet, which ends a transfer at once
//   -2    a write gave up: no answer for one block after every attempt
// A write sends a block again only when its acknowledgement is overdue: a
// duplicate or stray answer is ignored, so that duplicates never multiply.
// Each instance has its own socket and state, so several may run at once.
class QTFTP : public QThread
{
    Q_OBJECT

public:
    static constexpr int kFailed = -1;
    static constexpr int kGaveUp = -2;
    static constexpr int kWriteAttempts = 14;
    static constexpr int kReadAttempts = 12;
    static constexpr int kDefaultPort = 69;
    static constexpr int kBlockBytes = 512;

    QTFTP(QObject *parent, int timeoutMs);
    ~QTFTP() override;

    // The buffer stays the caller's and must be left alone until
    // commandFinished arrives. A read fills at most capacity bytes.
    void commandRead(const QString &host, QString fileName, char *buffer, unsigned capacity);
    void commandWrite(const QString &host, QString fileName, char *buffer, unsigned length);

    // Set before start().
    void setPort(int port) { m_port = port; }
    int port() const { return m_port; }
    int timeout() const { return m_timeout; }
    QString host() const { return m_host; }

    // Ends a transfer under way at its next wait; it finishes with -1.
    // Safe from any thread.
    void abort() { m_abort = true; }
    int result() const { return m_result; }
    // Lets go of a transfer nobody waits for any more: nothing more is
    // signalled, it ends at its next wait, and the thread is deleted once it
    // has. thread is null afterwards.
    static void discard(QTFTP *&thread);

signals:
    void statusMessage(QString mess);
    void progressDlg(int status);
    void progress(int bytesTransfered);
    void commandFinished(int result);

protected:
    void run() override;

private:
    enum class Answer { Received, NotReceived, PeerError };

    bool sendRequest(int opcode, const QString &fileName);
    bool sendAck(int block);
    bool sendData(int block, const char *data, unsigned length);
    // One attempt's wait for the acknowledgement of block.
    Answer receiveAck(int block);
    // One attempt's wait for DATA block; its payload is left in m_packet
    // and its size in *length.
    Answer receiveData(int block, int *length);
    void doRead();
    void doWrite();

    // Sends one whole datagram; false, with a message naming what, if not.
    bool sendPacket(const QByteArray &packet, const char *what);
    // Receives one datagram into m_packet before the deadline; its length,
    // which may exceed what m_packet holds, or -1 after the message for a
    // time-out or a failed receive.
    qsizetype receivePacket(const char *who, const QDeadlineTimer &deadline);
    void emitProgressDlg(int status);

    char *m_buffer = nullptr;
    unsigned m_length = 0;
    int m_operation = 0;
    std::atomic<int> m_result {0};
    int m_socket = -1;
    QString m_host;
    QString m_fileName;
    int m_timeout;
    int m_port = kDefaultPort;
    int m_lastProgressDlg = -1;
    std::atomic<bool> m_abort {false};
    char m_packet[kBlockBytes + 4 + 1];
};
