#!/usr/bin/python3
"""An HTTPS server of autoconfig documents for the tests of the account look-up.

    autoconfig_server.py --cert PEM --key KEY --root FOLDER [--host 127.0.0.1] [--port 0]

Serves the files under FOLDER by the request's path (the query is ignored), 404 for anything
else, over TLS with the given certificate. Listens on HOST at PORT (0: a free one) and prints
"PORT <n>". Each request is logged on standard error with its query.
"""
import argparse
import http.server
import pathlib
import ssl
import sys
import urllib.parse


def handler_for(root):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            path = urllib.parse.urlsplit(self.path).path
            target = (root / path.lstrip("/")).resolve()
            if root not in target.parents or not target.is_file():
                self.send_error(404)
                return
            body = target.read_bytes()
            self.send_response(200)
            self.send_header("Content-Type", "text/xml")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def log_message(self, form, *args):
            sys.stderr.write("%s\n" % (form % args))

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    options = parser.parse_args()
    server = http.server.ThreadingHTTPServer((options.host, options.port),
                                             handler_for(pathlib.Path(options.root).resolve()))
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
