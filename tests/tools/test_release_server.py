"""The bundled release server over real TLS on loopback."""

import http.client
import io
import os
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
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
        cls.server = subprocess.Popen(
            [sys.executable, os.path.join(TOOLS, "release_server.py"), "serve", "--root", cls.root,
             "--port", str(cls.port), "--state", cls.state], stderr=subprocess.DEVNULL)
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
        path = release_server.publish(self.root, "1.7.18")
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
        release_server.publish(self.root, "1.7.18")
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
        release_server.publish(self.root, "1.7.18")
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
        release_server.publish(self.root, "1.7.19")
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
            release_server.publish(self.root, "1.7.20")

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

    def test_certificate_names_localhost_and_chains_to_the_authority(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
            with self.context.wrap_socket(raw, server_hostname="localhost") as tls:
                self.assertIsNotNone(tls.getpeercert())
        untrusting = ssl.create_default_context()
        with self.assertRaises(ssl.SSLCertVerificationError):
            with socket.create_connection(("127.0.0.1", self.port), timeout=10) as raw:
                untrusting.wrap_socket(raw, server_hostname="localhost")


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


def fake_pe(sections):
    """A PE image with just enough structure to be read: the MZ stub, the
    PE and COFF headers, an empty optional header and the sections given
    as (name, bytes)."""
    optional_size = 0xF0
    dos = bytearray(0x40)
    dos[0:2] = b"MZ"
    struct.pack_into("<I", dos, 0x3C, len(dos))
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664, len(sections), 0, 0, 0, optional_size, 0x2022)
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


def write_pe(folder, name, file_version, product_version=(2026, 12, 0, 0), text=b""):
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(fake_pe([(".text", text or b"\xc3" * 64),
                         (".rsrc", b"\0" * 24 + version_block(file_version, product_version))]))
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
        release_server.publish(self.root, addin32=self.lib32, addin64=self.lib64)
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
        release_server.publish(self.root, addin32=self.lib32, addin64=self.lib64)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.7.18")
        lib64 = write_pe(self.dir.name, "next64.dll", (1, 7, 19, 4))
        release_server.publish(self.root, addin32=self.lib32, addin64=lib64)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.7.19.4")

    def test_a_given_version_overrides_the_librarys(self):
        release_server.publish(self.root, "1.8.0", addin32=self.lib32, addin64=self.lib64)
        self.assertEqual(self.read("files", "publish", "xlllibver.txt"), b"\xef\xbb\xbf1.8.0")
        self.assertTrue(os.path.exists(os.path.join(self.publish_dir, "ORBITQuarry64n.zip")))

    def test_without_libraries_only_the_version_file_is_written(self):
        release_server.publish(self.root, "1.7.18")
        self.assertEqual(os.listdir(self.publish_dir), ["xlllibver.txt"])

    def test_unusable_arguments_write_nothing(self):
        bad = os.path.join(self.dir.name, "bad.dll")
        with open(bad, "wb") as f:
            f.write(b"not a library")
        for kwargs in ({"addin64": self.lib64}, {"addin32": self.lib32, "version": "1.7.18"},
                       {"addin32": self.lib32, "addin64": bad}, {}):
            with self.subTest(kwargs=kwargs):
                with self.assertRaises(ValueError):
                    release_server.publish(self.root, **kwargs)
                self.assertFalse(os.path.exists(self.root))

    def test_command_line_publishes_and_reports_errors_as_usage(self):
        script = os.path.join(TOOLS, "release_server.py")
        done = subprocess.run([sys.executable, script, "publish", "--root", self.root,
                               "--addin32", self.lib32, "--addin64", self.lib64],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([os.path.basename(p) for p in done.stdout.split()],
                         ["xlllibver.txt", "ORBITQuarry32n.zip", "ORBITQuarry64n.zip"])
        done = subprocess.run([sys.executable, script, "publish", "--root", self.root, "--addin64", self.lib64],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 2)
        self.assertIn("--addin32 and --addin64 go together", done.stderr)


if __name__ == "__main__":
    unittest.main()
