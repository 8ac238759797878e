#pragma once

#include <QtGlobal>

// What the Intel HEX sections of one image file share. The upper linear
// address carries over from one section to the next, but never into another
// file: a file without type 04 records is written from address 0.
class HexFileState
{
public:
    quint16 upperLinearAddress() const { return m_upperLinearAddress; }
    void setUpperLinearAddress(quint16 upper) { m_upperLinearAddress = upper; }

private:
    quint16 m_upperLinearAddress = 0;
};
