#include "ethernet/ControllerVerifier.h"

#include "catalogue/BootLoadProduct.h"
#include "ethernet/EthernetLogging.h"
#include "ethernet/QTFTP.h"
#include "ethernet/TarvoInput.h"
#include "ethernet/TarvoLibrary.h"
#include "ethernet/tftpInterfaceControl.h"

#include <QHostAddress>
#include <QTimer>

struct ControllerVerifier::Probe {
    Target target;
    quint32 ip = 0;
    int index = 0;
    bool done = false;
    // Answered as the type it had to be found as (Target::typeText).
    bool typeConfirmed = false;
    // A matching revision that waits for the type to be confirmed.
    std::optional<RevisionCheck> held;
    QTFTP *read = nullptr;
    QByteArray buffer = QByteArray(512, '\0');
};

namespace {

QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'g', 3);
}

} // namespace

ControllerVerifier::ControllerVerifier(const QList<Target> &targets, const QString &expected,
                                       const QString &why, const EthernetSettings &settings,
                                       TarvoLibrary &tarvo, int discoveryPort, QObject *parent)
    : QObject(parent), m_expected(expected), m_why(why), m_settings(settings), m_tarvo(tarvo),
      m_discoveryPort(discoveryPort)
{
    for (const Target &target : targets) {
        auto probe = std::make_shared<Probe>();
        probe->target = target;
        probe->ip = QHostAddress(target.address).toIPv4Address();
        probe->index = int(m_probes.size());
        m_probes.append(probe);
        m_checks.append(RevisionCheck());
    }
}

ControllerVerifier::~ControllerVerifier()
{
    abort();
}

ControllerVerifier::Route ControllerVerifier::routeFor(const BootLoadProduct *product)
{
    const QString name = product ? product->name() : QString();
    if (name.contains(QLatin1String("Brisa Quad"), Qt::CaseSensitive))
        return Route::Value;
    if (name.contains(QLatin1String("Marlow"), Qt::CaseInsensitive))
        return Route::Discovery;
    return Route::Info;
}

std::optional<quint32> ControllerVerifier::buildNumber(quint32 packedVersion, bool versioned)
{
    if (!versioned)
        return std::nullopt;
    return packedVersion & 0xFF;
}

std::optional<quint32> ControllerVerifier::infoRevision(const QByteArray &info)
{
    const int end = info.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? info : info.left(end));
    bool ok = false;
    const uint value = text.section(QLatin1Char('*'), 2, 2).toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    // Whole: a value wider than a build number must not pass for one.
    return quint32(value);
}

QString ControllerVerifier::infoVersionText(const QByteArray &info)
{
    const int end = info.indexOf('\0');
    const QString text = QString::fromLatin1(end < 0 ? info : info.left(end));
    if (text.count(QLatin1Char('*')) < 3)
        return QString();
    return text.section(QLatin1Char('*'), 3);
}

void ControllerVerifier::start()
{
    if (m_started)
        return;
    m_started = true;
    bool discovery = false;
    bool value = false;
    for (const auto &probe : std::as_const(m_probes)) {
        // A controller whose type is still to be seen is asked by discovery too.
        discovery |= probe->target.route == Route::Discovery || !probe->target.typeText.isEmpty();
        value |= probe->target.route == Route::Value;
    }
    if (discovery) {
        m_discover = std::make_unique<TarvoInput>(m_discoveryPort, m_settings);
        connect(m_discover.get(), &TarvoInput::signalDiscoverResponse, this,
                [this](char *, unsigned long ip, unsigned long, unsigned short ver, unsigned long,
                       char *verstring, char *idstring) {
                    discoveryReply(ip, ver, QString::fromLatin1(verstring), QString::fromLatin1(idstring));
                });
    }
    if (value)
        connect(&m_tarvo, &TarvoLibrary::signalDeviceVariableReply, this, &ControllerVerifier::valueReply);

    m_settle = new QTimer(this);
    m_settle->setSingleShot(true);
    connect(m_settle, &QTimer::timeout, this, [this] {
        m_asking = true;
        attempt();
        if (!m_done)
            m_retry->start(qMax(1, m_settings.verifyRetryMs));
    });
    m_retry = new QTimer(this);
    connect(m_retry, &QTimer::timeout, this, &ControllerVerifier::attempt);
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    // The verdict says "no answer within n s": a coarse timer may end the wait early.
    m_deadline->setTimerType(Qt::PreciseTimer);
    connect(m_deadline, &QTimer::timeout, this, &ControllerVerifier::timeUp);

    m_settle->start(settleMs());
    m_deadline->start(settleMs() + m_waitMs);
    finishIfDone();
}

