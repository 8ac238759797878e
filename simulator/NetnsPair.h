#pragma once

#include <QString>
#include <QStringList>

// Two network namespaces of this process's own, joined by a veth pair: the
// controllers' side (peer) and the updater's side (local). Tests and
// benchmarks move themselves into the local side so that nothing they send
// can reach a real network. Needs root; ok() says whether it worked.
class NetnsPair
{
public:
    static constexpr const char *kPeerAddress = "198.51.100.1";
    static constexpr const char *kLocalAddress = "198.51.100.2";

    NetnsPair();
    ~NetnsPair();
    NetnsPair(const NetnsPair &) = delete;
    NetnsPair &operator=(const NetnsPair &) = delete;

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString peerNamespace() const { return m_peer; }
    QString localNamespace() const { return m_local; }

    // Moves this process into the local namespace and checks that it sees
    // only loopback and its end of the veth pair. Call it first thing in
    // main(): only the calling thread moves, and threads made later follow it.
    bool enterLocal();
    // One more address for the controllers' side, on its veth end, so that one
    // simulator can play many controllers each on an address of its own.
    bool addPeerAddress(const QString &address);
    // The argument list that runs program in the peer namespace.
    QStringList peerCommand(const QStringList &program) const;
    // Runs a command to its end; its exit status, or -1 when it could not run.
    static int run(const QStringList &command);

private:
    void remove();
    static void removeStale();

    QString m_peer;
    QString m_local;
    QString m_error;
    bool m_created = false;
};
