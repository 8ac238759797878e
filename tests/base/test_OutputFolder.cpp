#include "base/OutputFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// Folders that cannot be written even by root: one that was removed after it
// was named, and one below a plain file.
class TestOutputFolder : public QObject
{
    Q_OBJECT

private slots:
    void choosesTheFirstFolderAFileCanBeCreatedIn_data()
    {
        QTest::addColumn<bool>("preferredWritable");
        QTest::addColumn<bool>("fallbackWritable");
        QTest::addColumn<QString>("chosen"); // "preferred", "fallback" or ""
        QTest::newRow("working directory first") << true << true << "preferred";
        QTest::newRow("else the data folder, created") << false << true << "fallback";
        QTest::newRow("else nothing") << false << false << "";
    }

    void choosesTheFirstFolderAFileCanBeCreatedIn()
    {
        QFETCH(bool, preferredWritable);
        QFETCH(bool, fallbackWritable);
        QFETCH(QString, chosen);
        QTemporaryDir root;
        const QString preferred = root.filePath("cwd");
        QVERIFY(QDir().mkpath(preferred));
        const QString removed = root.filePath("removed");
        QVERIFY(QDir().mkpath(removed));
        QVERIFY(QDir(removed).removeRecursively());
        QFile plain(root.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        // The data folder does not exist yet; below a plain file it never can.
        const QString fallback = fallbackWritable ? root.filePath("data/zel") : plain.fileName() + "/zel";
        const QString first = preferredWritable ? preferred : removed;

        const QString expected = chosen == "preferred" ? preferred
            : chosen == "fallback"                     ? fallback
                                                       : QString();
        QCOMPARE(OutputFolder::choose(first, fallback), expected);
        if (!expected.isEmpty())
            QVERIFY(QFileInfo(expected).isDir());
        // The probe leaves nothing behind.
        QCOMPARE(QDir(preferred).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void filesGoToTheSettledFolderOrTheWorkingDirectory()
    {
        QCOMPARE(OutputFolder::filePath("output.txt"), QStringLiteral("output.txt"));
        OutputFolder::setCurrent("/var/tmp/zel");
        QCOMPARE(OutputFolder::filePath("output.txt"), QStringLiteral("/var/tmp/zel/output.txt"));
        OutputFolder::setCurrent(QString());
    }
};

QTEST_GUILESS_MAIN(TestOutputFolder)
#include "test_OutputFolder.moc"
