#!/usr/bin/env python3
"""Loopback HTTP server for the kit's HTTP file tests.

Serves the directory given as argv[1] on 127.0.0.1 at an ephemeral port,
accepts PUT, answers /nolength/<name> without a Content-Length and
/lying/<name> with a Content-Length of 4,000,000,000 before the file's
real bytes and the end of the connection. A second socket listens but
never answers. Prints "PORT <p> SILENT <s>" and
exits on its own after argv[2] seconds (default 120).
"""
import http.server
import os
import socket
import sys
import threading


class Handler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def _nolength(self, with_body):
        path = self.translate_path(self.path.replace("/nolength", "", 1))
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        if with_body:
            self.wfile.write(data)
        self.close_connection = True

    def _lying(self, with_body):
        path = self.translate_path(self.path.replace("/lying", "", 1))
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", "4000000000")
        self.send_header("Connection", "close")
        self.end_headers()
        if with_body:
            self.wfile.write(data)
        self.close_connection = True

    def do_GET(self):
        if self.path.startswith("/nolength/"):
            return self._nolength(True)
        if self.path.startswith("/lying/"):
            return self._lying(True)
        return super().do_GET()

    def do_HEAD(self):
        if self.path.startswith("/nolength/"):
            return self._nolength(False)
        if self.path.startswith("/lying/"):
            return self._lying(False)
        return super().do_HEAD()

    def do_PUT(self):
        length = int(self.headers.get("Content-Length", "0"))
        data = self.rfile.read(length) if length > 0 else b""
        path = self.translate_path(self.path)
        try:
            with open(path, "wb") as f:
                f.write(data)
        except OSError:
            self.send_error(403)
            return
        self.send_response(201)
        self.send_header("Content-Length", "0")
        self.end_headers()


def main():
    root = sys.argv[1]
    lifetime = float(sys.argv[2]) if len(sys.argv) > 2 else 120.0
    os.chdir(root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    silent.bind(("127.0.0.1", 0))
    silent.listen(16)
    print("PORT %d SILENT %d" % (server.server_address[1], silent.getsockname()[1]), flush=True)
    timer = threading.Timer(lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    server.serve_forever()


if __name__ == "__main__":
    main()
