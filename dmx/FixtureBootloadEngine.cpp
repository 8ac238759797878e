#include "dmx/FixtureBootloadEngine.h"

#include "base/Pauser.h"
#include "base/ProgressHandle.h"
#include "base/Prompter.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "dmx/FixtureSerial.h"
#include "dmx/Hollis.h"

#include <QCoreApplication>
#include <QWidget>

#include <algorithm>

namespace {

constexpr qint32 kIntelHex = 0;
constexpr qint32 kCypressPsoc = 1;

// Steps of a product's flow mask (Intel HEX procedure only).
constexpr quint8 kAdvancedMode = 0x01;
constexpr quint8 kBootloadMode = 0x02;
constexpr quint8 kErase = 0x04;
constexpr quint8 kWritePages = 0x08;
constexpr quint8 kFinalize = 0x10;

// Pages and paragraphs are numbered in 16 bits on the wire, page lengths too.
constexpr quint32 kMaxBlocks = 0x10000;
constexpr quint32 kMaxPageSize = 0xFFFF;
// A paragraph's length travels in 8 bits; the fixture takes at most 16 bytes.
constexpr int kMaxParagraphLength = 16;

// Upper 16 bits of the serials of the fixture model that needs the model flag.
constexpr quint16 kModelPrefixes[] = {0x8100, 0x8180, 0x8200, 0x8280,
                                      0x8300, 0x8380, 0x8400, 0x8480};

void processEvents()
{
    QCoreApplication::processEvents();
}

} // namespace

struct FixtureBootloadEngine::Session {
    Session(quint32 serial, int device, int port)
        : hollis(ZelHollis::Hollis::Instance()), sn(QString::number(serial, 16))
    {
        outcome.serial = serial;
        outcome.device = device;
        outcome.port = port;
    }

    ZelHollis::Hollis &hollis;
    FixtureOutcome outcome;
    QString sn; // the serial as the step messages write it
    std::unique_ptr<ProgressHandle> progress;
    // The last step of the product's flow; with it accepted the fixture has everything.
    FixtureOutcome::Step lastStep = FixtureOutcome::Step::Finalize;
    // The last step accepted, and its block of how many, for pages and paragraphs.
    FixtureOutcome::Step reached = FixtureOutcome::Step::None;
    int block = -1;
    int blocks = 0;
    bool complete = false;
    bool stopped = false;
};

FixtureBootloadEngine::FixtureBootloadEngine(Prompter &prompter, Pauser &pauser,
                                             QWidget *dialogParent, QObject *parent)
    : QObject(parent), m_prompter(prompter), m_pauser(pauser), m_dialogParent(dialogParent)
{
    setObjectName(QStringLiteral("FixtureBootloadEngine"));
}

FixtureBootloadEngine::~FixtureBootloadEngine() = default;

bool FixtureBootloadEngine::modelFlag(quint32 serial)
{
    const quint16 prefix = quint16(serial >> 16);
    return std::find(std::begin(kModelPrefixes), std::end(kModelPrefixes), prefix)
        != std::end(kModelPrefixes);
}

