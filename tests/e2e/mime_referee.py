"""Reads messages our composer wrote with Python's email package (default policy) and reports,
as JSON on standard output, what a standard reader makes of them.

Usage: mime_referee.py FILE...

For every file, one object:
  defects         defects of the message and of every part (never expected)
  header_defects  "Header: Defect" for every header whose value Python found fault with
  content_type    the message's content type
  parts           the leaf parts in order: content_type, filename_hex (the name's bytes, or
                  null), data_hex (the decoded bytes), text (text/* parts read as text), and for
                  message/rfc822 parts the inner message's subject and body_hex
  uu              for a body without MIME: the "begin ... end" blocks, each name and data_hex
"""
import binascii
import email
import email.policy
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


def judge(path):
    with open(path, "rb") as f:
        raw = f.read()
    message = email.message_from_bytes(raw, policy=email.policy.default)
    report = {"defects": [], "header_defects": [], "content_type": message.get_content_type(), "parts": []}
    walk(message, "message", report)
    if "Mime-Version" not in message:
        report["uu"] = uu_blocks(raw.split(b"\r\n\r\n", 1)[1])
    return report


if __name__ == "__main__":
    json.dump([judge(path) for path in sys.argv[1:]], sys.stdout)
