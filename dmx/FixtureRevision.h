#pragma once

#include "base/RevisionCheck.h"

#include <QString>

class BootLoadProduct;

// The version of a fixture image in the form a fixture reports its own: the
// one 16-bit revision number that the panel shows as "Rev. n". A fixture
// running an image of packed version major.minor.build reports the major
// number; one whose boot loader keeps a revision word reports that word.
struct FixtureImageRevision {
    QString version;  // the image's version as the record keeps it ("5.1.3", "7"); null if none
    QString expected; // what a fixture running the image reports; null when nothing comparable
    QString why;      // when expected is null: why the image gives nothing to compare with

    static FixtureImageRevision of(const BootLoadProduct &product);

    // Judges what a fixture reported after the update. before is what it
    // reported earlier (null if unknown): when the image's revision number
    // equals it, a match proves nothing, so the update is not verified.
    RevisionCheck judge(uint reported, const QString &before) const;
};
