#!/usr/bin/env python3
"""The bundled local release server: HTTPS on loopback, serving a folder.

  release_server.py certs   --state DIR
  release_server.py keygen  --private release-key.pem --public release-key.pub.pem
  release_server.py publish --root DIR --version 1.7.18 (--key PRIV.pem | --unsigned)
  release_server.py publish --root DIR --addin32 DLL --addin64 DLL [--version V]
                            (--key PRIV.pem | --unsigned) [--expires YYYY-MM-DD]
                            [--installer EXE]
  release_server.py publish --root DIR --version V --key PRIV.pem --installer EXE
  release_server.py verify  --root DIR --public-key PUB.pem
  release_server.py serve   --root DIR --port 8443 --state DIR [--pidfile F]
  release_server.py wait    --port 8443 [--timeout 20]

On first use `certs` (and `serve`) make a test certificate authority and a
localhost certificate signed by it in the state folder (ca.pem, ca.der,
server.pem, server.key), and the three certificates a client must refuse
(expired.pem, wronghost.pem, and untrusted.pem of untrusted-ca.pem). Trust
the authority only where the program runs (a Wine prefix), never on the host.

Every file is served with a strong ETag, Last-Modified and Accept-Ranges;
a single byte range (bytes=N-, N-M or -N) is answered 206, one past the end
416, and an If-Range that no longer names the file gets the whole file.

Tests switch behaviours with control files in the served folder, each in
force while its file exists and read afresh at every connection or request:

  .refuse           every connection is dropped before the TLS handshake, so
                    tests can see a transport failure.
  .proxy-only       so is every connection except those that come from
                    127.0.0.2, the test proxy's tunnels (tools/test_proxy.py):
                    the server is then reached only through the proxy.
  .cert-expired     the handshake presents, instead of the good certificate,
  .cert-wronghost   one of the test authority that expired yesterday, one of
  .cert-untrusted   the test authority for otherhost.invalid only, or one
                    for localhost from an authority nothing trusts (the
                    first of the three files that exists wins). All paths.
                    A connection kept open from before the choice changed is
                    closed unanswered at its next request, so the client
                    connects again and meets the certificate now chosen.

The rest apply to packages (*.zip) only, GET and HEAD alike:

  .stall            the request is read and never answered; the connection is
                    held, silent, until the client closes it or 120 s pass.
  .redirect-http    302 to http://localhost:PORT/ and the same path: plain
                    http, where nothing listens.
  .trickle          the body goes out at the rate the file holds in bytes a
                    second (20000 when it holds no number), twenty pieces a
                    second. It is read again twice a second while a body is
                    sent, so removing it lets a slow download finish at once.
  .cut              each response sends at most the number of body bytes the
                    file holds (half the file, rounded up, when it holds no
                    number) and then resets the connection: no close_notify,
                    a TCP reset once those bytes are delivered. A client that
                    resumes completes in a few responses; one that starts
                    over never does.
  .no-validators    no ETag and no Last-Modified, so a client cannot resume
                    safely; If-Range then never matches.
  .ignore-range     Range and If-Range are ignored: always 200 and the whole
                    file, as some servers do.

Each request is logged to stderr on one line: the client, the TLS version,
the request line, the status, any Range and If-Range the client sent, and
the behaviours that applied, e.g.
  release-server: 127.0.0.1 TLSv1.3 "GET /files/publish/ORBITQuarry64n.zip
  HTTP/1.1" 206 - Range: bytes=524288- [.cut: reset after 100000 of 524288 bytes]
(one line; a request left unanswered says "not answered [.stall]" instead).

With the two add-in libraries, `publish` also writes the packages the
installer downloads (files/publish/ORBITQuarry32n.zip and ...64n.zip) and
takes the version text from the 64-bit library's own file version, unless
--version names one.

`keygen` makes the release signing key pair: an ECDSA P-256 private key
readable by its owner only, and its public key, which the installer is
built with. `publish --key` writes beside the version file the release
manifest (files/publish/release.txt: the version and the size and SHA-256
of each package written) and its signature (release.txt.sig, DER, as
`openssl dgst -sha256 -sign` makes it). `verify` checks a published folder
the way the installer will, as a last look before it is uploaded.

`publish --installer EXE` copies the installer into files/publish/ under
its own name and lists it in the manifest with its size, SHA-256 and file
version (`installer NAME SIZE SHA256 A.B.C.D`), for installed copies to
update themselves. Later releases keep listing it while the file is there.
Without libraries, a signed publish lists the packages already published,
so a release can change the installer alone.
"""

import argparse
import array
import datetime
import email.utils
import hashlib
import http
import http.server
import os
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import zipfile

VERSION_FILE = os.path.join("files", "publish", "xlllibver.txt")
NOT_FOUND_PAGE = b"<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n"
PROXY_TUNNEL_SOURCE = "127.0.0.2"
CONTENT_TYPES = {".txt": "text/plain; charset=utf-8", ".zip": "application/zip"}


def run_openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


SERVER_EXTENSIONS = ("basicConstraints=CA:FALSE\n"
                     "keyUsage=critical,digitalSignature,keyEncipherment\n"
                     "extendedKeyUsage=serverAuth\n"
                     "subjectAltName=%s\n")
