#include "ethernet/TarvoInput.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

// TarvoInput on loopback: what it sends, and what it makes of what comes back.
class TestTarvoInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void request_carriesTheAddressAndIsRefusedForBadTexts();
    void datagrams_becomeSignalsOnlyWhenComplete_data();
    void datagrams_becomeSignalsOnlyWhenComplete();
    void emptyDatagram_doesNotEndTheDrain();

private:
    EthernetSettings settings() const;
    bool sendEmpty(quint16 port) const;
    std::unique_ptr<QUdpSocket> m_peer;
};

namespace {

QByteArray header(quint16 type, int size, quint32 magic = 0x4ADC0104)
{
    QByteArray d(size, '\0');
    for (int i = 0; i < 4; ++i)
        d[i] = char((magic >> (8 * i)) & 0xFF);
    d[4] = 1;
    d[6] = char(type & 0xFF);
    d[7] = char(type >> 8);
    return d;
}

QByteArray reply(const QByteArray &verstring, const QByteArray &idstring, quint32 magic = 0x4ADC0104)
{
    QByteArray d = header(2, 32, magic);
    const char fixed[] = {char(198), 51, 100, 7,               // ip, network order
                          1, 2, 3, 4, 5, 6,                    // mac
                          0x34, 0x12,                          // ver
                          0x78, 0x56, 0x34, 0x12,              // sn
                          9, 0, 0, 0};                         // uni
    d.replace(12, 20, QByteArray(fixed, 20));
    return d + verstring + '\0' + idstring + '\0';
}

} // namespace

