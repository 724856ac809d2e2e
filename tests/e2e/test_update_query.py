"""The update query against the loopback update service: the URL and user agent it sends, the host it
picks, and the outcome of every kind of answer."""

import json
import re

import pytest

from harness import (DEBUGGING_KEY, DEFAULT_DEBUGGING, LIVE_SERVICE_PORT, QUERY_DRIVER, TEST_SERVICE_PORT,
                     import_registry, refusing, run_tool, serving)
from harness import analytics_driver as driver
from testservers import Answer, UpdateService
from testservers import faults as F

USER_AGENT = "Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93)"


def query(scheme="http", product="TesselAGGamesApp", channel="live", dp="fablewick", version="1.2.3.4",
          timeout=60):
    run = run_tool(QUERY_DRIVER, "query", scheme, product, channel, dp, version, timeout=timeout)
    assert run.returncode == 0, run.output
    values = run.values
    values["result"] = int(values["result"])
    values["size"] = int(values["size"])
    values["elapsed-ms"] = int(values["elapsed-ms"])
    return values


@pytest.fixture
def service(debugging_values):  # UseTestEnvironment=1 among them: the query goes to the test host
    with serving(lambda: UpdateService(port=TEST_SERVICE_PORT, lifetime=120)) as server:
        yield server


def test_url_carries_every_key_in_order_unescaped_with_the_exact_user_agent(service):
    service.set_answers(Answer.offer("https://127.0.0.1:1/setup.exe", "ABCDEF0123", 123456, "2.0.0.7"))
    visitor_id = driver("visitor-id").values["visitor-id"]

    answer = query(product="Tessel&AG", channel="beta/1", dp="partner%41", version="10.0.19041.1")

    assert answer["result"] == 0
    assert (answer["url"], answer["hash"], answer["size"], answer["version"]) == (
        "https://127.0.0.1:1/setup.exe", "ABCDEF0123", 123456, "2.0.0.7")
    [asked] = service.queries
    assert asked.method == "GET"
    params = dict(asked.params)
    assert re.fullmatch(r"\d+\.\d+\.\d+\.\d+\.\d+", params["os"])
    assert re.fullmatch(r"[A-Z]{2}", params["c"])
    assert re.fullmatch(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}", visitor_id)
    assert asked.target == ("/v1/client-updates/?productName=Tessel&AG&version=10.0.19041.1&channel=beta/1"
                            f"&dp=partner%41&os={params['os']}&uid={visitor_id}&c={params['c']}")
    assert asked.header("User-Agent") == USER_AGENT


@pytest.mark.parametrize("values, expected_port", [
    ({"UseTestEnvironment": 7}, TEST_SERVICE_PORT),
    ({"UseTestEnvironment": 0}, LIVE_SERVICE_PORT),
    ({"UseTestEnvironment": "1"}, LIVE_SERVICE_PORT),  # a value of another type is off
    (None, LIVE_SERVICE_PORT),
], ids=["dword 7", "dword 0", "string", "no key"])
def test_host_follows_the_use_test_environment_value(debugging_values, values, expected_port):
    import_registry({DEBUGGING_KEY: values})
    try:
        with serving(lambda: UpdateService(port=TEST_SERVICE_PORT, lifetime=60)) as test_host, \
                serving(lambda: UpdateService(port=LIVE_SERVICE_PORT, lifetime=60)) as live_host:
            assert query()["result"] == 0
        used, unused = (test_host, live_host) if expected_port == TEST_SERVICE_PORT else (live_host, test_host)
        assert len(used.queries) == 1 and len(unused.queries) == 0
    finally:
        import_registry({DEBUGGING_KEY: DEFAULT_DEBUGGING})


BODY = json.dumps({"url": "https://h/x.exe", "hash": "AB", "size": 77, "version": "3.1"})

ANSWERS = {
    "huge body": (Answer(body=json.dumps({"url": "x", "pad": "p" * 3_000_000, "size": 9})), 0, ("x", "", 9, "")),
    "error status with JSON": (Answer(body=BODY, status=500), 0, ("https://h/x.exe", "AB", 77, "3.1")),
    "syntax error": (Answer(body='{"url": "x",'), 773, ("", "", 0, "")),
    "no Content-Length": (Answer(body=BODY, content_length="omit"), 771, ("", "", 0, "")),
    "chunked": (Answer(body=BODY, chunked=True), 771, ("", "", 0, "")),
    "body shorter than announced": (Answer(body=BODY, fault=F.lying_length(20)), 771, ("", "", 0, "")),
    "cut off mid-body": (Answer(body=BODY, fault=F.drop(10)), 771, ("", "", 0, "")),
    "closed without an answer": (Answer(body=BODY, fault=F.hangup()), 772, ("", "", 0, "")),
}


@pytest.mark.parametrize("name", list(ANSWERS))
def test_each_answer_ends_in_its_outcome(service, name):
    answer, outcome, fields = ANSWERS[name]
    service.set_answers(answer)
    result = query()
    assert result["result"] == outcome
    assert (result["url"], result["hash"], result["size"], result["version"]) == fields


def test_refused_connection_is_no_response(debugging_values):
    with refusing(TEST_SERVICE_PORT):
        result = query()
    assert result["result"] == 772
    assert result["elapsed-ms"] < 5000


def test_answer_after_ten_seconds_times_out(service):
    service.set_answers(Answer(body=BODY, delay=11))
    result = query(timeout=90)
    assert result["result"] == 770
    assert (result["url"], result["size"]) == ("", 0)
    assert 9500 <= result["elapsed-ms"] <= 30000


def test_https_with_a_trusted_certificate(debugging_values, tls_pki):
    with serving(lambda: UpdateService(Answer(body=BODY), port=TEST_SERVICE_PORT, tls=tls_pki.server,
                                       lifetime=60)) as secure:
        result = query(scheme="https")
    assert result["result"] == 0
    assert result["url"] == "https://h/x.exe"
    assert len(secure.queries) == 1


def test_scheme_other_than_http_cannot_create_the_request(service):
    assert query(scheme="ftp")["result"] == 768
    assert service.queries == []
