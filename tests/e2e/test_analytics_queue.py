"""The analytics queue file across real processes: a killed writer loses nothing it wrote."""

import pytest

from harness import ANALYTICS_DRIVER, dump_queue, queue_path, start_tool, wait_until
from harness import analytics_driver as driver

pytestmark = pytest.mark.usefixtures("empty_queue")


def test_killed_writer_leaves_every_record_it_wrote_readable():
    writer = start_tool(ANALYTICS_DRIVER, "queue", 100000, "K")
    try:
        assert wait_until(lambda: queue_path().exists() and queue_path().stat().st_size > 20000, timeout=30)
    finally:
        writer.kill()
        writer.communicate(timeout=30)

    dump = dump_queue()
    written = dump.results
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
        assert again.results == written + ["after-000"]
    else:
        assert again.results[:len(written)] == written

