#!/usr/bin/python3
"""A capturing SMTP server for the end-to-end tests.

Listens on 127.0.0.1, prints "PORT <n>" on its first stdout line once it accepts connections,
and stores every accepted message as NNNN.eml (the DATA bytes exactly as received, after the
server has removed the transparency dots, RFC 5321 4.5.2) plus NNNN.json (envelope sender,
recipients and the client's address of the session) in the given folder. Numbering goes on after the highest number already in the
folder, and no stored file is ever replaced. Stops on SIGTERM or SIGINT, when stdin is closed
(its parent went away) or after --max-seconds. A port in use is reported in one line on stderr
(exit status 1).
"""

import argparse
import asyncio
import errno
import json
import os
import re
import signal
import sys

from aiosmtpd.smtp import SMTP


class CaptureHandler:
    def __init__(self, folder, rejected, per_session):
        self.folder = folder
        self.rejected = {address.lower() for address in rejected}
        self.count = highest_number(folder)
        self.per_session = per_session

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        # A provider's limit of messages per session: the next MAIL FROM ends the session.
        if self.per_session and getattr(session, 'stored', 0) >= self.per_session:
            # Closed once the reply has gone out.
            asyncio.get_running_loop().call_soon(server.transport.close)
            return '421 4.7.0 Too many messages in this session'
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return '250 OK'

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.rejected:
            return '550 5.1.1 Recipient rejected'
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        # The client's address and port tell which session carried the message.
        envelope_json = json.dumps({'mail_from': envelope.mail_from,
                                    'rcpt_tos': list(envelope.rcpt_tos),
                                    'peer': '%s:%d' % session.peer[:2]}).encode()
        # The .eml appears last and whole: a reader that sees it also finds its .json.
        while True:
            self.count += 1
            stem = os.path.join(self.folder, '%04d' % self.count)
            try:
                publish(stem + '.json', envelope_json)
            except FileExistsError:
                continue  # a number taken since the start (another server on this folder)
            publish(stem + '.eml', envelope.original_content)
            session.stored = getattr(session, 'stored', 0) + 1
            return '250 OK'


def highest_number(folder):
    numbers = [int(m.group(1)) for name in os.listdir(folder)
               if (m := re.fullmatch(r'(\d+)\.(eml|json)', name))]
    return max(numbers, default=0)


def publish(path, data):
    """Writes the file whole under its name; raises FileExistsError rather than replace one."""
    partial = path + '.part'
    with open(partial, 'wb') as f:
        f.write(data)
    try:
        os.link(partial, path)
    finally:
        os.unlink(partial)


def watch_stdin(loop, stop):
    def on_readable():
        try:
            if not os.read(0, 4096):
                stop()
        except OSError:
            stop()
    try:
        loop.add_reader(0, on_readable)
    except (OSError, ValueError):
        pass  # stdin is a plain file or /dev/null: rely on the signals and the time limit


async def serve(args):
    os.makedirs(args.dir, exist_ok=True)
    loop = asyncio.get_running_loop()
    done = asyncio.Event()
    handler = CaptureHandler(args.dir, args.reject_rcpt, args.messages_per_session)
    try:
        server = await loop.create_server(
            lambda: SMTP(handler, hostname='localhost', loop=loop), '127.0.0.1', args.port)
    except OSError as error:
        if error.errno != errno.EADDRINUSE:
            raise
        print('smtp_capture: port %d on 127.0.0.1 is busy (is another capture server running?)'
              % args.port, file=sys.stderr, flush=True)
        return 1
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, done.set)
    watch_stdin(loop, done.set)
    loop.call_later(args.max_seconds, done.set)
    print('PORT %d' % server.sockets[0].getsockname()[1], flush=True)
    await done.wait()
    server.close()
    await server.wait_closed()
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--dir', required=True, help='folder for the stored messages')
    parser.add_argument('--port', type=int, default=0, help='0 picks a free port')
    parser.add_argument('--max-seconds', type=float, default=600)
    parser.add_argument('--reject-rcpt', action='append', default=[], metavar='ADDR',
                        help='answer 550 to RCPT TO for this address (repeatable)')
    parser.add_argument('--messages-per-session', type=int, default=0, metavar='N',
                        help='answer 421 to MAIL FROM after N messages and close (0: no limit)')
    return asyncio.run(serve(parser.parse_args()))


if __name__ == '__main__':
    sys.exit(main())
