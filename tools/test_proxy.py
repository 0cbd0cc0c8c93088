#!/usr/bin/env python3
"""The test bed's company proxy: CONNECT tunnels on loopback, and a proxy
auto-configuration script over plain HTTP.

  test_proxy.py --port P --auth-port Q --log FILE

On P every CONNECT is tunnelled (a "localhost" target goes to 127.0.0.1),
and "GET /proxy.pac" answers a script that sends every request through P.
On Q every request is refused with 407, as by a proxy that wants a sign-in
the user cannot give. Each CONNECT is logged, one line each: "tunnel
HOST:PORT" or "refused HOST:PORT" (a refused plain request logs its URL).

The tunnels leave from 127.0.0.2, so the release server can tell them from
a direct connection (see release_server.py, ".proxy-only").
"""

import argparse
import select
import signal
import socket
import socketserver
import sys
import threading

TUNNEL_SOURCE = "127.0.0.2"
PAC_PATH = "/proxy.pac"


class ProxyHandler(socketserver.StreamRequestHandler):
    refuse = False
    port = 0
    log = None
    lock = threading.Lock()

    def note(self, line):
        with self.lock:
            self.log.write(line + "\n")
            self.log.flush()

    def read_head(self):
        lines = []
        while True:
            line = self.rfile.readline(8192)
            if not line or line in (b"\r\n", b"\n"):
                return lines
            lines.append(line.decode("latin-1").rstrip("\r\n"))

    def reply(self, status, headers=(), body=b"", length=True):
        # A tunnel's answer has no length: what follows is the tunnel itself
        # (and a length there misleads Wine's WinHTTP about the response in it).
        head = ["HTTP/1.1 " + status, *(["Content-Length: %d" % len(body)] if length else []), *headers, "", ""]
        self.wfile.write("\r\n".join(head).encode("latin-1") + body)
        self.wfile.flush()

    def handle(self):
        head = self.read_head()
        if not head:
            return
        method, target = (head[0].split(" ") + ["", ""])[:2]
        if self.refuse:
            self.note("refused " + target)
            self.reply("407 Proxy Authentication Required",
                       ["Proxy-Authenticate: Negotiate", "Proxy-Authenticate: NTLM", "Connection: close"])
            return
        if method == "GET" and target.endswith(PAC_PATH):
            script = ('function FindProxyForURL(url, host) { return "PROXY 127.0.0.1:%d"; }\n' % self.port).encode()
            self.reply("200 OK", ["Content-Type: application/x-ns-proxy-autoconfig", "Connection: close"], script)
            return
        if method != "CONNECT":
            self.reply("405 Method Not Allowed", ["Connection: close"])
            return
        host, _, port = target.rpartition(":")
        if host.lower() == "localhost":
            host = "127.0.0.1"
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10, source_address=(TUNNEL_SOURCE, 0))
        except (OSError, ValueError) as e:
            self.note("failed %s: %s" % (target, e))
            self.reply("502 Bad Gateway", ["Connection: close"])
            return
        self.note("tunnel " + target)
        self.reply("200 Connection established", length=False)
        self.pipe(self.connection, upstream)

    @staticmethod
    def pipe(client, upstream):
        upstream.settimeout(None)
        client.settimeout(None)
        try:
            peers = {client: upstream, upstream: client}
            while True:
                ready, _, _ = select.select(list(peers), [], [], 60)
                if not ready:
                    return
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    peers[s].sendall(data)
        except OSError:
            pass
        finally:
            upstream.close()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--auth-port", type=int, required=True)
    parser.add_argument("--log", required=True)
    args = parser.parse_args(argv)

    log = open(args.log, "a")
    open_handler = type("OpenHandler", (ProxyHandler,), {"port": args.port, "log": log})
    auth_handler = type("AuthHandler", (ProxyHandler,), {"port": args.port, "log": log, "refuse": True})
    servers = [Server(("127.0.0.1", args.port), open_handler), Server(("127.0.0.1", args.auth_port), auth_handler)]
    for s in servers[1:]:
        threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()

    def stop(*_):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    try:
        servers[0].serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        for s in servers:
            s.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
