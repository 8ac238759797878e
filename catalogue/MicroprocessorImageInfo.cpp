#include "catalogue/MicroprocessorImageInfo.h"

#include "base/LogCategories.h"
#include "base/Prompter.h"
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/IntelHexRecord.h"

#include <QVarLengthArray>

#include <cstring>
#include <new>

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";

// Sizes from unset catalogue values land here; no image is built for them.
constexpr quint32 kUnusableImageSize = 0x80000000u;

QByteArray dataRecordEcho(quint64 address, const IntelHexRecord &record)
{
    QByteArray line = QByteArray::number(address, 16).rightJustified(4, '0');
    line += ' ';
    line += QByteArray(reinterpret_cast<const char *>(record.data()), record.byteCount()).toHex();
    return line;
}

// A PSoC field as a number: 0 when it is not hexadecimal.
quint32 hexField(QByteArrayView field)
{
    bool ok = false;
    const uint value = field.toUInt(&ok, 16);
    return ok ? value : 0;
}

// A PSoC data field: hexadecimal digits only, and a value that fits a byte.
bool hexByte(QByteArrayView field, quint8 *value)
{
    if (field.isEmpty())
        return false;
    uint v = 0;
    for (char c : field) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return false;
        v = v << 4 | uint(digit);
        if (v > 0xFF)
            return false;
    }
    *value = quint8(v);
    return true;
}

// Field k of a PSoC line, split at single spaces; empty past the last field.
QByteArrayView psocField(QByteArrayView line, int k)
{
    qsizetype start = 0;
    for (int i = 0; i < k; ++i) {
        const qsizetype space = line.indexOf(' ', start);
        if (space < 0)
            return {};
        start = space + 1;
    }
    const qsizetype end = line.indexOf(' ', start);
    return line.sliced(start, (end < 0 ? line.size() : end) - start);
}

} // namespace

MicroprocessorImageInfo::MicroprocessorImageInfo(Prompter &prompter, QObject *parent)
    : QObject(parent)
    , m_prompter(prompter)
{
}

MicroprocessorImageInfo::~MicroprocessorImageInfo() = default;

void MicroprocessorImageInfo::warn(const QString &text) const
{
    m_prompter.warning(nullptr, QStringLiteral("Warning"), text);
}

void MicroprocessorImageInfo::clearImage()
{
    m_image.clear();
    m_paragraphs.clear();
}

bool MicroprocessorImageInfo::readIntelHex(ImageSource &source, HexFileState &state)
{
    m_image.clear();
    if (m_imageSize < kUnusableImageSize) {
        try {
            m_image = QByteArray(qsizetype(m_imageSize), char(0xFF));
        } catch (const std::bad_alloc &) {
            m_image.clear();
        }
    }
    // The records are still read, so the next processor's section starts in
    // the right place, but an image that could not be built is never usable.
    const bool usable = !m_image.isEmpty();
    if (!usable) {
        warn(tr("The product catalogue gives processor %1 no usable image size (0x%2 bytes).")
                 .arg(objectName())
                 .arg(QString::number(m_imageSize, 16).toUpper()));
    }
    qCDebug(lcHex) << "Start of file.";
    bool endOfFileSeen = false;
    const bool read = readHexRecords(source, state, endOfFileSeen);
    // One dump per section however many end-of-file records it holds: the
    // caller writes it once the whole file is read.
    if (endOfFileSeen)
        state.setDumpImage(m_image);
    return read && usable;
}

