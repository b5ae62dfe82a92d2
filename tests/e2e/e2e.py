#!/usr/bin/env python3
"""End-to-end suite: the real Durnavel program on a simulated talvenor machine.

Every scenario prepares a machine (an SMBIOS image served by the platform device, the driver
stores, fault switches), runs the program once or several times and asserts the exact standard
output, the exit code, what the device and the driver libraries saw (their journals) and what
the driver stores hold afterwards.

  e2e.py --source SRC --build BUILD --target windows   Durnavel.exe under Wine (vesnara.sys)
  e2e.py --source SRC --build BUILD --target host      the host build (in-process device)
  --bits 32|64       the build's width; the suite names the NVAPI library of that width itself
  options: --only NAME (repeat), --list,
           --keep (leave the run folders in BUILD/e2e)

The Windows target needs the build's Wine prefix started (scripts/wine-env start) and the
driver installed (scripts/vesnara install), as the ctest fixtures do.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

# ---------------------------------------------------------------------------------------------
# Expected texts

# The NVAPI library of each width, as NVIDIA's public NVAPI SDK names it: a 32-bit process loads
# nvapi.dll, a 64-bit one nvapi64.dll.
NVAPI_DLL = {32: "nvapi.dll", 64: "nvapi64.dll"}

GET_ERROR = "Error : Cannot get muximum pre-rendered frames setting.\n"
SET_ERROR = "Error : Cannot set muximum pre-rendered frames setting.\n"
TALVENOR_ONLY = "This tool supports talvenor only.\n"
FATAL = "Fatal error occured.\nPlease check your hardware.\n"
NOT_SUPPORTED = "Not supported this function.\n"
SET_DONE = "Succeed in setting.\n"
ALREADY_RUNNING = "Error : Fatal error occured.\nThis tool already running.\n"
BAD_VALUE = ('Error : Invalid argument.\nThe argument "-s" is invalid.\n'
             "Usable maximum pre-rendered frames value is 0, 1 or 3.\n")
MISSING_VALUE = ('Error : Invalid argument.\nThe argument "-s" is invalid.\n'
                 'Option "-s" needs 1 parameter at least.\n')


def shows(value):
    return "Current muximum pre-rendered frames value is %s.\n" % value


def help_text(program):
    # The usage line breaks after the item that takes it past 64 characters (a long program
    # path on the host does); continuation lines start in column 25.
    usage, line = "", "   " + program.ljust(21)
    for item in ("[-s [value]]", "[-h]"):
        line += item
        if len(line) > 64:
            usage, line = usage + line + "\n", " " * 24
        else:
            line += " "
    return ("Durnavel Ver.1.03\n"
            "Copyright (C) 2026 Durnavel developers. All rights reserved.\n"
            "\n"
            "USAGE:\n" + usage + line + "\n"
            "OPTIONS:\n"
            "      -s          Set muximum pre-rendered frames.\n"
            "                  Usable value is 0, 1 or 3.\n"
            "      -h          Display this help message.\n"
            "\n"
            "EXAMPLES:\n"
            " > Durnavel\n"
            " ... View current maximum pre-rendered frames value.\n"
            " > Durnavel -s 1\n"
            " ... Set maximum pre-rendered frames to 1.\n"
            " > Durnavel -s 3\n"
            " ... Set maximum pre-rendered frames to 3.\n")


HELP = object()  # placeholder: the help text for the program name of the run

# ---------------------------------------------------------------------------------------------
# Scenarios
#
# A scenario is a dict:
#   name      unique name
#   machine   talvenor code for the image ("QTD2", "QTD", "QTF3", ...) or a list of mkimage.py
#             build options; None: no image at all
#   device    device fault words for scripts/vesnara ("open", "refuse", "short@0xF0000", ...)
#   nvapi     NVAPI library store text (None: no store file)
#   nvcpl     nvcpl.dll store text (None: no store file)
#   faults    DURNAVEL_SIM_FAULTS
#   dlls      which libraries the system folder holds (the only place the tool loads them
#             from): default both; a dict name -> variant folder ("" for bin/drivers,
#             "without-..." for a variant, None for absent); the NVAPI library's name is the
#             build's (nvapi.dll or nvapi64.dll)
#   planted   True: copies of both libraries that journal "load planted" lie beside the program
#   loader    "old": a Windows without AddDllDirectory (the host layer's DURNAVEL_HOST_LOADER;
#             host only, as Wine's loader has it)
#   loads     host only: the library names asked of the loader over all runs, in order; each
#             load of every host scenario is checked against the route (see check_loads)
#   runs      list of (arguments, expected output, exit code)
#   nvapi_after / nvcpl_after   expected store text afterwards ("same": unchanged)
#   journal   list of regular expressions that must match driver journal lines, in order
#   no_journal  regular expressions that must match no driver journal line
#   requests  number of device read requests expected over all runs (None: not checked)
#   dropped   number of sessions NvAPI_Unload found still open and dropped (default 0)

QTD2 = "QTD2"
STORE_FRAMES_2 = "0x007BA09E 0x00000002\n"
FULL_SET_JOURNAL = [
    r"^nvapi load$",
    r"^nvapi query id=0x0150E828 name=NvAPI_Initialize result=found$",
    r"^nvapi NvAPI_Initialize status=0$",
    r"^nvapi NvAPI_DRS_CreateSession session=1 status=0$",
    r"^nvapi NvAPI_DRS_LoadSettings session=1 store=\w+ settings=\d+ status=0$",
    r"^nvapi NvAPI_DRS_GetBaseProfile session=1 profile=base status=0$",
    r"^nvapi NvAPI_DRS_SetSetting session=1 profile=base id=0x007BA09E type=0 value=0x00000001 "
    r"version=0x00013020 status=0$",
    r"^nvapi NvAPI_DRS_SaveSettings session=1 saved=yes settings=\d+ status=0$",
    r"^nvapi NvAPI_DRS_DestroySession session=1 status=0$",
    r"^nvapi NvAPI_Unload open-sessions=0 status=0$",
    r"^nvapi unload$",
]


def scenarios(nvapi_dll, call_hooks):
    """call_hooks: whether the program brackets driver calls with the driver's call hooks (every
    build but the 64-bit Windows one, which has no documented signature for them)."""
    s = []

    def add(name, **kw):
        kw["name"] = name
        kw.setdefault("machine", QTD2)
        s.append(kw)

    # Show and set through NVAPI (revision 2 and later).
    add("show-rev2-no-explicit-value", runs=[([], shows(3), 0)], nvapi_after="same",
        journal=[r"^nvapi NvAPI_DRS_GetProfileInfo session=1 profile=base version=0x00011014 "
                 r"settings=0 status=0$"],
        no_journal=[r"EnumSettings", r"SetSetting", r"SaveSettings"], requests=2)
    add("show-rev2-explicit-value", nvapi=STORE_FRAMES_2, runs=[([], shows(2), 0)],
        nvapi_after="same",
        journal=[r"^nvapi NvAPI_DRS_EnumSettings session=1 profile=base start=0 count-in=1 "
                 r"version=0x00013020 written=1 count-out=1 status=0$"],
        no_journal=[r"SaveSettings"])
    add("show-rev2-out-of-range-value-shown-as-stored", nvapi="0x007BA09E 0xFFFFFFFF\n",
        runs=[([], shows(4294967295), 0)])
    add("set-rev2-then-show", runs=[(["-s", "1"], SET_DONE, 0), ([], shows(1), 0)],
        nvapi_after="0x007BA09E 0x00000001\n", journal=FULL_SET_JOURNAL, requests=4)
    # The driver's call hooks bracket every table call with the context the pre hook wrote,
    # where the program's width has a documented form of them; elsewhere they are never looked up.
    if call_hooks:
        add("call-hooks-bracket-driver-calls", faults="hooks", runs=[(["-s", "1"], SET_DONE, 0)],
            journal=[r"^nvapi query id=0x33C7358C name=pre-call-hook result=found$",
                     r"^nvapi query id=0x593E8644 name=post-call-hook result=found$",
                     r"^nvapi pre id=0x0694D52E in=0,0 context=1,0x0694D52E status=0$",
                     r"^nvapi NvAPI_DRS_CreateSession session=1 status=0$",
                     r"^nvapi post id=0x0694D52E context=1,0x0694D52E result=0 match=yes "
                     r"status=0$",
                     r"^nvapi pre id=0xFCBC7E14 in=0,0 context=\d+,0xFCBC7E14 status=0$",
                     r"^nvapi NvAPI_DRS_SaveSettings session=1 saved=yes",
                     r"^nvapi post id=0xFCBC7E14 context=\d+,0xFCBC7E14 result=0 match=yes"],
            no_journal=[r"match=no"])
    else:
        add("call-hooks-never-looked-up", faults="hooks", runs=[(["-s", "1"], SET_DONE, 0)],
            journal=FULL_SET_JOURNAL,
            no_journal=[r"0x33C7358C", r"0x593E8644", r"^nvapi (pre|post) "])
    add("set-rev2-every-value-and-switch",
        runs=[(["-s", "0"], SET_DONE, 0), ([], shows(0), 0),
              (["/S", "3"], SET_DONE, 0), ([], shows(3), 0),
              (["--SET", "1"], SET_DONE, 0), ([], shows(1), 0)],
        nvapi_after="0x007BA09E 0x00000001\n")
    add("set-rev2-keeps-other-settings", nvapi="0x007BA09E 0x00000002\n0x00A879CF 0x47814940\n",
        runs=[(["-s", "3"], SET_DONE, 0)],
        nvapi_after="0x007BA09E 0x00000003\n0x00A879CF 0x47814940\n")
    add("revision-3-uses-nvapi", machine="QTD3", nvapi=STORE_FRAMES_2,
        runs=[([], shows(2), 0)], no_journal=[r"^nvcpl"])
    add("revision-12-uses-nvapi", machine=["--oem", "Vesnara", "--oem", "talvenor", "--oem",
                                           "QTD", "--oem", "x", "--oem", "QTD012"],
        runs=[([], shows(3), 0)], no_journal=[r"^nvcpl"])

    # Show and set through the control-panel library (revision 1).
    add("show-rev1-driver-default", machine="QTD", runs=[([], shows(3), 0)], nvcpl_after="same",
        journal=[r"^nvcpl load$", r"^nvcpl NvCplGetDataInt index=4 ", r"^nvcpl NvCplGetDataInt "
                 r"index=6 ", r"^nvcpl unload$"], no_journal=[r"^nvapi"])
    add("show-rev1-explicit-value", machine="QTD", nvcpl="4 3\n6 2\n", runs=[([], shows(2), 0)],
        nvcpl_after="same")
    add("set-rev1-then-show", machine="QTD", nvcpl="4 0\n6 3\n",
        runs=[(["-s", "1"], SET_DONE, 0), ([], shows(1), 0)], nvcpl_after="4 0\n6 1\n",
        journal=[r"^nvcpl NvCplSetDataInt index=6 value=1 saved=yes status=1$"],
        no_journal=[r"NvCplSetDataInt index=4", r"^nvapi"])
    add("fault-show-rev1-unknown-aa-code", machine="QTD", nvcpl="4 2\n6 1\n",
        runs=[([], GET_ERROR + FATAL, 2)], nvcpl_after="same")
    add("fault-show-rev1-get-fails", machine="QTD", faults="status:NvCplGetDataInt=0",
        runs=[([], GET_ERROR + FATAL, 2)])
    add("fault-set-rev1-set-fails", machine="QTD", nvcpl="4 0\n6 2\n",
        faults="status:NvCplSetDataInt=0", runs=[(["-s", "1"], SET_ERROR + FATAL, 2)],
        nvcpl_after="same")

    # Command lines that never reach the platform or the driver.
    for args in (["-h"], ["-v"], ["/?"], ["-?"], ["--version"], ["--HELP"], ["-s", "2", "-h"]):
        add("help " + " ".join(args), runs=[(args, HELP, 0)], requests=0,
            no_journal=[r"."])
    for args, out in ((["-s", "2"], BAD_VALUE), (["-s", "01"], BAD_VALUE),
                      (["-s"], MISSING_VALUE),
                      (["-x"], 'Error : Invalid argument.\nThe argument "-x" is invalid.\n'),
                      (["-s", "1", "extra"],
                       'Error : Invalid argument.\nThe argument "extra" is invalid.\n')):
        add("refused " + " ".join(args), runs=[(args, out, 1)], requests=0, no_journal=[r"."])

    # Platforms the tool refuses, in both wordings.
    for name, machine in (("qtf", "QTF3"),
                          ("unidentified", ["--oem", "a", "--oem", "b", "--oem", "XYZ",
                                            "--manufacturer", "Contoso"]),
                          ("qtd-with-fourth-byte", ["--oem", "a", "--oem", "b", "--oem", "QTDX",
                                                    "--manufacturer", "Contoso"]),
                          ):
        add("platform-%s-show" % name, machine=machine,
            runs=[([], GET_ERROR + TALVENOR_ONLY, 2)], no_journal=[r"."])
        add("platform-%s-set" % name, machine=machine, nvapi=STORE_FRAMES_2,
            runs=[(["-s", "1"], SET_ERROR + TALVENOR_ONLY, 2)], nvapi_after="same",
            no_journal=[r"."])
    add("platform-manufacturer-nec", machine=["--oem", "a", "--oem", "b", "--oem", "qtd",
                                              "--oem", "c", "--oem", "QTD2",
                                              "--manufacturer", "NEC"],
        runs=[([], shows(3), 0)])
    add("platform-table-above-1mb", machine=["--talvenor", "QTD2", "--table", "0xFFFD40"],
        runs=[([], shows(3), 0)], requests=2)
    add("platform-false-anchor-first", machine=["--talvenor", "QTD2", "--false-anchor",
                                                "0xF1024"], runs=[([], shows(3), 0)])
    add("platform-anchor-in-second-window", machine=["--talvenor", "QTD2", "--anchor",
                                                     "0xF8008"],
        runs=[([], shows(3), 0)], requests=3)

    # The fault matrix: every failure of the driver interface the tool can meet, each with its
    # exact lines, exit code 2, nothing saved, every session destroyed and every library
    # unloaded (the journal checks that hold for every scenario).
    # Libraries of the right names planted beside the program are never loaded, not even when
    # the system folder has none (a search that looked beside the program would find them).
    add("planted-libraries-ignored-rev2", planted=True, nvapi=STORE_FRAMES_2,
        runs=[([], shows(2), 0), (["-s", "1"], SET_DONE, 0)],
        nvapi_after="0x007BA09E 0x00000001\n", journal=[r"^nvapi load$"],
        no_journal=[r"planted"], loads=[nvapi_dll] * 2)
    add("planted-libraries-ignored-rev1", machine="QTD", planted=True, nvcpl="4 0\n6 2\n",
        runs=[([], shows(2), 0), (["-s", "3"], SET_DONE, 0)], nvcpl_after="4 0\n6 3\n",
        journal=[r"^nvcpl load$"], no_journal=[r"planted"], loads=["nvcpl.dll"] * 2)
    add("planted-libraries-ignored-system-folder-empty", planted=True,
        dlls={nvapi_dll: None, "nvcpl.dll": None}, runs=[([], GET_ERROR + FATAL, 2)],
        no_journal=[r"."], loads=[nvapi_dll])
    add("planted-libraries-ignored-system-folder-empty-rev1", machine="QTD", planted=True,
        dlls={nvapi_dll: None, "nvcpl.dll": None}, runs=[(["-s", "1"], SET_ERROR + FATAL, 2)],
        no_journal=[r"."], loads=["nvcpl.dll"])
    # The same where kernel32.dll has no AddDllDirectory: the tool asks for the full path in the
    # system folder with LOAD_WITH_ALTERED_SEARCH_PATH.
    for planted in [c for c in s if c.get("planted")]:
        add(planted["name"] + "-without-AddDllDirectory", loader="old",
            **{k: v for k, v in planted.items() if k != "name"})
    add("nvapi-missing-dll", dlls={nvapi_dll: None}, runs=[([], GET_ERROR + FATAL, 2)],
        no_journal=[r"."])
    add("nvapi-missing-export", dlls={nvapi_dll: "without-nvapi_QueryInterface"},
        runs=[(["-s", "1"], SET_ERROR + FATAL, 2)], no_journal=[r"NvAPI"])
    opening = ["NvAPI_Initialize", "NvAPI_DRS_CreateSession", "NvAPI_DRS_LoadSettings",
               "NvAPI_DRS_GetBaseProfile"]
    for mode, args, head, entries in (
            ("show", [], GET_ERROR, opening + ["NvAPI_DRS_GetProfileInfo",
                                               "NvAPI_DRS_EnumSettings"]),
            ("set", ["-s", "1"], SET_ERROR, opening + ["NvAPI_DRS_SetSetting",
                                                       "NvAPI_DRS_SaveSettings"])):
        for entry in entries:
            for status in (-104, -3):
                # NvAPI_Initialize belongs to the client layer, which answers -1 for any
                # failure of the driver's own initialisation.
                text = NOT_SUPPORTED if status == -104 and entry != "NvAPI_Initialize" else FATAL
                add("fault-%s-%s-status%d" % (mode, entry, status), nvapi=STORE_FRAMES_2,
                    faults="status:%s=%d" % (entry, status), runs=[(args, head + text, 2)],
                    nvapi_after="same",
                    journal=[r"^nvapi %s .*injected=yes status=%d$" % (entry, status)])
            add("fault-%s-%s-missing" % (mode, entry), nvapi=STORE_FRAMES_2,
                faults="missing:%s" % entry, runs=[(args, head + FATAL, 2)], nvapi_after="same",
                journal=[r"^nvapi query id=0x[0-9A-F]+ name=%s result=missing$" % entry])
    # An entry point whose failure the tool ignores: the run still succeeds (the library is
    # then released only when the process ends).
    for entry in ("NvAPI_Unload",):
        add("ignored-%s-missing" % entry, nvapi=STORE_FRAMES_2, faults="missing:%s" % entry,
            runs=[(["-s", "3"], SET_DONE, 0)], nvapi_after="0x007BA09E 0x00000003\n")
    # A session the driver refuses to destroy is still unloaded; the driver drops it then.
    add("ignored-NvAPI_DRS_DestroySession-fails", nvapi=STORE_FRAMES_2,
        faults="status:NvAPI_DRS_DestroySession=-8", runs=[(["-s", "3"], SET_DONE, 0)],
        nvapi_after="0x007BA09E 0x00000003\n", dropped=1,
        journal=[r"^nvapi NvAPI_DRS_DestroySession session=1 injected=yes status=-8$",
                 r"^nvapi session-dropped session=1$",
                 r"^nvapi NvAPI_Unload open-sessions=1 status=0$"])
    add("fault-show-65-settings", nvapi="".join("0x0084CD70 0x%08X\n" % i for i in range(64)) +
        STORE_FRAMES_2, runs=[([], GET_ERROR + FATAL, 2)], no_journal=[r"EnumSettings"])
    add("show-64-settings", nvapi="".join("0x0084CD70 0x%08X\n" % i for i in range(63)) +
        STORE_FRAMES_2, runs=[([], shows(2), 0)])
    add("fault-show-short-enumeration", nvapi=STORE_FRAMES_2 + "0x00A879CF 0x47814940\n",
        faults="enum-short=1", runs=[([], GET_ERROR + FATAL, 2)])
    add("fault-show-unknown-setting-id", nvapi="0x12345678 0x00000000\n" + STORE_FRAMES_2,
        runs=[([], GET_ERROR + FATAL, 2)])
    add("fault-show-value-outside-its-row", nvapi=STORE_FRAMES_2 + "0x00A879CF 0x00000005\n",
        runs=[([], GET_ERROR + FATAL, 2)])
    add("fault-set-after-failed-save-store-unchanged", nvapi=STORE_FRAMES_2,
        faults="status:NvAPI_DRS_SaveSettings=-104",
        runs=[(["-s", "1"], SET_ERROR + NOT_SUPPORTED, 2)], nvapi_after="same")

    # The platform device fails: absent, refused or short in each window and in the table read.
    for name, machine, device in (
            ("absent", QTD2, ["open"]),
            ("refused-window-1", QTD2, ["refuse@0xF0000"]),
            ("short-window-1", QTD2, ["short@0xF0000"]),
            ("refused-window-2", ["--talvenor", "QTD2", "--anchor", "0xF8008"],
             ["refuse@0xF7FF0"]),
            ("short-window-2", ["--talvenor", "QTD2", "--anchor", "0xF8008"],
             ["short@0xF7FF0"]),
            ("refused-table", QTD2, ["refuse@0xF5A10"]),
            ("short-table", QTD2, ["short@0xF5A10"]),
            ("no-image", None, []),
            ("no-anchor", ["--talvenor", "QTD2", "--no-entry"], [])):
        add("fault-device-%s" % name, machine=machine, device=device, nvapi=STORE_FRAMES_2,
            runs=[([], GET_ERROR + TALVENOR_ONLY, 2), (["-s", "1"], SET_ERROR + TALVENOR_ONLY, 2)],
            nvapi_after="same", no_journal=[r"."])
    add("device-refused-first-window-anchor-in-second",
        machine=["--talvenor", "QTD2", "--anchor", "0xF8008"], device=["refuse@0xF0000"],
        runs=[([], shows(3), 0)], requests=3)

    # The control-panel manager cannot be opened.
    for name, dlls in (("missing-dll", {"nvcpl.dll": None}),
                       ("missing-get", {"nvcpl.dll": "without-NvCplGetDataInt"}),
                       ("missing-set", {"nvcpl.dll": "without-NvCplSetDataInt"})):
        add("fault-nvcpl-%s" % name, machine="QTD", dlls=dlls, nvcpl="4 0\n6 2\n",
            runs=[([], GET_ERROR + FATAL, 2), (["-s", "1"], SET_ERROR + FATAL, 2)],
            nvcpl_after="same", no_journal=[r"NvCpl"])
    return s


# ---------------------------------------------------------------------------------------------
# Running

class Target:
    """Where and how the program runs: the Windows build under Wine or the host build."""

    def __init__(self, kind, source, build, nvapi_dll, program=None):
        self.kind = kind
        self.nvapi_dll = nvapi_dll
        self.source = source
        self.build = build
        self.bin = os.path.join(build, "bin")
        self.drivers = os.path.join(self.bin, "drivers")
        self.exe = "Durnavel.exe" if kind == "windows" else "Durnavel"
        # The program under test: the build's, or another copy of it (a signed one).
        self.program = program or os.path.join(self.bin, self.exe)
        self.vesnara = os.path.join(source, "scripts", "vesnara")
        self.drivers_script = os.path.join(source, "scripts", "drivers")
        self.wine_env = os.path.join(source, "scripts", "wine-env")
        if kind == "windows":
            self.device_target = [build]
        else:
            self.device_folder = os.path.join(build, "e2e-device")
            os.makedirs(self.device_folder, exist_ok=True)
            self.device_target = ["--host", self.device_folder]

    def system_folder(self, folder):
        """Where the tool loads the driver libraries from: the Wine prefix's system folder for
        the build's programs; on the host, the host layer's library folder (one per run
        folder)."""
        if self.kind == "windows":
            return None
        return os.path.join(folder, "system")

    def install_drivers(self, folder, dlls):
        """Puts the chosen library variants (None: absent) into the system folder."""
        if self.kind == "windows":
            words = ["%s=%s" % (dll, "none" if variant is None else variant or "")
                     for dll, variant in dlls.items()]
            subprocess.run([self.drivers_script, "install", self.build] +
                           [w for w in words if not w.endswith("=")],
                           check=True, stdin=subprocess.DEVNULL)
            return
        system = self.system_folder(folder)
        os.makedirs(system, exist_ok=True)
        for dll, variant in dlls.items():
            if variant is not None:
                shutil.copy2(os.path.join(self.drivers, variant, dll), system)

    def device(self, *words):
        subprocess.run([self.vesnara] + list(words[:1]) + self.device_target + list(words[1:]),
                       check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def device_journal(self):
        out = subprocess.run([self.vesnara, "journal"] + self.device_target, check=True,
                             stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        return out.stdout.decode("ascii", "replace").splitlines()

    def device_state(self):
        """What the platform driver says of the device, and which Wine processes run (for the
        report of a failed run)."""
        if self.kind != "windows":
            return ""
        state = read(os.path.join(self.build, "wine-prefix", "drive_c", "vesnara",
                                  "device.txt")) or "(no device.txt)\n"
        processes = subprocess.run(["ps", "-eo", "pid,etime,args"], stdout=subprocess.PIPE,
                                   stdin=subprocess.DEVNULL).stdout.decode("ascii", "replace")
        wine = [l for l in processes.splitlines() if "wine" in l or ".exe" in l]
        return "\ndevice.txt: %sWine processes:\n  %s" % (state, "\n  ".join(wine))

    def dos_path(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def command(self, folder, args, first_word=None):
        """The command that runs the program of `folder` with `args`. With first_word the
        program sees that word as its first command-line word (its name as invoked)."""
        exe = os.path.join(folder, self.exe)
        if self.kind == "windows":
            if first_word is None:
                return [self.wine_env, "run", self.build, exe] + args, None
            line = " ".join([first_word] + args)
            return [self.wine_env, "run", self.build, os.path.join(self.bin, "launch.exe"),
                    self.dos_path(exe), line], None
        return [first_word or exe] + args, exe

    def program_name(self, first_word, folder):
        """The program name the help text shows: the text after the last backslash of the
        first command-line word (under Wine the full DOS path; on the host the path as run)."""
        if first_word is not None:
            return first_word.split("\\")[-1]
        if self.kind == "windows":
            return self.exe
        return os.path.join(folder, self.exe)

    def environment(self, folder, scenario):
        env = dict(os.environ)
        env["DURNAVEL_NVAPI_STORE"] = os.path.join(folder, "nvapi-store.txt")
        env["DURNAVEL_NVCPL_STORE"] = os.path.join(folder, "nvcpl-store.txt")
        env["DURNAVEL_SIM_JOURNAL"] = os.path.join(folder, "journal.txt")
        env["DURNAVEL_SIM_FAULTS"] = scenario.get("faults", "")
        env["WINE_ENV_TIMEOUT"] = "60"
        if self.kind == "host":
            env["DURNAVEL_HOST_LIBRARY_DIR"] = self.system_folder(folder)
            env["DURNAVEL_HOST_LOADER"] = scenario.get("loader", "")
            env["DURNAVEL_HOST_LOAD_RECORD"] = os.path.join(folder, "loads.txt")
            env["DURNAVEL_HOST_DEVICE_DIR"] = self.device_folder
            env["DURNAVEL_HOST_LOCK_DIR"] = os.path.join(self.build, "e2e-locks")
        return env


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("ascii", "replace")
    except FileNotFoundError:
        return None


class Suite:
    def __init__(self, target, keep):
        self.target = target
        self.keep = keep
        self.images = {}
        self.root = os.path.join(target.build, "e2e")
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(os.path.join(self.root, "images"))

    def image(self, machine):
        """Builds (once) the image for a machine description and returns its path."""
        key = repr(machine)
        if key not in self.images:
            path = os.path.join(self.root, "images", "image%d.img" % len(self.images))
            options = ["--talvenor", machine] if isinstance(machine, str) else machine
            subprocess.run([sys.executable, os.path.join(self.target.source, "sim", "vesnara",
                                                         "mkimage.py"), "build", path] + options,
                           check=True, stdout=subprocess.DEVNULL)
            self.images[key] = path
        return self.images[key]

    def prepare(self, scenario):
        folder = os.path.join(self.root, re.sub(r"[^A-Za-z0-9_.-]", "_", scenario["name"]))
        os.makedirs(folder)
        shutil.copy2(self.target.program, os.path.join(folder, self.target.exe))
        dlls = {self.target.nvapi_dll: "", "nvcpl.dll": ""}
        dlls.update(scenario.get("dlls", {}))
        self.target.install_drivers(folder, dlls)
        if scenario.get("planted"):
            for dll in dlls:
                shutil.copy2(os.path.join(self.target.drivers, "planted", dll), folder)
        for store in ("nvapi", "nvcpl"):
            if scenario.get(store) is not None:
                with open(os.path.join(folder, store + "-store.txt"), "w") as f:
                    f.write(scenario[store])
        machine = scenario.get("machine")
        image = self.image(machine) if machine is not None else "-"
        self.target.device("use", image, *scenario.get("device", []))
        return folder

    def run_once(self, folder, scenario, args, first_word=None):
        command, executable = self.target.command(folder, args, first_word)
        result = subprocess.run(command, executable=executable, cwd=folder,
                                env=self.target.environment(folder, scenario),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=120)
        return result

    def expected_output(self, text, first_word=None, folder=None):
        if text is HELP:
            text = help_text(self.target.program_name(first_word, folder))
        if self.target.kind == "windows":
            text = text.replace("\n", "\r\n")
        return text.encode("ascii")

    def check_run(self, result, expected, code, what):
        expect(result.stdout == expected,
               "%s: output\n  got:      %r\n  expected: %r" % (what, result.stdout, expected))
        expect(result.returncode == code,
               "%s: exit code %d, expected %d" % (what, result.returncode, code))
        expect(result.stderr == b"", "%s: standard error not empty: %r" % (what, result.stderr))

    def check_journals(self, folder, scenario, driver_lines, device_lines):
        # What holds for every run: every library loaded is unloaded, every session created
        # is destroyed, each interface is looked up at most once per load, a failed run saves
        # nothing.
        for lib in ("nvapi", "nvcpl"):
            loads = driver_lines.count(lib + " load")
            unloads = driver_lines.count(lib + " unload")
            expect(loads == unloads, "%s loaded %d times, unloaded %d times" %
                   (lib, loads, unloads))
        created = [re.search(r"session=(\d+)", l).group(1) for l in driver_lines
                   if re.match(r"nvapi NvAPI_DRS_CreateSession session=\d+ .*status=0$", l)]
        destroyed = [re.search(r"session=(\d+)", l).group(1) for l in driver_lines
                     if re.match(r"nvapi NvAPI_DRS_DestroySession .*status=0$", l)
                     or l.startswith("nvapi session-dropped ")]
        expect(created == destroyed, "sessions created %s, destroyed %s" % (created, destroyed))
        dropped = [l for l in driver_lines if l.startswith("nvapi session-dropped ")]
        expect(len(dropped) == scenario.get("dropped", 0),
               "NvAPI_Unload dropped %d open sessions, expected %d" %
               (len(dropped), scenario.get("dropped", 0)))
        # A 64-bit driver library has no documented form of the call hooks: no run may ask it
        # for them.
        guessed = [l for l in driver_lines if l.startswith("nvapi hook-lookup-64 ")]
        expect(not guessed, "the program looked up the call hooks of a 64-bit driver: %s" %
               guessed)
        seen = set()
        for line in driver_lines:
            if line == "nvapi load":
                seen = set()
            m = re.match(r"nvapi query id=(0x[0-9A-F]+)", line)
            if m:
                expect(m.group(1) not in seen, "interface %s looked up twice in one load" %
                       m.group(1))
                seen.add(m.group(1))
        if all(code != 0 for _, _, code in scenario["runs"]):
            expect(not any("saved=yes" in l for l in driver_lines),
                   "a failed run saved the store")

        position = 0
        for pattern in scenario.get("journal", []):
            while position < len(driver_lines) and not re.search(pattern,
                                                                 driver_lines[position]):
                position += 1
            expect(position < len(driver_lines), "journal has no line %r in order:\n  %s" %
                   (pattern, "\n  ".join(driver_lines)))
            position += 1
        for pattern in scenario.get("no_journal", []):
            bad = [l for l in driver_lines if re.search(pattern, l)]
            expect(not bad, "journal has unexpected lines %r: %s" % (pattern, bad))

        requests = [l for l in device_lines if l.startswith("request ")]
        opens = [l for l in device_lines if l.startswith("open")]
        if scenario.get("requests") is not None:
            expect(len(requests) == scenario["requests"],
                   "device requests %d, expected %d:\n  %s" %
                   (len(requests), scenario["requests"], "\n  ".join(device_lines)))
        # One device open per run that identifies the platform, at most.
        expect(len(opens) <= len(scenario["runs"]), "device opened %d times in %d runs" %
               (len(opens), len(scenario["runs"])))
        # Read and write access, no sharing, open existing (vesnara.sys under Wine is told only
        # the share mode).
        tool_open = ("open ok access=? share=0x0 disposition=?" if self.target.kind == "windows"
                     else "open ok access=0x0012019F share=0x0 disposition=1")
        expect(all(l == tool_open for l in opens), "device opened otherwise than %r:\n  %s" %
               (tool_open, "\n  ".join(opens)))

    def check_loads(self, folder, scenario):
        """Host only (Windows' loader keeps no record): every library load the host layer was
        asked for follows the route. Where kernel32.dll has AddDllDirectory: the plain name
        with LOAD_LIBRARY_SEARCH_SYSTEM32 (0x800); where it has not: the full path in the system
        folder with LOAD_WITH_ALTERED_SEARCH_PATH (0x8)."""
        if self.target.kind != "host":
            return
        system = self.target.system_folder(folder)

        def route(name):
            if scenario.get("loader") == "old":
                return "flags=0x00000008 name=%s\\%s" % (system, name)
            return "flags=0x00000800 name=%s" % name

        lines = (read(os.path.join(folder, "loads.txt")) or "").splitlines()
        allowed = [route(name) for name in (self.target.nvapi_dll, "nvcpl.dll")]
        bad = [l for l in lines if l not in allowed]
        expect(not bad, "loads asked off the route:\n  %s\nexpected only\n  %s"
               % ("\n  ".join(bad), "\n  ".join(allowed)))
        if "loads" in scenario:
            want = [route(name) for name in scenario["loads"]]
            expect(lines == want, "loads asked:\n  %s\nexpected:\n  %s"
                   % ("\n  ".join(lines), "\n  ".join(want)))

    def check_stores(self, folder, scenario, before):
        for store in ("nvapi", "nvcpl"):
            want = scenario.get(store + "_after")
            if want is None:
                continue
            now = read(os.path.join(folder, store + "-store.txt"))
            if want == "same":
                expect(now == before[store], "%s store changed:\n  before %r\n  after  %r" %
                       (store, before[store], now))
            else:
                expect(now == want, "%s store holds %r, expected %r" % (store, now, want))
            expect(not os.path.exists(os.path.join(folder, store + "-store.txt.tmp")),
                   "%s store left a temporary file" % store)

    def run(self, scenario):
        folder = self.prepare(scenario)
        before = {s: read(os.path.join(folder, s + "-store.txt")) for s in ("nvapi", "nvcpl")}
        for number, (args, out, code) in enumerate(scenario["runs"], 1):
            result = self.run_once(folder, scenario, args)
            try:
                self.check_run(result, self.expected_output(out, folder=folder), code,
                               "run %d (%s)" % (number, " ".join(args) or "no arguments"))
            except Failure as failure:
                raise Failure("%s\ndevice journal:\n  %s%s" % (failure, "\n  ".join(
                    self.target.device_journal()), self.target.device_state())) from None
        driver_lines = (read(os.path.join(folder, "journal.txt")) or "").splitlines()
        self.check_journals(folder, scenario, driver_lines, self.target.device_journal())
        self.check_loads(folder, scenario)
        self.check_stores(folder, scenario, before)
        if not self.keep:
            shutil.rmtree(folder, ignore_errors=True)

    # -----------------------------------------------------------------------------------------
    # Two real processes: the single-instance guard

    def run_concurrent(self):
        """While one run holds the guard (inside the driver, made slow by a delay switch), a
        second run invoked by the same first word is refused; the first run's work is not
        disturbed, and once it has ended a third run passes."""
        scenario = {"name": "second-instance", "nvapi": STORE_FRAMES_2,
                    "faults": "delay:NvAPI_DRS_LoadSettings=3000", "machine": QTD2,
                    "runs": [(["-s", "1"], SET_DONE, 0)]}
        folder = self.prepare(scenario)
        journal = os.path.join(folder, "journal.txt")
        env = self.target.environment(folder, scenario)
        command, executable = self.target.command(folder, ["-s", "1"], first_word="Durnavel")
        with open(os.path.join(folder, "first.out"), "wb") as first_out:
            first = subprocess.Popen(command, executable=executable, cwd=folder, env=env,
                                     stdin=subprocess.DEVNULL, stdout=first_out,
                                     stderr=subprocess.STDOUT)
            deadline = time.time() + 60
            while "NvAPI_DRS_CreateSession" not in (read(journal) or ""):
                expect(time.time() < deadline and first.poll() is None,
                       "the first run never reached the driver")
                time.sleep(0.05)
            # The first run is inside NvAPI_DRS_LoadSettings now, holding the guard.
            quiet = dict(scenario, faults="")
            second = self.run_once(folder, quiet, [], first_word="Durnavel")
            self.check_run(second, self.expected_output(ALREADY_RUNNING), 2, "second run")
            expect(first.poll() is None, "the first run ended before the second was refused")
            expect(first.wait(timeout=60) == 0, "first run: exit code %s" % first.returncode)
        self.check_run(subprocess.CompletedProcess([], 0, read(os.path.join(
            folder, "first.out")).encode("ascii"), b""), self.expected_output(SET_DONE), 0,
            "first run")
        expect(read(os.path.join(folder, "nvapi-store.txt")) == "0x007BA09E 0x00000001\n",
               "the first run's setting was not saved")
        third = self.run_once(folder, dict(scenario, faults=""), [], first_word="Durnavel")
        self.check_run(third, self.expected_output(shows(1)), 0, "third run")
        # The refused run touched neither the device nor the driver: two loads in all.
        lines = (read(journal) or "").splitlines()
        expect(lines.count("nvapi load") == 2, "nvapi loaded %d times, expected 2" %
               lines.count("nvapi load"))
        # Help through the launcher shows the name as invoked.
        helped = self.run_once(folder, dict(scenario, faults=""), ["-h"], first_word="Durnavel")
        self.check_run(helped, self.expected_output(HELP, first_word="Durnavel"), 0, "help")
        if not self.keep:
            shutil.rmtree(folder, ignore_errors=True)


def check_version_resource(target):
    """The exe's version resource carries FileVersion and ProductVersion 1.03 and the names."""
    with open(target.program, "rb") as f:
        data = f.read()
    for key, value in (("FileVersion", "1.03"), ("ProductVersion", "1.03"),
                       ("ProductName", "Durnavel"), ("OriginalFilename", "Durnavel")):
        wide = lambda text: text.encode("utf-16-le")
        pattern = re.escape(wide(key)) + b"(?:\x00\x00)+" + re.escape(wide(value)) + b"\x00\x00"
        expect(re.search(pattern, data), "no %s %s in the version resource" % (key, value))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--target", choices=("windows", "host"), required=True)
    parser.add_argument("--bits", type=int, required=True, choices=(32, 64),
                        help="the build's width (32 or 64)")
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--program", help="run this copy of the program instead of the build's")
    options = parser.parse_args()

    nvapi_dll = NVAPI_DLL[options.bits]
    cases = scenarios(nvapi_dll, call_hooks=not (options.target == "windows" and
                                                 options.bits == 64))
    if options.target == "windows":
        cases = [c for c in cases if "loader" not in c]  # Wine's loader has AddDllDirectory
    names = [c["name"] for c in cases] + ["second-instance"]
    assert len(set(names)) == len(names), "scenario names must be unique"
    if options.list:
        print("\n".join(names))
        return 0
    if options.only:
        cases = [c for c in cases if c["name"] in options.only]

    target = Target(options.target, os.path.abspath(options.source),
                    os.path.abspath(options.build), nvapi_dll,
                    options.program and os.path.abspath(options.program))
    suite = Suite(target, options.keep)
    passed = failed = 0
    started = time.time()
    jobs = [(c["name"], lambda c=c: suite.run(c)) for c in cases]
    if not options.only or "second-instance" in options.only:
        jobs.append(("second-instance", suite.run_concurrent))
    if options.target == "windows" and not options.only:
        jobs.append(("version-resource", lambda: check_version_resource(target)))
    for name, job in jobs:
        try:
            job()
            passed += 1
            print("ok      %s" % name)
        except (Failure, subprocess.SubprocessError, OSError) as e:
            failed += 1
            print("FAILED  %s\n        %s" % (name, str(e).replace("\n", "\n        ")))
        sys.stdout.flush()
    target.device("use", "-")
    print("e2e (%s): %.1fs" % (options.target, time.time() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
