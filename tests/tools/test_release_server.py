"""The bundled release server over real TLS on loopback."""

import http.client
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import unittest

TOOLS = os.path.join(os.path.dirname(__file__), "..", "..", "tools")
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


if __name__ == "__main__":
    unittest.main()