void ControllerVerifier::attempt()
{
    if (!m_asking || m_done)
        return;
    bool discover = false;
    for (const auto &probe : std::as_const(m_probes)) {
        if (probe->done)
            continue;
        discover |= !probe->target.typeText.isEmpty();
        switch (probe->target.route) {
        case Route::Info:
            if (!probe->read)
                startInfoRead(*probe);
            break;
        case Route::Discovery:
            discover = true;
            break;
        case Route::Value:
            // Without the library the revision can never be read: no use waiting.
            if (!m_tarvo.getValue(probe->target.address, TarvoLibrary::kFirmwareRevision))
                conclude(probe->index,
                         RevisionCheck::noAnswer(tr("the controller-value library could not ask it "
                                                    "for its revision")));
            break;
        }
    }
    if (discover && m_discover && !m_discover->sendDiscover(tftpInterfaceControl::kDiscoveryRequestAddress))
        qCDebug(lcDiscovery) << "revision check: discovery request not sent";
}

void ControllerVerifier::startInfoRead(Probe &probe)
{
    probe.buffer.fill('\0');
    probe.read = new QTFTP(nullptr, m_settings.infoReadTimeoutMs);
    probe.read->setPort(m_settings.tftpPort);
    Probe *p = &probe;
    connect(probe.read, &QTFTP::commandFinished, this, [this, p](int result) { infoReadDone(*p, result); });
    connect(probe.read, &QTFTP::statusMessage, this,
            [](const QString &text) { qCDebug(lcTftp) << "revision check:" << text; });
    // One byte short of the buffer: the text always ends in a NUL.
    probe.read->commandRead(probe.target.address, QStringLiteral("info"), probe.buffer.data(),
                            unsigned(probe.buffer.size() - 1));
    probe.read->start();
}

void ControllerVerifier::infoReadDone(Probe &probe, int result)
{
    const QByteArray info(probe.buffer.constData(), int(qstrnlen(probe.buffer.constData(), probe.buffer.size())));
    stopRead(probe);
    if (probe.done || m_done)
        return;
    // A failed read is tried again at the next attempt.
    if (result <= 0)
        return;
    qCDebug(lcTftp) << "revision check: info" << info;
    const std::optional<quint32> revision = infoRevision(info);
    const QString version = infoVersionText(info);
    if (!version.isNull())
        typeSeen(probe, version, QString::fromLatin1(info.left(qMax(0, info.indexOf('*')))),
                 revision ? QString::number(*revision) : QString());
    if (probe.done)
        return;
    if (revision)
        answered(probe, *revision);
    else
        conclude(probe.index, RevisionCheck::notComparable(
                                  QString(), tr("its \"info\" reply carries no revision")));
}

void ControllerVerifier::discoveryReply(unsigned long ip, unsigned short version, const QString &verstring,
                                        const QString &idstring)
{
    // Before the settle is over the old firmware may still be answering.
    if (!m_asking)
        return;
    const bool marlow = verstring.contains(QLatin1String("Marlow"), Qt::CaseInsensitive);
    for (const auto &probe : std::as_const(m_probes)) {
        if (probe->done || probe->ip != quint32(ip))
            continue;
        const bool revisionRoute = probe->target.route == Route::Discovery;
        typeSeen(*probe, verstring, idstring, revisionRoute && marlow ? QString::number(version) : QString());
        if (probe->done || !revisionRoute)
            continue;
        // A reply that does not say it is a Marlow carries no revision the
        // panel trusts: it is asked for "info", as the panel does.
        if (!marlow) {
            probe->target.route = Route::Info;
            if (m_asking && !probe->read)
                startInfoRead(*probe);
            continue;
        }
        answered(*probe, version);
    }
}

void ControllerVerifier::valueReply(unsigned long ip, quint16 valueId, quint32 value)
{
    if (valueId != TarvoLibrary::kFirmwareRevision || !m_asking)
        return;
    for (const auto &probe : std::as_const(m_probes))
        if (!probe->done && probe->target.route == Route::Value && probe->ip == quint32(ip))
            answered(*probe, value);
}

