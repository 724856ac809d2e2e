"""The installed elevation service under Wine's service control manager, called the way any program of a
limited user could call it (tools/ProcessHelper call-service, started with the linked, limited token): it
starts only maker-signed programs, from verified copies in a protected folder of its own, for the caller's own process,
and logs why it refuses everything else.
"""

import shutil
import time

import pytest

from harness import (PARK, PREFIX, PROCESS_HELPER, clear_invocations, elevation_service, invocations, log_lines,
                     planted_dll, prefix_path, processes, run_windows_program, service_log_path, set_test_installer,
                     signed_park, wait_until, windows_path)

PWNED = PREFIX / "drive_c" / "users" / "Public" / "pwned.txt"


@pytest.fixture(scope="module")
def service():
    with elevation_service("registered"):
        yield


@pytest.fixture
def caller(updater, service, tmp_path):
    """A folder of the limited user's with the maker-signed test installer as setup.exe and the signed Park.exe,
    and a function that calls the service as that user."""
    signed_park(updater)
    clear_invocations()
    folder = tmp_path / "user files"
    folder.mkdir()
    (folder / "setup.exe").write_bytes(updater.signed_installer())
    shutil.copyfile(PARK, folder / "Park.exe")
    PWNED.unlink(missing_ok=True)

    def call(file: str, parameters: str = "", pid: str = "self", replace_with: str = "") -> dict:
        logged = len(log_lines(service_log_path()))
        done = run_windows_program(PROCESS_HELPER, "call-service", unelevated=True, timeout_s=90, env={
            "OV_CALL_FILE": file, "OV_CALL_PARAMETERS": parameters, "OV_CALL_PID": pid,
            "OV_CALL_REPLACE": replace_with})
        answer = dict(line.split(": ", 1) for line in done.stdout.splitlines() if ": " in line)
        answer["log"] = log_lines(service_log_path())[logged:]
        assert answer["caller-elevated"] == "0", done.stdout
        return answer

    call.folder = folder
    call.updater = updater
    yield call
    clear_invocations()


def quoted(path) -> str:
    return '"' + windows_path(path) + '"'


def write(folder, name: str, data: bytes) -> str:
    (folder / name).write_bytes(data)
    return quoted(folder / name)


# Each case: what the caller names (file, parameters, process id) and the reason the service must log.
REFUSALS = {
    "cmd.exe": (lambda c: '"C:\\windows\\system32\\cmd.exe"', "/c echo pwned > C:\\users\\Public\\pwned.txt",
                "self", "not signed by the maker"),
    "another organisation": (lambda c: write(c.folder, "contoso.exe", c.updater.signed_installer("contoso")), "",
                             "self", "not signed by the maker"),
    "batch file": (lambda c: write(c.folder, "setup.bat", b"echo pwned > C:\\users\\Public\\pwned.txt\r\n"), "",
                   "self", "not a plain local .exe file"),
    "http address": (lambda c: '"http://127.0.0.1/setup.exe"', "", "self", "not a plain local .exe file"),
    "UNC path": (lambda c: '"\\\\127.0.0.1\\c$\\setup.exe"', "", "self", "not a plain local .exe file"),
    "alternate data stream": (lambda c: quoted(c.folder / "setup.exe") + ":x.exe", "", "self",
                              "not a plain local .exe file"),
    "another process id": (lambda c: quoted(c.folder / "setup.exe"), "", "parent", "is not the caller"),
    "unsigned parking program": (
        lambda c: quoted(c.folder / "setup.exe"),
        lambda c: '/park="' + windows_path(c.folder / "plain.exe") + '"', "self", "not signed by the maker"),
    "two parking programs": (
        lambda c: quoted(c.folder / "setup.exe"),
        lambda c: '/park="' + windows_path(c.folder / "Park.exe") + '" /park="x.exe"', "self", "more than one"),
}


@pytest.mark.parametrize("case", REFUSALS.values(), ids=REFUSALS.keys())
def test_service_refuses_what_it_cannot_trust_and_starts_nothing(caller, case):
    file, parameters, pid, reason = case
    (caller.folder / "plain.exe").write_bytes(caller.updater.signed_installer(None))
    answer = caller(file(caller), parameters(caller) if callable(parameters) else parameters, pid)

    assert int(answer["hresult"], 16) & 0x80000000, answer
    assert "process-id" not in answer, answer
    assert [line for line in answer["log"] if "refused: " in line and reason in line], answer["log"]
    time.sleep(0.5)  # what a started program would have recorded by now
    assert invocations() == [] and not PWNED.exists()


def test_service_starts_a_verified_copy_elevated_and_hands_back_its_process(caller):
    set_test_installer(steps=2, step_ms=300, exit_code=7, signal_park=False)
    user_setup = caller.folder / "setup.exe"
    unsigned = caller.folder / "unsigned.exe"
    unsigned.write_bytes(caller.updater.signed_installer(None))
    with planted_dll(caller.folder):  # loaded by any program started from the user's folder
        # The user's file is replaced by an unsigned program as soon as the call returns.
        answer = caller(quoted(user_setup), f'/park="{windows_path(caller.folder / "Park.exe")}" /S',
                        replace_with=windows_path(unsigned))

    assert (answer["hresult"], answer["replaced"]) == ("0x00000000", "1"), answer
    assert answer["started-exit-code"] == "7", answer  # the handle is the installer's, valid in the caller
    [(_, pid, command_line)] = invocations("installer")
    [(process_id, elevated, image, planted)] = processes()
    assert (str(process_id), answer["process-id"]) == (pid, pid)
    # Elevated, unlike the caller; from a protected folder, with the parking copy beside it; no planted DLL.
    assert (elevated, planted) == (True, False)
    folder = image.rsplit("\\", 1)[0]
    assert folder.startswith("C:\\ProgramData\\Orvane\\Protected\\{"), image
    assert command_line == f'"{folder}\\setup.exe" /park="{folder}\\Park.exe" /S'

    # Once the program has ended, its folder goes.
    assert wait_until(lambda: not prefix_path(folder).exists(), 10, 0.2)