FixtureBootloadEngine::Layout FixtureBootloadEngine::layoutOf(const BootLoadProduct &product,
                                                              QString *why)
{
    const auto refused = [why](const QString &text) {
        if (why)
            *why = text;
        return Layout::None;
    };
    const QString name = product.name();
    const MicroprocessorImageInfo *main = product.processor(0);
    Layout layout = Layout::None;
    switch (product.processorCount()) {
    case 1:
        // A single processor keyed other than 0 cannot be told apart from a
        // second processor whose first is missing: neither is programmed.
        if (!main)
            return refused(tr("Missing microprocessor image information. The catalogue gives "
                              "%1 no processor 1.")
                               .arg(name));
        if (main->fileType() != kIntelHex)
            return refused(tr("%1 has a single processor of file type %2; fixtures with one "
                              "processor take Intel HEX images only.")
                               .arg(name)
                               .arg(main->fileType()));
        layout = Layout::IntelHex;
        break;
    case 2: {
        const MicroprocessorImageInfo *driver = product.processor(1);
        if (!main || !driver)
            return refused(tr("Missing microprocessor image information. %1 needs processors 1 "
                              "and 2 in the catalogue.")
                               .arg(name));
        if (main->fileType() != kIntelHex || driver->fileType() != kCypressPsoc)
            return refused(tr("File type mismatch. Expecting Intel HEX. %1 needs an Intel HEX "
                              "processor 1 and a Cypress PSoC processor 2.")
                               .arg(name));
        if (quint32(driver->paragraphCount()) > kMaxBlocks)
            return refused(tr("%1: the image has %2 paragraphs for processor 2; a fixture takes "
                              "at most %3.")
                               .arg(name)
                               .arg(driver->paragraphCount())
                               .arg(kMaxBlocks));
        layout = Layout::IntelHexPSoC;
        break;
    }
    default:
        return refused(tr("%1 has %2 processors in the catalogue; fixtures are programmed with "
                          "one or two.")
                           .arg(name)
                           .arg(product.processorCount()));
    }

    // Erasing a fixture and then writing nothing, or pages whose numbers or
    // lengths do not fit the wire, would leave it without working firmware.
    if (layout == Layout::IntelHexPSoC || (product.programFlow() & kWritePages)) {
        if (main->pageSize() == 0 || main->pageSize() > kMaxPageSize)
            return refused(tr("%1: processor 1 has the page size %2; a fixture takes pages of 1 "
                              "to %3 bytes.")
                               .arg(name)
                               .arg(main->pageSize())
                               .arg(kMaxPageSize));
        if (main->pageCount() == 0)
            return refused(tr("%1: the image holds no whole page for processor 1, so the "
                              "fixture would be erased and left empty.")
                               .arg(name));
        if (main->pageCount() > kMaxBlocks)
            return refused(tr("%1: the image has %2 pages for processor 1; a fixture takes at "
                              "most %3.")
                               .arg(name)
                               .arg(main->pageCount())
                               .arg(kMaxBlocks));
    }
    if (why)
        why->clear();
    return layout;
}

void FixtureBootloadEngine::log(LOGPRIORITY priority, const QString &text)
{
    emit signal_log(priority, LOGTYPE_GENERAL,
                    m_dialogParent ? m_dialogParent->objectName() : objectName(), text);
}

FixtureOutcome FixtureBootloadEngine::refuse(FixtureOutcome outcome, const QString &logText,
                                             const QString &reason)
{
    log(LOG_WARNING, logText);
    outcome.result = FixtureOutcome::Result::NotRun;
    outcome.reason = reason;
    return outcome;
}

void FixtureBootloadEngine::open(Session &s, int maximum)
{
    // Without a cancel button: a fixture left half written is worse than waiting.
    s.progress = m_prompter.openProgress(m_dialogParent, tr("Bootloading"),
                                         QStringLiteral("Bootloading SN:%1")
                                             .arg(FixtureSerial::text(s.outcome.serial)),
                                         QString(), 0, maximum);
    s.progress->setValue(0);
}

void FixtureBootloadEngine::announce(Session &s, const QString &logText, const QString &label)
{
    log(LOG_INFO, logText);
    s.progress->setLabelText(label);
    processEvents();
}

void FixtureBootloadEngine::advance(Session &s, int value)
{
    s.progress->setValue(value);
    processEvents();
}

QString FixtureBootloadEngine::stepText(FixtureOutcome::Step step, int block, int blocks)
{
    using Step = FixtureOutcome::Step;
    switch (step) {
    case Step::AdvancedMode: return tr("Setting all fixtures to advanced mode");
    case Step::BootloadMode: return tr("Sending to boot loading mode");
    case Step::Erase: return tr("Erasing flash");
    case Step::Page: return tr("Writing page %1/%2").arg(block + 1).arg(blocks);
    case Step::Paragraph: return tr("Writing paragraph %1/%2").arg(block + 1).arg(blocks);
    case Step::Finalize: return tr("Finalize and reset");
    case Step::None: break;
    }
    return QString();
}

