"""The bundled release server over real TLS on loopback."""

import email.utils
import hashlib
import http.client
import io
import os
import random
import re
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

ROOT = os.path.join(os.path.dirname(__file__), "..", "..")
TOOLS = os.path.join(ROOT, "tools")
sys.path.insert(0, TOOLS)
import release_server  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ReleaseServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.root = os.path.join(cls.dir.name, "www")
        cls.state = os.path.join(cls.dir.name, "state")
        os.makedirs(cls.root)
        with open(os.path.join(cls.dir.name, "secret.txt"), "w") as f:
            f.write("outside the root")
        cls.port = free_port()
        cls.log = os.path.join(cls.dir.name, "server.log")
        with open(cls.log, "wb") as log:
            cls.server = subprocess.Popen(
                [sys.executable, os.path.join(TOOLS, "release_server.py"), "serve", "--root", cls.root,
                 "--port", str(cls.port), "--state", cls.state], stderr=log)
        if release_server.wait(cls.port, 30) != 0:
            raise RuntimeError("the server did not start")
        cls.context = ssl.create_default_context(cafile=os.path.join(cls.state, "ca.pem"))

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(10)
        cls.dir.cleanup()

    def get(self, path, method="GET"):
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request(method, path)
            response = conn.getresponse()
            return response.status, response.getheader("Content-Type"), response.read()
        finally:
            conn.close()

    def test_published_version_file_is_served_byte_for_byte(self):
        path = release_server.publish(self.root, "1.7.18", unsigned=True)[0]
        with open(path, "rb") as f:
            self.assertEqual(f.read(), b"\xef\xbb\xbf1.7.18")
        status, ctype, body = self.get("/files/publish/xlllibver.txt")
        self.assertEqual(status, 200)
        self.assertEqual(ctype, "text/plain; charset=utf-8")
        self.assertEqual(body, b"\xef\xbb\xbf1.7.18")

    def test_missing_file_is_404_with_an_error_page(self):
        status, _, body = self.get("/files/publish/ORBITQuarry64n.zip")
        self.assertEqual(status, 404)
        self.assertIn(b"Not Found", body)

    def test_requests_cannot_leave_the_root(self):
        for path in ("/../secret.txt", "/%2e%2e/secret.txt", "/files/..%2f..%2fsecret.txt", "/.refuse"):
            with self.subTest(path=path):
                status, _, body = self.get(path)
                self.assertEqual(status, 404)
                self.assertNotIn(b"outside the root", body)

    def test_unusable_paths_are_404_not_a_dropped_connection(self):
        for path in ("/files/publish/xlllibver.txt%00", "/files/publish/xlllibver.txt%00.zip", "/%ff%fe", "/files"):
            with self.subTest(path=path):
                self.assertEqual(self.get(path)[0], 404)

    def test_head_sends_the_headers_of_get_without_a_body(self):
        release_server.publish(self.root, "1.7.18", unsigned=True)
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request("HEAD", "/files/publish/xlllibver.txt")
            response = conn.getresponse()
            self.assertEqual((response.status, response.getheader("Content-Length")), (200, "9"))
            self.assertEqual(response.read(), b"")
            # The connection is still in step: a GET on it gets the body.
            conn.request("GET", "/files/publish/xlllibver.txt")
            self.assertEqual(conn.getresponse().read(), b"\xef\xbb\xbf1.7.18")
        finally:
            conn.close()

    def test_a_client_stuck_in_the_handshake_does_not_hold_up_others(self):
        release_server.publish(self.root, "1.7.18", unsigned=True)
        with socket.create_connection(("127.0.0.1", self.port), timeout=10):
            started = time.monotonic()
            conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=5)
            try:
                conn.request("GET", "/files/publish/xlllibver.txt")
                self.assertEqual(conn.getresponse().status, 200)
            finally:
                conn.close()
            self.assertLess(time.monotonic() - started, 5)

    def test_refuse_flag_drops_connections_until_removed(self):
        flag = os.path.join(self.root, ".refuse")
        open(flag, "w").close()
        try:
            with self.assertRaises((ssl.SSLError, ConnectionError, OSError)):
                self.get("/files/publish/xlllibver.txt")
        finally:
            os.remove(flag)
        release_server.publish(self.root, "1.7.19", unsigned=True)
        self.assertEqual(self.get("/files/publish/xlllibver.txt")[0], 200)

    def test_behind_the_proxy_only_its_tunnels_get_through(self):
        proxy_port, auth_port = free_port(), free_port()
        log = os.path.join(self.dir.name, "proxy.log")
        proxy = subprocess.Popen([sys.executable, os.path.join(TOOLS, "test_proxy.py"), "--port", str(proxy_port),
                                  "--auth-port", str(auth_port), "--log", log])
        flag = os.path.join(self.root, ".proxy-only")
        open(flag, "w").close()
        try:
            self.assertEqual(release_server.wait(proxy_port, 30), 0)
            self.assertEqual(release_server.wait(auth_port, 30), 0)
            with self.assertRaises((ssl.SSLError, ConnectionError, OSError)):
                self.get("/files/publish/xlllibver.txt")
            release_server.publish(self.root, "1.7.20", unsigned=True)

            conn = http.client.HTTPSConnection("127.0.0.1", proxy_port, context=self.context, timeout=10)
            conn.set_tunnel("localhost", self.port)
            conn.request("GET", "/files/publish/xlllibver.txt")
            self.assertEqual(conn.getresponse().read(), b"\xef\xbb\xbf1.7.20")
            conn.close()

            refused = http.client.HTTPSConnection("127.0.0.1", auth_port, context=self.context, timeout=10)
            refused.set_tunnel("localhost", self.port)
            with self.assertRaisesRegex(OSError, "407"):
                refused.request("GET", "/files/publish/xlllibver.txt")
            refused.close()

            pac = http.client.HTTPConnection("127.0.0.1", proxy_port, timeout=10)
            pac.request("GET", "/proxy.pac")
            script = pac.getresponse().read().decode()
            pac.close()
            self.assertIn('return "PROXY 127.0.0.1:%d"' % proxy_port, script)

            with open(log) as f:
                self.assertEqual(f.read().splitlines(),
                                 ["tunnel localhost:%d" % self.port, "refused localhost:%d" % self.port])
        finally:
            os.remove(flag)
            proxy.terminate()
            proxy.wait(10)

    def request(self, path, headers=None, method="GET"):
        """(response, the body bytes that came, whether that was all of it)."""
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request(method, path, headers=headers or {})
            response = conn.getresponse()
            body = bytearray()
            try:
                # Read in pieces, a body ends early without an error where
                # the connection did.
                for piece in iter(lambda: response.read(8192), b""):
                    body += piece
            except (http.client.IncompleteRead, OSError):
                return response, bytes(body), False
            return response, bytes(body), len(body) == int(response.getheader("Content-Length") or 0)
        finally:
            conn.close()

    def write_package(self, name="ranges.zip", size=200_000):
        """A file that never repeats itself, so that a piece from the wrong
        offset cannot pass for the right one; (url, bytes)."""
        data = random.Random(name).randbytes(size)
        path = os.path.join(self.root, "files", "publish", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        self.addCleanup(os.remove, path)
        return "/files/publish/" + name, data

    def switch_on(self, name, content=""):
        """Creates a control file in the served folder for this test."""
        path = os.path.join(self.root, name)
        with open(path, "w") as f:
            f.write(content)
        self.addCleanup(lambda: os.path.exists(path) and os.remove(path))
        return path

    def test_ranges_answer_206_416_or_the_whole_file(self):
        url, data = self.write_package()
        size = len(data)
        # Range: (status, first, last byte of the answer).
        cases = {"bytes=70000-": (206, 70000, size - 1), "bytes=65530-65545": (206, 65530, 65545),
                 "bytes=100-300000": (206, 100, size - 1), "bytes=-10": (206, size - 10, size - 1),
                 "Bytes = 5 - 9": (206, 5, 9), "bytes=200000-": (416, 0, -1), "bytes=-0": (416, 0, -1),
                 "bytes=0-9,20-29": (200, 0, size - 1), "bytes=9-5": (200, 0, size - 1),
                 "items=0-9": (200, 0, size - 1), "bytes=a-": (200, 0, size - 1)}
        for header, (status, first, last) in cases.items():
            with self.subTest(header):
                response, body, _ = self.request(url, {"Range": header})
                self.assertEqual((response.status, body), (status, data[first:last + 1]))
                self.assertEqual(response.getheader("Content-Length"), str(last - first + 1))
                self.assertEqual(response.getheader("Content-Range"),
                                 {206: "bytes %d-%d/%d" % (first, last, size), 416: "bytes */%d" % size,
                                  200: None}[status])
        response, body, _ = self.request(url, {"Range": "bytes=1000-"}, method="HEAD")
        self.assertEqual((response.status, body, response.getheader("Content-Length")), (206, b"", str(size - 1000)))

    def test_validators_follow_the_file_and_if_range_guards_the_range(self):
        url, data = self.write_package()
        path = os.path.join(self.root, url.lstrip("/"))
        response, _, _ = self.request(url)
        etag, modified = response.getheader("ETag"), response.getheader("Last-Modified")
        self.assertEqual(response.getheader("Accept-Ranges"), "bytes")
        self.assertRegex(etag, r'\A"[^"]+"\Z')  # strong
        self.assertEqual(modified, email.utils.formatdate(os.path.getmtime(path), usegmt=True))
        earlier = email.utils.formatdate(os.path.getmtime(path) - 60, usegmt=True)
        # If-Range: whether the rest is served (206) or the whole file (200).
        for value, status in {etag: 206, modified: 206, '"another"': 200, "W/" + etag: 200, earlier: 200,
                              "not a date": 200}.items():
            with self.subTest(value):
                response, body, _ = self.request(url, {"Range": "bytes=150000-", "If-Range": value})
                self.assertEqual((response.status, body), (status, data[150000:] if status == 206 else data))
        # The same size and other bytes, as a package published again can be.
        with open(path, "wb") as f:
            f.write(data[::-1])
        os.utime(path, ns=(time.time_ns(), time.time_ns() + 5_000_000_000))
        self.assertNotEqual(self.request(url)[0].getheader("ETag"), etag)

    def test_cut_resets_each_package_response_so_only_resuming_completes(self):
        url, data = self.write_package("cut.zip")
        self.switch_on(".cut")  # empty: half the file, rounded up
        response, body, whole = self.request(url)
        self.assertEqual((response.status, body, whole), (200, data[:100000], False))
        etag = response.getheader("ETag")
        response, body, whole = self.request(url, {"Range": "bytes=100000-", "If-Range": etag})
        self.assertEqual((response.status, body, whole), (206, data[100000:], True))
        with open(self.log) as f:
            self.assertIn('"GET %s HTTP/1.1" 206 - Range: bytes=100000- If-Range: %s\n' % (url, etag), f.read())

        self.switch_on(".cut", "30000")
        received, responses = b"", 0
        while len(received) < len(data) and responses < 20:
            received += self.request(url, {"Range": "bytes=%d-" % len(received)})[1]
            responses += 1
        self.assertEqual((received, responses), (data, 7))
        self.assertEqual(self.request(url)[1:], (data[:30000], False))  # starting over gets no further
        # Dropped, not closed: no TLS close_notify follows the last byte.
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with self.context.wrap_socket(raw, server_hostname="localhost", suppress_ragged_eofs=False) as tls:
                tls.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % url.encode())
                with self.assertRaises((ssl.SSLEOFError, ConnectionResetError)):
                    while tls.recv(65536):
                        pass
        release_server.publish(self.root, "1.7.18", unsigned=True)
        self.switch_on(".cut", "2")
        self.assertEqual(self.request("/files/publish/xlllibver.txt")[1:], (b"\xef\xbb\xbf1.7.18", True))

    def test_package_flags_take_validators_ranges_or_https_away(self):
        url, data = self.write_package()
        etag = self.request(url)[0].getheader("ETag")
        release_server.publish(self.root, "1.7.18", unsigned=True)
        flag = self.switch_on(".no-validators")
        response, body, _ = self.request(url, {"Range": "bytes=100-", "If-Range": etag})
        self.assertEqual((response.status, body, response.getheader("ETag"), response.getheader("Last-Modified")),
                         (200, data, None, None))
        self.assertEqual(self.request(url, {"Range": "bytes=100-"})[1], data[100:])
        os.remove(flag)
        flag = self.switch_on(".ignore-range")
        response, body, _ = self.request(url, {"Range": "bytes=100-", "If-Range": etag})
        self.assertEqual((response.status, body, response.getheader("Content-Range")), (200, data, None))
        os.remove(flag)
        self.switch_on(".redirect-http")
        for method in ("GET", "HEAD"):
            response, body, _ = self.request(url + "?x=1", method=method)
            self.assertEqual((response.status, body), (302, b""))
            self.assertEqual(response.getheader("Location"), "http://localhost:%d%s?x=1" % (self.port, url))
        # None of them touches other files.
        self.switch_on(".no-validators")
        self.switch_on(".ignore-range")
        response, _, _ = self.request("/files/publish/xlllibver.txt", {"Range": "bytes=3-"})
        self.assertEqual(response.status, 206)
        self.assertIsNotNone(response.getheader("ETag"))

    def test_stall_reads_a_package_request_and_never_answers(self):
        url, data = self.write_package()
        release_server.publish(self.root, "1.7.18", unsigned=True)
        flag = self.switch_on(".stall")
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with self.context.wrap_socket(raw, server_hostname="localhost") as tls:
                tls.sendall(b"GET %s HTTP/1.1\r\nHost: localhost\r\n\r\n" % url.encode())
                tls.settimeout(2)
                with self.assertRaises(socket.timeout):
                    tls.recv(1)
                self.assertEqual(self.request("/files/publish/xlllibver.txt")[0].status, 200)
        os.remove(flag)
        self.assertEqual(self.request(url)[1], data)

    def test_trickle_paces_a_package_and_follows_its_file_as_it_changes(self):
        url, data = self.write_package()
        flag = self.switch_on(".trickle", "100000")
        started = time.monotonic()
        self.assertEqual(self.request(url)[1:], (data, True))
        self.assertTrue(1.7 < time.monotonic() - started < 6)  # 200,000 bytes at 100,000 a second
        # Empty, the default 20,000 a second would take ten seconds: removing
        # the file lets the download under way finish at once.
        self.switch_on(".trickle")
        threading.Timer(1, os.remove, [flag]).start()
        started = time.monotonic()
        self.assertEqual(self.request(url)[1:], (data, True))
        self.assertTrue(0.9 < time.monotonic() - started < 4)

    def test_certificate_names_localhost_and_chains_to_the_authority(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with self.context.wrap_socket(raw, server_hostname="localhost") as tls:
                self.assertIsNotNone(tls.getpeercert())
        untrusting = ssl.create_default_context()
        with self.assertRaises(ssl.SSLCertVerificationError):
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
                untrusting.wrap_socket(raw, server_hostname="localhost")


    def handshake(self, context):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with context.wrap_socket(raw, server_hostname="localhost") as tls:
                return tls.getpeercert()

    def test_certificate_flags_each_fail_verification_for_their_own_reason(self):
        with open(os.path.join(self.state, "ca.der"), "rb") as f:
            from_der = ssl.create_default_context(cadata=f.read())
        # What the certificate passes but for that reason: it fails for that one only.
        no_time_check = ssl.create_default_context(cafile=os.path.join(self.state, "ca.pem"))
        no_time_check.verify_flags |= 0x200000  # X509_V_FLAG_NO_CHECK_TIME
        no_host_check = ssl.create_default_context(cafile=os.path.join(self.state, "ca.pem"))
        no_host_check.check_hostname = False
        other_authority = ssl.create_default_context(cafile=os.path.join(self.state, "untrusted-ca.pem"))
        cases = {".cert-expired": ("certificate has expired", no_time_check),
                 ".cert-wronghost": ("Hostname mismatch", no_host_check),
                 ".cert-untrusted": ("unable to get local issuer certificate", other_authority)}
        for flag, (reason, but_for_that) in cases.items():
            with self.subTest(flag):
                path = self.switch_on(flag)
                for context in (self.context, from_der):
                    with self.assertRaises(ssl.SSLCertVerificationError) as caught:
                        self.handshake(context)
                    self.assertIn(reason, caught.exception.verify_message)
                self.assertIsNotNone(self.handshake(but_for_that))
                os.remove(path)
                self.assertIsNotNone(self.handshake(from_der))

    def test_a_connection_kept_from_before_a_certificate_flag_is_not_served(self):
        release_server.publish(self.root, "1.7.18", unsigned=True)
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request("GET", "/files/publish/xlllibver.txt")
            self.assertEqual(conn.getresponse().read(), b"\xef\xbb\xbf1.7.18")
            self.switch_on(".cert-expired")
            conn.request("GET", "/files/publish/xlllibver.txt")
            with self.assertRaises(http.client.RemoteDisconnected):
                conn.getresponse()
            conn.close()
            with self.assertRaises(ssl.SSLCertVerificationError):  # a new connection meets the flag
                conn.request("GET", "/files/publish/xlllibver.txt")
        finally:
            conn.close()


class CertificateStateTest(unittest.TestCase):
    def test_an_existing_state_folder_gains_the_variants_and_keeps_its_files(self):
        with tempfile.TemporaryDirectory() as state:
            release_server.make_certs(state)
            variants = {"expired.pem", "wronghost.pem", "untrusted.pem", "untrusted-ca.pem", "untrusted-ca.key"}
            for name in variants:
                os.remove(os.path.join(state, name))
            kept = {}
            for name in os.listdir(state):
                with open(os.path.join(state, name), "rb") as f:
                    kept[name] = f.read()
            release_server.make_certs(state)
            for name, data in kept.items():
                with open(os.path.join(state, name), "rb") as f:
                    self.assertEqual(f.read(), data, name)
            self.assertEqual(set(os.listdir(state)) - set(kept), variants)
            dates = run_openssl("x509", "-in", os.path.join(state, "expired.pem"), "-noout", "-enddate").decode()
            self.assertLess(ssl.cert_time_to_seconds(dates.strip().partition("=")[2]), time.time())


class ServerLifetimeTest(unittest.TestCase):
    def test_sigterm_exits_cleanly_and_removes_the_pidfile(self):
        with tempfile.TemporaryDirectory() as d:
            pidfile = os.path.join(d, "server.pid")
            port = free_port()
            server = subprocess.Popen(
                [sys.executable, os.path.join(TOOLS, "release_server.py"), "serve", "--root", d,
                 "--port", str(port), "--state", os.path.join(d, "state"), "--pidfile", pidfile],
                stderr=subprocess.DEVNULL)
            try:
                self.assertEqual(release_server.wait(port, 30), 0)
                with open(pidfile) as f:
                    self.assertEqual(int(f.read()), server.pid)
                server.terminate()
                self.assertEqual(server.wait(10), 0)
                self.assertFalse(os.path.exists(pidfile))
                with self.assertRaises(ConnectionRefusedError):
                    socket.create_connection(("127.0.0.1", port), timeout=5).close()
            finally:
                if server.poll() is None:
                    server.kill()
                    server.wait()


def version_block(file_version, product_version):
    """The start of a VS_VERSIONINFO resource: its header, then the
    VS_FIXEDFILEINFO at the DWORD boundary after the key."""
    def split(v):
        return (v[0] << 16 | v[1], v[2] << 16 | v[3])
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    header = struct.pack("<HHH", 0, 52, 0) + key
    header += b"\0" * (-len(header) % 4)
    fixed = struct.pack("<13I", 0xFEEF04BD, 0x00010000, *split(file_version), *split(product_version),
                        0x3F, 0, 0x40004, 2, 0, 0, 0)
    return header + fixed


DLL, PROGRAM = 0x2022, 0x0022  # COFF characteristics


def fake_pe(sections, characteristics=DLL):
    """A PE image with just enough structure to be read: the MZ stub, the
    PE and COFF headers, an empty optional header and the sections given
    as (name, bytes)."""
    optional_size = 0xF0
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, len(dos))
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, len(sections), 0, 0, 0, optional_size, characteristics)
    headers_end = len(dos) + len(coff) + optional_size + 40 * len(sections)
    offset = headers_end + (-headers_end % 0x200)
    table, bodies = b"", b""
    for i, (name, data) in enumerate(sections):
        raw = data + b"\0" * (-len(data) % 0x200)
        table += struct.pack("<8sIIIIIIHHI", name.encode(), len(data), 0x1000 * (i + 1), len(raw), offset,
                             0, 0, 0, 0, 0x40000040)
        bodies += raw
        offset += len(raw)
    head = bytes(dos) + coff + bytes(optional_size) + table
    return head + b"\0" * (-len(head) % 0x200) + bodies


