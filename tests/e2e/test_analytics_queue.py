"""The analytics queue file across real processes: killed writers and damaged files."""

import struct
import zlib

import pytest

from analytics_support import (ANALYTICS_DRIVER, driver, dump_queue, queue_path, remove_queue, start_tool,
                               wait_until)


@pytest.fixture(autouse=True)
def empty_queue():
    remove_queue()
    yield
    remove_queue()


def results(dump):
    return [dict(r.params)["ep.result"] for r in dump.records]


def test_killed_writer_leaves_every_record_it_wrote_readable():
    writer = start_tool(ANALYTICS_DRIVER, "queue", 100000, "K")
    try:
        assert wait_until(lambda: queue_path().exists() and queue_path().stat().st_size > 20000, timeout=30)
    finally:
        writer.kill()
        writer.communicate(timeout=30)

    dump = dump_queue()
    written = results(dump)
    assert len(written) >= 20
    assert written == [f"K-{i:03d}" for i in range(len(written))]  # a gapless prefix, each record intact
    # A record cut by the kill may end the file; nothing before it is affected.
    if dump.end == "damaged":
        assert dump.end_offset == dump.records[-1].offset + dump.records[-1].size
    else:
        assert dump.end_offset == queue_path().stat().st_size

    driver("queue", 1, "after")
    again = dump_queue()
    if dump.end == "end":
        assert results(again) == written + ["after-000"]
    else:
        assert results(again)[:len(written)] == written


def header(version, pending, first):
    head = struct.pack("<IIII", version, pending, first, 0)
    return head + struct.pack("<I", zlib.crc32(head))


def flip(data, at, mask=0x10):
    return data[:at] + bytes([data[at] ^ mask]) + data[at + 1:]


# name: (change of the file, given its bytes and the offsets of its three records; what a reader finds)
DAMAGES = {
    "flipped bit in the header": (lambda b, at: flip(b, 0, 0x01), "reset"),
    "wrong version": (lambda b, at: header(2, 3, 20) + b[20:], "reset"),
    "first pending offset past the end": (lambda b, at: header(1, 3, len(b) + 100) + b[20:], "reset"),
    "flipped bit in the second record": (lambda b, at: flip(b, at[1] + 23 + 5), ["G-000"]),
    "flipped bit in a record's check": (lambda b, at: flip(b, at[2] + 9), ["G-000", "G-001"]),
    "truncated last record": (lambda b, at: b[:-7], ["G-000", "G-001"]),
    "record size over the limit": (lambda b, at: b[:at[0]] + struct.pack("<I", 1_000_001) + b[at[0] + 4:], []),
}


@pytest.mark.parametrize("name", list(DAMAGES))
def test_damaged_queue_is_read_up_to_the_damage_or_reset(name):
    change, expected = DAMAGES[name]
    driver("queue", 3, "G")
    offsets = [r.offset for r in dump_queue().records]
    path = queue_path()
    path.write_bytes(change(path.read_bytes(), offsets))

    dump = dump_queue()
    if expected == "reset":
        # A damaged header empties the queue at once; the queue works on for the next events.
        assert dump.header["repaired"] == 1 and dump.records == [] and path.stat().st_size == 20
        driver("queue", 1, "N")
        assert results(dump_queue()) == ["N-000"]
    else:
        # Every record before the damage is read intact; the reader stops at the damaged one.
        assert results(dump) == expected
        assert dump.end == "damaged" and dump.end_offset == offsets[len(expected)]
