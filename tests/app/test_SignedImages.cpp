// Signed images in the window, from the file selection to the record:
// keys and signatures are made by minisign, as a maker would make them.
#include "tests/app/WindowFixture.h"

#include "app/HistoryDialog.h"
#include "app/RunEvents.h"
#include "catalogue/BootLoadProduct.h"
#include "catalogue/SigningKey.h"
#include "catalogue/TrustedKeys.h"
#include "usb/SimulatedSr3Usb.h"
#include "usb/usbInterfaceControl.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Kind = Prompter::Kind;

const quint32 kSorrelMagic = 0x53523301;
const QString kQuestion = QStringLiteral("This image is not signed by a trusted key. Program it anyway?");
const QString kRefused = QStringLiteral("The image was refused: nothing can be programmed with it.");

QString processor(const QString &magic)
{
    return QStringLiteral("<Processor><ProcName>main</ProcName><Heirarchy>1</Heirarchy>"
                          "<FileType>Intel HEX</FileType><BLRev>1</BLRev><PageSize>64</PageSize>"
                          "<WordSize>1</WordSize><WordCount>100</WordCount><MagicLoc>10</MagicLoc>"
                          "<MagicFlag>%1</MagicFlag><VerLoc>14</VerLoc></Processor>")
        .arg(magic);
}

QString keyId(const QString &publicKeyPath)
{
    QFile file(publicKeyPath);
    file.open(QIODevice::ReadOnly);
    return SigningKey::fromText(file.readAll())->idText();
}

} // namespace

class TestSignedImages : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_previousDir;
    QString m_catalogue;
    QString m_minisign;
    QString m_keys; // maker.pub and a damaged key

    QString file(const QString &name) const { return m_dir.filePath(name); }
    bool minisign(const QStringList &arguments)
    {
        QProcess process;
        process.start(m_minisign, arguments);
        process.closeWriteChannel();
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
            && process.exitCode() == 0;
    }
    QString sorrelImage(const QString &name, quint32 version)
    {
        return writeFile(file(name), hexImage({{0x10, kSorrelMagic}, {0x14, version}}));
    }

private slots:
    void initTestCase();
    void cleanupTestCase() { QDir::setCurrent(m_previousDir); }
    void signaturePolicyFromSelectionToRecord_data();
    void signaturePolicyFromSelectionToRecord();
    void sampleImagesAreSignedOnlyForSimulatedDevices_data();
    void sampleImagesAreSignedOnlyForSimulatedDevices();
};

void TestSignedImages::initTestCase()
{
    m_minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    QVERIFY2(!m_minisign.isEmpty(),
             "minisign not found: install the Debian package minisign (scripts/install-deps.sh does)");
    QVERIFY(m_dir.isValid());
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_dir.path()); // the record and the logs land here
    m_catalogue = writeFile(file("zelblprod.xml"),
                            QStringLiteral("<ZELBLProductList><USBDevice><Name>Sorrel 3</Name>%1"
                                           "</USBDevice></ZELBLProductList>")
                                .arg(processor(QStringLiteral("53523301"))));
    QVERIFY(QDir(m_dir.path()).mkdir("keys"));
    m_keys = file("keys");
    QVERIFY(minisign({"-G", "-W", "-p", file("keys/maker.pub"), "-s", file("maker.key")}));
    QVERIFY(minisign({"-G", "-W", "-p", file("stranger.pub"), "-s", file("stranger.key")}));
    writeFile(file("keys/broken.pub"), QStringLiteral("untrusted comment: cut short\nRWQ\n"));
}