def write_pe(folder, name, file_version, product_version=(2026, 12, 0, 0), text=b"", characteristics=DLL):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(fake_pe([(".text", text or b"\xc3" * 64),
                         (".rsrc", b"\0" * 24 + version_block(file_version, product_version))], characteristics))
    return path


def text_file_version(path):
    """The "FileVersion" string of a built library's version resource."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find("FileVersion\0".encode("utf-16-le"))
    if at < 0:
        return None
    at += len("FileVersion\0") * 2
    at += -at % 4
    end = data.find(b"\0\0", at)
    while (end - at) % 2:
        end = data.find(b"\0\0", end + 1)
    return data[at:end].decode("utf-16-le")


class FileVersionTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def test_reads_the_file_version_not_the_product_version(self):
        path = write_pe(self.dir.name, "a.dll", (1, 7, 18, 0), (2026, 12, 0, 0))
        self.assertEqual(release_server.file_version(path), (1, 7, 18, 0))
        path = write_pe(self.dir.name, "b.dll", (65535, 0, 300, 65534), (1, 2, 3, 4))
        self.assertEqual(release_server.file_version(path), (65535, 0, 300, 65534))

    def test_only_the_resource_section_is_searched(self):
        # Code can hold the signature's bytes; the resource decides.
        decoy = struct.pack("<5I", 0xFEEF04BD, 0x00010000, 0x00090009, 0x00090009, 0) * 4
        path = write_pe(self.dir.name, "c.dll", (1, 7, 19, 2), text=decoy)
        self.assertEqual(release_server.file_version(path), (1, 7, 19, 2))

    def test_images_without_a_version_are_refused(self):
        cases = {"plain.txt": b"MZ not really" + b"\0" * 100,
                 "short.bin": b"MZ",
                 "norsrc.dll": fake_pe([(".text", b"\xc3" * 16)]),
                 "empty-rsrc.dll": fake_pe([(".rsrc", b"\0" * 64)])}
        for name, data in cases.items():
            with self.subTest(name=name):
                path = os.path.join(self.dir.name, name)
                with open(path, "wb") as f:
                    f.write(data)
                with self.assertRaises(ValueError):
                    release_server.file_version(path)

    def test_version_text_leaves_off_a_zero_build_number_only(self):
        for parts, text in (((1, 7, 18, 0), "1.7.18"), ((1, 7, 18, 3), "1.7.18.3"),
                            ((2, 0, 0, 0), "2.0.0"), ((1, 0, 10, 0), "1.0.10")):
            with self.subTest(parts=parts):
                self.assertEqual(release_server.version_text(parts), text)

    def test_built_stand_in_library_reads_as_its_stamped_version(self):
        candidates = [os.environ.get("OQ_STANDIN_ADDIN64", "")]
        candidates += [os.path.join(ROOT, "build", tree, "bin", "oq_addin.dll")
                       for tree in ("wine", "standins32")]
        built = [p for p in candidates if p and os.path.exists(p)]
        if not built:
            self.skipTest("no stand-in library built (tests/standins)")
        for path in built:
            with self.subTest(path=path):
                parts = release_server.file_version(path)
                self.assertNotEqual(parts, (2026, 12, 0, 0))
                self.assertEqual(".".join(map(str, parts)), text_file_version(path))


class PublishPackagesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.root = os.path.join(self.dir.name, "www")
        self.publish_dir = os.path.join(self.root, "files", "publish")
        self.lib32 = write_pe(self.dir.name, "lib32.dll", (9, 9, 9, 9), text=b"32-bit code" * 50)
        self.lib64 = write_pe(self.dir.name, "lib64.dll", (1, 7, 18, 0), text=b"64-bit code" * 50)

    def read(self, *parts):
        with open(os.path.join(self.root, *parts), "rb") as f:
            return f.read()

    def test_packages_hold_the_library_under_its_package_name_and_a_nested_file(self):
        release_server.publish(self.root, addin32=self.lib32, addin64=self.lib64, unsigned=True)
        for bits, source in ((32, self.lib32), (64, self.lib64)):
            with self.subTest(bits=bits):
                with zipfile.ZipFile(os.path.join(self.publish_dir, "ORBITQuarry%dn.zip" % bits)) as z:
                    self.assertIsNone(z.testzip())
                    self.assertEqual(z.namelist(), ["ORBITQuarry%dn.dll" % bits, "docs/readme.txt"])
                    for info in z.infolist():
                        self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED, info.filename)
                    with open(source, "rb") as f:
                        self.assertEqual(z.read("ORBITQuarry%dn.dll" % bits), f.read())
                    self.assertTrue(z.read("docs/readme.txt"))

    def test_version_file_follows_the_64_bit_library(self):
        release_server.publish(self.root, addin32=self.lib32, addin64=self.lib64, unsigned=True)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.7.18")
        lib64 = write_pe(self.dir.name, "next64.dll", (1, 7, 19, 4))
        release_server.publish(self.root, addin32=self.lib32, addin64=lib64, unsigned=True)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.7.19.4")

    def test_a_given_version_overrides_the_librarys(self):
        release_server.publish(self.root, "1.8.0", addin32=self.lib32, addin64=self.lib64, unsigned=True)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.8.0")
        self.assertTrue(os.path.exists(os.path.join(self.publish_dir, "ORBITQuarry64n.zip")))

    def test_without_libraries_only_the_version_file_is_written(self):
        release_server.publish(self.root, "1.7.18", unsigned=True)
        self.assertEqual(os.listdir(self.publish_dir), ["xlllibver.txt"])

    def test_unusable_arguments_write_nothing(self):
        bad = os.path.join(self.dir.name, "bad.dll")
        with open(bad, "wb") as f:
            f.write(b"not a library")
        key, public = make_key_pair(self.dir.name, "release-key")
        other_curve = os.path.join(self.dir.name, "p384.pem")
        run_openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384", "-out", other_curve)
        libs = {"addin32": self.lib32, "addin64": self.lib64}
        for kwargs in ({"addin64": self.lib64, "unsigned": True},
                       {"addin32": self.lib32, "version": "1.7.18", "unsigned": True},
                       {"addin32": self.lib32, "addin64": bad, "unsigned": True}, {"unsigned": True},
                       {"version": "1.7 beta", "unsigned": True},
                       # Signing: no key and no --unsigned, both, a key that is
                       # missing, public, or of another curve, and dates that
                       # are not dates or have no manifest to go in.
                       libs, dict(libs, key=key, unsigned=True), dict(libs, key=key + ".missing"),
                       dict(libs, key=public), dict(libs, key=other_curve),
                       dict(libs, key=key, expires="2027-6-30"), dict(libs, key=key, expires="2027-02-30"),
                       dict(libs, unsigned=True, expires="2027-06-30")):
            with self.subTest(kwargs=kwargs):
                with self.assertRaises(ValueError):
                    release_server.publish(self.root, **kwargs)
                self.assertFalse(os.path.exists(self.root))

    def test_command_line_publishes_and_reports_errors_as_usage(self):
        script = os.path.join(TOOLS, "release_server.py")
        done = subprocess.run([sys.executable, script, "publish", "--root", self.root,
                               "--addin32", self.lib32, "--addin64", self.lib64, "--unsigned"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([os.path.basename(p) for p in done.stdout.split()],
                         ["xlllibver.txt", "ORBITQuarry64n.zip", "ORBITQuarry32n.zip"])
        done = subprocess.run([sys.executable, script, "publish", "--root", self.root, "--addin64", self.lib64,
                               "--unsigned"], capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)
        self.assertIn("--addin32 and --addin64 go together", done.stderr)
        root = os.path.join(self.dir.name, "unsigned")
        done = subprocess.run([sys.executable, script, "publish", "--root", root, "--version", "1.7.18"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)
        self.assertIn("refusing to publish an unsigned release", done.stderr)
        self.assertIn("--unsigned", done.stderr)
        self.assertFalse(os.path.exists(root))


def run_openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True).stdout


def make_key_pair(folder, name):
    """A key pair made by the tool: (private PEM path, public PEM path)."""
    private, public = (os.path.join(folder, name + ext) for ext in (".pem", ".pub.pem"))
    release_server.keygen(private, public)
    return private, public


def signature_verifies(public, signature, data):
    """Whether openssl itself accepts `signature` over `data`."""
    with tempfile.NamedTemporaryFile() as f:
        f.write(data)
        f.flush()
        done = subprocess.run(["openssl", "dgst", "-sha256", "-verify", public, "-signature", signature, f.name],
                              capture_output=True)
    return done.returncode == 0


class SignedFolder(unittest.TestCase):
    """A published folder signed with a key of its own, and libraries to publish."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.root = os.path.join(self.dir.name, "www")
        self.lib32 = write_pe(self.dir.name, "lib32.dll", (1, 7, 18, 0), text=b"32-bit code" * 50)
        self.lib64 = write_pe(self.dir.name, "lib64.dll", (1, 7, 18, 0), text=b"64-bit code" * 50)
        self.key, self.public = make_key_pair(self.dir.name, "release-key")

    def path(self, name):
        return os.path.join(self.root, "files", "publish", name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def publish(self, **kwargs):
        kwargs.setdefault("key", self.key)
        return release_server.publish(self.root, addin32=self.lib32, addin64=self.lib64, **kwargs)

    def verify_cli(self, public=None):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "release_server.py"), "verify", "--root",
                               self.root, "--public-key", public or self.public], capture_output=True, text=True)

    def sign(self, manifest):
        """Writes `manifest` as the release's, signed with the right key."""
        with open(self.path("release.txt"), "wb") as f:
            f.write(manifest)
        with open(self.path("release.txt.sig"), "wb") as f:
            f.write(run_openssl("dgst", "-sha256", "-sign", self.key, data=manifest))


