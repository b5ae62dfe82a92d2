#!/usr/bin/env python3
"""Physical memory images holding an SMBIOS 2.x table, for the simulated platform device.

In an image, file offset X holds physical address X (the file is sparse: only the entry point,
the table and any false anchors are written). The layout is the real one: an entry point "_SM_"
with the intermediate anchor "_DMI_" at offset 0x10 (table length, table address, structure
count, BCD revision; both checksums right), then a table of structures, each with its string
set. Options also make the malformed tables and stray anchors that firmware is known to hold.

  mkimage.py build OUT [options]   one image (mkimage.py build --help lists the options)
  mkimage.py dump IMAGE OUT        the image's entry point and table in dmidecode's dump layout,
                                   for dmidecode --from-dump OUT
  mkimage.py batch LIST OUTDIR     every image of LIST, one "NAME OPTIONS..." a line (shell
                                   quoting, '#' comments), written as OUTDIR/NAME.img

Examples:
  mkimage.py build qtd2.img --talvenor QTD2       QTD revision 2: OEM string 2 "QTD",
                                                  OEM string 4 "QTD2", manufacturer "NEC"
  mkimage.py build x.img --oem A --oem B --manufacturer Supermicro --table 0xFFFD40
  mkimage.py build x.img --talvenor QTD --anchor 0xF8008 --false-anchor 0xF1024
"""

import argparse
import shlex
import struct
import sys

ONE_MEGABYTE = 0x100000
TABLE_READ_SIZE = 0x10000
DEFAULT_ENTRY = 0xF59F0
ENTRY_POINT_LENGTH = 0x1F
DECOY_TABLE = 0xE0000  # where false anchors point: nothing is there

# Fillers for the OEM strings around the two a talvenor machine is identified by.
TALVENOR_OEM = ["Vesnara", "talvenor", None, "Vesnara board", None]
TALVENOR_MANUFACTURER = {"QTD": "NEC", "QTF": "Supermicro"}


class BuildError(Exception):
    pass


def number(text):
    try:
        return int(text, 0)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number: %r" % text)


def byte_value(text):
    value = number(text)
    if not 0 <= value <= 0xFF:
        raise argparse.ArgumentTypeError("a byte is 0 to 255: %r" % text)
    return value


def length_byte(text):
    index, sep, value = text.partition("=")
    if not sep:
        raise argparse.ArgumentTypeError("expected INDEX=VALUE, got %r" % text)
    value = number(value)
    if not 0 <= value <= 0xFF:
        raise argparse.ArgumentTypeError("a length byte is 0 to 255: %r" % text)
    return number(index), value


def table_length(text):
    """A number, or @K / @K+N: the offset of structure K in the table, plus N."""
    if text.startswith("@"):
        index, _, extra = text[1:].partition("+")
        return ("at", number(index), number(extra) if extra else 0)
    value = number(text)
    if not 0 <= value <= 0xFFFF:
        raise argparse.ArgumentTypeError("the table length is 16 bits: %r" % text)
    return ("value", value, 0)


def checksum_byte(data):
    """The byte that makes `data` (with this byte at 0) sum to 0 modulo 256."""
    return (-sum(data)) & 0xFF


def structure(kind, handle, formatted, strings, terminated=True):
    """One structure: type, length, handle, the formatted rest, then the string set."""
    head = struct.pack("<BBH", kind, 4 + len(formatted), handle) + formatted
    for s in strings:
        if s == "":
            raise BuildError("SMBIOS strings cannot be empty (an empty string ends the set)")
        if "\0" in s:
            raise BuildError("SMBIOS strings cannot hold NUL")
    if not terminated:
        return head + "\0".join(strings).encode("latin-1")
    if strings:
        return head + b"".join(s.encode("latin-1") + b"\0" for s in strings) + b"\0"
    return head + b"\0\0"


def bios_information(handle):
    formatted = struct.pack(
        "<BBHBBQBBBBBB",
        1, 2, 0xE800, 3, 0,  # vendor, version, start segment, release date, ROM size
        1 << 3,  # characteristics not supported
        0, 0,  # characteristic extension bytes
        1, 0, 0xFF, 0xFF)  # BIOS release, embedded controller release
    return structure(0, handle, formatted, ["Vesnara", "1.00", "01/01/2024"])


def system_information(handle, manufacturer, field=1):
    """Type 1; `field` is the Manufacturer field byte, the string number readers following the
    field would take (the conventional 1 names the first string)."""
    uuid = bytes(range(0x10, 0x20))
    if manufacturer == "":
        # No manufacturer: no strings at all, so that nothing stands first in the set.
        return structure(1, handle, struct.pack("<BBBB", 0, 0, 0, 0) + uuid + b"\x06\x00\x00", [])
    formatted = struct.pack("<BBBB", field, 2, 3, 4) + uuid + struct.pack("<BBB", 6, 5, 6)
    return structure(1, handle, formatted,
                     [manufacturer, "talvenor", "1", "0000", "talvenor", "talvenor"])


