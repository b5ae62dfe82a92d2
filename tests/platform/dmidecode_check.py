#!/usr/bin/env python3
"""Cross-check: dmidecode, an independent SMBIOS reader, finds the same system manufacturer and
OEM strings as the platform library does through the platform device.

What is read: every image of the images folder (the image builder's test images) and every seed
of the SMBIOS fuzz corpus, turned back into the memory it describes (the seed's device-fault byte
is left out: it changes how the device answers, not what the memory holds; seeds that differ
only in it are read once). For each, the platform library reads the memory through the host
device (oemstring_probe), and dmidecode reads a dump of it (`dmidecode --from-dump`): the image
builder's dump of the SMBIOS 2.x entry point ("_SM_") and its table where the memory holds one,
else of the first legacy entry point ("_DMI_", 15 bytes summing to 0) in 0xF0000 to 0xFFFFF,
wherever it starts (dmidecode itself looks on 16-byte boundaries only, the library at every
byte), and its table. The library keeps at most 31 characters of a string and the first
structure of a type; dmidecode shows everything, and bytes outside printable ASCII as '.', so
the library's strings must be the start of dmidecode's.

Where no entry point is found for dmidecode, the library must find none either. Memory whose
table dmidecode reads differently by design (listed below, or a fuzzer-made table that
dmidecode's own warnings call broken) is counted apart with its reason; --verbose names each.
"""

import argparse
import hashlib
import importlib.util
import os
import struct
import subprocess
import sys
import tempfile

# Images on which the two readers differ by design, and why.
DIFFERENT = {
    "anchor-beyond": "the entry point ends past the search windows; dmidecode reads the dump",
    "table-zero": "a table address of 0 counts as no entry point",
    "table-length-fits": "the table length ends inside the OEM strings: the library measures it "
                         "only at the start of a structure, dmidecode wants each one whole",
    "manufacturer-field": "the Manufacturer field byte names string 2: the library takes the "
                          "first string whatever the field says, dmidecode follows the field",
    "oem-count-1": "the OEM-strings Count byte says 1: the library reads the whole string set, "
                   "dmidecode only as many strings as the Count byte says",
    "oem-count-0": "the OEM-strings Count byte says 0: as oem-count-1",
}

# dmidecode's words for a table it reads otherwise than the library by design: it stops at a
# structure whose length byte is below 4 (the library too) or that does not fit the announced
# table length (the library measures the length only where a string set starts).
BROKEN_TABLE = ("DMI table is broken", "Invalid entry length", "Wrong DMI structures")

F_SEGMENT = 0xF0000
ONE_MEGABYTE = 0x100000


def load_module(name, path):
    location = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(location)
    location.loader.exec_module(module)
    return module


def seed_pieces(data):
    """The memory of an smbios_fuzz input: after the fault byte, pieces of u8 kind (bit 0: one
    byte repeated), u32 address, u16 length and the bytes; the input reads 0 past its end."""
    at = 1
    pieces = []

    def take(count):
        nonlocal at
        chunk = data[at:at + count]
        at += count
        return chunk

    def number(count):
        return int.from_bytes(take(count).ljust(count, b"\0"), "little")

    while at < len(data):
        repeated = number(1) & 1
        address = number(4)
        length = number(2)
        if repeated:
            pieces.append((address, bytes([number(1)]) * length))
        else:
            pieces.append((address, take(length)))
    return pieces


def write_memory(path, pieces):
    """A sparse image: file offset X holds address X, later pieces over earlier ones."""
    with open(path, "wb") as out:
        for address, data in pieces:
            out.seek(address)
            out.write(data)


def write_dump(f, dump_path, entry, table_offset):
    """The entry point (table address at `table_offset` in it, set to 0x20, checksums made
    again) and its table, in dmidecode's dump layout."""
    entry = bytearray(entry)
    dmi = entry[table_offset - 8:]
    length, address = struct.unpack_from("<HI", dmi, 6)
    f.seek(address)
    table = f.read(length).ljust(length, b"\0")
    struct.pack_into("<I", entry, table_offset, 0x20)
    dmi_start = table_offset - 8
    entry[dmi_start + 5] = 0
    entry[dmi_start + 5] = (-sum(entry[dmi_start:dmi_start + 15])) & 0xFF
    if dmi_start:
        entry[4] = 0
        entry[4] = (-sum(entry[:entry[5]])) & 0xFF
    with open(dump_path, "wb") as out:
        out.write(bytes(entry).ljust(0x20, b"\0") + table)


def dump(mkimage, image_path, dump_path):
    """dmidecode's dump of the memory: the SMBIOS 2 entry point the image builder finds and its
    table, else the first "_DMI_" entry point of the F segment whose 15 bytes sum to 0 and its
    table. Reads only the F segment and the table (the memory of a seed
    may reach 4 GB). The kind of entry point, or None."""
    with open(image_path, "rb") as f:
        f.seek(F_SEGMENT)
        segment = f.read(ONE_MEGABYTE - F_SEGMENT).ljust(ONE_MEGABYTE - F_SEGMENT, b"\0")
        try:
            at = mkimage.find_entry_point(bytes(F_SEGMENT) + segment) - F_SEGMENT
            write_dump(f, dump_path, segment[at:at + 0x1F], 0x18)
            return "SMBIOS 2"
        except mkimage.BuildError:
            pass
        for at in range(0, len(segment) - 14):
            entry = segment[at:at + 15]
            if entry[:5] == b"_DMI_" and sum(entry) & 0xFF == 0:
                write_dump(f, dump_path, entry, 8)
                return "legacy DMI"
    return None