class SignedReleaseTest(SignedFolder):
    def test_keygen_makes_an_owner_only_p256_pair_and_never_overwrites(self):
        old = os.umask(0)  # the mode must not depend on the caller's umask
        try:
            private, public = make_key_pair(self.dir.name, "open")
        finally:
            os.umask(old)
        self.assertEqual(os.stat(private).st_mode & 0o777, 0o600)
        with open(public, "rb") as f:
            public_pem = f.read()
        self.assertTrue(public_pem.startswith(b"-----BEGIN PUBLIC KEY-----\n"))
        self.assertEqual(public_pem, run_openssl("ec", "-in", private, "-pubout"))
        self.assertIn(b"prime256v1", run_openssl("ec", "-pubin", "-in", public, "-noout", "-text"))

        with open(private, "rb") as f:
            before = f.read()
        done = subprocess.run([sys.executable, os.path.join(TOOLS, "release_server.py"), "keygen",
                               "--private", private, "--public", os.path.join(self.dir.name, "new.pub.pem")],
                              capture_output=True, text=True)
        self.assertNotEqual(done.returncode, 0)
        self.assertIn("never overwritten", done.stderr)
        with open(private, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertFalse(os.path.exists(os.path.join(self.dir.name, "new.pub.pem")))

    def test_manifest_is_exactly_the_release_format(self):
        self.publish(expires="2027-06-30")
        expected = b"format 1\nversion 1.7.18\nexpires 2027-06-30\n"
        for name in ("ORBITQuarry64n.zip", "ORBITQuarry32n.zip"):
            data = self.read(name)
            expected += b"package %s %d %s\n" % (name.encode(), len(data), hashlib.sha256(data).hexdigest().encode())
        self.assertEqual(self.read("release.txt"), expected)
        self.assertEqual(self.read("xlllibver.txt"), b"\xef\xbb\xbf1.7.18")

        self.publish(version="1.7.19")
        manifest = self.read("release.txt")
        self.assertTrue(manifest.startswith(b"format 1\nversion 1.7.19\npackage ORBITQuarry64n.zip "), manifest)
        self.assertNotIn(b"expires", manifest)

    def test_signature_is_der_ecdsa_over_the_manifest_bytes(self):
        self.publish()
        manifest, signature = self.read("release.txt"), self.path("release.txt.sig")
        with open(signature, "rb") as f:
            der = f.read()
        # SEQUENCE of two INTEGERs of at most 33 bytes each: P-256.
        self.assertEqual((der[0], der[1] + 2), (0x30, len(der)))
        self.assertLessEqual(len(der), 72)
        self.assertTrue(signature_verifies(self.public, signature, manifest))
        self.assertFalse(signature_verifies(self.public, signature, manifest.replace(b"1.7.18", b"1.7.19")))
        _, other = make_key_pair(self.dir.name, "other")
        self.assertFalse(signature_verifies(other, signature, manifest))

    def test_verify_accepts_what_publish_wrote_and_says_what_it_checked(self):
        self.publish(expires="2099-01-01")
        done = self.verify_cli()
        self.assertEqual(done.returncode, 0, done.stderr)
        for text in ("signature", "version 1.7.18", "expires 2099-01-01", "version file",
                     "ORBITQuarry64n.zip", "ORBITQuarry32n.zip", "verified"):
            self.assertIn(text, done.stdout)

    def test_verify_refuses_every_mismatch_with_its_reason(self):
        def write(name, data):
            with open(self.path(name), "wb") as f:
                f.write(data)

        def flip_byte(name):
            data = bytearray(self.read(name))
            data[len(data) // 2] ^= 1
            write(name, data)

        def rewrite(old, new):
            return lambda: self.sign(self.read("release.txt").replace(old, new))

        upper_hashes = re.compile(rb"[0-9a-f]{64}")
        _, other = make_key_pair(self.dir.name, "other")
        # name: (what spoils the published folder, the reason verify gives,
        # the public key it is given when not the right one)
        cases = {
            "tampered package": (lambda: flip_byte("ORBITQuarry32n.zip"), "SHA-256", None),
            "longer package": (lambda: write("ORBITQuarry64n.zip", self.read("ORBITQuarry64n.zip") + b"\0"),
                               "bytes", None),
            "missing package": (lambda: os.remove(self.path("ORBITQuarry64n.zip")), "missing", None),
            "wrong key": (lambda: None, "does not verify", other),
            "tampered manifest": (lambda: write("release.txt", self.read("release.txt").replace(b"1.7.18", b"1.7.19")),
                                  "does not verify", None),
            "missing signature": (lambda: os.remove(self.path("release.txt.sig")), "release.txt.sig is missing",
                                  None),
            "version mismatch": (lambda: write("xlllibver.txt", b"\xef\xbb\xbf1.7.19"), "version file", None),
            "version file without its mark": (lambda: write("xlllibver.txt", b"1.7.18"), "version file", None),
            "expired": (rewrite(b"version 1.7.18\n", b"version 1.7.18\nexpires 2020-01-31\n"),
                        "expired on 2020-01-31", None),
            "unlisted package": (rewrite(b"package ORBITQuarry32n.zip", b"x-package ORBITQuarry32n.zip"),
                                 "ORBITQuarry32n.zip is published but not in release.txt", None),
            "upper-case hash": (lambda: self.sign(upper_hashes.sub(lambda m: m.group().upper(),
                                                                   self.read("release.txt"))), "lower-case", None),
            "format 2": (rewrite(b"format 1", b"format 2"), "not 1", None),
            "byte-order mark": (lambda: self.sign(b"\xef\xbb\xbf" + self.read("release.txt")), "byte-order mark",
                                None),
            "no final line feed": (lambda: self.sign(self.read("release.txt")[:-1]), "line feed", None),
        }
        for name, (spoil, reason, public) in cases.items():
            with self.subTest(name):
                self.publish()
                spoil()
                done = self.verify_cli(public)
                self.assertEqual(done.returncode, 1, done.stdout)
                self.assertIn(reason, done.stderr)
                self.assertNotIn("verified", done.stdout)

    def test_verify_tolerates_what_the_installer_tolerates(self):
        self.publish()
        manifest = self.read("release.txt")
        for name, text in (("carriage returns", manifest.replace(b"\n", b"\r\n")),
                           ("unknown fields", manifest + b"notes built on a Friday\n")):
            with self.subTest(name):
                self.sign(text)
                done = self.verify_cli()
                self.assertEqual(done.returncode, 0, done.stderr)

    def test_unsigned_publish_writes_no_manifest_and_drops_a_signed_ones(self):
        self.publish()
        self.assertTrue(os.path.exists(self.path("release.txt.sig")))
        written = self.publish(key=None, unsigned=True)
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "files", "publish"))),
                         ["ORBITQuarry32n.zip", "ORBITQuarry64n.zip", "xlllibver.txt"])
        self.assertEqual(len(written), 3)
        done = self.verify_cli()
        self.assertEqual(done.returncode, 1)
        self.assertIn("release.txt is missing", done.stderr)


