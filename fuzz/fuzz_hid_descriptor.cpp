// The report-descriptor parser over arbitrary bytes: whatever a device's
// sysfs file holds, the parse ends and the lengths stay within bounds.
#include "usb/HidReportDescriptor.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    HidReportDescriptor descriptor;
    const bool ok = descriptor.parse(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    for (const int length : {descriptor.inputReportLength(), descriptor.outputReportLength(),
                             descriptor.featureReportLength()}) {
        if (length < 0 || length > 0x10000 || (!ok && length != 0))
            std::abort();
    }
    if (ok != descriptor.error().isEmpty())
        std::abort();
    // The report a download goes out in: declared, of the longest length,
    // numbered only where the descriptor numbers its reports.
    const HidFeatureReport feature = descriptor.longestFeatureReport();
    const QList<int> declared = descriptor.featureReportIds();
    if (feature.length != descriptor.featureReportLength() || feature.ids.isEmpty() != (feature.length == 0))
        std::abort();
    for (const int id : feature.ids) {
        if (!declared.contains(id) || (id == 0) == descriptor.usesReportIds() || id > 0xFF)
            std::abort();
    }
    return 0;
}
