#!/usr/bin/env python3
"""Makes the sample images of the simulated devices from the product catalogue.

Each sample is a short body of fixed pseudo-random bytes plus the words the
updater's checks read, placed where the catalogue says: the magic value at
MagicLoc and the packed version (major << 16 | minor << 8 | build) at VerLoc
for boot loader revision 1, the BL3_SFTVal at BL3_SFTLoc and the revision at
BL3_RevLoc for revision 3. Locations are word indexes, so the byte offset is
the location times WordSize; every word must lie inside WordSize x WordCount.
Intel HEX products get a .hex file, the product that takes raw images a .bin.

    scripts/make-samples.py                  writes the samples into resources/samples
    scripts/make-samples.py --out DIR        writes them into DIR instead
    scripts/make-samples.py --check          fails when resources/samples differs

The output depends on nothing but the catalogue and the table below, so a
second run writes the same bytes. After a change, sign the samples again
(scripts/sign-samples.sh). The four older fixture samples (Cove Wash, Halyard
Wash, Kestrel lX, Tern Spot) were made before this script and are kept as
they are.
"""

import argparse
import hashlib
import os
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CATALOGUE = os.path.join(ROOT, "resources", "zelblprod.xml")
SAMPLES = os.path.join(ROOT, "resources", "samples")

# The products whose devices -simulate offers and which had no sample, and
# the version each sample carries: newer than what the simulated device
# reports, so that a run ends verified. A tuple is major.minor.build, a plain
# number a revision word.
#   controllers: 127.0.0.2 Brisa Quad build 12, 127.0.0.3/.4 Ostrel Hub 33/32,
#                127.0.0.5 Marlow White 7, 127.0.0.6 Marlow Mk3 3 (major 3),
#                127.0.0.7 Corvid Node 40 (major 4); they report the build
#   Sorrel 3: 1.00.82; Vireo Player: 1.2.0
#   fixtures: Gannet Batten revision 9; the only Kestrel Vireo runs version 2,
#             which that family refuses to update (a real one can take it)
SAMPLE_TABLE = [
    ("BrisaQuad-1.0.13.hex", "Brisa Quad", (1, 0, 13)),
    ("OstrelHub-2.1.34.hex", "Ostrel Hub", (2, 1, 34)),
    ("MarlowWhite-1.7.8.hex", "Marlow White", (1, 7, 8)),
    ("MarlowMk3-3.3.4.hex", "Marlow Mk3", (3, 3, 4)),
    ("CorvidNode-4.0.41.hex", "Corvid Node", (4, 0, 41)),
    ("Sorrel3-1.0.90.hex", "Sorrel 3", (1, 0, 90)),
    ("VireoPlayer-1.2.1.bin", "Vireo Player", (1, 2, 1)),
    ("GannetBatten-10.hex", "Gannet Batten", 10),
    ("KestrelVireo-4.1.3.hex", "Kestrel Vireo", (4, 1, 3)),
]

# The product that is sent its raw file.
RAW_PRODUCT = "Vireo Player"
BODY_BYTES = 1024
RAW_BYTES = 4096


class SampleError(Exception):
    pass


def first_processor(catalogue, name):
    for product in catalogue.getroot():
        if product.findtext("Name") != name:
            continue
        for processor in product.findall("Processor"):
            if processor.findtext("Heirarchy", "").strip() == "1":
                return {child.tag: (child.text or "").strip() for child in processor}
        raise SampleError(f"{name}: the catalogue gives no processor 1")
    raise SampleError(f"{name}: not in the catalogue")


def packed(version):
    if isinstance(version, tuple):
        major, minor, build = version
        return major << 16 | minor << 8 | build
    return version