class InstallerReleaseTest(SignedFolder):
    """The installer line: installed copies update themselves to the
    installer a signed manifest lists."""

    def setUp(self):
        super().setUp()
        self.setup = write_pe(self.dir.name, "ORBITQuarrySetup.exe", (1, 7, 20, 3), text=b"new installer" * 60,
                              characteristics=PROGRAM)

    def installer_line(self, version=b"1.7.20.3"):
        data = self.read("ORBITQuarrySetup.exe")
        return b"installer ORBITQuarrySetup.exe %d %s %s\n" % (len(data), hashlib.sha256(data).hexdigest().encode(),
                                                                 version)

    def test_publish_copies_the_installer_and_lists_its_file_version(self):
        self.publish(installer=self.setup, expires="2099-01-01")
        with open(self.setup, "rb") as f:
            self.assertEqual(self.read("ORBITQuarrySetup.exe"), f.read())
        manifest = self.read("release.txt")
        self.assertTrue(manifest.startswith(b"format 1\nversion 1.7.18\nexpires 2099-01-01\npackage "), manifest)
        self.assertTrue(manifest.endswith(b"\n" + self.installer_line()), manifest)
        done = self.verify_cli()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("installer ORBITQuarrySetup.exe: version 1.7.20.3", done.stdout)

    def test_a_release_of_the_installer_alone_keeps_the_packages_and_later_ones_keep_it(self):
        self.publish()
        packages = self.read("release.txt").split(b"\n")[2:4]
        done = subprocess.run([sys.executable, os.path.join(TOOLS, "release_server.py"), "publish", "--root",
                               self.root, "--version", "1.7.18", "--key", self.key, "--installer", self.setup],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(self.read("release.txt"),
                         b"format 1\nversion 1.7.18\n" + b"\n".join(packages) + b"\n" + self.installer_line())
        self.assertEqual(self.verify_cli().returncode, 0)
        # The next add-in release lists it still, until the file is taken away.
        self.publish(version="1.7.19")
        self.assertTrue(self.read("release.txt").endswith(self.installer_line()))
        os.remove(self.path("ORBITQuarrySetup.exe"))
        self.publish(version="1.7.20")
        self.assertNotIn(b"installer", self.read("release.txt"))

    def test_publish_refuses_an_installer_it_cannot_list_and_writes_nothing(self):
        bare = os.path.join(self.dir.name, "bare.exe")
        with open(bare, "wb") as f:
            f.write(fake_pe([(".text", b"\xc3" * 16)], PROGRAM))
        named = os.path.join(self.dir.name, "named")
        os.makedirs(named)
        for installer, kwargs in ((bare, {}), (write_pe(self.dir.name, "setup.dll", (1, 7, 20, 0)), {}),
                                  (self.setup, {"key": None, "unsigned": True}),
                                  (shutil.copy(self.setup, os.path.join(named, "release.txt")), {}),
                                  (shutil.copy(self.setup, os.path.join(named, "Setup 2.exe")), {})):
            with self.subTest(installer=installer, **kwargs):
                with self.assertRaises(ValueError):
                    self.publish(installer=installer, **kwargs)
                self.assertFalse(os.path.exists(self.root))
        done = subprocess.run([sys.executable, os.path.join(TOOLS, "release_server.py"), "publish", "--root",
                               self.root, "--version", "1.7.18", "--key", self.key, "--installer", bare],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)
        self.assertIn("bare.exe has no version resource", done.stderr)

    def test_verify_refuses_every_installer_mismatch_with_its_reason(self):
        def listed_as(line):
            return lambda: self.sign(re.sub(rb"installer .*\n", lambda _: line, self.read("release.txt")))

        def write(data):
            with open(self.path("ORBITQuarrySetup.exe"), "wb") as f:
                f.write(data)

        def other_version():
            # The same program stamped 1.7.21.0, listed as 1.7.20.3.
            write(self.read("ORBITQuarrySetup.exe").replace(struct.pack("<I", 20 << 16 | 3), struct.pack("<I", 21 << 16)))
            listed_as(self.installer_line())()

        zeros = b"0" * 64
        cases = {
            "tampered": (lambda: write(self.read("ORBITQuarrySetup.exe").replace(b"new", b"old")), "SHA-256"),
            "longer": (lambda: write(self.read("ORBITQuarrySetup.exe") + b"\0"), "bytes"),
            "missing": (lambda: os.remove(self.path("ORBITQuarrySetup.exe")), "missing"),
            "a path": (listed_as(b"installer ../ORBITQuarrySetup.exe 1 %s 1.7.20.3\n" % zeros), "plain file name"),
            "a folder": (listed_as(b"installer sub\\Setup.exe 1 %s 1.7.20.3\n" % zeros), "plain file name"),
            "three-part version": (listed_as(b"installer ORBITQuarrySetup.exe 1 %s 1.7.20\n" % zeros), "four-part"),
            "a second installer": (lambda: self.sign(self.read("release.txt") + self.installer_line()),
                                   "a second installer"),
            "a package as the installer": (lambda: listed_as(self.installer_line().replace(
                b"ORBITQuarrySetup.exe", b"ORBITQuarry64n.zip"))(), "a file of the release itself"),
            "another version inside": (other_version, "is version 1.7.21.0, the manifest says 1.7.20.3"),
        }
        for name, (spoil, reason) in cases.items():
            with self.subTest(name):
                self.publish(installer=self.setup)
                spoil()
                done = self.verify_cli()
                self.assertEqual(done.returncode, 1, done.stdout)
                self.assertIn(reason, done.stderr)

    def test_built_installer_reads_as_the_projects_version(self):
        built = [p for p in [os.environ.get("OQ_INSTALLER_EXE", "")] +
                 [os.path.join(ROOT, "build", t, "bin", "ORBITQuarrySetup.exe") for t in ("win32", "win64")]
                 if p and os.path.exists(p)]
        if not built:
            self.skipTest("no installer built")
        with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
            project = re.search(r"project\(\S+ VERSION ([0-9.]+)", f.read()).group(1)
        for path in built:
            with self.subTest(path=path):
                self.assertEqual(release_server.installer_version(path), project)


@unittest.skipUnless(shutil.which("nginx"), "nginx is not installed (scripts/deps.sh installs nginx-light)")
class NginxSiteTest(unittest.TestCase):
    """The sample nginx site (tools/nginx) serving a signed release."""

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        # Started as root, nginx reads the files from a worker run as nobody.
        os.chmod(cls.dir.name, 0o755)
        cls.root = os.path.join(cls.dir.name, "www")
        state = os.path.join(cls.dir.name, "state")
        release_server.make_certs(state)
        key, _ = make_key_pair(cls.dir.name, "release-key")
        lib = write_pe(cls.dir.name, "lib.dll", (1, 7, 18, 0))
        release_server.publish(cls.root, addin32=lib, addin64=lib, key=key)
        open(os.path.join(cls.root, "files", "publish", ".refuse"), "w").close()
        cls.port = free_port()
        cls.nginx_dir = os.path.join(cls.dir.name, "nginx")
        cls.nginx = subprocess.Popen(
            ["bash", os.path.join(TOOLS, "nginx", "serve-local.sh"), cls.root, str(cls.port),
             os.path.join(state, "server.pem"), os.path.join(state, "server.key"), cls.nginx_dir],
            stderr=subprocess.PIPE)
        if release_server.wait(cls.port, 30) != 0:
            cls.nginx.kill()
            raise RuntimeError("nginx did not start: %s" % cls.nginx.communicate()[1])
        cls.context = ssl.create_default_context(cafile=os.path.join(state, "ca.pem"))

    @classmethod
    def tearDownClass(cls):
        cls.nginx.terminate()
        cls.nginx.wait(10)
        cls.nginx.stderr.close()
        cls.dir.cleanup()

    def request(self, method, path, headers=None):
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request(method, path, headers=headers or {})
            response = conn.getresponse()
            return response, response.read()
        finally:
            conn.close()

    def test_release_files_are_served_whole_with_their_types_and_never_stored(self):
        for name, ctype in (("xlllibver.txt", "text/plain; charset=utf-8"),
                            ("release.txt", "text/plain; charset=utf-8"),
                            ("release.txt.sig", "application/octet-stream"),
                            ("ORBITQuarry64n.zip", "application/zip"),
                            ("ORBITQuarry32n.zip", "application/zip")):
            with self.subTest(name):
                response, body = self.request("GET", "/files/publish/" + name)
                self.assertEqual(response.status, 200)
                self.assertEqual(response.getheader("Content-Type"), ctype)
                with open(os.path.join(self.root, "files", "publish", name), "rb") as f:
                    self.assertEqual(body, f.read())
                cache = response.getheader("Cache-Control") or ""
                if name.endswith(".zip"):
                    self.assertNotIn("no-store", cache)
                else:
                    self.assertIn("no-store", cache)

    def test_a_package_revalidates_against_its_etag(self):
        response, _ = self.request("GET", "/files/publish/ORBITQuarry64n.zip")
        etag = response.getheader("ETag")
        self.assertTrue(etag)
        response, body = self.request("GET", "/files/publish/ORBITQuarry64n.zip", {"If-None-Match": etag})
        self.assertEqual((response.status, body), (304, b""))

    def test_only_get_and_head_are_answered(self):
        response, body = self.request("HEAD", "/files/publish/release.txt")
        self.assertEqual((response.status, body), (200, b""))
        self.assertEqual(response.getheader("Content-Length"),
                         str(os.path.getsize(os.path.join(self.root, "files", "publish", "release.txt"))))
        for method in ("POST", "PUT", "DELETE", "OPTIONS"):
            with self.subTest(method):
                self.assertEqual(self.request(method, "/files/publish/release.txt")[0].status, 405)

    def test_nothing_but_the_release_files_is_served(self):
        for path in ("/", "/files/publish/.refuse", "/files/publish/%2erefuse", "/files/publish/",
                     "/files/../files/publish/.refuse"):
            with self.subTest(path):
                response, body = self.request("GET", path)
                self.assertIn(response.status, (403, 404))  # a folder is forbidden, not listed
                self.assertNotIn(b"release.txt", body)

    def test_tls_is_1_2_or_later(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with self.context.wrap_socket(raw, server_hostname="localhost") as tls:
                self.assertIn(tls.version(), ("TLSv1.2", "TLSv1.3"))


if __name__ == "__main__":
    unittest.main()