void TestSignedImages::signaturePolicyFromSelectionToRecord_data()
{
    QTest::addColumn<QString>("keys");    // "folder", "option" (-trustedKey=), "none"
    QTest::addColumn<QString>("signer");  // "maker", "stranger", "garbage", "none"
    QTest::addColumn<QString>("comment"); // the trusted comment signed
    QTest::addColumn<bool>("changedAfterSigning");
    QTest::addColumn<QString>("refusal"); // part of the box; empty: accepted
    QTest::addColumn<QString>("label");   // beside the image summary
    QTest::addColumn<int>("answer");      // to the unsigned question; NoButton: not asked
    QTest::addColumn<QString>("recorded"); // the record's signature; empty: nothing sent

    const QString maker = keyId(file("keys/maker.pub"));
    const QString signedLabel = QStringLiteral("Signed by %1 (minisign public key %1)\nTrusted comment: ").arg(maker);
    const int none = QMessageBox::NoButton;
    QTest::newRow("signed by a key of the key folder")
        << "folder" << "maker" << "product=Sorrel 3 version=1.0.82" << false << QString()
        << signedLabel + "product=Sorrel 3 version=1.0.82" << none << "valid";
    QTest::newRow("signed by a -trustedKey= key, no product named")
        << "option" << "maker" << "release 7" << false << QString() << signedLabel + "release 7"
        << none << "valid";
    QTest::newRow("signed by a key that is not trusted")
        << "folder" << "stranger" << "product=Sorrel 3" << false
        << QStringLiteral("is signed by key %1, which is not a trusted key.").arg(keyId(file("stranger.pub")))
        << QString() << none << QString();
    QTest::newRow("image changed after signing")
        << "folder" << "maker" << "product=Sorrel 3" << true
        << "does not verify: the image is not the one that was signed." << QString() << none << QString();
    QTest::newRow("signature file damaged")
        << "folder" << "garbage" << QString() << false
        << "is damaged: its second line is not the base64 text of a signature." << QString() << none
        << QString();
    QTest::newRow("signed for another product")
        << "folder" << "maker" << "product=Vireo Player version=2.1.0" << false
        << "was signed for Vireo Player, not for Sorrel 3." << QString() << none << QString();
    QTest::newRow("unsigned with keys installed, not confirmed")
        << "folder" << "none" << QString() << false << QString()
        << "Unsigned: this image is not signed by a trusted key; PROGRAM asks before writing it."
        << int(QMessageBox::No) << QString();
    QTest::newRow("unsigned with keys installed, confirmed")
        << "option" << "none" << QString() << false << QString()
        << "Unsigned: this image is not signed by a trusted key; PROGRAM asks before writing it."
        << int(QMessageBox::Yes) << "unsigned";
    QTest::newRow("unsigned without keys: no question")
        << "none" << "none" << QString() << false << QString()
        << "Unsigned: no trusted key is installed, so no signature is checked." << none << "unsigned";
}

