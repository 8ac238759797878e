#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The feature report a device takes data in: its longest, as its report
// descriptor declares it.
struct HidFeatureReport {
    int length = 0;  // bytes, report-id byte included; 0 when none is declared
    QList<int> ids;  // the report ids declared with that length; {0} when the reports are not numbered
};

// Report lengths a HID report descriptor declares, as the host counts them:
// every length includes the report-id byte, which is sent even by a device
// that does not number its reports. The Linux kernel offers a device's
// descriptor in sysfs; nothing else tells us how long its reports are.
class HidReportDescriptor
{
public:
    // False, with error() saying why, when the bytes are not a descriptor we
    // can trust: an item running past the end, a Pop without a Push, report
    // id 0, a report without an id where others have one, or a report longer
    // than 65535 bytes.
    bool parse(const QByteArray &bytes);
    // What a device with these descriptor bytes is written through; false,
    // with the reason in error, when the bytes cannot be trusted.
    static bool featureReportOf(const QByteArray &bytes, HidFeatureReport &feature, QString &error);

    // Longest report of each kind in bytes, report-id byte included; 0 when
    // the descriptor declares none.
    int inputReportLength() const { return m_inputLength; }
    int outputReportLength() const { return m_outputLength; }
    int featureReportLength() const { return m_featureLength; }
    bool usesReportIds() const { return m_usesReportIds; }
    // Every id a feature report is declared under (0: not numbered), ascending.
    QList<int> featureReportIds() const { return m_featureLengths.keys(); }
    HidFeatureReport longestFeatureReport() const;
    QString error() const { return m_error; }

private:
    int m_inputLength = 0;
    int m_outputLength = 0;
    int m_featureLength = 0;
    bool m_usesReportIds = false;
    QMap<int, int> m_featureLengths; // report id -> length
    QString m_error;
};
