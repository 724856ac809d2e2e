"""The programs around the installer hand-off, under Wine: the parking program (Park.exe) started in the
background with an exact command line, when it waits on its events, and its log; who tools/TestInstaller
says was started (as installer, or as the stand-in client "PlayDock-ov.exe") and the updater's progress
positions it saw; the elevation service registered, missing or broken in the prefix.

Also the literal pieces of the two command lines the updater builds for the installer and for Park.exe,
so the tests can assemble what each must receive.
"""

from __future__ import annotations

import functools
import re
import shutil
import subprocess
import time
import uuid
from contextlib import contextmanager
from pathlib import Path
from typing import List, Optional, Tuple

import pki
import runharness
from winehost import (BUILD, PREFIX, SHIPPED, quote_argument, roaming_appdata, run_windows_program, shipped_program,
                      windows_path, wine_environment)

# The Park.exe beside Updater.exe: signed by the maker for the tests (signed_park), or by the release.
PARK = shipped_program("Park.exe", BUILD / "Park.exe")
ELEVATION_SERVICE = shipped_program("ElevationService.exe", BUILD / "ElevationService" / "ElevationService.exe")
LAUNCH = BUILD / "tools" / "Launch" / "Launch.exe"
PROCESS_HELPER = BUILD / "tools" / "ProcessHelper" / "ProcessHelper.exe"
TEST_INSTALLER = BUILD / "tools" / "TestInstaller" / "TestInstaller.exe"

TERMINATE_EVENT = "Global\\OVPARKTERM"
EXECUTE_EVENT = "Global\\OVPARKEXEC"

# The pieces of the installer's and Park.exe's command lines, exactly.
PARK_PREFIX = '/park="'
EXECUTE_PREFIX = '/Execute "'
LAUNCH_PART = '" /LaunchParams "/noupdate! /userlocale '
PARTNER_PART = " /dp "
EVENTS_PART = '" /EventTerminate "Global\\OVPARKTERM" /EventExecute "Global\\OVPARKEXEC"'
STOP_PARAMETERS = '/EventTerminate "Global\\OVPARKTERM" /SignalTerminate'

# Where the updater expects the games client (ProgramFiles(x86) of the 64-bit prefix).
CLIENT_WINDOWS_PATH = "C:\\Program Files (x86)\\Orvane Games\\App\\PlayDock-ov.exe"
CLIENT_HOST_PATH = PREFIX / "drive_c" / "Program Files (x86)" / "Orvane Games" / "App" / "PlayDock-ov.exe"

PARK_START_SECONDS = 30  # a Park.exe that has not reached its wait by then has failed


@contextmanager
def unelevated_runs():
    """The harness's runs in this block start Updater.exe with the limited token (tools/Launch
    --unelevated): every Wine process is elevated otherwise, and only an unelevated run asks the elevation
    service to start the installer."""
    original = runharness.run_windows_program
    runharness.run_windows_program = functools.partial(original, unelevated=True)
    try:
        yield
    finally:
        runharness.run_windows_program = original


# The upload thread that a run starts at once finds nothing to send, waits one second and ends; an event
# queued in that second is left for the next run. Answering the query later keeps a run's outcome at its run.
QUERY_ANSWER_DELAY_S = 1.5


def offer_installer(updater, data: bytes, path: str = "/setup.exe"):
    """Hosts data on the harness's file server and has the update service offer it, answering each query
    after QUERY_ANSWER_DELAY_S."""
    installer = updater.host(path, data)
    updater.offer(installer, delay=QUERY_ANSWER_DELAY_S)
    return installer


def installer_parameters(parking_copy: str, installer_args: str = "") -> str:
    return PARK_PREFIX + parking_copy + '"' + (" " + installer_args if installer_args else "")


def launch_parameters(locale: str, app_args: str = "", dp: str = "fablewick") -> str:
    """What the client is restarted with: the text between the quotes after "/LaunchParams"."""
    return "/noupdate! /userlocale " + locale + (" " + app_args if app_args else PARTNER_PART + dp)


def parking_parameters(client: str, locale: str, app_args: str = "", dp: str = "fablewick") -> str:
    tail = " " + app_args if app_args else PARTNER_PART + dp
    return EXECUTE_PREFIX + client + LAUNCH_PART + locale + tail + EVENTS_PART


# --- what tools/TestInstaller recorded ---------------------------------------------------------------------

def installer_record_folder() -> Path:
    return PREFIX / "drive_c" / "ProgramData" / "OrvaneTest"


