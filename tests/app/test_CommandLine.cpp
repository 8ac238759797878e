#include "app/CommandLine.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void absentStringsAreNull();
    void emptyDeviceTypeIsEmptyNotNull();
    void unattendedOptions_data();
    void unattendedOptions();
    void executableAnswersWithoutDisplay_data();
    void executableAnswersWithoutDisplay();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("interfaceIndex");
    QTest::addColumn<QString>("deviceType");
    QTest::addColumn<QString>("deviceAddress");
    QTest::addColumn<bool>("autoConnect");
    QTest::addColumn<bool>("simulate");

    const QString exe = QStringLiteral("/opt/zel/zel-updater");
    QTest::newRow("no options") << QStringList{exe} << -1 << QString() << QString() << false << false;
    QTest::newRow("-usb") << QStringList{exe, "-usb"} << 0 << QString() << QString() << false << false;
    QTest::newRow("-ZELDMX") << QStringList{exe, "-ZELDMX"} << 1 << QString() << QString() << false << false;
    QTest::newRow("-ethernet") << QStringList{exe, "-ethernet"} << 2 << QString() << QString() << false << false;
    QTest::newRow("usb wins over ZELDMX")
        << QStringList{exe, "-ZELDMX", "-usb"} << 0 << QString() << QString() << false << false;
    QTest::newRow("ZELDMX wins over ethernet")
        << QStringList{exe, "-ethernet", "-ZELDMX"} << 1 << QString() << QString() << false << false;
    QTest::newRow("test order, not argument order, decides")
        << QStringList{exe, "-ethernet", "-usb"} << 0 << QString() << QString() << false << false;
    QTest::newRow("other letter case is not recognised")
        << QStringList{exe, "-USB", "-Ethernet", "-zeldmx", "-AutoConnect", "-DeviceType=x",
                       "-Simulate"}
        << -1 << QString() << QString() << false << false;
    QTest::newRow("whole argument must match")
        << QStringList{exe, "-usb2", "--ethernet", "-autoConnect=1"}
        << -1 << QString() << QString() << false << false;
    QTest::newRow("device type trimmed and inner blanks collapsed")
        << QStringList{exe, "-deviceType=  Vireo   \t Player  "}
        << -1 << QStringLiteral("Vireo Player") << QString() << false << false;
    QTest::newRow("first device type wins")
        << QStringList{exe, "-deviceType=Sorrel 3", "-deviceType=Vireo Player"}
        << -1 << QStringLiteral("Sorrel 3") << QString() << false << false;
    QTest::newRow("every occurrence of the prefix is removed")
        << QStringList{exe, "-deviceType=x-deviceType=y"}
        << -1 << QStringLiteral("xy") << QString() << false << false;
    QTest::newRow("device address like device type")
        << QStringList{exe, "-deviceAddress= 10.0.0.7 ", "-deviceAddress=10.0.0.8"}
        << -1 << QString() << QStringLiteral("10.0.0.7") << false << false;
    QTest::newRow("address prefix inside the text is removed too")
        << QStringList{exe, "-deviceAddress=a-deviceAddress=b"}
        << -1 << QString() << QStringLiteral("ab") << false << false;
    QTest::newRow("prefix not at the start is no option")
        << QStringList{exe, "x-deviceType=Sorrel 3"} << -1 << QString() << QString() << false << false;
    QTest::newRow("-autoConnect") << QStringList{exe, "-autoConnect"} << -1 << QString() << QString() << true << false;
    QTest::newRow("-simulate") << QStringList{exe, "-simulate"} << -1 << QString() << QString() << false << true;
    QTest::newRow("everything together")
        << QStringList{exe, "-simulate", "-deviceAddress=2.3.4.5", "-ethernet", "-autoConnect",
                       "-deviceType=Marlow White", "unknown", "-x"}
        << 2 << QStringLiteral("Marlow White") << QStringLiteral("2.3.4.5") << true << true;
    QTest::newRow("program path takes part in the matching")
        << QStringList{"-usb"} << 0 << QString() << QString() << false << false;
}

void TestCommandLine::parse()
{
    QFETCH(QStringList, arguments);
    const StartOptions options = parseCommandLine(arguments);
    QTEST(options.interfaceIndex, "interfaceIndex");
    QTEST(options.deviceType, "deviceType");
    QTEST(options.deviceAddress, "deviceAddress");
    QTEST(options.autoConnect, "autoConnect");
    QTEST(options.simulate, "simulate");
    QCOMPARE(options.errors, QStringList());
}

void TestCommandLine::absentStringsAreNull()
{
    const StartOptions options = parseCommandLine({QStringLiteral("zel-updater"), QStringLiteral("-usb")});
    QVERIFY(options.deviceType.isNull());
    QVERIFY(options.deviceAddress.isNull());
}

