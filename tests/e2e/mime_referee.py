"""Reads messages our composer wrote with Python's email package (default policy) and reports,
as JSON on standard output, what a standard reader makes of them.

Usage: mime_referee.py FILE...

For every file, one object:
  defects         defects of the message and of every part (never expected)
  header_defects  "Header: Defect" for every header whose value Python found fault with
  content_type    the message's content type
  parts           the leaf parts in order: content_type, filename_hex (the name's bytes, or
                  null), data_hex (the decoded bytes), text and charset (text/* parts read as
                  text, the charset parameter or null), and for
                  message/rfc822 parts the inner message's subject and body_hex
  uu              for a body without MIME: the "begin ... end" blocks, each name and data_hex
  subject         the decoded Subject, or null
  from_name       the display name of the From address
  to_names        the display names of the To addresses
  from_mailboxes  every mailbox of the From header as [display name, address]
  to_mailboxes    the same for the To header
  cc_mailboxes    the same for the CC header
  date            the Date as seconds since the epoch (email.utils.parsedate_to_datetime)
  message_id      the Message-ID as written
  long_lines      lines over 78 characters of headers that hold encoded words or RFC 2231
                  parameters, as "Header: length"
"""
import binascii
import email
import email.policy
import email.utils
import json
import sys


def name_bytes(name):
    # Header bytes that are not ASCII come back as text (UTF-8) or as surrogates (anything
    # else); either way these are the bytes the header held.
    return None if name is None else name.encode("utf-8", "surrogateescape").hex()


def leaf(part, report):
    entry = {"content_type": part.get_content_type(), "filename_hex": name_bytes(part.get_filename())}
    if part.get_content_type() == "message/rfc822":
        inner = part.get_payload(0)
        entry["subject"] = str(inner["Subject"])
        entry["body_hex"] = inner.get_payload(decode=True).hex()
    else:
        entry["data_hex"] = part.get_payload(decode=True).hex()
        if part.get_content_maintype() == "text":
            entry["text"] = part.get_content()
            entry["charset"] = part.get_param("charset")
    report["parts"].append(entry)


def walk(part, where, report):
    report["defects"] += [f"{where}: {type(d).__name__}" for d in part.defects]
    for header, value in part.items():
        report["header_defects"] += [f"{header}: {type(d).__name__}" for d in getattr(value, "defects", ())]
    if part.is_multipart() and part.get_content_type() != "message/rfc822":
        for index, sub in enumerate(part.get_payload()):
            walk(sub, f"{where}.{index}", report)
    else:
        leaf(part, report)


def uu_blocks(body):
    blocks, current = [], None
    for line in body.split(b"\r\n"):
        if current is None and line.startswith(b"begin 600 "):
            current = {"name_hex": line[10:].hex(), "data": b""}
        elif current is not None and line == b"end":
            blocks.append({"name_hex": current["name_hex"], "data_hex": current["data"].hex()})
            current = None
        elif current is not None:
            current["data"] += binascii.a2b_uu(line)
    return blocks


def mailboxes(header):
    return [[a.display_name, a.addr_spec] for a in header.addresses] if header else []


def long_header_lines(raw):
    # Every header block of the text, the parts' too: lines up to the first empty one, and
    # after each delimiter line.
    fields, in_headers = [], True
    for line in raw.split(b"\r\n"):
        if in_headers and line == b"":
            in_headers = False
        elif in_headers and line[:1] in (b" ", b"\t") and fields:
            fields[-1].append(line)
        elif in_headers:
            fields.append([line])
        elif line.startswith(b"--"):
            in_headers = True
    found = []
    for lines in fields:
        joined = b"".join(lines)
        if b"=?" in joined or b"*=" in joined:
            name = lines[0].split(b":", 1)[0].decode("ascii", "replace")
            found += [f"{name}: {len(line)}" for line in lines if len(line) > 78]
    return found


def judge(path):
    with open(path, "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=email.policy.default)
    report = {"defects": [], "header_defects": [], "content_type": message.get_content_type(), "parts": []}
    walk(message, "message", report)
    report["subject"] = None if message["Subject"] is None else str(message["Subject"])
    report["from_name"] = message["From"].addresses[0].display_name if message["From"] else None
    report["to_names"] = [a.display_name for a in message["To"].addresses] if message["To"] else []
    report["from_mailboxes"] = mailboxes(message["From"])
    report["to_mailboxes"] = mailboxes(message["To"])
    report["cc_mailboxes"] = mailboxes(message["CC"])
    date = message.get("Date")
    report["date"] = None if date is None else email.utils.parsedate_to_datetime(str(date)).timestamp()
    report["message_id"] = message.get("Message-ID")
    report["long_lines"] = long_header_lines(raw)
    if "Mime-Version" not in message:
        report["uu"] = uu_blocks(raw.split(b"\r\n\r\n", 1)[1])
    return report


if __name__ == "__main__":
    json.dump([judge(path) for path in sys.argv[1:]], sys.stdout)
