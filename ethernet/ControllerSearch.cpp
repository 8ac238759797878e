#include "ethernet/ControllerSearch.h"

#include "catalogue/BootLoadProduct.h"

#include <QHostAddress>

ControllerSearch::ControllerSearch(ControllerIdentifier &identifier, QObject *parent)
    : QObject(parent), m_identifier(identifier)
{
    connect(&m_identifier, &ControllerIdentifier::identified, this, &ControllerSearch::identified);
}

QString ControllerSearch::begin(const QString &text, const QHostAddress &host, bool busy)
{
    if (host.isNull())
        return tr("\"%1\" is not the IP address of a controller.").arg(text);
    if (isActive() || busy)
        return tr("Controller %1 was not searched for: the panel is busy.").arg(host.toString());
    m_address = host.toString();
    m_readingRevision = false;
    m_reply = {};
    return QString();
}

QString ControllerSearch::discoveryNotStarted(bool typeSelected)
{
    const QString message = typeSelected
        ? tr("Controller %1 was not searched for: the discovery request could not be sent.").arg(m_address)
        : tr("Controller %1 was not searched for: no device type with a controller description is selected.")
              .arg(m_address);
    m_address.clear();
    return message;
}

void ControllerSearch::discoveryEnded(int listed, int listCount, const std::optional<Reply> &reply,
                                      const BootLoadProduct *product)
{
    m_type = product ? product->name() : QString();
    m_reply = reply.value_or(Reply());
    if (listed >= 0) {
        m_readingRevision = true;
        emit readRevision(listed);
        return;
    }
    emit message(LOG_WARNING, listCount > 0 ? tr("Controller %1 is not among those discovered.").arg(m_address)
                                            : tr("No device discovered."));
    if (reply) {
        // It answered, as another type: nothing is offered for it.
        identified(ControllerIdentifier::fromDiscovery(m_address, Identity::Kind::Other, *reply));
        return;
    }
    // Silent to discovery: its "info" may still say what it is.
    m_identifier.start(m_address, product, false);
}

void ControllerSearch::revisionRead(bool ok, const QString &shown)
{
    if (!m_readingRevision)
        return;
    m_readingRevision = false;
    if (ok) {
        finish(true, tr("Controller %1 found: %2.").arg(m_address, shown));
        return;
    }
    // Discovery said what it is: it may be written as a typed address, which
    // a run must be allowed to do.
    const QString address = m_address;
    Identity identity = ControllerIdentifier::fromDiscovery(address, Identity::Kind::Selected, m_reply);
    identity.revisionUntold = true;
    enter(identity);
    finish(false, tr("Controller %1 answered discovery but not the question for its firmware revision; it is "
                     "entered as a manual address.")
                      .arg(address));
}

void ControllerSearch::identified(const Identity &identity)
{
    const QString address = identity.address;
    if (identity.kind == Identity::Kind::Other) {
        finish(false, tr("Controller %1 answers %2 as %3, not as %4: nothing is sent to it.")
                          .arg(address, identity.how, identity.as, m_type));
        return;
    }
    // As an operator would: the address typed in, for PROGRAM to use once
    // its question has been answered.
    enter(identity);
    if (identity.kind == Identity::Kind::Selected)
        finish(false, tr("Controller %1 did not answer discovery; its %2 says it is %3: it is entered as a "
                         "manual address.")
                          .arg(address, identity.how, identity.as));
    else if (identity.how.isEmpty())
        finish(false, tr("Controller %1 answered neither discovery nor a read of its \"info\".").arg(address));
    else
        finish(false, tr("Controller %1 did not answer discovery, and its \"info\" does not say what it is.")
                          .arg(address));
}

void ControllerSearch::enter(const Identity &identity)
{
    emit enterAddress(identity.address);
    m_learnt = identity;
}

void ControllerSearch::finish(bool found, const QString &message)
{
    m_address.clear();
    m_readingRevision = false;
    emit finished(found, message);
}

void ControllerSearch::stop()
{
    m_identifier.stop();
    m_address.clear();
    m_readingRevision = false;
}

std::optional<ControllerSearch::Identity> ControllerSearch::takeLearnt(const QString &address)
{
    std::optional<Identity> learnt;
    learnt.swap(m_learnt);
    if (learnt && learnt->address != address)
        learnt.reset();
    return learnt;
}
