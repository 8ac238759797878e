#include "dmx/FixtureRevision.h"

#include "catalogue/BootLoadProduct.h"
#include "catalogue/MicroprocessorImageInfo.h"

#include <QCoreApplication>

namespace {

constexpr qint32 kIntelHex = 0;
constexpr quint32 kLargestRevision = 0xFFFF;

QString tr(const char *text)
{
    return QCoreApplication::translate("FixtureImageRevision", text);
}

} // namespace

FixtureImageRevision FixtureImageRevision::of(const BootLoadProduct &product)
{
    FixtureImageRevision r;
    const MicroprocessorImageInfo *main = product.processor(0);
    if (!main || main->fileType() != kIntelHex || main->image().isEmpty()) {
        r.why = tr("the image holds no version for processor 1");
        return r;
    }
    if (main->blRev() == 3) {
        const quint32 word = main->readWord32(quint64(main->wordSize()) * main->bl3RevLoc());
        r.version = QString::number(word);
        if (word == 0 || word > kLargestRevision)
            r.why = tr("the image's revision word %1 is no revision a fixture can report")
                        .arg(word);
        else
            r.expected = r.version;
        return r;
    }
    const quint32 packed = main->firmwareVersion() & BootLoadProduct::kPackedVersionMask;
    const quint32 major = (packed >> 16) & 0xFF;
    r.version = QStringLiteral("%1.%2.%3").arg(major).arg((packed >> 8) & 0xFF).arg(packed & 0xFF);
    if (major == 0)
        r.why = tr("the image's version %1 has no major number, which is what a fixture reports")
                    .arg(r.version);
    else
        r.expected = QString::number(major);
    return r;
}

RevisionCheck FixtureImageRevision::judge(uint reported, const QString &before) const
{
    const QString text = QString::number(reported);
    if (expected.isNull())
        return RevisionCheck::notComparable(
            text, tr("the fixture reports revision %1, but %2").arg(text, why));
    RevisionCheck check = RevisionCheck::compare(text, expected);
    // A packed version names its revision number; a revision word is one.
    const bool packed = version != expected;
    if (check.result == RevisionCheck::Result::Mismatch) {
        check.detail = packed
            ? tr("the fixture reports revision %1, the image %2 is revision %3")
                  .arg(text, version, expected)
            : tr("the fixture reports revision %1, the image is revision %2").arg(text, expected);
    } else if (before == expected) {
        check = RevisionCheck::notComparable(
            text, tr("the fixture reports revision %1 as it did before the update, so its "
                     "revision number cannot tell image %2 from the firmware it ran")
                      .arg(text, version));
        check.expected = expected;
    } else {
        check.detail = packed ? tr("the fixture reports revision %1 (image %2)").arg(text, version)
                              : tr("the fixture reports revision %1").arg(text);
    }
    return check;
}
