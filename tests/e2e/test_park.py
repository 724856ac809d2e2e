"""The real Park.exe under Wine: an incomplete command line ends it at once with its own code, and a stop
with nobody waiting is a quiet no-op. (Waiting on its events, the client's restart with exactly its launch
parameters and the stop of a waiting Park.exe: the hand-off tests, with the command lines the updater
builds.)"""

import uuid

import pytest

from harness import PARK, STOP_PARAMETERS, clear_invocations, invocations, park_log_entries, run_windows_program

END_SECONDS = 20  # Park.exe ends well within this


@pytest.fixture(autouse=True)
def no_recorded_starts():
    clear_invocations()
    yield
    clear_invocations()


@pytest.mark.parametrize("tail, exit_code, logged", [
    ("", 2, "incomplete command line; nothing to do"),
    ('/Execute "C:\\x\\PlayDock-ov.exe" /LaunchParams "/noupdate!" /EventTerminate "Global\\OVPARKTERM"', 2,
     "incomplete command line; nothing to do"),
    ('/Execute /EventTerminate "Global\\OVPARKTERM" /EventExecute "Global\\OVPARKEXEC"', 2,
     "incomplete command line; nothing to do"),
    ("/SignalTerminate", 2, None),
    # Nobody waits: the stop is a quiet no-op.
    (STOP_PARAMETERS, 0, "no parking program waits on Global\\OVPARKTERM"),
], ids=["no arguments", "no execute event", "client without value", "stop without event name",
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
