"""The update run's quiet ends and early failures, with the real Updater.exe under Wine: exit code,
decision events in order, and the analytics hit or its absence."""

import threading

import pytest

from winehost import roaming_appdata
from runharness import run_log_path
from testservers import Answer

OFFLINE = {"WINEDLLOVERRIDES": "netprofm="}  # the Network List Manager cannot be created for this run
CLIENT = r"C:\Program Files (x86)\Orvane Games\App\PlayDock-ov.exe"


def test_empty_product_ends_with_257_after_opening_its_log(updater):
    run = updater.run(product="")
    assert run.exit_code == 257, run.describe()
    assert run.log_path.name == "_Update.log" and run.log_path.exists()
    assert run.events == []  # the product check comes before the events exist
    assert run.results == ["FailureMainCommandLine"], run.describe()
    hit = run.reported[0]
    assert (hit["en"], hit["ep.app_name"], hit["ep.app_version"]) == ("Update", "Updater", "1.1.1.93")
    assert run.queries == []


@pytest.mark.parametrize("product", ["..\\" * 10 + "escape", "../" * 10 + "escape", "C:\\escape", "C:escape",
                                     "..", "a*b", "tab\there", "a" * 245])
def test_product_that_is_not_a_file_name_ends_like_an_empty_one(updater, product):
    """The product names the log file and the download folder: one that would lead out of the program's
    folders (or is no file name at all) is refused before anything is written under its name."""
    drive = roaming_appdata().parents[3]
    escaped = [drive / "escape_Update.log", roaming_appdata() / "escape_Update.log"]
    for path in escaped:
        path.unlink(missing_ok=True)
    fallback = run_log_path("")
    fallback.unlink(missing_ok=True)
    run = updater.run(product=product, watch_events=False)
    assert run.exit_code == 257, run.describe()
    assert run.results == ["FailureMainCommandLine"], run.describe()
    assert fallback.exists()
    assert [p for p in escaped if p.exists()] == []
    assert run.queries == [] and run.file_requests == []


@pytest.mark.parametrize("holder_from, other_from", [(True, False), (False, True)],
                         ids=["held-with-from", "held-without-from"])
def test_second_run_for_the_same_product_and_start_ends_with_258(updater, holder_from, other_from):
    """A run holds the product's mutex while its query is answered late; a second run of the same kind
    fails at once, one of the other kind (the other mutex name) runs its course."""
    release = threading.Event()
    answered = []

    def answer(record):
        answered.append(record)
        if len(answered) == 1:
            release.wait(20)  # the holder's query stays open until the others have run
        return {}

    updater.service.set_answers(answer)
    kind = (lambda with_from: [f"/from={CLIENT}"] if with_from else [])
    holder = updater.start(*kind(holder_from))
    try:
        updater.service.wait_for_queries(1, timeout=30)
        second = updater.run(*kind(holder_from), watch_events=False)
        other = updater.run(*kind(other_from), watch_events=False)
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


def test_offline_with_from_ends_silently_with_2(updater):
    run = updater.run(f"/from={CLIENT}", env=OFFLINE, answer_box="none")
    assert run.exit_code == 2, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.box is None
    assert run.results == [] and run.queries == []


def test_offline_without_from_tells_the_user_and_ends_with_259(updater):
    run = updater.run("/locale=en-US", env=OFFLINE, answer_box="ok")
    assert run.exit_code == 259, run.describe()
    assert run.box is not None, run.describe()
    assert run.box.text == "Sorry, a check for updates is needed. Please connect to the Internet and try again."
    assert run.box.buttons == ("ok",)
    assert run.events == ["UpdateNo"]
    assert run.results == [] and run.queries == []


@pytest.mark.parametrize("answer", [
    {},
    {"url": ""},
    {"url": 5, "hash": "00", "size": 10},  # an address that is not text counts as none
    Answer({"version": "9.9.9.9"}, status=500),
], ids=["empty-object", "empty-url", "url-not-text", "status-500"])
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