void TestSignedImages::signaturePolicyFromSelectionToRecord()
{
    QFETCH(QString, keys);
    QFETCH(QString, signer);
    QFETCH(QString, comment);
    QFETCH(bool, changedAfterSigning);
    QFETCH(QString, refusal);
    QFETCH(QString, label);
    QFETCH(int, answer);
    QFETCH(QString, recorded);

    QFile::remove(file("updates.jsonl"));
    const QString image = sorrelImage(QStringLiteral("sorrel-%1.hex").arg(QTest::currentDataTag()), 0x10052);
    if (signer == QLatin1String("maker") || signer == QLatin1String("stranger"))
        QVERIFY(minisign({"-S", "-s", file(signer + ".key"), "-m", image, "-t", comment}));
    else if (signer == QLatin1String("garbage"))
        writeFile(image + ".minisig", QStringLiteral("untrusted comment: x\nnot base64\ntrusted comment: \nx\n"));
    if (changedAfterSigning)
        sorrelImage(QFileInfo(image).fileName(), 0x10053);

    WindowFixture::Options o;
    o.cataloguePath = m_catalogue;
    if (keys == QLatin1String("folder"))
        o.keyFolders = QStringList{m_keys, file("no such folder")};
    else if (keys == QLatin1String("option"))
        o.trustedKeyPaths = {file("keys/maker.pub")};
    WindowFixture f(o);
    if (keys == QLatin1String("folder")) {
        // A damaged key is named and left out; the whole one beside it is trusted.
        QCOMPARE(f.logLines().filter("The key file " + file("keys/broken.pub") + " is damaged and is not trusted").size(), 1);
        QStringList origins;
        for (const SigningKey &key : f.window->trustedKeys().keys())
            origins.append(key.origin());
        QVERIFY(origins.contains(file("keys/maker.pub")));
        QVERIFY(!origins.contains(file("keys/broken.pub")));
    }
    QCOMPARE(f.logLines().filter("No trusted key is installed").size(), keys == QLatin1String("none") ? 1 : 0);

    auto &sr3 = static_cast<SimulatedSr3Usb &>(f.devices->sr3());
    // One build older than the image: the same version before and after
    // would prove nothing, and the run would end not verified.
    sr3.setFirmwareVersion(0x10051);
    sr3.setVersionOffset(0x14);
    auto *signatureLabel = f.find<QLabel>(QStringLiteral("m_label_signature"));
    f.prompter.expectFileDialog(image);
    if (!refusal.isEmpty()) {
        f.prompter.expectMessage(Kind::Critical, QStringLiteral("Signature refused"), QString());
        f.prompter.expectFileDialog(QString()); // the operator gives up
    }
    f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    QCOMPARE(f.prompter.pendingExpectations(), 0);

    if (!refusal.isEmpty()) {
        const QString box = f.prompter.shown().at(1).text;
        QVERIFY2(box.contains(refusal) && box.endsWith(kRefused), qPrintable(box));
        QCOMPARE(f.logLines().filter("SEVERE - BootLoadProduct - " + box.section('\n', 0, 0)).size(), 1);
        QCOMPARE(f.window->runState(), ZelBootLoader::RunState::Idle);
        QVERIFY(!f.window->currentProduct()->imageReady());
        QVERIFY(f.window->currentProduct()->imageData().isEmpty());
        QCOMPARE(signatureLabel->text(), QString());
        // A player connected afterwards cannot be given anything.
        f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_USBConnect"))->click();
        QSignalSpy records(f.window->runEvents(), &RunEvents::runRecorded);
        f.prompter.expectMessage(Kind::Critical, QStringLiteral("Critical Error"),
                                 QStringLiteral("No firmware image has been accepted for Sorrel 3: "
                                                "nothing was programmed."));
        f.window->program();
        QCOMPARE(f.prompter.pendingExpectations(), 0);
        QCOMPARE(records.size(), 0);
        return;
    }

    QCOMPARE(signatureLabel->text(), label);
    // What is sent is what was checked: the file changed on disk afterwards
    // changes nothing.
    QFile checkedFile(image);
    QVERIFY(checkedFile.open(QIODevice::ReadOnly));
    const QByteArray checked = checkedFile.readAll();
    checkedFile.close();
    sorrelImage(QFileInfo(image).fileName(), 0x10099);
    QCOMPARE(f.logLines().filter("INFO - ZelBootLoader - Image signature: " + QString(label).replace('\n', "; ")).size(), 1);
    f.window->findChild<QPushButton *>(QStringLiteral("m_pushButton_USBConnect"))->click();
    QVERIFY(f.window->programOffered());

    QSignalSpy records(f.window->runEvents(), &RunEvents::runRecorded);
    if (answer != QMessageBox::NoButton)
        f.prompter.expectMessage(Kind::Warning, QStringLiteral("Unsigned image"), kQuestion,
                                 QMessageBox::StandardButton(answer));
    if (!recorded.isEmpty())
        f.prompter.expectMessage(Kind::Information, QStringLiteral("Information"),
                                 QStringLiteral("Programming complete!\n\nverified: the device reports 01.00.82"));
    f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->click();
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QCOMPARE(f.prompter.unexpectedSeen(), false);
    if (answer != QMessageBox::NoButton) {
        QList<FakePrompter::Shown> questions;
        for (const FakePrompter::Shown &shown : f.prompter.shown())
            if (shown.guarding)
                questions.append(shown);
        QCOMPARE(questions.size(), 1);
        QCOMPARE(questions.first().guarding, std::optional<GuardingQuestion>(GuardingQuestion::Unsigned));
        QCOMPARE(questions.first().defaultButton, QMessageBox::No);
        QCOMPARE(questions.first().buttons, QMessageBox::Yes | QMessageBox::No);
    }

    if (recorded.isEmpty()) {
        // Refused at PROGRAM: nothing reached the player, nothing is recorded.
        QCOMPARE(records.size(), 0);
        QCOMPARE(f.logLines().filter("The unsigned image " + image + " was not programmed.").size(), 1);
        QVERIFY(!QFile::exists(file("updates.jsonl")));
        return;
    }
    QCOMPARE(records.size(), 1);
    const UpdateRecord record = records.first().first().value<UpdateRecord>();
    QCOMPARE(record.outcome, UpdateRecord::Outcome::Verified);
    QCOMPARE(record.signature, recorded);
    QCOMPARE(record.imageSha256,
             QString::fromLatin1(QCryptographicHash::hash(checked, QCryptographicHash::Sha256).toHex()));
    if (recorded == QLatin1String("valid")) {
        QCOMPARE(record.signedBy, label.section('\n', 0, 0).mid(int(strlen("Signed by "))));
        QCOMPARE(record.trustedComment, comment);
    } else {
        QVERIFY(record.signedBy.isNull());
        QVERIFY(record.trustedComment.isNull());
    }

    // Kept on disk and shown by History under the record's own field names.
    f.window->showHistory();
    auto *table = f.window->findChild<HistoryDialog *>()->findChild<QTableWidget *>();
    QCOMPARE(table->rowCount(), 1);
    QMap<QString, QString> shown;
    for (int column = 0; column < table->columnCount(); ++column)
        shown.insert(table->horizontalHeaderItem(column)->text(), table->item(0, column)->text());
    QCOMPARE(shown.value("Signature"), recorded);
    QCOMPARE(shown.value("Signed by"), recorded == QLatin1String("valid") ? record.signedBy : QStringLiteral("\u2014"));
    QCOMPARE(shown.value("Trusted comment"), recorded == QLatin1String("valid") ? comment : QStringLiteral("\u2014"));
}