bool FixtureBootloadEngine::proceed(const Session &s) const
{
    return !s.stopped;
}

std::optional<FixtureOutcome> FixtureBootloadEngine::stop(const QString &why)
{
    if (!m_session)
        return std::nullopt;
    using Step = FixtureOutcome::Step;
    Session &s = *m_session;
    FixtureOutcome &o = s.outcome;
    if (s.stopped || o.result != FixtureOutcome::Result::NotRun)
        return o; // already ended, by a refused step or an earlier stop
    s.stopped = true;
    const QString serial = FixtureSerial::text(o.serial);
    if (s.complete) {
        o.result = FixtureOutcome::Result::Updated;
        log(LOG_WARNING, QStringLiteral("SN:%1 - every step was sent; stopped: %2.").arg(serial, why));
        return o;
    }
    // The advanced mode goes to the whole port and changes no fixture's flash.
    if (s.reached == Step::None || s.reached == Step::AdvancedMode) {
        o.reason = tr("Stopped before anything was sent to the fixture: %1.").arg(why);
        log(LOG_WARNING, QStringLiteral("SN:%1 - %2").arg(serial, o.reason));
        return o;
    }
    QString after = stepText(s.reached, s.block, s.blocks);
    after[0] = after[0].toLower();
    o.result = FixtureOutcome::Result::Failed;
    o.reason = tr("Stopped after %1: %2. %3")
                   .arg(after, why,
                        s.reached >= Step::Erase
                            ? tr("Its flash may be blank or incomplete: program it again before use.")
                            : tr("Its flash was not touched."));
    log(LOG_SEVERE, QStringLiteral("SN:%1 - %2").arg(serial, o.reason));
    return o;
}

bool FixtureBootloadEngine::accepted(Session &s, bool result, FixtureOutcome::Step step,
                                     int block, int blocks)
{
    using Step = FixtureOutcome::Step;
    if (result) {
        s.reached = step;
        s.block = block;
        s.blocks = blocks;
        s.complete = step == s.lastStep && (block < 0 || block + 1 == blocks);
        return true;
    }
    const QString what = stepText(step, block, blocks);
    const QString consequence = step >= Step::Erase
        ? tr("Its flash may be blank or incomplete: program it again before use.")
        : tr("Its flash was not touched.");
    s.outcome.result = FixtureOutcome::Result::Failed;
    s.outcome.failedStep = step;
    s.outcome.block = block;
    s.outcome.reason = tr("%1 was refused. %2").arg(what, consequence);
    log(LOG_SEVERE, tr("SN:%1 - %2 was refused. Nothing more was sent to this fixture. %3")
                        .arg(FixtureSerial::text(s.outcome.serial), what, consequence));
    return false;
}

FixtureOutcome FixtureBootloadEngine::finish(Session &s)
{
    s.progress->close();
    s.progress.reset();
    processEvents();
    m_session = nullptr;
    return s.outcome;
}

