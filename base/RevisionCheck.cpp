#include "base/RevisionCheck.h"

#include <QCoreApplication>

RevisionCheck RevisionCheck::compare(const QString &reported, const QString &expected)
{
    RevisionCheck check;
    check.revisionAfter = reported;
    check.expected = expected;
    if (reported == expected) {
        check.result = Result::Verified;
        check.detail = QCoreApplication::translate("RevisionCheck", "the device reports %1")
                           .arg(reported);
    } else {
        check.result = Result::Mismatch;
        check.detail = QCoreApplication::translate(
                           "RevisionCheck", "the device reports %1, the image is %2")
                           .arg(reported, expected);
    }
    return check;
}

RevisionCheck RevisionCheck::noAnswer(const QString &why)
{
    RevisionCheck check;
    check.result = Result::NotVerified;
    check.detail = why;
    return check;
}

RevisionCheck RevisionCheck::notComparable(const QString &reported, const QString &why)
{
    RevisionCheck check;
    check.result = Result::NotVerified;
    check.revisionAfter = reported;
    check.detail = why;
    return check;
}

UpdateRecord::Outcome RevisionCheck::outcome() const
{
    switch (result) {
    case Result::Verified: return UpdateRecord::Outcome::Verified;
    case Result::Mismatch: return UpdateRecord::Outcome::Mismatch;
    case Result::NotVerified: break;
    }
    return UpdateRecord::Outcome::NotVerified;
}

QString RevisionCheck::resultName() const
{
    return UpdateRecord::outcomeName(outcome());
}

QString RevisionCheck::summary() const
{
    return detail.isEmpty() ? resultName() : resultName() + QStringLiteral(": ") + detail;
}
