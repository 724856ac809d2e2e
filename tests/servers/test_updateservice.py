"""The update service answers from its plan and logs each query in order."""

import json
import threading
import time

import pytest

from .wire import dechunk, exchange
from testservers import Answer, QUERY_PATH, UpdateService
from testservers import faults as F

QUERY = (QUERY_PATH + "?productName=TesselAGGamesApp&version=1.2.3.4&channel=live&dp=fablewick"
         "&os=10.0.19045.0.0&uid=0f8fad5b-d9cb-469f-a165-70867728950e&c=US")


def test_logs_every_key_in_the_order_sent():
    with UpdateService(lifetime=30) as service:
        got = exchange(service.port, QUERY)
        query = service.wait_for_queries(1)[0]
    assert (got.status, got.body, got.header("Content-Type")) == (200, b"{}", "application/json")
    assert query.keys == ["productName", "version", "channel", "dp", "os", "uid", "c"]
    assert query.param("os") == "10.0.19045.0.0"
    assert query.query == QUERY.split("?", 1)[1]


@pytest.mark.parametrize("answer, status, body", [
    ({"url": "http://127.0.0.1/x.exe", "size": 5}, 200, json.dumps({"url": "http://127.0.0.1/x.exe", "size": 5})),
    ("// comment\n{\"size\": 1e3}", 200, "// comment\n{\"size\": 1e3}"),
    (b"\xff\xfe not json", 200, b"\xff\xfe not json"),
    (Answer(body={"url": "u"}, status=500), 500, '{"url": "u"}'),
    (Answer(body="[1]", status=404), 404, "[1]"),
])
def test_answers_any_body_with_any_status(answer, status, body):
    body = body.encode() if isinstance(body, str) else body
    with UpdateService(answer, lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert (got.status, got.body, got.header("Content-Length")) == (status, body, str(len(body)))


def test_extra_headers_and_offer_helper():
    answer = Answer.offer("http://127.0.0.1:1/i.exe", "AB" * 32, 12345, headers=(("X-Extra", "yes"),))
    with UpdateService(answer, lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert got.header("X-Extra") == "yes"
    assert json.loads(got.body) == {"url": "http://127.0.0.1:1/i.exe", "hash": "AB" * 32, "size": 12345,
                                    "version": "1.0.0.0"}


@pytest.mark.parametrize("announced, header", [(1000, "1000"), (2, "2"), ("omit", None), ("-1", "-1")])
def test_content_length_can_lie_or_be_missing(announced, header):
    with UpdateService(Answer(body='{"url":"x"}', content_length=announced), lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert got.header("Content-Length") == header
    assert got.body == b'{"url":"x"}' and got.closed


def test_chunked_answer_has_no_length():
    with UpdateService(Answer(body='{"size": 7}', chunked=True), lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert got.header("Content-Length") is None
    assert dechunk(got.body) == b'{"size": 7}'


def test_list_is_consumed_then_default_answers():
    with UpdateService([{"n": 1}, Answer(status=503)], default={"n": "default"}, lifetime=30) as service:
        got = [exchange(service.port, QUERY) for _ in range(3)]
    assert [g.status for g in got] == [200, 503, 200]
    assert got[0].body == b'{"n": 1}' and got[2].body == b'{"n": "default"}'


def test_callable_answers_from_the_query():
    with UpdateService(lambda q: {"echo": q.param("channel")}, lifetime=30) as service:
        got = exchange(service.port, QUERY.replace("channel=live", "channel=beta"))
    assert got.body == b'{"echo": "beta"}'


def test_delay_holds_the_answer():
    with UpdateService(Answer(delay=0.4), lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert got.status == 200 and got.elapsed >= 0.4


def test_never_answers_until_stopped():
    service = UpdateService(Answer.never(), lifetime=30)
    result = {}
    worker = threading.Thread(target=lambda: result.update(got=exchange(service.port, QUERY, timeout=10)))
    worker.start()
    service.wait_for_queries(1)
    time.sleep(0.3)
    assert worker.is_alive()  # still waiting for a status line
    service.stop()
    worker.join(5)
    assert result["got"].closed and result["got"].received == b""


def test_fault_mid_body():
    with UpdateService(Answer(body='{"url": "abcdef"}', fault=F.drop(5)), lifetime=30) as service:
        got = exchange(service.port, QUERY)
    assert got.header("Content-Length") == "17" and got.body == b'{"url'


def test_other_paths_are_404_and_not_queries():
    with UpdateService(lifetime=30) as service:
        assert exchange(service.port, "/v1/client-updates?x=1").status == 404
        assert service.queries == []
        assert len(service.log) == 1
