#include "app/CommandLine.h"

#include "app/ExitCode.h"
#include "catalogue/SigningKey.h"

#include <QFileInfo>

namespace {

// The first argument carrying the prefix wins. Every occurrence of the prefix
// is removed from it, not only the leading one.
QString prefixedValue(const QStringList &arguments, const QString &prefix)
{
    for (const QString &argument : arguments) {
        if (argument.startsWith(prefix, Qt::CaseSensitive)) {
            QString value = argument;
            value.remove(prefix, Qt::CaseSensitive);
            value = value.simplified();
            // Given but blank stays distinguishable from absent.
            return value.isNull() ? QStringLiteral("") : value;
        }
    }
    return QString();
}

QString questionList()
{
    QStringList names;
    for (GuardingQuestion question : guardingQuestions())
        names.append(guardingQuestionName(question));
    return names.join(QStringLiteral(", "));
}

// The options of the unattended run take the text after "=" as it stands:
// a path may hold runs of blanks or the option's own name.
class UnattendedOptions
{
public:
    explicit UnattendedOptions(StartOptions &options) : m_options(options) {}

    // False when the argument is not one of ours.
    bool take(const QString &argument)
    {
        static const QString kNames[] = {QStringLiteral("-firmware"), QStringLiteral("-yes"),
                                         QStringLiteral("-result")};
        for (int i = 0; i < 3; ++i) {
            const QString &name = kNames[i];
            if (!argument.startsWith(name, Qt::CaseInsensitive))
                continue;
            m_mentioned[i] = true;
            if (!argument.startsWith(name + QLatin1Char('='), Qt::CaseSensitive)) {
                if (argument == name)
                    error(QStringLiteral("%1 needs a value: %1=%2").arg(name, placeholder(i)));
                else
                    error(QStringLiteral("%1: unknown option (options are case-sensitive; did you "
                                         "mean %2=%3?)")
                              .arg(argument, name, placeholder(i)));
                return true;
            }
            if (m_seen[i]) {
                error(QStringLiteral("%1= is given more than once").arg(name));
                return true;
            }
            m_seen[i] = true;
            const QString value = argument.mid(name.size() + 1);
            switch (i) {
            case 0: takeFirmware(value); break;
            case 1: takeQuestions(argument, value); break;
            case 2: takeResult(value); break;
            }
            return true;
        }
        return false;
    }

    void checkCombination()
    {
        if (!m_mentioned[0]) {
            if (m_seen[1] || m_seen[2])
                error(QStringLiteral("-yes= and -result= belong to an unattended run, which needs "
                                     "-firmware="));
            return;
        }
        if (!m_options.unattended())
            return; // the malformed -firmware is reported already
        QStringList missing;
        if (!m_options.autoConnect)
            missing.append(QStringLiteral("-autoConnect"));
        if (m_options.interfaceIndex < 0)
            missing.append(QStringLiteral("an interface (-usb, -ZELDMX or -ethernet)"));
        if (m_options.deviceType.isEmpty())
            missing.append(QStringLiteral("-deviceType=NAME"));
        // The one USB player attached is found without an address.
        if (m_options.interfaceIndex != 0 && m_options.deviceAddress.isEmpty())
            missing.append(QStringLiteral("-deviceAddress=ADDRESS"));
        if (!missing.isEmpty())
            error(QStringLiteral("an unattended run (-firmware=) also needs %1")
                      .arg(missing.join(QStringLiteral(", "))));
    }

private:
    static QString placeholder(int option)
    {
        return option == 1 ? QStringLiteral("QUESTIONS") : QStringLiteral("PATH");
    }

    void error(const QString &text) { m_options.errors.append(text); }

    void takeFirmware(const QString &value)
    {
        if (value.trimmed().isEmpty())
            error(QStringLiteral("-firmware= needs the path of the firmware image file"));
        else
            m_options.firmwarePath = value;
    }

    void takeResult(const QString &value)
    {
        if (value.trimmed().isEmpty())
            error(QStringLiteral("-result= needs the path of the result file to write"));
        else
            m_options.resultPath = value;
    }

