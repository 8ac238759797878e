#include "usb/Device_VireoPlayer.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const char kAppId[] = "lighting.zel.FirmwareUpdater";

struct Run {
    int exitCode = -1;
    QString output; // standard output and error, as printed
};

Run run(const QString &program, const QStringList &arguments, int timeoutMs = 120000,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
        const QString &folder = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setProcessEnvironment(environment);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Run out;
    if (!process.waitForStarted()) {
        out.output = program + QStringLiteral(": ") + process.errorString();
        return out;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        out.output = program + QStringLiteral(": did not end within %1 s").arg(timeoutMs / 1000);
    }
    out.output += QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() == QProcess::NormalExit)
        out.exitCode = process.exitCode();
    return out;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// The .deb as a user gets it: built by CPack, unpacked into a scratch root and
// run from there, finding its data through XDG_DATA_DIRS as it does when
// installed.
class TestPackage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scratch;
    QString m_deb;
    QString m_root;
    QString m_version = qEnvironmentVariable("ZEL_VERSION");

    QString installed(const QString &relative) const { return m_root + QLatin1Char('/') + relative; }

private slots:
    void initTestCase();
    void fileListIsWhatIsInstalledAndNothingElse();
    void controlFieldsAndDeviceRules();
    void unpackedUpdaterRunsFromItsInstalledData();
    void checkersFindNoError_data();
    void checkersFindNoError();
};

void TestPackage::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    QVERIFY2(!m_version.isEmpty(), "ZEL_VERSION must give the project's version");
    const QString out = m_scratch.filePath(QStringLiteral("out"));
    const Run cpack = run(qEnvironmentVariable("ZEL_CPACK", QStringLiteral("cpack")),
                          {QStringLiteral("--config"), qEnvironmentVariable("ZEL_CPACK_CONFIG"),
                           QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out},
                          300000);
    QVERIFY2(cpack.exitCode == 0, qPrintable(cpack.output));
    const Run arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    QCOMPARE(arch.exitCode, 0);
    m_deb = QDir(out).filePath(QStringLiteral("zel-updater_%1_%2.deb").arg(m_version, arch.output.trimmed()));
    QVERIFY2(QFile::exists(m_deb), qPrintable(QStringLiteral("%1 not made:\n%2").arg(m_deb, cpack.output)));
    m_root = m_scratch.filePath(QStringLiteral("root"));
    const Run unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpack.exitCode == 0, qPrintable(unpack.output));
}

void TestPackage::fileListIsWhatIsInstalledAndNothingElse()
{
    const QString id = QLatin1String(kAppId);
    QStringList expected{
        QStringLiteral("usr/bin/zel-updater"),
        QStringLiteral("usr/lib/udev/rules.d/70-zel-updater.rules"),
        QStringLiteral("usr/share/applications/%1.desktop").arg(id),
        QStringLiteral("usr/share/doc/zel-updater/changelog.gz"),
        QStringLiteral("usr/share/doc/zel-updater/copyright"),
        QStringLiteral("usr/share/icons/hicolor/scalable/apps/%1.svg").arg(id),
        QStringLiteral("usr/share/man/man1/zel-updater.1.gz"),
        QStringLiteral("usr/share/metainfo/%1.metainfo.xml").arg(id),
        QStringLiteral("usr/share/zel-updater/doc/index.html"),
        QStringLiteral("usr/share/zel-updater/zelblprod.xml"),
    };
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        expected.append(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(id));
    const QDir samples(qEnvironmentVariable("ZEL_SOURCE_DIR") + QStringLiteral("/resources/samples"));
    const QStringList sampleFiles = samples.entryList({QStringLiteral("*.hex"), QStringLiteral("*.bin"), QStringLiteral("*.minisig")},
                                                       QDir::Files);
    QVERIFY(!sampleFiles.isEmpty());
    for (const QString &sample : sampleFiles)
        expected.append(QStringLiteral("usr/share/zel-updater/samples/") + sample);
    expected.sort();

    QStringList files;
    const QByteArray buildFolder = QFile::encodeName(qEnvironmentVariable("ZEL_BUILD_DIR"));
    QStringList mentioningBuild;
    QDirIterator it(m_root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(m_root).relativeFilePath(path);
        files.append(relative);
        QFile file(path);
        // Nothing installed may lead back into the build folder (an RPATH, a path).
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(buildFolder))
            mentioningBuild.append(relative);
    }
    files.sort();
    QCOMPARE(files, expected);
    QCOMPARE(mentioningBuild, QStringList());

    // The executable is installed stripped and executable by all.
    const QString updater = installed(QStringLiteral("usr/bin/zel-updater"));
    QVERIFY(QFileInfo(updater).permissions().testFlag(QFile::ExeOther));
    const Run sections = run(QStringLiteral("readelf"), {QStringLiteral("--section-headers"), updater});
    QVERIFY2(sections.exitCode == 0, qPrintable(sections.output));
    QVERIFY2(!sections.output.contains(QStringLiteral(".symtab")), "the executable keeps its symbol table");
}

