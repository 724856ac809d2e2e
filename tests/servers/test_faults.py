"""Each fault kind happens as described, and plans hand them out as written."""

import http.client
import math
import threading
import time

import pytest

from .wire import dechunk, exchange
from testservers import Fault, FaultPlan, FileServer
from testservers import faults as F

DATA = bytes(range(256)) * 400  # 102400 bytes


def serve(plan, **options):
    return FileServer({"/f": DATA}, faults=plan, lifetime=30, **options)


def test_drop_closes_after_n_body_bytes():
    with serve([F.drop(1000)]) as srv:
        got = exchange(srv.port, "/f")
        record = srv.log.wait(1, finished=True)[0]
    assert got.status == 200 and got.header("Content-Length") == str(len(DATA))
    assert got.closed and got.body == DATA[:1000]
    assert record.bytes_sent == 1000 and not record.complete and "dropped" in record.error


def test_drop_zero_sends_headers_only():
    with serve([F.drop(0)]) as srv:
        got = exchange(srv.port, "/f", headers=[("Range", "bytes=10-")])
    assert got.status == 206 and got.body == b""


def test_stall_before_headers_delays_the_status_line():
    with serve([F.stall(0.4)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.body == DATA
    assert got.elapsed >= 0.4


def test_stall_mid_body_holds_after_the_given_offset():
    with serve([F.stall(0.5, after=4096)]) as srv:
        sock_started = time.monotonic()
        conn = http.client.HTTPConnection("127.0.0.1", srv.port, timeout=5)
        conn.request("GET", "/f")
        response = conn.getresponse()
        head = response.read(4096)
        first_part = time.monotonic() - sock_started
        rest = response.read()
        total = time.monotonic() - sock_started
        conn.close()
    assert head + rest == DATA
    assert first_part < 0.4 <= total


def test_endless_stall_ends_when_the_server_stops():
    srv = serve([F.stall(math.inf, after=10)])
    result = {}
    worker = threading.Thread(target=lambda: result.update(got=exchange(srv.port, "/f", timeout=10)))
    worker.start()
    srv.log.wait(1)
    time.sleep(0.2)
    srv.stop()
    worker.join(5)
    assert result["got"].closed and result["got"].body == DATA[:10]
    assert result["got"].elapsed < 5


@pytest.mark.parametrize("status", [500, 503])
def test_error_answers_the_status_instead_of_the_file(status):
    with serve([F.error(status)]) as srv:
        got = exchange(srv.port, "/f", headers=[("Range", "bytes=0-9")])
    assert got.status == status
    assert got.header("Content-Range") is None
    assert got.body == f"injected status {status}\n".encode()


@pytest.mark.parametrize("fault, expected", [
    (F.wrong_content_range(), "bytes 11-20/102400"),
    (F.wrong_content_range(shift=-10), "bytes 0-9/102400"),
    (F.wrong_content_range(total=500), "bytes 10-19/500"),
    (F.wrong_content_range("bytes 0-99/500"), "bytes 0-99/500"),
])
def test_wrong_content_range_with_true_body(fault, expected):
    with serve([fault]) as srv:
        got = exchange(srv.port, "/f", headers=[("Range", "bytes=10-19")])
    assert got.status == 206
    assert got.header("Content-Range") == expected
    assert got.body == DATA[10:20]


def test_ignore_range_sends_200_and_everything():
    with serve([F.ignore_range()]) as srv:
        got = exchange(srv.port, "/f", headers=[("Range", "bytes=10-19")])
    assert (got.status, got.body, got.header("Content-Range")) == (200, DATA, None)


def test_change_content_between_requests():
    with serve([None, F.change_content(lambda old: old[::-1])]) as srv:
        first = exchange(srv.port, "/f")
        second = exchange(srv.port, "/f")
        third = exchange(srv.port, "/f")
    assert first.body == DATA
    assert second.body == third.body == DATA[::-1]
    assert first.header("Last-Modified") != second.header("Last-Modified")


def test_no_content_length_ends_body_with_the_connection():
    with serve([F.no_content_length()]) as srv:
        got = exchange(srv.port, "/f")
    assert got.header("Content-Length") is None
    assert got.closed and got.body == DATA


@pytest.mark.parametrize("delta", [100, -100])
def test_lying_length_announces_wrong_size_and_sends_true_body(delta):
    with serve([F.lying_length(delta)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.header("Content-Length") == str(len(DATA) + delta)
    assert got.header("Connection") == "close"
    assert got.closed and got.body == DATA


@pytest.mark.parametrize("text", ["-5", "abc", ""])
def test_content_length_text_is_sent_verbatim(text):
    with serve([F.content_length(text)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.header("Content-Length") == text


def test_chunked_encoding_frames_the_body():
    with serve([F.chunked(30000)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.header("Transfer-Encoding") == "chunked" and got.header("Content-Length") is None
    assert got.body.startswith(b"7530\r\n")
    assert dechunk(got.body) == DATA


def test_throttle_limits_the_rate_per_response():
    with serve([F.throttle(200_000)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.body == DATA
    assert 0.45 <= got.elapsed < 2.0  # 102400 bytes at 200 kB/s take ~0.5 s


def test_server_wide_rate_applies_to_every_answer():
    with serve(None, rate=400_000) as srv:
        got = exchange(srv.port, "/f")
    assert got.body == DATA and got.elapsed >= 0.23


def test_hangup_closes_without_a_byte():
    with serve([F.hangup()]) as srv:
        got = exchange(srv.port, "/f")
        record = srv.log.wait(1, finished=True)[0]
    assert got.closed and got.received == b""
    assert record.status is None


def test_raw_sends_garbage_instead_of_a_response():
    garbage = b"\x00\xffNOT HTTP\r\n\r\n"
    with serve([F.raw(garbage)]) as srv:
        got = exchange(srv.port, "/f")
    assert got.received == garbage and got.status is None


def test_huge_header_and_combined_faults():
    fault = F.headers(("X-Big", "a" * 65536)) + F.drop(50)
    with serve([fault]) as srv:
        got = exchange(srv.port, "/f")
    assert got.header("X-Big") == "a" * 65536
    assert got.body == DATA[:50]


def test_combining_keeps_fields_of_both_and_later_wins():
    combined = F.drop(10) + F.throttle(5) + F.drop(20) + F.headers(A="1") + F.headers(B="2")
    assert (combined.drop_after, combined.rate) == (20, 5.0)
    assert combined.headers == (("A", "1"), ("B", "2"))
    assert not Fault() and combined
    assert F.drop(1) + None == F.drop(1)


def test_sequence_plan_is_consumed_one_per_request_then_correct():
    with serve([F.error(500), None, F.error(502)]) as srv:
        statuses = [exchange(srv.port, "/f", method="HEAD").status for _ in range(4)]
        assert srv.plan.pending() == 0
        srv.plan.add(F.error(503))
        statuses.append(exchange(srv.port, "/f", method="HEAD").status)
    assert statuses == [500, 200, 502, 200, 503]


def test_callable_plan_sees_the_request():
    def rule(record):
        return F.error(500) if record.range_asked == (0, 0) else None
    with serve(rule) as srv:
        assert exchange(srv.port, "/f", headers=[("Range", "bytes=0-0")]).status == 500
        assert exchange(srv.port, "/f", headers=[("Range", "bytes=1-1")]).status == 206


def test_per_path_rules_keep_their_own_sequences():
    plan = {"/a": [F.error(500)], "b": F.error(502)}
    with FileServer({"/a": b"A", "/b": b"B", "/c": b"C"}, faults=plan, lifetime=30) as srv:
        statuses = [exchange(srv.port, p).status for p in ("/c", "/a", "/b", "/a", "/b")]
    assert statuses == [200, 500, 502, 200, 502]


def test_single_fault_applies_to_every_request():
    with serve(F.error(500)) as srv:
        assert [exchange(srv.port, "/f").status for _ in range(2)] == [500, 500]


def draws(plan, count):
    return [str(plan.next(None)) for _ in range(count)]


def test_random_plan_is_reproducible_from_its_seed():
    kinds = ("drop", "stall", "error", "throttle", "chunked")
    first = draws(FaultPlan.random(7, probability=0.5, kinds=kinds), 50)
    again = draws(FaultPlan.random(7, probability=0.5, kinds=kinds), 50)
    other = draws(FaultPlan.random(8, probability=0.5, kinds=kinds), 50)
    assert first == again != other
    assert 10 < sum(d != "no fault" for d in first) < 40


def test_random_plan_respects_its_limit():
    plan = FaultPlan.random(1, probability=1.0, limit=3)
    assert [d != "no fault" for d in draws(plan, 6)] == [True] * 3 + [False] * 3


def test_log_names_the_fault_applied():
    with serve([F.drop(5)]) as srv:
        exchange(srv.port, "/f")
        record = srv.log.wait(1, finished=True)[0]
    assert record.fault == "Fault(drop_after=5)"


def test_failing_plan_callable_is_recorded_and_closes_the_connection():
    def broken(_record):
        raise RuntimeError("plan bug")
    with serve(broken) as srv:
        got = exchange(srv.port, "/f")
        record = srv.log.wait(1, finished=True)[0]
    assert got.closed and got.received == b""
    assert "plan bug" in record.error and any("plan bug" in e for e in srv.errors)
