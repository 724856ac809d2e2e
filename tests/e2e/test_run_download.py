"""The download stage of a run with the real Updater.exe under Wine: the two attempts (the multi-stream
engine, then one plain request) with their size, hash and signature checks, the download failures, the
download folder and the installer's file name, and the registry progress."""

import re

import pytest

from harness import INSTALLER_STATUS_KEY, invocations, query_registry_value, roaming_appdata
from testservers import faults as F

MULTI_STREAM_AGENT = "Mozilla/4.0 (compatible; MSIE 5.0; Updater 1.1.1.93; CDA 6.0)"


def attempts(run):
    """Which attempt made each request to the file servers: the multi-stream engine names itself in its
    user agent, the plain request does not."""
    return ["multi" if r.header("User-Agent") == MULTI_STREAM_AGENT else "single" for r in run.file_requests]


def by_attempt(multi, single):
    """A fault plan that treats the two attempts differently."""
    return lambda record: multi if record.header("User-Agent") == MULTI_STREAM_AGENT else single


def make_stream_state_unwritable(updater, name="setup.exe"):
    """A folder where the engine's first stream state file goes (the clean-up at the start removes plain
    files only): the engine fails outright, at its first write of that file, and the attempt returns
    without a file to check."""
    (updater.download_folder() / f"{name}.0").mkdir(parents=True)


def files_under(folder):
    return {p for p in folder.rglob("*") if p.is_file()}


def written_outside_the_program_folders(before, run):
    """Files the run added under the roaming application data outside its download folder, its log, the
    analytics queue and the visitor id."""
    own = [run.download_folder, run.log_path.parent, roaming_appdata() / "Orvane" / "Analytics",
           roaming_appdata() / "Orvane" / "Logs"]
    return [p for p in files_under(roaming_appdata()) - before
            if not any(folder in p.parents for folder in own) and p.name != "Orvane.ini"]


@pytest.mark.parametrize("signer, size_delta, wrong_hash, texts", [
    ("orvane-inc", 1, False, ["PatchSize2", "PatchSize"]),
    ("orvane-inc", 0, True, ["PatchHashValue2", "PatchHashValue"]),
    ("contoso", 0, False, ["PatchSignature2", "PatchSignature"]),
], ids=["size", "hash", "foreign-signer"])  # every kind of signature that fails: test_trust.py
def test_both_attempts_failing_their_checks_end_with_260(updater, signer, size_delta, wrong_hash, texts):
    installer = updater.host("/dl/setup.exe", updater.signed_installer(signer))
    updater.offer(installer, size=installer.size + size_delta, hash="0" * 64 if wrong_hash else None)
    run = updater.run()
    assert run.exit_code == 260, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == texts + ["FailureMainIsFileOrvaneSigned"], run.describe()
    assert attempts(run) == ["multi", "single"]
    assert run.download_files == {}  # the file of each failed attempt is deleted
    assert invocations() == []


@pytest.mark.parametrize("fault, exit_code, results", [
    (lambda size: F.error(404), 1027, ["FailureGetEXEDownloadIsOk"]),  # no check ran: nothing was downloaded
    # A body shorter than its Content-Length is a wrong file like any other: the checks decide.
    (lambda size: F.drop(size // 2), 260, ["PatchSize", "FailureMainIsFileOrvaneSigned"]),
], ids=["failed", "cut-short"])
def test_plain_request_after_a_failed_engine(updater, fault, exit_code, results):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    make_stream_state_unwritable(updater)
    updater.files.set_faults(by_attempt(None, fault(installer.size)))
    run = updater.run()
    assert run.exit_code == exit_code, run.describe()
    assert run.events == ["UpdateNo"]
    assert run.results == results, run.describe()
    assert attempts(run) == ["multi", "single"]


@pytest.mark.parametrize("present", [True, False], ids=["value-present", "value-absent"])
def test_registry_progress_only_into_an_existing_download_value(updater, present):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    updater.set_registry(INSTALLER_STATUS_KEY, {"Download": "waiting"} if present else {"Other": "x"})
    if present:
        updater.files.set_faults(F.throttle(installer.size / 3))  # about three seconds to sample
    seen = []

    def sample(running):
        value = query_registry_value(INSTALLER_STATUS_KEY, "Download")
        if value is not None and (not seen or seen[-1] != value):
            seen.append(value)

    run = updater.run("/emitdownloadprogress", *updater.handoff_arguments(), during=sample)
    assert run.exit_code == 0, run.describe()
    final = query_registry_value(INSTALLER_STATUS_KEY, "Download")
    if not present:
        assert final is None and seen == []
        return
    assert final == "100"
    progress = [v for v in seen if v not in ("waiting", "100")]
    assert progress, f"no progress seen in {seen}"
    assert all(re.fullmatch(r"\d{1,3}\.\d{6}", v) for v in progress), seen
    assert any(0 < float(v) < 100 for v in progress), seen
    assert [float(v) for v in progress] == sorted(float(v) for v in progress), seen


def test_multi_stream_failing_outright_is_followed_by_the_plain_request_without_a_check_event(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    make_stream_state_unwritable(updater)
    run = updater.run(*updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    assert attempts(run) == ["multi", "single"]
    assert run.download_files["setup.exe"] == installer.data


def test_multi_stream_engine_that_cannot_start_is_reported_and_the_plain_request_follows(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer)
    # The engine writes its download state file before it fetches anything.
    (updater.download_folder() / "setup.exe.downloadstate").mkdir(parents=True)
    run = updater.run(*updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.results == ["MultiStreamDownloadCException", "Succeeded"], run.describe()
    assert attempts(run) == ["single"]
    assert run.download_files["setup.exe"] == installer.data


def test_patch_url_is_downloaded_over_https_with_the_signature_check_alone(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer(), tls=True)
    run = updater.run(f"/patchURL={installer.url}", *updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.queries == []
    assert run.events == ["UpdateYes"]
    assert run.results == ["Succeeded"]
    assert attempts(run) == ["multi"]
    [(role, _, command_line)] = invocations()
    assert role == "installer" and "setup.exe" in command_line


def test_announced_hash_is_compared_without_case(updater):
    installer = updater.host("/dl/setup.exe", updater.signed_installer())
    updater.offer(installer, hash=installer.hash.lower())
    run = updater.run(*updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"]


def test_installer_named_by_an_address_that_climbs_with_backslashes_stays_in_its_folder(updater):
    # The name comes from the last segment of the decoded address (its rules: the unit tests).
    before = files_under(roaming_appdata())
    installer = updater.host("/dl/\\..\\..\\..\\escaped.exe", updater.signed_installer())
    updater.service.set_answers(
        {"url": updater.files.url("/dl/%5C..%5C..%5C..%5Cescaped.exe"), "hash": installer.hash, "size": installer.size})
    run = updater.run(*updater.handoff_arguments())
    assert run.exit_code == 0, run.describe()
    assert run.download_files["escaped.exe"] == installer.data
    assert written_outside_the_program_folders(before, run) == []
