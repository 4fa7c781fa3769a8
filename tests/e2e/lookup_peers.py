#!/usr/bin/python3
"""The servers an account look-up meets, for the look-up tests inside their private network:
submission servers that greet, answer EHLO (with STARTTLS, or TLS from the first byte), STARTTLS
and QUIT, and refuse everything else; HTTPS servers that serve autoconfig documents from a
folder; plain-HTTP servers that must never be asked, and log it when they are.

    lookup_peers.py --cert PEM --key KEY --log FILE [--smtp ADDR:PORT:tls|starttls:MECHS:SIZE]...
                    [--https ADDR:DIR]... [--http ADDR]...

MECHS is a comma-separated list of AUTH mechanisms ("-" for none), SIZE the SIZE limit (0: none).
An HTTPS server answers GET PATH with DIR/<host>/PATH (the query left out). Prints "PORT 443"
once every server listens (the line the tests' runner waits for); stops on SIGTERM or after
--max-seconds. Every request and session is logged to FILE, a line each."""
import argparse
import asyncio
import http.server
import pathlib
import signal
import ssl
import sys
import threading
import urllib.parse


def log(path, text):
    with open(path, 'a') as f:
        f.write(text + '\n')


async def smtp_session(reader, writer, tls_context, starttls, mechs, size, logfile, where):
    log(logfile, 'smtp %s session' % where)

    async def reply(text):
        writer.write(text.encode() + b'\r\n')
        await writer.drain()

    secured = not starttls
    await reply('220 lookup.test ESMTP')
    try:
        for _ in range(20):
            line = (await asyncio.wait_for(reader.readline(), 15)).decode('ascii', 'replace').strip()
            verb = line.split(' ')[0].upper()
            if verb == 'EHLO':
                lines = ['lookup.test']
                if mechs and secured:
                    lines.append('AUTH ' + ' '.join(mechs))
                if size:
                    lines.append('SIZE %d' % size)
                if starttls and not secured:
                    lines.append('STARTTLS')
                for i, text in enumerate(lines):
                    await reply(('250 ' if i == len(lines) - 1 else '250-') + text)
            elif verb == 'STARTTLS' and starttls and not secured:
                await reply('220 go ahead')
                await writer.start_tls(tls_context)
                secured = True
            elif verb == 'QUIT':
                await reply('221 bye')
                break
            elif not line:
                break
            else:
                log(logfile, 'smtp %s refused %s' % (where, verb))
                await reply('502 not here')
    except (asyncio.TimeoutError, ConnectionError, ssl.SSLError):
        pass
    writer.close()


def https_handler(folder, logfile, secure):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            host = (self.headers.get('Host') or '').split(':')[0]
            log(logfile, '%s %s %s' % ('https' if secure else 'http', host, self.path))
            path = urllib.parse.urlsplit(self.path).path
            file = pathlib.Path(folder or '/nonexistent') / host / path.lstrip('/')
            if not secure or '..' in path or not file.is_file():
                self.send_error(404)
                return
            data = file.read_bytes()
            self.send_response(200)
            self.send_header('Content-Type', 'text/xml')
            self.send_header('Content-Length', str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *args):
            pass
    return Handler


def serve_http(address, port, handler, context=None):
    server = http.server.ThreadingHTTPServer((address, port), handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cert', required=True)
    parser.add_argument('--key', required=True)
    parser.add_argument('--log', required=True)
    parser.add_argument('--smtp', action='append', default=[])
    parser.add_argument('--https', action='append', default=[])
    parser.add_argument('--http', action='append', default=[])
    parser.add_argument('--max-seconds', type=float, default=300)
    args = parser.parse_args()
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(args.cert, args.key)
    for entry in args.smtp:
        address, port, mode, mechs, size = entry.split(':')
        mechs = [] if mechs == '-' else mechs.split(',')
        where = '%s:%s' % (address, port)

        def handler(r, w, mode=mode, mechs=mechs, size=int(size), where=where):
            return smtp_session(r, w, context, mode == 'starttls', mechs, size, args.log, where)
        await asyncio.start_server(handler, address, int(port), ssl=context if mode == 'tls' else None)
    for entry in args.https:
        address, folder = entry.split(':', 1)
        serve_http(address, 443, https_handler(folder, args.log, True), context)
    for address in args.http:
        serve_http(address, 80, https_handler(None, args.log, False))
    print('PORT 443', flush=True)  # what the tests' server runner waits for
    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    try:
        await asyncio.wait_for(stop.wait(), args.max_seconds)
    except asyncio.TimeoutError:
        pass


if __name__ == '__main__':
    sys.exit(asyncio.run(main()))
