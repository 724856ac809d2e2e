"""The real Updater.exe under Wine: what the installer's exit code and the state of the elevation service
make of a run that hands its installer over. The installer's own exit code never fails the run; a
missing or failing service is reported and the installer is started directly; an elevated updater never
asks the service at all.
"""

import shutil

import pytest

from harness import (BUILD, CLIENT_WINDOWS_PATH, PROCESS_HELPER, BackgroundProgram, elevation_service,
                     handing_off_with_client, invocations, quote_argument, set_test_installer, started_installer,
                     wait_for_invocations, windows_path)


@pytest.fixture
def handing_off(updater):
    with handing_off_with_client(updater):
        yield updater


@pytest.mark.parametrize("installer_exit_code, result", [
    (1602, "InstallerExitCode1602"),
    (0x40010004, "DbgTerminateProcess"),
    (0xC0000005, "InstallerExitCode3221225477"),  # unsigned decimal
])
def test_installer_exit_code_is_reported_and_the_run_still_succeeds(handing_off, installer_exit_code, result):
    set_test_installer(steps=1, step_ms=300, exit_code=installer_exit_code)
    run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")

    assert run.exit_code == 0, run.describe()
    assert run.events == ["UpdateYes"], run.describe()
    assert run.results == [result], run.describe()
    assert len(invocations("installer")) == 1
    wait_for_invocations("client")  # parking does its job whatever the code


@pytest.mark.parametrize("service, park_signed, reported", [
    ("missing", True, ["ServiceMissing"]),
    ("broken", True, ["ServiceCreate"]),  # registered, but neither its service nor its program is there
    ("registered", False, ["ServiceInvoke"]),  # the service refuses a parking program the maker did not sign
], ids=["missing", "cannot be created", "launch refused"])  # a working service: test_handoff_road.py
def test_unelevated_run_falls_back_to_a_direct_start_when_the_service_fails(handing_off, tmp_path, service,
                                                                           park_signed, reported):
    set_test_installer(steps=1, step_ms=300)
    unsigned_park = tmp_path / "Park.exe"
    shutil.copyfile(BUILD / "Park" / "Park.exe", unsigned_park)
    arguments = [] if park_signed else [f"/parkpath={windows_path(unsigned_park)}"]
    with elevation_service(service):
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", *arguments, unelevated=True)

    assert run.exit_code == 0, run.describe()
    assert run.results == reported + ["Succeeded"], run.describe()
    # Exactly one installer, started by the limited updater itself from the download folder.
    [(_, _, installer_line)] = invocations("installer")
    started_installer(installer_line, run.download_folder, protected=False)
    wait_for_invocations("client")


def test_elevated_run_never_asks_the_service(handing_off):
    """A service that is registered but cannot be created: an elevated run does not notice, as it never calls
    it, and starts the installer from a protected folder itself."""
    set_test_installer(steps=1, step_ms=300)
    with elevation_service("broken"):
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")

    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    [(_, _, installer_line)] = invocations("installer")
    started_installer(installer_line, run.download_folder)


def test_installer_replaced_between_its_checks_and_its_start_never_runs(handing_off, tmp_path):
    """A second process of the user tries to overwrite setup.exe from the moment it appears: while the run
    holds the checked file every try is turned away; once the installer has started, the hold ends."""
    set_test_installer(steps=1, step_ms=300)
    replacement = tmp_path / "replacement.exe"
    replacement.write_bytes(handing_off.signed_installer(None))
    target = handing_off.download_folder() / "setup.exe"
    output = tmp_path / "replace.txt"
    helper = BackgroundProgram(PROCESS_HELPER, " ".join(["replace-file", quote_argument(windows_path(target)),
                                                        quote_argument(windows_path(replacement)), "60000"]),
                               90, output)
    try:
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")
        assert helper.finish(90) == 0
    finally:
        helper.stop()

    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    tries = dict(line.split(": ") for line in output.read_text().splitlines() if line.startswith(("refused", "replaced")))
    assert int(tries["refused"]) > 0 and tries["replaced"] == "1", tries
    [(_, _, installer_line)] = invocations("installer")
    started_installer(installer_line, run.download_folder)
