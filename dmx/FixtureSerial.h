#pragma once

#include <QString>
#include <QtGlobal>

// A fixture's serial number as the panel lists it and the operator types it:
// eight upper-case hexadecimal digits.
struct FixtureSerial {
    static QString text(quint32 serial)
    {
        return QStringLiteral("%1").arg(serial, 8, 16, QLatin1Char('0')).toUpper();
    }
};
