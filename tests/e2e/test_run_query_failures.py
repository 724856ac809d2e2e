"""Update queries that fail end the run with the query's outcome, `UpdateNo` and the outcome's hit (each
kind of answer and its outcome: test_update_query.py)."""

import pytest

from testservers import Answer, faults as F


@pytest.mark.parametrize("answer, code, name", [
    (Answer(fault=F.hangup()), 772, "FailureGetURLNoResp"),
    (Answer(b"\xff\xfe<html>", content_type="text/html"), 773, "FailureParseURLResponse"),
], ids=["hangup", "not-json"])
def test_query_failure_ends_the_run_with_its_code(updater, answer, code, name):
    updater.service.set_answers(answer)
    run = updater.run()
    assert run.exit_code == code, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == [name], run.describe()
    assert len(run.queries) == 1 and run.file_requests == []


def test_query_redirected_to_a_missing_file_ends_like_any_other_failed_answer(updater):
    """A service (or something in front of it) answering 302 to a plain-HTTP address that answers 404:
    WinInet follows the redirect; the run must end by the query's rules, not hang on the second host."""
    updater.service.set_answers(Answer(body='{"url": "x"}', status=302,
                                       headers=(("Location", updater.files.url("/missing.exe")),)))
    run = updater.run(timeout_s=40)
    assert run.exit_code in (771, 773), run.describe()
    assert run.events == ["UpdateNo"]
    assert len(run.queries) == 1
    assert [r.path for r in run.file_requests] == ["/missing.exe"]
