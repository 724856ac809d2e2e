"""The multi-stream download engine (tools/DownloadDriver) against the loopback file server and its faults.

Every download ends either in the target file, identical to the source and alone in its folder, or in
the engine's documented failure with nothing left behind; never in a hang or a wrong file.
"""

import random

import pytest
from testservers import faults as F

from harness import BLOCK, download_state_bytes, folder_listing, run_driver, stream_ranges

NAME = "setup.exe"


def source(size, seed=1):
    return random.Random(seed).randbytes(size)


def assert_downloaded(folder, data, result, name=NAME):
    assert result.exit_code == 0, result.output
    assert folder_listing(folder) == [name], result.output
    assert (folder / name).read_bytes() == data


def assert_failed_cleanly(folder, result, *texts):
    assert result.exit_code == 1, result.output
    assert len(result.failed) == 1, result.output
    description = result.failed[0]
    assert "HTTPDownloadThreadCallback" in description or "WatchdogThread" in description, description
    for text in texts:
        assert text in description, description
    assert folder_listing(folder) == [], "a failed download leaves nothing behind"


@pytest.fixture
def folder(tmp_path):
    path = tmp_path / "download"
    path.mkdir()
    return path


MIB = 1024 * 1024
FIRST = (0, 20 * MIB)  # the bounded first request of a fresh download: 20 MiB and one byte


@pytest.mark.parametrize("size, asked", [
    (0, [FIRST]),
    (300_000, [FIRST]),
    (20 * MIB, [FIRST]),
    (20 * MIB + 1, [FIRST]),
    # Stream 0 reads the first answer to its end and goes on where it ended; stream 1 takes the second half.
    (48 * MIB, [FIRST, (20 * MIB + 1, 24 * MIB - 1), (24 * MIB, 48 * MIB - 1)]),
], ids=["empty", "small", "20MiB", "20MiB-and-one-byte", "large"])
def test_first_request_is_bounded_and_no_byte_is_fetched_twice(http_server, folder, size, asked):
    data = source(size)
    server = http_server({"/" + NAME: data})
    result = run_driver(server.url("/" + NAME), folder / NAME)
    assert_downloaded(folder, data, result)
    records = server.log.records()
    assert [records[0].range_asked] + sorted(r.range_asked for r in records[1:]) == asked
    assert sum(r.bytes_sent for r in records) == size


def test_path_with_a_doubled_slash_is_asked_for_as_given(http_server, folder):
    data = source(1000)
    server = http_server({"/dir//" + NAME: data})
    assert_downloaded(folder, data, run_driver(server.url("/dir//" + NAME), folder / NAME, retries=0))
    assert [r.path for r in server.log.records()] == ["/dir//" + NAME]


@pytest.mark.parametrize("size", [0, 65535, 65536, 65537, 1_000_001])
def test_file_sizes_around_block_edges(http_server, folder, size):
    data = source(size, seed=size)
    server = http_server({"/" + NAME: data})
    assert_downloaded(folder, data, run_driver(server.url("/" + NAME), folder / NAME))


def test_connection_drops_resume_exactly_where_the_data_stopped(make_server, folder):
    data = source(1_500_000)
    offsets = sorted(random.Random(7).sample(range(1, 400_000), 3))
    server = make_server({"/" + NAME: data}, faults=[F.drop(offset) for offset in offsets])
    result = run_driver(server.url("/" + NAME), folder / NAME)
    assert_downloaded(folder, data, result)
    records = server.log.records()
    assert len(records) == 4
    for before, after in zip(records, records[1:]):
        # Every byte that arrived was kept: the next request starts right after it.
        assert after.range_asked == (before.delivered[1], None)


def test_stalled_body_ends_by_the_receive_time_out_and_resumes(http_server, folder):
    data = source(1_000_000)
    server = http_server({"/" + NAME: data}, faults=[F.stall(after=300_000)])
    result = run_driver(server.url("/" + NAME), folder / NAME, timeout_ms=1500)
    assert_downloaded(folder, data, result)
    records = server.log.records()
    assert len(records) == 2
    resumed_at = records[1].range_asked[0]
    # Whole blocks that reached the disk are not fetched again.
    assert 300_000 - 2 * BLOCK <= resumed_at <= 300_000
    assert result.elapsed_s < 15


