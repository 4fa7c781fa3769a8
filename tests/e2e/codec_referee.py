#!/usr/bin/python3
"""Python's own codecs as the referee of Mailcart's transfer encodings.

  codec_referee.py judge DIR   For every DIR/<case>.bin, decodes what Mailcart wrote beside it
                               (<case>.qp, .b64, .uu and the MIME message <case>.eml) and
                               checks that each gives the very bytes of <case>.bin.
  codec_referee.py write DIR   For every DIR/<case>.bin, writes what Python's encoders make of
                               it, for Mailcart's decoders to read:
                                 <case>.py-qp-text, <case>.py-qp-binary, <case>.py-qp-email
                                   quoted-printable with CR LF line ends, each with a
                                   .expected file holding Python's decoding of the same text;
                                 <case>.py-b64   base64.encodebytes (76-character LF lines);
                                 <case>.py-uu    uuencoded 45-byte lines (grave accent for 0),
                                 <case>.py-uu-blank    the same with blanks for 0,
                                 <case>.py-uu-stripped and without their trailing blanks.

Prints "ok <case>" per case that passed, "FAIL <case>: <why>" otherwise; exits 1 on a failure.
"""
import base64
import binascii
import email
import email.quoprimime
import pathlib
import quopri
import sys


def lines_of(text):
    """CR LF separated lines; the text ends with CR LF (the empty text has no lines)."""
    return text.split(b"\r\n")[:-1]


def judge_case(path, data):
    qp = path.with_suffix(".qp").read_bytes()
    if quopri.decodestring(qp) != data:
        return "quopri does not give the bytes back"
    b64 = b"".join(base64.b64decode(line, validate=True)
                   for line in lines_of(path.with_suffix(".b64").read_bytes()))
    if b64 != data:
        return "base64 does not give the bytes back"
    uu = b"".join(binascii.a2b_uu(line) for line in lines_of(path.with_suffix(".uu").read_bytes()))
    if uu != data:
        return "a2b_uu does not give the bytes back"
    message = email.message_from_bytes(path.with_suffix(".eml").read_bytes())
    parts = message.get_payload()
    if len(parts) != 2:
        return "the message has %d parts, not 2" % len(parts)
    for part in parts:
        if part.get_payload(decode=True) != data:
            return "email decodes the %s part differently" % part["Content-Transfer-Encoding"]
    return None


def judge(folder):
    failed = False
    for path in sorted(folder.glob("*.bin")):
        why = judge_case(path, path.read_bytes())
        failed = failed or why is not None
        print("ok %s" % path.stem if why is None else "FAIL %s: %s" % (path.stem, why))
    return 1 if failed else 0


def as_wire(text):
    """Python's encoders end lines in LF; on the wire every line ends in CR LF, the last one
    included, as a list of lines represents it."""
    text = text.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return text if text.endswith(b"\r\n") or not text else text + b"\r\n"


def write_qp(path, kind, encoded):
    wire = as_wire(encoded)
    path.with_suffix(".py-qp-" + kind).write_bytes(wire)
    path.with_suffix(".py-qp-" + kind + ".expected").write_bytes(quopri.decodestring(wire))


def uu_variants(data):
    """45-byte lines as encoders write them: grave accent for 0, blank for 0, and blank for 0
    with the trailing blanks lost in transit."""
    chunks = [data[i:i + 45] for i in range(0, len(data), 45)]
    grave = [binascii.b2a_uu(c, backtick=True).rstrip(b"\n") for c in chunks]
    blank = [binascii.b2a_uu(c).rstrip(b"\n") for c in chunks]
    return {"": grave, "-blank": blank, "-stripped": [line.rstrip(b" ") for line in blank]}


def write(folder):
    for path in sorted(folder.glob("*.bin")):
        data = path.read_bytes()
        write_qp(path, "text", quopri.encodestring(data))
        write_qp(path, "binary", binascii.b2a_qp(data, istext=False))
        write_qp(path, "email", email.quoprimime.body_encode(
            data.decode("latin-1"), eol="\n").encode("latin-1"))
        path.with_suffix(".py-b64").write_bytes(base64.encodebytes(data))
        for kind, lines in uu_variants(data).items():
            path.with_suffix(".py-uu" + kind).write_bytes(b"".join(line + b"\n" for line in lines))
        print("ok %s" % path.stem)
    return 0


def main(argv):
    if len(argv) != 3 or argv[1] not in ("judge", "write"):
        print(__doc__, file=sys.stderr)
        return 2
    folder = pathlib.Path(argv[2])
    return judge(folder) if argv[1] == "judge" else write(folder)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
