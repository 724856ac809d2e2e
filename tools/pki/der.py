"""Just enough DER to take PKCS#7 signatures and certificates apart and put them together."""

from __future__ import annotations

from typing import List, NamedTuple

SEQUENCE = 0x30
SET = 0x31
OID = 0x06
INTEGER = 0x02
OCTET_STRING = 0x04


class Tlv(NamedTuple):
    tag: int
    start: int  # offset of the tag byte
    header: int  # tag and length bytes
    length: int  # content bytes

    @property
    def content_start(self) -> int:
        return self.start + self.header

    @property
    def end(self) -> int:
        return self.start + self.header + self.length


def read(data: bytes, pos: int = 0) -> Tlv:
    """The element at `pos` (single-byte tags; definite lengths, as DER has)."""
    if pos + 2 > len(data):
        raise ValueError(f"truncated element at {pos}")
    tag = data[pos]
    if tag & 0x1F == 0x1F:
        raise ValueError(f"multi-byte tag at {pos}")
    first = data[pos + 1]
    if first < 0x80:
        length, header = first, 2
    else:
        count = first & 0x7F
        if count == 0 or count > 4:
            raise ValueError(f"unsupported length form at {pos}")
        length = int.from_bytes(data[pos + 2:pos + 2 + count], "big")
        header = 2 + count
    element = Tlv(tag, pos, header, length)
    if element.end > len(data):
        raise ValueError(f"element at {pos} runs past the data")
    return element


def children(data: bytes, parent: Tlv) -> List[Tlv]:
    items, pos = [], parent.content_start
    while pos < parent.end:
        item = read(data, pos)
        items.append(item)
        pos = item.end
    return items


def raw(data: bytes, element: Tlv) -> bytes:
    return data[element.start:element.end]


def content(data: bytes, element: Tlv) -> bytes:
    return data[element.content_start:element.end]


def encode_length(length: int) -> bytes:
    if length < 0x80:
        return bytes([length])
    body = length.to_bytes((length.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def encode(tag: int, body: bytes) -> bytes:
    return bytes([tag]) + encode_length(len(body)) + body


def encode_oid(dotted: str) -> bytes:
    parts = [int(p) for p in dotted.split(".")]
    out = bytearray([parts[0] * 40 + parts[1]])
    for value in parts[2:]:
        chunk = [value & 0x7F]
        value >>= 7
        while value:
            chunk.append(0x80 | (value & 0x7F))
            value >>= 7
        out.extend(reversed(chunk))
    return encode(OID, bytes(out))
