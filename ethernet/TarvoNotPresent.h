#pragma once

#include "ethernet/TarvoLibrary.h"

// Stands in when the controller-value library is not installed: no question
// is sent and no answer comes. The first call says so in the log, once.
class TarvoNotPresent : public TarvoLibrary
{
    Q_OBJECT

public:
    explicit TarvoNotPresent(QObject *parent = nullptr);

    bool getValue(const QString &ip, quint16 valueId) override;

private:
    bool m_announced = false;
};