def test_server_that_never_answers_is_left_after_the_time_out(http_server, folder):
    data = source(200_000)
    server = http_server({"/" + NAME: data}, faults=[F.delay(), F.hangup()])
    result = run_driver(server.url("/" + NAME), folder / NAME, timeout_ms=1500)
    assert_downloaded(folder, data, result)
    assert [r.status for r in server.log.records()][-1] == 206
    assert result.elapsed_s < 20


def test_burst_of_server_errors_is_retried_after_growing_pauses(http_server, folder):
    data = source(200_000)
    server = http_server({"/" + NAME: data}, faults=[F.error(503), F.error(500)])
    result = run_driver(server.url("/" + NAME), folder / NAME)
    assert_downloaded(folder, data, result)
    started = [r.started for r in server.log.records()]
    assert len(started) == 3
    assert started[1] - started[0] >= 0.8  # pause of 1 s
    assert started[2] - started[1] >= 1.8  # pause of 2 s


def test_two_streams_reject_a_wrong_range_and_a_wrong_total(http_server, folder):
    data = source(1_000_001)
    (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
    plan = {"/" + NAME: [F.wrong_content_range(shift=1000), None, F.wrong_content_range(total=2_000_000)]}
    server = http_server({"/" + NAME: data}, faults=plan)
    result = run_driver(server.url("/" + NAME), folder / NAME, retries=3)
    assert_downloaded(folder, data, result)
    records = server.log.records()
    story = [(r.range_asked, r.status, r.fault, r.delivered) for r in records]
    asked = [r.range_asked for r in records]
    assert sorted(asked[:2]) == [(0, 499_999), (500_000, 1_000_000)], story
    # A total that differs from the plan means another file: the download starts again with one stream.
    assert asked[-1] is None, story


# size, the server's answers in turn, the ranges then asked (and the statuses answered)
ANSWER_CASES = {
    "wrong content range on a resume is asked again": (
        600_000, [F.drop(100_000), F.wrong_content_range(shift=1)], [FIRST, (100_000, None), (100_000, None)]),
    "416 restarts from scratch": (300_000, [F.drop(70_000), F.error(416)], [FIRST, (70_000, None), None]),
    "200 instead of 206 on a resume starts the stream again": (
        500_000, [F.drop(200_000), F.ignore_range()], [(FIRST, 206), ((200_000, None), 200)]),
    # After a restart with one stream, no switch to two streams is granted.
    "restart of a file over the first request's length": (20 * MIB + 2, [F.error(416)], [FIRST, None]),
}


@pytest.mark.parametrize("name", list(ANSWER_CASES))
def test_answers_that_break_a_resume_are_asked_again_or_restarted(http_server, folder, name):
    size, faults, asked = ANSWER_CASES[name]
    data = source(size)
    server = http_server({"/" + NAME: data}, faults=faults)
    assert_downloaded(folder, data, run_driver(server.url("/" + NAME), folder / NAME))
    records = server.log.records()
    with_status = isinstance(asked[0][0], tuple)
    assert [(r.range_asked, r.status) if with_status else r.range_asked for r in records] == asked


# The server, the retries, what the failure says, the requests made (None: not counted)
FAILURES = {
    "server errors beyond the retries": (
        lambda make, tls: make({"/" + NAME: source(50_000)}, faults=F.error(503)), 1,
        ["Download Thread Error", "DownloadThread Execute Function", "HTTP status is bad:503"], 2),
    "restarts stop after four": (lambda make, tls: make({"/" + NAME: source(10_000)}, faults=F.error(416)), 0,
                                 ["HTTP status is bad:416"], 5),  # the first start and four restarts
    "missing file": (lambda make, tls: make({}), 0, ["HTTP status is bad:404"], 1),
    "refused port": (lambda make, tls: None, 0, ["HttpSendRequestA failed."], None),
    "server certificate of an unknown CA": (
        lambda make, tls: make({"/" + NAME: source(1000)}, tls=tls.other_server), 0, ["HttpSendRequestA failed."],
        None),
}


@pytest.mark.parametrize("name", list(FAILURES))
def test_download_that_cannot_succeed_fails_cleanly_after_its_retries(http_server, tls_pki, folder, name):
    make, retries, texts, requests = FAILURES[name]
    server = make(http_server, tls_pki)
    url = server.url("/" + NAME) if server is not None else "http://127.0.0.1:9/" + NAME
    assert_failed_cleanly(folder, run_driver(url, folder / NAME, retries=retries), *texts)
    if requests is not None:
        assert len(server.log) == requests


@pytest.mark.parametrize("ranges", [True, False], ids=["200-once", "no-ranges-server"])
def test_200_to_two_streams_restarts_with_one_stream(http_server, folder, ranges):
    data = source(700_001)
    (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
    server = http_server({"/" + NAME: data}, faults=[F.ignore_range()] if ranges else None, ranges=ranges)
    result = run_driver(server.url("/" + NAME), folder / NAME)
    assert_downloaded(folder, data, result)
    assert server.log.records()[-1].range_asked is None


@pytest.mark.parametrize("drop", [None, 3 * MIB], ids=["whole-body", "dropped-once"])
def test_server_without_ranges_is_read_by_one_stream_and_no_body_is_drained(http_server, folder, drop):
    data = source(24 * MIB)
    server = http_server({"/" + NAME: data}, ranges=False, faults=[F.drop(drop)] if drop else None)
    assert_downloaded(folder, data, run_driver(server.url("/" + NAME), folder / NAME))
    records = server.log.records()
    assert [r.status for r in records] == [200] * (2 if drop else 1)
    assert sum(r.bytes_sent for r in records) == len(data) + (drop or 0)


@pytest.mark.parametrize("fault", [None, F.ignore_range() + F.no_content_length()], ids=["size-named", "no-size"])
def test_file_longer_than_the_announced_size_fails_the_download(http_server, folder, fault):
    server = http_server({"/" + NAME: source(300_000)}, faults=fault)
    result = run_driver(server.url("/" + NAME), folder / NAME, max_size=200_000)
    assert_failed_cleanly(folder, result, "announced size of 200000 bytes")
    assert len(server.log) == 1  # no retry can make the file shorter


@pytest.mark.parametrize("trickles, retries, finished", [(1, 5, True), (2, 1, False)], ids=["once", "always"])
def test_trickling_connection_counts_as_stalled(http_server, folder, trickles, retries, finished):
    data = source(300_000)
    server = http_server({"/" + NAME: data}, faults=[F.throttle(100)] * trickles)
    result = run_driver(server.url("/" + NAME), folder / NAME, stall_window_ms=1000, retries=retries)
    if finished:
        assert_downloaded(folder, data, result)
    else:
        # What a stalled attempt received does not restore the retries: the download ends.
        assert_failed_cleanly(folder, result, "The connection stalled")
    assert len(server.log) == 2
    assert result.elapsed_s < 20


def test_two_streams_split_the_file_and_meet_at_the_end(http_server, folder):
    data = source(1_000_001)
    (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
    server = http_server({"/" + NAME: data})
    result = run_driver(server.url("/" + NAME), folder / NAME)
    assert_downloaded(folder, data, result)
    assert sorted(r.range_asked for r in server.log.records()) == stream_ranges(len(data), 2)
    assert stream_ranges(len(data), 2) == [(0, 499_999), (500_000, 1_000_000)]


def test_stopping_during_a_stalled_read_ends_within_the_time_out_and_keeps_the_state(http_server, folder):
    data = source(1_000_000)
    server = http_server({"/" + NAME: data}, faults=[F.stall(after=300_000)])
    result = run_driver(server.url("/" + NAME), folder / NAME, timeout_ms=1500, stop_after_ms=1000)
    assert list(result.stopped) == [0], result.output
    # The blocked read ends by its receive time-out (1.5 s after the last data), not by closing handles.
    assert result.stopped[0] < 1500 + 1000 + 1500, result.output
    assert NAME + ".downloadstate" in folder_listing(folder) and NAME + ".0" in folder_listing(folder)
    server.set_faults(None)
    assert_downloaded(folder, data, run_driver(server.url("/" + NAME), folder / NAME))


def test_two_failing_streams_tell_the_owner_of_the_failure_once(http_server, folder):
    data = source(300_000)
    (folder / (NAME + ".downloadstate")).write_bytes(download_state_bytes(len(data), 2))
    server = http_server({"/" + NAME: data}, faults=F.error(500))
    result = run_driver(server.url("/" + NAME), folder / NAME, retries=0)
    assert_failed_cleanly(folder, result, "HTTP status is bad:500")
    calls, failed_calls = result.callbacks[0]
    assert failed_calls == 1, result.output
