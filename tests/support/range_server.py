"""A small HTTP server for the tests of remote reads, on 127.0.0.1 only.

It serves the files of one folder with HEAD and GET, honouring a single
byte range (``Range: bytes=a-b``, ``a-`` or ``-n``) as object stores and web
servers do, and writes one JSON line per request to a log (method, path,
range asked, status, body bytes sent; logged as the body starts), from which the tests and the
benchmark count requests and bytes.  The first part of the path picks how
the server behaves, so that one server serves every case; it doubles as the
bucket of an S3-style request (``/vsis3/files/x.tdf`` asks for
``/files/x.tdf`` with path-style addressing):

    /files/NAME     the file as it is
    /truncate/NAME  the headers promise the whole range, the body stops
                    halfway and the connection is closed
    /fail3/NAME     the third request for NAME gets 500, the others the file
    /shrink/NAME    the first request for NAME sees the whole file, later
                    ones a file cut to half its length

Anything else (a folder, a listing, a missing file) gets 404.

Run as ``range_server.py ROOT LOG``: it prints its port on a line and serves
until standard input closes, or for at most ten minutes.  ``RangeServer``
starts and stops it from a test.
"""

import http.server
import json
import os
import re
import socketserver
import subprocess
import sys
import threading
import urllib.parse

LIFETIME_SECONDS = 600
SOCKET_TIMEOUT_SECONDS = 20
MODES = ("files", "truncate", "fail3", "shrink")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = SOCKET_TIMEOUT_SECONDS

    def log_message(self, *args):  # the JSON log is the only log
        pass

    def do_HEAD(self):
        self.serve(body=False)

    def do_GET(self):
        self.serve(body=True)

    def record(self, status, sent):
        server = self.server
        line = json.dumps({"method": self.command, "path": self.path,
                           "range": self.headers.get("Range"), "status": status, "bytes": sent})
        with server.lock:
            server.log.write(line + "\n")
            server.log.flush()

    def refuse(self, status):
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()
        self.record(status, 0)

    def serve(self, body):
        path = urllib.parse.urlsplit(self.path).path
        parts = path.lstrip("/").split("/", 1)
        if len(parts) != 2 or parts[0] not in MODES or not parts[1] or ".." in parts[1].split("/"):
            return self.refuse(404)
        mode, name = parts
        local = os.path.join(self.server.root, name)
        if not os.path.isfile(local):
            return self.refuse(404)
        with self.server.lock:
            seen = self.server.requests.get((mode, name), 0) + 1
            self.server.requests[(mode, name)] = seen
        with open(local, "rb") as f:
            data = f.read()
        if mode == "fail3" and seen == 3:
            return self.refuse(500)
        if mode == "shrink" and seen > 1:
            data = data[:len(data) // 2]

        size = len(data)
        first, last, status = 0, size - 1, 200
        asked = self.headers.get("Range")
        if asked is not None:
            match = re.fullmatch(r"bytes=(\d*)-(\d*)", asked.strip())
            if not match or (not match.group(1) and not match.group(2)):
                return self.refuse(416)
            if match.group(1):
                first = int(match.group(1))
                last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
            else:
                first = max(0, size - int(match.group(2)))
            if first >= size or first > last:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % size)
                self.send_header("Content-Length", "0")
                self.end_headers()
                return self.record(416, 0)
            status = 206
        length = last - first + 1
        self.send_response(status)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(length))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.end_headers()
        chunk = data[first:last + 1] if body else b""
        if mode == "truncate":
            chunk = chunk[:len(chunk) // 2]
            self.close_connection = True
        # Logged before the body goes: a client that has its answer finds
        # the request in the log.
        self.record(status, len(chunk))
        try:
            self.wfile.write(chunk)
            self.wfile.flush()
        except OSError:
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main(root, log_path):
    server = Server(("127.0.0.1", 0), Handler)
    server.root = root
    server.lock = threading.Lock()
    server.requests = {}
    server.log = open(log_path, "a", encoding="utf-8")
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    # Ends when the test closes standard input, or at the latest after the
    # lifetime, so that no server outlives a test that died.
    done = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait(LIFETIME_SECONDS)
    server.shutdown()
    server.log.close()


class RangeServer:
    """The server in a child process, as a context manager: ``port``,
    ``url(mode, name)`` and ``requests()`` (the log's entries so far)."""

    def __init__(self, root, log_path=None):
        self.root = str(root)
        self.log_path = str(log_path or os.path.join(self.root, "requests.log"))
        self.process = None
        self.port = None

    def __enter__(self):
        self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), self.root,
                                         self.log_path],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())
        return self

    def __exit__(self, *exc):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()

    @property
    def endpoint(self):
        return "127.0.0.1:%d" % self.port

    def url(self, mode, name):
        return "http://%s/%s/%s" % (self.endpoint, mode, name)

    def requests(self):
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, encoding="utf-8") as log:
            return [json.loads(line) for line in log if line.strip()]

    def forget(self):
        """Empties the log, to count the requests of one step."""
        open(self.log_path, "w").close()


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
