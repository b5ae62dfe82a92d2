#!/usr/bin/env python3
"""The release's last step on a Windows build: the archive CPack makes of it, signed by
`scripts/release pack` with a throwaway code-signing key made here with openssl, and checked
with osslsigncode and `scripts/release verify`.

  release_test.py --source SRC --build BUILD           signing, refusals, verification
  release_test.py --source SRC --build BUILD --bits 64 --e2e
                                                     the signed program under Wine (show, set)
  release_test.py --source SRC --build BUILD --bits 64 --rebuild
                                                     one real rebuild by verify (two builds)

Nothing secret is kept: the CA and the keys live in a temporary folder for one run."""

import argparse
import os
import re
import shutil
import subprocess
import stat
import sys
import tempfile
import warnings
import zipfile

PASSWORD = "throwaway"
EPOCH = "1700000000"
ENTRIES = ["Durnavel.exe", "USAGE.txt", "SHA256SUMS"]


def run(args, env=None, cwd=None):
    """Runs a command; returns (exit code, stdout + stderr as text)."""
    done = subprocess.run(args, env=env, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=300)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def must(args, **kw):
    code, out = run(args, **kw)
    if code != 0:
        raise SystemExit("failed (%d): %s\n%s" % (code, " ".join(args), out))
    return out


class Keys:
    """A throwaway CA and PKCS#12 files it issued, one per kind of certificate."""

    def __init__(self, folder):
        self.folder = folder
        os.makedirs(folder)
        env = dict(os.environ, PW=PASSWORD)
        self.env = env
        self.ca = self.make_ca("ca")
        self.other_ca = self.make_ca("other-ca")

    def path(self, name):
        return os.path.join(self.folder, name)

    def make_ca(self, name):
        must(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
              "-keyout", self.path(name + ".key"), "-out", self.path(name + ".pem"),
              "-days", "2", "-subj", "/CN=Durnavel throwaway %s" % name,
              "-addext", "basicConstraints=critical,CA:TRUE",
              "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
        return self.path(name + ".pem")

    def make_pfx(self, name, extensions, password=PASSWORD, with_key=True):
        """A PKCS#12 file with a key and a certificate of the CA with these extensions (or the
        certificate alone)."""
        key, csr, pem, ext = (self.path(name + s) for s in (".key", ".csr", ".pem", ".ext"))
        must(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
              "-subj", "/CN=Durnavel throwaway %s" % name])
        with open(ext, "w") as f:
            f.write("basicConstraints=CA:FALSE\n" + "".join(e + "\n" for e in extensions))
        must(["openssl", "x509", "-req", "-in", csr, "-CA", self.ca, "-CAkey",
              self.path("ca.key"), "-CAcreateserial", "-out", pem, "-days", "2",
              "-extfile", ext])
        pfx = self.path(name + ".p12")
        must(["openssl", "pkcs12", "-export", "-in", pem, "-certfile", self.ca, "-out", pfx,
              "-passout", "env:PW"] + (["-inkey", key] if with_key else ["-nokeys"]),
             env=dict(self.env, PW=password))
        return pfx


class Release:
    """scripts/release of the source tree, run on archives in a folder of this run."""

    def __init__(self, source, folder):
        self.script = os.path.join(source, "scripts", "release")
        self.folder = folder

    def env(self, pfx=None, password=PASSWORD, timestamp_url=None, **more):
        env = {k: v for k, v in os.environ.items() if not k.startswith("DURNAVEL_SIGN_")}
        env["SOURCE_DATE_EPOCH"] = EPOCH
        if pfx:
            env["DURNAVEL_SIGN_PFX"] = pfx
            env["DURNAVEL_SIGN_PASSWORD"] = password
        if timestamp_url:
            env["DURNAVEL_SIGN_TIMESTAMP_URL"] = timestamp_url
        env.update(more)
        return env

    def pack(self, unsigned, out, pfx=None, password=PASSWORD, timestamp_url=None, **more):
        return run([self.script, "pack", unsigned, out],
                   env=self.env(pfx, password, timestamp_url, **more))

    def verify(self, archive, *options, cwd=None, **more):
        """verify from folder CWD (ARCHIVE and the options may be relative to it)."""
        return run([self.script, "verify", archive] + list(options), env=self.env(**more),
                   cwd=cwd)


