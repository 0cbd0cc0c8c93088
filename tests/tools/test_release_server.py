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

    def get(self, path):
        conn = http.client.HTTPSConnection("localhost", self.port, context=self.context, timeout=10)
        try:
            conn.request("GET", path)
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


if __name__ == "__main__":
    unittest.main()
