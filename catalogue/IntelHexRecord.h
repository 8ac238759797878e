#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <array>

// One Intel HEX record line, decoded. Decoding never looks past the line: a
// pair cut short by the end of the line, like a pair that is not hexadecimal,
// reads as 0; such a line is not well formed, whatever its checksum says.
class IntelHexRecord
{
public:
    enum Type : quint8 {
        Data = 0x00,
        EndOfFile = 0x01,
        ExtendedSegmentAddress = 0x02,
        StartSegmentAddress = 0x03,
        ExtendedLinearAddress = 0x04,
        StartLinearAddress = 0x05,
    };

    // line starts with ':'; its end-of-line characters are already gone.
    void parse(QByteArrayView line);

    quint8 byteCount() const { return m_byteCount; }
    quint16 address() const { return quint16(m_addressHigh << 8 | m_addressLow); }
    quint8 type() const { return m_type; }
    const quint8 *data() const { return m_data.data(); }
    quint8 checksum() const { return m_checksum; }
    bool checksumOk() const { return m_checksumOk; }
    // Every pair the byte count calls for is there and hexadecimal, and
    // nothing but blanks follows the checksum.
    bool wellFormed() const { return m_wellFormed; }

    // Value of the hexadecimal pair at line[pos], or 0 when it is cut short or
    // not hexadecimal.
    static quint8 pairAt(QByteArrayView line, qsizetype pos);

private:
    quint8 m_byteCount = 0;
    quint8 m_addressHigh = 0;
    quint8 m_addressLow = 0;
    quint8 m_type = 0;
    quint8 m_checksum = 0;
    bool m_checksumOk = false;
    bool m_wellFormed = false;
    std::array<quint8, 255> m_data{};
};
