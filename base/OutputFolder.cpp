#include "base/OutputFolder.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

QMutex g_mutex;
QString g_current;

} // namespace

bool OutputFolder::writable(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".zel-write-probe-XXXXXX")));
    return probe.open();
}

QString OutputFolder::choose(const QString &preferred, const QString &fallback)
{
    if (writable(preferred))
        return QDir(preferred).absolutePath();
    if (!fallback.isEmpty() && QDir().mkpath(fallback) && writable(fallback))
        return QDir(fallback).absolutePath();
    return QString();
}

QString OutputFolder::chooseForSession()
{
    return choose(QDir::currentPath(),
                  QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

QString OutputFolder::current()
{
    QMutexLocker lock(&g_mutex);
    return g_current;
}

void OutputFolder::setCurrent(const QString &folder)
{
    QMutexLocker lock(&g_mutex);
    g_current = folder;
}

QString OutputFolder::filePath(const QString &fileName)
{
    const QString folder = current();
    return folder.isEmpty() ? fileName : QDir(folder).filePath(fileName);
}