FixtureOutcome FixtureBootloadEngine::bootloadIntelHex(const BootLoadProduct &product,
                                                       quint32 serial, int device, int port)
{
    Session s(serial, device, port);

    QString why;
    const Layout layout = layoutOf(product, &why);
    if (layout != Layout::IntelHex) {
        if (why.isEmpty())
            why = tr("%1 is not a single-processor Intel HEX product.").arg(product.name());
        return refuse(s.outcome, why, why);
    }

    const MicroprocessorImageInfo &info = *product.processor(0);
    const quint8 flow = product.programFlow();
    const quint32 pages = info.pageCount();
    const quint32 pageSize = info.pageSize();
    const int processorNumber = info.hierarchy() + 1;
    ZelHollis::Hollis &hollis = s.hollis;
    const QString &sn = s.sn;
    using Step = FixtureOutcome::Step;

    if (flow & kFinalize)
        s.lastStep = Step::Finalize;
    else if (flow & kWritePages)
        s.lastStep = Step::Page;
    else if (flow & kErase)
        s.lastStep = Step::Erase;
    else if (flow & kBootloadMode)
        s.lastStep = Step::BootloadMode;
    else
        s.lastStep = Step::AdvancedMode;

    m_session = &s;
    log(LOG_INFO, QStringLiteral("Programming %1 SN:%2 processor:%3...")
                      .arg(product.name(), FixtureSerial::text(serial))
                      .arg(processorNumber));
    open(s, int(pages) + 25);
    const bool model = modelFlag(serial);

    if (!product.prompt().isEmpty())
        m_prompter.showMessage(m_dialogParent, Prompter::Kind::Information, tr("Information"),
                               product.prompt(), QMessageBox::Ok);

    if (flow & kAdvancedMode) {
        const QString text = QStringLiteral("Setting all fixtures to advanced mode.");
        announce(s, text, text);
        if (!proceed(s)
            || !accepted(s, hollis.zeldmxAdvancedModeEntry(device, port), Step::AdvancedMode))
            return finish(s);
        advance(s, 5);
    }
    if (flow & kBootloadMode) {
        const QString text = QStringLiteral("SN %1 - Sending to boot loading mode.").arg(sn);
        announce(s, text, tr("SN %1 - Sending to boot loading mode.").arg(sn));
        if (!proceed(s)
            || !accepted(s, hollis.zeldmxEnterBootloadMode(device, port, serial), Step::BootloadMode))
            return finish(s);
        advance(s, 10);
    }
    if (flow & kErase) {
        announce(s, QStringLiteral("SN %1 - Erasing microprocessor %2 flash.").arg(sn).arg(processorNumber),
                 tr("SN %1 - Erasing flash.").arg(sn));
        if (!proceed(s)
            || !accepted(s, hollis.zeldmxBootloadStart(device, port, serial, model), Step::Erase))
            return finish(s);
        advance(s, 15);
    }
    if (flow & kWritePages) {
        announce(s, QStringLiteral("SN %1 - Writing microprocessor %2 flash.").arg(sn).arg(processorNumber),
                 tr("SN %1 - Writing flash.").arg(sn));
        QByteArray page;
        for (quint32 i = 0; i < pages; ++i) {
            if (!proceed(s))
                return finish(s);
            info.copyPage(i, pageSize, page);
            const bool ok = hollis.zeldmxBootloadWriteIntelHex(
                device, port, serial, quint16(i), reinterpret_cast<const quint8 *>(page.constData()),
                quint16(pageSize), model);
            if (!accepted(s, ok, Step::Page, int(i), int(pages)))
                return finish(s);
            log(LOG_INFO, QStringLiteral("SN %1 - Sent record %2/%3.").arg(sn).arg(i + 1).arg(pages));
            advance(s, int(i) + 15);
        }
        advance(s, int(pages) + 20);
    }
    if (flow & kFinalize) {
        const QString text = QStringLiteral("SN %1 - Finalize and reset.").arg(sn);
        announce(s, text, tr("SN %1 - Finalize and reset.").arg(sn));
        if (!proceed(s)
            || !accepted(s, hollis.zeldmxBootloadDone(device, port, serial, model), Step::Finalize))
            return finish(s);
        advance(s, int(pages) + 25);
        // Stopped now, the fixture restarts all the same; nobody waits for it.
        if (proceed(s))
            m_pauser.pause(m_finalizePause);
    }
    s.outcome.result = FixtureOutcome::Result::Updated;
    return finish(s);
}

