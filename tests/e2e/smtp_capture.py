#!/usr/bin/python3
"""A capturing SMTP server for the end-to-end tests.

Listens on 127.0.0.1, prints "PORT <n>" on its first stdout line once it accepts connections,
and stores every accepted message as NNNN.eml (the DATA bytes exactly as received, after the
server has removed the transparency dots, RFC 5321 4.5.2) plus NNNN.json (envelope sender,
recipients and the client's address of the session) in the given folder. Numbering goes on after the highest number already in the
folder, and no stored file is ever replaced. Stops on SIGTERM or SIGINT, when stdin is closed
(its parent went away) or after --max-seconds. A port in use is reported in one line on stderr
(exit status 1).

Security, for the tests of the client's TLS and login: --tls-cert/--tls-key offer STARTTLS
(RFC 3207), --implicit-tls speaks TLS from the first byte instead, --require-starttls refuses
other commands before it; --auth USER:PASSWORD (PLAIN, LOGIN) and --token USER:TOKEN (XOAUTH2 and
OAUTHBEARER; --xoauth2 is the older name) require a login before MAIL, over TLS unless
--auth-plaintext. --introspect ISSUER has XOAUTH2 and OAUTHBEARER take any live access token of
that authorization server instead (RFC 7662, asked as the client mailcart-smtp, a few seconds at
most) whose account the user names, and offers PLAIN and LOGIN beside them as providers do;
--refuse-first-token refuses the first token of the run whatever it is, and that token again
each time it comes, and
--no-oauthbearer leaves OAUTHBEARER out. A token refused gets the JSON error challenge of RFC 7628
3.2.2, then 535, as real servers answer. The .json of each message also says whether its session
was encrypted, who logged in and by which mechanism; --transcript FILE receives every line the
server read, marked "tls" or "plain", so a test can tell what crossed the wire in the clear. The
transcript is the only file that holds a password or a token.

Extensions aiosmtpd does not offer: --pipelining lists PIPELINING (RFC 2920; commands are read
one after another in any case), --chunking lists CHUNKING and takes BDAT (RFC 3030): each chunk's
bytes as counted, no transparency dots, the message stored as DATA's would be once its LAST
chunk is in.
"""

import argparse
import asyncio
import base64
import errno
import json
import logging
import os
import re
import signal
import ssl
import sys
import urllib.parse
import urllib.request
import warnings

from aiosmtpd.smtp import MISSING, SMTP, AuthResult


# The authorization server of the sign-in tests gives login id NAME the address NAME@example.test.
ACCOUNT_DOMAIN = 'example.test'


def encrypted(server):
    return server.transport.get_extra_info('ssl_object') is not None


def names_account(user, account):
    """Whether the SMTP user is the token's account: its login id or its address."""
    local, at, domain = user.rpartition('@')
    return user == account or (bool(at) and local == account and domain.lower() == ACCOUNT_DOMAIN)


class Introspector:
    """Asks an authorization server whether an access token is live (RFC 7662), as the
    confidential client mailcart-smtp. The endpoint comes from the issuer's metadata, read once."""
    CLIENT_ID = 'mailcart-smtp'
    CLIENT_SECRET = 'mailcart-smtp-secret'
    TIMEOUT_S = 3

    def __init__(self, issuer):
        self.opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
        with self.opener.open(issuer.rstrip('/') + '/.well-known/openid-configuration',
                              timeout=self.TIMEOUT_S) as reply:
            self.endpoint = json.load(reply)['introspection_endpoint']
        # RFC 6749 2.3.1: the id and the secret are form-encoded before they are joined.
        pair = '%s:%s' % (urllib.parse.quote(self.CLIENT_ID), urllib.parse.quote(self.CLIENT_SECRET))
        self.authorization = 'Basic ' + base64.b64encode(pair.encode()).decode()

    def ask(self, token):
        """The server's answer, blocking: for a worker thread."""
        request = urllib.request.Request(
            self.endpoint, data=urllib.parse.urlencode({'token': token, 'token_type_hint': 'access_token'}).encode(),
            headers={'Authorization': self.authorization, 'Accept': 'application/json'})
        with self.opener.open(request, timeout=self.TIMEOUT_S) as reply:
            return json.load(reply)

    async def account(self, token):
        """The account of a live access token; None for any other token, or when the server
        did not answer in time. Other sessions go on meanwhile."""
        loop = asyncio.get_running_loop()
        try:
            answer = await asyncio.wait_for(loop.run_in_executor(None, self.ask, token), self.TIMEOUT_S)
        except (OSError, ValueError, asyncio.TimeoutError) as error:
            print('smtp_capture: no answer from %s: %s' % (self.endpoint, type(error).__name__),
                  file=sys.stderr, flush=True)
            return None
        if not isinstance(answer, dict) or answer.get('active') is not True:
            return None
        if answer.get('token_type') != 'Bearer' or not isinstance(answer.get('sub'), str):
            return None
        return answer['sub']


