// The command line, one argument per line of the input (the program path
// first), through the parser that decides whether a run goes without an
// operator: whatever it accepts for such a run must be complete.
#include "app/CommandLine.h"

#include <QStringList>

#include <cstdint>
#include <cstdlib>

static void check(bool ok)
{
    if (!ok)
        std::abort();
}

static bool same(const StartOptions &a, const StartOptions &b)
{
    return a.interfaceIndex == b.interfaceIndex && a.deviceType == b.deviceType
        && a.deviceAddress == b.deviceAddress && a.autoConnect == b.autoConnect
        && a.simulate == b.simulate && a.simulateKeepRevision == b.simulateKeepRevision
        && a.simulateNoReturn == b.simulateNoReturn && a.verifyWaitSeconds == b.verifyWaitSeconds
        && a.firmwarePath == b.firmwarePath && a.allowedQuestions == b.allowedQuestions
        && a.resultPath == b.resultPath && a.help == b.help && a.errors == b.errors;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool helpWritten = !commandLineHelp().isEmpty();
    check(helpWritten);

    const QString text = QString::fromLocal8Bit(reinterpret_cast<const char *>(data), qsizetype(size));
    QStringList arguments = text.split(QLatin1Char('\n'));
    arguments.prepend(QStringLiteral("zel-updater"));
    const StartOptions options = parseCommandLine(arguments);

    check(options.interfaceIndex >= -1 && options.interfaceIndex <= 2);
    check(options.verifyWaitSeconds >= -1 && options.verifyWaitSeconds <= 3600);
    check((options.simulateKeepRevision || options.simulateNoReturn) <= options.simulate);
    for (qsizetype i = 0; i < options.allowedQuestions.size(); ++i)
        check(options.allowedQuestions.indexOf(options.allowedQuestions.at(i)) == i);
    check(options.resultPath.isNull() || !options.resultPath.trimmed().isEmpty());
    if (options.unattended()) {
        check(!options.firmwarePath.trimmed().isEmpty());
        // Accepted without an error, a run without an operator has all it needs.
        if (options.errors.isEmpty())
            check(options.autoConnect && options.interfaceIndex >= 0 && !options.deviceType.isEmpty()
                  && (options.interfaceIndex == 0 || !options.deviceAddress.isEmpty()));
    } else {
        check(options.allowedQuestions.isEmpty() || !options.errors.isEmpty());
    }
    check(same(options, parseCommandLine(arguments)));
    return 0;
}
