#!/usr/bin/env python3
"""What a Windows build's Durnavel.exe is, read from its headers (objdump -p): a console program
of the build's width (PE32 for the 32-bit build, PE32+ for the 64-bit one) that imports only
Windows system DLLs, whose header names the build's declared oldest Windows (OS and subsystem
version alike: the `windows=` line of the build's wine-env.conf, which the top-level
CMakeLists.txt writes), and whose every imported function is in the import list with a Windows
version no newer than that. An older Windows then refuses the program with its own message
instead of stopping on a missing entry point. Needs no Wine, so it runs on every machine.

  pe_check.py --objdump OBJDUMP --bits 32|64 --facts BUILD/wine-env.conf --imports LIST EXE

LIST holds one allowed import a line, DLL FUNCTION MIN_VERSION SOURCE; lines starting with '#'
are comments.
"""

import argparse
import os
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll", "advapi32.dll", "ntdll.dll",
               "ucrtbase.dll", "shell32.dll", "ole32.dll", "ws2_32.dll"}
MAGIC = {32: "010b", 64: "020b"}
VERSION = re.compile(r"^(\d+)\.(\d+)$")


def version_text(version):
    return "%d.%d" % version


def headers(objdump, exe):
    """The image's optional-header fields and its imports: [(dll, [function or None])], None for
    an entry objdump does not show by name (an import by ordinal)."""
    text = subprocess.run([objdump, "-p", exe], check=True, stdout=subprocess.PIPE,
                          stdin=subprocess.DEVNULL).stdout.decode("ascii", "replace")

    def field(name, base):
        found = re.search(r"^%s\s+([0-9a-fA-F]+)" % name, text, re.M)
        return int(found.group(1), base) if found else None

    magic = re.search(r"^Magic\s+([0-9a-fA-F]+)", text, re.M)
    fields = {
        "magic": magic.group(1).lower() if magic else None,
        "subsystem": field("Subsystem", 16),
        "os": (field("MajorOSystemVersion", 10), field("MinorOSystemVersion", 10)),
        "subsystem_version": (field("MajorSubsystemVersion", 10),
                              field("MinorSubsystemVersion", 10)),
        "delay_imports": re.search(r"^Entry d 0*[1-9a-fA-F]\w* [0-9a-fA-F]+ Delay Import",
                                   text, re.M) is not None,
    }
    imports = []
    for block in re.split(r"^\s*DLL Name: ", text, flags=re.M)[1:]:
        lines = block.splitlines()
        functions = []
        # After the DLL name and the "vma: Hint/Ord Member-Name" heading, one line per import
        # until the blank line that closes the DLL's table.
        for line in lines[2:]:
            if not line.strip():
                break
            entry = re.match(r"^\s*[0-9a-fA-F]+\s+\d+\s+(\S+)", line)
            functions.append(entry.group(1) if entry and entry.group(1) != "<none>" else None)
        imports.append((lines[0].strip(), functions))
    return fields, imports


def read_list(path):
    """The import list as {(dll in lower case, function): (min version, source)}, and the faults
    found in the list itself."""
    allowed, faults = {}, []
    with open(path, encoding="utf-8") as listing:
        for number, line in enumerate(listing, 1):
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            where = "%s:%d" % (os.path.basename(path), number)
            version = VERSION.match(words[2]) if len(words) == 4 else None
            if not version or not words[3].startswith("https://"):
                faults.append("%s: expected 'DLL FUNCTION MIN_VERSION SOURCE' (version as 6.0, "
                              "source an https address), found %r" % (where, line.strip()))
                continue
            key = (words[0].lower(), words[1])
            if key in allowed:
                faults.append("%s: %s %s is listed twice" % (where, words[0], words[1]))
            allowed[key] = ((int(version.group(1)), int(version.group(2))), words[3])
    return allowed, faults


def program_problems(fields, imports, bits):
    found = []
    if fields["magic"] != MAGIC[bits]:
        found.append("optional header magic %s, expected %s (PE%s)" %
                     (fields["magic"], MAGIC[bits], "32+" if bits == 64 else "32"))
    if fields["subsystem"] != 3:
        found.append("subsystem %s, expected 3 (console)" % fields["subsystem"])
    foreign = [dll for dll, _ in imports if dll.lower() not in SYSTEM_DLLS]
    if foreign:
        found.append("imports DLLs that are not Windows system DLLs: %s" % ", ".join(foreign))
    if not imports:
        found.append("no imports found (not a program objdump can read?)")
    if fields["delay_imports"]:
        found.append("has delay-load imports, which this check does not read")
    return found


def read_floor(path):
    """The build's declared oldest Windows, from the windows= line of its facts file."""
    with open(path, encoding="utf-8") as facts:
        for line in facts:
            key, _, value = line.strip().partition("=")
            found = VERSION.match(value) if key == "windows" else None
            if found:
                return int(found.group(1)), int(found.group(2))
    raise SystemExit("%s: no windows=MAJOR.MINOR line (the build's oldest Windows)" % path)


def version_problems(fields, floor):
    os_version, subsystem_version = fields["os"], fields["subsystem_version"]
    if None in os_version or None in subsystem_version:
        return ["no OS or subsystem version in the header"]
    found = []
    for label, version in (("OS", os_version), ("subsystem", subsystem_version)):
        if version != floor:
            found.append("header %s version %s, but the build declares Windows %s as the oldest "
                         "it starts on (the loader checks the subsystem version)" %
                         (label, version_text(version), version_text(floor)))
    return found


def import_problems(fields, imports, allowed, list_name):
    found = []
    windows = fields["os"]
    for dll, functions in imports:
        for function in functions:
            if function is None:
                found.append("%s: an import by ordinal; only imports by name can be checked "
                             "against %s" % (dll, list_name))
                continue
            entry = allowed.get((dll.lower(), function))
            if entry is None:
                found.append("%s %s is not in %s: add it with the oldest Windows whose %s "
                             "exports it and the public source that says so" %
                             (dll, function, list_name, dll))
            elif None not in windows and entry[0] > windows:
                found.append("%s %s needs Windows %s (%s), but the header names Windows %s" %
                             (dll, function, version_text(entry[0]), entry[1],
                              version_text(windows)))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("--facts", required=True,
                        help="the build's wine-env.conf (its windows= line)")
    parser.add_argument("--imports", required=True, help="the list of allowed imports")
    parser.add_argument("exe")
    options = parser.parse_args()
    fields, imports = headers(options.objdump, options.exe)
    floor = read_floor(options.facts)
    allowed, list_faults = read_list(options.imports)
    list_name = os.path.basename(options.imports)
    count = sum(len(functions) for _, functions in imports)
    checks = [
        (program_problems(fields, imports, options.bits),
         "PE%s console program importing %s" % ("32+" if options.bits == 64 else "32",
                                                ", ".join(dll for dll, _ in imports))),
        (version_problems(fields, floor),
         "header names Windows %s (OS and subsystem version), the build's oldest" %
         version_text(floor)),
        (list_faults + import_problems(fields, imports, allowed, list_name),
         "all %d imported functions are in %s and exported by Windows %s" %
         (count, list_name, version_text(fields["os"]) if None not in fields["os"] else "?")),
    ]
    failed = 0
    for problems, summary in checks:
        for problem in problems:
            print("FAILED  %s: %s" % (options.exe, problem))
        if problems:
            failed += 1
        else:
            print("ok      %s: %s" % (options.exe, summary))
    print("%d passed, %d failed" % (len(checks) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
