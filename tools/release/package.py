#!/usr/bin/env python3
"""Packs a built kesta.exe into the Windows release.

package.py EXE DIST

Writes into DIST: kesta-<version>-x64.msi (per-user, Start menu shortcut,
replaces an older installation), kesta-<version>-x64.zip (kesta.exe,
README.txt, THIRD-PARTY-NOTICES.txt) and SHA256SUMS. The version is the one
in EXE's version resource, so the packages can never disagree with the
program. The zip's entries carry the time SOURCE_DATE_EPOCH (the commit's, as
tools/release.sh sets it), which makes it reproducible.

Signing: with KESTA_SIGN_CERT and KESTA_SIGN_KEY (PEM or DER files), or with
KESTA_SIGN_PKCS12, kesta.exe is signed before it is packed and the MSI after
it is built; KESTA_SIGN_PASSWORD is the key's password, if it has one, and
KESTA_SIGN_TIMESTAMP_URL an RFC 3161 time-stamp server, if wanted. The
password only ever reaches osslsigncode through a pipe.
"""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
WINDRES = "x86_64-w64-mingw32-windres"
COMPILER = "x86_64-w64-mingw32-g++-posix"

# The Russian texts of the MSI, put in after wixl (see kesta.wxs): the
# database is switched to code page 1251 first, then each row is updated.
MSI_CODEPAGE = 1251
PRODUCT_NAME = "Kesta — Поддержка"
MSI_TEXTS = [
    ("Property", "Value", "Property", "ProductName", PRODUCT_NAME),
    # Short name first: the column is a file name, "8.3|long".
    ("Shortcut", "Name", "Shortcut", "StartMenu", "KESTA|" + PRODUCT_NAME),
    ("LaunchCondition", "Description", "Condition", "NOT WIX_DOWNGRADE_DETECTED",
     "Уже установлена более новая версия программы «%s»." % PRODUCT_NAME),
]
# msidbUpgradeAttributesVersionMaxInclusive: wixl drops MajorUpgrade's
# AllowSameVersionUpgrades, without which two builds of one version would be
# installed side by side.
UPGRADE_VERSION_MAX_INCLUSIVE = 0x200

# What the static link takes from the toolchain's packages, and under which
# name the notices list it.
LINKED = [
    ("libstdc++.a", "GCC runtime libraries (libstdc++, libgcc)"),
    ("libgcc.a", "GCC runtime libraries (libstdc++, libgcc)"),
    ("libgcc_eh.a", "GCC runtime libraries (libstdc++, libgcc)"),
    ("crt2.o", "MinGW-w64 runtime (C runtime start-up, winpthreads)"),
    ("libmingwex.a", "MinGW-w64 runtime (C runtime start-up, winpthreads)"),
    ("libwinpthread.a", "MinGW-w64 runtime (C runtime start-up, winpthreads)"),
    ("libz.a", "zlib (inflating compressed replies)"),
]
JSMN_HEADER = "/usr/include/jsmn.h"


class Failure(Exception):
    pass


def run(args, **kwargs):
    done = subprocess.run(args, capture_output=True, **kwargs)
    if done.returncode != 0:
        err = done.stderr if isinstance(done.stderr, str) else done.stderr.decode("utf-8", "replace")
        raise Failure("%s failed:\n%s" % (os.path.basename(args[0]), err.strip()))
    return done.stdout


def read_version(exe):
    """(numeric "x.y.z", text) from the program's version resource."""
    rc = run([WINDRES, "-i", exe, "-O", "rc"], text=True)
    numbers = re.search(r"^\s*PRODUCTVERSION\s+(\d+),\s*(\d+),\s*(\d+),\s*(\d+)", rc, re.M)
    text = re.search(r'VALUE "ProductVersion", "([^"]*)"', rc)
    if not numbers or not text:
        raise Failure("%s has no version resource" % exe)
    return ".".join(numbers.groups()[:3]), text.group(1)


def notices(version):
    """The licences of what the static link put into kesta.exe, from the
    installed Debian packages' copyright files."""
    files = [(run([COMPILER, "-print-file-name=" + name], text=True).strip(), what) for name, what in LINKED]
    files.append((JSMN_HEADER, "jsmn (JSON tokenizer)"))
    paths = [os.path.realpath(path) for path, _ in files]
    # One query for all the files: each reads dpkg's whole database.
    owners = {}
    for line in run(["dpkg-query", "-S"] + paths, text=True).splitlines():
        package, path = line.split(": ", 1)
        owners[path] = package.split(":")[0]
    versions = dict(line.split("\t") for line in run(
        ["dpkg-query", "-W", "-f=${Package}\t${Version}\n"] + sorted(set(owners.values())), text=True).splitlines())
    sections = {}  # copyright text -> (what, packages)
    for path, (_, what) in zip(paths, files):
        owner = owners[path]
        with open("/usr/share/doc/%s/copyright" % owner, encoding="utf-8", errors="replace") as f:
            text = f.read()
        entry = sections.setdefault(text, (what, []))
        label = "%s %s" % (owner, versions[owner])
        if label not in entry[1]:
            entry[1].append(label)
    out = ["Kesta %s (kesta.exe) contains the following third-party code, linked statically." % version,
           "Each licence is given below as the Debian package it was built from states it.", ""]
    for text, (what, packages) in sections.items():
        out += ["=" * 78, what, "Debian package%s: %s" % ("s" if len(packages) > 1 else "", ", ".join(packages)),
                "=" * 78, "", text.rstrip(), ""]
    return "\n".join(out)


