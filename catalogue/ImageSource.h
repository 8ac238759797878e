#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The lines of one image file, held in memory. Readers of consecutive
// sections share one source; a reader that meets a line it does not own puts
// it back for the next one.
class ImageSource
{
public:
    explicit ImageSource(QByteArray data = QByteArray());

    bool atEnd() const { return m_pos >= m_data.size(); }
    // The next line without its line end (LF, CR LF or a lone CR). The view stays valid as long as
    // the source lives.
    QByteArrayView readLine();
    // The line last read is read again by the next readLine().
    void putBack() { m_pos = m_lineStart; }

private:
    QByteArray m_data;
    qsizetype m_pos = 0;
    qsizetype m_lineStart = 0;
};
