#include "tests/app/WindowFixture.h"

#include "app/CommandLine.h"
#include "app/DataFiles.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The places of one test: the user's data folder, an executable's folder and
// two installed data folders, in a scratch folder; the environment points at
// them while the object lives.
struct Places {
    QTemporaryDir scratch;
    QByteArray previousHome = qgetenv("XDG_DATA_HOME");
    QByteArray previousDirs = qgetenv("XDG_DATA_DIRS");

    Places()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("home"))));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(path(QStringLiteral("first")) + QLatin1Char(':')
                                                   + path(QStringLiteral("second"))));
    }
    ~Places()
    {
        qputenv("XDG_DATA_HOME", previousHome);
        qputenv("XDG_DATA_DIRS", previousDirs);
    }

    QString path(const QString &relative) const { return scratch.filePath(relative); }

    // Where a place keeps a data file: the data folders in their zel-updater
    // folder, the executable's folder as it is.
    QString fileIn(const QString &place, const QString &relative) const
    {
        return place.startsWith(QLatin1String("app"))
            ? path(place + QLatin1Char('/') + relative)
            : path(place + QStringLiteral("/zel-updater/") + relative);
    }

    QString put(const QString &place, const QString &relative, const QByteArray &content = "x")
    {
        const QString file = fileIn(place, relative);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size())
            return QString();
        return file;
    }
};

} // namespace

class TestDataFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_workDir; // the windows' session logs go here

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_workDir.path())); }
    void firstPlaceThatHasTheFileWins_data();
    void firstPlaceThatHasTheFileWins();
    void windowReadsTheCatalogueFoundAndNamesIt_data();
    void windowReadsTheCatalogueFoundAndNamesIt();
    void helpPageAndSamplesAreFoundAsTheCatalogueIs_data();
    void helpPageAndSamplesAreFoundAsTheCatalogueIs();
    void catalogueOptionIsCheckedStrictly_data();
    void catalogueOptionIsCheckedStrictly();
};

void TestDataFiles::firstPlaceThatHasTheFileWins_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<QStringList>("holding"); // places that have the file
    QTest::addColumn<QString>("expected");    // the place found; empty: none
    QTest::addColumn<int>("lookedAt");        // places looked at until then

    const QString catalogue = QLatin1String(DataFiles::kCatalogue);
    const QStringList all{"home", "app", "first", "second"};
    QTest::newRow("the user's folder before all others") << catalogue << "app" << all << "home" << 1;
    QTest::newRow("beside the executable before the installed folders")
        << catalogue << "app" << QStringList{"app", "first", "second"} << "app" << 2;
    QTest::newRow("installed folders in XDG_DATA_DIRS order")
        << catalogue << "app" << QStringList{"second", "first"} << "first" << 3;
    QTest::newRow("the last installed folder") << catalogue << "app" << QStringList{"second"} << "second" << 4;
    QTest::newRow("nowhere: every place looked at") << catalogue << "app" << QStringList() << QString() << 4;
    QTest::newRow("a Release build folder's parent, after the folder itself")
        << catalogue << "app/Release" << QStringList{"app", "second"} << "app" << 3;
    QTest::newRow("help page, same order")
        << QString::fromLatin1(DataFiles::kHelpPage) << "app" << QStringList{"app", "second"} << "app" << 2;
    QTest::newRow("samples folder, same order")
        << QString::fromLatin1(DataFiles::kSamples) + QStringLiteral("/a.hex") << "app"
        << QStringList{"home", "first"} << "home" << 1;
}

void TestDataFiles::firstPlaceThatHasTheFileWins()
{
    QFETCH(QString, relative);
    QFETCH(QString, appDir);
    QFETCH(QStringList, holding);
    QFETCH(QString, expected);
    QFETCH(int, lookedAt);
    Places places;
    QVERIFY(QDir().mkpath(places.path(appDir)));
    for (const QString &place : holding)
        QVERIFY(!places.put(place, relative).isEmpty());

    const DataFiles::Search search = DataFiles::find(relative, places.path(appDir));
    QCOMPARE(search.found, expected.isEmpty() ? QString() : places.fileIn(expected, relative));
    QCOMPARE(search.lookedIn.size(), lookedAt);
    if (!expected.isEmpty())
        QCOMPARE(search.lookedIn.last(), search.found);
    // The order of the places, whatever is in them.
    const QStringList order{places.fileIn(QStringLiteral("home"), relative),
                            QDir::cleanPath(places.path(appDir) + QLatin1Char('/') + relative)};
    QCOMPARE(DataFiles::find(relative, places.path(appDir)).lookedIn.mid(0, 1), order.mid(0, 1));
    QCOMPARE(DataFiles::find(QStringLiteral("absent"), places.path(appDir)).lookedIn.at(1),
             QDir::cleanPath(places.path(appDir) + QStringLiteral("/absent")));
}

