#pragma once

#include <QString>

// One open progress dialog, as device code sees it.
class ProgressHandle
{
public:
    virtual ~ProgressHandle() = default;
    virtual void setLabelText(const QString &text) = 0;
    virtual void setRange(int minimum, int maximum) = 0;
    virtual void setValue(int value) = 0;
    virtual bool wasCanceled() const = 0;
    virtual void close() = 0;
};
