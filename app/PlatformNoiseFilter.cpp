#include "app/PlatformNoiseFilter.h"

#include <cstdio>

namespace {

QtMessageHandler g_next = nullptr;

void filtered(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (PlatformNoiseFilter::isNoise(type, message))
        return;
    if (g_next) {
        g_next(type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

bool PlatformNoiseFilter::isNoise(QtMsgType type, const QString &message)
{
    // Only what Qt says in passing; an error is never held back.
    if (type != QtDebugMsg && type != QtInfoMsg && type != QtWarningMsg)
        return false;
    return message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))
        || message.startsWith(QLatin1String("This plugin does not support "));
}

void PlatformNoiseFilter::install()
{
    g_next = qInstallMessageHandler(filtered);
}
