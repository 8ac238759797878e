#pragma once

#include "base/LogTypes.h"
#include "ethernet/ControllerIdentifier.h"

#include <QObject>
#include <QString>

#include <optional>

class BootLoadProduct;
class QHostAddress;

// The search of a run without an operator for one controller by its
// address. The panel discovers and reads revisions as it does for the
// operator; the search decides what follows each step and what is said. A
// listed controller is chosen and its revision read; one that is not listed
// is entered as a typed address when what it answered discovery, or else its
// "info" file, does not say it is another type. Ends with finished() once it
// was begun.
class ControllerSearch : public QObject
{
    Q_OBJECT

public:
    using Identity = ControllerIdentifier::Identity;
    using Reply = ControllerIdentifier::Reply;

    // identifier: reads the "info" of a controller that is not listed.
    explicit ControllerSearch(ControllerIdentifier &identifier, QObject *parent = nullptr);

    bool isActive() const { return !m_address.isNull(); }
    QString address() const { return m_address; }

    // Begins the search for the text given, host being what it names (null
    // when it names no controller); busy: the panel cannot search now. Null
    // once begun; otherwise why it did not begin.
    QString begin(const QString &text, const QHostAddress &host, bool busy);
    // Why a begun search ends before discovery: typeSelected tells whether
    // a device type with a controller description is selected.
    QString discoveryNotStarted(bool typeSelected);
    // Discovery has ended: listed is the address's index in the list (-1
    // when it is not there), listCount the list's size and reply what the
    // address answered, if it did.
    void discoveryEnded(int listed, int listCount, const std::optional<Reply> &reply,
                        const BootLoadProduct *product);
    // The question for the chosen controller's revision has ended; shown:
    // what the panel shows of it.
    void revisionRead(bool ok, const QString &shown);
    // Ends the search without an answer.
    void stop();

    // What a search learnt of the controller it entered as a typed address,
    // for the PROGRAM that follows: handed out once, for that address only.
    std::optional<Identity> takeLearnt(const QString &address);
    void forget() { m_learnt.reset(); }

signals:
    void message(LOGPRIORITY priority, const QString &text);
    // The listed controller at index is to be chosen and its revision read.
    void readRevision(int index);
    // The address is to be entered as if the operator had typed it.
    void enterAddress(const QString &address);
    void finished(bool found, const QString &message);

private:
    void identified(const Identity &identity);
    void enter(const Identity &identity);
    void finish(bool found, const QString &message);

    ControllerIdentifier &m_identifier;
    QString m_address; // null when no search is under way
    QString m_type;    // the device type searched for
    Reply m_reply;     // what the address answered discovery with
    bool m_readingRevision = false;
    std::optional<Identity> m_learnt;
};
