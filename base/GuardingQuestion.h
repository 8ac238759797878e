#pragma once

#include <QList>
#include <QString>

// The questions that guard a run against an unwanted result. Device code asks
// them through Prompter::askGuarding, so that a run without an operator
// answers "yes" only to those it was allowed (-yes=).
enum class GuardingQuestion {
    Downgrade,     // the image is older than what the device runs
    Overwrite,     // the image is the one the device already runs
    ManualAddress, // the device was not found but an address was given
    AllFixtures,   // the run would reprogram every fixture found
    Unsigned,      // the image is not signed by a trusted key, though keys are installed
};

// "downgrade", "overwrite", "manual-address", "all-fixtures", "unsigned": the
// -yes= words.
QString guardingQuestionName(GuardingQuestion question);
// Every question, in the order --help lists them.
QList<GuardingQuestion> guardingQuestions();
