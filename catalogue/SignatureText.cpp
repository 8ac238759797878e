#include "catalogue/SignatureText.h"

namespace SignatureText {

QList<QByteArrayView> lines(QByteArrayView text)
{
    QList<QByteArrayView> result;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        QByteArrayView line = text.sliced(start, end - start);
        if (line.endsWith('\r'))
            line.chop(1);
        result.append(line);
        start = next;
    }
    return result;
}

namespace {

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::optional<QByteArray> decodeBase64(QByteArrayView line, qsizetype size)
{
    // Exactly the length the tool writes for size bytes, padding included.
    if (size <= 0 || line.size() != (size + 2) / 3 * 4)
        return std::nullopt;
    const qsizetype padding = (3 - size % 3) % 3;
    const qsizetype digits = line.size() - padding;
    for (qsizetype i = digits; i < line.size(); ++i) {
        if (line[i] != '=')
            return std::nullopt;
    }
    QByteArray bytes;
    bytes.reserve(size);
    quint32 accumulator = 0;
    int bits = 0;
    for (qsizetype i = 0; i < digits; ++i) {
        const int value = sextet(line[i]);
        if (value < 0)
            return std::nullopt;
        accumulator = (accumulator << 6 | quint32(value)) & 0xFFFFFFu;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.append(char((accumulator >> bits) & 0xFF));
        }
    }
    if (bytes.size() != size)
        return std::nullopt;
    return bytes;
}

std::optional<QByteArrayView> after(QByteArrayView line, QByteArrayView prefix)
{
    if (!line.startsWith(prefix))
        return std::nullopt;
    return line.sliced(prefix.size());
}

} // namespace SignatureText