def read_zip(path):
    with zipfile.ZipFile(path) as z:
        return [i.filename for i in z.infolist()], {n: z.read(n) for n in z.namelist()}


def write_zip(path, files):
    """FILES is {name: data}, or a list of (name, data) and (name, data, "link" or "folder")
    entries, in their order (a name may come twice); a link's data is its target."""
    entries = files.items() if isinstance(files, dict) else files
    with zipfile.ZipFile(path, "w") as z:
        for name, data, *kind in entries:
            info = zipfile.ZipInfo(name, date_time=(2023, 11, 14, 22, 13, 20))
            info.create_system = 3
            mode = {"link": stat.S_IFLNK | 0o777, "folder": stat.S_IFDIR | 0o755}.get(
                kind[0] if kind else None, stat.S_IFREG | 0o644)
            info.external_attr = mode << 16 | (0x10 if stat.S_ISDIR(mode) else 0)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # a name twice, on purpose
                z.writestr(info, data)


def named(folder, name, files):
    """An archive called NAME, as a release archive is called, alone in FOLDER."""
    os.makedirs(folder)
    path = os.path.join(folder, name)
    if isinstance(files, str):
        shutil.copyfile(files, path)
    else:
        write_zip(path, files)
    return path


def tree(folder):
    """Every path under FOLDER (links as links, not followed) with its content or link target."""
    found = {}
    for top, folders, files in os.walk(folder):
        for name in folders + files:
            path = os.path.join(top, name)
            rel = os.path.relpath(path, folder)
            if os.path.islink(path):
                found[rel] = "link to " + os.readlink(path)
            elif os.path.isfile(path):
                with open(path, "rb") as f:
                    found[rel] = f.read()
            else:
                found[rel] = "folder"
    return found


def sums_of(files):
    """SHA256SUMS as sha256sum writes it, CRLF lines: an oracle of its own."""
    import hashlib
    return b"".join(b"%s  %s\r\n" % (hashlib.sha256(files[n]).hexdigest().encode(), n.encode())
                    for n in ("Durnavel.exe", "USAGE.txt"))


class Checks:
    def __init__(self):
        self.failed = 0

    def check(self, name, condition, detail=""):
        print("%s  %s%s" % ("ok     " if condition else "FAILED ", name,
                            "" if condition else "\n        " + detail.replace("\n", "\n        ")))
        if not condition:
            self.failed += 1


def make_archives(source, build, tmp, keys):
    """The unsigned archive CPack makes of the build, and that archive signed by the release."""
    must(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B",
          os.path.join(tmp, "cpack")], env=dict(os.environ, SOURCE_DATE_EPOCH=EPOCH, TZ="UTC"))
    made = [f for f in os.listdir(os.path.join(tmp, "cpack")) if f.endswith(".zip")]
    assert len(made) == 1, made
    unsigned = os.path.join(tmp, "cpack", made[0])
    os.makedirs(os.path.join(tmp, "signed"))
    signed = os.path.join(tmp, "signed", made[0])
    release = Release(source, tmp)
    code, out = release.pack(unsigned, signed, keys.make_pfx("code", [
        "keyUsage=critical,digitalSignature", "extendedKeyUsage=codeSigning"]))
    if code != 0:
        raise SystemExit("scripts/release pack failed:\n" + out)
    return unsigned, signed, release, out


CLAIMS = ("The build is reproducible:", "This build is not reproducible:")