void TestSignedImages::sampleImagesAreSignedOnlyForSimulatedDevices_data()
{
    QTest::addColumn<bool>("simulate");
    QTest::newRow("simulated devices") << true;
    QTest::newRow("real devices") << false;
}

void TestSignedImages::sampleImagesAreSignedOnlyForSimulatedDevices()
{
    QFETCH(bool, simulate);
    const QString sample = qEnvironmentVariable("ZEL_SOURCE_DIR") + "/resources/samples/CoveWash-5.1.3.hex";
    WindowFixture::Options o;
    o.cataloguePath = sampleCataloguePath();
    o.simulate = simulate;
    o.interfaceIndex = 1;
    o.deviceType = QStringLiteral("Cove Wash");
    WindowFixture f(o);
    QFile keyFile(ZelBootLoader::sampleKeyResource());
    QVERIFY(keyFile.open(QIODevice::ReadOnly));
    const QString sampleKey = SigningKey::fromText(keyFile.readAll())->idText();

    f.prompter.expectFileDialog(sample);
    if (!simulate) {
        f.prompter.expectMessage(Kind::Critical, QStringLiteral("Signature refused"),
                                 QStringLiteral("%1 is signed by key %2, which is not a trusted key.\n%3")
                                     .arg(QDir::toNativeSeparators(sample), sampleKey, kRefused));
        f.prompter.expectFileDialog(QString());
    }
    f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->click();
    QCOMPARE(f.prompter.pendingExpectations(), 0);
    QCOMPARE(f.window->currentProduct()->imageReady(), simulate);
    QCOMPARE(f.find<QLabel>(QStringLiteral("m_label_signature"))->text(),
             simulate ? QStringLiteral("Signed by %1 (Zel sample key, for simulated devices only)\n"
                                       "Trusted comment: product=Cove Wash version=5.1.3")
                            .arg(sampleKey)
                      : QString());
    // Known for the samples only: it asks nothing of unsigned images.
    QVERIFY(!f.window->trustedKeys().hasInstalledKeys());
}

QTEST_MAIN(TestSignedImages)
#include "test_SignedImages.moc"