FixtureOutcome FixtureBootloadEngine::bootloadIntelHexPSoC(const BootLoadProduct &product,
                                                           quint32 serial, int device, int port)
{
    Session s(serial, device, port);

    QString why;
    const Layout layout = layoutOf(product, &why);
    if (layout != Layout::IntelHexPSoC) {
        if (why.isEmpty())
            why = tr("Missing microprocessor image information. %1 is not a two-processor "
                     "product.")
                      .arg(product.name());
        return refuse(s.outcome, why, why);
    }

    const MicroprocessorImageInfo &main = *product.processor(0);
    const MicroprocessorImageInfo &driver = *product.processor(1);
    const quint32 pages = main.pageCount();
    const quint32 pageSize = main.pageSize();
    const int paragraphs = driver.paragraphCount();
    ZelHollis::Hollis &hollis = s.hollis;
    const QString &sn = s.sn;
    using Step = FixtureOutcome::Step;

    m_session = &s;
    log(LOG_INFO, QStringLiteral("Programming %1 SN:%2 processor:%3...")
                      .arg(product.name(), FixtureSerial::text(serial))
                      .arg(1));
    open(s, paragraphs + int(pages) + 25);

    QString text = QStringLiteral("Setting all fixtures to advanced mode.");
    announce(s, text, text);
    if (!proceed(s)
        || !accepted(s, hollis.zeldmxAdvancedModeEntry(device, port), Step::AdvancedMode))
        return finish(s);
    advance(s, 5);

    text = QStringLiteral("SN %1 - Sending to boot loading mode.").arg(sn);
    announce(s, text, tr("SN %1 - Sending to boot loading mode.").arg(sn));
    if (!proceed(s)
        || !accepted(s, hollis.zeldmxEnterBootloadMode(device, port, serial), Step::BootloadMode))
        return finish(s);
    advance(s, 10);

    announce(s, QStringLiteral("SN %1 - Erasing microprocessor %2 flash.").arg(sn).arg(1),
             tr("SN %1 - Erasing flash.").arg(sn));
    if (!proceed(s)
        || !accepted(s, hollis.zeldmxBootloadStart(device, port, serial, false), Step::Erase))
        return finish(s);
    advance(s, 15);

    announce(s, QStringLiteral("SN %1 - Writing microprocessor %2 flash.").arg(sn).arg(1),
             tr("SN %1 - Writing microprocessor %2 flash.").arg(sn).arg(1));
    QByteArray page;
    for (quint32 i = 0; i < pages; ++i) {
        if (!proceed(s))
            return finish(s);
        main.copyPage(i, pageSize, page);
        const bool ok = hollis.zeldmxBootloadWriteIntelHex(
            device, port, serial, quint16(i), reinterpret_cast<const quint8 *>(page.constData()),
            quint16(pageSize), false);
        if (!accepted(s, ok, Step::Page, int(i), int(pages)))
            return finish(s);
        log(LOG_INFO, QStringLiteral("SN %1 - Sent record %2/%3.").arg(sn).arg(i + 1).arg(pages));
        advance(s, int(i) + 15);
    }

    announce(s, QStringLiteral("SN %1 - Writing microprocessor %2 flash.").arg(sn).arg(2),
             tr("SN %1 - Writing microprocessor %2 flash.").arg(sn).arg(2));
    for (int k = 0; k < paragraphs; ++k) {
        if (!proceed(s))
            return finish(s);
        const QByteArray paragraph = driver.paragraph(k);
        // A longer paragraph goes whole; the fixture reads the first 16 bytes.
        const quint8 length = quint8(std::min<qsizetype>(paragraph.size(), kMaxParagraphLength));
        const bool ok =
            hollis.zeldmxBootloadWriteCypressPSoC(device, port, serial, quint16(k), paragraph, length);
        if (!accepted(s, ok, Step::Paragraph, k, paragraphs))
            return finish(s);
        log(LOG_INFO, QStringLiteral("SN %1 - Sent paragraph %2/%3.").arg(sn).arg(k + 1).arg(paragraphs));
        advance(s, int(pages) + 15 + k);
    }
    advance(s, paragraphs + int(pages) + 20);

    text = QStringLiteral("SN %1 - Finalize and reset.").arg(sn);
    announce(s, text, tr("SN %1 - Finalize and reset.").arg(sn));
    if (!proceed(s)
        || !accepted(s, hollis.zeldmxBootloadDone(device, port, serial, false), Step::Finalize))
        return finish(s);
    advance(s, paragraphs + int(pages) + 25);
    if (proceed(s))
        m_pauser.pause(m_finalizePause);

    s.outcome.result = FixtureOutcome::Result::Updated;
    return finish(s);
}