    void takeQuestions(const QString &argument, const QString &value)
    {
        if (value.trimmed().isEmpty()) {
            error(QStringLiteral("-yes= needs a comma list of %1").arg(questionList()));
            return;
        }
        const QStringList words = value.split(QLatin1Char(','));
        QList<GuardingQuestion> allowed;
        for (const QString &raw : words) {
            const QString word = raw.trimmed();
            bool known = false;
            for (GuardingQuestion question : guardingQuestions()) {
                if (word == guardingQuestionName(question)) {
                    known = true;
                    if (!allowed.contains(question))
                        allowed.append(question);
                }
            }
            if (!known) {
                error(QStringLiteral("%1: \"%2\" is not a guarding question; -yes= takes a comma "
                                     "list of %3")
                          .arg(argument, word, questionList()));
                return;
            }
        }
        m_options.allowedQuestions = allowed;
    }

    StartOptions &m_options;
    bool m_mentioned[3] = {false, false, false}; // in any form
    bool m_seen[3] = {false, false, false};      // well-formed
};

// Options of our own beside -simulate; like those of the unattended run, a
// mistake in them is an error rather than ignored.
void takeSimulationOptions(const QStringList &arguments, StartOptions &options)
{
    const QString simulatePrefix = QStringLiteral("-simulate=");
    const QString waitPrefix = QStringLiteral("-verifyWait");
    bool waitSeen = false;
    for (const QString &argument : arguments) {
        if (argument.startsWith(simulatePrefix, Qt::CaseSensitive)) {
            options.simulate = true;
            for (const QString &raw : argument.mid(simulatePrefix.size()).split(QLatin1Char(','))) {
                const QString word = raw.trimmed();
                if (word == QLatin1String("keep-revision"))
                    options.simulateKeepRevision = true;
                else if (word == QLatin1String("no-return"))
                    options.simulateNoReturn = true;
                else
                    options.errors.append(QStringLiteral("%1: \"%2\" is not a simulated behaviour; "
                                                         "-simulate= takes keep-revision, no-return")
                                              .arg(argument, word));
            }
        } else if (argument.startsWith(waitPrefix, Qt::CaseInsensitive)) {
            bool ok = false;
            const int seconds = argument.startsWith(waitPrefix + QLatin1Char('='), Qt::CaseSensitive)
                ? argument.mid(waitPrefix.size() + 1).toInt(&ok)
                : -1;
            if (!ok || seconds < 0 || seconds > 3600)
                options.errors.append(QStringLiteral("%1: -verifyWait= takes a number of seconds "
                                                     "from 0 to 3600")
                                          .arg(argument));
            else if (waitSeen)
                options.errors.append(QStringLiteral("-verifyWait= is given more than once"));
            else
                options.verifyWaitSeconds = seconds;
            waitSeen = true;
        }
    }
}

// -trustedKey=PATH, as often as needed. A key that cannot be trusted stops
// the start: going on without it would quietly check images against less.
void takeTrustedKeys(const QStringList &arguments, StartOptions &options)
{
    const QString name = QStringLiteral("-trustedKey");
    for (const QString &argument : arguments) {
        if (!argument.startsWith(name, Qt::CaseInsensitive))
            continue;
        if (!argument.startsWith(name + QLatin1Char('='), Qt::CaseSensitive)) {
            options.errors.append(argument == name
                                      ? QStringLiteral("-trustedKey needs a value: -trustedKey=PATH")
                                      : QStringLiteral("%1: unknown option (options are case-sensitive; "
                                                       "did you mean -trustedKey=PATH?)")
                                            .arg(argument));
            continue;
        }
        const QString path = argument.mid(name.size() + 1);
        if (path.trimmed().isEmpty()) {
            options.errors.append(QStringLiteral("-trustedKey= needs the path of a public key file"));
            continue;
        }
        QString error;
        if (!SigningKey::fromFile(path, &error)) {
            options.errors.append(
                QStringLiteral("%1: %2 is not a public key file: %3").arg(argument, path, error));
            continue;
        }
        const QString absolute = QFileInfo(path).absoluteFilePath();
        if (!options.trustedKeyPaths.contains(absolute))
            options.trustedKeyPaths.append(absolute);
    }
}

// -catalogue=PATH is checked as strictly as the options of the unattended
// run: a catalogue the caller names and does not get would leave the window
// without the products they meant.
void takeCatalogueOption(const QStringList &arguments, StartOptions &options)
{
    const QString name = QStringLiteral("-catalogue");
    bool seen = false;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(name, Qt::CaseInsensitive))
            continue;
        if (!argument.startsWith(name + QLatin1Char('='), Qt::CaseSensitive)) {
            options.errors.append(argument == name
                                      ? QStringLiteral("-catalogue needs a value: -catalogue=PATH")
                                      : QStringLiteral("%1: unknown option (options are case-sensitive; "
                                                       "did you mean -catalogue=PATH?)")
                                            .arg(argument));
            continue;
        }
        if (seen) {
            options.errors.append(QStringLiteral("-catalogue= is given more than once"));
            continue;
        }
        seen = true;
        const QString path = argument.mid(name.size() + 1);
        const QFileInfo file(path);
        if (path.trimmed().isEmpty())
            options.errors.append(QStringLiteral("-catalogue= needs the path of the product catalogue file"));
        else if (!file.isFile() || !file.isReadable())
            options.errors.append(QStringLiteral("%1: no readable file at %2").arg(argument, path));
        else
            options.cataloguePath = file.absoluteFilePath();
    }
}

} // namespace

