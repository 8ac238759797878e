#include "base/GuardingQuestion.h"

namespace {
const char *const kQuestionNames[] = {"downgrade", "overwrite", "manual-address", "all-fixtures",
                                     "unsigned"};
}

QString guardingQuestionName(GuardingQuestion question)
{
    return QString::fromLatin1(kQuestionNames[static_cast<int>(question)]);
}

QList<GuardingQuestion> guardingQuestions()
{
    return {GuardingQuestion::Downgrade, GuardingQuestion::Overwrite,
            GuardingQuestion::ManualAddress, GuardingQuestion::AllFixtures,
            GuardingQuestion::Unsigned};
}
