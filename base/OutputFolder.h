#pragma once

#include <QString>

// Where a session's files go: the log written at shutdown, the image dump and
// any record written later. The window settles it once at start-up; until
// then (and in code that runs without a window) files go to the working
// directory.
class OutputFolder
{
public:
    // preferred when a file can be created in it, else fallback (created when
    // missing) when one can be created there, else empty.
    static QString choose(const QString &preferred, const QString &fallback);
    // The working directory, else the user's application data folder.
    static QString chooseForSession();

    // The folder settled for this session; empty means the working directory.
    static QString current();
    static void setCurrent(const QString &folder);
    // fileName inside current().
    static QString filePath(const QString &fileName);

    // True when a file can be created in folder (tried, not guessed from
    // permission bits: a read-only mount or a removed folder refuses root too).
    static bool writable(const QString &folder);
};
