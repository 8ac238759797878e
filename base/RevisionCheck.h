#pragma once

#include "base/UpdateRecord.h"

#include <QString>

// What reading a device's revision again after a successful run showed,
// compared with the image's version in the form the device's own route
// reports it.
class RevisionCheck
{
public:
    enum class Result { Verified, NotVerified, Mismatch };

    Result result = Result::NotVerified;
    QString revisionAfter; // as the route reported it; null when nothing was read
    QString expected;      // the image's version in the route's form; null when it has none
    QString detail;        // one sentence for the log and the end-of-run message

    // Verified when the two are equal, a mismatch otherwise.
    static RevisionCheck compare(const QString &reported, const QString &expected);
    // The device did not answer within the wait.
    static RevisionCheck noAnswer(const QString &why);
    // The device answered, but its route gives nothing the image's version
    // can be compared with: not verified rather than a guess.
    static RevisionCheck notComparable(const QString &reported, const QString &why);

    UpdateRecord::Outcome outcome() const;
    // "verified", "not verified", "mismatch".
    QString resultName() const;
    // The end of the log line and of the end-of-run message, e.g.
    // "verified: the device reports 1.2.3" or "not verified: no answer within 60 s".
    QString summary() const;
    bool failed() const { return result == Result::Mismatch; }
};
