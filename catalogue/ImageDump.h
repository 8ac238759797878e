#pragma once

#include <QByteArray>
#include <QString>

// The diagnostic text dump of an image: one row per full 16 bytes, offset in
// upper-case hexadecimal (at least 4 digits), a space, the 16 bytes, CR LF.
class ImageDump
{
public:
    // Replaces fileName; false, and nothing said, when it cannot be written.
    static bool write(const QByteArray &image, const QString &fileName);
    // The session's dump, output.txt in the session's output folder.
    static bool write(const QByteArray &image) { return write(image, defaultFileName()); }
    static QString defaultFileName();
    // The same as write() on a worker thread, returning at once: the dump of
    // a large image takes as long as reading it. Dumps are written in the
    // order asked for; one not yet started when a newer one is asked for is
    // dropped, as the newer would replace it. fileName is taken as it points
    // now, whatever the working directory becomes.
    static void writeInBackground(const QByteArray &image, const QString &fileName);
    static void writeInBackground(const QByteArray &image)
    {
        writeInBackground(image, defaultFileName());
    }
    // Returns once every dump asked for in the background is written or failed.
    static void waitForBackgroundWrites();
    // Rows first .. first + count - 1 as text.
    static QByteArray rows(const QByteArray &image, qsizetype first, qsizetype count);

private:
    // Writes the rows into out, which has room for them; returns the end.
    static char *formatRows(const uchar *image, qsizetype first, qsizetype count, char *out);
};
