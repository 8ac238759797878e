#include "app/ExitCode.h"

QString exitCodeMeaning(ExitCode code)
{
    switch (code) {
    case ExitCode::Verified: return QStringLiteral("verified");
    case ExitCode::FailedOrMismatch: return QStringLiteral("failed or mismatch");
    case ExitCode::BadOptionsOrImageRefused: return QStringLiteral("bad options or image refused");
    case ExitCode::DeviceNotFound: return QStringLiteral("device not found or not accessible to this user");
    case ExitCode::QuestionRefused:
        return QStringLiteral("a guarding question was met that -yes did not allow");
    case ExitCode::NotVerified: return QStringLiteral("not verified");
    case ExitCode::VerifiedNotRecorded:
        return QStringLiteral("verified, but the update record could not be written");
    }
    return QString();
}
