#!/usr/bin/env python3
"""What a Windows build's Durnavel.exe is, read from its headers (objdump -p): a console program
of the build's width (PE32 for the 32-bit build, PE32+ for the 64-bit one) that imports only
Windows system DLLs. Needs no Wine, so it runs on every machine.

  pe_check.py --objdump OBJDUMP --bits 32|64 EXE
"""

import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll",
               "ucrtbase.dll", "shell32.dll", "ole32.dll", "ws2_32.dll"}
MAGIC = {32: "010b", 64: "020b"}


def headers(objdump, exe):
    """The image's optional-header magic, subsystem and imported DLL names."""
    text = subprocess.run([objdump, "-p", exe], check=True, stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL).stdout.decode("ascii", "replace")
    magic = re.search(r"^Magic\s+([0-9a-fA-F]+)", text, re.M)
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", text, re.M)
    return (magic.group(1).lower() if magic else None,
            int(subsystem.group(1), 16) if subsystem else None,
            re.findall(r"DLL Name: (\S+)", text))


def problems(objdump, exe, bits):
    magic, subsystem, imports = headers(objdump, exe)
    found = []
    if magic != MAGIC[bits]:
        found.append("optional header magic %s, expected %s (PE%s)" %
                     (magic, MAGIC[bits], "32+" if bits == 64 else "32"))
    if subsystem != 3:
        found.append("subsystem %s, expected 3 (console)" % subsystem)
    foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS]
    if foreign:
        found.append("imports DLLs that are not Windows system DLLs: %s" % ", ".join(foreign))
    if not imports:
        found.append("no imports found (not a program objdump can read?)")
    return found, imports


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("exe")
    options = parser.parse_args()
    found, imports = problems(options.objdump, options.exe, options.bits)
    for problem in found:
        print("FAILED  %s: %s" % (options.exe, problem))
    if not found:
        print("ok      %s: PE%s console program importing %s" %
              (options.exe, "32+" if options.bits == 64 else "32", ", ".join(imports)))
    print("%d passed, %d failed" % (0 if found else 1, 1 if found else 0))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