bool TestTarvoInput::sendEmpty(quint16 port) const
{
    // QUdpSocket sends nothing for an empty datagram.
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    return ::sendto(int(m_peer->socketDescriptor()), "", 0, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
}

EthernetSettings TestTarvoInput::settings() const
{
    EthernetSettings s;
    s.discoveryDestination = QStringLiteral("127.0.0.1");
    s.announcePort = 0;
    s.pollIntervalMs = 5;
    return s;
}

void TestTarvoInput::init()
{
    m_peer = std::make_unique<QUdpSocket>();
    QVERIFY(m_peer->bind(QHostAddress::LocalHost, 0));
}

void TestTarvoInput::request_carriesTheAddressAndIsRefusedForBadTexts()
{
    TarvoInput input(m_peer->localPort(), settings());
    QVERIFY(input.sendDiscover("0.0.0.0"));
    QVERIFY(input.sendDiscover("10.1.2.3"));
    for (const char *bad : {"255.255.255.255", "", "controller.example", "1.2.3.4.5"})
        QVERIFY2(!input.sendDiscover(bad), bad);

    QList<QByteArray> got;
    const auto drain = [&] {
        while (m_peer->hasPendingDatagrams())
            got.append(m_peer->receiveDatagram().data());
        return got.size();
    };
    QTRY_COMPARE(drain(), 2);
    QCOMPARE(got.at(0).toHex(' '), QByteArray("04 01 dc 4a 01 00 01 00 00 00 00 00 00 00 00 00"));
    QCOMPARE(got.at(1).toHex(' '), QByteArray("04 01 dc 4a 01 00 01 00 00 00 00 00 0a 01 02 03"));

    // An unusable destination is a send failure, not a crash or a silent success.
    EthernetSettings broken = settings();
    broken.discoveryDestination = QStringLiteral("nowhere");
    TarvoInput unsent(m_peer->localPort(), broken);
    QVERIFY(!unsent.sendDiscover("0.0.0.0"));
}

void TestTarvoInput::datagrams_becomeSignalsOnlyWhenComplete_data()
{
    QTest::addColumn<QList<QByteArray>>("discovery");
    QTest::addColumn<QList<QByteArray>>("announce");
    QTest::addColumn<QStringList>("expected");

    const QString full = QStringLiteral("reply 198.51.100.7 sn=305419896 ver=4660 uni=9 mac=010203040506");
    QTest::newRow("reply") << QList<QByteArray> {reply("SFT-OH 2.1", "Ostrel Hub")} << QList<QByteArray> {}
                           << QStringList {full + " [SFT-OH 2.1] [Ostrel Hub]"};
    QTest::newRow("empty version text: identity at offset 33")
        << QList<QByteArray> {reply("", "Hub")} << QList<QByteArray> {} << QStringList {full + " [] [Hub]"};
    QTest::newRow("wrong magic still delivered")
        << QList<QByteArray> {reply("v", "id", 0xDEADBEEF)} << QList<QByteArray> {} << QStringList {full + " [v] [id]"};
    QTest::newRow("long version text cut to 511")
        << QList<QByteArray> {reply(QByteArray(600, 'V'), "x")} << QList<QByteArray> {}
        << QStringList {full + " [" + QString(511, 'V') + "] [" + QString(88, 'V') + "]"};
    // A short datagram after a full one must not be read with the full one's bytes.
    QTest::newRow("short reply dropped")
        << QList<QByteArray> {reply("SFT-A", "first"), reply("SFT-B", "second").left(31), header(2, 8)}
        << QList<QByteArray> {} << QStringList {full + " [SFT-A] [first]"};
    QTest::newRow("texts end with the datagram")
        << QList<QByteArray> {reply("SFT-A", "first"), reply("SFT-LONGER", "").left(36)} << QList<QByteArray> {}
        << QStringList {full + " [SFT-A] [first]", full + " [SFT-] []"};
    QByteArray button = header(0x0302, 20);
    button[12] = char(-2);
    button[13] = 5;
    button[16] = 0x44;
    QTest::newRow("button, and a short one dropped")
        << QList<QByteArray> {button, button.left(19)} << QList<QByteArray> {}
        << QStringList {"button sn=68 button=5 show=-2"};
    QByteArray announce = header(8, 32);
    announce.replace(12, 4, QByteArray::fromHex("c6336407"));
    announce[22] = 3;
    announce[24] = 0x21;
    announce[28] = 4;
    announce[30] = 6;
    QTest::newRow("announce, and each type only on its own socket")
        << QList<QByteArray> {announce} << QList<QByteArray> {reply("v", "id"), announce, announce.left(31)}
        << QStringList {"announce 198.51.100.7 sn=33 ver=3 annc=6 dev=4"};
    QTest::newRow("unknown type and fragments ignored")
        << QList<QByteArray> {header(7, 40), QByteArray("\x04\x01"), reply("v", "id")} << QList<QByteArray> {}
        << QStringList {full + " [v] [id]"};
}

void TestTarvoInput::datagrams_becomeSignalsOnlyWhenComplete()
{
    QFETCH(QList<QByteArray>, discovery);
    QFETCH(QList<QByteArray>, announce);
    QFETCH(QStringList, expected);

    TarvoInput input(m_peer->localPort(), settings());
    QStringList seen;
    connect(&input, &TarvoInput::signalDiscoverResponse, this,
            [&](char *mac, unsigned long ip, unsigned long sn, unsigned short ver, unsigned long uni,
                char *verstring, char *idstring) {
                seen.append(QStringLiteral("reply %1 sn=%2 ver=%3 uni=%4 mac=%5 [%6] [%7]")
                                .arg(QHostAddress(quint32(ip)).toString())
                                .arg(sn).arg(ver).arg(uni)
                                .arg(QString::fromLatin1(QByteArray(mac, 6).toHex()),
                                     QString::fromLatin1(verstring), QString::fromLatin1(idstring)));
            });
    connect(&input, &TarvoInput::signalButtonPressed, this, [&](unsigned long sn, int button, int show) {
        seen.append(QStringLiteral("button sn=%1 button=%2 show=%3").arg(sn).arg(button).arg(show));
    });
    connect(&input, &TarvoInput::signalAnnounce, this,
            [&](char *, unsigned long ip, unsigned long sn, unsigned short ver, unsigned short annc,
                unsigned short dev) {
                seen.append(QStringLiteral("announce %1 sn=%2 ver=%3 annc=%4 dev=%5")
                                .arg(QHostAddress(quint32(ip)).toString()).arg(sn).arg(ver).arg(annc).arg(dev));
            });

    // Replies go back to wherever the request came from.
    QVERIFY(input.sendDiscover("0.0.0.0"));
    QTRY_VERIFY(m_peer->hasPendingDatagrams());
    const QNetworkDatagram request = m_peer->receiveDatagram();
    for (const QByteArray &d : discovery)
        m_peer->writeDatagram(d, QHostAddress::LocalHost, request.senderPort());
    for (const QByteArray &d : announce)
        m_peer->writeDatagram(d, QHostAddress::LocalHost, quint16(input.announceLocalPort()));
    QTRY_COMPARE(seen.size(), expected.size());
    QTest::qWait(30); // nothing more arrives
    QCOMPARE(seen, expected);
}

void TestTarvoInput::emptyDatagram_doesNotEndTheDrain()
{
    EthernetSettings s = settings();
    s.pollIntervalMs = 24 * 3600 * 1000; // drained only when the test says so
    TarvoInput input(m_peer->localPort(), s);
    QStringList seen;
    connect(&input, &TarvoInput::signalDiscoverResponse, this,
            [&](char *, unsigned long, unsigned long, unsigned short, unsigned long, char *, char *idstring) {
                seen.append(QString::fromLatin1(idstring));
            });
    connect(&input, &TarvoInput::signalAnnounce, this,
            [&](char *, unsigned long, unsigned long sn, unsigned short, unsigned short, unsigned short) {
                seen.append(QString::number(sn));
            });
    QVERIFY(input.sendDiscover("0.0.0.0"));
    QTRY_VERIFY(m_peer->hasPendingDatagrams());
    const quint16 discoveryPort = m_peer->receiveDatagram().senderPort();

    auto announce = [](int sn) {
        QByteArray d = header(8, 32);
        d[24] = char(sn);
        return d;
    };
    struct Socket {
        const char *name;
        quint16 port;
        std::function<void()> drain;
        std::function<QByteArray(int)> datagram; // reported as its number
    };
    const QList<Socket> sockets {
        {"discovery", discoveryPort, [&] { input.checkSocket(); },
         [](int n) { return reply("v", QByteArray::number(n)); }},
        {"announce", quint16(input.announceLocalPort()), [&] { input.checkAnncSocket(); }, announce},
    };
    for (const Socket &socket : sockets) {
        // Each round: a datagram, an empty one, another; whatever one drain
        // finds of them. One drain must have taken both whole datagrams:
        // rounds only make up for the rare case of the last not being in yet.
        bool oneDrain = false;
        for (int round = 0; round < 20 && !oneDrain; ++round) {
            seen.clear();
            const int first = 2 * round + 1;
            m_peer->writeDatagram(socket.datagram(first), QHostAddress::LocalHost, socket.port);
            QVERIFY(sendEmpty(socket.port));
            m_peer->writeDatagram(socket.datagram(first + 1), QHostAddress::LocalHost, socket.port);
            // Drained once the first is in, and not again before it is looked at.
            const QDeadlineTimer deadline(30000);
            for (socket.drain(); seen.isEmpty() && !deadline.hasExpired(); socket.drain())
                QTest::qWait(5);
            oneDrain = seen == QStringList {QString::number(first), QString::number(first + 1)};
            QTRY_COMPARE((socket.drain(), seen.size()), 2);
        }
        QVERIFY2(oneDrain, socket.name);
    }
}

QTEST_MAIN(TestTarvoInput)
#include "test_TarvoInput.moc"