void TestCommandLine::emptyDeviceTypeIsEmptyNotNull()
{
    const StartOptions options =
        parseCommandLine({QStringLiteral("zel-updater"), QStringLiteral("-deviceType=")});
    QVERIFY(options.deviceType.isEmpty());
    QVERIFY(!options.deviceType.isNull());
}

void TestCommandLine::unattendedOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QStringList>("yes");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("help");
    QTest::addColumn<QString>("error"); // part of the one error expected; empty: none

    const QStringList usb{"zel-updater", "-usb", "-deviceType=Sorrel 3", "-autoConnect"};
    const QStringList none;
    QTest::newRow("USB run needs no address; path kept as given")
        << usb + QStringList{"-firmware=/srv/fw/a  b-firmware=.hex"}
        << "/srv/fw/a  b-firmware=.hex" << none << QString() << false << QString();
    QTest::newRow("questions in any order, repeats merged, result path")
        << usb + QStringList{"-yes=overwrite,downgrade,overwrite", "-firmware=a.hex", "-result=r.json"}
        << "a.hex" << QStringList{"overwrite", "downgrade"} << "r.json" << false << QString();
    QTest::newRow("every question")
        << usb + QStringList{"-firmware=a.hex", "-yes=downgrade,overwrite,manual-address,all-fixtures"}
        << "a.hex" << QStringList{"downgrade", "overwrite", "manual-address", "all-fixtures"}
        << QString() << false << QString();
    QTest::newRow("fixture run with serial")
        << QStringList{"zel-updater", "-ZELDMX", "-deviceType=Marlow White", "-deviceAddress=8280ABCD",
                       "-autoConnect", "-firmware=m.hex"}
        << "m.hex" << none << QString() << false << QString();
    QTest::newRow("old unknown arguments stay ignored")
        << QStringList{"zel-updater", "-x", "--ethernet", "unknown", "firmware=a.hex"}
        << QString() << none << QString() << false << QString();
    QTest::newRow("--help") << QStringList{"zel-updater", "--help"} << QString() << none << QString()
                            << true << QString();

    QTest::newRow("unknown question")
        << usb + QStringList{"-firmware=a.hex", "-yes=maybe"} << "a.hex" << none << QString() << false
        << "-yes=maybe: \"maybe\" is not a guarding question; -yes= takes a comma list of "
           "downgrade, overwrite, manual-address, all-fixtures";
    QTest::newRow("empty question list")
        << usb + QStringList{"-firmware=a.hex", "-yes="} << "a.hex" << none << QString() << false
        << "-yes= needs a comma list";
    QTest::newRow("empty question in the list")
        << usb + QStringList{"-firmware=a.hex", "-yes=downgrade,,overwrite"} << "a.hex" << none
        << QString() << false << "\"\" is not a guarding question";
    QTest::newRow("empty firmware path")
        << usb + QStringList{"-firmware="} << QString() << none << QString() << false
        << "-firmware= needs the path of the firmware image file";
    QTest::newRow("-result without =")
        << usb + QStringList{"-firmware=a.hex", "-result"} << "a.hex" << none << QString() << false
        << "-result needs a value: -result=PATH";
    QTest::newRow("other letter case")
        << usb + QStringList{"-Firmware=a.hex"} << QString() << none << QString() << false
        << "-Firmware=a.hex: unknown option (options are case-sensitive; did you mean -firmware=PATH?)";
    QTest::newRow("option run on")
        << usb + QStringList{"-firmware=a.hex", "-resultFile=r.json"} << "a.hex" << none << QString()
        << false << "did you mean -result=PATH?";
    QTest::newRow("firmware twice")
        << usb + QStringList{"-firmware=a.hex", "-firmware=b.hex"} << "a.hex" << none << QString()
        << false << "-firmware= is given more than once";
    QTest::newRow("-yes without a run")
        << QStringList{"zel-updater", "-yes=downgrade"} << QString() << QStringList{"downgrade"}
        << QString() << false << "-yes= and -result= belong to an unattended run";
    QTest::newRow("trusted key that is no file")
        << usb + QStringList{"-firmware=a.hex", "-trustedKey=/no/such.pub"} << "a.hex" << none
        << QString() << false
        << "-trustedKey=/no/such.pub: /no/such.pub is not a public key file: the file does not exist";
    QTest::newRow("trusted key in another letter case")
        << usb + QStringList{"-trustedkey=k.pub"} << QString() << none << QString() << false
        << "did you mean -trustedKey=PATH?";
    QTest::newRow("trusted key without a path")
        << QStringList{"zel-updater", "-trustedKey="} << QString() << none << QString() << false
        << "-trustedKey= needs the path of a public key file";
    QTest::newRow("Ethernet run without address")
        << QStringList{"zel-updater", "-ethernet", "-deviceType=Kestrel", "-autoConnect", "-firmware=k.hex"}
        << "k.hex" << none << QString() << false
        << "an unattended run (-firmware=) also needs -deviceAddress=ADDRESS";
    QTest::newRow("run with nothing else")
        << QStringList{"zel-updater", "-firmware=k.hex"} << "k.hex" << none << QString() << false
        << "also needs -autoConnect, an interface (-usb, -ZELDMX or -ethernet), -deviceType=NAME, "
           "-deviceAddress=ADDRESS";
}