bool MicroprocessorImageInfo::readHexRecords(ImageSource &source, HexFileState &state,
                                             bool &endOfFileSeen)
{
    // Asked once: the per-record echo must cost nothing while it is off.
    const bool echo = lcHex().isDebugEnabled();
    char *image = m_image.data();
    const quint64 imageSize = quint64(m_image.size());
    IntelHexRecord record;
    qint64 lineIndex = 0;
    while (!source.atEnd()) {
        const QByteArrayView line = source.readLine();
        if (line.isEmpty() || line.front() != ':') {
            source.putBack();
            return true;
        }
        record.parse(line);
        // A cut-short record or a digit that is not hexadecimal would be read
        // as zeros, and a checksum can happen to agree with them.
        if (!record.wellFormed()) {
            warn(tr("Image file line %1, damaged record: it is cut short or holds characters "
                    "that are not hexadecimal digits.")
                     .arg(lineIndex));
            return false;
        }
        if (!record.checksumOk()) {
            warn(tr("Image file line %1, checksum error.").arg(lineIndex));
            return false;
        }
        switch (record.type()) {
        case IntelHexRecord::Data: {
            const quint64 address = quint64(state.upperLinearAddress()) << 16 | record.address();
            if (echo)
                qCDebug(lcHex).noquote() << dataRecordEcho(address, record);
            if (address < imageSize) {
                const quint64 n = qMin<quint64>(record.byteCount(), imageSize - address);
                std::memcpy(image + address, record.data(), size_t(n));
            }
            break;
        }
        case IntelHexRecord::EndOfFile:
            endOfFileSeen = true;
            qCDebug(lcHex) << "End of file.";
            break;
        case IntelHexRecord::ExtendedLinearAddress:
            if (record.byteCount() < 2) {
                warn(tr("Image file line %1, extended address data too short.").arg(lineIndex));
                return false;
            }
            state.setUpperLinearAddress(quint16(record.data()[0] << 8 | record.data()[1]));
            break;
        case IntelHexRecord::StartLinearAddress:
            qCDebug(lcHex) << "Intel hex record type 0x05 packet received but ignored.";
            break;
        default:
            warn(tr("Image file line %1, unrecognized record type 0x%2.")
                     .arg(lineIndex)
                     .arg(QString::number(record.type(), 16)));
            return false;
        }
        ++lineIndex;
    }
    return true;
}

quint32 MicroprocessorImageInfo::readWord32(quint64 pos) const
{
    const quint64 size = quint64(m_image.size());
    if (size < 4 || pos > size - 4)
        return 0;
    const auto *b = reinterpret_cast<const uchar *>(m_image.constData()) + pos;
    return quint32(b[0]) | quint32(b[1]) << 8 | quint32(b[2]) << 16 | quint32(b[3]) << 24;
}

quint32 MicroprocessorImageInfo::pageCount() const
{
    if (m_pageSize == 0)
        return 0;
    return quint32(quint64(m_image.size()) / m_pageSize);
}

bool MicroprocessorImageInfo::copyPage(quint32 page, quint32 size, QByteArray &out) const
{
    const quint64 offset = quint64(page) * size;
    if (offset + size > quint64(m_image.size())) {
        out.clear();
        return false;
    }
    out = m_image.mid(qsizetype(offset), qsizetype(size));
    return true;
}

QByteArray MicroprocessorImageInfo::pageRecord(quint32 page, quint32 length) const
{
    const quint64 offset = quint64(page) * length;
    if (offset + length > quint64(m_image.size()))
        return QByteArray();
    // Inside an image held in memory the offset fits the record's 32 bits.
    const quint32 address = quint32(offset);
    QByteArray record(2 + 8 + 2 * qsizetype(length) + 2, Qt::Uninitialized);
    char *out = record.data();
    *out++ = ':';
    *out++ = 'W';
    quint8 sum = 0;
    auto put = [&out, &sum](quint8 byte) {
        *out++ = kHexUpper[byte >> 4];
        *out++ = kHexUpper[byte & 0xF];
        sum += byte;
    };
    for (int shift = 24; shift >= 0; shift -= 8)
        put(quint8(address >> shift));
    const auto *bytes = reinterpret_cast<const uchar *>(m_image.constData()) + offset;
    for (quint32 i = 0; i < length; ++i)
        put(bytes[i]);
    put(quint8(-sum));
    return record;
}

