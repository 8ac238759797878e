#pragma once

#include <QString>
#include <QtGlobal>

// Qt's own lines about the platform it runs on (no runtime folder, an
// off-screen plugin without some window feature) say nothing about an
// update, yet fill the error output a production line's script reads. An
// unattended run keeps them out; every other message goes on to the handler
// that was there before.
class PlatformNoiseFilter
{
public:
    static bool isNoise(QtMsgType type, const QString &message);
    // Puts the filter in front of the message handler in place now.
    static void install();
};
