"""Update queries that fail end the run with the query's outcome, `UpdateNo` and the outcome's hit.
(768, a request that cannot be created, needs an address whose scheme is not http or https; the query's
scheme is fixed in the program, so no run can reach it.)"""

import time

import pytest

from testservers import Answer, faults as F


@pytest.mark.parametrize("answer, code, name", [
    (Answer({"url": "x"}, content_length="omit"), 771, "FailureGetURLBadLen"),
    (Answer({"url": "x"}, chunked=True), 771, "FailureGetURLBadLen"),
    (Answer(fault=F.hangup()), 772, "FailureGetURLNoResp"),
    # WinInet takes an answer without a status line for a body without headers (HTTP/0.9).
    (Answer(fault=F.raw(b"garbage\r\n\r\n")), 771, "FailureGetURLBadLen"),
    ('{"url": "http://127.0.0.1/x.exe", ', 773, "FailureParseURLResponse"),
    (Answer(b"\xff\xfe<html>", content_type="text/html"), 773, "FailureParseURLResponse"),
], ids=["no-length", "chunked", "hangup", "garbage-status-line", "cut-json", "not-json"])
def test_query_failure_ends_the_run_with_its_code(updater, answer, code, name):
    updater.service.set_answers(answer)
    run = updater.run()
    assert run.exit_code == code, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == [name], run.describe()
    assert len(run.queries) == 1 and run.file_requests == []


def test_query_without_any_service_ends_with_772(updater):
    updater.service.stop()  # the port refuses connections
    run = updater.run()
    assert run.exit_code == 772, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == ["FailureGetURLNoResp"]


def test_query_that_is_never_answered_ends_with_770_after_ten_seconds(updater):
    updater.service.set_answers(Answer.never())
    started = time.monotonic()
    run = updater.run()
    assert run.exit_code == 770, run.describe()
    assert time.monotonic() - started >= 10
    assert run.events == ["UpdateNo"]
    assert run.results == ["FailureGetURLTimeOut"]


@pytest.mark.parametrize("body", ['{"url": "x"}', "not json"], ids=["json", "text"])
def test_query_redirected_to_a_missing_file_ends_like_any_other_failed_answer(updater, body):
    """A service (or something in front of it) answering 302 to a plain-HTTP address that answers 404:
    WinInet follows the redirect; the run must end by the query's rules, not hang on the second host."""
    updater.service.set_answers(Answer(body=body, status=302,
                                       headers=(("Location", updater.files.url("/missing.exe")),)))
    run = updater.run(timeout_s=40)
    assert run.exit_code in (771, 773), run.describe()
    assert run.events == ["UpdateNo"]
    assert len(run.queries) == 1
    assert [r.path for r in run.file_requests] == ["/missing.exe"]
