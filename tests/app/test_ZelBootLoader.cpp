#include "tests/app/WindowFixture.h"

#include "base/InterfacePanel.h"
#include "base/Logger.h"
#include "dmx/zeldmxInterfaceControl.h"
#include "ethernet/tftpInterfaceControl.h"
#include "usb/usbInterfaceControl.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// QObject::receivers is protected; naming it through a subclass gives a
// member pointer that works on any object.
struct ReceiverCount : QObject {
    static int of(const QObject *sender, const char *signal)
    {
        return (sender->*(&ReceiverCount::receivers))(signal);
    }
};

class TestZelBootLoader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_workDir;
    QString m_previousDir;

    static WindowFixture::Options sample()
    {
        WindowFixture::Options options;
        options.cataloguePath = sampleCataloguePath();
        return options;
    }

private slots:
    void initTestCase();
    void cleanupTestCase();

    void startupLogBeginsWithLengthThenInitializing();
    void startStateFollowsTheForm();
    void deviceListOfEachInterfaceMatchesCatalogue();
    void vireoPlayerAloneShowsFactoryDefault();
    void interfaceChangeClearsFileAndDisablesStackAndProgram();
    void interfaceWithoutProductsLeavesEmptyEnabledList();
    void statusMessageStaysUntilReplaced();
    void helpPageFor_data();
    void helpPageFor();
    void helpActionOpensPageBesideApplication();
    void formCarriesNamesTextsAndSizes();
    void metaObjectOrderIsFixed();
    void panelsKeepTheContractAndAreWiredOnce();
    void simulatedDevicesAreShownInTitleAndStatusBar();
    void realDevicesKeepPlainTitle();
    void startOptionsPreselectInterfaceAndDevice();
    void unknownStartDeviceTypeIsLoggedAndIgnored();
    void quitClosesWindow();
};

void TestZelBootLoader::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    QVERIFY(QFile::exists(sampleCataloguePath()));
    // Shutdown logs and image dumps land in the working directory.
    m_previousDir = QDir::currentPath();
    QDir::setCurrent(m_workDir.path());
}

void TestZelBootLoader::cleanupTestCase()
{
    QDir::setCurrent(m_previousDir);
}

