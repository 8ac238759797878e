#include "dmx/FixtureSearch.h"

#include "dmx/FixtureSerial.h"

#include <QRegularExpression>
#include <QTimer>

FixtureSearch::FixtureSearch(Controls &controls, QObject *parent)
    : QObject(parent), m_controls(controls), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &FixtureSearch::stepTimedOut);
}

void FixtureSearch::setWaits(int supplyWindow, int stepLimit)
{
    m_supplyWindow = supplyWindow;
    m_stepLimit = stepLimit;
}

void FixtureSearch::start(const QString &address)
{
    const QString given = address.trimmed();
    QString refusal;
    // Closing, the panel takes no further step: the caller still gets its answer.
    if (m_halted)
        refusal = tr("The fixture search did not start: the updater is closing.");
    else if (m_stage != Stage::None || m_controls.runUnderWay())
        refusal = tr("A fixture search or a run is already under way.");
    static const QRegularExpression serialPattern(QStringLiteral("^[0-9A-Fa-f]{8}$"));
    const bool all = given.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0;
    if (refusal.isEmpty() && !all && !serialPattern.match(given).hasMatch())
        refusal = tr("\"%1\" is not a fixture serial number: give its eight hexadecimal digits, "
                     "or \"all\".")
                      .arg(given);
    if (!refusal.isEmpty()) {
        QTimer::singleShot(0, this, [this, refusal] { emit done(false, refusal); });
        return;
    }
    m_all = all;
    m_serial = all ? 0 : given.toUInt(nullptr, 16);
    m_note.clear();
    m_stage = Stage::Supplies;
    QTimer::singleShot(0, this, &FixtureSearch::begin);
}

void FixtureSearch::end(const QString &message)
{
    answer(false, message);
}

void FixtureSearch::halt()
{
    m_halted = true;
    m_timer->stop();
}

void FixtureSearch::begin()
{
    if (m_halted || m_stage != Stage::Supplies)
        return;
    emit logged(LOG_INFO, m_all ? tr("Looking for every fixture on the supplies...")
                                : tr("Looking for fixture %1...").arg(FixtureSerial::text(m_serial)));
    m_controls.discoverSupplies();
    m_timer->start(m_supplyWindow);
}

void FixtureSearch::supplyAnswered()
{
    // The supplies that answer within one window of the last are taken.
    if (m_stage == Stage::Supplies)
        m_timer->start(m_supplyWindow);
}

void FixtureSearch::fixtureAnswered()
{
    if (m_stage == Stage::Fixtures)
        m_timer->start(m_stepLimit);
}

void FixtureSearch::fixtureWindowEnded()
{
    fixturesKnown();
}

void FixtureSearch::stepTimedOut()
{
    switch (m_stage) {
    case Stage::None:
        return;
    case Stage::Supplies:
        if (m_controls.supplyCount() == 0) {
            notFound();
            return;
        }
        m_supplyIndex = 0;
        searchSupply();
        return;
    case Stage::Fixtures:
        // The discovery did not settle: look at what answered so far.
        fixturesKnown();
        return;
    case Stage::Ports:
        nextPort();
        return;
    }
}

void FixtureSearch::searchSupply()
{
    if (m_supplyIndex >= m_controls.supplyCount()) {
        notFound();
        return;
    }
    m_controls.chooseSupply(m_supplyIndex);
    m_stage = Stage::Fixtures;
    m_timer->start(m_stepLimit);
    if (!m_controls.discoverFixtures())
        fixturesKnown();
}

void FixtureSearch::fixturesKnown()
{
    if (m_stage != Stage::Fixtures)
        return;
    m_ports.clear();
    const QString supplyName = m_controls.supplyName();
    const QList<Controls::Port> ports = m_controls.ports();
    for (int i = 0; i < ports.size(); ++i) {
        bool candidate = false;
        for (quint64 s : ports.at(i).fixtures) {
            const quint32 serial = quint32(s);
            const bool ofType = m_controls.ofProductType(serial);
            if (m_all) {
                candidate = candidate || ofType;
            } else if (serial == m_serial) {
                candidate = ofType;
                if (!ofType) {
                    const QString product = m_controls.productName();
                    m_note = tr("Fixture %1 answers on port %2 of %3, but it is not a %4.")
                                 .arg(FixtureSerial::text(serial), ports.at(i).name, supplyName,
                                      product.isNull() ? tr("fixture of the selected type") : product);
                }
            }
        }
        if (candidate)
            m_ports.append(i);
    }
    m_stage = Stage::Ports;
    nextPort();
}

void FixtureSearch::nextPort()
{
    if (m_stage != Stage::Ports)
        return;
    m_awaitsRevision = false;
    if (m_ports.isEmpty()) {
        ++m_supplyIndex;
        searchSupply();
        return;
    }
    // The port's list is built and settled as the operator's choice of port
    // would; its end (listSettled) takes the search on.
    m_timer->start(m_stepLimit);
    m_controls.choosePort(m_ports.takeFirst());
}

void FixtureSearch::listSettled()
{
    if (m_stage != Stage::Ports || m_awaitsRevision)
        return;
    // Found once its revision is read and shown, as the operator would see it.
    m_awaitsRevision = true;
    if (!m_controls.chooseListed(m_all, m_serial)) {
        // Not listed for this product here (the LX feature tells): the next port.
        m_awaitsRevision = false;
        QTimer::singleShot(0, this, &FixtureSearch::nextPort);
    }
}

void FixtureSearch::revisionShown(quint32 serial, bool allowed)
{
    if (m_stage != Stage::Ports || !m_awaitsRevision || (!m_all && serial != m_serial))
        return;
    const QString where =
        tr("port %1 of %2").arg(m_controls.chosenPortName(), m_controls.supplyName());
    // PROGRAM takes a typed serial first: the field is emptied so that it
    // acts on what the search chose.
    m_controls.offerListed(m_all && allowed);
    if (m_all && allowed) {
        answer(true, tr("%1 fixtures found on %2; all of them are chosen.")
                         .arg(m_controls.listedCount())
                         .arg(where));
        return;
    }
    if (!allowed) {
        // Not entered by hand either: that would be a way around the version
        // rule. Nor is "all" offered past a fixture that the rule refuses.
        answer(false, tr("Fixture %1 was found on %2, but its firmware revision cannot be "
                         "updated here (%3).")
                          .arg(FixtureSerial::text(serial), where, m_controls.revisionShown()));
        return;
    }
    answer(true, tr("Fixture %1 found on %2.").arg(FixtureSerial::text(serial), where));
}

void FixtureSearch::notFound()
{
    const bool noSupply = m_controls.supplyCount() == 0;
    const QString product = m_controls.productName();
    if (m_all) {
        const QString type = product.isNull() ? tr("selected type") : product;
        answer(false, noSupply
                          ? tr("No power supply answered discovery, so no %1 fixture can be reached.")
                                .arg(type)
                          : tr("No %1 fixture was found on any supply.").arg(type));
        return;
    }
    const QString serial = FixtureSerial::text(m_serial);
    QString message;
    if (noSupply)
        message = tr("No power supply answered discovery, so fixture %1 cannot be reached.")
                      .arg(serial);
    else if (!m_note.isEmpty())
        message = m_note;
    else
        message = tr("Fixture %1 was not found on any supply.").arg(serial);
    // Left as the operator would type it, with PROGRAM offered as typing offers it.
    m_controls.typeSerial(m_serial);
    answer(false, message);
}

void FixtureSearch::answer(bool found, const QString &message)
{
    m_stage = Stage::None;
    m_awaitsRevision = false;
    m_timer->stop();
    emit done(found, message);
}
