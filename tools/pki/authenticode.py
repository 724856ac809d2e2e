"""Authenticode signing of PE files with osslsigncode, and signatures with several signers.

osslsigncode makes one signer per PKCS#7 message. A message with several signers (as
CryptVerifyMessageSignature enumerates them by index) is made by signing the same file
once per signer and merging the SignerInfos into one SignedData: every signer signs the
same SpcIndirectDataContent, so each SignerInfo stays valid as osslsigncode made it.
"""

from __future__ import annotations

import hashlib
import os
import struct
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import List, Optional, Sequence

from . import der
from .openssl import Cert, PkiError, run

_OID_SIGNED_DATA = der.encode_oid("1.2.840.113549.1.7.2")
_OID_MESSAGE_DIGEST = der.encode_oid("1.2.840.113549.1.9.4")
_OID_ORGANISATION = der.encode_oid("2.5.4.10")
_WIN_CERT_REVISION_2_0 = 0x0200
_WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0002
_SECURITY_DIRECTORY = 4


def sign_pe(src, dst, signer: Cert, *, nest: bool = False, use_pkcs12: bool = False) -> Path:
    """Sign `src` into `dst` with SHA-256: `osslsigncode sign -h sha256 -certs <chain> -key <key>`.

    The chain file carries the leaf and the intermediate, so the signature holds the
    whole chain below the root. use_pkcs12 signs from the PFX instead (same result).
    nest: add a nested signature to an already signed `src` (not a second signer).
    """
    dst = Path(dst)
    if dst.exists():
        dst.unlink()  # osslsigncode will not overwrite
    args = ["osslsigncode", "sign", "-h", "sha256"]
    if use_pkcs12:
        if signer.pfx is None:
            raise PkiError(f"{signer.name} has no PKCS#12 file")
        args += ["-pkcs12", signer.pfx, "-pass", ""]
    else:
        args += ["-certs", signer.chain, "-key", signer.key]
    if nest:
        args.append("-nest")
    run(args + ["-in", src, "-out", dst])
    return dst


# --- PE certificate table ----------------------------------------------------------

@dataclass
class _PeLayout:
    checksum_offset: int
    security_entry_offset: int
    table_offset: int
    table_size: int


def _layout(image: bytes) -> _PeLayout:
    if image[:2] != b"MZ":
        raise ValueError("not a PE file")
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    entry = directories + 8 * _SECURITY_DIRECTORY
    address, size = struct.unpack_from("<II", image, entry)
    return _PeLayout(optional + 64, entry, address, size)


