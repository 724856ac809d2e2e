"""Runs the project's Windows programs under the test Wine prefix and collects what they did."""

import getpass
import os
import re
import subprocess
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build" / "x64"
PREFIX = Path(os.environ.get("OV_WINEPREFIX", os.environ.get("WINEPREFIX", ROOT / "build" / "wineprefix")))
# The release check runs the shipped programs signed: a folder with Updater.exe, Park.exe and
# ElevationService.exe side by side, as they ship, in place of the test build's.
SHIPPED = Path(os.environ["OV_SHIPPED_PROGRAMS"]) if os.environ.get("OV_SHIPPED_PROGRAMS") else None

PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ftp_proxy", "FTP_PROXY",
                   "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")


def shipped_program(name, built):
    """The shipped program `name`: from OV_SHIPPED_PROGRAMS when set, else the test build's `built`."""
    return SHIPPED / name if SHIPPED else built


def wine_environment(extra=None):
    env = {k: v for k, v in os.environ.items() if k not in PROXY_VARIABLES and k != "DISPLAY"}
    env["WINEPREFIX"] = str(PREFIX)
    env.setdefault("WINEDEBUG", "-all")
    env["WINEARCH"] = "win64"
    if extra:
        env.update(extra)
    return env


def windows_path(path):
    """The path a Windows program in the prefix sees for a host path (Wine maps Z: to /)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def quote_argument(argument):
    """Quotes one argument by the Windows C runtime's rules."""
    if argument and not any(c in argument for c in ' \t"'):
        return argument
    result, backslashes = '"', 0
    for c in argument:
        if c == "\\":
            backslashes += 1
            continue
        if c == '"':
            result += "\\" * (backslashes * 2 + 1) + '"'
        else:
            result += "\\" * backslashes + c
        backslashes = 0
    return result + "\\" * (backslashes * 2) + '"'


def user_folder():
    users = PREFIX / "drive_c" / "users"
    candidates = [users / getpass.getuser(), *sorted(p for p in users.iterdir() if p.name != "Public")]
    for candidate in candidates:
        if (candidate / "AppData").is_dir():
            return candidate
    raise RuntimeError(f"no user folder in {users}")


def roaming_appdata():
    return user_folder() / "AppData" / "Roaming"


@dataclass
class RunResult:
    exit_code: int | None
    timed_out: bool
    debug_lines: list = field(default_factory=list)
    stdout: str = ""
    stderr: str = ""


# Wine traces OutputDebugString on its "seh" channel at the "warn" level, C-escaped between quotes.
DEBUG_STRING_TRACE = re.compile(r'warn:seh:OutputDebugStringA "(.*)"$')
WINE_ESCAPE = re.compile(r'\\(x[0-9a-fA-F]{2}|[0-7]{1,3}|.)')


def unescape_wine_trace(text):
    def replace(match):
        code = match.group(1)
        if code.startswith("x"):
            return chr(int(code[1:], 16))
        if code[0] in "01234567":
            return chr(int(code, 8))
        return {"n": "\n", "r": "\r", "t": "\t"}.get(code, code)
    return WINE_ESCAPE.sub(replace, text)


def debug_lines_from_trace(stderr):
    lines = []
    for line in stderr.splitlines():
        match = DEBUG_STRING_TRACE.search(line.rstrip("\r"))
        if match:
            lines.append(unescape_wine_trace(match.group(1)).rstrip("\n"))
    return lines


def run_windows_program(exe, command_line_tail="", timeout_s=60, debug_output=False, env=None, unelevated=False):
    """Starts exe with exactly `exe-path + ' ' + command_line_tail` as its command line.

    With debug_output, the program's OutputDebugString lines are collected from Wine's trace."""
    launcher = BUILD / "tools" / "Launch" / "Launch.exe"
    command_line = quote_argument(windows_path(exe))
    if command_line_tail:
        command_line += " " + command_line_tail
    args = ["wine", str(launcher), "--timeout-ms", str(int(timeout_s * 1000))]
    if unelevated:
        args.append("--unelevated")
    extra = {"OV_LAUNCH_COMMAND_LINE": command_line, **(env or {})}
    if debug_output:
        extra["WINEDEBUG"] = "-all,warn+seh"
    completed = subprocess.run(args, env=wine_environment(extra), stdin=subprocess.DEVNULL, capture_output=True,
                               timeout=timeout_s + 30)
    stdout = completed.stdout.decode("utf-8", "replace")
    stderr = completed.stderr.decode("utf-8", "replace")
    result = RunResult(exit_code=None, timed_out=False, stdout=stdout, stderr=stderr)
    if debug_output:
        result.debug_lines = debug_lines_from_trace(stderr)
    for line in stdout.splitlines():
        line = line.rstrip("\r")
        if line.startswith("exit-code: "):
            result.exit_code = int(line[len("exit-code: "):])
        elif line == "timeout":
            result.timed_out = True
    if result.exit_code is None and not result.timed_out:
        raise RuntimeError(f"launcher failed: {completed.returncode} {stdout} {stderr[-2000:]}")
    return result


def decode_debug_text(text):
    """Undoes the \\uXXXX escapes our programs use to keep debug output ASCII."""
    return re.sub(r"\\u([0-9a-f]{4})", lambda m: chr(int(m.group(1), 16)), text)