def invocations_file() -> Path:
    return installer_record_folder() / "invocations.txt"


def clear_invocations() -> None:
    """Forgets every recorded start and progress record, and the installer's settings."""
    for path in (invocations_file(), progress_file(), installer_record_folder() / "installer.ini",
                 installer_record_folder() / "processes.txt"):
        path.unlink(missing_ok=True)


def invocations(role: Optional[str] = None) -> List[Tuple[str, str, str]]:
    """(role, process id, command line) of each recorded start, in order; only `role` when given."""
    path = invocations_file()
    if not path.exists():
        return []
    records = [tuple(line.split("\t", 2)) for line in path.read_text(encoding="utf-8").splitlines() if line]
    return [r for r in records if role is None or r[0] == role]


def set_test_installer(*, steps: int = 4, step_ms: int = 150, exit_code: int = 0, signal_park: bool = True) -> None:
    """How tools/TestInstaller behaves as installer: progress steps written to "Install", the pause after
    each, its exit code, and whether it sets the parking program's execute event at its end."""
    folder = installer_record_folder()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "installer.ini").write_text(f"[installer]\r\nSteps={steps}\r\nStepMs={step_ms}\r\n"
                                          f"ExitCode={exit_code}\r\nSignalPark={int(signal_park)}\r\n")


def progress_file() -> Path:
    return installer_record_folder() / "progress.txt"


def progress_records() -> List[Tuple[float, int]]:
    """(percent the installer wrote, position of the updater's progress bar a step later), in order."""
    path = progress_file()
    if not path.exists():
        return []
    pairs = [line.split("\t") for line in path.read_text(encoding="utf-8").splitlines() if line]
    return [(float(percent), int(position)) for percent, position in pairs]


def wait_for_invocations(role: str, count: int = 1, timeout_s: float = 20) -> List[Tuple[str, str, str]]:
    deadline = time.monotonic() + timeout_s
    while len(invocations(role)) < count:
        if time.monotonic() > deadline:
            raise TimeoutError(f"{count} start(s) as {role} expected within {timeout_s} s; recorded: {invocations()}")
        time.sleep(0.05)
    return invocations(role)


def windows_path_in_prefix(host_path: Path) -> str:
    """The C: path a program in the prefix uses for a file under the prefix's drive_c."""
    return "C:\\" + str(Path(host_path).relative_to(PREFIX / "drive_c")).replace("/", "\\")


PROTECTED_FOLDER = PREFIX / "drive_c" / "ProgramData" / "Orvane" / "Protected"
_GUID = r"[0-9a-f]{8}(?:-[0-9a-f]{4}){3}-[0-9a-f]{12}"


def started_installer(installer_line: str, download_folder: Path, installer_args: str = "", *,
                      protected: bool = True) -> str:
    """Checks the installer's exact command line and returns the parking copy it was told about. An elevated
    start (the updater's own, or the elevation service's) runs the installer and the parking copy side by
    side from a protected folder of their own; a limited updater's own start runs them from the download
    folder, where "/park=" has a doubled backslash (the folder ends with one already)."""
    if protected:
        folder = re.escape(windows_path_in_prefix(PROTECTED_FOLDER) + "\\") + r"\{" + _GUID + r"\}\\"
        pattern = '"(' + folder + r')setup\.exe" /park="(\1Park-\{' + _GUID + r'\}\.exe)"'
    else:
        pattern = ('"(' + re.escape(windows_path_in_prefix(download_folder) + "\\") + r')setup\.exe" '
                   r'/park="(\1\\Park-\{' + _GUID + r'\}\.exe)"')
    match = re.fullmatch(pattern + (re.escape(" " + installer_args) if installer_args else ""), installer_line)
    assert match, installer_line
    return match.group(2)


def prefix_path(windows: str) -> Path:
    """The host path of a C: path inside the prefix."""
    return PREFIX / "drive_c" / windows[3:].replace("\\\\", "\\").replace("\\", "/")


def shell_command_line(windows_file: str, parameters: str) -> str:
    """The command line a program started by ShellExecuteExW with these parameters receives."""
    return '"' + windows_file + '" ' + parameters


@contextmanager
def stand_in_client(host_path: Path = CLIENT_HOST_PATH):
    """tools/TestInstaller copied as "PlayDock-ov.exe" to host_path (by default the client's path in the
    prefix) for the length of the block."""
    host_path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(TEST_INSTALLER, host_path)
    try:
        yield host_path
    finally:
        host_path.unlink(missing_ok=True)