StartOptions parseCommandLine(const QStringList &arguments)
{
    StartOptions options;

    // The order of these tests, not the order on the command line, decides.
    if (arguments.contains(QStringLiteral("-usb"), Qt::CaseSensitive))
        options.interfaceIndex = 0;
    else if (arguments.contains(QStringLiteral("-ZELDMX"), Qt::CaseSensitive))
        options.interfaceIndex = 1;
    else if (arguments.contains(QStringLiteral("-ethernet"), Qt::CaseSensitive))
        options.interfaceIndex = 2;

    options.deviceType = prefixedValue(arguments, QStringLiteral("-deviceType="));
    options.deviceAddress = prefixedValue(arguments, QStringLiteral("-deviceAddress="));
    options.autoConnect = arguments.contains(QStringLiteral("-autoConnect"), Qt::CaseSensitive);
    options.simulate = arguments.contains(QStringLiteral("-simulate"), Qt::CaseSensitive);
    options.help = arguments.contains(QStringLiteral("--help"), Qt::CaseSensitive)
        || arguments.contains(QStringLiteral("-help"), Qt::CaseSensitive);

    takeSimulationOptions(arguments, options);
    takeTrustedKeys(arguments, options);
    takeCatalogueOption(arguments, options);

    UnattendedOptions unattended(options);
    for (const QString &argument : arguments)
        unattended.take(argument);
    unattended.checkCombination();
    return options;
}

QString commandLineHelp()
{
    QString text = QStringLiteral(
        "Usage: zel-updater [options]\n"
        "\n"
        "Options (matched exactly, letter case included):\n"
        "  -usb, -ZELDMX, -ethernet  start with this interface; -usb wins over -ZELDMX,\n"
        "                            which wins over -ethernet\n"
        "  -deviceType=NAME          start with this device type selected\n"
        "  -deviceAddress=ADDRESS    the device: controller IP address, fixture serial number\n"
        "  -autoConnect              connect to the device without the operator\n"
        "  -simulate                 use simulated devices instead of real hardware\n"
        "  -simulate=BEHAVIOURS      simulated devices that fail the check after an update,\n"
        "                            a comma list of: keep-revision, no-return\n"
        "  -verifyWait=SECONDS       how long the check after an update waits for the device\n"
        "  -catalogue=PATH           the product catalogue to read instead of the zelblprod.xml\n"
        "                            found in the data folders\n"
        "  -trustedKey=PATH          also trust this public key (*.pub) for image signatures;\n"
        "                            may be given more than once\n"
        "  -firmware=PATH            firmware image file of an unattended run\n"
        "  -yes=QUESTIONS            guarding questions an unattended run may answer \"yes\" to,\n"
        "                            a comma list of: %1\n"
        "  -result=PATH              JSON file the unattended run writes its result to\n"
        "  --help                    print this text and exit\n"
        "\n"
        "An unattended run needs -autoConnect, an interface, -deviceType=, -deviceAddress=\n"
        "(not for -usb) and -firmware=. Other unknown arguments are ignored.\n"
        "\n"
        "Exit codes:\n");
    text = text.arg(questionList());
    for (int code = 0; code <= kLastExitCode; ++code)
        text += QStringLiteral("  %1  %2\n").arg(code).arg(exitCodeMeaning(static_cast<ExitCode>(code)));
    text += QStringLiteral(
        "\n"
        "An update that could not be added to updates.jsonl is said on the error output and\n"
        "in the result file (\"recordWritten\": false, \"recordError\": why); a verified\n"
        "device then ends the run with exit code 6. A -result= file that cannot be written\n"
        "ends the run with exit code 2 before anything is sent.\n");
    return text;
}
