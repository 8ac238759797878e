#include "catalogue/IntelHexRecord.h"

namespace {

// -1 for a character that is not a hexadecimal digit.
constexpr std::array<qint8, 256> makeDigitTable()
{
    std::array<qint8, 256> t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            t[c] = qint8(c - '0');
        else if (c >= 'A' && c <= 'F')
            t[c] = qint8(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            t[c] = qint8(c - 'a' + 10);
        else
            t[c] = -1;
    }
    return t;
}
constexpr std::array<qint8, 256> kDigit = makeDigitTable();

inline quint8 pairOf(const char *p)
{
    const int hi = kDigit[quint8(p[0])];
    const int lo = kDigit[quint8(p[1])];
    return (hi | lo) < 0 ? 0 : quint8(hi << 4 | lo);
}

} // namespace

quint8 IntelHexRecord::pairAt(QByteArrayView line, qsizetype pos)
{
    if (pos < 0 || pos + 2 > line.size())
        return 0;
    return pairOf(line.data() + pos);
}

void IntelHexRecord::parse(QByteArrayView line)
{
    m_byteCount = pairAt(line, 1);
    m_addressHigh = pairAt(line, 3);
    m_addressLow = pairAt(line, 5);
    m_type = pairAt(line, 7);

    unsigned sum = m_byteCount + m_addressHigh + m_addressLow + m_type;
    const qsizetype dataEnd = 9 + 2 * qsizetype(m_byteCount);
    const char *p = line.data();
    if (dataEnd + 2 <= line.size()) {
        // The whole record is on the line: no bounds test per pair.
        for (unsigned j = 0; j < m_byteCount; ++j) {
            m_data[j] = pairOf(p + 9 + 2 * j);
            sum += m_data[j];
        }
        m_checksum = pairOf(p + dataEnd);
    } else {
        for (unsigned j = 0; j < m_byteCount; ++j) {
            m_data[j] = pairAt(line, 9 + 2 * qsizetype(j));
            sum += m_data[j];
        }
        m_checksum = pairAt(line, dataEnd);
    }
    m_checksumOk = quint8(sum + m_checksum) == 0;
}
