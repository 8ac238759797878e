#include "ethernet/ControllerIdentifier.h"

#include "base/Pauser.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "ethernet/ControllerVerifier.h"
#include "ethernet/EthernetLogging.h"
#include "ethernet/QTFTP.h"

#include <QHostAddress>
#include <QTimer>

namespace {

// The size of the panel's own "info" reads.
constexpr int kInfoBytes = 512;

} // namespace

ControllerIdentifier::ControllerIdentifier(const EthernetSettings &settings, Pauser &pauser, QObject *parent)
    : QObject(parent), m_settings(settings), m_pauser(pauser)
{
}

ControllerIdentifier::~ControllerIdentifier()
{
    stop();
}

void ControllerIdentifier::start(const QString &address, const BootLoadProduct *product, bool discoverySent)
{
    stop();
    m_address = address;
    const MicroprocessorImageInfo *first = product ? product->processor(0) : nullptr;
    m_sft = first ? first->sft() : QString();
    m_infoRoute = ControllerVerifier::routeFor(product) == ControllerVerifier::Route::Info;
    m_marlow = product && product->name().contains(QLatin1String("Marlow"), Qt::CaseInsensitive);
    const QString text = tr("Asking %1 what it is.").arg(address);
    emit message(LOG_INFO, text);
    emit asking(tr("Asking %1 what it is…").arg(address));
    if (!discoverySent) {
        readInfo();
        return;
    }
    m_window = new QTimer(this);
    m_window->setSingleShot(true);
    connect(m_window, &QTimer::timeout, this, [this] {
        // Gone once its own signal has returned.
        m_window->deleteLater();
        m_window = nullptr;
        readInfo();
    });
    m_window->start(m_settings.discoveryWindowMs);
}

bool ControllerIdentifier::takeDiscoveryReply(quint32 ip, unsigned short version, const Reply &reply)
{
    if (!m_window || ip != QHostAddress(m_address).toIPv4Address())
        return false;
    Identity identity = fromDiscovery(m_address, Identity::Kind::Other, reply);
    if (!m_sft.isEmpty() && reply.verstring.contains(m_sft, Qt::CaseSensitive))
        identity.kind = Identity::Kind::Selected;
    if (m_marlow && reply.verstring.contains(QLatin1String("Marlow"), Qt::CaseInsensitive))
        identity.revision = QString::number(version);
    // Later replies are not its answer.
    delete m_window;
    m_window = nullptr;
    // Not from inside the discovery object's signal: the run's end may delete it.
    QMetaObject::invokeMethod(
        this,
        [this, identity] {
            if (m_address == identity.address && !m_read)
                answer(identity);
        },
        Qt::QueuedConnection);
    return true;
}

void ControllerIdentifier::readInfo()
{
    m_buffer = QByteArray(kInfoBytes, '\0');
    m_read = new QTFTP(this, m_settings.infoReadTimeoutMs);
    m_read->setPort(m_settings.tftpPort);
    connect(m_read, &QTFTP::commandFinished, this, &ControllerIdentifier::infoReadDone);
    connect(m_read, &QTFTP::statusMessage, this,
            [](const QString &text) { qCDebug(lcTftp) << "identification:" << text; });
    // One byte short of the buffer: the text always ends in a NUL.
    m_read->commandRead(m_address, QStringLiteral("info"), m_buffer.data(), unsigned(m_buffer.size() - 1));
    m_read->start();
}

void ControllerIdentifier::infoReadDone(int result)
{
    // Only the read under way answers; one stopped earlier may still have queued its end.
    if (!m_read || sender() != m_read)
        return;
    const QByteArray info(m_buffer.constData(), int(qstrnlen(m_buffer.constData(), m_buffer.size())));
    m_read->disconnect(this);
    m_read->wait();
    delete m_read;
    m_read = nullptr;

    Identity identity;
    identity.address = m_address;
    if (result > 0) {
        qCDebug(lcTftp) << "identification: info" << info;
        // The controller takes no new request for a while after answering.
        m_pauser.pause(m_settings.afterInfoPauseMs);
        const QString version = ControllerVerifier::infoVersionText(info);
        if (!version.isNull()) {
            identity.kind = !m_sft.isEmpty() && version.contains(m_sft, Qt::CaseSensitive) ? Identity::Kind::Selected
                                                                                           : Identity::Kind::Other;
            identity.as = describe({version, QString::fromLatin1(info.left(qMax(0, info.indexOf('*'))))});
        }
        // Answered, whether or not it said what it is.
        identity.how = tr("\"info\"");
        const std::optional<quint32> revision = ControllerVerifier::infoRevision(info);
        if (revision && m_infoRoute)
            identity.revision = QString::number(*revision);
    }
    answer(identity);
}

void ControllerIdentifier::answer(const Identity &identity)
{
    stop();
    emit identified(identity);
}

void ControllerIdentifier::stop()
{
    delete m_window;
    m_window = nullptr;
    // Its buffer lives until it has ended.
    QTFTP::discard(m_read);
    m_address.clear();
}

QString ControllerIdentifier::describe(const Reply &reply)
{
    const QString id = reply.idstring.trimmed();
    const QString version = reply.verstring.trimmed();
    if (id.isEmpty())
        return version.isEmpty() ? tr("a controller without a name") : version;
    return version.isEmpty() ? id : QStringLiteral("%1 (%2)").arg(id, version);
}

ControllerIdentifier::Identity ControllerIdentifier::fromDiscovery(const QString &address, Identity::Kind kind,
                                                                   const Reply &reply)
{
    Identity identity;
    identity.address = address;
    identity.kind = kind;
    identity.as = describe(reply);
    identity.how = tr("discovery");
    return identity;
}