LOCALHOST_NAMES = "DNS:localhost,IP:127.0.0.1"
OTHER_HOST = "otherhost.invalid"
# The certificates that the control files of the same names put in place of
# server.pem, each failing a client's check for one reason only.
CERTIFICATE_VARIANTS = {".cert-expired": "expired.pem", ".cert-wronghost": "wronghost.pem",
                        ".cert-untrusted": "untrusted.pem"}


def make_certs(state):
    os.makedirs(state, exist_ok=True)
    ca_key, ca_pem, ca_der = (os.path.join(state, n) for n in ("ca.key", "ca.pem", "ca.der"))
    key, csr, pem = (os.path.join(state, n) for n in ("server.key", "server.csr", "server.pem"))
    if not all(os.path.exists(p) for p in (ca_key, ca_pem, ca_der, key, pem)):
        make_authority(ca_key, ca_pem, "ORBITQuarry Test Release Authority")
        run_openssl("x509", "-in", ca_pem, "-outform", "DER", "-out", ca_der)
        run_openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key, "-out", csr,
                    "-subj", "/CN=localhost")
        ext = os.path.join(state, "server.ext")
        with open(ext, "w") as f:
            f.write(SERVER_EXTENSIONS % LOCALHOST_NAMES)
        run_openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
                    "-days", "1825", "-sha256", "-extfile", ext, "-out", pem)
        # The variants share the server's key and (but one) its authority.
        for name in CERTIFICATE_VARIANTS.values():
            if os.path.exists(os.path.join(state, name)):
                os.remove(os.path.join(state, name))
    make_certificate_variants(state)


def make_authority(key, pem, name):
    run_openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
                "-keyout", key, "-out", pem, "-subj", "/CN=" + name,
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")


def make_certificate_variants(state):
    """The three certificates a client must refuse, beside the good one and
    with its key: one of the test authority that expired yesterday, one of
    the test authority for another host, and one for localhost from an
    authority that nothing trusts. Only those missing are made, so a state
    folder from before they existed gains them."""
    ca_key, ca_pem, key = (os.path.join(state, n) for n in ("ca.key", "ca.pem", "server.key"))
    expired, wronghost, untrusted = (os.path.join(state, CERTIFICATE_VARIANTS[flag])
                                     for flag in (".cert-expired", ".cert-wronghost", ".cert-untrusted"))
    if all(os.path.exists(p) for p in (expired, wronghost, untrusted)):
        return
    with tempfile.TemporaryDirectory() as work:
        def issue(out, issuer, issuer_key, host, names, *dates):
            csr, ext = os.path.join(work, "request.csr"), os.path.join(work, "extensions")
            run_openssl("req", "-new", "-key", key, "-sha256", "-out", csr, "-subj", "/CN=" + host)
            with open(ext, "w") as f:
                f.write(SERVER_EXTENSIONS % names)
            if not dates:
                run_openssl("x509", "-req", "-in", csr, "-CA", issuer, "-CAkey", issuer_key, "-set_serial",
                            "0x" + os.urandom(16).hex(), "-days", "1825", "-sha256", "-extfile", ext,
                            "-out", out)
                return
            # `x509 -req` of OpenSSL 3.0 only starts a certificate now;
            # `ca` takes any dates, given a database to record them in.
            with open(os.path.join(work, "index.txt"), "w"):
                pass
            with open(os.path.join(work, "serial"), "w") as f:
                f.write(os.urandom(16).hex() + "\n")
            config = os.path.join(work, "ca.cnf")
            with open(config, "w") as f:
                f.write("[ca]\ndefault_ca = test\n"
                        "[test]\ndatabase = %s\nserial = %s\nnew_certs_dir = %s\n"
                        "default_md = sha256\npolicy = any\nunique_subject = no\n"
                        "[any]\ncommonName = supplied\n"
                        % (os.path.join(work, "index.txt"), os.path.join(work, "serial"), work))
            run_openssl("ca", "-batch", "-notext", "-config", config, "-cert", issuer, "-keyfile", issuer_key,
                        "-in", csr, "-startdate", dates[0], "-enddate", dates[1], "-extfile", ext, "-out", out)

        if not os.path.exists(expired):
            now = datetime.datetime.now(datetime.timezone.utc)
            issue(expired, ca_pem, ca_key, "localhost", LOCALHOST_NAMES,
                  *((now - datetime.timedelta(days=days)).strftime("%Y%m%d%H%M%SZ") for days in (31, 1)))
        if not os.path.exists(wronghost):
            issue(wronghost, ca_pem, ca_key, OTHER_HOST, "DNS:" + OTHER_HOST)
        if not os.path.exists(untrusted):
            other_key, other_pem = os.path.join(state, "untrusted-ca.key"), os.path.join(state, "untrusted-ca.pem")
            make_authority(other_key, other_pem, "ORBITQuarry Untrusted Test Authority")
            issue(untrusted, other_pem, other_key, "localhost", LOCALHOST_NAMES)


# The package word the installer asks for, and the library name inside it.
PACKAGES = {32: "ORBITQuarry32", 64: "ORBITQuarry64"}
README_ENTRY = "docs/readme.txt"
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)
IMAGE_FILE_DLL = 0x2000


def _pe_sections(data):
    """(name, raw offset, raw size) of each section of a PE image."""
    if data[:2] != b"MZ" or len(data) < 0x40:
        raise ValueError("not a PE image (no MZ header)")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image (no PE signature)")
    count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    table = pe + 24 + optional_size
    sections = []
    for i in range(count):
        entry = table + 40 * i
        name = data[entry:entry + 8].rstrip(b"\0").decode("ascii", "replace")
        size, offset = struct.unpack_from("<II", data, entry + 16)
        sections.append((name, offset, size))
    return sections


