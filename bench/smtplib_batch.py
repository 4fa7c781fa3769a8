#!/usr/bin/python3
"""The batch as a Python program would send it: for each file one message with the file as
its attachment, built with the email package and sent with smtplib over its own connection,
or with --one-connection all over one.

With --login USER PASSWORD it starts TLS (not checking the certificate: a local benchmark
server) and logs in first on each connection.

Usage: smtplib_batch.py [--one-connection] [--login USER PASSWORD] HOST PORT FROM TO FILE...
"""
import mimetypes
import os
import smtplib
import ssl
import sys
from email.message import EmailMessage


def message_for(path, sender, recipient):
    message = EmailMessage()
    message["From"] = sender
    message["To"] = recipient
    message["Subject"] = "Batch"
    message.set_content(" ")
    kind = mimetypes.guess_type(path)[0] or "application/octet-stream"
    maintype, subtype = kind.split("/", 1)
    with open(path, "rb") as f:
        message.add_attachment(f.read(), maintype=maintype, subtype=subtype,
                               filename=os.path.basename(path))
    return message


def connect(host, port, login):
    smtp = smtplib.SMTP(host, port)
    if login:
        smtp.starttls(context=ssl._create_unverified_context())
        smtp.login(*login)
    return smtp


def main():
    args = sys.argv[1:]
    one_connection = args[:1] == ["--one-connection"]
    if one_connection:
        args = args[1:]
    login = None
    if args[:1] == ["--login"]:
        login, args = (args[1], args[2]), args[3:]
    host, port, sender, recipient, files = args[0], int(args[1]), args[2], args[3], args[4:]
    if one_connection:
        with connect(host, port, login) as smtp:
            for path in files:
                smtp.send_message(message_for(path, sender, recipient))
        return 0
    for path in files:
        with connect(host, port, login) as smtp:
            smtp.send_message(message_for(path, sender, recipient))
    return 0


if __name__ == "__main__":
    sys.exit(main())
