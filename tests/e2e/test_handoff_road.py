"""The real Updater.exe under Wine, from the update query to the client's restart: the installer it
downloaded and checked is handed to tools/TestInstaller (signed with the test PKI) through the elevation
service, the installer's registry progress reaches the progress bar, the parking program restarts the
stand-in client, and the exact command lines the installer and Park.exe receive are those the hand-off
builds, with and without installer and application arguments.
"""

import pytest

from harness import (CLIENT_WINDOWS_PATH, PARK, elevation_service, handing_off_with_client, invocations,
                     launch_parameters, park_log_entries, parking_parameters, processes, progress_records,
                     set_test_installer, shell_command_line, started_installer, wait_for_invocations,
                     windows_path_in_prefix)


@pytest.fixture
def road(updater):
    with handing_off_with_client(updater):
        yield updater


def test_successful_update_through_the_elevation_service_restarts_the_client(road):
    set_test_installer(steps=4, step_ms=800)
    with elevation_service("registered"):
        run = road.run(f"/from={CLIENT_WINDOWS_PATH}", "/locale=en-US", unelevated=True)

    assert run.exit_code == 0, run.describe()
    assert run.events == ["UpdateYes"], run.describe()
    # No Service* event: the unelevated run had the service start the installer.
    assert run.results == ["Succeeded"], run.describe()
    assert len(run.queries) == 1 and run.file_requests, run.describe()

    # The service started verified copies from a protected folder, the installer told of the parking copy
    # there, elevated rather than with the limited caller's token.
    [(_, _, installer_line)] = invocations("installer")
    started_installer(installer_line, run.download_folder)
    [(_, elevated, image, planted)] = processes()
    assert (elevated, planted) == (True, False)
    assert image == installer_line.split('"')[1]
    assert run.download_files["setup.exe"] == road.files.content("/setup.exe")

    # Park.exe: the updater's own copy in the download folder, started with the client, the launch
    # parameters and the two events.
    [copy_name] = [name for name in run.download_files if name.startswith("Park-")]
    copy = windows_path_in_prefix(run.download_folder) + "\\\\" + copy_name
    assert run.download_files[copy_name] == PARK.read_bytes()
    park_lines = [text for _, text in park_log_entries(copy)]
    assert park_lines[0] == "started: " + shell_command_line(copy, parking_parameters(CLIENT_WINDOWS_PATH, "en-US"))

    # The installer's "Install" value, mirrored into the upper range of the progress bar a step later (the
    # mapping itself is the unit tests' business); "100.0" posts nothing.
    records = progress_records()
    assert [percent for percent, _ in records] == [0.0, 25.0, 50.0, 75.0, 100.0]
    positions = [position for _, position in records]
    assert 55 <= positions[0] < positions[1] < positions[2] < positions[3] <= 100, records
    assert positions[4] == positions[3], records

    [(_, _, client_line)] = wait_for_invocations("client")
    assert client_line == shell_command_line(CLIENT_WINDOWS_PATH, launch_parameters("en-US"))
    assert "started the client " + CLIENT_WINDOWS_PATH + " " + launch_parameters("en-US") in [
        text for _, text in park_log_entries(copy)]


@pytest.mark.parametrize("arguments, locale, installer_args, app_args, dp", [
    (["/dp=partner7"], "de-DE", "", "", "partner7"),
    (["/appargs=/tab=store", "/installerargs=/S", "/D=C:\\Program Files (x86)\\Orvane Games"], "en-GB",
     '/S "/D=C:\\Program Files (x86)\\Orvane Games"', "/tab=store", "fablewick"),
], ids=["partner", "installer and application arguments"])  # the defaults: the test above
def test_installer_and_park_receive_exactly_the_hand_off_command_lines(road, arguments, locale, installer_args,
                                                                       app_args, dp):
    set_test_installer(steps=1, step_ms=300)
    # Elevated: the installer is started directly from a protected folder; the service passes the same
    # texts on (test above).
    run = road.run(f"/locale={locale}", *arguments)

    assert run.exit_code == 0, run.describe()
    assert run.results == ["Succeeded"], run.describe()
    [(_, _, installer_line)] = invocations("installer")
    copy = started_installer(installer_line, run.download_folder, installer_args)
    if not installer_args:
        assert installer_line.endswith('.exe"')  # no trailing blank

    park_lines = [text for _, text in park_log_entries(copy)]
    assert park_lines[0] == "started: " + shell_command_line(
        copy, parking_parameters(CLIENT_WINDOWS_PATH, locale, app_args=app_args, dp=dp))
    [(_, _, client_line)] = wait_for_invocations("client")
    assert client_line == shell_command_line(CLIENT_WINDOWS_PATH, launch_parameters(locale, app_args, dp))
