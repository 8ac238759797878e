#include "catalogue/IntelHexRecord.h"

namespace {

// Digit value, or 0x100 for a character that is not a hexadecimal digit: the
// flag survives the shifts and ORs of a pair, so a whole record is tested
// once instead of pair by pair.
constexpr quint16 kNotHex = 0x100;
constexpr std::array<quint16, 256> makeDigitTable()
{
    std::array<quint16, 256> t{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            t[c] = quint16(c - '0');
        else if (c >= 'A' && c <= 'F')
            t[c] = quint16(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            t[c] = quint16(c - 'a' + 10);
        else
            t[c] = kNotHex;
    }
    return t;
}
constexpr std::array<quint16, 256> kDigit = makeDigitTable();
constexpr unsigned kPairNotHex = kNotHex << 4 | kNotHex;

// Every two-character pair, indexed by its two bytes as one little-endian
// 16-bit number: one look-up per pair on the common path. Filled at start-up
// (too large for every compiler's constant evaluation).
struct PairTable {
    std::array<quint16, 65536> bits;
    PairTable()
    {
        for (unsigned i = 0; i < 65536; ++i)
            bits[i] = quint16(unsigned(kDigit[i & 0xFF]) << 4 | kDigit[i >> 8]);
    }
};
const PairTable kPairs;

// The pair's value, with a kPairNotHex bit set when it is not hexadecimal.
inline unsigned pairBits(const char *p)
{
    return kPairs.bits[quint8(p[0]) | unsigned(quint8(p[1])) << 8];
}

inline quint8 pairValue(unsigned bits)
{
    return (bits & kPairNotHex) ? 0 : quint8(bits);
}

// Only spaces and tabs may follow the checksum.
bool onlyBlanksFrom(QByteArrayView line, qsizetype pos)
{
    for (; pos < line.size(); ++pos) {
        if (line[pos] != ' ' && line[pos] != '\t')
            return false;
    }
    return true;
}

} // namespace

quint8 IntelHexRecord::pairAt(QByteArrayView line, qsizetype pos)
{
    if (pos < 0 || pos + 2 > line.size())
        return 0;
    return pairValue(pairBits(line.data() + pos));
}

void IntelHexRecord::parse(QByteArrayView line)
{
    m_wellFormed = false;
    const char *p = line.data();
    if (line.size() >= 11) {
        // Common case: every pair present and hexadecimal; one test at the end.
        unsigned bad = 0;
        const unsigned count = pairBits(p + 1);
        const unsigned high = pairBits(p + 3);
        const unsigned low = pairBits(p + 5);
        const unsigned type = pairBits(p + 7);
        bad = count | high | low | type;
        const qsizetype dataEnd = 9 + 2 * qsizetype(quint8(count));
        if (!(bad & kPairNotHex) && dataEnd + 2 <= line.size()) {
            unsigned sum = count + high + low + type;
            const unsigned n = count;
            for (unsigned j = 0; j < n; ++j) {
                const unsigned v = pairBits(p + 9 + 2 * j);
                bad |= v;
                m_data[j] = quint8(v);
                sum += v;
            }
            const unsigned checksum = pairBits(p + dataEnd);
            bad |= checksum;
            if (!(bad & kPairNotHex)) {
                m_byteCount = quint8(count);
                m_addressHigh = quint8(high);
                m_addressLow = quint8(low);
                m_type = quint8(type);
                m_checksum = quint8(checksum);
                m_checksumOk = quint8(sum + checksum) == 0;
                m_wellFormed = onlyBlanksFrom(line, dataEnd + 2);
                return;
            }
        }
    }

    // Short lines and pairs that are not hexadecimal: never well formed, but
    // decoded pair by pair so that the fields can still be looked at.
    m_byteCount = pairAt(line, 1);
    m_addressHigh = pairAt(line, 3);
    m_addressLow = pairAt(line, 5);
    m_type = pairAt(line, 7);
    unsigned sum = m_byteCount + m_addressHigh + m_addressLow + m_type;
    for (unsigned j = 0; j < m_byteCount; ++j) {
        m_data[j] = pairAt(line, 9 + 2 * qsizetype(j));
        sum += m_data[j];
    }
    m_checksum = pairAt(line, 9 + 2 * qsizetype(m_byteCount));
    m_checksumOk = quint8(sum + m_checksum) == 0;
}