bool MicroprocessorImageInfo::readCypressPSoC(ImageSource &source)
{
    m_paragraphs.clear();
    qCDebug(lcPsoc) << "Start of file.";
    QByteArray paragraph;
    bool firstOfGroup = true;
    qint64 lineIndex = 0;
    bool accepted = true;
    QVarLengthArray<QByteArrayView, 64> fields;

    while (!source.atEnd()) {
        const QByteArrayView line = source.readLine();
        const char kind = line.isEmpty() ? '\0' : line.front();
        if (kind == 'r') {
            firstOfGroup = true;
            m_paragraphs.append(paragraph);
        } else if (kind == 'w') {
            // Fields up to the first empty one from field 2 on; the rest of
            // the line is never looked at.
            fields.clear();
            qsizetype start = 0;
            bool tooMany = false;
            while (start <= line.size()) {
                qsizetype end = line.indexOf(' ', start);
                if (end < 0)
                    end = line.size();
                const QByteArrayView field = line.sliced(start, end - start);
                if (fields.size() >= 2 && field.isEmpty())
                    break;
                if (fields.size() == kMaxPsocFields) {
                    tooMany = true;
                    break;
                }
                fields.append(field);
                start = end + 1;
            }
            if (tooMany) {
                warn(tr("Image file line %1, too many fields (at most %2).")
                         .arg(lineIndex)
                         .arg(kMaxPsocFields));
                accepted = false;
                break;
            }

            QByteArray addressText;
            if (firstOfGroup) {
                // Fields 2 and 3 make the address even where an empty field 2
                // ends the data.
                addressText = psocField(line, 2).toByteArray() + psocField(line, 3).toByteArray();
                paragraph.clear();
                firstOfGroup = false;
            }
            // No checksum guards PSoC text: a field that is not a byte is
            // refused rather than sent as some other value.
            qsizetype badField = -1;
            for (qsizetype k = 2; k < fields.size() && badField < 0; ++k) {
                if (fields[k] == "p")
                    continue;
                quint8 byte = 0;
                if (hexByte(fields[k], &byte))
                    paragraph.append(char(byte));
                else
                    badField = k;
            }
            if (badField >= 0) {
                warn(tr("Image file line %1, field %2 is not a hexadecimal byte: \"%3\".")
                         .arg(lineIndex)
                         .arg(badField)
                         .arg(QString::fromLatin1(fields[badField].first(qMin<qsizetype>(16, fields[badField].size())))));
                accepted = false;
                break;
            }
            if (hexField(addressText) == 0xFF3B)
                m_paragraphs.append(paragraph);
        } else {
            break;
        }
        qCDebug(lcPsoc).noquote() << paragraph.toHex(' ');
        ++lineIndex;
    }
    qCDebug(lcPsoc) << "End of file.";
    if (!accepted)
        m_paragraphs.clear();
    return accepted;
}

bool MicroprocessorImageInfo::checkMagic() const
{
    const quint32 value = wordAt(m_magicLoc);
    qCDebug(lcHex).noquote() << "Magic" << QString::number(value, 16).toUpper().rightJustified(8, '0');
    return value == m_magicFlag;
}

quint32 MicroprocessorImageInfo::firmwareVersion() const
{
    const quint32 value = wordAt(m_verLoc);
    qCDebug(lcHex).noquote() << "Firmware Vers. =" << QString::number(value, 16);
    return value;
}

bool MicroprocessorImageInfo::checkSft() const
{
    const quint32 value = wordAt(m_bl3SftLoc);
    qCDebug(lcHex).noquote() << "sft" << QString::number(value, 16).toUpper().rightJustified(8, '0');
    return value == m_bl3SftVal;
}

QString MicroprocessorImageInfo::versionString() const
{
    if (m_fileType == 0 && m_blRev == 1)
        return QString::number(wordAt(m_verLoc));
    if (m_fileType == 0 && m_blRev == 3)
        return QString::number(wordAt(m_bl3RevLoc));
    return QStringLiteral("NA");
}