def oem_strings(handle, strings, count=None):
    """Type 11; `count` is the Count byte (default: the number of strings)."""
    return structure(11, handle, struct.pack("<B", len(strings) if count is None else count),
                     strings)


def talvenor_strings(machine):
    """QTD2 -> OEM strings with "QTD" at 2 and "QTD2" at 4; QTD alone leaves OEM string 4 out."""
    code, revision = machine[:3], machine[3:]
    if code not in TALVENOR_MANUFACTURER or not revision.isdigit() and revision != "":
        raise BuildError("--talvenor takes QTD or QTF and an optional revision, e.g. QTD2")
    oem = list(TALVENOR_OEM)
    oem[2] = code
    if revision:
        oem[4] = code + revision
    return [s for s in oem if s is not None], TALVENOR_MANUFACTURER[code]


def build_table(args):
    """The table bytes and the offset of each structure."""
    oem = list(args.oem)
    manufacturer = args.manufacturer
    if args.talvenor:
        oem_t, manufacturer_t = talvenor_strings(args.talvenor)
        oem = oem or oem_t
        manufacturer = manufacturer_t if manufacturer is None else manufacturer
    if manufacturer is None:
        manufacturer = "Vesnara"

    parts = []
    if not args.no_bios:
        parts.append(bios_information)
    if args.mid_end:
        parts.append(lambda h: structure(127, h, b"", []))
    if not args.no_system:
        parts.append(lambda h: system_information(h, manufacturer, args.manufacturer_field))
    if oem:
        parts.append(lambda h: oem_strings(h, oem, args.oem_count))
    if args.second_system is not None:
        parts.append(lambda h: system_information(h, args.second_system))
    if args.filler:
        if args.filler < 8:
            raise BuildError("--filler needs at least 8 bytes")
        parts.append(lambda h: structure(0x80, h, b"", ["F" * (args.filler - 6)]))
    if args.second_oem:
        parts.append(lambda h: oem_strings(h, args.second_oem))
    if args.runaway:
        # The last string set has no end: it runs past the 0x10000 bytes a reader takes.
        parts.append(lambda h: structure(0x81, h, b"", ["R" * (TABLE_READ_SIZE + 0x10)],
                                         terminated=False))
    elif not args.no_end:
        parts.append(lambda h: structure(127, h, b"", []))

    table = bytearray()
    offsets = []
    for handle, make in enumerate(parts):
        offsets.append(len(table))
        table += make(handle)
    for index, value in args.length_byte:
        if not 0 <= index < len(offsets):
            raise BuildError("--length-byte: there is no structure %d" % index)
        table[offsets[index] + 1] = value
    return bytes(table), offsets


def largest_structure(table, offsets):
    ends = offsets[1:] + [len(table)]
    return min(max([e - o for o, e in zip(offsets, ends)] + [0]), 0xFFFF)


def entry_point(args, table_len, table_address, count, largest):
    major, _, minor = args.sm_version.partition(".")
    major, minor = int(major), int(minor or 0)
    intermediate = bytearray(b"_DMI_" + struct.pack("<BHIHB", 0, table_len, table_address, count,
                                                    (major << 4) | minor))
    intermediate[5] = checksum_byte(intermediate)
    if args.bad_checksum:
        intermediate[5] = (intermediate[5] + 1) & 0xFF
    eps = bytearray(b"_SM_" + struct.pack("<BBBBHB5s", 0, ENTRY_POINT_LENGTH, major, minor,
                                          largest, 0, b"\0" * 5)) + intermediate
    eps[4] = checksum_byte(eps)
    return bytes(eps)


def false_anchor():
    """"_DMI_" and ten bytes that do not sum to 0, pointing at an empty decoy table."""
    data = bytearray(b"_DMI_" + struct.pack("<BHIHB", 0x5A, 0x100, DECOY_TABLE, 1, 0x28))
    if sum(data) & 0xFF == 0:
        data[5] = (data[5] + 1) & 0xFF
    return bytes(data)


