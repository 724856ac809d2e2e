"""The real Updater.exe under Wine: what the installer's exit code and the state of the elevation service
make of a run that hands its installer over. The installer's own exit code never fails the run; a
missing or failing service is reported and the installer is started directly; an elevated updater never
asks the service at all.
"""

import pytest

from handoff import (CLIENT_WINDOWS_PATH, elevation_service, handing_off_with_client, installer_parameters,
                     invocations, parking_copy_of, set_test_installer, shell_command_line, unelevated_runs,
                     wait_for_invocations, windows_path_in_prefix)
from runharness import DEFAULT_DEBUGGING

CLIENT_SECONDS = 20


@pytest.fixture
def handing_off(updater):
    with handing_off_with_client(updater):
        yield updater


@pytest.mark.parametrize("installer_exit_code, result", [
    (2, "InstallerExitCode2"),
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
    wait_for_invocations("client", timeout_s=CLIENT_SECONDS)  # parking does its job whatever the code


@pytest.mark.parametrize("service, mode, reported", [
    ("missing", 0, ["ServiceMissing"]),
    ("broken", 0, ["ServiceCreate"]),  # registered, but its server program is not there
    ("registered", 1, ["ServiceInvoke"]),  # the launch fails
    ("registered", 2, ["ServiceInvoke"]),  # the launch succeeds without a process handle
    ("registered", 0, []),
], ids=["missing", "cannot be created", "launch fails", "no handle", "works"])
def test_unelevated_run_falls_back_to_a_direct_start_when_the_service_fails(handing_off, service, mode, reported):
    set_test_installer(steps=1, step_ms=300)
    handing_off.set_debugging({**DEFAULT_DEBUGGING, "ElevationServiceMode": mode})
    with elevation_service(service), unelevated_runs():
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")

    assert run.exit_code == 0, run.describe()
    assert run.results == reported + ["Succeeded"], run.describe()
    # Exactly one installer, started with the same command line whichever way it was started.
    [(_, _, installer_line)] = invocations("installer")
    copy = parking_copy_of(installer_line, run.download_folder)
    installer_path = windows_path_in_prefix(run.download_folder / "setup.exe")
    assert installer_line == shell_command_line(installer_path, installer_parameters(copy))
    wait_for_invocations("client", timeout_s=CLIENT_SECONDS)


def test_elevated_run_never_asks_the_service(handing_off):
    """A service that would fail every launch: an elevated run does not notice, as it never calls it."""
    set_test_installer(steps=1, step_ms=300)
    handing_off.set_debugging({**DEFAULT_DEBUGGING, "ElevationServiceMode": 1})
    with elevation_service("registered"):
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")

    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    assert len(invocations("installer")) == 1