def windows_text(text):
    """UTF-8 with a byte order mark and CRLF: what Notepad of any age reads."""
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def signing_setup(environ):
    """osslsigncode's key arguments and the password (or None), or None when no
    certificate is given."""
    cert, key, pkcs12 = (environ.get(n, "") for n in ("KESTA_SIGN_CERT", "KESTA_SIGN_KEY", "KESTA_SIGN_PKCS12"))
    if pkcs12:
        args = ["-pkcs12", pkcs12]
    elif cert and key:
        args = ["-certs", cert, "-key", key]
    elif cert or key:
        raise Failure("signing needs both KESTA_SIGN_CERT and KESTA_SIGN_KEY")
    else:
        return None
    url = environ.get("KESTA_SIGN_TIMESTAMP_URL", "")
    if url:
        args += ["-ts", url]
    return args, environ.get("KESTA_SIGN_PASSWORD") or None


def sign(path, setup):
    args, password = setup
    signed = path + ".signed"
    command = ["osslsigncode", "sign"] + args + ["-h", "sha256", "-n", PRODUCT_NAME]
    if password is not None:
        # Never on the command line, where any process can read it.
        command += ["-readpass", "/dev/stdin"]
    run(command + ["-in", path, "-out", signed], input=(password or "").encode("utf-8"))
    os.replace(signed, path)


def build_zip(path, members, epoch):
    """members: (name, bytes) in their order. Fixed order, times and
    attributes: the same input gives the same bytes."""
    stamp = time.gmtime(max(epoch, 315532800))[:6]  # the format starts in 1980
    with zipfile.ZipFile(path, "w") as archive:
        for name, data in members:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            archive.writestr(info, data, compresslevel=9)


def sql_text(value):
    return "'" + value.replace("'", "''") + "'"


def build_msi(path, version, work):
    """The MSI of work/kesta.exe and work/THIRD-PARTY-NOTICES.txt."""
    # wixl takes only source paths relative to where it runs.
    run(["wixl", "-a", "x64", "-D", "Version=" + version, "-D", "Exe=kesta.exe",
         "-D", "Notices=THIRD-PARTY-NOTICES.txt", "-o", os.path.abspath(path), os.path.join(HERE, "kesta.wxs")],
        cwd=work)
    codepage = os.path.join(work, "_ForceCodepage.idt")
    with open(codepage, "w", newline="") as f:
        f.write("\r\n\r\n%d\t_ForceCodepage\r\n" % MSI_CODEPAGE)
    run(["msibuild", path, "-i", codepage])
    queries = ["UPDATE `%s` SET `%s`=%s WHERE `%s`=%s" % (table, column, sql_text(value), key, sql_text(row))
               for table, column, key, row, value in MSI_TEXTS]
    # The upgrade row's key includes its attributes: replaced, not updated.
    upgrade = run(["msiinfo", "export", path, "Upgrade"], text=True).splitlines()
    columns = upgrade[0].split("\t")
    for line in upgrade[3:]:
        row = dict(zip(columns, line.split("\t")))
        if row["ActionProperty"] == "WIX_UPGRADE_DETECTED":
            row["Attributes"] = str(int(row["Attributes"]) | UPGRADE_VERSION_MAX_INCLUSIVE)
            # The query language has no NULL literal: empty columns are left out.
            names = [name for name in columns if row[name]]
            values = [row[name] if name == "Attributes" else sql_text(row[name]) for name in names]
            queries.append("DELETE FROM `Upgrade` WHERE `ActionProperty`='WIX_UPGRADE_DETECTED'")
            queries.append("INSERT INTO `Upgrade` (%s) VALUES (%s)"
                           % (",".join("`%s`" % name for name in names), ",".join(values)))
    run(["msibuild", path] + [part for query in queries for part in ("-q", query)])


def package(exe, dist, environ):
    version, text_version = read_version(exe)
    setup = signing_setup(environ)
    epoch = int(environ.get("SOURCE_DATE_EPOCH") or 0)
    os.makedirs(dist, exist_ok=True)
    base = "kesta-%s-x64" % text_version
    with tempfile.TemporaryDirectory(prefix="kesta-release-") as work:
        program = os.path.join(work, "kesta.exe")
        shutil.copyfile(exe, program)
        if setup:
            sign(program, setup)
        notices_path = os.path.join(work, "THIRD-PARTY-NOTICES.txt")
        with open(notices_path, "wb") as f:
            f.write(windows_text(notices(text_version)))
        with open(os.path.join(HERE, "README.txt"), encoding="utf-8") as f:
            readme = f.read().replace("@VERSION@", text_version)
        zip_path = os.path.join(dist, base + ".zip")
        with open(program, "rb") as p, open(notices_path, "rb") as n:
            build_zip(zip_path, [("kesta.exe", p.read()), ("README.txt", windows_text(readme)),
                                 ("THIRD-PARTY-NOTICES.txt", n.read())], epoch)
        msi_path = os.path.join(dist, base + ".msi")
        build_msi(msi_path, version, work)
        if setup:
            sign(msi_path, setup)
    sums = []
    for name in (base + ".msi", base + ".zip"):
        with open(os.path.join(dist, name), "rb") as f:
            sums.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))
    with open(os.path.join(dist, "SHA256SUMS"), "w") as f:
        f.writelines(sums)
    return text_version, bool(setup), [msi_path, zip_path]


def main(argv):
    if len(argv) != 3:
        print("usage: package.py EXE DIST", file=sys.stderr)
        return 2
    try:
        version, signed, paths = package(argv[1], argv[2], os.environ)
    except Failure as failure:
        print("release: %s" % failure, file=sys.stderr)
        return 1
    if not signed:
        print("Unsigned: no code-signing certificate given (KESTA_SIGN_CERT and KESTA_SIGN_KEY, or KESTA_SIGN_PKCS12).")
    for path in paths:
        print("%s  %d bytes" % (path, os.path.getsize(path)))
    print("Kesta %s%s in %s" % (version, ", signed," if signed else "", argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
