#include "app/DataFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

const char DataFiles::kCatalogue[] = "zelblprod.xml";
const char DataFiles::kHelpPage[] = "doc/index.html";
const char DataFiles::kSamples[] = "samples";

namespace {

const char kDataFolderName[] = "zel-updater";

void appendOnce(QStringList &list, const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (!clean.isEmpty() && !list.contains(clean))
        list.append(clean);
}

} // namespace

QStringList DataFiles::folders(const QString &applicationDir)
{
    // GenericDataLocation lists the user's own folder first, then those of
    // XDG_DATA_DIRS (/usr/local/share:/usr/share when it is not set).
    const QStringList dataDirs = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    const QString userDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);

    QStringList out;
    if (!userDir.isEmpty())
        appendOnce(out, userDir + QLatin1Char('/') + QLatin1String(kDataFolderName));
    if (!applicationDir.isEmpty()) {
        QDir dir(applicationDir);
        appendOnce(out, dir.absolutePath());
        const QString last = dir.dirName().toLower();
        if ((last == QLatin1String("debug") || last == QLatin1String("release")) && dir.cdUp())
            appendOnce(out, dir.absolutePath());
    }
    for (const QString &dataDir : dataDirs) {
        if (dataDir != userDir)
            appendOnce(out, dataDir + QLatin1Char('/') + QLatin1String(kDataFolderName));
    }
    return out;
}

QStringList DataFiles::folders()
{
    return folders(QCoreApplication::applicationDirPath());
}

DataFiles::Search DataFiles::find(const QString &relativePath, const QString &applicationDir)
{
    Search search;
    for (const QString &folder : folders(applicationDir)) {
        const QString path = folder + QLatin1Char('/') + relativePath;
        search.lookedIn.append(path);
        // A file that is there but cannot be read is still the one meant:
        // reading it says why, rather than a later place standing in for it.
        if (QFileInfo::exists(path)) {
            search.found = path;
            break;
        }
    }
    return search;
}

DataFiles::Search DataFiles::find(const QString &relativePath)
{
    return find(relativePath, QCoreApplication::applicationDirPath());
}

QString DataFiles::placesText(const Search &search)
{
    QStringList lines;
    for (const QString &path : search.lookedIn) {
        const QString native = QDir::toNativeSeparators(path);
        lines.append(path == search.found
                         ? QCoreApplication::translate("DataFiles", "%1 (used)").arg(native)
                         : native);
    }
    return lines.join(QLatin1Char('\n'));
}