void TestCommandLine::unattendedOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const StartOptions options = parseCommandLine(arguments);
    QTEST(options.firmwarePath, "firmware");
    QStringList yes;
    for (GuardingQuestion question : options.allowedQuestions)
        yes.append(guardingQuestionName(question));
    QTEST(yes, "yes");
    QTEST(options.resultPath, "result");
    QTEST(options.help, "help");
    if (error.isEmpty()) {
        QCOMPARE(options.errors, QStringList());
    } else {
        QCOMPARE(options.errors.size(), 1);
        QVERIFY2(options.errors.first().contains(error), qPrintable(options.errors.first()));
    }
}

// The real executable, with no display at all: --help and bad options must
// be answered before anything needs one, and an unattended run needs none.
void TestCommandLine::executableAnswersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QString>("resultMessage"); // empty: no result file expected

    QTest::newRow("--help lists options and exit codes")
        << QStringList{"--help", "-yes=maybe"} << 0
        << "a comma list of: downgrade, overwrite, manual-address, all-fixtures, unsigned\n"
           "  -result=PATH              JSON file the unattended run writes its result to\n"
           "  --help                    print this text and exit\n"
           "\n"
           "An unattended run needs -autoConnect, an interface, -deviceType=, -deviceAddress=\n"
           "(not for -usb) and -firmware=. Other unknown arguments are ignored.\n"
           "\n"
           "Exit codes:\n"
           "  0  verified\n"
           "  1  failed or mismatch\n"
           "  2  bad options or image refused\n"
           "  3  device not found or not accessible to this user\n"
           "  4  a guarding question was met that -yes did not allow\n"
           "  5  not verified\n"
           "  6  verified, but the update record could not be written\n"
        << QString() << QString();
    QTest::newRow("bad option")
        << QStringList{"-usb", "-yes=maybe"} << 2 << QString()
        << "zel-updater: -yes=maybe: \"maybe\" is not a guarding question" << QString();
    QTest::newRow("bad option with a result file")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-autoConnect", "-firmware=", "-result=RESULT"}
        << 2 << QString() << "Try 'zel-updater --help' for the options."
        << "-firmware= needs the path of the firmware image file";
    // Without a display an unattended run goes headless by itself.
    QTest::newRow("unattended run, image missing")
        << QStringList{"-usb", "-deviceType=Sorrel 3", "-autoConnect", "-firmware=a.hex",
                       "-result=RESULT"}
        << 2 << "exit code 2 (bad options or image refused)" << QString() << "The image a.hex was refused";
}

void TestCommandLine::executableAnswersWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, resultMessage);
    const QString updater = qEnvironmentVariable("ZEL_UPDATER");
    QVERIFY2(QFile::exists(updater), "ZEL_UPDATER must name the built executable");
    QTemporaryDir dir;
    const QString resultPath = dir.filePath("result.json");
    arguments.replaceInStrings("RESULT", resultPath);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(updater, arguments);
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QTEST(process.exitCode(), "exitCode");
    const QString output = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QFETCH(QString, out);
    QFETCH(QString, err);
    QVERIFY2(output.contains(out) && error.contains(err), qPrintable(output + error));
    // Answers before any window go to one stream; a run reports on both.
    if (!QByteArray(QTest::currentDataTag()).startsWith("unattended run"))
        QVERIFY2(out.isEmpty() || error.isEmpty(), qPrintable(error));

    QFile result(resultPath);
    QCOMPARE(result.exists(), !resultMessage.isEmpty());
    if (resultMessage.isEmpty())
        return;
    QVERIFY(result.open(QIODevice::ReadOnly));
    const QJsonObject object = QJsonDocument::fromJson(result.readAll()).object();
    QCOMPARE(object.value("exitCode").toInt(-1), 2);
    QCOMPARE(object.value("meaning").toString(), QStringLiteral("bad options or image refused"));
    QVERIFY(object.value("outcome").isNull());
    QVERIFY2(object.value("message").toString().contains(resultMessage),
             qPrintable(object.value("message").toString()));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_CommandLine.moc"