void TestPackage::controlFieldsAndDeviceRules()
{
    const Run info = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb});
    QVERIFY2(info.exitCode == 0, qPrintable(info.output));
    QMap<QString, QString> fields;
    for (const QString &line : info.output.split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && !line.startsWith(QLatin1Char(' ')))
            fields.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    QCOMPARE(fields.value(QStringLiteral("Package")), QStringLiteral("zel-updater"));
    QCOMPARE(fields.value(QStringLiteral("Version")), m_version);
    QCOMPARE(fields.value(QStringLiteral("Section")), QStringLiteral("electronics"));
    QVERIFY(fields.value(QStringLiteral("Maintainer")).contains(QLatin1Char('@')));
    // Computed from the linked libraries, not written by hand.
    const QString depends = fields.value(QStringLiteral("Depends"));
    for (const char *library : {"libqt6core6", "libqt6widgets6", "libqt6serialport6", "libhidapi-hidraw0"})
        QVERIFY2(depends.contains(QLatin1String(library)), qPrintable(depends));

    // The release is the version the window shows.
    const QString metainfo = readText(installed(QStringLiteral("usr/share/metainfo/%1.metainfo.xml").arg(kAppId)));
    QVERIFY2(metainfo.contains(QStringLiteral("<release version=\"%1\"").arg(m_version)), qPrintable(metainfo));

    // The player's serial port and its boot loader's node, by the ids the updater looks for.
    const QString rules = readText(installed(QStringLiteral("usr/lib/udev/rules.d/70-zel-updater.rules")));
    const auto hex = [](quint16 id) { return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0')); };
    for (const auto &[subsystem, product] : {std::pair{"tty", VIREO_SERIAL_PRODUCT_ID},
                                            std::pair{"hidraw", VIREO_BOOTLOADER_PRODUCT_ID}}) {
        const QString rule = QStringLiteral("SUBSYSTEM==\"%1\", ATTRS{idVendor}==\"%2\", ATTRS{idProduct}==\"%3\", "
                                            "TAG+=\"uaccess\"")
                                 .arg(QLatin1String(subsystem), hex(VIREO_VENDOR_ID), hex(product));
        QVERIFY2(rules.split(QLatin1Char('\n')).contains(rule), qPrintable(rule + QStringLiteral(" not in:\n") + rules));
    }
}

void TestPackage::unpackedUpdaterRunsFromItsInstalledData()
{
    const QString updater = installed(QStringLiteral("usr/bin/zel-updater"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"), installed(QStringLiteral("usr/share")));
    const QString home = m_scratch.filePath(QStringLiteral("home"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home);

    const Run help = run(updater, {QStringLiteral("--help")}, 60000, environment);
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.output.startsWith(QStringLiteral("Usage: zel-updater")), qPrintable(help.output));

    // A whole update of a simulated fixture, with the image installed as a sample.
    const QString folder = m_scratch.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(folder));
    const QString image = installed(QStringLiteral("usr/share/zel-updater/samples/CoveWash-5.1.3.hex"));
    const Run update = run(updater,
                           {QStringLiteral("-ZELDMX"), QStringLiteral("-deviceType=Cove Wash"),
                            QStringLiteral("-deviceAddress=8100C001"), QStringLiteral("-autoConnect"),
                            QStringLiteral("-simulate"), QStringLiteral("-firmware=") + image,
                            QStringLiteral("-result=result.json")},
                           180000, environment, folder);
    QVERIFY2(update.exitCode == 0, qPrintable(update.output));
    QVERIFY2(update.output.contains(QStringLiteral("zel-updater: exit code 0 (verified): Cove Wash 8100C001: verified")),
             qPrintable(update.output));
    const QJsonObject result = QJsonDocument::fromJson(readText(QDir(folder).filePath(QStringLiteral("result.json"))).toUtf8()).object();
    QCOMPARE(result.value(QStringLiteral("outcome")).toString(), QStringLiteral("verified"));

    // The session log names the installed catalogue as the one read.
    const QStringList logs = QDir(folder).entryList({QStringLiteral("ZELBL_*.log")}, QDir::Files);
    QCOMPARE(logs.size(), 1);
    const QString log = readText(QDir(folder).filePath(logs.first()));
    QVERIFY2(log.contains(QStringLiteral("Product catalogue in use: %1\n")
                              .arg(installed(QStringLiteral("usr/share/zel-updater/zelblprod.xml")))),
             qPrintable(log));
}

void TestPackage::checkersFindNoError_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments"); // DEB: the package, ROOT: the unpacked root
    QTest::newRow("lintian") << "lintian" << QStringList{"--display-info", "DEB"};
    QTest::newRow("desktop-file-validate")
        << "desktop-file-validate"
        << QStringList{QStringLiteral("ROOT/usr/share/applications/%1.desktop").arg(kAppId)};
    QTest::newRow("appstreamcli")
        << "appstreamcli"
        << QStringList{"validate", "--no-net", QStringLiteral("ROOT/usr/share/metainfo/%1.metainfo.xml").arg(kAppId)};
}

void TestPackage::checkersFindNoError()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    if (QStandardPaths::findExecutable(program).isEmpty())
        QSKIP(qPrintable(program + QStringLiteral(" is not installed (scripts/install-deps.sh installs it)")));
    arguments.replaceInStrings(QStringLiteral("DEB"), m_deb).replaceInStrings(QStringLiteral("ROOT"), m_root);
    const Run check = run(program, arguments, 300000);
    // What it said goes into the test's output as it is.
    qInfo().noquote() << program << "said:\n" << check.output;
    QVERIFY2(check.exitCode == 0, qPrintable(check.output));
    static const QRegularExpression error(QStringLiteral("^E: |error:"), QRegularExpression::MultilineOption);
    QVERIFY2(!error.match(check.output).hasMatch(), qPrintable(check.output));
}

QTEST_GUILESS_MAIN(TestPackage)
#include "test_Package.moc"
