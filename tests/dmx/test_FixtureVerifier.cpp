// The check after a fixture's update, driven against a library whose reads
// are scripted: what counts as the fixture's answer, and when it gives up.
#include "dmx/FixtureVerifier.h"
#include "dmx/Hollis.h"
#include "dmx/HollisNotPresent.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A fixture whose revision reads go as a test says: the library may refuse to
// start the first ones (still holding what it read before), and the fixture
// may leave started ones unanswered.
class ScriptedReads : public ZelHollis::HollisNotPresent
{
public:
    int refused = 0;
    int unanswered = 0;
    QVariant held; // the value left from before the update
    uint reports = 5;
    int reads = 0;

    bool fixtureReadFirmwareVersion(int, int, quint64, quint16 &) override
    {
        ++reads;
        if (reads <= refused)
            return false;
        m_answered = reads > refused + unanswered;
        m_started = true;
        return true;
    }
    QVariant getFixtureProperty(int, int, quint64, const QString &key) override
    {
        if (key != QLatin1String("fixture_firmware_version"))
            return {};
        if (!m_started)
            return held;
        return m_answered ? QVariant(reports) : QVariant();
    }

private:
    bool m_started = false;
    bool m_answered = false;
};

FixtureImageRevision imageOfRevision5()
{
    FixtureImageRevision image;
    image.version = QStringLiteral("5.1.3");
    image.expected = QStringLiteral("5");
    return image;
}

} // namespace

class TestFixtureVerifier : public QObject
{
    Q_OBJECT

private slots:
    void check_onlyAnAnswerToAStartedReadCounts_data();
    void check_onlyAnAnswerToAStartedReadCounts();
    void abort_signalsNothingMore();
};

void TestFixtureVerifier::check_onlyAnAnswerToAStartedReadCounts_data()
{
    QTest::addColumn<int>("refused");
    QTest::addColumn<int>("unanswered");
    QTest::addColumn<uint>("reports");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<int>("reads"); // 0: as many as the wait allows

    QTest::newRow("answers at once with the image's revision")
        << 0 << 0 << 5u << "verified: the fixture reports revision 5 (image 5.1.3)" << 1;
    QTest::newRow("reads refused while the old revision is held: it is never taken")
        << 2 << 0 << 5u << "verified: the fixture reports revision 5 (image 5.1.3)" << 3;
    QTest::newRow("answers late with another revision")
        << 0 << 3 << 4u << "mismatch: the fixture reports revision 4, the image 5.1.3 is revision 5" << 4;
    QTest::newRow("never answers within the wait")
        << 0 << 1000000 << 5u
        << "not verified: the fixture did not report its firmware version within 200 ms" << 0;
}

void TestFixtureVerifier::check_onlyAnAnswerToAStartedReadCounts()
{
    QFETCH(int, refused);
    QFETCH(int, unanswered);
    QFETCH(uint, reports);
    QFETCH(QString, summary);
    QFETCH(int, reads);
    auto backend = std::make_unique<ScriptedReads>();
    ScriptedReads &fixture = *backend;
    fixture.refused = refused;
    fixture.unanswered = unanswered;
    fixture.held = 4u;
    fixture.reports = reports;
    ZelHollis::Hollis hollis(std::move(backend));
    FixtureVerifier verifier(hollis);
    verifier.setReadWait(10);
    verifier.setWait(200);
    QSignalSpy checked(&verifier, &FixtureVerifier::checked);

    verifier.start(1, 0x8100C001, imageOfRevision5(), QString());
    QVERIFY(verifier.isChecking());
    QVERIFY(checked.wait(10000));
    QCOMPARE(checked.first().first().value<RevisionCheck>().summary(), summary);
    QVERIFY(!verifier.isChecking());
    if (reads > 0)
        QCOMPARE(fixture.reads, reads);
    else
        QVERIFY(fixture.reads > 1);
    const int readsWhenChecked = fixture.reads;
    QTest::qWait(50);
    QCOMPARE(fixture.reads, readsWhenChecked);
    QCOMPARE(checked.size(), 1);
}

void TestFixtureVerifier::abort_signalsNothingMore()
{
    auto backend = std::make_unique<ScriptedReads>();
    ScriptedReads &fixture = *backend;
    fixture.unanswered = 1000000;
    ZelHollis::Hollis hollis(std::move(backend));
    FixtureVerifier verifier(hollis);
    verifier.setReadWait(10);
    verifier.setWait(60000);
    QSignalSpy checked(&verifier, &FixtureVerifier::checked);

    verifier.start(1, 0x8100C001, imageOfRevision5(), QString());
    QTRY_VERIFY(fixture.reads >= 2);
    verifier.abort();
    const int readsWhenAborted = fixture.reads;
    QTest::qWait(50);
    QCOMPARE(fixture.reads, readsWhenAborted);
    QCOMPARE(checked.size(), 0);
}

QTEST_MAIN(TestFixtureVerifier)
#include "test_FixtureVerifier.moc"
