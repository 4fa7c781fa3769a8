"""Writes messages with Python's email package for the parser's interop test.

Usage: make_messages.py DIR

Writes DIR/<case>.eml and DIR/manifest.json: for every case the body lines a reader should find
and each attachment's file name and bytes (Base64 in the JSON). Every attachment's bytes are
checked against Python's own reading of the written text first, so the manifest holds exactly
what Python put in.
"""
import base64
import email
import email.policy
import json
import os
import sys
from email.header import Header
from email.mime.application import MIMEApplication
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText
from email.message import EmailMessage

BINARY = bytes((i * 7) % 256 for i in range(3000))
TEXT = (b"first line\r\n.\r\n..dots\r\ntrailing blanks  \r\ntab\t\r\n" + b"long " * 60 + b"\r\n"
        b"equals = sign\r\n8-bit caf\xc3\xa9\r\nlast line without end")
HTML = "<html><body><p>Hello <b>there</b></p></body></html>\n"
PLAIN = "Hello,\n\nthe files are attached.\n"


def headers(msg, subject):
    msg["From"] = "Ann Example <ann@example.com>"
    msg["To"] = "bob@example.com"
    msg["Subject"] = subject
    return msg


def mixed_base64_and_qp():
    msg = headers(EmailMessage(), "mixed")
    msg.set_content(PLAIN)
    msg.add_attachment(BINARY, maintype="application", subtype="octet-stream", filename="data.bin")
    msg.add_attachment(TEXT, maintype="text", subtype="plain", cte="quoted-printable", filename="notes.txt")
    msg.add_attachment(BINARY[:57], maintype="image", subtype="png", filename="57 bytes.png")
    return msg, PLAIN


def alternative_text_html():
    msg = headers(EmailMessage(), "alternative")
    msg.set_content(PLAIN)
    msg.add_alternative(HTML, subtype="html")
    return msg, PLAIN


def nested_alternative_in_mixed():
    msg = headers(EmailMessage(), "nested")
    msg.set_content(PLAIN)
    msg.add_alternative(HTML, subtype="html")
    msg.add_attachment(BINARY[:1000], maintype="application", subtype="pdf", filename="report.pdf")
    return msg, PLAIN


def single_part_attachment():
    msg = headers(EmailMessage(), "single")
    msg.set_content(BINARY[:58], maintype="application", subtype="octet-stream", filename="single.bin")
    return msg, None


def html_single_part():
    msg = headers(EmailMessage(), "html")
    msg.set_content(HTML, subtype="html")
    return msg, HTML


def rfc2231_names():
    msg = headers(EmailMessage(), "rfc 2231")
    msg.set_content(PLAIN)
    msg.add_attachment(BINARY[:100], maintype="application", subtype="octet-stream",
                       filename="naïve résumé.bin")
    msg.add_attachment(b"a text\r\n", maintype="text", subtype="plain", filename="Übersicht.txt")
    return msg, PLAIN


def rfc2047_names():
    # The way many mailers name files: encoded words inside the quoted parameters.
    msg = MIMEMultipart()
    headers(msg, "rfc 2047")
    msg.attach(MIMEText(PLAIN, "plain"))
    part = MIMEApplication(BINARY[:200])
    name = Header("naïve.bin", "utf-8").encode()
    part.set_param("name", name)
    part.add_header("Content-Disposition", "attachment", filename=name)
    msg.attach(part)
    return msg, PLAIN


CASES = [mixed_base64_and_qp, alternative_text_html, nested_alternative_in_mixed, single_part_attachment,
         html_single_part, rfc2231_names, rfc2047_names]


def attachments_as_python_reads_them(data, expected_names):
    """The parts a mail reader would save, in order, with the names we gave them."""
    msg = email.message_from_bytes(data, policy=email.policy.default)
    parts = [p for p in msg.walk() if not p.is_multipart()]
    if not msg.is_multipart():
        return [{"name": expected_names.pop(0), "data": parts[0].get_payload(decode=True)}] if expected_names else []
    # The first text part is the body; every other leaf part is an attachment.
    # Our reader names an alternative rendering that has no name of its own "_alt." and a number.
    found = []
    for part in parts[1:]:
        filename = part.get_filename() or "_alt.%d" % len(found)
        found.append({"name": filename, "data": part.get_payload(decode=True)})
    return found


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    manifest = []
    for make in CASES:
        msg, body = make()
        policy = email.policy.SMTP if make is not html_single_part else email.policy.default
        data = msg.as_bytes(policy=policy)
        name = make.__name__ + ".eml"
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        single_name = ["single.bin"] if make is single_part_attachment else []
        attachments = attachments_as_python_reads_them(data, single_name)
        manifest.append({
            "file": name,
            "body": body.splitlines() if body is not None else [],
            "attachments": [{"name": a["name"], "data": base64.b64encode(a["data"]).decode()}
                            for a in attachments],
        })
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    # The data that went in, so that the manifest is known to be exact.
    first = manifest[0]["attachments"]
    assert base64.b64decode(first[0]["data"]) == BINARY
    assert base64.b64decode(first[1]["data"]) == TEXT, base64.b64decode(first[1]["data"])


if __name__ == "__main__":
    main()
