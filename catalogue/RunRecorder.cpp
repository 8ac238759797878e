#include "catalogue/RunRecorder.h"

#include "base/InterfacePanel.h"
#include "base/RevisionCheck.h"
#include "catalogue/BootLoadProduct.h"

RunRecorder::RunRecorder(InterfacePanel &panel, ImageVersion imageVersion)
    : m_panel(panel), m_imageVersion(std::move(imageVersion))
{
}

void RunRecorder::startClock()
{
    m_clock.start();
}

void RunRecorder::stopClock()
{
    m_clock.invalidate();
}

qint64 RunRecorder::elapsed() const
{
    return m_clock.isValid() ? m_clock.elapsed() : 0;
}

UpdateRecord RunRecorder::make(const BootLoadProduct *product, const QString &address,
                               const QString &revisionBefore) const
{
    UpdateRecord record;
    record.interfaceNumber = m_panel.interfaceNumber();
    record.address = address;
    record.revisionBefore = revisionBefore.isEmpty() ? QString() : revisionBefore;
    if (product) {
        record.deviceType = product->name();
        record.setImage(product->imageFileName(), product->imageSha256(), m_imageVersion(*product));
    }
    return record;
}

void RunRecorder::emitEnded(UpdateRecord record, UpdateRecord::Outcome outcome, const QString &reason) const
{
    record.time = QDateTime::currentDateTimeUtc();
    record.outcome = outcome;
    record.reason = reason.isEmpty() ? QString() : reason;
    record.durationMs = elapsed();
    emit m_panel.signal_runRecord(record);
}

void RunRecorder::emitChecked(UpdateRecord record, const RevisionCheck &check) const
{
    record.revisionAfter = check.revisionAfter;
    const bool verified = check.result == RevisionCheck::Result::Verified;
    emitEnded(record, check.outcome(), verified ? QString() : check.detail);
}