class CaptureHandler:
    def __init__(self, folder, rejected, tokens, per_session, mail_replies=(), data_replies=(), introspector=None,
                 refuse_first_token=False, offered=()):
        self.folder = folder
        self.rejected = {address.lower() for address in rejected}
        self.tokens = tokens  # user -> bearer token accepted by XOAUTH2 and OAUTHBEARER
        self.introspector = introspector  # asked about every other token
        self.refuse_first_token = refuse_first_token
        self.refused_token = None  # the first token, refused for good as a revoked one would be
        self.count = highest_number(folder)
        self.per_session = per_session
        self.mail_replies = list(mail_replies)  # for the first MAIL FROMs of the server's life
        self.data_replies = list(data_replies)  # for the first messages it stores
        self.offered = list(offered)  # extensions listed besides aiosmtpd's own

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        # A provider's limit of messages per session: the next MAIL FROM ends the session.
        if self.per_session and getattr(session, 'stored', 0) >= self.per_session:
            # Closed once the reply has gone out.
            asyncio.get_running_loop().call_soon(server.transport.close)
            return '421 4.7.0 Too many messages in this session'
        if self.mail_replies:
            reply = self.mail_replies.pop(0)
            if reply == 'close':
                server.transport.close()  # a connection lost before the reply, which is never seen
                return '421 4.4.2 closed'
            if reply != 'ok':
                return reply
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return '250 OK'

    async def token_accepted(self, user, token):
        if self.refuse_first_token and self.refused_token is None:
            self.refused_token = token
        if token == self.refused_token:
            return False
        if self.tokens.get(user) is not None and token == self.tokens[user]:
            return True
        if self.introspector is None or not token:
            return False
        account = await self.introspector.account(token)
        return account is not None and names_account(user, account)

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        lines = [line for line in responses if line != '250-AUTH ']  # no login configured
        return lines[:-1] + ['250-' + name for name in self.offered] + lines[-1:]

    async def auth_XOAUTH2(self, server, args):
        """The bearer token mechanism of the big providers: one response "user=U^Aauth=Bearer
        T^A^A"; a refusal is a 334 with a JSON error that the client answers with an empty line,
        and then 535."""
        if len(args) > 1:
            response = decode(args[1])
        else:
            response = await server.challenge_auth('', encode_to_b64=False)
            if response is MISSING:
                return AuthResult(success=False)  # aiosmtpd has answered it
        fields = dict(field.split('=', 1) for field in (response or b'').decode('utf-8', 'replace').split('\x01')
                      if '=' in field)
        user = fields.get('user', '')
        auth = fields.get('auth', '')
        if auth.startswith('Bearer ') and await self.token_accepted(user, auth[len('Bearer '):]):
            server.session.mechanism = 'XOAUTH2'
            return AuthResult(success=True, auth_data=user)
        error = json.dumps({'status': '401', 'schemes': 'bearer', 'scope': 'mail'})
        if await server.challenge_auth(error) is MISSING:
            return AuthResult(success=False)
        return AuthResult(success=False, handled=False, message='535 5.7.8 Username and Password not accepted')

    async def auth_OAUTHBEARER(self, server, args):
        """RFC 7628 3.1, checked strictly: "n,a=" saslname "," ^A "host=" H ^A "port=" P ^A "auth=Bearer "
        T ^A ^A, with this server's name and port. A refused token gets the error challenge, which
        the client must answer with a lone ^A (3.2.3), then 535."""
        response = decode(args[1]) if len(args) > 1 else await server.challenge_auth('', encode_to_b64=False)
        if response is MISSING:
            return AuthResult(success=False)
        match = re.fullmatch(rb'n,a=((?:[^=,\x00\x01]|=2C|=3D)+),\x01host=([^\x01]*)\x01port=([0-9]+)\x01'
                             rb'auth=Bearer ([^\x01]+)\x01\x01', response or b'')
        port = server.transport.get_extra_info('sockname')[1]
        if not match or match[2] not in (b'localhost', b'127.0.0.1') or int(match[3]) != port:
            return AuthResult(success=False, handled=False, message='501 5.5.2 Malformed OAUTHBEARER response')
        user = match[1].replace(b'=2C', b',').replace(b'=3D', b'=').decode('utf-8', 'replace')
        if await self.token_accepted(user, match[4].decode('utf-8', 'replace')):
            server.session.mechanism = 'OAUTHBEARER'
            return AuthResult(success=True, auth_data=user)
        error = json.dumps({'status': 'invalid_token', 'schemes': 'bearer', 'scope': 'mail'})
        closing = await server.challenge_auth(error)
        if closing is MISSING:
            return AuthResult(success=False)
        if closing != b'\x01':
            return AuthResult(success=False, handled=False, message='501 5.5.2 Expected ^A after the error')
        return AuthResult(success=False, handled=False, message='535 5.7.8 Token not accepted')

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower() in self.rejected:
            return '550 5.1.1 Recipient rejected'
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        # A reply line refuses the message, which is not stored.
        if self.data_replies and self.data_replies[0] not in ('close', 'silent', 'ok'):
            return self.data_replies.pop(0)
        # The client's address and port tell which session carried the message.
        envelope_json = json.dumps({'mail_from': envelope.mail_from,
                                    'rcpt_tos': list(envelope.rcpt_tos),
                                    'peer': '%s:%d' % session.peer[:2],
                                    'encrypted': encrypted(server),
                                    'user': session.auth_data if session.authenticated else None,
                                    'mechanism': getattr(session, 'mechanism', None),
                                    'chunked': getattr(envelope, 'chunks', None) is not None}).encode()
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
            reply = self.data_replies.pop(0) if self.data_replies else 'ok'
            if reply == 'close':
                server.transport.close()  # kept, but the client never hears so
            elif reply == 'silent':
                await asyncio.sleep(30)  # kept, and the client's time-out runs out first
            return '250 OK'