def pe_checksum(image: bytes, checksum_offset: int) -> int:
    """The PE image checksum (16-bit one's-complement sum plus the file length)."""
    data = bytearray(image)
    data[checksum_offset:checksum_offset + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    for (word,) in struct.iter_unpack("<H", data):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def read_signature(path) -> bytes:
    """The PKCS#7 SignedData of the file's first certificate entry (DER)."""
    image = Path(path).read_bytes()
    layout = _layout(image)
    if not layout.table_offset or layout.table_size < 8:
        raise ValueError(f"{path} is not signed")
    length, _revision, _kind = struct.unpack_from("<IHH", image, layout.table_offset)
    blob = image[layout.table_offset + 8:layout.table_offset + length]
    return der.raw(blob, der.read(blob))


def replace_signature(src, dst, signature: bytes, hidden: bytes = b"") -> Path:
    """Write `src` with its certificate table replaced by one entry holding `signature`, followed inside the
    entry by `hidden` (data the signature does not cover, which Windows' default check lets pass)."""
    image = Path(src).read_bytes()
    layout = _layout(image)
    if not layout.table_offset:
        raise ValueError(f"{src} has no certificate table to replace")
    padded = signature + b"\0" * (-len(signature) % 8) + hidden
    padded += b"\0" * (-len(padded) % 8)
    entry = struct.pack("<IHH", 8 + len(padded), _WIN_CERT_REVISION_2_0, _WIN_CERT_TYPE_PKCS_SIGNED_DATA) + padded
    out = bytearray(image[:layout.table_offset] + entry)
    struct.pack_into("<II", out, layout.security_entry_offset, layout.table_offset, len(entry))
    struct.pack_into("<I", out, layout.checksum_offset, pe_checksum(bytes(out), layout.checksum_offset))
    Path(dst).write_bytes(bytes(out))
    return Path(dst)


def authenticode_digest(path, algorithm: str = "sha256") -> bytes:
    """The file's Authenticode digest: all bytes except the checksum, the security
    directory entry and the certificate table."""
    image = Path(path).read_bytes()
    layout = _layout(image)
    end = layout.table_offset if layout.table_offset else len(image)
    digest = hashlib.new(algorithm)
    digest.update(image[:layout.checksum_offset])
    digest.update(image[layout.checksum_offset + 4:layout.security_entry_offset])
    digest.update(image[layout.security_entry_offset + 8:end])
    return digest.digest()


# --- SignedData --------------------------------------------------------------------

@dataclass
class _SignedData:
    data: bytes
    version: der.Tlv
    digest_algorithms: List[der.Tlv]
    content_info: der.Tlv
    certificates: List[der.Tlv]
    signer_infos: List[der.Tlv]


def _parse_signed_data(message: bytes) -> _SignedData:
    outer = der.read(message)
    oid, explicit = der.children(message, outer)[:2]
    if der.raw(message, oid) != _OID_SIGNED_DATA:
        raise ValueError("not a PKCS#7 SignedData")
    signed = der.children(message, explicit)[0]
    fields = der.children(message, signed)
    version, algorithms, content_info = fields[:3]
    certificates, signer_set = [], None
    for item in fields[3:]:
        if item.tag == 0xA0:
            certificates = der.children(message, item)
        elif item.tag == der.SET:
            signer_set = item
    if signer_set is None:
        raise ValueError("SignedData without SignerInfos")
    return _SignedData(message, version, der.children(message, algorithms), content_info, certificates,
                       der.children(message, signer_set))


def merge_signatures(messages: Sequence[bytes]) -> bytes:
    """One SignedData holding the SignerInfos of `messages` in the given order.

    All messages must sign the same content. Certificates are pooled without repeats.
    The SignerInfos keep the given order (not sorted), since signer index matters to
    the readers under test and they take the order as encoded.
    """
    parsed = [_parse_signed_data(m) for m in messages]
    first = parsed[0]
    content = der.raw(first.data, first.content_info)
    for other in parsed[1:]:
        if der.raw(other.data, other.content_info) != content:
            raise ValueError("the signatures sign different content")
    algorithms: List[bytes] = []
    certificates: List[bytes] = []
    signers: List[bytes] = []
    for p in parsed:
        for a in p.digest_algorithms:
            if der.raw(p.data, a) not in algorithms:
                algorithms.append(der.raw(p.data, a))
        for c in p.certificates:
            if der.raw(p.data, c) not in certificates:
                certificates.append(der.raw(p.data, c))
        signers.extend(der.raw(p.data, s) for s in p.signer_infos)
    body = (der.raw(first.data, first.version) + der.encode(der.SET, b"".join(algorithms)) + content
            + der.encode(0xA0, b"".join(certificates)) + der.encode(der.SET, b"".join(signers)))
    return der.encode(der.SEQUENCE, _OID_SIGNED_DATA + der.encode(0xA0, der.encode(der.SEQUENCE, body)))


def sign_pe_multi(src, dst, signers: Sequence[Cert]) -> Path:
    """Sign `src` into `dst` with one SignedData whose SignerInfos are `signers`, in order."""
    if not signers:
        raise ValueError("no signers")
    with tempfile.TemporaryDirectory(prefix="multisign-") as work:
        messages, signed = [], []
        for index, signer in enumerate(signers):
            out = Path(work) / f"{index}.exe"
            sign_pe(src, out, signer)
            signed.append(out)
            messages.append(read_signature(out))
        return replace_signature(signed[0], dst, merge_signatures(messages))


def sign_pe_two_signers(src, dst, first: Cert, second: Cert) -> Path:
    """Two signers in one message: `first` at signer index 0, `second` at index 1."""
    return sign_pe_multi(src, dst, [first, second])


# --- reading signers back ----------------------------------------------------------------

@dataclass
class SignerView:
    """One SignerInfo of a signature, with its certificate from the message."""

    index: int
    serial: int
    organisation: Optional[str]
    certificate: bytes  # DER, b"" when the message does not carry it
    message_digest: bytes
    signed_attributes: bytes  # re-tagged as SET, the bytes the signature covers
    signature: bytes


def _certificate_parts(cert: bytes):
    tbs = der.children(cert, der.read(cert))[0]
    fields = der.children(cert, tbs)
    offset = 1 if fields[0].tag == 0xA0 else 0  # explicit version
    serial = int.from_bytes(der.content(cert, fields[offset]), "big", signed=True)
    issuer = der.raw(cert, fields[offset + 2])
    subject = fields[offset + 4]
    organisation = None
    for rdn in der.children(cert, subject):
        for attribute in der.children(cert, rdn):
            oid, value = der.children(cert, attribute)[:2]
            if der.raw(cert, oid) == _OID_ORGANISATION and organisation is None:
                organisation = der.content(cert, value).decode("utf-8", errors="replace")
    return serial, issuer, organisation


def signers_of(path) -> List[SignerView]:
    """The signers of the file's signature in encoded order (the index order of CryptoAPI)."""
    message = read_signature(path)
    parsed = _parse_signed_data(message)
    certificates = [der.raw(message, c) for c in parsed.certificates]
    by_id = {}
    for cert in certificates:
        serial, issuer, organisation = _certificate_parts(cert)
        by_id[(issuer, serial)] = (cert, organisation)
    views = []
    for index, info in enumerate(parsed.signer_infos):
        fields = der.children(message, info)
        issuer_serial = der.children(message, fields[1])
        issuer = der.raw(message, issuer_serial[0])
        serial = int.from_bytes(der.content(message, issuer_serial[1]), "big", signed=True)
        cert, organisation = by_id.get((issuer, serial), (b"", None))
        attributes = next(f for f in fields if f.tag == 0xA0)
        digest = b""
        for attribute in der.children(message, attributes):
            oid, values = der.children(message, attribute)[:2]
            if der.raw(message, oid) == _OID_MESSAGE_DIGEST:
                digest = der.content(message, der.children(message, values)[0])
        signature = der.content(message, next(f for f in fields[3:] if f.tag == der.OCTET_STRING))
        views.append(SignerView(index, serial, organisation, cert, digest,
                                der.encode(der.SET, der.content(message, attributes)), signature))
    return views


def indirect_data_digest(path) -> bytes:
    """The file digest that the signature's SpcIndirectDataContent states."""
    message = read_signature(path)
    content_info = _parse_signed_data(message).content_info
    explicit = der.children(message, content_info)[1]
    indirect = der.children(message, explicit)[0]
    digest_info = der.children(message, indirect)[1]
    return der.content(message, der.children(message, digest_info)[1])


def verify_signer(path, signer: SignerView) -> bool:
    """Check one SignerInfo on its own, as a verifier of that signer index would:
    its message digest covers the signed content, and its signature over the signed
    attributes verifies with its certificate's key (checked by openssl)."""
    message = read_signature(path)
    content_info = _parse_signed_data(message).content_info
    explicit = der.children(message, content_info)[1]
    indirect = der.children(message, explicit)[0]
    # Authenticode digests the content without its outer SEQUENCE tag and length.
    if hashlib.sha256(der.content(message, indirect)).digest() != signer.message_digest:
        return False
    if not signer.certificate:
        return False
    with tempfile.TemporaryDirectory(prefix="signer-") as work:
        cert, key, data, signature = (os.path.join(work, n) for n in ("c.der", "k.pem", "a.der", "s.bin"))
        Path(cert).write_bytes(signer.certificate)
        Path(data).write_bytes(signer.signed_attributes)
        Path(signature).write_bytes(signer.signature)
        run(["openssl", "x509", "-inform", "DER", "-in", cert, "-pubkey", "-noout", "-out", key])
        try:
            run(["openssl", "dgst", "-sha256", "-verify", key, "-signature", signature, data])
        except PkiError:
            return False
    return True
