#!/usr/bin/env python3
"""The bundled local release server: HTTPS on loopback, serving a folder.

  release_server.py certs   --state DIR
  release_server.py keygen  --private release-key.pem --public release-key.pub.pem
  release_server.py publish --root DIR --version 1.7.18 (--key PRIV.pem | --unsigned)
  release_server.py publish --root DIR --addin32 DLL --addin64 DLL [--version V]
                            (--key PRIV.pem | --unsigned) [--expires YYYY-MM-DD]
  release_server.py verify  --root DIR --public-key PUB.pem
  release_server.py serve   --root DIR --port 8443 --state DIR [--pidfile F]
  release_server.py wait    --port 8443 [--timeout 20]

On first use `certs` (and `serve`) make a test certificate authority and a
localhost certificate signed by it in the state folder. Trust the authority
only where the program runs (a Wine prefix), never on the host.

While a file named ".refuse" exists in the served folder, every connection
is dropped before the TLS handshake, so tests can see a transport failure.
While one named ".proxy-only" exists, so is every connection except those
that come from 127.0.0.2, the test proxy's tunnels (tools/test_proxy.py): the
server is then reached only through the proxy.

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
"""

import argparse
import datetime
import email.utils
import hashlib
import http.server
import os
import re
import signal
import socket
import ssl
import struct
import subprocess
import sys
import time
import urllib.parse
import zipfile

VERSION_FILE = os.path.join("files", "publish", "xlllibver.txt")
NOT_FOUND_PAGE = b"<html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n"
PROXY_TUNNEL_SOURCE = "127.0.0.2"
CONTENT_TYPES = {".txt": "text/plain; charset=utf-8", ".zip": "application/zip"}


def run_openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_certs(state):
    os.makedirs(state, exist_ok=True)
    ca_key, ca_pem, ca_der = (os.path.join(state, n) for n in ("ca.key", "ca.pem", "ca.der"))
    key, csr, pem = (os.path.join(state, n) for n in ("server.key", "server.csr", "server.pem"))
    if all(os.path.exists(p) for p in (ca_key, ca_pem, ca_der, key, pem)):
        return
    run_openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
                "-keyout", ca_key, "-out", ca_pem, "-subj", "/CN=ORBITQuarry Test Release Authority",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run_openssl("x509", "-in", ca_pem, "-outform", "DER", "-out", ca_der)
    run_openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", key, "-out", csr,
                "-subj", "/CN=localhost")
    ext = os.path.join(state, "server.ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\n"
                "keyUsage=critical,digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n"
                "subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    run_openssl("x509", "-req", "-in", csr, "-CA", ca_pem, "-CAkey", ca_key, "-CAcreateserial",
                "-days", "1825", "-sha256", "-extfile", ext, "-out", pem)


# The package word the installer asks for, and the library name inside it.
PACKAGES = {32: "ORBITQuarry32", 64: "ORBITQuarry64"}
README_ENTRY = "docs/readme.txt"
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


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


def manifest_text(version, packages, expires=None):
    """The release manifest's bytes: `packages` are (name, size, sha256 hex)."""
    lines = ["format 1", "version " + version]
    if expires:
        lines.append("expires " + expires)
    lines += ["package %s %d %s" % p for p in packages]
    return "".join(line + "\n" for line in lines).encode("utf-8")


def sha256_and_size(path):
    digest = hashlib.sha256()
    size = 0
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
            size += len(chunk)
    return digest.hexdigest(), size


