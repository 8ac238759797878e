#include "catalogue/ImageSource.h"

ImageSource::ImageSource(QByteArray data)
    : m_data(std::move(data))
{
    // Editors on the other platform like to start text with a UTF-8 byte order
    // mark; it is no part of the first line.
    if (m_data.startsWith("\xEF\xBB\xBF"))
        m_pos = m_lineStart = 3;
}

QByteArrayView ImageSource::readLine()
{
    const char *begin = m_data.constData() + m_pos;
    const qsizetype rest = m_data.size() - m_pos;
    m_lineStart = m_pos;
    if (rest <= 0)
        return QByteArrayView();
    // LF, CR LF and a lone CR all end a line: files saved on any platform are
    // read line by line, never as one long line whose tail would be lost.
    qsizetype length = 0;
    while (length < rest && begin[length] != '\n' && begin[length] != '\r')
        ++length;
    qsizetype consumed = length;
    if (length < rest) {
        ++consumed;
        if (begin[length] == '\r' && length + 1 < rest && begin[length + 1] == '\n')
            ++consumed;
    }
    m_pos += consumed;
    return QByteArrayView(begin, length);
}
