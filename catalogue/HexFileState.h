#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the Intel HEX sections of one image file share. The upper linear
// address carries over from one section to the next, but never into another
// file: a file without type 04 records is written from address 0. The image
// of the last section that held an end-of-file record is the one dumped.
class HexFileState
{
public:
    quint16 upperLinearAddress() const { return m_upperLinearAddress; }
    void setUpperLinearAddress(quint16 upper) { m_upperLinearAddress = upper; }

    bool hasDumpImage() const { return m_hasDumpImage; }
    const QByteArray &dumpImage() const { return m_dumpImage; }
    void setDumpImage(const QByteArray &image)
    {
        m_dumpImage = image;
        m_hasDumpImage = true;
    }

private:
    quint16 m_upperLinearAddress = 0;
    bool m_hasDumpImage = false;
    QByteArray m_dumpImage;
};