void TestZelBootLoader::startupLogBeginsWithLengthThenInitializing()
{
    WindowFixture f(sample());
    const QStringList lines = f.logLines();
    QVERIFY(lines.size() >= 2);
    static const QRegularExpression config(
        QStringLiteral("^0x[0-9A-F]{8} \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d CONFIG - Logger - "
                       "Logging length set to 5000\\.$"));
    static const QRegularExpression init(
        QStringLiteral("^0x[0-9A-F]{8} \\S+ INFO - ZelBootLoader - Initializing\\.\\.\\.$"));
    QVERIFY2(config.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
    QVERIFY2(init.match(lines.at(1)).hasMatch(), qPrintable(lines.at(1)));
    QVERIFY(f.prompter.shown().isEmpty());
}

void TestZelBootLoader::startStateFollowsTheForm()
{
    WindowFixture f(sample());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    auto *stack = f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"));

    QCOMPARE(interfaces->count(), 3);
    const QStringList texts{QStringLiteral("USB"), QStringLiteral("ZELDMX Fixtures"),
                            QStringLiteral("Ethernet Controllers")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(interfaces->itemText(i), texts.at(i));
        QCOMPARE(interfaces->itemData(i, Qt::UserRole), QVariant(i));
        QVERIFY(interfaces->itemIcon(i).isNull());
    }
    QCOMPARE(interfaces->currentIndex(), 0);
    QCOMPARE(devices->currentIndex(), 0);
    QVERIFY(devices->isEnabled());

    QCOMPARE(stack->count(), 4);
    QVERIFY(qobject_cast<usbInterfaceControl *>(stack->widget(0)));
    QVERIFY(qobject_cast<zeldmxInterfaceControl *>(stack->widget(1)));
    QVERIFY(qobject_cast<tftpInterfaceControl *>(stack->widget(2)));
    QCOMPARE(stack->widget(3)->objectName(), QStringLiteral("page_2"));
    QCOMPARE(stack->currentIndex(), 0);
    QVERIFY(!stack->isEnabled());

    auto *factory = f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"));
    QVERIFY(factory->isHidden());
    QVERIFY(!factory->isEnabled());
    QVERIFY(!f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());
    QVERIFY(f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"))->isEnabled());
    QVERIFY(f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"))->text().isEmpty());
    QVERIFY(f.find<QLabel>(QStringLiteral("m_label_fileFirmwareVersion"))->text().isEmpty());
}

void TestZelBootLoader::deviceListOfEachInterfaceMatchesCatalogue()
{
    WindowFixture f(sample());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    auto *stack = f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"));
    const QStringList elements{QStringLiteral("USBDevice"), QStringLiteral("ZelDmxFixture"),
                               QStringLiteral("EthernetController")};
    // Backwards too, so every change is a real one.
    for (int i : {2, 1, 0, 2}) {
        interfaces->setCurrentIndex(i);
        emit interfaces->activated(i); // what an operator's choice sends
        QStringList shown;
        for (int d = 0; d < devices->count(); ++d)
            shown.append(devices->itemText(d));
        const QStringList expected = catalogueNames(sampleCataloguePath(), elements.at(i));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(shown, expected);
        QCOMPARE(devices->currentIndex(), 0);
        QCOMPARE(stack->currentIndex(), i);
        QVERIFY(f.logLines().last().endsWith(expected.first() + QStringLiteral(" selected.")));
    }
    QVERIFY(f.logLines().join('\n').contains(QStringLiteral("INFO - ZelBootLoader - ZELDMX Fixtures interface selected.")));
}

void TestZelBootLoader::vireoPlayerAloneShowsFactoryDefault()
{
    WindowFixture f(sample());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    auto *factory = f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"));
    auto *usb = f.window->findChild<usbInterfaceControl *>();

    const int vireo = devices->findText(QStringLiteral("Vireo Player"));
    const int sorrel = devices->findText(QStringLiteral("Sorrel 3"));
    QVERIFY(vireo >= 0 && sorrel >= 0);

    devices->setCurrentIndex(vireo);
    QVERIFY(!factory->isHidden());
    QCOMPARE(usb->deviceKind(), 1);

    devices->setCurrentIndex(sorrel);
    QVERIFY(factory->isHidden());
    QCOMPARE(usb->deviceKind(), 0);

    devices->setCurrentIndex(vireo);
    interfaces->setCurrentIndex(1);
    QVERIFY(factory->isHidden());
    devices->setCurrentIndex(0);
    QVERIFY(factory->isHidden());
    interfaces->setCurrentIndex(0);
    devices->setCurrentIndex(vireo);
    interfaces->setCurrentIndex(2);
    QVERIFY(factory->isHidden());
}

void TestZelBootLoader::interfaceChangeClearsFileAndDisablesStackAndProgram()
{
    WindowFixture f(sample());
    auto *interfaces = f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"));
    auto *stack = f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"));
    auto *program = f.find<QPushButton>(QStringLiteral("m_pushButton_program"));
    auto *factory = f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"));
    auto *file = f.find<QLabel>(QStringLiteral("m_label_firmwareImageFile"));

    file->setText(QStringLiteral("/tmp/some.hex"));
    f.window->enableProgramButton(true);
    QVERIFY(program->isEnabled() && factory->isEnabled());

    interfaces->setCurrentIndex(2);
    QVERIFY(file->text().isEmpty());
    QVERIFY(!stack->isEnabled());
    QVERIFY(!program->isEnabled());
    QVERIFY(!factory->isEnabled());
    QVERIFY(f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->isEnabled());
}

void TestZelBootLoader::interfaceWithoutProductsLeavesEmptyEnabledList()
{
    const QString catalogue = writeFile(
        m_workDir.filePath(QStringLiteral("usb-only.xml")),
        QStringLiteral("<ZELBLProductList><USBDevice><Name>Sorrel 3</Name></USBDevice>"
                       "</ZELBLProductList>"));
    WindowFixture::Options options;
    options.cataloguePath = catalogue;
    WindowFixture f(options);
    auto *devices = f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"));
    QCOMPARE(devices->count(), 1);

    const int before = f.logLines().size();
    f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->setCurrentIndex(1);
    QCOMPARE(devices->count(), 0);
    QVERIFY(devices->isEnabled());
    const QStringList added = f.logLines().mid(before);
    QCOMPARE(added.size(), 1);
    QVERIFY(added.first().endsWith(QStringLiteral("ZELDMX Fixtures interface selected.")));
}

void TestZelBootLoader::statusMessageStaysUntilReplaced()
{
    WindowFixture f(sample());
    f.window->show();
    auto *usb = f.window->findChild<usbInterfaceControl *>();
    emit usb->signal_updateStatus(QStringLiteral("Connecting to Sorrel3..."));
    // A time-out of any length would run the status bar's clearing timer.
    for (const QTimer *timer : f.window->statusBar()->findChildren<QTimer *>())
        QVERIFY(!timer->isActive());
    QTest::qWait(300);
    QCOMPARE(f.window->statusBar()->currentMessage(), QStringLiteral("Connecting to Sorrel3..."));
    emit usb->signal_updateStatus(QStringLiteral("Record 3"));
    QCOMPARE(f.window->statusBar()->currentMessage(), QStringLiteral("Record 3"));
}

void TestZelBootLoader::helpPageFor_data()
{
    QTest::addColumn<QString>("appDir");   // relative to a scratch folder
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("page");

    const QStringList withDoc{QStringLiteral("doc"), QStringLiteral("Release"),
                              QStringLiteral("DEBUG"), QStringLiteral("bin/doc"),
                              QStringLiteral("relEASE"), QStringLiteral("debugger")};
    QTest::newRow("Release goes up") << "Release" << withDoc << "doc/index.html";
    QTest::newRow("DEBUG goes up") << "DEBUG" << withDoc << "doc/index.html";
    QTest::newRow("any letter case") << "relEASE" << withDoc << "doc/index.html";
    QTest::newRow("other folder stays") << "bin" << withDoc << "bin/doc/index.html";
    QTest::newRow("only the whole name counts") << "debugger" << withDoc << "debugger/index.html";
    QTest::newRow("missing doc stays where it is")
        << "Release" << QStringList{QStringLiteral("Release")} << "index.html";
}

void TestZelBootLoader::helpPageFor()
{
    QFETCH(QString, appDir);
    QFETCH(QStringList, folders);
    QFETCH(QString, page);
    QTemporaryDir scratch;
    QDir root(scratch.path());
    for (const QString &folder : folders)
        QVERIFY(root.mkpath(folder));
    QCOMPARE(ZelBootLoader::helpPageFor(root.filePath(appDir)), root.absoluteFilePath(page));

    const QUrl url = ZelBootLoader::helpUrlFor(root.filePath(appDir));
    QCOMPARE(url.scheme(), QStringLiteral("file"));
    QCOMPARE(url.toLocalFile(), root.absoluteFilePath(page));
}

void TestZelBootLoader::helpActionOpensPageBesideApplication()
{
    WindowFixture f(sample());
    auto *help = f.window->findChild<QAction *>(QStringLiteral("actionHelp"));
    QVERIFY(help);
    help->trigger();
    QCOMPARE(f.openedUrls.size(), 1);
    QCOMPARE(f.openedUrls.first(), ZelBootLoader::helpUrlFor(QCoreApplication::applicationDirPath()));
    QVERIFY(f.openedUrls.first().toLocalFile().endsWith(QStringLiteral("/index.html")));
}

void TestZelBootLoader::formCarriesNamesTextsAndSizes()
{
    WindowFixture f(sample());
    ZelBootLoader &w = *f.window;
    QCOMPARE(w.objectName(), QStringLiteral("ZelBootLoader"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Zel Firmware Updater \u2014 simulated devices"));
    QCOMPARE(w.size(), QSize(695, 665));
    QVERIFY(!w.windowIcon().isNull());

    auto *label3 = f.find<QLabel>(QStringLiteral("label_3"));
    auto *label4 = f.find<QLabel>(QStringLiteral("label_4"));
    QCOMPARE(label3->text(), QStringLiteral("Interface Select:"));
    QCOMPARE(label4->text(), QStringLiteral("Device Select:"));
    for (QLabel *label : {label3, label4}) {
        QVERIFY(label->font().bold());
        QCOMPARE(label->alignment(), Qt::AlignRight | Qt::AlignTrailing | Qt::AlignVCenter);
    }
    auto *select = f.find<QPushButton>(QStringLiteral("m_pushButton_firmwareImageFileSelect"));
    auto *program = f.find<QPushButton>(QStringLiteral("m_pushButton_program"));
    QCOMPARE(select->text(), QStringLiteral("File Select:"));
    QCOMPARE(program->text(), QStringLiteral("PROGRAM"));
    QVERIFY(select->font().bold() && program->font().bold());
    QCOMPARE(program->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(program->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(f.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"))->text(),
             QStringLiteral("Factory Default"));
    for (const char *name : {"m_comboBox_interfaceSelect", "m_comboBox_deviceSelect"})
        QCOMPARE(f.find<QComboBox>(QLatin1String(name))->sizeAdjustPolicy(),
                 QComboBox::AdjustToContents);

    auto *stack = f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"));
    QCOMPARE(stack->minimumHeight(), 200);
    QCOMPARE(stack->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(stack->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    QCOMPARE(stack->sizePolicy().verticalStretch(), 100);
    QVERIFY(f.find<QPlainTextEdit>(QStringLiteral("m_plainTextEdit_log"))->isReadOnly());
    QVERIFY(f.find<QLayout>(QStringLiteral("verticalLayout")));
    QVERIFY(f.find<QLayout>(QStringLiteral("gridLayout")));
    QVERIFY(f.find<QLayout>(QStringLiteral("horizontalLayout_4")));

    auto *quit = f.window->findChild<QAction *>(QStringLiteral("actionQuit"));
    QCOMPARE(quit->text(), QStringLiteral("E&xit"));
    QCOMPARE(quit->iconText(), QStringLiteral("Exit"));
    QCOMPARE(quit->toolTip(), QStringLiteral("Exit"));
    QCOMPARE(quit->statusTip(), QStringLiteral("Exits the software."));
    QCOMPARE(quit->menuRole(), QAction::QuitRole);
    auto *menu = f.find<QMenu>(QStringLiteral("menuFile"));
    QCOMPARE(menu->title(), QStringLiteral("&File"));
    auto *history = f.window->findChild<QAction *>(QStringLiteral("actionHistory"));
    QCOMPARE(history->text(), QStringLiteral("&History..."));
    auto *startOver = f.window->findChild<QAction *>(QStringLiteral("actionStartOver"));
    QCOMPARE(startOver->text(), QStringLiteral("&Start Over"));
    QCOMPARE(menu->actions().size(), 4);
    QCOMPARE(menu->actions().first(), startOver);
    QCOMPARE(menu->actions().at(1), history);
    QVERIFY(menu->actions().at(2)->isSeparator());
    QCOMPARE(menu->actions().last(), quit);
    // Beside File Select, as in the File menu.
    QCOMPARE(f.find<QPushButton>(QStringLiteral("m_pushButton_startOver"))->text(), QStringLiteral("Start Over"));

    auto *help = f.window->findChild<QAction *>(QStringLiteral("actionHelp"));
    QCOMPARE(help->text(), QStringLiteral("&Help"));
    QCOMPARE(help->shortcut(), QKeySequence(Qt::Key_F1));
    QVERIFY(w.actions().contains(help)); // so F1 works without a menu
    auto *helpMenu = f.find<QMenu>(QStringLiteral("menuHelp"));
    QCOMPARE(helpMenu->actions().first(), help);
    QCOMPARE(helpMenu->actions().last(), f.window->findChild<QAction *>(QStringLiteral("actionAbout")));
    QCOMPARE(w.menuBar()->actions().size(), 2);

    auto *version = f.find<QLabel>(QStringLiteral("m_label_version"));
    QVERIFY(version);
    QCOMPARE(version->text(), QStringLiteral("v2.6.2 build 57 (20130709)"));
    QCOMPARE(version->parentWidget(), w.statusBar());
}

void TestZelBootLoader::metaObjectOrderIsFixed()
{
    const QMetaObject &mo = ZelBootLoader::staticMetaObject;
    QStringList signatures;
    for (int i = mo.methodOffset(); i < mo.methodCount(); ++i)
        signatures.append(QString::fromLatin1(mo.method(i).methodSignature()));
    const QStringList expected{
        QStringLiteral("signal_log(LOGPRIORITY,LOGTYPE,QString,QString)"),
        QStringLiteral("enableControl(bool)"),
        QStringLiteral("enableProgramButton(bool)"),
        QStringLiteral("handleStatusUpdate(QString)"),
        QStringLiteral("handleProgramComplete()"),
        QStringLiteral("on_m_comboBox_interfaceSelect_currentIndexChanged(int)"),
        QStringLiteral("on_m_comboBox_deviceSelect_currentIndexChanged(QString)"),
        QStringLiteral("on_m_pushButton_firmwareImageFileSelect_clicked()"),
        QStringLiteral("on_m_pushButton_program_clicked()"),
        QStringLiteral("on_actionQuit_triggered(bool)"),
        QStringLiteral("on_actionHelp_triggered(bool)"),
        QStringLiteral("updateLogDisplay(QString)"),
    };
    QCOMPARE(signatures, expected);
    QCOMPARE(mo.method(mo.methodOffset()).methodType(), QMetaMethod::Signal);
    QCOMPARE(mo.method(mo.methodOffset() + 1).methodType(), QMetaMethod::Signal);
    QCOMPARE(mo.method(mo.methodOffset() + 2).access(), QMetaMethod::Public);
    QCOMPARE(mo.method(mo.methodOffset() + 5).access(), QMetaMethod::Private);
}

void TestZelBootLoader::panelsKeepTheContractAndAreWiredOnce()
{
    WindowFixture f(sample());
    ZelBootLoader &w = *f.window;
    auto *stack = f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"));
    auto *program = f.find<QPushButton>(QStringLiteral("m_pushButton_program"));
    const QStringList contractSignals{
        QStringLiteral("signal_log(LOGPRIORITY,LOGTYPE,QString,QString)"),
        QStringLiteral("signal_enableProgramButton(bool)"),
        QStringLiteral("signal_updateStatus(QString)"),
        QStringLiteral("signal_programComplete()"),
    };
    const QStringList formSlots{QStringLiteral("on_m_pushButton_USBConnect_clicked()"),
                                QStringLiteral("on_m_pushButton_ZELDMXDiscoverEnabler_clicked()"),
                                QStringLiteral("on_m_pushButton_TFTPDiscover_clicked()")};

    QCOMPARE(ReceiverCount::of(&w, SIGNAL(enableControl(bool))), 3);
    QCOMPARE(ReceiverCount::of(&w, SIGNAL(signal_log(LOGPRIORITY,LOGTYPE,QString,QString))), 1);
    QCOMPARE(ReceiverCount::of(Logger::instance(nullptr), SIGNAL(latestLogString(QString))), 1);
    QCOMPARE(ReceiverCount::of(f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect")),
                               SIGNAL(activated(int))),
             1);

    const auto ownMethods = [](const QMetaObject *mo) {
        QStringList own;
        for (int m = mo->methodOffset(); m < mo->methodCount(); ++m)
            own.append(QString::fromLatin1(mo->method(m).methodSignature()));
        return own;
    };
    // Every panel takes the contract's signals from the one class that declares them.
    QCOMPARE(ownMethods(&InterfacePanel::staticMetaObject).mid(0, 4), contractSignals);

    for (int i = 0; i < 3; ++i) {
        QWidget *panel = stack->widget(i);
        const QMetaObject *mo = panel->metaObject();
        QCOMPARE(mo->superClass(), &InterfacePanel::staticMetaObject);
        const QStringList own = ownMethods(mo);
        // The form's first slot comes before the enable slot.
        QVERIFY2(own.indexOf(formSlots.at(i)) >= 0, qPrintable(own.join(' ')));
        QVERIFY2(own.indexOf(formSlots.at(i)) < own.indexOf(QStringLiteral("handleEnableControl(bool)")),
                 qPrintable(own.join(' ')));

        for (const QString &signature : contractSignals) {
            const QByteArray signal = QByteArray("2") + signature.toLatin1();
            QVERIFY2(ReceiverCount::of(panel, signal.constData()) == 1, qPrintable(signature));
        }

        // Each signal reaches the window, and only once.
        const QString marker = QStringLiteral("wired once %1").arg(i);
        QMetaObject::invokeMethod(panel, "signal_log", Q_ARG(LOGPRIORITY, LOG_INFO),
                                  Q_ARG(LOGTYPE, LOGTYPE_GENERAL), Q_ARG(QString, panel->objectName()),
                                  Q_ARG(QString, marker));
        QCOMPARE(f.logLines().filter(QStringLiteral(" INFO - ") + panel->objectName() + " - " + marker).size(), 1);

        QMetaObject::invokeMethod(panel, "signal_updateStatus", Q_ARG(QString, marker));
        QCOMPARE(w.statusBar()->currentMessage(), marker);
        QMetaObject::invokeMethod(panel, "signal_enableProgramButton", Q_ARG(bool, true));
        QVERIFY(program->isEnabled());
        QMetaObject::invokeMethod(panel, "signal_programComplete");
        QVERIFY(!program->isEnabled());
        // Without an accepted image a completion does not open the panel.
        QVERIFY(!stack->isEnabled());

        auto *box = panel->findChild<QGroupBox *>();
        emit w.enableControl(false);
        QVERIFY(!box->isEnabledTo(panel));
        emit w.enableControl(true);
        QVERIFY(box->isEnabledTo(panel));
    }
}

void TestZelBootLoader::simulatedDevicesAreShownInTitleAndStatusBar()
{
    WindowFixture f(sample());
    QVERIFY(f.window->windowTitle().contains(QStringLiteral("simulated devices")));
    auto *label = f.find<QLabel>(QStringLiteral("m_label_simulated"));
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("SIMULATED DEVICES"));
    // A status message hides normal status-bar widgets, not this one.
    f.window->show();
    f.window->handleStatusUpdate(QStringLiteral("Connecting..."));
    QVERIFY(label->isVisible());
    QCOMPARE(f.logLines().filter(QStringLiteral("Simulated devices in use")).size(), 1);
}

void TestZelBootLoader::realDevicesKeepPlainTitle()
{
    WindowFixture::Options options = sample();
    options.simulate = false;
    WindowFixture f(options);
    QCOMPARE(f.window->windowTitle(), QStringLiteral("Zel Firmware Updater"));
    QVERIFY(!f.find<QLabel>(QStringLiteral("m_label_simulated")));
    QVERIFY(f.logLines().filter(QStringLiteral("Simulated devices")).isEmpty());
}

void TestZelBootLoader::startOptionsPreselectInterfaceAndDevice()
{
    WindowFixture::Options options = sample();
    options.interfaceIndex = 2;
    options.deviceType = QStringLiteral("Marlow White");
    options.deviceAddress = QStringLiteral("10.1.2.3");
    options.autoConnect = true;
    WindowFixture f(options);
    QCOMPARE(f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->currentText(),
             QStringLiteral("Ethernet Controllers"));
    QCOMPARE(f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->currentText(),
             QStringLiteral("Marlow White"));
    QVERIFY(qobject_cast<tftpInterfaceControl *>(
        f.find<QStackedWidget>(QStringLiteral("m_stackedWidget_interfaceControls"))->currentWidget()));
    QVERIFY(!f.find<QPushButton>(QStringLiteral("m_pushButton_program"))->isEnabled());
    QCOMPARE(f.window->deviceAddress(), QStringLiteral("10.1.2.3"));
    QVERIFY(f.window->autoConnect());

    WindowFixture::Options vireo = sample();
    vireo.interfaceIndex = 0;
    vireo.deviceType = QStringLiteral("Vireo Player");
    f.destroyWindow();
    WindowFixture g(vireo);
    QCOMPARE(g.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->currentText(),
             QStringLiteral("Vireo Player"));
    QCOMPARE(g.window->findChild<usbInterfaceControl *>()->deviceKind(), 1);
    QVERIFY(!g.find<QCheckBox>(QStringLiteral("m_ckx_FactoryDefault"))->isHidden());
}

void TestZelBootLoader::unknownStartDeviceTypeIsLoggedAndIgnored()
{
    WindowFixture::Options options = sample();
    options.interfaceIndex = 1;
    options.deviceType = QStringLiteral("Sorrel 3"); // a USB product, not a fixture
    WindowFixture f(options);
    QCOMPARE(f.find<QComboBox>(QStringLiteral("m_comboBox_interfaceSelect"))->currentIndex(), 1);
    QCOMPARE(f.find<QComboBox>(QStringLiteral("m_comboBox_deviceSelect"))->currentIndex(), 0);
    QCOMPARE(f.logLines()
                 .filter(QStringLiteral("WARNING - ZelBootLoader - Device type \"Sorrel 3\" is not a "
                                        "product of the ZELDMX Fixtures interface."))
                 .size(),
             1);
}

void TestZelBootLoader::quitClosesWindow()
{
    WindowFixture f(sample());
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.window->findChild<QAction *>(QStringLiteral("actionQuit"))->trigger();
    QVERIFY(!f.window->isVisible());
}

QTEST_MAIN(TestZelBootLoader)
#include "test_ZelBootLoader.moc"
