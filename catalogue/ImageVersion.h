#pragma once

#include <QString>

class BootLoadProduct;

// The accepted image's version in the two forms an operator meets: as the
// update record keeps it, and as a device of the product reports its own
// once it runs the image. Controllers report the build number and fixtures
// the major number of a packed major.minor.build ("Rev. 34", "Rev. 5"); a
// fixture with a revision word reports that word; the Sorrel 3 reports its
// version with two digits a part ("01.00.90"), the Vireo Player as its image
// names it ("1.2.1").
struct ImageVersion {
    QString version;  // as the record keeps it; null when the image names no version
    QString reported; // as a device running the image reports it; null when not comparable

    static ImageVersion of(const BootLoadProduct &product);

    // The line under the image summary: "Image version 2.1.34 (Rev. 34)",
    // "Image version 01.00.90"; says so when the image names no version.
    QString line() const;
};
