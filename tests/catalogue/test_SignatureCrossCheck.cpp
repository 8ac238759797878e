// Keys and signatures made by minisign (Debian's signing tool, which nobody
// here wrote) must be judged by our check exactly as minisign -V judges them:
// intact ones accepted, every one-byte change refused unless it leaves the
// signed bytes as they were.
#include "catalogue/SignatureFile.h"
#include "catalogue/SigningKey.h"
#include "catalogue/TrustedKeys.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kComment[] = "product=Cove Wash version=5.1.3";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The file with line number line (0-based) replaced.
QByteArray withLine(const QByteArray &file, int line, const QByteArray &text)
{
    QList<QByteArray> lines = file.split('\n');
    lines[line] = text;
    return lines.join('\n');
}

// Another base64 digit: the next one of the alphabet.
char otherDigit(char c)
{
    static const QByteArray alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const qsizetype at = alphabet.indexOf(c);
    return at < 0 ? 'A' : alphabet.at((at + 1) % 64);
}

} // namespace

class TestSignatureCrossCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void verdictAgreesWithTheTool_data();
    void verdictAgreesWithTheTool();
    void keyFoldersTrustOnlyWholeKeys();

private:
    bool minisign(const QStringList &arguments, QByteArray *output = nullptr);
    QString file(const QString &name) const { return m_dir.filePath(name); }

    QString m_minisign;
    QTemporaryDir m_dir;
    QByteArray m_image;
    QByteArray m_makerKey;
    QString m_strangerId;
    QMap<QString, QByteArray> m_signatures; // "prehashed", "legacy", "stranger", "other image"
};

bool TestSignatureCrossCheck::minisign(const QStringList &arguments, QByteArray *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_minisign, arguments);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(60000);
    if (output)
        *output = process.readAll();
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void TestSignatureCrossCheck::initTestCase()
{
    m_minisign = QStandardPaths::findExecutable(QStringLiteral("minisign"));
    QVERIFY2(!m_minisign.isEmpty(),
             "minisign not found: install the Debian package minisign (scripts/install-deps.sh does)");
    QVERIFY(m_dir.isValid());

    // -W: keys without a password, as a test needs them.
    QVERIFY(minisign({"-G", "-W", "-p", file("maker.pub"), "-s", file("maker.key")}));
    QVERIFY(minisign({"-G", "-W", "-p", file("stranger.pub"), "-s", file("stranger.key")}));
    m_makerKey = readAll(file("maker.pub"));
    m_strangerId = QString::fromLatin1(readAll(file("stranger.pub")).split('\n').first().split(' ').last());

    m_image.resize(64 * 1024);
    for (qsizetype i = 0; i < m_image.size(); ++i)
        m_image[i] = char((i * 7919) >> 3);
    QVERIFY(writeAll(file("image.hex"), m_image));
    QVERIFY(writeAll(file("other.hex"), m_image.left(1000)));
    const struct {
        const char *name;
        QStringList arguments;
    } signings[] = {
        {"prehashed", {"-S", "-s", file("maker.key"), "-m", file("image.hex"), "-x", file("prehashed")}},
        {"legacy", {"-S", "-l", "-s", file("maker.key"), "-m", file("image.hex"), "-x", file("legacy")}},
        {"stranger", {"-S", "-s", file("stranger.key"), "-m", file("image.hex"), "-x", file("stranger")}},
        {"other image", {"-S", "-s", file("maker.key"), "-m", file("other.hex"), "-x", file("other image")}},
    };
    for (const auto &signing : signings) {
        QVERIFY(minisign(signing.arguments + QStringList{"-t", QString::fromLatin1(kComment)}));
        m_signatures.insert(QLatin1String(signing.name), readAll(file(QLatin1String(signing.name))));
    }
    QVERIFY(m_signatures.value("prehashed").split('\n').value(1).startsWith("RU"));
    QVERIFY(m_signatures.value("legacy").split('\n').value(1).startsWith("RW"));
}