def usage_checks(source, tmp, checks):
    """What USAGE.txt says of where a build comes from, for the kinds of source tree."""
    def git(folder, *args):
        must(["git", "-C", folder, "-c", "user.name=t", "-c", "user.email=t@t"] + list(args))

    plain = os.path.join(tmp, "usage", "plain")
    checkout = os.path.join(tmp, "usage", "checkout")
    inner = os.path.join(checkout, "inner")
    for folder in (plain, inner):
        os.makedirs(folder)
    git(checkout, "init", "-q")
    git(checkout, "commit", "-q", "--allow-empty", "-m", "one")
    head = must(["git", "-C", checkout, "rev-parse", "HEAD"]).strip()
    named_commit = "0123456789abcdef0123456789abcdef01234567"
    for label, folder, commit, epoch, reproducible, says in (
            ("the commit the release names", plain, named_commit, EPOCH, True,
             "Built from commit %s\r\nof the Durnavel repository, with SOURCE_DATE_EPOCH=%s."
             % (named_commit, EPOCH)),
            ("a clean checkout's HEAD", checkout, "", EPOCH, True, "Built from commit " + head),
            ("no SOURCE_DATE_EPOCH", checkout, "", None, False, "without SOURCE_DATE_EPOCH."),
            ("not a git checkout", plain, "", EPOCH, False,
             "Built from a source tree that is not a git checkout, with SOURCE_DATE_EPOCH="),
            ("a folder inside another checkout", inner, "", EPOCH, False,
             "not a git checkout")):
        out = os.path.join(tmp, "usage", "USAGE.txt")
        env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
        if epoch:
            env["SOURCE_DATE_EPOCH"] = epoch
        must(["cmake", "-DIN=" + os.path.join(source, "release", "USAGE.txt"), "-DOUT=" + out,
              "-DVERSION=1.2", "-DCOMMIT=" + commit, "-DSOURCE=" + folder, "-P",
              os.path.join(source, "cmake", "Usage.cmake")], env=env)
        with open(out, "rb") as f:
            text = f.read().decode("ascii", "replace")
        os.remove(out)
        claims = [claim for claim in CLAIMS if claim in text]
        checks.check("USAGE.txt of %s: %s" % (label, "reproducible" if reproducible else
                                              "not reproducible, said once"),
                     claims == [CLAIMS[0 if reproducible else 1]] and says in text and
                     "@" not in text, text[-500:])


