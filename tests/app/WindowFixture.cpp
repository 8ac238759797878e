#include "tests/app/WindowFixture.h"

#include <QDomDocument>
#include <QFile>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextStream>

WindowFixture::WindowFixture(const Options &options)
{
    devices = DeviceEnvironment::create(options.simulate, options.simulation);
    AppServices services;
    services.prompter = &prompter;
    services.pauser = &pauser;
    services.devices = devices.get();
    services.cataloguePath = options.cataloguePath;
    services.keyFolders = options.keyFolders;
    services.trustedKeyPaths = options.trustedKeyPaths;
    services.openUrl = [this, starts = options.browserStarts](const QUrl &url) {
        openedUrls.append(url);
        return starts;
    };
    window = std::make_unique<ZelBootLoader>(options.interfaceIndex, options.deviceType,
                                             options.deviceAddress, options.autoConnect, services);
}

WindowFixture::~WindowFixture()
{
    window.reset();
    if (prompter.pendingExpectations() > 0)
        QTest::qFail(qPrintable(QStringLiteral("%1 scripted dialog(s) never shown")
                                    .arg(prompter.pendingExpectations())),
                     __FILE__, __LINE__);
}

QStringList WindowFixture::logLines() const
{
    return find<QPlainTextEdit>(QStringLiteral("m_plainTextEdit_log"))
        ->toPlainText()
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString sampleCataloguePath()
{
    return qEnvironmentVariable("ZEL_SOURCE_DIR") + QStringLiteral("/resources/zelblprod.xml");
}

QStringList catalogueNames(const QString &path, const QString &elementName)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QDomDocument document;
    if (!document.setContent(&file))
        return {};
    QStringList names;
    for (QDomElement product = document.documentElement().firstChildElement(elementName);
         !product.isNull(); product = product.nextSiblingElement(elementName))
        names.append(product.firstChildElement(QStringLiteral("Name")).text());
    return names;
}

QString hexImage(const QList<QPair<quint32, quint32>> &words)
{
    QString text;
    for (const auto &[offset, value] : words) {
        QByteArray record;
        record.append(char(4));
        record.append(char((offset >> 8) & 0xFF));
        record.append(char(offset & 0xFF));
        record.append(char(0));
        for (int i = 0; i < 4; ++i)
            record.append(char((value >> (8 * i)) & 0xFF));
        quint8 sum = 0;
        for (char c : record)
            sum += quint8(c);
        record.append(char(quint8(-sum)));
        text += QLatin1Char(':') + QString::fromLatin1(record.toHex().toUpper()) + QLatin1Char('\n');
    }
    text += QStringLiteral(":00000001FF\n");
    return text;
}

QString writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        qFatal("cannot write %s", qPrintable(path));
    QTextStream(&file) << text;
    return path;
}
