#include "usb/HidReportDescriptor.h"

#include <QCoreApplication>
#include <QList>
#include <QMap>

namespace {

// Item types and the tags we act on.
constexpr int kMain = 0;
constexpr int kGlobal = 1;
constexpr int kLongItemPrefix = 0xFE;

constexpr int kInput = 0x8;
constexpr int kOutput = 0x9;
constexpr int kFeature = 0xB;

constexpr int kReportSize = 0x7;
constexpr int kReportId = 0x8;
constexpr int kReportCount = 0x9;
constexpr int kPush = 0xA;
constexpr int kPop = 0xB;

// Longer reports than this are not something a boot loader sends; taking
// them as damage keeps the bit counts far from overflowing.
constexpr qint64 kMaxReportBytes = 0xFFFF;

struct GlobalState {
    quint32 reportSize = 0;
    quint32 reportCount = 0;
    quint32 reportId = 0;
};

QString tr(const char *text)
{
    return QCoreApplication::translate("HidReportDescriptor", text);
}

} // namespace

bool HidReportDescriptor::parse(const QByteArray &bytes)
{
    m_inputLength = m_outputLength = m_featureLength = 0;
    m_usesReportIds = false;
    m_featureLengths.clear();
    m_error.clear();

    // Bits per report id, one map per report kind.
    QMap<quint32, qint64> bits[3];
    GlobalState state;
    QList<GlobalState> stack;

    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    while (pos < size) {
        const uchar prefix = data[pos];
        if (prefix == kLongItemPrefix) {
            // Long items carry vendor data only; skip them whole.
            if (pos + 2 >= size) {
                m_error = tr("A long item runs past the end of the descriptor.");
                return false;
            }
            const qsizetype length = data[pos + 1];
            if (pos + 3 + length > size) {
                m_error = tr("A long item runs past the end of the descriptor.");
                return false;
            }
            pos += 3 + length;
            continue;
        }
        const int sizeCode = prefix & 0x3;
        const int dataSize = sizeCode == 3 ? 4 : sizeCode;
        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;
        if (pos + 1 + dataSize > size) {
            m_error = tr("An item runs past the end of the descriptor at byte %1.").arg(pos);
            return false;
        }
        quint32 value = 0;
        for (int i = 0; i < dataSize; ++i)
            value |= quint32(data[pos + 1 + i]) << (8 * i);
        pos += 1 + dataSize;

        if (type == kGlobal) {
            switch (tag) {
            case kReportSize: state.reportSize = value; break;
            case kReportCount: state.reportCount = value; break;
            case kReportId:
                if (value == 0 || value > 0xFF) {
                    m_error = tr("Report id %1 is not allowed.").arg(value);
                    return false;
                }
                state.reportId = value;
                m_usesReportIds = true;
                break;
            case kPush: stack.append(state); break;
            case kPop:
                if (stack.isEmpty()) {
                    m_error = tr("Pop without a Push.");
                    return false;
                }
                state = stack.takeLast();
                break;
            default: break;
            }
        } else if (type == kMain && (tag == kInput || tag == kOutput || tag == kFeature)) {
            const int kind = tag == kInput ? 0 : tag == kOutput ? 1 : 2;
            // Both factors are 32-bit: their product fits 64 bits unsigned.
            const quint64 added = quint64(state.reportSize) * quint64(state.reportCount);
            qint64 &total = bits[kind][state.reportId];
            if (added > quint64(kMaxReportBytes * 8) || total + qint64(added) > kMaxReportBytes * 8) {
                m_error = tr("A report is longer than %1 bytes.").arg(kMaxReportBytes);
                return false;
            }
            total += qint64(added);
        }
    }

    int *lengths[3] = {&m_inputLength, &m_outputLength, &m_featureLength};
    for (int kind = 0; kind < 3; ++kind) {
        for (auto it = bits[kind].cbegin(); it != bits[kind].cend(); ++it) {
            // Which id a report without one would be sent with cannot be told;
            // an item of no bits before the first id declares no report.
            if (m_usesReportIds && it.key() == 0) {
                if (it.value() == 0)
                    continue;
                m_inputLength = m_outputLength = m_featureLength = 0;
                m_featureLengths.clear();
                m_error = tr("A report has no report id, though other reports have one.");
                return false;
            }
            // Whole bytes, plus the report-id byte.
            const int length = int((it.value() + 7) / 8) + 1;
            *lengths[kind] = qMax(*lengths[kind], length);
            if (kind == 2)
                m_featureLengths.insert(int(it.key()), length);
        }
    }
    return true;
}

HidFeatureReport HidReportDescriptor::longestFeatureReport() const
{
    HidFeatureReport feature;
    feature.length = m_featureLength;
    for (auto it = m_featureLengths.cbegin(); it != m_featureLengths.cend(); ++it) {
        if (it.value() == m_featureLength)
            feature.ids.append(it.key());
    }
    return feature;
}

bool HidReportDescriptor::featureReportOf(const QByteArray &bytes, HidFeatureReport &feature, QString &error)
{
    HidReportDescriptor descriptor;
    if (!descriptor.parse(bytes)) {
        error = tr("damaged report descriptor: %1").arg(descriptor.error());
        return false;
    }
    feature = descriptor.longestFeatureReport();
    return true;
}
