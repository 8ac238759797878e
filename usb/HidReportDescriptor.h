#pragma once

#include <QByteArray>
#include <QString>

// Report lengths a HID report descriptor declares, as the host counts them:
// every length includes the report-id byte, which is sent even by a device
// that does not number its reports. The Linux kernel offers a device's
// descriptor in sysfs; nothing else tells us how long its reports are.
class HidReportDescriptor
{
public:
    // False, with error() saying why, when the bytes are not a descriptor we
    // can trust: an item running past the end, a Pop without a Push, report
    // id 0, or a report longer than 65535 bytes.
    bool parse(const QByteArray &bytes);

    // Longest report of each kind in bytes, report-id byte included; 0 when
    // the descriptor declares none.
    int inputReportLength() const { return m_inputLength; }
    int outputReportLength() const { return m_outputLength; }
    int featureReportLength() const { return m_featureLength; }
    bool usesReportIds() const { return m_usesReportIds; }
    QString error() const { return m_error; }

private:
    int m_inputLength = 0;
    int m_outputLength = 0;
    int m_featureLength = 0;
    bool m_usesReportIds = false;
    QString m_error;
};
