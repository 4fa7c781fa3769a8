#!/usr/bin/python3
"""Makes a throw-away CA and server certificates for the TLS tests.

    make_certs.py OUTDIR

Writes into OUTDIR, each certificate as NAME.pem with its key NAME.key and the SHA-256 of
its DER form as NAME.sha256 ("AB:CD:..."):

    ca          the test CA (trust it with a CA file)
    good        signed by the CA, for localhost and 127.0.0.1
    expired     the same names, expired yesterday
    wrongname   signed by the CA, for mail.example.com only
    selfsigned  for localhost and 127.0.0.1, signed by itself (issuer not trusted)
    lookup      signed by the CA, for the hosts of the account look-up tests (LOOKUP_NAMES)
"""
import datetime
import ipaddress
import pathlib
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

NOW = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
DAY = datetime.timedelta(days=1)
LOCAL = [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]
# The look-up tests' domains, each with its subdomains, and the providers' hosts they stand in for
# inside their private network.
LOOKUP_NAMES = ["gmail.com", "smtp.gmail.com", "smtp.office365.com", "elsewhere.test", "*.elsewhere.test"] + [
    name for domain in ("auto.test", "srv.test", "corp.test", "guess.test", "none.test")
    for name in (domain, "*." + domain)]


def name(common):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])


def build(subject, key, issuer, issuer_key, sans=None, ca=False, start=NOW - DAY, end=NOW + 30 * DAY):
    builder = (x509.CertificateBuilder()
               .subject_name(name(subject)).issuer_name(name(issuer))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(start).not_valid_after(end)
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        builder = builder.add_extension(
            x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                          content_commitment=False, key_encipherment=False, data_encipherment=False,
                          key_agreement=False, encipher_only=False, decipher_only=False), critical=True)
    if sans:
        builder = builder.add_extension(x509.SubjectAlternativeName(sans), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def write(out, stem, cert, key):
    (out / f"{stem}.pem").write_bytes(cert.public_bytes(serialization.Encoding.PEM))
    (out / f"{stem}.key").write_bytes(key.private_bytes(
        serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))
    (out / f"{stem}.sha256").write_text(cert.fingerprint(hashes.SHA256()).hex(":").upper())


def main():
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    ca_key = ec.generate_private_key(ec.SECP256R1())
    write(out, "ca", build("Mailcart Test CA", ca_key, "Mailcart Test CA", ca_key, ca=True), ca_key)
    for stem, subject, sans, start, end in [
        ("good", "localhost", LOCAL, NOW - DAY, NOW + 30 * DAY),
        ("expired", "localhost", LOCAL, NOW - 30 * DAY, NOW - DAY),
        ("wrongname", "mail.example.com", [x509.DNSName("mail.example.com")], NOW - DAY, NOW + 30 * DAY),
        ("lookup", "lookup.test", [x509.DNSName(n) for n in LOOKUP_NAMES], NOW - DAY, NOW + 30 * DAY),
    ]:
        key = ec.generate_private_key(ec.SECP256R1())
        write(out, stem, build(subject, key, "Mailcart Test CA", ca_key, sans, start=start, end=end), key)
    key = ec.generate_private_key(ec.SECP256R1())
    write(out, "selfsigned", build("localhost", key, "localhost", key, LOCAL), key)


if __name__ == "__main__":
    main()