void TestSignatureCrossCheck::verdictAgreesWithTheTool_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("signature");
    // "valid", a refusal's name, or "refused" for any refusal.
    QTest::addColumn<QString>("state");

    const QString refused = QStringLiteral("refused");
    for (const char *algorithm : {"prehashed", "legacy"}) {
        const QByteArray signature = m_signatures.value(QLatin1String(algorithm));
        const QList<QByteArray> lines = signature.split('\n');
        const auto row = [&](const QString &what) -> QTestData & {
            return QTest::addRow("%s: %s", algorithm, qPrintable(what));
        };
        row("intact") << m_image << signature << "valid";
        row("untrusted comment changed")
            << m_image << withLine(signature, 0, "untrusted comment: anyone may edit this") << "valid";
        QByteArray crlf = signature;
        crlf.replace("\n", "\r\n");
        row("CR LF line ends") << m_image << crlf << "valid";
        row("last line end missing") << m_image << signature.trimmed() << "valid";

        for (qsizetype at : {qsizetype(0), m_image.size() / 2, m_image.size() - 1}) {
            QByteArray image = m_image;
            image[at] = char(image[at] ^ 0x01);
            row(QStringLiteral("image byte %1 changed").arg(at)) << image << signature << "invalid";
        }
        row("image one byte longer") << m_image + '\0' << signature << "invalid";
        row("image one byte shorter") << m_image.chopped(1) << signature << "invalid";

        // Every digit of both base64 lines. A change that only touches the
        // bits after the last byte leaves the signed bytes as they were.
        for (int line : {1, 3}) {
            const QByteArray original = lines.at(line);
            for (qsizetype at = 0; at < original.size(); ++at) {
                QByteArray changed = original;
                changed[at] = original.at(at) == '=' ? 'A' : otherDigit(original.at(at));
                const bool same = QByteArray::fromBase64(changed) == QByteArray::fromBase64(original)
                    && !original.contains('=') == !changed.contains('=')
                    && original.count('=') == changed.count('=');
                row(QStringLiteral("line %1 digit %2 changed").arg(line + 1).arg(at))
                    << m_image << withLine(signature, line, changed) << (same ? "valid" : refused);
            }
        }
        const QByteArray comment = lines.at(2);
        for (qsizetype at = qsizetype(strlen("trusted comment: ")); at < comment.size(); ++at) {
            QByteArray changed = comment;
            changed[at] = char(changed.at(at) ^ 0x01);
            row(QStringLiteral("trusted comment byte %1 changed").arg(at))
                << m_image << withLine(signature, 2, changed) << "invalid";
        }
        row("trusted comment with a blank added")
            << m_image << withLine(signature, 2, comment + ' ') << "invalid";
        row("trusted comment line dropped")
            << m_image << QByteArray(lines.mid(0, 2).join('\n') + '\n' + lines.at(3) + '\n') << "damaged";
        row("fourth line missing") << m_image << QByteArray(lines.mid(0, 3).join('\n') + '\n') << "damaged";
    }
    QTest::newRow("signed by a key that is not trusted")
        << m_image << m_signatures.value("stranger") << "unknown key";
    QTest::newRow("signature of another image")
        << m_image << m_signatures.value("other image") << "invalid";
    QTest::newRow("empty signature file") << m_image << QByteArray() << "damaged";
}

