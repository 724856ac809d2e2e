"""The update run's quiet ends and early failures, with the real Updater.exe under Wine: exit code,
decision events in order, and the analytics hit or its absence."""

import threading

import pytest

from harness import AnsweredBox, roaming_appdata, run_log_path
from testservers import Answer

OFFLINE = {"WINEDLLOVERRIDES": "netprofm="}  # the Network List Manager cannot be created for this run
CLIENT = r"C:\Program Files (x86)\Orvane Games\App\PlayDock-ov.exe"


@pytest.mark.parametrize("product", ["", "..\\" * 10 + "escape", "../" * 10 + "escape", "C:escape", "a*b",
                                     "a" * 245])
def test_empty_product_or_one_that_is_not_a_file_name_ends_with_257(updater, product):
    """The product names the log file and the download folder: one that would lead out of the program's
    folders (or is no file name at all) is refused before anything is written under its name; the run
    logs to "_Update.log" and reports its outcome."""
    drive = roaming_appdata().parents[3]
    escaped = [drive / "escape_Update.log", roaming_appdata() / "escape_Update.log"]
    for path in escaped:
        path.unlink(missing_ok=True)
    fallback = run_log_path("")
    fallback.unlink(missing_ok=True)
    run = updater.run(product=product, watch_events=product == "")
    assert run.exit_code == 257, run.describe()
    assert run.events in (None, [])  # the product check comes before the events exist
    assert run.results == ["FailureMainCommandLine"], run.describe()
    hit = run.reported[0]
    assert (hit["en"], hit["ep.app_name"], hit["ep.app_version"]) == ("Update", "Updater", "1.1.1.93")
    assert fallback.exists()
    assert [p for p in escaped if p.exists()] == []
    assert run.queries == [] and run.file_requests == []


def test_second_run_for_the_same_product_and_start_ends_with_258(updater):
    """A run with "/from=" holds the product's mutex while its query is answered late; a second one fails
    at once, one without "/from=" (the other mutex name) runs its course."""
    release = threading.Event()
    answered = []

    def answer(record):
        answered.append(record)
        if len(answered) == 1:
            release.wait(20)  # the holder's query stays open until the others have run
        return {}

    updater.service.set_answers(answer)
    holder = updater.start(f"/from={CLIENT}")
    try:
        updater.service.wait_for_queries(1, timeout=30)
        second = updater.run(f"/from={CLIENT}", watch_events=False)
        other = updater.run(watch_events=False)
    finally:
        release.set()
    first = holder.finish()

    assert second.exit_code == 258, second.describe()
    assert second.results == ["FailureMainMutex"], second.describe()
    assert second.queries == []
    assert other.exit_code == 3, other.describe()
    assert other.results == [] and len(other.queries) == 1
    assert first.exit_code == 3, first.describe()
    # The holder's probe saw every decision of the product: the other run's and its own, none of the second.
    assert first.events == ["UpdateNo", "UpdateNo"], first.describe()


OFFLINE_TEXT = "Sorry, a check for updates is needed. Please connect to the Internet and try again."


@pytest.mark.parametrize("argument, answer, exit_code, box", [
    (f"/from={CLIENT}", "none", 2, None),  # started by the client: silently
    ("/locale=en-US", "ok", 259, AnsweredBox("Update", OFFLINE_TEXT, ("ok",))),
], ids=["with-from", "without-from"])
def test_offline_run_ends_before_its_query_and_tells_the_user_unless_started_by_the_client(updater, argument, answer,
                                                                                          exit_code, box):
    run = updater.run(argument, env=OFFLINE, answer_box=answer)
    assert run.exit_code == exit_code, run.describe()
    assert run.box == box, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == [] and run.queries == []


@pytest.mark.parametrize("answer", [
    {},
    Answer({"version": "9.9.9.9"}, status=500),
], ids=["empty-object", "status-500"])  # which answers offer nothing: the unit tests
def test_nothing_offered_ends_with_3(updater, answer):
    updater.service.set_answers(answer)
    run = updater.run()
    assert run.exit_code == 3, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == [] and run.file_requests == []
    [query] = run.queries
    assert query.keys == ["productName", "version", "channel", "dp", "os", "uid", "c"]
    assert (query.param("productName"), query.param("version"), query.param("channel"), query.param("dp")) == (
        updater.product, "0", "live", "fablewick")