def publish(root, version=None, addin32=None, addin64=None, key=None, unsigned=False, expires=None):
    """Writes the packages (given both libraries), then the signed manifest,
    then the version file: a client that sees the new version finds all it
    needs. Arguments are checked before anything is written. Returns the
    paths written, the version file's first."""
    if (addin32 is None) != (addin64 is None):
        raise ValueError("--addin32 and --addin64 go together")
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

    path = os.path.join(root, VERSION_FILE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    written = []
    if addin64 is not None:
        # The 64-bit package first, as the manifest lists it.
        written += [write_package(root, 64, addin64), write_package(root, 32, addin32)]
    manifest, signature = os.path.join(root, MANIFEST), os.path.join(root, SIGNATURE)
    if key is not None:
        packages = []
        for package in written:
            digest, size = sha256_and_size(package)
            packages.append((os.path.basename(package), size, digest))
        text = manifest_text(version, packages, expires)
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
    sha256)]}. Stricter than the installer where it costs nothing: every
    line ends in LF and has a field name."""
    if data.startswith(BOM):
        raise VerifyError("release.txt starts with a byte-order mark")
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise VerifyError("release.txt is not UTF-8")
    if not text.endswith("\n"):
        raise VerifyError("release.txt does not end with a line feed")
    fields = {"format": None, "version": None, "expires": None, "packages": []}
    for number, line in enumerate(text[:-1].split("\n"), 1):
        line = line[:-1] if line.endswith("\r") else line
        name, blank, value = line.partition(" ")
        where = "release.txt line %d" % number
        if not name or not blank:
            raise VerifyError("%s is not a field name, a blank and a value: %r" % (where, line))
        if number == 1 and name != "format":
            raise VerifyError("release.txt does not start with its format")
        if name in ("format", "version", "expires") and fields[name] is not None:
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
                    or not re.match(r"[0-9a-f]{64}\Z", parts[2])):
                raise VerifyError("%s: not a package name, size and lower-case SHA-256: %r" % (where, value))
            fields["packages"].append((parts[0], int(parts[1]), parts[2]))
    if fields["version"] is None:
        raise VerifyError("release.txt has no version")
    return fields


def verify(root, public_key, today=None):
    """Checks a published folder as the installer will: the signature under
    `public_key`, the manifest's fields, the version file agreeing with it
    and every package's size and SHA-256. Returns what was checked, a line
    each; VerifyError with the first thing that is wrong."""
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


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("release-server: %s %s %s\n"
                         % (self.address_string(), self.tls_version, fmt % args))

    def log_request(self, code="-", size="-"):
        # One line a request, with what a test needs to tell a resumed
        # download from a fresh one.
        headers = getattr(self, "headers", None)
        extra = ""
        for name in ("Range", "If-Range"):
            if headers is not None and headers.get(name) is not None:
                extra += " %s: %s" % (name, headers.get(name))
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
        full = resolve(self.root, self.path)
        if full is None:
            self.send_body(404, "text/html", NOT_FOUND_PAGE, head_only)
            return
        ctype = CONTENT_TYPES.get(os.path.splitext(full)[1].lower(), "application/octet-stream")
        with open(full, "rb") as f:
            # The validators and the length come from the file as opened, so
            # a publish that replaces it meanwhile cannot mix two versions.
            stat = os.fstat(f.fileno())
            size = stat.st_size
            etag, mtime = entity_tag(stat), stat.st_mtime
            wanted = parse_range(self.headers.get("Range"), size)
            if wanted is not None and self.headers.get("If-Range") is not None \
                    and not if_range_matches(self.headers["If-Range"], etag, mtime):
                wanted = None
            if wanted == UNSATISFIABLE:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_file_headers(ctype, 0, etag, mtime)
                return
            if wanted is None:
                first, length = 0, size
                self.send_response(200)
            else:
                first, length = wanted[0], wanted[1] - wanted[0] + 1
                self.send_response(206)
                self.send_header("Content-Range", "bytes %d-%d/%d" % (wanted[0], wanted[1], size))
            self.send_file_headers(ctype, length, etag, mtime)
            if not head_only:
                self.send_file(f, first, length)

    def send_file_headers(self, ctype, length, etag, mtime):
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(length))
        self.send_header("Accept-Ranges", "bytes")
        if etag is not None:
            self.send_header("ETag", etag)
        if mtime is not None:
            self.send_header("Last-Modified", email.utils.formatdate(mtime, usegmt=True))
        self.end_headers()

    def send_file(self, f, first, length):
        """Sends `length` bytes of `f` from `first` on, a chunk at a time:
        packages can be far larger than what is worth holding in memory."""
        f.seek(first)
        sent = 0
        while sent < length:
            data = f.read(min(CHUNK, length - sent))
            if not data:
                # The file shrank while it was sent: the length announced
                # cannot be kept, and the client must see a broken transfer.
                self.close_connection = True
                return
            self.wfile.write(data)
            sent += len(data)

    def do_GET(self):
        self.serve(False)

    def do_HEAD(self):
        self.serve(True)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, handler, context, root):
        super().__init__(address, handler)
        self.context = context
        self.root = root

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
        try:
            tls = self.context.wrap_socket(request, server_side=True)
        except ssl.SSLEOFError:
            return  # a port probe such as `wait`, or a client that gave up
        except OSError as e:
            # A client that rejects the certificate inside the handshake (an
            # OpenSSL one sends "unknown ca"), or one that speaks no TLS 1.2.
            sys.stderr.write("release-server: %s: TLS handshake failed: %s\n" % (client_address[0], e))
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        sys.stderr.write("release-server: %s: %s\n" % (client_address, sys.exc_info()[1]))


def serve(root, port, state, pidfile):
    make_certs(state)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(os.path.join(state, "server.pem"), os.path.join(state, "server.key"))
    Handler.root = root
    server = Server(("127.0.0.1", port), Handler, context, root)
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
                                args.expires):
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