def words_of(name, processor, version):
    """The (byte offset, 32-bit value) pairs the checks read."""
    word_size = int(processor["WordSize"], 16)
    size = word_size * int(processor["WordCount"], 16)
    rev = processor.get("BLRev", "1")
    if processor.get("FileType") != "Intel HEX":
        raise SampleError(f"{name}: processor 1 is no Intel HEX processor")
    if rev == "1":
        if not isinstance(version, tuple):
            raise SampleError(f"{name}: boot loader revision 1 takes major.minor.build")
        words = [(int(processor["MagicLoc"], 16) * word_size, int(processor["MagicFlag"], 16)),
                 (int(processor["VerLoc"], 16) * word_size, packed(version))]
    elif rev == "3":
        if isinstance(version, tuple):
            raise SampleError(f"{name}: boot loader revision 3 takes a revision number")
        words = [(int(processor["BL3_SFTLoc"], 16) * word_size, int(processor["BL3_SFTVal"], 10)),
                 (int(processor["BL3_RevLoc"], 16) * word_size, version)]
    else:
        raise SampleError(f"{name}: boot loader revision {rev} is not known here")
    for offset, _ in words:
        if offset + 4 > size:
            raise SampleError(f"{name}: byte 0x{offset:X} is outside the image of 0x{size:X} bytes")
    return words, size


def body(file_name, length):
    """Fixed pseudo-random bytes, the same on every run."""
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(f"{file_name}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:length])


def hex_record(kind, address, data):
    record = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    checksum = (-sum(record)) & 0xFF
    return ":" + (record + bytes([checksum])).hex().upper() + "\n"


def intel_hex(chunks):
    """Data records of 16 bytes at most, an extended linear address record
    whenever the upper 16 address bits change, and the end-of-file record."""
    lines = []
    upper = 0
    for start, data in sorted(chunks):
        offset = 0
        while offset < len(data):
            address = start + offset
            if address >> 16 != upper:
                upper = address >> 16
                lines.append(hex_record(4, 0, upper.to_bytes(2, "big")))
            # A record never crosses a 64 KiB boundary.
            length = min(16, len(data) - offset, 0x10000 - (address & 0xFFFF))
            lines.append(hex_record(0, address & 0xFFFF, data[offset:offset + length]))
            offset += length
    lines.append(hex_record(1, 0, b""))
    return "".join(lines).encode("ascii")


def sample_bytes(catalogue, file_name, name, version):
    processor = first_processor(catalogue, name)
    words, size = words_of(name, processor, version)
    if name == RAW_PRODUCT:
        if not file_name.endswith(".bin"):
            raise SampleError(f"{file_name}: {name} takes raw .bin files")
        image = bytearray(body(file_name, min(RAW_BYTES, size)))
        for offset, value in words:
            if offset + 4 > len(image):
                raise SampleError(f"{file_name}: byte 0x{offset:X} is past the raw file's end")
            image[offset:offset + 4] = value.to_bytes(4, "little")
        return bytes(image)
    if not file_name.endswith(".hex"):
        raise SampleError(f"{file_name}: {name} takes Intel HEX files")
    chunks = [(0, body(file_name, BODY_BYTES))]
    # The checked words, as one record where they follow each other.
    words.sort()
    start, value = words[0]
    data = value.to_bytes(4, "little")
    for offset, value in words[1:]:
        if offset == start + len(data):
            data += value.to_bytes(4, "little")
        else:
            chunks.append((start, data))
            start, data = offset, value.to_bytes(4, "little")
    chunks.append((start, data))
    if chunks[-1][0] < BODY_BYTES:
        raise SampleError(f"{file_name}: the checked words fall inside the body")
    return intel_hex(chunks)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--out", default=SAMPLES, help="folder to write to")
    parser.add_argument("--check", action="store_true",
                        help="compare with resources/samples instead of writing")
    parser.add_argument("--catalogue", default=CATALOGUE)
    args = parser.parse_args()

    catalogue = ET.parse(args.catalogue)
    different = []
    for file_name, name, version in SAMPLE_TABLE:
        try:
            data = sample_bytes(catalogue, file_name, name, version)
        except SampleError as error:
            print(f"make-samples: {error}", file=sys.stderr)
            return 1
        path = os.path.join(SAMPLES if args.check else args.out, file_name)
        if args.check:
            try:
                with open(path, "rb") as existing:
                    if existing.read() != data:
                        different.append(file_name)
            except OSError:
                different.append(file_name)
            continue
        os.makedirs(args.out, exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        print(f"{path}: {name} {version if isinstance(version, int) else '.'.join(map(str, version))}")
    if different:
        print("make-samples: not as the catalogue makes them: " + ", ".join(different)
              + " (run scripts/make-samples.py, then scripts/sign-samples.sh)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