def is_dll(path):
    """Whether a PE image is a library rather than a program."""
    with open(path, "rb") as f:
        data = f.read()
    _pe_sections(data)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return bool(struct.unpack_from("<H", data, pe + 22)[0] & IMAGE_FILE_DLL)


def file_version(path):
    """The FILEVERSION of a PE image's version resource as four numbers.

    Read from VS_FIXEDFILEINFO in the resource section: the product version
    beside it is often different, and the installer shows the file version.
    """
    with open(path, "rb") as f:
        data = f.read()
    for name, offset, size in _pe_sections(data):
        if name != ".rsrc":
            continue
        rsrc = data[offset:offset + size]
        at = rsrc.find(FIXED_FILE_INFO_SIGNATURE)
        # The structure is DWORD-aligned in the resource; a stray match of
        # the signature bytes elsewhere is not.
        while at >= 0 and at % 4:
            at = rsrc.find(FIXED_FILE_INFO_SIGNATURE, at + 1)
        if at < 0 or at + 16 > len(rsrc):
            break
        ms, ls = struct.unpack_from("<II", rsrc, at + 8)
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    raise ValueError("%s has no version resource" % path)


def version_text(parts):
    """The text the version file carries: a build number of 0 is left off,
    as releases are named (1.7.18 for a library of file version 1.7.18.0)."""
    shown = parts if parts[3] else parts[:3]
    return ".".join(str(p) for p in shown)


def installer_version(path):
    """The four-part file version of an installer program, as the manifest
    names it: an installed copy compares it with its own to decide whether
    to update itself."""
    if not os.path.isfile(path):
        raise ValueError("%s: no such installer" % path)
    try:
        dll = is_dll(path)
    except (ValueError, struct.error) as e:
        raise ValueError("the installer %s is not a Windows program: %s" % (path, e))
    if dll:
        raise ValueError("the installer %s is a library, not a program" % path)
    try:
        parts = file_version(path)
    except (ValueError, struct.error):
        raise ValueError("the installer %s has no version resource: installed copies compare its file "
                         "version with their own to update themselves" % path)
    return ".".join(str(p) for p in parts)


def package_path(root, bits):
    return os.path.join(root, "files", "publish", PACKAGES[bits] + "n.zip")


def write_package(root, bits, library):
    word = PACKAGES[bits]
    path = package_path(root, bits)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.write(library, word + "n.dll")
        z.writestr(README_ENTRY, "%s Excel add-in library, %d-bit.\r\n" % (word, bits))
    return path


MANIFEST = os.path.join("files", "publish", "release.txt")
SIGNATURE = MANIFEST + ".sig"
BOM = b"\xef\xbb\xbf"
VERSION_PATTERN = re.compile(r"[0-9]+(\.[0-9]+)*\Z")
DATE_PATTERN = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2}\Z")
# Package names the installer builds from its own words: plain file names.
PACKAGE_NAME_PATTERN = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*\Z")
FILE_VERSION_PATTERN = re.compile(r"([0-9]{1,5})\.([0-9]{1,5})\.([0-9]{1,5})\.([0-9]{1,5})\Z")
SHA256_PATTERN = re.compile(r"[0-9a-f]{64}\Z")


def openssl_output(*args, data=None):
    """What openssl writes to its output; ValueError with its own complaint
    when it fails."""
    done = subprocess.run(["openssl", *args], input=data, capture_output=True)
    if done.returncode != 0:
        raise ValueError(done.stderr.decode("utf-8", "replace").strip() or "openssl %s failed" % args[0])
    return done.stdout


def require_p256(key, private):
    """ValueError unless `key` is an ECDSA P-256 key of the kind asked for:
    the installer verifies nothing else, so another key would sign releases
    that no installer accepts."""
    if not os.path.isfile(key):
        raise ValueError("%s: no such key file" % key)
    try:
        text = openssl_output("ec", "-in", key, "-noout", "-text", *([] if private else ["-pubin"]))
    except ValueError:
        raise ValueError("%s is not an EC %s key in PEM form" % (key, "private" if private else "public"))
    if b"prime256v1" not in text and b"P-256" not in text:
        raise ValueError("%s is not a P-256 key" % key)