def decode(text):
    try:
        return base64.b64decode(text, validate=True)
    except ValueError:
        return None


def password_check(passwords):
    """An aiosmtpd authenticator for PLAIN and LOGIN; the session keeps the user name only."""
    def check(server, session, envelope, mechanism, auth_data):
        user = auth_data.login.decode('utf-8', 'replace')
        if mechanism in ('PLAIN', 'LOGIN') and passwords.get(user) == auth_data.password.decode('utf-8', 'replace'):
            session.mechanism = mechanism
            return AuthResult(success=True, auth_data=user)
        return AuthResult(success=False, handled=False)
    return check


class TranscribedSMTP(SMTP):
    """Writes each chunk the server reads (after decryption) to the transcript; takes BDAT when
    chunking is on."""
    transcript = None
    chunking = False

    def data_received(self, data):
        if self.transcript is not None:
            mode = 'tls' if self.transport is not None and encrypted(self) else 'plain'
            for line in data.splitlines(keepends=True):
                self.transcript.write('%s %r\n' % (mode, line))
            self.transcript.flush()
        super().data_received(data)


    async def smtp_BDAT(self, arg):
        """RFC 3030 2: "BDAT" SP size [SP "LAST"], then exactly size bytes, read whatever the reply.
        A failed chunk fails the chunks after it up to RSET (4.2); the LAST one hands the message
        to handle_DATA as DATA does."""
        words = (arg or '').split()
        if not self.chunking or len(words) not in (1, 2) or not words[0].isdigit() or words[1:] not in ([], ['LAST']):
            # The bytes that follow cannot be told from commands: the session ends here.
            await self.push('501 5.5.4 Syntax: BDAT size [LAST]')
            self.transport.close()
            return
        try:
            chunk = await self._reader.readexactly(int(words[0]))
        except asyncio.IncompleteReadError:
            self._writer.close()  # the client went inside the chunk
            return
        envelope = self.envelope
        chunks = getattr(envelope, 'chunks', None)
        if chunks is None:
            chunks = envelope.chunks = bytearray()
            envelope.chunk_failure = None
            if not self.session.host_name:
                envelope.chunk_failure = '503 5.5.1 Error: send HELO first'
            elif self._auth_required and not self.session.authenticated:
                envelope.chunk_failure = '530 5.7.0 Authentication required'
            elif not envelope.rcpt_tos:
                envelope.chunk_failure = '503 5.5.1 Error: need RCPT command'
        chunks += chunk
        if self.data_size_limit and len(chunks) > self.data_size_limit:
            envelope.chunk_failure = '552 5.3.4 Error: Too much mail data'
            chunks *= 0
        if envelope.chunk_failure is not None:
            await self.push(envelope.chunk_failure)
            return
        if len(words) == 1:
            await self.push('250 2.0.0 %d octets received' % len(chunk))
            return
        envelope.original_content = envelope.content = bytes(chunks)
        status = await self._call_handler_hook('DATA')
        self._set_post_data_state()
        await self.push('250 OK' if status is MISSING else status)


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


