#!/usr/bin/env python3
"""Cross-check: dmidecode, an independent SMBIOS reader, finds the same system manufacturer and
OEM strings in the test images as the platform library does through the platform device.

For each image of the images folder: the image builder writes the dmidecode dump (entry point
and table), `dmidecode --from-dump` reads it, and oemstring_probe reads the image through the
host device. The library keeps at most 31 characters of a string and the first structure of a
type; dmidecode shows everything, so the library's strings must be the start of dmidecode's.
"""

import argparse
import os
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


def dmidecode_strings(dmidecode, dump):
    """(manufacturer, [OEM strings]) of the first type-1 and type-11 structures dmidecode shows."""
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
    return manufacturer, oem


def probe_strings(probe, image):
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "vesnara.conf"), "w") as conf:
            conf.write("image %s\n" % os.path.abspath(image))
        env = dict(os.environ, DURNAVEL_HOST_DEVICE_DIR=folder)
        run = subprocess.run([probe], capture_output=True, text=True, env=env, timeout=30)
    values = {}
    for line in run.stdout.split("\n"):
        if line:
            key, result, text = line.split("\t", 2)
            values[key] = (int(result), text)
    return values


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--dmidecode", required=True)
    p.add_argument("--mkimage", required=True)
    p.add_argument("--probe", required=True)
    p.add_argument("--images", required=True)
    args = p.parse_args()

    names = sorted(n[:-4] for n in os.listdir(args.images) if n.endswith(".img"))
    failures = []
    checked = 0
    with tempfile.TemporaryDirectory() as work:
        for name in names:
            if name in DIFFERENT:
                continue
            image = os.path.join(args.images, name + ".img")
            dump = os.path.join(work, name + ".dump")
            tool = probe_strings(args.probe, image)
            made = subprocess.run([sys.executable, args.mkimage, "dump", image, dump],
                                  capture_output=True, text=True)
            if made.returncode != 0:
                # No valid entry point: the library must not find one either.
                if tool["manufacturer"][0] != -3:
                    failures.append("%s: dmidecode finds no entry point, the library does" % name)
                checked += 1
                continue
            manufacturer, oem = dmidecode_strings(args.dmidecode, dump)
            if tool["manufacturer"][0] != 0:
                failures.append("%s: the library reads nothing (%d)" % (name,
                                                                      tool["manufacturer"][0]))
                continue
            expected = {"manufacturer": manufacturer[:31]}
            for i in range(5):
                expected["oem%d" % i] = oem[i][:31] if i < len(oem) else ""
            for key, value in expected.items():
                if tool[key][1] != value:
                    failures.append("%s: %s: library %r, dmidecode %r" % (name, key, tool[key][1],
                                                                         value))
            checked += 1
    for f in failures:
        print("MISMATCH " + f)
    print("%d images checked against dmidecode, %d mismatches" % (checked, len(failures)))
    return 1 if failures or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
