#include "simulator/NetnsPair.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char kPrefix[] = "zel-eth-";

// Found where root's tools live even when PATH lacks the sbin folders.
QString ipCommand()
{
    static const QString path = [] {
        const QString found = QStandardPaths::findExecutable(QStringLiteral("ip"));
        if (!found.isEmpty())
            return found;
        const QString sbin = QStandardPaths::findExecutable(
            QStringLiteral("ip"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/bin")});
        return sbin.isEmpty() ? QStringLiteral("ip") : sbin;
    }();
    return path;
}

QString vethName(char side, qint64 pid)
{
    return QStringLiteral("zv%1%2").arg(QLatin1Char(side)).arg(pid);
}

} // namespace

int NetnsPair::run(const QStringList &command)
{
    QList<QByteArray> storage;
    for (const QString &part : command)
        storage.append(part.toLocal8Bit());
    QList<char *> argv;
    for (QByteArray &part : storage)
        argv.append(part.data());
    argv.append(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv.first(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void NetnsPair::removeStale()
{
    // Left behind by a run that crashed: their process is gone.
    static const QRegularExpression name(QStringLiteral("^zel-eth-[ab]-(\\d+)$"));
    for (const QString &entry : QDir(QStringLiteral("/var/run/netns")).entryList(QDir::Files)) {
        const QRegularExpressionMatch m = name.match(entry);
        if (m.hasMatch() && ::kill(pid_t(m.captured(1).toLongLong()), 0) != 0 && errno == ESRCH)
            run({ipCommand(), QStringLiteral("netns"), QStringLiteral("del"), entry});
    }
}

NetnsPair::NetnsPair()
{
    const qint64 pid = ::getpid();
    m_peer = QStringLiteral("%1a-%2").arg(QLatin1String(kPrefix)).arg(pid);
    m_local = QStringLiteral("%1b-%2").arg(QLatin1String(kPrefix)).arg(pid);
    if (::geteuid() != 0) {
        m_error = QStringLiteral("network namespaces need root");
        return;
    }
    if (run({ipCommand(), QStringLiteral("-V")}) != 0) {
        m_error = QStringLiteral("the ip command (iproute2) is not installed");
        return;
    }
    removeStale();
    const QString a = vethName('a', pid);
    const QString b = vethName('b', pid);
    const QString ip = ipCommand();
    const QList<QStringList> steps = {
        {ip, QStringLiteral("netns"), QStringLiteral("add"), m_peer},
        {ip, QStringLiteral("netns"), QStringLiteral("add"), m_local},
        // Made inside the peer namespace with its other end in the local one:
        // it never appears on the machine's own network.
        {ip, QStringLiteral("-n"), m_peer, QStringLiteral("link"), QStringLiteral("add"), a,
         QStringLiteral("type"), QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), b,
         QStringLiteral("netns"), m_local},
        {ip, QStringLiteral("-n"), m_peer, QStringLiteral("addr"), QStringLiteral("add"),
         QLatin1String(kPeerAddress) + QStringLiteral("/24"), QStringLiteral("dev"), a},
        {ip, QStringLiteral("-n"), m_local, QStringLiteral("addr"), QStringLiteral("add"),
         QLatin1String(kLocalAddress) + QStringLiteral("/24"), QStringLiteral("dev"), b},
        {ip, QStringLiteral("-n"), m_peer, QStringLiteral("link"), QStringLiteral("set"), a, QStringLiteral("up")},
        {ip, QStringLiteral("-n"), m_local, QStringLiteral("link"), QStringLiteral("set"), b, QStringLiteral("up")},
        {ip, QStringLiteral("-n"), m_peer, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
        {ip, QStringLiteral("-n"), m_local, QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"), QStringLiteral("up")},
    };
    m_created = true;
    for (const QStringList &step : steps) {
        if (run(step) != 0) {
            m_error = QStringLiteral("could not set up network namespaces (%1)").arg(step.join(QLatin1Char(' ')));
            remove();
            return;
        }
    }
}

NetnsPair::~NetnsPair()
{
    remove();
}

void NetnsPair::remove()
{
    if (!m_created)
        return;
    m_created = false;
    run({ipCommand(), QStringLiteral("netns"), QStringLiteral("del"), m_peer});
    run({ipCommand(), QStringLiteral("netns"), QStringLiteral("del"), m_local});
}

bool NetnsPair::enterLocal()
{
    if (!ok())
        return false;
    if (QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() != 1) {
        m_error = QStringLiteral("other threads already run; they would stay on the real network");
        return false;
    }
    const int fd = ::open(qPrintable(QStringLiteral("/var/run/netns/") + m_local), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
        if (fd >= 0)
            ::close(fd);
        m_error = QStringLiteral("could not enter namespace %1").arg(m_local);
        return false;
    }
    ::close(fd);

    // Nothing may be sent before this holds: only loopback and our veth end.
    QStringList names;
    if (struct if_nameindex *list = ::if_nameindex()) {
        for (struct if_nameindex *i = list; i->if_index != 0; ++i)
            names.append(QString::fromLocal8Bit(i->if_name));
        if_freenameindex(list);
    }
    names.sort();
    QStringList expected {vethName('b', ::getpid()), QStringLiteral("lo")};
    expected.sort();
    if (names != expected) {
        m_error = QStringLiteral("unexpected interfaces in %1: %2").arg(m_local, names.join(QLatin1Char(' ')));
        return false;
    }
    return true;
}

bool NetnsPair::addPeerAddress(const QString &address)
{
    return ok()
        && run({ipCommand(), QStringLiteral("-n"), m_peer, QStringLiteral("addr"), QStringLiteral("add"),
                address + QStringLiteral("/24"), QStringLiteral("dev"), vethName('a', ::getpid())})
        == 0;
}

QStringList NetnsPair::peerCommand(const QStringList &program) const
{
    return QStringList {ipCommand(), QStringLiteral("netns"), QStringLiteral("exec"), m_peer} + program;
}