def layout(args):
    """The regions of the image: (address, bytes, what)."""
    if args.anchor is not None and args.entry is not None:
        raise BuildError("give --entry or --anchor, not both")
    entry = args.entry if args.entry is not None else (
        args.anchor - 0x10 if args.anchor is not None else DEFAULT_ENTRY)
    table_address = args.table if args.table is not None else entry + 0x20
    table, offsets = build_table(args)

    if args.table_length is None:
        declared = min(len(table), 0xFFFF)
    elif args.table_length[0] == "at":
        _, index, extra = args.table_length
        if not 0 <= index < len(offsets):
            raise BuildError("--table-length: there is no structure %d" % index)
        declared = offsets[index] + extra
    else:
        declared = args.table_length[1]
    if declared > 0xFFFF:
        raise BuildError("the table length is 16 bits")

    regions = [(table_address, table, "table")]
    if not args.no_entry:
        regions.append((entry, entry_point(args, declared, table_address, len(offsets),
                                           largest_structure(table, offsets)),
                        "entry point"))
    for address in args.false_anchor:
        regions.append((address, false_anchor(), "false anchor"))
    regions.sort()
    for (a, da, wa), (b, _, wb) in zip(regions, regions[1:]):
        if a + len(da) > b:
            raise BuildError("%s at 0x%X overlaps %s at 0x%X" % (wa, a, wb, b))
    return regions, offsets, declared


def write_image(path, regions, size):
    end = max([a + len(d) for a, d, _ in regions] + [size])
    with open(path, "wb") as out:
        for address, data, _ in regions:
            out.seek(address)
            out.write(data)
        out.truncate(end)


def build_parser():
    p = argparse.ArgumentParser(
        prog="mkimage.py build",
        description="Write a physical memory image with an SMBIOS 2.x entry point and table. "
                    "Structures, in this order: BIOS (type 0), an early end of table (type 127), "
                    "system (type 1), OEM strings (type 11), second system (type 1), filler "
                    "(type 128), second OEM strings (type 11), end of table (type 127) or the "
                    "runaway structure (type 129); each can be left out. "
                    "Numbers are decimal or 0x-hexadecimal.")
    p.add_argument("out", help="image file to write")
    g = p.add_argument_group("content")
    g.add_argument("--talvenor", metavar="CODE[REV]",
                   help="a talvenor machine: QTD2 = OEM string 2 \"QTD\", OEM string 4 \"QTD2\", "
                        "manufacturer NEC (QTF: Supermicro); QTD alone leaves OEM string 4 "
                        "empty (revision 1). --oem and --manufacturer override it")
    g.add_argument("--oem", action="append", default=[], metavar="TEXT",
                   help="next OEM string (type 11), from OEM string 0 on; repeat")
    g.add_argument("--manufacturer", metavar="TEXT",
                   help="system manufacturer, the first string of type 1 (default Vesnara; "
                        "empty: a type-1 structure without strings)")
    g.add_argument("--second-oem", action="append", default=[], metavar="TEXT",
                   help="a string of a second OEM-strings structure after the first; repeat")
    g.add_argument("--second-system", metavar="TEXT",
                   help="a second system structure (type 1) after the OEM strings, with TEXT as "
                        "its manufacturer")
    g.add_argument("--no-bios", action="store_true", help="leave the type-0 structure out")
    g.add_argument("--no-system", action="store_true", help="leave the type-1 structure out")
    g.add_argument("--no-end", action="store_true", help="leave the type-127 structure out")
    g.add_argument("--sm-version", default="2.8", metavar="MAJOR.MINOR",
                   help="SMBIOS version in the entry point (default 2.8)")
    g = p.add_argument_group("placement")
    g.add_argument("--entry", type=number, metavar="ADDR",
                   help="address of the entry point \"_SM_\" (default 0x%X)" % DEFAULT_ENTRY)
    g.add_argument("--anchor", type=number, metavar="ADDR",
                   help="address of the intermediate anchor \"_DMI_\" (the entry point starts "
                        "0x10 before it); e.g. 0xF8008 lies 0x8008 bytes into the first search "
                        "window and is found only in the second")
    g.add_argument("--table", type=number, metavar="ADDR",
                   help="table address (default: 0x20 after the entry point); at or above "
                        "0x100000 as firmware places larger tables, e.g. 0xFFFD40")
    g.add_argument("--false-anchor", action="append", type=number, default=[], metavar="ADDR",
                   help="stray \"_DMI_\" bytes whose entry point does not sum to 0, pointing at "
                        "an empty decoy table at 0x%X (SeaBIOS has one at 0xF1024); repeat"
                        % DECOY_TABLE)
    g.add_argument("--no-entry", action="store_true", help="write no entry point")
    g.add_argument("--size", type=number, default=0, metavar="BYTES",
                   help="make the image at least this long")
    g = p.add_argument_group("malformed tables")
    g.add_argument("--bad-checksum", action="store_true",
                   help="the intermediate entry point does not sum to 0")
    g.add_argument("--table-length", type=table_length, metavar="N|@K[+N]",
                   help="table length in the entry point: a number (smaller than the "
                        "structures, or beyond what a reader takes), or @K+N, the offset of "
                        "structure K plus N")
    g.add_argument("--length-byte", action="append", type=length_byte, default=[],
                   metavar="K=VALUE",
                   help="overwrite the length byte of structure K (counted from 0 in table "
                        "order): 0 ends the table, 1 to 3 is shorter than the header, a large "
                        "value may point past the end; repeat")
    g.add_argument("--mid-end", action="store_true",
                   help="a type-127 structure (end of table) between the BIOS and the system "
                        "structures, with the rest of the table after it")
    g.add_argument("--manufacturer-field", type=byte_value, default=1, metavar="N",
                   help="the Manufacturer field byte of the system structure (default 1, the "
                        "first string); the manufacturer stays the first string whatever it says")
    g.add_argument("--oem-count", type=byte_value, metavar="N",
                   help="the Count byte of the first OEM-strings structure (default: the number "
                        "of its strings); the strings are written all the same")
    g.add_argument("--filler", type=number, metavar="BYTES",
                   help="a type-128 structure of BYTES bytes after the OEM strings, to push the "
                        "structures after it towards the end of the 0x10000 bytes read")
    g.add_argument("--runaway", action="store_true",
                   help="end the table with a structure whose string set has no end and runs "
                        "past 0x10000 bytes from the table start (put the table where 0x10000 "
                        "bytes can be read: below 0xF0000 or above 0x100000)")
    g.add_argument("--describe", action="store_true",
                   help="print the image's regions and the structure offsets")
    return p


