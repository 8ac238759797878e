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
    // Rows first .. first + count - 1 as text.
    static QByteArray rows(const QByteArray &image, qsizetype first, qsizetype count);

private:
    // Writes the rows into out, which has room for them; returns the end.
    static char *formatRows(const uchar *image, qsizetype first, qsizetype count, char *out);
};