void ControllerVerifier::answered(Probe &probe, quint32 revision)
{
    const QString reported = QString::number(revision);
    RevisionCheck check;
    if (m_expected.isNull()) {
        check = RevisionCheck::notComparable(reported, m_why);
    } else if (revision > 0xFF) {
        // The image's version gives one byte of build number; a wider value
        // is in some other form and is not guessed at.
        check = RevisionCheck::notComparable(
            reported, tr("the controller reports %1, which is not a build number the image's %2 can be "
                         "compared with")
                          .arg(reported, m_expected));
    } else {
        check = RevisionCheck::compare(reported, m_expected);
        // One build number stands for every image that carries it: the same
        // one as before the write cannot tell the new image from the old.
        if (check.result == RevisionCheck::Result::Verified && probe.target.revisionBefore == reported) {
            check = RevisionCheck::notComparable(
                reported, tr("the controller reports build %1 as it did before the write, so its revision "
                             "cannot tell the image from the firmware it ran")
                              .arg(reported));
            check.expected = m_expected;
        } else if (check.result == RevisionCheck::Result::Verified && probe.target.beforeUnread) {
            check = RevisionCheck::notComparable(
                reported, tr("the controller did not tell its revision before the write, so build %1 cannot "
                             "tell the image from the firmware it may have run")
                              .arg(reported));
            check.expected = m_expected;
        }
    }
    if (check.result == RevisionCheck::Result::Verified && !probe.target.typeText.isEmpty()
        && !probe.typeConfirmed) {
        probe.held = check;
        return;
    }
    conclude(probe.index, check);
}

void ControllerVerifier::typeSeen(Probe &probe, const QString &verstring, const QString &idstring,
                                  const QString &reported)
{
    if (probe.done || probe.target.typeText.isEmpty())
        return;
    if (verstring.contains(probe.target.typeText, Qt::CaseSensitive)) {
        probe.typeConfirmed = true;
        if (probe.held)
            conclude(probe.index, *probe.held);
        return;
    }
    const QString as = idstring.trimmed().isEmpty() ? verstring
                                                    : QStringLiteral("%1 (%2)").arg(idstring.trimmed(), verstring);
    conclude(probe.index,
             RevisionCheck::notComparable(reported.isNull() && probe.held ? probe.held->revisionAfter : reported,
                                          tr("it answers as %1, not as %2").arg(as, probe.target.typeName)));
}

void ControllerVerifier::conclude(int index, const RevisionCheck &check)
{
    Probe &probe = *m_probes.at(index);
    if (probe.done)
        return;
    probe.done = true;
    stopRead(probe);
    m_checks[index] = check;
    emit checked(index);
    finishIfDone();
}

void ControllerVerifier::timeUp()
{
    const QString why = tr("no answer within %1 s of the write")
                            .arg(seconds(settleMs() + m_waitMs));
    for (const auto &probe : std::as_const(m_probes)) {
        if (probe->done || m_done)
            continue;
        if (probe->held)
            conclude(probe->index,
                     RevisionCheck::notComparable(
                         probe->held->revisionAfter,
                         tr("it reports %1 but did not answer as %2 within %3 s of the write, nor before it")
                             .arg(probe->held->revisionAfter, probe->target.typeName,
                                  seconds(settleMs() + m_waitMs))));
        else
            conclude(probe->index, RevisionCheck::noAnswer(why));
    }
}

void ControllerVerifier::stopRead(Probe &probe)
{
    if (!probe.read)
        return;
    probe.read->disconnect(this);
    // It ends at its next short wait; its buffer lives until then.
    probe.read->abort();
    probe.read->wait();
    delete probe.read;
    probe.read = nullptr;
}

void ControllerVerifier::finishIfDone()
{
    if (m_done || !m_started)
        return;
    for (const auto &probe : std::as_const(m_probes))
        if (!probe->done)
            return;
    m_done = true;
    for (QTimer *timer : {m_settle, m_retry, m_deadline})
        if (timer)
            timer->stop();
    // This may run inside the discovery object's own signal.
    if (m_discover) {
        m_discover->disconnect(this);
        m_discover.release()->deleteLater();
    }
    m_tarvo.disconnect(this);
    emit finished();
}

int ControllerVerifier::settleMs() const
{
    return m_settleMs >= 0 ? m_settleMs : qMax(0, m_settings.verifySettleMs);
}

void ControllerVerifier::abort()
{
    m_done = true;
    for (QTimer *timer : {m_settle, m_retry, m_deadline})
        if (timer)
            timer->stop();
    for (const auto &probe : std::as_const(m_probes))
        stopRead(*probe);
    m_discover.reset();
    m_tarvo.disconnect(this);
}
