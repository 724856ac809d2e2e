"""The real Updater.exe under Wine: where the parking program comes from and what happens around it.
"/noparking" still copies it but starts nothing; "/parkpath=" names another source, and a missing one ends
the run; without Park.exe beside the updater (or in its "PatchTools" folder) the run ends; an installer
that cannot be started ends the run and tells the parking program to stop.
"""

import shutil
import struct
import time

import pytest

from harness import (CLIENT_WINDOWS_PATH, PARK, PROTECTED_FOLDER, STOP_PARAMETERS, TEST_INSTALLER, UPDATER,
                     elevation_service, handing_off_with_client, invocations, offer_installer, park_log_entries,
                     parking_parameters, prefix_path, set_test_installer, shell_command_line, started_installer,
                     wait_for_invocations, wait_for_park_line, windows_path, windows_path_in_prefix)
FAILURE_PARK_FILE_EXISTS = 0x700
FAILURE_LAUNCH_SHELL_EXECUTE = 0x501


@pytest.fixture
def handing_off(updater):
    set_test_installer(steps=1, step_ms=300)
    with handing_off_with_client(updater):
        yield updater


@pytest.fixture
def updater_elsewhere(tmp_path, handing_off):
    """Runs a copy of Updater.exe from a folder of its own, with or without a parking program there."""

    def place(park_relative_path=None):
        folder = tmp_path / "Updater elsewhere"
        folder.mkdir()
        shutil.copyfile(UPDATER, folder / "Updater.exe")
        if park_relative_path is not None:
            (folder / park_relative_path).parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(PARK, folder / park_relative_path)
        handing_off.program = folder / "Updater.exe"
        return folder

    return place


def test_no_parking_copies_park_but_starts_nothing(handing_off):
    run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", "/noparking")

    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    [(_, _, installer_line)] = invocations("installer")
    copy = started_installer(installer_line, run.download_folder)
    assert prefix_path(copy).read_bytes() == PARK.read_bytes()
    assert park_log_entries(copy) == []
    time.sleep(1)  # what a parking program would have done by now
    assert invocations("client") == []


def test_park_path_names_the_parking_program_to_copy(handing_off, tmp_path):
    # Distinct bytes (data after the image), so the copy shows where it came from.
    custom = tmp_path / "Custom Park" / "MyPark.exe"
    custom.parent.mkdir()
    custom.write_bytes(PARK.read_bytes() + b"custom parking program")

    run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", f"/parkpath={windows_path(custom)}")

    assert run.exit_code == 0, run.describe()
    [(_, _, installer_line)] = invocations("installer")
    copy = started_installer(installer_line, run.download_folder)
    assert prefix_path(copy).read_bytes() == custom.read_bytes()
    wait_for_invocations("client")


def test_missing_park_path_ends_the_run_before_the_installer(handing_off, tmp_path):
    missing = windows_path(tmp_path / "no such folder" / "Park.exe")
    run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", f"/parkpath={missing}")

    assert run.exit_code == FAILURE_PARK_FILE_EXISTS, run.describe()
    assert run.events == ["UpdateYes", "UpdateNo"], run.describe()
    assert run.results == ["SpecifiedParkMissing", "FailureParkEXEFileExists"], run.describe()
    assert invocations() == []
    assert not any(name.startswith("Park-") for name in run.download_files)


@pytest.mark.parametrize("park, exit_code, results", [
    (None, FAILURE_PARK_FILE_EXISTS, ["FailureParkEXEFileExists"]),
    ("PatchTools/Park.exe", 0, ["Succeeded"]),
], ids=["no Park.exe", "Park.exe in PatchTools"])
def test_parking_program_is_looked_for_beside_the_updater_then_in_patch_tools(handing_off, updater_elsewhere, park,
                                                                              exit_code, results):
    updater_elsewhere(park)
    run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US")

    assert run.exit_code == exit_code, run.describe()
    assert run.results == results, run.describe()
    if park is None:
        assert invocations() == []
    else:
        [(_, _, installer_line)] = invocations("installer")
        copy = started_installer(installer_line, run.download_folder)
        assert prefix_path(copy).read_bytes() == PARK.read_bytes()
        wait_for_invocations("client")


def image_for_another_processor(path):
    """The test installer marked as an ARM64 image: its signature and hash still check out, but Windows
    will not start it (ERROR_BAD_EXE_FORMAT)."""
    image = bytearray(TEST_INSTALLER.read_bytes())
    header = struct.unpack_from("<I", image, 0x3C)[0]
    assert image[header:header + 4] == b"PE\0\0"
    struct.pack_into("<H", image, header + 4, 0xAA64)
    path.write_bytes(bytes(image))
    return path


@pytest.mark.parametrize("unelevated, service_report", [(False, []), (True, ["ServiceInvoke"])],
                         ids=["elevated", "unelevated through the service"])
def test_installer_that_cannot_start_ends_the_run_and_stops_park(handing_off, tmp_path, unelevated, service_report):
    unstartable = handing_off.signed_installer(source=image_for_another_processor(tmp_path / "Arm64Setup.exe"))
    offer_installer(handing_off, unstartable)

    with elevation_service("registered"):
        run = handing_off.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", unelevated=unelevated)

    assert run.exit_code == FAILURE_LAUNCH_SHELL_EXECUTE, run.describe()
    assert run.events == ["UpdateYes", "UpdateNo"], run.describe()
    assert run.results == service_report + ["ShellExecPatch", "FailureLaunchEXEShellExecuteEx"], run.describe()
    assert run.download_files["setup.exe"] == unstartable
    # The parking copy waits where the start was tried from: beside the elevated updater's protected copy of
    # the installer, or in the download folder of a limited one (the service refused the start).
    if unelevated:
        [copy_name] = [name for name in run.download_files if name.startswith("Park-")]
        copy = windows_path_in_prefix(run.download_folder) + "\\\\" + copy_name
    else:
        newest = max(PROTECTED_FOLDER.glob("*/Park-*.exe"), key=lambda path: path.stat().st_mtime)
        copy = windows_path_in_prefix(newest)

    # The parking copy was started to wait, then once more with the stop parameters; the client was not.
    stop_start = "started: " + shell_command_line(copy, STOP_PARAMETERS)
    wait_for_park_line(copy, stop_start)
    waiting_pid = wait_for_park_line(copy, "terminate event: the client is not restarted")
    starts = [(pid, text) for pid, text in park_log_entries(copy) if text.startswith("started: ")]
    assert [text for _, text in starts] == [
        "started: " + shell_command_line(copy, parking_parameters(CLIENT_WINDOWS_PATH, "en-US")), stop_start]
    assert starts[0][0] == waiting_pid
    assert invocations() == []
