// readCypressPSoC over arbitrary bytes, taking turns with readIntelHex as the
// sections of a multi-processor file do.
#include "catalogue/HexFileState.h"
#include "catalogue/ImageSource.h"
#include "catalogue/MicroprocessorImageInfo.h"
#include "fuzz/FuzzWorkDir.h"
#include "fuzz/SilentPrompter.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    enterFuzzWorkDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SilentPrompter prompter;
    MicroprocessorImageInfo psoc(prompter), intel(prompter);
    intel.setWordSize(1);
    intel.setWordCount(0x100);
    ImageSource source(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    HexFileState state;
    while (!source.atEnd()) {
        const bool accepted = psoc.readCypressPSoC(source);
        if (!accepted && psoc.paragraphCount() != 0)
            std::abort();
        for (int k = 0; k < psoc.paragraphCount(); ++k)
            psoc.paragraph(k);
        // The Intel reader may read nothing; the PSoC reader always takes a line.
        intel.readIntelHex(source, state);
    }
    return 0;
}