// The whole start-up: the log names the catalogue read, and a missing or
// damaged one brings today's box, naming every place looked in; a damaged
// catalogue is not replaced by one further down the list.
void TestDataFiles::windowReadsTheCatalogueFoundAndNamesIt_data()
{
    QTest::addColumn<QStringList>("good");    // places holding the sample catalogue
    QTest::addColumn<QStringList>("damaged"); // places holding a damaged one
    QTest::addColumn<QString>("used");        // empty: none found
    QTest::addColumn<QString>("box");         // start of the box; empty: no box

    QTest::newRow("installed catalogue") << QStringList{"second"} << QStringList() << "second" << QString();
    QTest::newRow("the user's newer catalogue first")
        << QStringList{"home", "first"} << QStringList() << "home" << QString();
    QTest::newRow("damaged user catalogue is reported, not passed over")
        << QStringList{"first"} << QStringList{"home"} << "home" << "Parsing error for file ";
    QTest::newRow("no catalogue anywhere") << QStringList() << QStringList() << QString()
                                           << "Cannot open file zelblprod.xml";
}

void TestDataFiles::windowReadsTheCatalogueFoundAndNamesIt()
{
    QFETCH(QStringList, good);
    QFETCH(QStringList, damaged);
    QFETCH(QString, used);
    QFETCH(QString, box);
    Places places;
    QFile sample(sampleCataloguePath());
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray catalogue = sample.readAll();
    const QString name = QLatin1String(DataFiles::kCatalogue);
    for (const QString &place : good)
        QVERIFY(!places.put(place, name, catalogue).isEmpty());
    for (const QString &place : damaged)
        QVERIFY(!places.put(place, name, catalogue.left(catalogue.size() / 2)).isEmpty());

    // The box comes while the window is built, so the window is built here
    // rather than by WindowFixture.
    FakePrompter prompter;
    RecordingPauser pauser;
    if (!box.isEmpty())
        prompter.expectMessage(Prompter::Kind::Critical, QStringLiteral("Critical Error"), QString());
    const std::unique_ptr<DeviceEnvironment> devices = DeviceEnvironment::create(false);
    AppServices services;
    services.prompter = &prompter;
    services.pauser = &pauser;
    services.devices = devices.get();
    auto window = std::make_unique<ZelBootLoader>(0, QString(), QString(), false, services);
    const QString log = window->findChild<QPlainTextEdit *>(QStringLiteral("m_plainTextEdit_log"))->toPlainText();
    const int usbProducts = window->findChild<QComboBox *>(QStringLiteral("m_comboBox_deviceSelect"))->count();
    window.reset();
    QCOMPARE(prompter.pendingExpectations(), 0);
    QVERIFY(!prompter.unexpectedSeen());

    const QString usedPath = used.isEmpty() ? QString() : places.fileIn(used, name);
    if (!usedPath.isEmpty())
        QVERIFY2(log.contains(QStringLiteral("INFO - ZelBootLoader - Product catalogue in use: ") + usedPath),
                 qPrintable(log));
    QCOMPARE(usbProducts, box.isEmpty() ? catalogueNames(sampleCataloguePath(), QStringLiteral("USBDevice")).size()
                                        : 0);
    if (box.isEmpty())
        return;
    QCOMPARE(prompter.shown().size(), 1);
    const QString text = prompter.shown().first().text;
    QVERIFY2(text.startsWith(box), qPrintable(text));
    QVERIFY2(log.contains(text), qPrintable(log));
    // Every place up to the one used, in order, and none after it.
    const QStringList order{places.fileIn(QStringLiteral("home"), name),
                            QDir(QCoreApplication::applicationDirPath()).filePath(name),
                            places.fileIn(QStringLiteral("first"), name),
                            places.fileIn(QStringLiteral("second"), name)};
    const int last = usedPath.isEmpty() ? order.size() - 1 : int(order.indexOf(usedPath));
    qsizetype at = 0;
    for (int i = 0; i < order.size(); ++i) {
        const qsizetype found = text.indexOf(order.at(i), at);
        QVERIFY2((found >= 0) == (i <= last), qPrintable(order.at(i) + QStringLiteral(" in ") + text));
        if (found >= 0)
            at = found;
    }
    if (!usedPath.isEmpty())
        QVERIFY2(text.endsWith(usedPath + QStringLiteral(" (used)")), qPrintable(text));
}

