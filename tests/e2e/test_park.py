"""The real Park.exe under Wine: it waits on its two named events; the execute event (set by another
process) makes it start the client with exactly its launch parameters, the terminate event (set by a
second Park.exe with the stop parameters) ends it without starting anything, and an incomplete command
line ends it at once with its own code.

The client is tools/TestInstaller copied as "PlayDock-ov.exe", which records how it was started.
"""

import uuid

import pytest

from handoff import (CLIENT_HOST_PATH, CLIENT_WINDOWS_PATH, PARK, STOP_PARAMETERS, TERMINATE_EVENT,
                     BackgroundProgram, clear_invocations, invocations, launch_parameters, park_log_entries,
                     parking_parameters, set_named_event, shell_command_line, stand_in_client,
                     wait_for_invocations, wait_until_park_waits)
from winehost import run_windows_program, windows_path

PARK_SECONDS = 60  # Launch ends a Park.exe that is still running by then
END_SECONDS = 20  # after its event, Park.exe ends well within this


@pytest.fixture(autouse=True)
def no_recorded_starts():
    clear_invocations()
    yield
    clear_invocations()


class WaitingPark:
    """Park.exe started with an execute command line, waiting on its events."""

    def __init__(self, folder, client, launch, terminate_event, execute_event):
        self.terminate_event = terminate_event
        self.marker = f"/EventExecute \"{execute_event}\""
        tail = (f'/Execute "{client}" /LaunchParams "{launch}" /EventTerminate "{terminate_event}" '
                f'/EventExecute "{execute_event}"')
        self.program = BackgroundProgram(PARK, tail, PARK_SECONDS, folder / f"park-{uuid.uuid4().hex[:8]}.txt")
        self.pid = wait_until_park_waits(self.marker)

    def log(self):
        return [text for pid, text in park_log_entries(self.marker) if pid == self.pid]

    def finish(self):
        return self.program.finish(END_SECONDS)

    def close(self):
        if self.program.running():
            set_named_event(self.terminate_event)
            self.program.finish(END_SECONDS)


@pytest.fixture
def parks(tmp_path):
    started = []

    def start(client, launch, terminate_event, execute_event):
        park = WaitingPark(tmp_path, client, launch, terminate_event, execute_event)
        started.append(park)
        return park

    yield start
    for park in started:
        park.close()


@pytest.mark.parametrize("placement, launch", [
    ("folder with a blank", launch_parameters("en-US")),
    ("folder with a blank", launch_parameters("de-DE", app_args="/tab=store /x y", dp="ignored")),
    ("client path in the prefix", launch_parameters("fr-FR", dp="partner42")),
])
def test_execute_event_starts_the_client_with_exactly_its_launch_parameters(tmp_path, parks, placement, launch):
    host_path = CLIENT_HOST_PATH if placement == "client path in the prefix" else \
        tmp_path / "Orvane Client" / "PlayDock-ov.exe"
    with stand_in_client(host_path):
        client = CLIENT_WINDOWS_PATH if host_path == CLIENT_HOST_PATH else windows_path(host_path)
        unique = uuid.uuid4().hex[:8]
        park = parks(client, launch, f"Global\\OVPARKTERM-{unique}", f"Global\\OVPARKEXEC-{unique}")
        assert invocations() == []  # waiting starts nothing

        set_named_event(f"Global\\OVPARKEXEC-{unique}")

        assert park.finish() == 0
        started = wait_for_invocations("client")
        assert [command_line for _, _, command_line in started] == [shell_command_line(client, launch)]
        assert invocations("installer") == []
        assert any(text.startswith("started the client ") for text in park.log())


def test_the_updaters_parking_command_line_is_understood(tmp_path, parks):
    """The command line the updater gives Park.exe, as one piece: same client, same parameters."""
    with stand_in_client() as host_path:
        assert host_path == CLIENT_HOST_PATH
        unique = uuid.uuid4().hex[:8]
        tail = parking_parameters(CLIENT_WINDOWS_PATH, "en-GB", dp="fablewick").replace(
            "OVPARKTERM", f"OVPARKTERM-{unique}").replace("OVPARKEXEC", f"OVPARKEXEC-{unique}")
        program = BackgroundProgram(PARK, tail, PARK_SECONDS, tmp_path / "park.txt")
        try:
            wait_until_park_waits(f"OVPARKEXEC-{unique}")
            set_named_event(f"Global\\OVPARKEXEC-{unique}")
            assert program.finish(END_SECONDS) == 0
        finally:
            if program.running():
                set_named_event(f"Global\\OVPARKTERM-{unique}")
                program.finish(END_SECONDS)
        started = wait_for_invocations("client")
        assert [c for _, _, c in started] == [
            shell_command_line(CLIENT_WINDOWS_PATH, "/noupdate! /userlocale en-GB /dp fablewick")]


def test_stop_parameters_end_a_waiting_park_without_starting_the_client(tmp_path, parks):
    with stand_in_client(tmp_path / "client" / "PlayDock-ov.exe") as host_path:
        park = parks(windows_path(host_path), launch_parameters("en-US"), TERMINATE_EVENT,
                     f"Global\\OVPARKEXEC-{uuid.uuid4().hex[:8]}")

        stopper = run_windows_program(PARK, STOP_PARAMETERS, timeout_s=END_SECONDS)

        assert (stopper.exit_code, stopper.timed_out) == (0, False)
        assert park.finish() == 0
        assert invocations() == []
        assert "terminate event: the client is not restarted" in park.log()


@pytest.mark.parametrize("tail, exit_code, logged", [
    ("", 2, "incomplete command line; nothing to do"),
    ('/Execute "C:\\x\\PlayDock-ov.exe" /LaunchParams "/noupdate!" /EventTerminate "Global\\OVPARKTERM"', 2,
     "incomplete command line; nothing to do"),
    ('/LaunchParams "/noupdate!" /EventTerminate "Global\\OVPARKTERM" /EventExecute "Global\\OVPARKEXEC"', 2,
     "incomplete command line; nothing to do"),
    ('/Execute /EventTerminate "Global\\OVPARKTERM" /EventExecute "Global\\OVPARKEXEC"', 2,
     "incomplete command line; nothing to do"),
    ("/SignalTerminate", 2, None),
    # Nobody waits: the stop is a quiet no-op.
    (STOP_PARAMETERS, 0, "no parking program waits on Global\\OVPARKTERM"),
], ids=["no arguments", "no execute event", "no client", "client without value", "stop without event name",
        "stop with nobody waiting"])
def test_incomplete_or_idle_command_lines_end_at_once(tail, exit_code, logged):
    marker = uuid.uuid4().hex
    # A trailing unknown switch marks this start in the shared log; Park.exe ignores it.
    result = run_windows_program(PARK, (tail + " " if tail else "") + f"/Test{marker}", timeout_s=END_SECONDS)

    assert (result.exit_code, result.timed_out) == (exit_code, False)
    texts = [text for _, text in park_log_entries(f"/Test{marker}")]
    assert texts and texts[0].startswith("started: ")
    if logged is not None:
        assert logged in texts
    assert not any(text.startswith("waiting on ") for text in texts)
    assert invocations() == []
