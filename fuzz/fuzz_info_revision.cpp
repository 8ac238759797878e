// The "info" file as a controller may hand it back: the revision the check
// reads from it, the one the panel shows and the version text that tells the
// controller's type. Whatever the text, all end, and the panel shows the low
// byte of what the check reads (the check itself refuses a wider value).
#include "ethernet/ControllerVerifier.h"
#include "ethernet/tftpInterfaceControl.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The panel reads the file into 512 bytes; the check is given the same.
    if (size > 4096)
        return 0;
    const QByteArray info(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<quint32> revision = ControllerVerifier::infoRevision(info);
    const int shown = tftpInterfaceControl::revisionFromInfo(info);
    if (shown != int(revision.value_or(0) & 0xFF))
        std::abort();
    const QString version = ControllerVerifier::infoVersionText(info);
    if (version.size() > info.size())
        std::abort();
    return 0;
}
