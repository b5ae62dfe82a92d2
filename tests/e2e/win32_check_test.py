#!/usr/bin/env python3
"""Which binfmt_misc entries scripts/win32-check counts as running i386 programs.

An entry that matches i386 programs decides between "native" and "emulated", and whether
scripts/setup may register its own emulator (it never adds one beside another entry for i386
programs). Each row is an entry file as the kernel shows it in /proc/sys/fs/binfmt_misc and the
line `win32-check --entries` must print for it (None: the entry is not for i386 programs).
"""

import os
import re
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(ROOT, "scripts", "win32-check")

# ELF header fields (System V ABI): class 1 = 32-bit, data 1 = little endian, e_type 2 = EXEC,
# e_machine 3 = i386, 0x3e = x86-64, 0x28 = ARM.
I386 = "7f454c4601010100000000000000000002000300"
I386_MASK = "fffffffffffefe00fffffffffffffffffeffffff"
X86_64 = "7f454c4602010100000000000000000002003e00"
ARM = "7f454c4601010100000000000000000002002800"


def entry(state="enabled", interp="/usr/bin/qemu-i386", magic=I386, mask=I386_MASK, offset=0):
    text = "%s\ninterpreter %s\nflags: F\noffset %d\nmagic %s\n" % (state, interp, offset, magic)
    return text + ("mask %s\n" % mask if mask else "")


def kernel_hex(escaped):
    """A binfmt_misc register string's field as the kernel shows it: \\xHH is one byte, any
    other character stands for itself."""
    out = ""
    for hexed, char in re.findall(r"\\x([0-9a-fA-F]{2})|(.)", escaped):
        out += hexed.lower() if hexed else "%02x" % ord(char)
    return out


def setup_entry():
    """The entry scripts/setup registers, from its own magic and mask strings."""
    with open(os.path.join(ROOT, "scripts", "setup")) as f:
        text = f.read()
    field = {k: kernel_hex(re.search(r"^%s='([^']*)'" % k, text, re.M).group(1))
             for k in ("magic", "mask")}
    return entry(magic=field["magic"], mask=field["mask"])


ROWS = [
    ("qemu's i386 entry", entry(), "enabled /usr/bin/qemu-i386"),
    ("the same, disabled", entry(state="disabled"), "disabled /usr/bin/qemu-i386"),
    ("the entry scripts/setup registers", setup_entry(), "enabled /usr/bin/qemu-i386"),
    ("i386, exact magic, no mask", entry(mask=None), "enabled /usr/bin/qemu-i386"),
    ("i386 by e_machine alone, at offset 18", entry(magic="0300", mask=None, offset=18),
     "enabled /usr/bin/qemu-i386"),
    ("x86-64 programs", entry(interp="/usr/bin/qemu-x86_64", magic=X86_64), None),
    ("ARM programs", entry(interp="/usr/bin/qemu-arm", magic=ARM), None),
    ("i386 shared objects, EXEC let through by the mask", entry(magic=I386[:32] + "03000300"),
     "enabled /usr/bin/qemu-i386"),
    ("i386 shared objects only, no mask", entry(magic=I386[:32] + "03000300", mask=None), None),
    ("Windows programs by their MZ magic", entry(interp="/usr/bin/wine", magic="4d5a", mask=None),
     None),
    ("magic reaching past the probe program", entry(magic="00" * 8, mask=None, offset=92), None),
    ("a magic that is not hex", entry(magic="7fELF0101"), None),
    ("an extension entry", "enabled\ninterpreter /usr/bin/wine\nflags: \nextension .exe\n", None),
]


def main():
    failed = 0
    for name, text, want in ROWS:
        with tempfile.TemporaryDirectory() as folder:
            for fixed in ("register", "status"):
                with open(os.path.join(folder, fixed), "w") as f:
                    f.write("enabled\n" if fixed == "status" else "")
            with open(os.path.join(folder, "entry"), "w") as f:
                f.write(text)
            env = dict(os.environ, DURNAVEL_BINFMT_DIR=folder)
            run = subprocess.run([CHECK, "--entries"], env=env, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True, timeout=60)
        got = run.stdout.strip() or None
        expected = "entry " + want if want else None
        if run.returncode != 0 or got != expected:
            failed += 1
            print("FAILED %s: expected %r, got %r (exit %d) %s" %
                  (name, expected, got, run.returncode, run.stderr.strip()))
        else:
            print("ok     %s" % name)
    print("%d passed, %d failed" % (len(ROWS) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
