#pragma once

#include "base/UpdateRecord.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

class BootLoadProduct;
class InterfacePanel;
class RevisionCheck;

// Makes the update records of one panel's runs and emits them through the
// panel's signal_runRecord: the interface, the product and its accepted
// image, the device, and the time since the run's clock was started. The
// image's version is the one thing each interface words its own way.
class RunRecorder
{
public:
    // The image's version as the panel's devices report it; null when the
    // image does not say.
    using ImageVersion = std::function<QString(const BootLoadProduct &)>;

    RunRecorder(InterfacePanel &panel, ImageVersion imageVersion);

    // A record's duration is the time since startClock(); 0 while the clock
    // is stopped, as for a run that ended before anything was sent.
    void startClock();
    void stopClock();
    qint64 elapsed() const;

    // A record of product's image for one device, its end not yet known. An
    // unknown (empty) revision is kept as unknown; no product leaves the
    // device type and the image to whoever takes the record.
    UpdateRecord make(const BootLoadProduct *product, const QString &address,
                      const QString &revisionBefore = QString()) const;
    // Ends the record (an empty reason is no reason), times it by the clock
    // and emits it.
    void emitEnded(UpdateRecord record, UpdateRecord::Outcome outcome, const QString &reason) const;
    // Ends the record with what the check after the update showed.
    void emitChecked(UpdateRecord record, const RevisionCheck &check) const;

private:
    InterfacePanel &m_panel;
    ImageVersion m_imageVersion;
    QElapsedTimer m_clock;
};
