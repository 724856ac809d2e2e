"""The analytics queue shared by real processes and its background upload to the loopback GA4 sink."""

import collections
import time

import pytest

from harness import ANALYTICS_DRIVER, FULL_CONSENT, cookies, dump_queue, hit_params, parse_values, start_tool
from harness import analytics_driver as driver
from testservers import faults as F

PER_SECOND_GAP = 0.8  # seconds: "one hit per second", with room for a busy machine


pytestmark = pytest.mark.usefixtures("empty_queue", "consent_given")


@pytest.fixture
def consent_given():
    with cookies(consent=FULL_CONSENT):
        yield


def results_of(records):
    return [dict(hit_params(r.query)).get("ep.result") for r in records]


def gaps(hits):
    return [b.started - a.started for a, b in zip(hits, hits[1:])]


def queue_concurrently(count, tags):
    processes = [start_tool(ANALYTICS_DRIVER, "queue", count, tag) for tag in tags]
    for process in processes:
        out, err = process.communicate(timeout=120)
        assert process.returncode == 0, (out, err)
        values = parse_values(out.decode())
        assert (values["queued"], values["dropped"]) == (str(count), "0"), out


def test_events_of_several_processes_drain_one_per_second_through_failures_and_stalls(sink):
    queue_concurrently(3, ["F", "G"])
    queued = dump_queue()
    assert len(queued.records) == 6 and queued.end == "end" and queued.header["pending"] == 6
    # A good answer, an error, a stall of three seconds, a dropped connection, then good ones again.
    sink.fault_next(1, F.NONE)
    sink.fail_next(1, 503)
    sink.stall_next(1, 3)
    sink.fault_next(1, F.hangup())

    run = driver("upload", 60000, timeout=120)

    assert run.values["uploading"] == "0" and run.values["pending"] == "0"
    assert dump_queue().records == []
    hits = sink.hits
    assert hits[1].status == 503
    assert all(h.method == "GET" and h.body == b"" for h in hits)
    assert all(h.header("User-Agent").startswith("Mozilla/5.0 (Windows NT ") for h in hits)
    # The very records, in queue order, each until it was answered: a hit that comes twice in a row was
    # sent again after the error or resent by the connection after the hang-up.
    firsts = [h for previous, h in zip([None] + hits, hits) if previous is None or previous.query != h.query]
    assert [h.query for h in firsts] == [r.query for r in queued.records]
    assert sorted(results_of(queued.records)) == sorted(f"{t}-{i:03d}" for t in "FG" for i in range(3))
    # The upload goes on after the failures at its own pace; the stalled hit holds the next one back until
    # it is answered.
    assert firsts[3].started - firsts[2].started >= 3 + PER_SECOND_GAP
    assert min(gaps(firsts)) >= PER_SECOND_GAP


def test_end_of_run_waits_five_seconds_for_the_queue_then_leaves_the_rest(sink):
    run = driver("report", 20, "E", timeout=60)

    end_wait = int(run.values["end-wait-ms"])
    assert 4900 <= end_wait <= 9000
    sent = results_of(sink.hits)
    left = dump_queue().results
    assert 3 <= len(sent) <= 9
    assert sent + left == [f"E-{i:03d}" for i in range(20)]  # none lost, none twice, in order


def test_end_of_run_ends_as_soon_as_the_queue_is_empty(sink):
    run = driver("report", 2, "Q", timeout=60)

    assert int(run.values["end-wait-ms"]) < 4000
    assert results_of(sink.hits) == ["Q-000", "Q-001"]
    assert dump_queue().records == []


def test_event_queued_while_the_upload_waits_to_end_is_sent_by_the_same_process(sink):
    # The upload has found the queue empty and waits its one second before ending when the event comes.
    driver("late", 700, "L", timeout=60)

    assert results_of(sink.hits) == ["L-000"]
    assert dump_queue().records == []


def test_without_network_nothing_is_sent_and_the_end_does_not_wait(sink):
    # With the Network List Manager unavailable the program sees no network at all.
    run = driver("report", 3, "N", env={"WINEDLLOVERRIDES": "netprofm="}, timeout=60)

    assert int(run.values["end-wait-ms"]) < 3000
    assert sink.hits == []
    assert dump_queue().results == ["N-000", "N-001", "N-002"]


def test_end_of_run_with_a_stalled_sink_gives_up_after_the_wait(sink):
    sink.stall_next(1)  # the first hit never gets an answer

    run = driver("report", 3, "S", timeout=90)

    end_wait = int(run.values["end-wait-ms"])
    assert 4900 <= end_wait <= 20000
    assert results_of(sink.hits) == ["S-000"]
    # The stalled hit went out once and is not sent again; the others wait for a later run.
    assert dump_queue().results == ["S-001", "S-002"]


def test_eight_processes_share_one_queue_while_uploading(sink):
    tags = [f"P{k}" for k in range(8)]
    started = time.monotonic()
    processes = [start_tool(ANALYTICS_DRIVER, "report", 100, tag) for tag in tags]
    for process in processes:
        out, err = process.communicate(timeout=150)
        assert process.returncode == 0, (out, err)
        assert parse_values(out.decode())["reported"] == "100"
    took = time.monotonic() - started

    queued = dump_queue()
    assert queued.end == "end"  # every record intact up to the end of the file
    assert queued.header["pending"] == len(queued.records)
    left = results_of(queued.records)
    sent = results_of(sink.hits)
    assert len(sent) >= 1  # the upload ran meanwhile
    everything = collections.Counter(sent + left)
    expected = {f"{t}-{i:03d}" for t in tags for i in range(100)}
    assert set(everything) == expected and max(everything.values()) == 1, "missing or doubled records"
    # Each process's records keep their order, in the queue and on the wire.
    for tag in tags:
        mine = [r for r in sent + left if r.startswith(tag + "-")]
        assert mine == sorted(mine)
    assert took < 120