def shown(text):
    """A string as dmidecode prints it: bytes outside printable ASCII as '.'."""
    return "".join(c if 32 <= ord(c) < 127 else "." for c in text)


def dmidecode_strings(dmidecode, dump):
    """(manufacturer, [OEM strings], warnings) of the first type-1 and type-11 structures."""
    run = subprocess.run([dmidecode, "--from-dump", dump, "-t", "1,11"], capture_output=True,
                         text=True, errors="replace", timeout=30)
    blocks = []  # (type, lines)
    for line in run.stdout.split("\n"):
        if line.startswith("Handle ") and ", DMI type " in line:
            blocks.append((int(line.split(", DMI type ")[1].split(",")[0]), []))
        elif blocks and line.startswith("\t"):
            blocks[-1][1].append(line[1:])
    manufacturer, oem = "", []
    system = [lines for kind, lines in blocks if kind == 1]
    if system:
        for line in system[0]:
            if line.startswith("Manufacturer: "):
                manufacturer = line[len("Manufacturer: "):]
        if manufacturer == "Not Specified":
            manufacturer = ""
    strings = [lines for kind, lines in blocks if kind == 11]
    if strings:
        oem = [line.split(": ", 1)[1] for line in strings[0] if line.startswith("String ")]
    broken = [w for w in BROKEN_TABLE if w in run.stdout or w in run.stderr]
    return manufacturer, oem, broken


def probe_strings(probe, image):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "vesnara.conf"), "w") as conf:
            conf.write("image %s\n" % os.path.abspath(image))
        env = dict(os.environ, DURNAVEL_HOST_DEVICE_DIR=folder)
        run = subprocess.run([probe], capture_output=True, text=True, env=env, timeout=30,
                             encoding="latin-1")
    values = {}
    for line in run.stdout.split("\n"):
        if line:
            key, result, text = line.split("\t", 2)
            values[key] = (int(result), text)
    return values


def main():
    p = argparse.ArgumentParser(description=__doc__,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--dmidecode", required=True)
    p.add_argument("--mkimage", required=True)
    p.add_argument("--probe", required=True)
    p.add_argument("--images", required=True, help="folder of NAME.img images")
    p.add_argument("--seeds", help="folder of smbios_fuzz inputs")
    p.add_argument("--verbose", action="store_true", help="name every memory not compared")
    args = p.parse_args()
    mkimage = load_module("mkimage", args.mkimage)

    failures, skipped = [], []
    checked = 0
    seen = set()
    with tempfile.TemporaryDirectory() as work:
        memories = []  # (name, image path)
        images = set()
        for n in sorted(os.listdir(args.images)):
            if n.endswith(".img"):
                images.add(n[:-4])
                memories.append((n[:-4], os.path.join(args.images, n)))
        if args.seeds:
            for n in sorted(os.listdir(args.seeds)):
                with open(os.path.join(args.seeds, n), "rb") as f:
                    data = f.read()
                digest = hashlib.sha256(data[1:]).hexdigest()
                if digest in seen:
                    continue  # the same memory under another device fault
                seen.add(digest)
                image = os.path.join(work, "seed-%s.img" % n)
                write_memory(image, seed_pieces(data))
                memories.append(("seed " + n, image))

        for name, image in memories:
            label = name.split(" ", 1)[-1]
            if label in DIFFERENT:
                skipped.append("%s: differs by design: %s" % (name, DIFFERENT[label]))
                continue
            dumped = os.path.join(work, "dump")
            kind = dump(mkimage, image, dumped)
            if kind is None:
                # No "_DMI_" entry point anywhere in the F segment: the library finds none either.
                if probe_strings(args.probe, image)["manufacturer"][0] != -3:
                    failures.append("%s: dmidecode finds no entry point, the library does" % name)
                checked += 1
                continue
            tool = probe_strings(args.probe, image)
            manufacturer, oem, broken = dmidecode_strings(args.dmidecode, dumped)
            if tool["manufacturer"][0] != 0:
                failures.append("%s: the library reads nothing (%d), dmidecode reads the %s "
                                "entry point" % (name, tool["manufacturer"][0], kind))
                continue
            expected = {"manufacturer": manufacturer[:31]}
            for i in range(5):
                expected["oem%d" % i] = oem[i][:31] if i < len(oem) else ""
            differences = ["%s: library %r, dmidecode %r" % (key, tool[key][1], value)
                           for key, value in expected.items() if shown(tool[key][1]) != value]
            if differences and broken and label not in images:
                # A fuzzer-made table that dmidecode stops or cuts where the library goes on (see
                # BROKEN_TABLE); the images' differences are all listed in DIFFERENT.
                skipped.append("%s: dmidecode reads a broken table (%s): %s"
                               % (name, broken[0], differences[0]))
                continue
            failures.extend("%s: %s" % (name, d) for d in differences)
            checked += 1
    for f in failures:
        print("MISMATCH " + f)
    if args.verbose:
        for s in skipped:
            print("not compared: " + s)
    print("%d memories compared with dmidecode, %d not compared, %d mismatches"
          % (checked, len(skipped), len(failures)))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