void TestDataFiles::helpPageAndSamplesAreFoundAsTheCatalogueIs_data()
{
    QTest::addColumn<QString>("place"); // holding the help page and the samples; empty: none
    QTest::newRow("installed") << "second";
    QTest::newRow("the user's folder") << "home";
    QTest::newRow("nowhere") << QString();
}

void TestDataFiles::helpPageAndSamplesAreFoundAsTheCatalogueIs()
{
    QFETCH(QString, place);
    Places places;
    const QString sample = QString::fromLatin1(DataFiles::kSamples) + QStringLiteral("/CoveWash-5.1.3.hex");
    if (!place.isEmpty()) {
        QVERIFY(!places.put(place, QLatin1String(DataFiles::kHelpPage)).isEmpty());
        QVERIFY(!places.put(place, sample).isEmpty());
    }
    WindowFixture::Options options;
    options.cataloguePath = sampleCataloguePath();
    options.interfaceIndex = 1;
    options.deviceType = QStringLiteral("Cove Wash");
    WindowFixture f(options);

    f.window->findChild<QAction *>(QStringLiteral("actionHelp"))->trigger();
    QCOMPARE(f.openedUrls.size(), 1);
    const QStringList log = f.logLines();
    if (place.isEmpty()) {
        // As before: the page beside the executable, which the browser reports missing.
        QCOMPARE(f.openedUrls.first(), ZelBootLoader::helpUrlFor(QCoreApplication::applicationDirPath()));
        QVERIFY2(log.join(QLatin1Char('\n')).contains(QStringLiteral("The help page was not found. Places looked in")),
                 qPrintable(log.join(QLatin1Char('\n'))));
    } else {
        QCOMPARE(f.openedUrls.first(), QUrl::fromLocalFile(places.fileIn(place, QLatin1String(DataFiles::kHelpPage))));
    }

    // The simulated devices' first image is offered from the samples.
    f.prompter.expectFileDialog(QString());
    f.window->selectFirmwareImage();
    QCOMPARE(f.prompter.shown().last().what, QStringLiteral("file"));
    const QString samples = place.isEmpty() ? QString() : places.fileIn(place, QLatin1String(DataFiles::kSamples));
    QCOMPARE(f.prompter.shown().last().text, samples);
    if (!place.isEmpty())
        QVERIFY(log.filter(QStringLiteral("Sample images for the simulated devices: ") + samples).size() == 1);
}

void TestDataFiles::catalogueOptionIsCheckedStrictly_data()
{
    QTest::addColumn<QString>("argument"); // FILE: an existing file, DIR: a folder
    QTest::addColumn<QString>("error");    // part of the one error; empty: taken

    QTest::newRow("existing file") << "-catalogue=FILE" << QString();
    QTest::newRow("missing file") << "-catalogue=DIR/none.xml" << "no readable file at";
    QTest::newRow("a folder") << "-catalogue=DIR" << "no readable file at";
    QTest::newRow("blank") << "-catalogue= " << "-catalogue= needs the path of the product catalogue file";
    QTest::newRow("no value") << "-catalogue" << "-catalogue needs a value: -catalogue=PATH";
    QTest::newRow("other letter case")
        << "-Catalogue=FILE" << "unknown option (options are case-sensitive; did you mean -catalogue=PATH?)";
}

void TestDataFiles::catalogueOptionIsCheckedStrictly()
{
    QFETCH(QString, argument);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("mine.xml"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.close();
    argument.replace(QLatin1String("FILE"), file).replace(QLatin1String("DIR"), dir.path());

    const StartOptions options = parseCommandLine({QStringLiteral("zel-updater"), argument});
    if (error.isEmpty()) {
        QCOMPARE(options.errors, QStringList());
        QCOMPARE(options.cataloguePath, file);
    } else {
        QCOMPARE(options.errors.size(), 1);
        QVERIFY2(options.errors.first().contains(error), qPrintable(options.errors.first()));
        QVERIFY(options.cataloguePath.isNull());
    }
    // Given twice, even alike, is a mistake.
    const StartOptions twice = parseCommandLine(
        {QStringLiteral("zel-updater"), QStringLiteral("-catalogue=") + file, QStringLiteral("-catalogue=") + file});
    QCOMPARE(twice.errors, QStringList{QStringLiteral("-catalogue= is given more than once")});
}

QTEST_MAIN(TestDataFiles)
#include "test_DataFiles.moc"