def signing_checks(source, build, tmp, keys, checks):
    unsigned, signed, release, pack_out = make_archives(source, build, tmp, keys)
    exe = os.path.join(build, "bin", "Durnavel.exe")
    with open(exe, "rb") as f:
        program = f.read()
    names, files = read_zip(unsigned)
    signed_names, signed_files = read_zip(signed)

    # The archives and their text files.
    for label, (order, content) in (("unsigned", (names, files)),
                                    ("signed", (signed_names, signed_files))):
        checks.check("%s archive holds %s, in CPack's order" % (label, ", ".join(ENTRIES)),
                     sorted(order) == sorted(ENTRIES) and order == names, repr(order))
        for text in ("USAGE.txt", "SHA256SUMS"):
            data = content.get(text, b"")
            checks.check("%s %s has CRLF line ends only" % (label, text),
                         data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n"),
                         repr(data[-80:]))
        checks.check("%s SHA256SUMS lists both files" % label,
                     content.get("SHA256SUMS") == sums_of(content), repr(content.get("SHA256SUMS")))
        unpacked = os.path.join(tmp, "unpacked-" + label)
        with zipfile.ZipFile(unsigned if label == "unsigned" else signed) as z:
            z.extractall(unpacked)
        code, out = run(["sha256sum", "-c", "SHA256SUMS"], cwd=unpacked)
        checks.check("%s: sha256sum -c reads the CRLF SHA256SUMS" % label,
                     code == 0 and out.count(": OK") == 2, out)
    usage = files.get("USAGE.txt", b"").decode("ascii", "replace")
    checks.check("the build's USAGE.txt says once whether it is reproducible, filled in",
                 sum(claim in usage for claim in CLAIMS) == 1 and "@" not in usage, usage[-400:])
    usage_checks(source, tmp, checks)
    checks.check("the unsigned archive holds the build's program", files["Durnavel.exe"] == program)
    checks.check("the signed archive keeps USAGE.txt", signed_files["USAGE.txt"] == files["USAGE.txt"])

    # The signature.
    signed_exe = os.path.join(tmp, "signed.exe")
    with open(signed_exe, "wb") as f:
        f.write(signed_files["Durnavel.exe"])
    checks.check("the signed program differs from the unsigned one", signed_files["Durnavel.exe"] != program)
    checks.check("pack prints the unsigned and the signed checksum",
                 re.search(r"unsigned [0-9a-f]{64}", pack_out) and
                 re.search(r"signed   [0-9a-f]{64}", pack_out), pack_out)
    code, out = run(["osslsigncode", "verify", "-CAfile", keys.ca, "-in", signed_exe])
    checks.check("osslsigncode verify -CAfile accepts the signed program", code == 0, out)
    code, out = run(["osslsigncode", "verify", "-CAfile", keys.other_ca, "-in", signed_exe])
    checks.check("osslsigncode verify refuses it against another CA", code != 0, out)
    stripped = os.path.join(tmp, "stripped.exe")
    must(["osslsigncode", "remove-signature", "-in", signed_exe, "-out", stripped])
    with open(stripped, "rb") as f:
        checks.check("removing the signature gives the build's program back", f.read() == program)
    again = os.path.join(tmp, "again.zip")
    code, out = release.pack(unsigned, again, keys.path("code.p12"))
    with open(again, "rb") as a, open(signed, "rb") as b:
        checks.check("the same key and SOURCE_DATE_EPOCH sign into the same archive",
                     code == 0 and a.read() == b.read(), out)
    # A time-stamping server that cannot be reached (nothing listens on the discard port): the
    # release stops, unless an unstamped signature is accepted in so many words.
    for label, accept, ok, says in (
            ("stops", {}, False, "no time stamp from http://127.0.0.1:9/: stopped"),
            ("with DURNAVEL_SIGN_UNSTAMPED_OK=1 signed without one, said",
             {"DURNAVEL_SIGN_UNSTAMPED_OK": "1"}, True, "signed without a time stamp")):
        folder = os.path.join(tmp, "unstamped-%d" % ok)
        os.makedirs(folder)
        out_zip = os.path.join(folder, "out.zip")
        code, out = release.pack(unsigned, out_zip, keys.path("code.p12"),
                                 timestamp_url="http://127.0.0.1:9/", **accept)
        made = os.listdir(folder) == ["out.zip"]
        with open(signed, "rb") as b:
            same = made and open(out_zip, "rb").read() == b.read()
        checks.check("an unreachable time-stamping server: %s" % label,
                     (code == 0) == ok and says in out and
                     (same if ok else os.listdir(folder) == []), out)

    # The password goes to the signing tools only: the release's other children (here cmake,
    # which pack runs to repack and to sum) do not see it.
    spy = os.path.join(tmp, "spy")
    os.makedirs(spy)
    seen = os.path.join(tmp, "spy.log")
    with open(os.path.join(spy, "cmake"), "w") as f:
        f.write('#!/bin/sh\n[ -z "${DURNAVEL_SIGN_PASSWORD+set}" ] || echo "$*" >>"%s"\n'
                'exec "%s" "$@"\n' % (seen, shutil.which("cmake")))
    os.chmod(os.path.join(spy, "cmake"), 0o755)
    code, out = release.pack(unsigned, os.path.join(tmp, "spied.zip"), keys.path("code.p12"),
                             PATH=spy + os.pathsep + os.environ["PATH"])
    checks.check("the signing password reaches no child but the signing tools",
                 code == 0 and not os.path.exists(seen),
                 out + (open(seen).read() if os.path.exists(seen) else ""))
    code, out = release.pack(unsigned, os.path.join(tmp, "plain.zip"))
    with open(os.path.join(tmp, "plain.zip"), "rb") as a, open(unsigned, "rb") as b:
        checks.check("without a key the archive is the unsigned one, said in one line",
                     code == 0 and a.read() == b.read() and out.count("not signed") == 1, out)

    # A changed byte anywhere the signature covers: in the code, in the headers.
    for label, offset in (("in the middle", len(program) // 2), ("in the headers", 0x80)):
        flipped = bytearray(signed_files["Durnavel.exe"])
        flipped[offset] ^= 0x01
        path = os.path.join(tmp, "flipped.exe")
        with open(path, "wb") as f:
            f.write(flipped)
        code, out = run(["osslsigncode", "verify", "-CAfile", keys.ca, "-in", path])
        checks.check("a flipped byte %s fails osslsigncode verify" % label, code != 0, out)

    # scripts/release verify, against the build's program instead of a rebuild. Every archive
    # carries a release archive's name, in a folder of its own.
    name = os.path.basename(unsigned)
    tampered = dict(signed_files)
    flipped = bytearray(tampered["Durnavel.exe"])
    flipped[len(program) // 2] ^= 0x01
    tampered["Durnavel.exe"] = bytes(flipped)
    tampered["SHA256SUMS"] = sums_of(tampered)
    tampered_zip = named(os.path.join(tmp, "tampered"), name, tampered)
    bad_sums = dict(signed_files, **{"USAGE.txt": signed_files["USAGE.txt"] + b"x\r\n"})
    bad_sums_zip = named(os.path.join(tmp, "bad-sums"), name, bad_sums)
    other_width = re.sub(r"win(32|64)", lambda m: "win64" if m.group(1) == "32" else "win32", name)
    other_width_zip = named(os.path.join(tmp, "other-width"), other_width, unsigned)
    stray_zip = named(os.path.join(tmp, "stray-name"), "download.zip", unsigned)
    other_exe = os.path.join(build, "bin", "launch.exe")
    for label, archive, options, ok, says in (
            ("signed archive, its CA", signed, ["--ca", keys.ca, "--against", exe], True,
             "verified"),
            ("unsigned archive", unsigned, ["--against", exe], True, "verified"),
            ("signed archive, another CA", signed, ["--ca", keys.other_ca, "--against", exe],
             False, "does not verify"),
            ("signed archive, no CA given", signed, ["--against", exe], False, "--ca"),
            ("unsigned archive, a CA given", unsigned, ["--ca", keys.ca, "--against", exe],
             False, "not signed"),
            ("a flipped byte, checksums renewed", tampered_zip, ["--ca", keys.ca, "--against", exe],
             False, "does not verify"),
            ("USAGE.txt changed", bad_sums_zip, ["--ca", keys.ca, "--against", exe], False,
             "SHA256SUMS do not match"),
            ("another program", signed, ["--ca", keys.ca, "--against", other_exe], False,
             "DIFFERENT"),
            ("named for the other width", other_width_zip, ["--against", exe], False,
             "-bit program"),
            ("not named as a release archive", stray_zip, ["--against", exe], False,
             "not named as a release archive")):
        code, out = release.verify(archive, *options)
        checks.check("verify: %s: %s" % (label, "passes" if ok else "fails"),
                     (code == 0) == ok and says in out, out)

    # Paths from the caller's folder: the archive and the CA by their bare names, from the
    # folder holding the download, as the README shows it.
    download = os.path.join(tmp, "download")
    named(download, name, signed)
    shutil.copyfile(keys.ca, os.path.join(download, "signer-ca.pem"))
    shutil.copyfile(exe, os.path.join(download, "reference.exe"))
    code, out = release.verify(name, "--ca", "signer-ca.pem", "--against", "reference.exe",
                               cwd=download)
    checks.check("verify: archive, --ca and --against relative to the caller's folder: passes",
                 code == 0 and "verified" in out, out)

    crafted_checks(tmp, release, files, exe, name, checks)
    claims_checks(source, tmp, files, name, checks)

    # Keys the release must refuse before it signs anything, leaving no archive behind.
    garbage = keys.path("garbage.p12")
    with open(garbage, "wb") as f:
        f.write(b"not a PKCS#12 file\n")
    refused = (
        ("wrong password", keys.path("code.p12"), "wrong", "wrong password"),
        ("not a PKCS#12 file", garbage, PASSWORD, "cannot be read as a PKCS#12 file"),
        ("no such file", keys.path("missing.p12"), PASSWORD, "not a readable file"),
        ("server certificate", keys.make_pfx("server", [
            "keyUsage=critical,digitalSignature", "extendedKeyUsage=serverAuth"]), PASSWORD,
         "not for code signing"),
        ("no extended key usage", keys.make_pfx("plain", ["keyUsage=critical,digitalSignature"]),
         PASSWORD, "not for code signing"),
        ("certificate without its key", keys.make_pfx("keyless", [
            "keyUsage=critical,digitalSignature", "extendedKeyUsage=codeSigning"],
            with_key=False), PASSWORD, "holds no private key"),
        ("code signing without digital signatures", keys.make_pfx("encipher", [
            "keyUsage=critical,keyEncipherment", "extendedKeyUsage=codeSigning"]), PASSWORD,
         "does not allow digital signatures"))
    for name, pfx, password, says in refused:
        folder = os.path.join(tmp, "refused-" + re.sub(r"\W", "-", name))
        os.makedirs(folder)
        out_zip = os.path.join(folder, "out.zip")
        code, out = release.pack(unsigned, out_zip, pfx, password)
        checks.check("refused key: %s" % name,
                     code != 0 and says in out and os.listdir(folder) == [], out)


def crafted_checks(tmp, release, files, exe, name, checks):
    """Archives made to turn verify: each is refused in one line before anything is unpacked,
    and nothing is written outside verify's own folder (the scene below is the same after the
    run but for verify's temporary folder, which is gone)."""
    good = [(n, files[n]) for n in ENTRIES]
    one_sum = [(n, files[n]) for n in ENTRIES[:2]] + [
        ("SHA256SUMS", sums_of(files).split(b"\r\n")[0] + b"\r\n")]
    rows = (
        # label, entries (scene/outside is OUTSIDE), what the refusal says
        ("a ../ entry", good + [("../../../outside/dotdot.txt", b"written outside\n")],
         "leaves its folder"),
        ("an absolute path", good + [("OUTSIDE/absolute.txt", b"written outside\n")],
         "absolute path"),
        ("a link named like the file verify writes next",
         good + [("unsigned.exe", "OUTSIDE/victim.txt", "link")], "symbolic link"),
        ("Durnavel.exe as a link", [("Durnavel.exe", "OUTSIDE/victim.txt", "link")] + good[1:],
         "symbolic link"),
        ("an entry named like the file verify writes next", good + [("unsigned.exe", b"MZ")],
         "not Durnavel.exe, USAGE.txt or SHA256SUMS"),
        ("an extra file", good + [("README.txt", b"more\r\n")],
         "not Durnavel.exe, USAGE.txt or SHA256SUMS"),
        ("a folder", [("bin/", b"", "folder")] + good, "folder entry"),
        ("a file inside a folder", good + [("bin/Durnavel.exe", files["Durnavel.exe"])],
         "inside a folder"),
        ("Durnavel.exe twice", good + [("Durnavel.exe", b"MZ second")], "there twice"),
        ("USAGE.txt missing", [good[0], good[2]], "holds no USAGE.txt"),
        ("SHA256SUMS listing one file", one_sum, "must list exactly Durnavel.exe and USAGE.txt"),
        ("not a zip archive", None, "not a zip archive"))
    for number, (label, entries, says) in enumerate(rows):
        scene = os.path.join(tmp, "crafted-%d" % number)
        outside = os.path.join(scene, "outside")
        os.makedirs(outside)
        os.makedirs(os.path.join(scene, "tmp"))
        with open(os.path.join(outside, "victim.txt"), "wb") as f:
            f.write(b"victim\n")
        if entries is None:
            os.makedirs(os.path.join(scene, "caller"))
            with open(os.path.join(scene, "caller", name), "wb") as f:
                f.write(b"PK\x03\x04 and then nothing of a zip archive\n")
        else:
            named(os.path.join(scene, "caller"), name, [
                tuple(part.replace("OUTSIDE", outside) if isinstance(part, str) else part
                      for part in entry) for entry in entries])
        before = tree(scene)
        code, out = release.verify(os.path.join(scene, "caller", name), "--against", exe,
                                   cwd=os.path.join(scene, "caller"),
                                   TMPDIR=os.path.join(scene, "tmp"))
        after = tree(scene)
        checks.check("verify refuses a crafted archive: %s" % label,
                     code != 0 and says in out and len(out.strip().splitlines()) == 1, out)
        checks.check("  ... and writes nothing outside its own folder",
                     after == before, "new or changed: %s" % sorted(
                         k for k in set(before) | set(after) if before.get(k) != after.get(k)))


def is_checkout(source):
    """Whether the source tree is a git checkout of its own (verify rebuilds from one)."""
    code, out = run(["git", "-C", source, "rev-parse", "--show-toplevel"])
    if code == 0 and os.path.realpath(out.strip()) == os.path.realpath(source):
        return True
    print("skipped  verify's rebuild path: %s is not a git checkout" % source)
    return False


def trial_repository(source, tmp):
    """A clone of the source tree's HEAD whose scripts/release is the source tree's own, so that
    commits and tags can be made there without touching the source repository."""
    repo = os.path.join(tmp, "repository")
    must(["git", "clone", "-q", "--no-hardlinks", source, repo])
    for script in ("release", "release-unpack"):
        shutil.copy2(os.path.join(source, "scripts", script), os.path.join(repo, "scripts"))
    return repo, must(["git", "-C", repo, "rev-parse", "HEAD"]).strip()


def claims_checks(source, tmp, files, name, checks):
    """What an archive claims is checked before anything is built: the commit USAGE.txt names
    has to be in the repository, reached from a tag or the checked-out branch, and build the
    version in the archive's name."""
    if not is_checkout(source):
        return
    repo, head = trial_repository(source, tmp)
    git = ["git", "-C", repo, "-c", "user.name=t", "-c", "user.email=t@t"]
    side = must(git + ["commit-tree", "HEAD^{tree}", "-p", "HEAD", "-m", "side"]).strip()
    tagged = must(git + ["commit-tree", "HEAD^{tree}", "-p", "HEAD", "-m", "tagged"]).strip()
    must(git + ["tag", "trusted-tag", tagged])
    release = Release(repo, tmp)
    usage = files["USAGE.txt"].decode("ascii")
    at = usage.index("Built from ")

    def naming(commit):
        return (usage[:at] + "Built from commit %s\r\nof the Durnavel repository, with "
                "SOURCE_DATE_EPOCH=%s. The build is reproducible:\r\n" % (commit, EPOCH))

    other_version = re.sub(r"^Durnavel-[0-9.]+-", "Durnavel-9.99-", name)
    for number, (label, text, archive_name, says) in enumerate((
            ("USAGE.txt without a commit line", usage[:at], name,
             "USAGE.txt names no commit to rebuild"),
            ("a commit with uncommitted changes", naming(head + " with uncommitted changes"), name,
             "USAGE.txt names no commit to rebuild"),
            ("a commit not in the repository", naming("0" * 40), name,
             "is not in this repository"),
            ("a commit on no tag and not on the checked-out branch", naming(side), name,
             "reachable from no tag and not from the checked-out"),
            ("an older release renamed to a newer version", naming(head), other_version,
             "builds version"),
            ("a tagged commit, another version", naming(tagged), other_version,
             "builds version"))):
        changed = dict(files, **{"USAGE.txt": text.encode("ascii")})
        changed["SHA256SUMS"] = sums_of(changed)
        folder = os.path.join(tmp, "claims-%d" % number)
        named(folder, archive_name, changed)
        code, out = release.verify(archive_name, cwd=folder)
        checks.check("verify refuses before building: %s" % label,
                     code != 0 and says in out and "building" not in out, out)


def rebuild_checks(source, build, tmp, keys, checks, bits):
    """One real rebuild: the signed archive of the source tree's HEAD, made here from a clean
    clone as the release makes it, checked by the README's verify command as it stands, from
    the folder holding the download."""
    if not is_checkout(source):
        return
    repo, head = trial_repository(source, tmp)
    preset = {"32": "windows", "64": "windows64"}[bits]
    made = os.path.join(tmp, "made")
    must(["git", "clone", "-q", "--no-hardlinks", repo, made])
    env = dict(os.environ, SOURCE_DATE_EPOCH=EPOCH, TZ="UTC", LC_ALL="C")
    must(["cmake", "--preset", preset, "-DDURNAVEL_TESTS=OFF", "-DDURNAVEL_COMMIT=" + head],
         cwd=made, env=env)
    must(["cmake", "--build", "--preset", preset, "--target", "package"], cwd=made, env=env)
    built = os.path.join(made, "build", preset)
    name = [f for f in os.listdir(built) if re.match(r"^Durnavel-.*\.zip$", f)][0]
    release = Release(repo, tmp)
    download = os.path.join(tmp, "download")
    os.makedirs(download)
    code, out = release.pack(os.path.join(built, name), os.path.join(download, name),
                             keys.make_pfx("code", ["keyUsage=critical,digitalSignature",
                                                    "extendedKeyUsage=codeSigning"]))
    if code != 0:
        raise SystemExit("scripts/release pack failed:\n" + out)
    shutil.copyfile(keys.ca, os.path.join(download, "signer-ca.pem"))
    code, out = run([os.path.join(repo, "scripts", "release"), "verify", name, "--ca",
                     "signer-ca.pem"], cwd=download, env=release.env())
    checks.check("verify %s --ca signer-ca.pem from the download's folder rebuilds %s and "
                 "passes" % (name, head[:12]),
                 code == 0 and "rebuilding commit " + head in out and
                 out.count("identical") == 2 and "verified: %s is the reproducible build, "
                 "signed" % name in out, out)


def e2e_checks(source, build, tmp, keys, checks, bits):
    _, signed, _, _ = make_archives(source, build, tmp, keys)
    signed_exe = os.path.join(tmp, "Durnavel.exe")
    with zipfile.ZipFile(signed) as z, open(signed_exe, "wb") as f:
        f.write(z.read("Durnavel.exe"))
    code, out = run(["osslsigncode", "verify", "-CAfile", keys.ca, "-in", signed_exe])
    checks.check("the program to run is signed", code == 0, out)
    code, out = run([sys.executable, os.path.join(source, "tests", "e2e", "e2e.py"),
                     "--source", source, "--build", build, "--target", "windows",
                     "--bits", bits, "--program", signed_exe,
                     "--only", "show-rev2-no-explicit-value", "--only", "set-rev2-then-show"])
    checks.check("the signed program shows and sets under Wine", code == 0 and "2 passed" in out,
                 out)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--e2e", action="store_true")
    parser.add_argument("--rebuild", action="store_true",
                        help="one real rebuild of the source tree's HEAD by verify")
    parser.add_argument("--bits", choices=("32", "64"), help="the build's width")
    parser.add_argument("--keep", action="store_true")
    options = parser.parse_args()
    if (options.e2e or options.rebuild) and not options.bits:
        parser.error("--e2e and --rebuild need the build's width (--bits)")
    source, build = os.path.abspath(options.source), os.path.abspath(options.build)
    tmp = tempfile.mkdtemp(prefix="durnavel-release-test.")
    checks = Checks()
    try:
        keys = Keys(os.path.join(tmp, "keys"))
        if options.e2e:
            e2e_checks(source, build, tmp, keys, checks, options.bits)
        elif options.rebuild:
            rebuild_checks(source, build, tmp, keys, checks, options.bits)
        else:
            signing_checks(source, build, tmp, keys, checks)
    finally:
        if options.keep:
            print("kept " + tmp)
        else:
            shutil.rmtree(tmp, ignore_errors=True)
    print("%d failed" % checks.failed)
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
