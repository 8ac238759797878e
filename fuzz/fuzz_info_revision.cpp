// The "info" file as a controller may hand it back: the revision the check
// reads from it and the one the panel shows. Whatever the text, both end,
// a revision read is a build number, and the two never disagree.
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
    if (revision && (*revision > 0xFF || shown != int(*revision)))
        std::abort();
    return 0;
}
