#pragma once

#include <QString>
#include <QStringList>

// Where the updater finds the files it reads but never writes: the product
// catalogue, the help page and the sample images. Each place holds them laid
// out alike: zelblprod.xml, doc/index.html, samples/.
class DataFiles
{
public:
    struct Search {
        QString found;        // the first place that has it; empty when none has
        QStringList lookedIn; // every path looked at, in order; found is the last
    };

    static const char kCatalogue[];  // zelblprod.xml
    static const char kHelpPage[];   // doc/index.html
    static const char kSamples[];    // samples

    // The places, in the order they are looked in: the user's data folder
    // (a newer file the maker sent), the executable's folder (a build folder;
    // its parent too when it is a Debug or Release folder), then the
    // installed data folders, which follow XDG_DATA_DIRS.
    static QStringList folders(const QString &applicationDir);
    static QStringList folders();
    static Search find(const QString &relativePath, const QString &applicationDir);
    static Search find(const QString &relativePath);

    // The places of a search as the operator reads them, one a line, the one
    // used marked.
    static QString placesText(const Search &search);
};