def build(argv):
    args = build_parser().parse_args(argv)
    regions, offsets, declared = layout(args)
    write_image(args.out, regions, args.size)
    if args.describe:
        for address, data, what in regions:
            print("0x%08X %-12s %d bytes" % (address, what, len(data)))
        print("table length 0x%X, structures at %s" % (
            declared, ", ".join("0x%X" % o for o in offsets)))


def find_entry_point(image):
    """The first entry point of the F segment whose checksums hold, as a reader finds it."""
    area = image[0xF0000:ONE_MEGABYTE]
    at = area.find(b"_SM_")
    while at >= 0:
        eps = area[at:at + 0x20]
        if len(eps) >= ENTRY_POINT_LENGTH and eps[5] <= 0x20 and sum(eps[:eps[5]]) & 0xFF == 0 \
                and eps[0x10:0x15] == b"_DMI_" and sum(eps[0x10:0x1F]) & 0xFF == 0:
            return 0xF0000 + at
        at = area.find(b"_SM_", at + 1)
    raise BuildError("no SMBIOS entry point in the image")


def dump(argv):
    p = argparse.ArgumentParser(prog="mkimage.py dump",
                                description="Write an image's SMBIOS entry point and table in "
                                            "dmidecode's dump layout: the entry point at offset "
                                            "0 with the table address 0x20, the table at 0x20.")
    p.add_argument("image")
    p.add_argument("out")
    args = p.parse_args(argv)
    with open(args.image, "rb") as f:
        image = f.read()
    entry = find_entry_point(image)
    eps = bytearray(image[entry:entry + 0x20].ljust(0x20, b"\0"))
    length, address = struct.unpack_from("<HI", eps, 0x16)
    table = image[address:address + length].ljust(length, b"\0")
    struct.pack_into("<I", eps, 0x18, 0x20)
    eps[0x15] = 0
    eps[0x15] = checksum_byte(eps[0x10:0x1F])
    eps[4] = 0
    eps[4] = checksum_byte(eps[:eps[5]])
    with open(args.out, "wb") as f:
        f.write(bytes(eps) + table)


def batch(argv):
    p = argparse.ArgumentParser(prog="mkimage.py batch",
                                description="Build every image of a list: one 'NAME OPTIONS...' "
                                            "a line, written as OUTDIR/NAME.img.")
    p.add_argument("list")
    p.add_argument("outdir")
    args = p.parse_args(argv)
    import os
    os.makedirs(args.outdir, exist_ok=True)
    with open(args.list) as f:
        for number_, line in enumerate(f, 1):
            words = shlex.split(line, comments=True)
            if not words:
                continue
            try:
                build([os.path.join(args.outdir, words[0] + ".img")] + words[1:])
            except (BuildError, SystemExit) as e:
                raise BuildError("%s:%d: %s" % (args.list, number_, e))


def main(argv):
    commands = {"build": build, "dump": dump, "batch": batch}
    if not argv or argv[0] in ("-h", "--help") or argv[0] not in commands:
        sys.stdout.write(__doc__)
        return 0 if argv and argv[0] in ("-h", "--help") else 64
    try:
        commands[argv[0]](argv[1:])
    except BuildError as e:
        sys.stderr.write("mkimage.py: %s\n" % e)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