def credentials(pairs):
    return (pair.split(':', 1) for pair in pairs)


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
    passwords = dict(credentials(args.auth))
    tokens = dict(credentials(args.token))
    try:
        introspector = Introspector(args.introspect) if args.introspect else None
    except (OSError, ValueError, KeyError) as error:
        print('smtp_capture: cannot read the metadata of %s: %s' % (args.introspect, error), file=sys.stderr, flush=True)
        return 1
    handler = CaptureHandler(args.dir, args.reject_rcpt, tokens, args.messages_per_session, args.mail_reply,
                             args.data_reply, introspector, args.refuse_first_token,
                             (['PIPELINING'] if args.pipelining else []) + (['CHUNKING'] if args.chunking else []))
    context = None
    if args.tls_cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.tls_cert, args.tls_key)
    starttls = context if context and not args.implicit_tls and not args.no_starttls else None
    token_logins = bool(tokens or introspector)
    excluded = (([] if passwords or introspector else ['PLAIN', 'LOGIN']) +
                ([] if token_logins else ['XOAUTH2', 'OAUTHBEARER']) + (['OAUTHBEARER'] if args.no_oauthbearer else []))
    TranscribedSMTP.transcript = open(args.transcript, 'a') if args.transcript else None
    TranscribedSMTP.chunking = args.chunking

    def session():
        return TranscribedSMTP(
            handler, hostname='localhost', loop=loop, tls_context=starttls,
            require_starttls=args.require_starttls, auth_required=bool(passwords or token_logins),
            # Over implicit TLS aiosmtpd does not know the session is encrypted.
            auth_require_tls=not (args.auth_plaintext or args.implicit_tls),
            authenticator=password_check(passwords), auth_exclude_mechanism=excluded,
            **({} if args.size_limit is None else {'data_size_limit': args.size_limit or None}))
    try:
        server = await loop.create_server(session, '127.0.0.1', args.port,
                                          ssl=context if args.implicit_tls else None)
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
    # aiosmtpd's deprecation notes, and its warning about a login without STARTTLS, which
    # --auth-plaintext asks for and implicit TLS makes moot.
    logging.getLogger('mail.log').setLevel(logging.ERROR)
    warnings.filterwarnings('ignore', message='Requiring AUTH while not requiring TLS')
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--dir', required=True, help='folder for the stored messages')
    parser.add_argument('--port', type=int, default=0, help='0 picks a free port')
    parser.add_argument('--max-seconds', type=float, default=600)
    parser.add_argument('--reject-rcpt', action='append', default=[], metavar='ADDR',
                        help='answer 550 to RCPT TO for this address (repeatable)')
    parser.add_argument('--messages-per-session', type=int, default=0, metavar='N',
                        help='answer 421 to MAIL FROM after N messages and close (0: no limit)')
    parser.add_argument('--mail-reply', action='append', default=[], metavar='REPLY',
                        help='the reply to the next MAIL FROM of the server\'s life, in turn: a reply line, '
                             '"close" (the connection is closed instead) or "ok" (handled as usual)')
    parser.add_argument('--data-reply', action='append', default=[], metavar='HOW',
                        help='after storing one of the first messages: "close" the connection, stay '
                             '"silent", or "ok" (reply as usual); or a reply line, which refuses it unstored')
    parser.add_argument('--tls-cert', metavar='PEM', help='certificate offered with STARTTLS')
    parser.add_argument('--tls-key', metavar='KEY', help='its private key')
    parser.add_argument('--implicit-tls', action='store_true', help='TLS from the first byte')
    parser.add_argument('--no-starttls', action='store_true', help='do not offer STARTTLS')
    parser.add_argument('--require-starttls', action='store_true',
                        help='answer 530 to commands before STARTTLS')
    parser.add_argument('--auth', action='append', default=[], metavar='USER:PASSWORD',
                        help='require a login (PLAIN, LOGIN) with this account (repeatable)')
    parser.add_argument('--token', '--xoauth2', action='append', default=[], metavar='USER:TOKEN',
                        help='require a login; XOAUTH2 and OAUTHBEARER accept this bearer token (repeatable)')
    parser.add_argument('--introspect', metavar='ISSUER',
                        help='require a login; XOAUTH2 and OAUTHBEARER accept the live access tokens of this '
                             'authorization server (plain HTTP on 127.0.0.1) for the account the user names')
    parser.add_argument('--refuse-first-token', action='store_true',
                        help='refuse the first token of the run, whatever it is, every time it comes')
    parser.add_argument('--no-oauthbearer', action='store_true', help='do not offer OAUTHBEARER')
    parser.add_argument('--auth-plaintext', action='store_true', help='allow a login without TLS')
    parser.add_argument('--size-limit', type=int, metavar='BYTES',
                        help='the largest message taken, announced as SIZE; 0 announces none')
    parser.add_argument('--transcript', metavar='FILE', help='append every line read here')
    parser.add_argument('--pipelining', action='store_true', help='offer PIPELINING')
    parser.add_argument('--chunking', action='store_true', help='offer CHUNKING and take BDAT')
    args = parser.parse_args()
    if bool(args.tls_cert) != bool(args.tls_key) or (args.implicit_tls and not args.tls_cert):
        parser.error('--tls-cert and --tls-key go together, and --implicit-tls needs them')
    return asyncio.run(serve(args))


if __name__ == '__main__':
    sys.exit(main())
