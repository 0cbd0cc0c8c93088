#!/usr/bin/env python3
"""The bundled local release server: HTTPS on loopback, serving a folder.

  release_server.py certs   --state DIR
  release_server.py publish --root DIR --version 1.7.18
  release_server.py publish --root DIR --addin32 DLL --addin64 DLL [--version V]
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
"""

import argparse
import http.server
import os
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


def publish(root, version=None, addin32=None, addin64=None):
    """Writes the version file and, given both libraries, the two packages
    (first, so that a client that sees the new version finds them).
    Returns the version file's path."""
    if (addin32 is None) != (addin64 is None):
        raise ValueError("--addin32 and --addin64 go together")
    if version is None:
        if addin64 is None:
            raise ValueError("a version is needed when no libraries are published")
        version = version_text(file_version(addin64))
    path = os.path.join(root, VERSION_FILE)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if addin64 is not None:
        write_package(root, 32, addin32)
        write_package(root, 64, addin64)
    with open(path, "wb") as f:
        # The program drops the first character of the file: a byte-order mark.
        f.write(b"\xef\xbb\xbf" + version.encode("utf-8"))
    return path


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


class Handler(http.server.BaseHTTPRequestHandler):
    root = "."
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("release-server: %s %s %s\n"
                         % (self.address_string(), self.tls_version, fmt % args))

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
        with open(full, "rb") as f:
            body = f.read()
        ctype = CONTENT_TYPES.get(os.path.splitext(full)[1].lower(), "application/octet-stream")
        self.send_body(200, ctype, body, head_only)

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
    p = sub.add_parser("publish")
    p.add_argument("--root", required=True)
    p.add_argument("--version", help="the version text; by default the 64-bit library's file version")
    p.add_argument("--addin32", metavar="DLL", help="the 32-bit add-in library to package")
    p.add_argument("--addin64", metavar="DLL", help="the 64-bit add-in library to package")
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
    elif args.command == "publish":
        try:
            print(publish(args.root, args.version, args.addin32, args.addin64))
        except (OSError, ValueError) as e:
            parser.error(str(e))
        if args.addin64:
            print(package_path(args.root, 32))
            print(package_path(args.root, 64))
    elif args.command == "serve":
        serve(args.root, args.port, args.state, args.pidfile)
    elif args.command == "wait":
        return wait(args.port, args.timeout)
    return 0


if __name__ == "__main__":
    sys.exit(main())