@contextmanager
def planted_dll(folder: Path):
    """A real DLL named OvPlanted.dll (which tools/TestInstaller tries to load) placed in folder."""
    planted = folder / "OvPlanted.dll"
    shutil.copyfile(PREFIX / "drive_c" / "windows" / "system32" / "version.dll", planted)
    try:
        yield planted
    finally:
        planted.unlink(missing_ok=True)


def signed_park(updater) -> None:
    """Signs the Park.exe beside Updater.exe with the maker's test certificate, as a release is: the
    elevation service starts nothing that the maker has not signed, the parking program included. A
    release's own programs are signed already."""
    if SHIPPED:
        return
    signed = updater.work / "Park-signed.exe"
    pki.sign_pe(BUILD / "Park" / "Park.exe", signed, updater.codesign.leaf("orvane-inc"))
    shutil.copyfile(signed, PARK)


@contextmanager
def handing_off_with_client(updater):
    """The harness with a signed installer on offer, a signed Park.exe, the stand-in client at the client's
    path, and no parking program nor installer record left over from before (nor after the block)."""
    signed_park(updater)
    stop_waiting_parks()
    clear_invocations()
    offer_installer(updater, updater.signed_installer())
    try:
        with stand_in_client():
            yield updater
    finally:
        stop_waiting_parks()
        clear_invocations()


# --- Park.exe ----------------------------------------------------------------------------------------------

def park_log_path() -> Path:
    return roaming_appdata() / "Orvane" / "Logs" / "Park.log"


def park_log_lines() -> List[str]:
    path = park_log_path()
    return path.read_bytes().decode("utf-8", "replace").splitlines() if path.exists() else []


LOG_LINE = re.compile(r"^\S+ \S+ \[(\d+)\] (.*)$")


def park_log_entries(marker: str) -> List[Tuple[str, str]]:
    """(process id, text) of every log line of each Park.exe whose start line contains marker."""
    # Process ids come again in a log that outlives many runs: a line belongs to the latest start of its id.
    selected, active = [], {}
    for pid, text in (m.groups() for m in map(LOG_LINE.match, park_log_lines()) if m):
        if text.startswith("started: "):
            active[pid] = marker in text
        if active.get(pid):
            selected.append((pid, text))
    return selected


def wait_until_park_waits(marker: str, timeout_s: float = PARK_START_SECONDS) -> str:
    """Waits until the Park.exe whose command line contains marker has created its events; its pid."""
    deadline = time.monotonic() + timeout_s
    while True:
        for pid, text in park_log_entries(marker):
            if text.startswith("waiting on "):
                return pid
        if time.monotonic() > deadline:
            raise TimeoutError(f"no Park.exe with {marker!r} waits; log: {park_log_lines()[-10:]}")
        time.sleep(0.05)


def wait_for_park_line(marker: str, text: str, timeout_s: float = 20) -> str:
    """Waits until a Park.exe started with marker in its command line logs text; that Park.exe's pid."""
    deadline = time.monotonic() + timeout_s
    while True:
        for pid, line in park_log_entries(marker):
            if line == text:
                return pid
        if time.monotonic() > deadline:
            raise TimeoutError(f"no Park.exe with {marker!r} logged {text!r}; log: {park_log_lines()[-10:]}")
        time.sleep(0.05)


