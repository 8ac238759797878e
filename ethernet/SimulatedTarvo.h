#pragma once

#include "ethernet/TarvoLibrary.h"

#include <QHash>
#include <QList>
#include <QPair>

// Controllers kept in memory, for demonstrations and tests. It starts with
// one controller at 127.0.0.2 whose firmware revision is 12; setValue adds or
// changes others. Answers arrive from the event loop after replyDelay ms, as a
// network answer would.
class SimulatedTarvo : public TarvoLibrary
{
    Q_OBJECT

public:
    static constexpr quint32 kDefaultAddress = 0x7F000002; // 127.0.0.2
    static constexpr quint32 kDefaultRevision = 12;

    explicit SimulatedTarvo(QObject *parent = nullptr);

    bool getValue(const QString &ip, quint16 valueId) override;

    // address in host order.
    void setValue(quint32 address, quint16 valueId, quint32 value);
    void removeController(quint32 address);
    void setReplyDelay(int ms) { m_replyDelay = ms; }

    // Every question asked, as (address, value number).
    const QList<QPair<quint32, quint16>> &questions() const { return m_questions; }

private:
    QHash<quint32, QHash<quint16, quint32>> m_values;
    QList<QPair<quint32, quint16>> m_questions;
    int m_replyDelay = 50;
};
