// Feeds arbitrary bytes to the catalogue reader as if they were zelblprod.xml.
#include "catalogue/BootLoadProduct.h"
#include "catalogue/ProductCatalogue.h"
#include "fuzz/SilentPrompter.h"

#include <QBuffer>
#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static SilentPrompter prompter;
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);

    QObject window;
    window.setObjectName(QStringLiteral("ZelBootLoader"));
    ProductCatalogue catalogue(prompter, &window, nullptr);
    catalogue.readProductCatalogue(buffer, QStringLiteral("zelblprod.xml"));

    // Touch every record the reader kept, as the window and panels would.
    for (int type = 0; type < 3; ++type) {
        for (BootLoadProduct *product : catalogue.products(type)) {
            if (product->parent() != &window || product->interfaceType() != type)
                __builtin_trap();
            for (int key = 0; key < product->processorCount(); ++key)
                (void)product->processor(key);
            (void)product->name().size();
            (void)product->serialNumPrefixes().size();
        }
    }
    return 0;
}
