#include "catalogue/ImageSource.h"

#include <cstring>

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
    const auto *newline = static_cast<const char *>(std::memchr(begin, '\n', size_t(rest)));
    qsizetype length = newline ? newline - begin : rest;
    m_pos += newline ? length + 1 : length;
    if (length > 0 && begin[length - 1] == '\r')
        --length;
    return QByteArrayView(begin, length);
}