def keygen(private, public):
    """Makes a P-256 key pair. The private key file is created readable by
    its owner only, before a byte of the key goes into it, and an existing
    one is never replaced: losing a release key means shipping a new
    installer to every user."""
    if os.path.realpath(private) == os.path.realpath(public):
        raise ValueError("the private and the public key need two files")
    pem = openssl_output("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
    public_pem = openssl_output("ec", "-pubout", data=pem)
    try:
        fd = os.open(private, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        raise ValueError("%s exists; a release key is never overwritten" % private)
    with os.fdopen(fd, "wb") as f:
        f.write(pem)
    with open(public, "wb") as f:
        f.write(public_pem)


def parse_date(text):
    if not DATE_PATTERN.match(text):
        raise ValueError("%r is not a date as YYYY-MM-DD" % text)
    try:
        return datetime.date.fromisoformat(text)
    except ValueError:
        raise ValueError("%r is not a date as YYYY-MM-DD" % text)


def manifest_text(version, packages, expires=None, installer=None):
    """The release manifest's bytes: `packages` are (name, size, sha256
    hex), `installer` is (name, size, sha256 hex, four-part version)."""
    lines = ["format 1", "version " + version]
    if expires:
        lines.append("expires " + expires)
    lines += ["package %s %d %s" % p for p in packages]
    if installer:
        lines.append("installer %s %d %s %s" % installer)
    return "".join(line + "\n" for line in lines).encode("utf-8")


def is_file_version(text):
    match = FILE_VERSION_PATTERN.match(text)
    return bool(match) and all(int(part) <= 0xFFFF for part in match.groups())


def release_file_names():
    """The names in files/publish/ that are the release's own files."""
    return {os.path.basename(VERSION_FILE), os.path.basename(MANIFEST), os.path.basename(SIGNATURE)} | \
        {word + "n.zip" for word in PACKAGES.values()}


def published_installer(root):
    """The installer the folder's current manifest lists, if it is still
    there: a release that does not bring a new installer keeps offering it,
    so that copies which have not updated themselves yet still can."""
    try:
        with open(os.path.join(root, MANIFEST), "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return None
    try:
        listed = parse_manifest(data)["installer"]
    except VerifyError as e:
        if b"\ninstaller " in data:
            sys.stderr.write("release-server: warning: the earlier %s cannot be read (%s); "
                             "the installer it lists is not carried over\n" % (MANIFEST, e))
        return None
    if listed is None or not os.path.isfile(os.path.join(root, "files", "publish", listed[0])):
        return None
    return os.path.join(root, "files", "publish", listed[0])


def sha256_and_size(path):
    digest = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
            size += len(chunk)
    return digest.hexdigest(), size


def publish(root, version=None, addin32=None, addin64=None, key=None, unsigned=False, expires=None,
            installer=None):
    """Writes the packages (given both libraries) and the installer (given
    one), then the signed manifest, then the version file: a client that
    sees the new version finds all it needs. Arguments are checked before
    anything is written. Returns the paths written, the version file's
    first.

    Without libraries a signed manifest lists the packages already in the
    folder, and without an installer the one the folder's manifest listed,
    so that a release changing only one of them keeps the others."""
    if (addin32 is None) != (addin64 is None):
        raise ValueError("--addin32 and --addin64 go together")
    offered = None
    if installer is not None:
        if unsigned:
            raise ValueError("--installer needs a signed release (--key): the manifest lists it")
        name = os.path.basename(installer)
        if not PACKAGE_NAME_PATTERN.match(name) or name in release_file_names():
            raise ValueError("%r cannot be the installer's name in files/publish/" % name)
        installer_version(installer)
    if key is None and not unsigned:
        raise ValueError("refusing to publish an unsigned release: give --key PRIV.pem, or --unsigned "
                         "for installers built with RELEASE_UNSIGNED=ON")
    if key is not None and unsigned:
        raise ValueError("--key and --unsigned exclude each other")
    if expires is not None:
        if unsigned:
            raise ValueError("--expires needs a signed release (--key)")
        if parse_date(expires) < datetime.datetime.now(datetime.timezone.utc).date():
            sys.stderr.write("release-server: warning: the manifest expires on %s, a date already past; "
                             "installers will refuse it\n" % expires)
    if version is None:
        if addin64 is None:
            raise ValueError("a version is needed when no libraries are published")
        version = version_text(file_version(addin64))
    if not VERSION_PATTERN.match(version):
        raise ValueError("%r is not a dotted version such as 1.7.18" % version)
    if key is not None:
        require_p256(key, private=True)
        offered = installer or published_installer(root)
        if offered is not None:
            installer_version(offered)

    path = os.path.join(root, VERSION_FILE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    written = []
    if addin64 is not None:
        # The 64-bit package first, as the manifest lists it.
        listed = [write_package(root, 64, addin64), write_package(root, 32, addin32)]
        written += listed
    else:
        listed = [package_path(root, bits) for bits in (64, 32) if os.path.isfile(package_path(root, bits))]
    if installer is not None:
        copy = os.path.join(root, "files", "publish", os.path.basename(installer))
        if not (os.path.exists(copy) and os.path.samefile(installer, copy)):
            shutil.copyfile(installer, copy)
        written.append(copy)
        offered = copy
    manifest, signature = os.path.join(root, MANIFEST), os.path.join(root, SIGNATURE)
    if key is not None:
        packages = []
        for package in listed:
            digest, size = sha256_and_size(package)
            packages.append((os.path.basename(package), size, digest))
        listed_installer = None
        if offered is not None:
            digest, size = sha256_and_size(offered)
            listed_installer = (os.path.basename(offered), size, digest, installer_version(offered))
        text = manifest_text(version, packages, expires, listed_installer)
        signed = openssl_output("dgst", "-sha256", "-sign", key, data=text)
        with open(manifest, "wb") as f:
            f.write(text)
        with open(signature, "wb") as f:
            f.write(signed)
        written += [manifest, signature]
    else:
        # A manifest left from a signed release would describe other files.
        for stale in (manifest, signature):
            if os.path.exists(stale):
                os.remove(stale)
    with open(path, "wb") as f:
        # The program drops the first character of the file: a byte-order mark.
        f.write(BOM + version.encode("utf-8"))
    return [path] + written


class VerifyError(Exception):
    pass


def parse_manifest(data):
    """The fields of a release manifest as the installer reads them:
    {"format", "version", "expires" (or None), "packages": [(name, size,
    sha256)], "installer": (name, size, sha256, version) or None}. Stricter
    than the installer where it costs nothing: every line ends in LF and has
    a field name. Fields it does not know are passed over, as installers
    pass over those that came after them."""
    if data.startswith(BOM):
        raise VerifyError("release.txt starts with a byte-order mark")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise VerifyError("release.txt is not UTF-8")
    if not text.endswith("\n"):
        raise VerifyError("release.txt does not end with a line feed")
    fields = {"format": None, "version": None, "expires": None, "packages": [], "installer": None}
    for number, line in enumerate(text[:-1].split("\n"), 1):
        line = line[:-1] if line.endswith("\r") else line
        name, blank, value = line.partition(" ")
        where = "release.txt line %d" % number
        if not name or not blank:
            raise VerifyError("%s is not a field name, a blank and a value: %r" % (where, line))
        if number == 1 and name != "format":
            raise VerifyError("release.txt does not start with its format")
        if name in ("format", "version", "expires", "installer") and fields[name] is not None:
            raise VerifyError("%s: a second %s" % (where, name))
        if name == "format":
            if value != "1":
                raise VerifyError("%s: format %r, not 1" % (where, value))
            fields["format"] = 1
        elif name == "version":
            if not VERSION_PATTERN.match(value):
                raise VerifyError("%s: %r is not a dotted version" % (where, value))
            fields["version"] = value
        elif name == "expires":
            try:
                fields["expires"] = parse_date(value)
            except ValueError as e:
                raise VerifyError("%s: %s" % (where, e))
        elif name == "package":
            parts = value.split(" ")
            if (len(parts) != 3 or not PACKAGE_NAME_PATTERN.match(parts[0]) or not parts[1].isdigit()
                    or not SHA256_PATTERN.match(parts[2])):
                raise VerifyError("%s: not a package name, size and lower-case SHA-256: %r" % (where, value))
            fields["packages"].append((parts[0], int(parts[1]), parts[2]))
        elif name == "installer":
            parts = value.split(" ")
            if (len(parts) != 4 or not PACKAGE_NAME_PATTERN.match(parts[0]) or not parts[1].isdigit()
                    or not SHA256_PATTERN.match(parts[2]) or not is_file_version(parts[3])):
                raise VerifyError("%s: not a plain file name, size, lower-case SHA-256 and four-part version "
                                  "(a.b.c.d): %r" % (where, value))
            fields["installer"] = (parts[0], int(parts[1]), parts[2], parts[3])
    if fields["version"] is None:
        raise VerifyError("release.txt has no version")
    return fields


def verify(root, public_key, today=None):
    """Checks a published folder as the installer will: the signature under
    `public_key`, the manifest's fields, the version file agreeing with it,
    every package's size and SHA-256, and the installer's as well as its
    version. Returns what was checked, a line each; VerifyError with the
    first thing that is wrong."""
    today = today or datetime.datetime.now(datetime.timezone.utc).date()
    try:
        require_p256(public_key, private=False)
    except ValueError as e:
        raise VerifyError(str(e))
    manifest, signature = os.path.join(root, MANIFEST), os.path.join(root, SIGNATURE)
    for path in (manifest, signature):
        if not os.path.isfile(path):
            raise VerifyError("%s is missing" % path)
    checked = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public_key, "-signature", signature,
                              manifest], capture_output=True)
    if checked.returncode != 0:
        raise VerifyError("the signature %s does not verify under %s" % (signature, public_key))
    lines = ["signature: %s verifies under %s" % (SIGNATURE, public_key)]

    with open(manifest, "rb") as f:
        fields = parse_manifest(f.read())
    line = "manifest: format 1, version %s" % fields["version"]
    if fields["expires"] is not None:
        if fields["expires"] < today:
            raise VerifyError("release.txt expired on %s" % fields["expires"].isoformat())
        line += ", expires %s" % fields["expires"].isoformat()
    lines.append(line)

    version_path = os.path.join(root, VERSION_FILE)
    if not os.path.isfile(version_path):
        raise VerifyError("%s is missing" % version_path)
    with open(version_path, "rb") as f:
        published = f.read()
    if published != BOM + fields["version"].encode("utf-8"):
        raise VerifyError("the version file %s says %r, the manifest version %s"
                          % (VERSION_FILE, published.decode("utf-8", "replace"), fields["version"]))
    lines.append("version file: %s, as the manifest" % fields["version"])

    if not fields["packages"]:
        raise VerifyError("release.txt lists no package")
    listed = set()
    for name, size, digest in fields["packages"]:
        if name in listed:
            raise VerifyError("release.txt lists %s twice" % name)
        listed.add(name)
        path = os.path.join(root, "files", "publish", name)
        if not os.path.isfile(path):
            raise VerifyError("%s is listed but missing" % path)
        actual_digest, actual_size = sha256_and_size(path)
        if actual_size != size:
            raise VerifyError("%s has %d bytes, the manifest says %d" % (name, actual_size, size))
        if actual_digest != digest:
            raise VerifyError("%s has SHA-256 %s, the manifest says %s" % (name, actual_digest, digest))
        lines.append("package %s: %d bytes, SHA-256 %s" % (name, size, digest))
    for bits in sorted(PACKAGES):
        name = PACKAGES[bits] + "n.zip"
        if name not in listed and os.path.exists(os.path.join(root, "files", "publish", name)):
            raise VerifyError("%s is published but not in release.txt: installers would refuse it" % name)

    if fields["installer"] is not None:
        name, size, digest, version = fields["installer"]
        if name in release_file_names() or name in listed:
            raise VerifyError("release.txt names %s, a file of the release itself, as the installer" % name)
        path = os.path.join(root, "files", "publish", name)
        if not os.path.isfile(path):
            raise VerifyError("%s is listed as the installer but missing" % path)
        actual_digest, actual_size = sha256_and_size(path)
        if actual_size != size:
            raise VerifyError("installer %s has %d bytes, the manifest says %d" % (name, actual_size, size))
        if actual_digest != digest:
            raise VerifyError("installer %s has SHA-256 %s, the manifest says %s" % (name, actual_digest, digest))
        try:
            actual_version = installer_version(path)
        except ValueError as e:
            raise VerifyError(str(e))
        if actual_version != version:
            # Installed copies would update to it, find themselves still
            # older than the manifest says, and update again.
            raise VerifyError("installer %s is version %s, the manifest says %s" % (name, actual_version, version))
        lines.append("installer %s: version %s, %d bytes, SHA-256 %s" % (name, version, size, digest))
    return lines


def resolve(root, url_path):
    """The file below root that a request path names, or None."""
    path = urllib.parse.unquote(urllib.parse.urlsplit(url_path).path)
    if "\0" in path:  # os.path would raise on it, dropping the connection
        return None
    parts = [p for p in path.replace("\\", "/").split("/") if p not in ("", ".")]
    if any(p == ".." or p.startswith(".") for p in parts):
        return None
    full = os.path.realpath(os.path.join(root, *parts))
    base = os.path.realpath(root)
    if not full.startswith(base + os.sep) or not os.path.isfile(full):
        return None
    return full


CHUNK = 1 << 16
STALL_SECONDS = 120
DEFAULT_TRICKLE_RATE = 20000
RANGE_PATTERN = re.compile(r"\s*bytes\s*=\s*([0-9]*)\s*-\s*([0-9]*)\s*\Z", re.IGNORECASE)
UNSATISFIABLE = "unsatisfiable"


def parse_range(header, size):
    """The bytes a Range header asks of a file of `size` bytes: (first,
    last), UNSATISFIABLE, or None to send the whole file. Only a single
    range is served: a list of them, like anything malformed, is ignored,
    as HTTP lets a server do."""
    match = RANGE_PATTERN.match(header or "")
    if not match or not (match.group(1) or match.group(2)):
        return None
    first, last = match.group(1), match.group(2)
    if not first:  # bytes=-N: the last N bytes
        if int(last) == 0 or size == 0:
            return UNSATISFIABLE
        return max(0, size - int(last)), size - 1
    first = int(first)
    if last and int(last) < first:
        return None
    if first >= size:
        return UNSATISFIABLE
    return first, min(int(last), size - 1) if last else size - 1


def entity_tag(stat):
    """A strong validator that changes whenever publish rewrites the file."""
    return '"%x-%x"' % (stat.st_size, stat.st_mtime_ns)


def if_range_matches(value, etag, mtime):
    """Whether an If-Range header names the file as it is now. An entity tag
    must match exactly (a weak one never does); a date must be the file's
    Last-Modified to the second. Without validators nothing matches, so the
    client gets the whole file rather than a piece of another one."""
    value = value.strip()
    if value.startswith('"') or value.startswith("W/"):
        return etag is not None and value == etag
    if mtime is None:
        return False
    try:
        date = email.utils.parsedate_to_datetime(value)
    except (TypeError, ValueError, IndexError):
        return False
    return date is not None and int(date.timestamp()) == int(mtime)


def control(root, name):
    """The text of the control file `name` in the served folder, or None
    while there is none. Read afresh each time: tests switch behaviours by
    creating and deleting these files while the server runs."""
    try:
        with open(os.path.join(root, name), "rb") as f:
            return f.read().decode("utf-8", "replace").strip()
    except OSError:
        return None


def control_number(root, name):
    """(present, number) for a control file that may hold a count: the
    number is None when the file is empty or holds none."""
    text = control(root, name)
    if text is None:
        return False, None
    return True, int(text) if text.isdigit() else None


def wait_until_delivered(sock, timeout):
    """Waits until the peer has acknowledged all that was written to `sock`
    (or `timeout`), so that a reset that follows cannot discard data the
    client was meant to receive first."""
    try:
        # Imported here: publishers may run this tool on Windows, which has
        # neither, and only the server on the test machine needs them.
        import fcntl
        import termios
    except ImportError:
        return
    deadline = time.monotonic() + timeout
    unsent = array.array("i", [0])
    while time.monotonic() < deadline:
        try:
            fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, unsent)
        except OSError:
            return
        if unsent[0] == 0:
            return
        time.sleep(0.01)


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("release-server: %s %s %s\n"
                         % (self.address_string(), self.tls_version, fmt % args))

    def log_request(self, code="-", size="-"):
        # One line a request, with what a test needs to tell a resumed
        # download from a fresh one and which test behaviours applied.
        if isinstance(code, http.HTTPStatus):
            code = code.value
        headers = getattr(self, "headers", None)
        extra = ""
        for name in ("Range", "If-Range"):
            if headers is not None and headers.get(name) is not None:
                extra += " %s: %s" % (name, headers.get(name))
        for note in getattr(self, "notes", ()):
            extra += " [%s]" % note
        self.log_message('"%s" %s %s%s', self.requestline, code, size, extra)

    def handle(self):
        # Read now: after a client's abrupt close the TLS object reports none.
        self.tls_version = self.connection.version()
        self.requests_seen = 0
        super().handle()
        if self.requests_seen == 0:
            # WinHTTP checks the server's certificate only after the TLS
            # handshake has completed, and then just closes the connection:
            # an untrusted authority shows up here, not as a handshake error.
            self.log_message("closed the connection without sending a request")

    def parse_request(self):
        self.requests_seen += 1
        return super().parse_request()

    def send_body(self, status, content_type, body, head_only):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not head_only:
            self.wfile.write(body)

    def serve(self, head_only):
        self.notes = []
        if getattr(self.connection, "certificate_choice", None) != self.server.certificate_choice():
            # A connection kept open from before a .cert-* file came or went
            # would dodge the certificate now chosen. Closed unanswered, as an
            # idle connection a server gave up on, the client connects anew.
            self.log_message("closed a connection made with the %s certificate at its next request",
                             self.connection.certificate_choice or "good")
            self.close_connection = True
            return
        full = resolve(self.root, self.path)
        if full is None:
            self.send_body(404, "text/html", NOT_FOUND_PAGE, head_only)
            return
        # The test behaviours other than the certificates apply to packages
        # only: the version check and the manifest stay as they are.
        package = full.lower().endswith(".zip")
        if package and control(self.root, ".stall") is not None:
            self.stall()
            return
        if package and control(self.root, ".redirect-http") is not None:
            self.notes.append(".redirect-http")
            self.send_response(302)
            self.send_header("Location", "http://localhost:%d%s" % (self.server.server_port, self.path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        ctype = CONTENT_TYPES.get(os.path.splitext(full)[1].lower(), "application/octet-stream")
        with open(full, "rb") as f:
            # The validators and the length come from the file as opened, so
            # a publish that replaces it meanwhile cannot mix two versions.
            stat = os.fstat(f.fileno())
            size = stat.st_size
            etag, mtime = entity_tag(stat), stat.st_mtime
            if package and control(self.root, ".no-validators") is not None:
                self.notes.append(".no-validators")
                etag = mtime = None
            wanted = parse_range(self.headers.get("Range"), size)
            if package and control(self.root, ".ignore-range") is not None:
                self.notes.append(".ignore-range")
                wanted = None
            if wanted is not None and self.headers.get("If-Range") is not None \
                    and not if_range_matches(self.headers["If-Range"], etag, mtime):
                wanted = None
            if wanted == UNSATISFIABLE:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_file_headers(ctype, 0, etag, mtime)
                return
            first, length = (0, size) if wanted is None else (wanted[0], wanted[1] - wanted[0] + 1)
            limit = length
            if package and not head_only:
                cut, most = control_number(self.root, ".cut")
                if cut:
                    limit = min(length, most if most is not None else (size + 1) // 2)
                    if limit < length:
                        self.notes.append(".cut: reset after %d of %d bytes" % (limit, length))
                if control(self.root, ".trickle") is not None:
                    self.notes.append(".trickle: %d bytes/s" % self.trickle_rate())
            self.send_response(200 if wanted is None else 206)
            if wanted is not None:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (wanted[0], wanted[1], size))
            self.send_file_headers(ctype, length, etag, mtime)
            if not head_only:
                self.send_file(f, first, length, limit, package)

    def send_file_headers(self, ctype, length, etag, mtime):
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        if etag is not None:
            self.send_header("ETag", etag)
        if mtime is not None:
            self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
        self.end_headers()

    def trickle_rate(self):
        present, rate = control_number(self.root, ".trickle")
        if not present:
            return None
        return rate if rate else DEFAULT_TRICKLE_RATE

    def send_file(self, f, first, length, limit, package):
        """Sends `length` bytes of `f` from `first` on, a chunk at a time:
        packages can be far larger than what is worth holding in memory.
        After `limit` bytes, if that is less, the connection is reset.

        A package goes out at the .trickle rate while that file exists; it
        is read again twice a second, so a test can slow down, speed up or
        release a download that is under way."""
        f.seek(first)
        sent = 0
        rate = self.trickle_rate() if package else None
        paced_from, paced_sent = time.monotonic(), 0
        next_look = paced_from + 0.5
        while sent < limit:
            # Twenty pieces a second at a trickle: a progress bar moves
            # smoothly and a cancel is seen within a piece.
            piece = CHUNK if rate is None else max(1, min(CHUNK, rate // 20))
            data = f.read(min(piece, limit - sent))
            if not data:
                # The file shrank while it was sent: the length announced
                # cannot be kept, and the client must see a broken transfer.
                self.close_connection = True
                return
            self.wfile.write(data)
            sent += len(data)
            now = time.monotonic()
            if package and now >= next_look:
                next_look = now + 0.5
                now_rate = self.trickle_rate()
                if now_rate != rate:
                    rate, paced_from, paced_sent = now_rate, now, sent
            if rate is not None:
                ahead = paced_from + (sent - paced_sent) / rate - now
                if ahead > 0:
                    time.sleep(ahead)
        if sent < length:
            self.reset_connection()

    def reset_connection(self):
        """Ends the connection as a network failure would: what was sent is
        delivered, then a TCP reset with no TLS close_notify."""
        self.close_connection = True
        wait_until_delivered(self.connection, 15)
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()

    def stall(self):
        """Reads on, answering nothing, until the client goes away."""
        self.log_message('"%s" not answered [.stall]', self.requestline)
        self.close_connection = True
        self.connection.settimeout(1)
        deadline = time.monotonic() + STALL_SECONDS
        while time.monotonic() < deadline:
            try:
                if not self.connection.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def do_GET(self):
        self.serve(False)

    def do_HEAD(self):
        self.serve(True)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, contexts, root):
        super().__init__(address, handler)
        self.contexts = contexts
        self.root = root

    def certificate_choice(self):
        """The control file whose certificate new connections get, or None
        for the good one: the first of CERTIFICATE_VARIANTS that exists."""
        for flag in CERTIFICATE_VARIANTS:
            if os.path.exists(os.path.join(self.root, flag)):
                return flag
        return None

    def get_request(self):
        sock, addr = self.socket.accept()
        if os.path.exists(os.path.join(self.root, ".refuse")) or (
                addr[0] != PROXY_TUNNEL_SOURCE and os.path.exists(os.path.join(self.root, ".proxy-only"))):
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            sock.close()
            raise OSError("connection refused on purpose")
        sock.settimeout(30)
        return sock, addr

    def finish_request(self, request, client_address):
        # The handshake runs here, on the connection's own thread: done in
        # get_request() it would hold up accept() for every other client for
        # as long as one client stalls.
        choice = self.certificate_choice()
        try:
            tls = self.contexts[choice].wrap_socket(request, server_side=True)
        except ssl.SSLEOFError:
            return  # a port probe such as `wait`, or a client that gave up
        except OSError as e:
            # A client that rejects the certificate inside the handshake (an
            # OpenSSL one sends "unknown ca"), or one that speaks no TLS 1.2.
            sys.stderr.write("release-server: %s: TLS handshake failed%s: %s\n"
                             % (client_address[0], " (%s)" % choice if choice else "", e))
            return
        tls.certificate_choice = choice
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        sys.stderr.write("release-server: %s: %s\n" % (client_address, sys.exc_info()[1]))


def serve(root, port, state, pidfile):
    make_certs(state)
    contexts = {}
    # One context a certificate: each keeps its own session cache and
    # ticket keys, so a client cannot resume a session made under another
    # certificate and skip the one now presented.
    for flag, name in [(None, "server.pem")] + list(CERTIFICATE_VARIANTS.items()):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(os.path.join(state, name), os.path.join(state, "server.key"))
        contexts[flag] = context
    Handler.root = root
    server = Server(("127.0.0.1", port), Handler, contexts, root)
    if pidfile:
        with open(pidfile, "w") as f:
            f.write(str(os.getpid()))

    def stop(*_):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if pidfile and os.path.exists(pidfile):
            os.remove(pidfile)


def wait(port, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return 0
        except OSError:
            time.sleep(0.1)
    sys.stderr.write("release-server: nothing listens on port %d after %s s\n" % (port, timeout))
    return 1


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("certs")
    p.add_argument("--state", required=True)
    p = sub.add_parser("keygen")
    p.add_argument("--private", required=True, metavar="PRIV.pem", help="created, readable by its owner only")
    p.add_argument("--public", required=True, metavar="PUB.pem")
    p = sub.add_parser("publish")
    p.add_argument("--root", required=True)
    p.add_argument("--key", metavar="PRIV.pem", help="the release signing key (P-256)")
    p.add_argument("--unsigned", action="store_true", help="no manifest, for installers built unsigned")
    p.add_argument("--expires", metavar="YYYY-MM-DD", help="the UTC date after which installers refuse it")
    p.add_argument("--version", help="the version text; by default the 64-bit library's file version")
    p.add_argument("--addin32", metavar="DLL", help="the 32-bit add-in library to package")
    p.add_argument("--addin64", metavar="DLL", help="the 64-bit add-in library to package")
    p.add_argument("--installer", metavar="EXE", help="the installer that installed copies update themselves to")
    p = sub.add_parser("verify")
    p.add_argument("--root", required=True)
    p.add_argument("--public-key", required=True, metavar="PUB.pem")
    p = sub.add_parser("serve")
    p.add_argument("--root", required=True)
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--state", required=True)
    p.add_argument("--pidfile")
    p = sub.add_parser("wait")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--timeout", type=float, default=20)
    args = parser.parse_args(argv)

    if args.command == "certs":
        make_certs(args.state)
    elif args.command == "keygen":
        try:
            keygen(args.private, args.public)
        except (OSError, ValueError) as e:
            parser.error(str(e))
        print(args.private)
        print(args.public)
    elif args.command == "publish":
        try:
            for path in publish(args.root, args.version, args.addin32, args.addin64, args.key, args.unsigned,
                                args.expires, args.installer):
                print(path)
        except (OSError, ValueError) as e:
            parser.error(str(e))
    elif args.command == "verify":
        try:
            for line in verify(args.root, args.public_key):
                print(line)
        except (OSError, VerifyError) as e:
            sys.stderr.write("release_server.py verify: %s\n" % e)
            return 1
        print("verified: %s" % os.path.join(args.root, "files", "publish"))
    elif args.command == "serve":
        serve(args.root, args.port, args.state, args.pidfile)
    elif args.command == "wait":
        return wait(args.port, args.timeout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
