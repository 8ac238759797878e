#pragma once

#include "base/LogTypes.h"

#include <QList>
#include <QObject>
#include <QString>

class QTimer;

// The search of a run without an operator: finds a fixture by its serial
// number (or every fixture of the first port that has some of the product's
// type), working the panel's controls as an operator would, and answers
// once, from the event loop. Each step waits for the panel's own answer
// (supplies found, a discovery window ended, a list settled, a revision
// shown), and a timer ends a step that never does.
class FixtureSearch : public QObject
{
    Q_OBJECT

public:
    // The panel's controls as the search works them.
    class Controls
    {
    public:
        struct Port {
            QString name;
            QList<quint64> fixtures; // those the library knows of on it
        };

        virtual ~Controls() = default;
        virtual bool runUnderWay() const = 0;
        // The product chosen; null when none is.
        virtual QString productName() const = 0;
        virtual bool ofProductType(quint32 serial) const = 0;

        virtual void discoverSupplies() = 0;
        virtual int supplyCount() const = 0;
        // Chooses supply index, its ports listed.
        virtual void chooseSupply(int index) = 0;
        virtual QString supplyName() const = 0;
        // Starts a discovery of the supply's fixtures unless one is open;
        // false for a supply that lists its fixtures itself.
        virtual bool discoverFixtures() = 0;
        virtual QList<Port> ports() const = 0;
        // Lists and settles the port's fixtures as choosing it would, also
        // when it is chosen already.
        virtual void choosePort(int index) = 0;
        virtual QString chosenPortName() const = 0;

        virtual int listedCount() const = 0;
        // Chooses serial in the fixture list, or keeps the fixture chosen
        // when all are wanted; false when there is none to choose.
        virtual bool chooseListed(bool all, quint32 serial) = 0;
        virtual QString revisionShown() const = 0;
        // Leaves PROGRAM to the list: the fixture chosen, or all of them.
        virtual void offerListed(bool all) = 0;
        // Enters serial by hand, as the operator would type it.
        virtual void typeSerial(quint32 serial) = 0;
    };

    explicit FixtureSearch(Controls &controls, QObject *parent = nullptr);

    // How long supplies may take to answer, and the most a later step may take.
    void setWaits(int supplyWindow, int stepLimit);

    // address: a serial number of eight hex digits, or "all". done() answers,
    // never from within the call.
    void start(const QString &address);
    bool isActive() const { return m_stage != Stage::None; }
    // Answers now that nothing was found, with message.
    void end(const QString &message);
    // Takes no further step; for the panel's shutdown.
    void halt();

    // The panel's answers, which take the search on.
    void supplyAnswered();
    void fixtureAnswered();
    void fixtureWindowEnded();
    void listSettled();
    void revisionShown(quint32 serial, bool allowed);

signals:
    void logged(LOGPRIORITY priority, QString text);
    void done(bool found, QString message);

private:
    enum class Stage { None, Supplies, Fixtures, Ports };

    void begin();
    void stepTimedOut();
    void searchSupply();
    void fixturesKnown();
    void nextPort();
    void notFound();
    void answer(bool found, const QString &message);

    Controls &m_controls;
    QTimer *m_timer = nullptr;
    int m_supplyWindow = 2000;
    int m_stepLimit = 12000;
    Stage m_stage = Stage::None;
    bool m_halted = false;
    bool m_all = false;
    quint32 m_serial = 0;
    int m_supplyIndex = 0;
    QList<int> m_ports;         // port entries of the supply that may hold the fixture(s)
    bool m_awaitsRevision = false;
    QString m_note;             // the serial answers, but as another fixture type
};