def set_named_event(name: str) -> None:
    """Sets a named event from a process of its own (tools/ProcessHelper)."""
    done = subprocess.run(["wine", str(PROCESS_HELPER), "set-event", name], env=wine_environment(),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    assert done.returncode == 0, f"ProcessHelper set-event {name}: {done.returncode} {done.stdout!r}"


def stop_waiting_parks() -> None:
    """Ends any Park.exe still waiting on the real events (left by an earlier run), as the updater would:
    a Park.exe with the stop parameters."""
    marker = f"/Test{uuid.uuid4().hex}"
    done = run_windows_program(PARK, STOP_PARAMETERS + " " + marker, timeout_s=PARK_START_SECONDS)
    assert (done.exit_code, done.timed_out) == (0, False), done.stdout
    if any(text.startswith("signalled ") for _, text in park_log_entries(marker)):
        time.sleep(1)  # the signalled events live on until every waiting Park.exe has closed them


class BackgroundProgram:
    """A Windows program started through tools/Launch with an exact command line, not waited for."""

    def __init__(self, exe: Path, command_line_tail: str, timeout_s: float, output: Path):
        command_line = quote_argument(windows_path(exe)) + (" " + command_line_tail if command_line_tail else "")
        self.timeout_s = timeout_s
        self.output = output
        # Output to a file: processes the program starts may inherit the handle and would hold a pipe open.
        with open(output, "wb") as out:
            self.process = subprocess.Popen(
                ["wine", str(LAUNCH), "--timeout-ms", str(int(timeout_s * 1000))],
                env=wine_environment({"OV_LAUNCH_COMMAND_LINE": command_line}), stdin=subprocess.DEVNULL,
                stdout=out, stderr=subprocess.DEVNULL)

    def running(self) -> bool:
        return self.process.poll() is None

    def finish(self, timeout_s: float) -> Optional[int]:
        """The program's exit code; None when it had to be ended at its time limit."""
        try:
            self.process.wait(timeout=timeout_s)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=30)
            raise AssertionError(f"{self.output.name}: still running after {timeout_s} s")
        text = self.output.read_bytes().decode("utf-8", "replace")
        for line in text.splitlines():
            if line.startswith("exit-code: "):
                return int(line[len("exit-code: "):])
            if line.strip() == "timeout":
                return None
        raise RuntimeError(f"Launch.exe failed: {self.process.returncode} {text!r}")

    def stop(self) -> None:
        """Ends the launcher if it still runs. Its child may outlive it: end a waiting Park.exe through its
        terminate event first."""
        if self.running():
            self.process.kill()
            self.process.wait(timeout=30)


# --- the elevation service -----------------------------------------------------------------------------------

SERVICE_CLASS_KEY = r"HKEY_LOCAL_MACHINE\Software\Classes\CLSID\{3540DE9F-C4F7-4A44-B371-369C08D0A5B0}"
SERVICE_NAME = "OrvaneElevationService"
MISSING_SERVER = "C:\\Orvane Missing\\ElevationService.exe"


def _wine(*args: str) -> subprocess.CompletedProcess:
    return subprocess.run(["wine", *args], env=wine_environment(), stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60)


def service_server() -> Optional[str]:
    """The service class's LocalServer32 command, None when the class is not registered."""
    done = _wine("reg", "query", SERVICE_CLASS_KEY + "\\LocalServer32", "/ve")
    for line in done.stdout.decode("utf-8", "replace").splitlines():
        fields = line.strip().split(None, 2)
        if len(fields) == 3 and fields[1].startswith("REG_"):
            return fields[2]
    return None


def set_service_state(state: str) -> None:
    """"registered": the real service installed (ElevationService.exe /Install); "missing": nothing of it;
    "broken": the class registered, but its service is gone and LocalServer32 names a missing program."""
    done = _wine(str(ELEVATION_SERVICE), "/Uninstall" if state == "missing" else "/Install")
    if done.returncode == 0 and state == "broken":
        done = _wine("sc", "delete", SERVICE_NAME)
        if done.returncode == 0:
            done = _wine("reg", "add", SERVICE_CLASS_KEY + "\\LocalServer32", "/ve", "/d", '"' + MISSING_SERVER + '"',
                         "/f")
    assert done.returncode == 0, f"service {state}: {done.returncode} {done.stdout!r} {done.stderr[-500:]!r}"
    # A reg query now and then reads nothing under a loaded machine (seen once in CI right after a
    # service instance of the test ended): ask again before calling the state wrong.
    for _ in range(5):
        if (service_server() is None) == (state == "missing"):
            return
        time.sleep(0.5)
    assert (service_server() is None) == (state == "missing"), f"service {state} not in the registry"


@contextmanager
def elevation_service(state: str):
    """The elevation service in this state for the length of the block, then as it was before."""
    was_registered = service_server() is not None
    set_service_state(state)
    try:
        yield
    finally:
        set_service_state("registered" if was_registered else "missing")


def service_log_lines() -> List[str]:
    path = PROTECTED_FOLDER / "ElevationService.log"
    return path.read_bytes().decode("utf-8", "replace").splitlines() if path.exists() else []


def processes() -> List[Tuple[int, bool, str, bool]]:
    """(pid, elevated, own image path, planted DLL loaded) of each start of tools/TestInstaller as installer."""
    path = installer_record_folder() / "processes.txt"
    if not path.exists():
        return []
    records = [line.split("\t") for line in path.read_text(encoding="utf-8").splitlines() if line]
    return [(int(pid), elevated == "1", image, planted == "1") for pid, elevated, image, planted in records]