void TestSignatureCrossCheck::verdictAgreesWithTheTool()
{
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, signature);
    QFETCH(QString, state);

    const QString imagePath = file(QStringLiteral("case.hex"));
    QVERIFY(writeAll(imagePath, image));
    QVERIFY(writeAll(TrustedKeys::signaturePathFor(imagePath), signature));

    QByteArray said;
    const bool toolAccepts = minisign({"-V", "-p", file("maker.pub"), "-m", imagePath}, &said);
    TrustedKeys keys;
    keys.add(*SigningKey::fromText(m_makerKey));
    const SignatureVerdict verdict = keys.checkImage(imagePath, image, QStringLiteral("Cove Wash"));

    QVERIFY2(verdict.accepted() == toolAccepts,
             qPrintable(QStringLiteral("ours: %1 (%2); minisign: %3")
                            .arg(verdict.name(), verdict.summary(), QString::fromLocal8Bit(said))));
    if (state == QLatin1String("refused"))
        QVERIFY(!verdict.accepted());
    else
        QCOMPARE(verdict.name(), state);
    if (verdict.state == SignatureVerdict::State::Valid) {
        QCOMPARE(verdict.trustedComment, QString::fromLatin1(kComment));
        QVERIFY2(said.contains("Trusted comment: " + QByteArray(kComment)), said.constData());
    }
    // The id as minisign prints it in the key's comment.
    if (state == QLatin1String("unknown key"))
        QCOMPARE(verdict.keyId, m_strangerId);
}

void TestSignatureCrossCheck::keyFoldersTrustOnlyWholeKeys()
{
    // Damaged keys are named and never trusted; a whole key beside them is.
    QTemporaryDir folder;
    const QList<QByteArray> maker = m_makerKey.split('\n');
    QVERIFY(writeAll(folder.filePath("maker.pub"), m_makerKey));
    QVERIFY(writeAll(folder.filePath("one-line.pub"), maker.at(1) + '\n'));
    QVERIFY(writeAll(folder.filePath("cut.pub"), maker.at(0) + '\n' + maker.at(1).chopped(4) + '\n'));
    QVERIFY(writeAll(folder.filePath("a-signature.pub"), m_signatures.value("prehashed")));
    QVERIFY(writeAll(folder.filePath("stranger.txt"), readAll(file("stranger.pub"))));
    QVERIFY(QDir(folder.path()).mkdir("folder.pub"));
    // Another key under the maker's id: which of the two signed could not be told.
    QByteArray twin = QByteArray::fromBase64(maker.at(1));
    twin[20] = char(twin[20] ^ 0xFF);
    QVERIFY(writeAll(folder.filePath("twin.pub"), maker.at(0) + '\n' + twin.toBase64() + '\n'));

    TrustedKeys keys;
    const QList<TrustedKeys::Problem> problems = keys.addFolder(folder.path());
    QStringList named;
    for (const TrustedKeys::Problem &problem : problems) {
        named.append(QFileInfo(problem.path).fileName());
        QVERIFY2(!problem.reason.isEmpty(), qPrintable(problem.path));
    }
    named.sort();
    QCOMPARE(named, QStringList({"a-signature.pub", "cut.pub", "one-line.pub", "twin.pub"}));
    QCOMPARE(keys.size(), 1);
    QVERIFY(keys.hasInstalledKeys());
    QCOMPARE(keys.keys().first().origin(), folder.filePath("maker.pub"));
    QCOMPARE(keys.keys().first().comment(),
             QString::fromLatin1(maker.at(0).mid(int(strlen("untrusted comment: ")))));
    QCOMPARE(keys.verify(m_image, m_signatures.value("legacy"), QStringLiteral("Cove Wash")).name(),
             QStringLiteral("valid"));
    // An id with a leading zero, as minisign wrote it into a key's comment.
    QCOMPARE(SigningKey::idText(QByteArray::fromHex("433401D6E6746108")), QStringLiteral("86174E6D6013443"));

    // A key known only for the simulated devices asks no question of unsigned images.
    TrustedKeys known;
    known.add(keys.keys().first(), false);
    QVERIFY(!known.hasInstalledKeys());
    QVERIFY(!known.checkImage(file("no-such.hex"), m_image, "Cove Wash").needsConfirmation());
    QVERIFY(keys.checkImage(file("no-such.hex"), m_image, "Cove Wash").needsConfirmation());
}

QTEST_GUILESS_MAIN(TestSignatureCrossCheck)
#include "test_SignatureCrossCheck.moc"
