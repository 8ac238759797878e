// The image dump as a file: replaced whole, never left half written, and
// written without waiting for the disk.
#include "catalogue/ImageDump.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <dlfcn.h>

namespace {

// Every sync to disk made by this process, the library's included: these
// definitions take the place of the C library's.
std::atomic<int> g_syncs{0};

template <typename Call> Call next(const char *name)
{
    return reinterpret_cast<Call>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd)
{
    ++g_syncs;
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    ++g_syncs;
    static const auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

class TestImageDump : public QObject
{
    Q_OBJECT

private slots:
    void replacesTheOldDumpWholeWithoutSyncing();
    void unwritableNameLeavesNothingBehind();
    void backgroundDumps_theLastAskedForIsLeftWhereItWasAsked();
};

void TestImageDump::replacesTheOldDumpWholeWithoutSyncing()
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("output.txt"));
    QByteArray big(0x20000, Qt::Uninitialized);
    for (int i = 0; i < big.size(); ++i)
        big[i] = char(i * 7 + (i >> 8));
    const QByteArray small = QByteArray::fromHex("000102030405060708090A0B0C0D0E0F"
                                                 "F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF");
    g_syncs = 0;

    // A new dump may be read by others, as any file the program makes.
    QVERIFY(ImageDump::write(big, name));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ImageDump::rows(big, 0, big.size() / 16));
    file.close();
    QVERIFY(QFile::permissions(name) & QFileDevice::ReadOther);

    // A shorter dump replaces a longer one whole: no tail of the old one is
    // left, the file keeps the permissions it was given, no temporary stays.
    QFile::setPermissions(name, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    QVERIFY(ImageDump::write(small, name));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("0000 000102030405060708090A0B0C0D0E0F\r\n"
                                        "0010 F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF\r\n"));
    QCOMPARE(QFile::permissions(name),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                 | QFileDevice::WriteUser | QFileDevice::ReadGroup);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"output.txt"});

    // Rewritten at every image loaded: a sync each time held the window for
    // longer than reading a 4 MiB image.
    QCOMPARE(g_syncs.load(), 0);
}

void TestImageDump::unwritableNameLeavesNothingBehind()
{
    QTemporaryDir dir;
    // A folder in the dump's place: the write fails and the folder stays.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("output.txt")));
    QVERIFY(!ImageDump::write(QByteArray(64, 'x'), dir.filePath(QStringLiteral("output.txt"))));
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("output.txt"))).isDir());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
    // A folder that does not exist.
    QVERIFY(!ImageDump::write(QByteArray(64, 'x'), dir.filePath(QStringLiteral("gone/output.txt"))));
}

void TestImageDump::backgroundDumps_theLastAskedForIsLeftWhereItWasAsked()
{
    QTemporaryDir dir, elsewhere;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    // A large dump, then small ones, asked for in a row: the older, slower
    // one must never end up over a newer one.
    QList<QByteArray> images{QByteArray(0x400000, 'a')};
    for (char c : {'b', 'c', 'd', 'e', 'f'})
        images.append(QByteArray(0x1000, c));
    for (const QByteArray &image : std::as_const(images))
        ImageDump::writeInBackground(image, QStringLiteral("output.txt"));
    // The name meant the folder current when it was given.
    QDir::setCurrent(elsewhere.path());
    ImageDump::waitForBackgroundWrites();
    QDir::setCurrent(previous);

    QFile file(dir.filePath(QStringLiteral("output.txt")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ImageDump::rows(images.last(), 0, images.last().size() / 16));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"output.txt"});
    QVERIFY(QDir(elsewhere.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestImageDump)
#include "test_ImageDump.moc"
