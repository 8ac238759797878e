#include "app/CommandLine.h"

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void absentStringsAreNull();
    void emptyDeviceTypeIsEmptyNotNull();
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

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_CommandLine.moc"
