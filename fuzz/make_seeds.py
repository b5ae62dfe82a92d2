#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from the test fixtures.

  fuzz/make_seeds.py            rewrites fuzz/corpus/{smbios,drs_get,drs_set}/

smbios:  every image of tests/platform/images.txt (built by sim/vesnara/mkimage.py), as the
         target reads memory: a fault byte, then pieces (kind, u32 address, u16 length, bytes;
         runs of one byte as kind 1), plus the talvenor image under each device fault.
drs_get: the base profiles of the graphics tests (switches, three counts, then u32 ID and
         u32 value per setting), with the count faults.
drs_set: the records of the graphics tests (fourteen signed 32-bit fields, the 64-bit mask,
         a switch byte and a call number), with the driver faults.
The layouts are described at the top of each target's source.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def clear(name):
    folder = os.path.join(CORPUS, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# ---- smbios ----

LITERAL, REPEATED = 0, 1
MIN_RUN = 32  # a run of one byte this long becomes a repeated piece
MAX_GAP = 8  # zero bytes that may stay inside one piece


def pieces_of(image):
    """The non-zero regions of a memory image as (address, bytes); a region ends at MAX_GAP zero
    bytes."""
    regions = []
    nonzero = re.compile(rb"[^\0]")
    gap = b"\0" * MAX_GAP
    at = 0
    while True:
        found = nonzero.search(image, at)
        if found is None:
            return regions
        start = found.start()
        stop = image.find(gap, start)
        stop = len(image) if stop < 0 else stop
        regions.append((start, image[start:stop].rstrip(b"\0")))
        at = stop


def encode_region(address, data):
    """One region as pieces: literal stretches and repeated runs, each at most 0xFFFF long."""
    out = bytearray()
    i = 0
    literal_start = 0

    def literal(upto):
        j = literal_start
        while j < upto:
            n = min(0xFFFF, upto - j)
            out.extend(struct.pack("<BIH", LITERAL, address + j, n) + data[j:j + n])
            j += n

    while i < len(data):
        run = 1
        while i + run < len(data) and data[i + run] == data[i]:
            run += 1
        if run >= MIN_RUN:
            literal(i)
            j = i
            while j < i + run:
                n = min(0xFFFF, i + run - j)
                out.extend(struct.pack("<BIHB", REPEATED, address + j, n, data[i]))
                j += n
            literal_start = i + run
        i += run
    literal(len(data))
    return bytes(out)


def smbios_seed(image, faults=0):
    out = bytearray([faults])
    for address, data in pieces_of(image):
        out += encode_region(address, data)
    return bytes(out)


def smbios_seeds():
    folder = clear("smbios")
    work = tempfile.mkdtemp(prefix="durnavel-seeds-")
    try:
        subprocess.run([sys.executable, os.path.join(ROOT, "sim", "vesnara", "mkimage.py"),
                        "batch", os.path.join(ROOT, "tests", "platform", "images.txt"), work],
                       check=True)
        for file in sorted(os.listdir(work)):
            if not file.endswith(".img"):
                continue
            with open(os.path.join(work, file), "rb") as f:
                image = f.read()
            name = file[:-4]
            write(folder, name, smbios_seed(image))
            if name == "qtd2":
                # Strings are bytes: the same machine with bytes above 0x7F in OEM string 3.
                write(folder, name + "-high-bytes",
                      smbios_seed(image.replace(b"Vesnara board", b"Ves\xa5\xe9ra board")))
                for faults, label in [(0x01, "refuse-first"), (0x02, "short-first"),
                                      (0x10, "refuse-table"), (0x20, "short-table"),
                                      (0x40, "no-device"), (0x80, "no-image")]:
                    write(folder, name + "-" + label, smbios_seed(image, faults))
            if name == "anchor-second":
                for faults, label in [(0x01, "refuse-first"), (0x02, "short-first"),
                                      (0x04, "refuse-second"), (0x08, "short-second")]:
                    write(folder, name + "-" + label, smbios_seed(image, faults))
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---- drs_get ----

FRAMES = 0x007BA09E
ANISO_SELECTOR, ANISO_LEVEL = 0x10D2BB16, 0x101E61A9
AA_GAMMA, AA_SELECTOR, AA_METHOD = 0x107D639D, 0x107EFC5B, 0x10D773D2
AA_REPLAY, AA_ALPHA = 0x10D48A85, 0x10FC2D9C
MULTIMON, ANISO_OPTS2, NO_NEG_LODBIAS = 0x200AEBFC, 0x00E73211, 0x0019BB68
QUALITY, TRILIN, THREAD, TRIPLE, VSYNC = 0x00CE2691, 0x002ECAF2, 0x20C1221E, 0x20FDD1F9, 0x00A879CF
ANISO_COMPANION, AA_COMPANION = 0x0084CD70, 0x107AFC5B


def get_seed(profile, switches=0, counts=(0, 0, 0)):
    out = bytearray([switches, counts[0], counts[1], counts[2]])
    for setting_id, value in profile:
        out += struct.pack("<II", setting_id, value & 0xFFFFFFFF)
    return bytes(out)


def drs_get_seeds():
    folder = clear("drs_get")
    every = [(ANISO_SELECTOR, 1), (ANISO_LEVEL, 8), (AA_GAMMA, 2), (AA_SELECTOR, 2),
             (AA_METHOD, 38), (AA_REPLAY, 0x24), (AA_ALPHA, 0), (FRAMES, 2), (MULTIMON, 3),
             (ANISO_OPTS2, 1), (NO_NEG_LODBIAS, 1), (QUALITY, -10), (TRILIN, 1), (THREAD, 2),
             (TRIPLE, 1), (VSYNC, 0x47814940), (ANISO_COMPANION, 0), (AA_COMPANION, 0)]
    seeds = {
        "empty": get_seed([]),
        "frames-1": get_seed([(FRAMES, 1)]),
        "frames-unchecked": get_seed([(FRAMES, -1)]),
        "every-setting": get_seed(every),
        "sixty-four": get_seed([(FRAMES, 2)] * 63 + [(FRAMES, 7)]),
        "sixty-five": get_seed([(FRAMES, 2)] * 65),
        "override-without-method": get_seed([(AA_SELECTOR, 1), (AA_METHOD, 0)]),
        "selector-off-then-level": get_seed([(ANISO_SELECTOR, 0), (ANISO_LEVEL, 8)]),
        "alpha-then-replay": get_seed([(AA_ALPHA, 4), (AA_REPLAY, 0x24)]),
        "unknown-id": get_seed([(FRAMES, 1), (0x12345678, 0)]),
        "value-outside-row": get_seed([(VSYNC, 5)]),
        "quality-minus-ten": get_seed([(QUALITY, -10)]),
        "announces-65": get_seed([(FRAMES, 1)], 0x01, (65, 0, 0)),
        "announces-more": get_seed([(FRAMES, 1)], 0x01, (2, 0, 0)),
        "announces-fewer": get_seed([(FRAMES, 1), (VSYNC, 0x08416747)], 0x01, (1, 0, 0)),
        "enum-short": get_seed([(FRAMES, 1), (VSYNC, 0x08416747)], 0x04, (0, 0, 1)),
        "enum-count-lies": get_seed([(FRAMES, 1), (VSYNC, 0x08416747)], 0x02, (0, 3, 0)),
        "enum-count-covers-short": get_seed([(FRAMES, 1), (VSYNC, 0x08416747)], 0x06, (0, 2, 1)),
        "hooks": get_seed([(FRAMES, 1), (TRIPLE, 1)], 0x08),
        "profile-info-not-supported": get_seed([(FRAMES, 1)], 0x50),
        "enum-fails": get_seed([(FRAMES, 1)], 0x20),
        "reversed-level-then-selector": get_seed([(ANISO_LEVEL, 8), (ANISO_SELECTOR, 0)], 0x80),
    }
    # Every driver value of every setting on its own, so that each row of the reader's table
    # is tried from the start.
    rows = {"aniso-selector": (ANISO_SELECTOR, [0, 1]),
            "aniso-level": (ANISO_LEVEL, [1, 2, 4, 8, 16]),
            "aa-gamma": (AA_GAMMA, [0, 2]), "aa-selector": (AA_SELECTOR, [0, 1, 2]),
            "aa-method": (AA_METHOD, [0, 14, 16, 38, 37, 39, 40, 29]),
            "aa-replay": (AA_REPLAY, [0, 0x14, 0x24, 0x34]), "aa-alpha": (AA_ALPHA, [0, 4]),
            "multimon": (MULTIMON, [0, 1, 3]), "aniso-opts2": (ANISO_OPTS2, [0, 1]),
            "no-neg-lodbias": (NO_NEG_LODBIAS, [0, 1]), "quality": (QUALITY, [0, -10, 10, 20]),
            "trilin": (TRILIN, [0, 1]), "thread": (THREAD, [0, 1, 2]), "triple": (TRIPLE, [0, 1]),
            "vsync": (VSYNC, [0x60925292, 0x08416747, 0x47814940])}
    for label, (setting_id, values) in rows.items():
        for value in values:
            seeds["value-%s-%d" % (label, value)] = get_seed([(setting_id, value)])
    for name, data in seeds.items():
        write(folder, name, data)


# ---- drs_set ----

FIELDS = ["anisotropicFiltering", "antiAliasingGammaCorrection", "antiAliasingMode",
          "antiAliasingSetting", "antiAliasingTransparency", "maximumPrerenderedFrames",
          "multiDisplayMixedGpuAcceleration", "textureFilteringAnisotropicSampleOptimization",
          "textureFilteringNegativeLodBias", "textureFilteringQuality",
          "textureFilteringTrilinearOptimization", "threadedOptimization", "tripleBuffering",
          "verticalSync"]


def set_seed(fields, extra_bits=0, switches=0, call=0, unset=None):
    values = [0] * 14
    mask = extra_bits
    for name, value in fields.items():
        i = FIELDS.index(name)
        values[i] = value
        mask |= 1 << i
    for name, value in (unset or {}).items():
        values[FIELDS.index(name)] = value
    return struct.pack("<14iQBB", *values, mask, switches, call)


def drs_set_seeds():
    folder = clear("drs_set")
    every_valid = {name: 1 for name in FIELDS}
    every_valid.update(antiAliasingMode=3, antiAliasingSetting=2, maximumPrerenderedFrames=1)
    seeds = {
        "empty-mask": set_seed({}),
        "frames-1": set_seed({"maximumPrerenderedFrames": 1}),
        "frames-8": set_seed({"maximumPrerenderedFrames": 8}),
        "frames-9": set_seed({"maximumPrerenderedFrames": 9}),
        "frames-minus-1": set_seed({"maximumPrerenderedFrames": -1}),
        "garbage-not-enabled": set_seed({}, unset={name: -77 for name in FIELDS}),
        "every-field": set_seed(every_valid),
        "override-and-method": set_seed({"antiAliasingMode": 3, "antiAliasingSetting": 2}),
        "aniso-and-quality": set_seed({"anisotropicFiltering": 4, "textureFilteringQuality": 2}),
        "rule-a": set_seed({"antiAliasingMode": 1, "antiAliasingSetting": 5}),
        "rule-a-and-range": set_seed({"antiAliasingMode": 0, "antiAliasingSetting": 9}),
        "rule-b": set_seed({"antiAliasingMode": 3, "antiAliasingSetting": 0}),
        "rule-c": set_seed({"antiAliasingSetting": 3}),
        "mode-7": set_seed({"antiAliasingMode": 7, "antiAliasingSetting": 0}),
        "two-out-of-range": set_seed({"verticalSync": 3, "maximumPrerenderedFrames": 9}),
        "bit-14": set_seed({"maximumPrerenderedFrames": 1}, extra_bits=1 << 14),
        "bit-63": set_seed({"verticalSync": 2}, extra_bits=1 << 63),
        "mode-and-frames": set_seed({"antiAliasingMode": 2, "maximumPrerenderedFrames": 1}),
        "transparency-each": set_seed({"antiAliasingTransparency": 1}),
        "third-write-fails": set_seed(every_valid, switches=0x01, call=3),
        "save-not-supported": set_seed({"maximumPrerenderedFrames": 1}, switches=0x06),
        "nvcpl-write-fails": set_seed({"maximumPrerenderedFrames": 2}, switches=0x08),
        "hooks": set_seed({"verticalSync": 1, "tripleBuffering": 1}, switches=0x10),
    }
    for name, data in seeds.items():
        write(folder, name, data)


def main():
    smbios_seeds()
    drs_get_seeds()
    drs_set_seeds()
    for name in ("smbios", "drs_get", "drs_set"):
        folder = os.path.join(CORPUS, name)
        files = os.listdir(folder)
        size = sum(os.path.getsize(os.path.join(folder, f)) for f in files)
        print("%s: %d seeds, %d bytes" % (name, len(files), size))


if __name__ == "__main__":
    main()
