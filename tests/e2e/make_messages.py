"""Writes messages with Python's email package for the parser's interop test.

Usage: make_messages.py DIR

Writes DIR/<case>.eml and DIR/manifest.json: for every case the body lines a reader should find
and each attachment's file name and bytes (Base64 in the JSON). Every attachment's bytes are
checked against Python's own reading of the written text first, so the manifest holds exactly
what Python put in.
"""
import base64
import binascii
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
EXTENSIONS = {"text/html": ".html", "text/plain": ".txt"}


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

# Uuencoded files in a message without MIME, as binascii writes them: blanks for the value zero,
# and the same lines after a transport dropped their trailing blanks.
UU_DATA = BINARY[:1000] + bytes(100) + b"end"


def uuencoded(strip):
    lines = [binascii.b2a_uu(UU_DATA[i:i + 45]).rstrip(b"\n") for i in range(0, len(UU_DATA), 45)]
    lines += [binascii.b2a_uu(b"").rstrip(b"\n")]
    if strip:
        lines = [line.rstrip(b" ") for line in lines]
    body = [b"See the file.", b"", b"begin 644 data.bin"] + lines + [b"end"]
    head = b"From: ann@example.com\r\nTo: bob@example.com\r\nSubject: uuencoded\r\n\r\n"
    return head + b"".join(line + b"\r\n" for line in body)


UU_CASES = {"uuencoded_blank_zeros.eml": uuencoded(False), "uuencoded_trailing_blanks_lost.eml": uuencoded(True)}


def attachments_as_python_reads_them(data, expected_names):
    """The parts a mail reader would save, in order, with the names we gave them."""
    msg = email.message_from_bytes(data, policy=email.policy.default)
    parts = [p for p in msg.walk() if not p.is_multipart()]
    if not msg.is_multipart():
        return [{"name": expected_names.pop(0), "data": parts[0].get_payload(decode=True)}] if expected_names else []
    # The first text part is the body; every other leaf part is an attachment.
    # Our reader names an alternative rendering that has no name of its own "_alt." and a number,
    # and gives it the extension of its type.
    found = []
    for part in parts[1:]:
        filename = part.get_filename() or "_alt.%d%s" % (len(found), EXTENSIONS[part.get_content_type()])
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
    for name, data in UU_CASES.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        manifest.append({"file": name, "body": ["See the file."],
                         "attachments": [{"name": "data.bin", "data": base64.b64encode(UU_DATA).decode()}]})
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    # The data that went in, so that the manifest is known to be exact.
    first = manifest[0]["attachments"]
    assert base64.b64decode(first[0]["data"]) == BINARY
    assert base64.b64decode(first[1]["data"]) == TEXT, base64.b64decode(first[1]["data"])


if __name__ == "__main__":
    main()
