#include "app/CommandLine.h"

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
    return options;
}
