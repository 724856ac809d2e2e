"""`service`: hostile calls to the installed elevation service from a limited process (tools/ProcessHelper
call-service, started with the linked token): files, parameters and process ids drawn at random, each call with exactly
one thing the service must refuse. Counts calls that started anything (must be 0)."""

from __future__ import annotations

import random
import re
import shutil
import time
from collections import Counter

from environment import BUILD, PREFIX, Environment, invocations, print_table
from harness import (PARK, PROCESS_HELPER, elevation_service, log_lines, run_windows_program, service_log_path,
                     signed_park, windows_path)
import pki  # noqa: E402  (on the path once environment is imported)

PWNED = PREFIX / "drive_c" / "users" / "Public" / "pwned.txt"
ACCEPTED = "accepted"  # a piece the service may take


def quoted(path) -> str:
    return '"' + windows_path(path) + '"'


def files(env: Environment, folder) -> dict:
    """{kind: file argument}; the ACCEPTED one is the maker-signed installer."""
    harness = env.harness
    made = {
        ACCEPTED: harness.signed_installer(),
        "unsigned": harness.signed_installer(None),
        "other organisation": harness.signed_installer("contoso"),
        "untrusted root": harness.signed_installer("orvane-inc-untrusted"),
        "revoked signer": harness.signed_installer("orvane-inc-revoked"),
    }
    for kind, data in made.items():
        (folder / f"{kind.replace(' ', '-')}.exe").write_bytes(data)
    signed = folder / f"{ACCEPTED}.exe"
    pki.replace_signature(signed, folder / "hidden-data.exe", pki.read_signature(signed), b"echo pwned\r\n")
    (folder / "setup.bat").write_bytes(b"echo pwned > C:\\users\\Public\\pwned.txt\r\n")
    good = quoted(folder / f"{ACCEPTED}.exe")
    arguments = {kind: quoted(folder / f"{kind.replace(' ', '-')}.exe") for kind in made}
    arguments["data hidden after the signature"] = quoted(folder / "hidden-data.exe")
    arguments.update({
        "cmd.exe": '"C:\\windows\\system32\\cmd.exe"',
        "batch file": quoted(folder / "setup.bat"),
        "http address": '"http://127.0.0.1/setup.exe"',
        "UNC path": '"\\\\127.0.0.1\\c$\\setup.exe"',
        "device path": '"\\\\.\\' + windows_path(folder / f"{ACCEPTED}.exe") + '"',
        "stream": good[:-1] + ':x.exe"',
        "relative path": '"setup.exe"',
        "folder": quoted(folder),
        "missing file": quoted(folder / "missing.exe"),
        "reserved name": quoted(folder / "NUL.exe"),
        "trailing dot": good[:-1] + '."',
    })
    return arguments


def parameters(folder) -> dict:
    park = windows_path(folder / "Park.exe")
    return {
        ACCEPTED: f'/park="{park}" /S',
        "unsigned parking program": f'/park="{windows_path(folder / "unsigned.exe")}"',
        "cmd.exe as parking program": '/park="C:\\windows\\system32\\cmd.exe"',
        "two parking programs": f'/park="{park}" /park="{park}"',
        "unterminated parking program": f'/park="{park}',
        "parking program over http": '/park="http://127.0.0.1/Park.exe"',
        "control characters": f'/park="{park}"\r\n/S',
        "longer than 16 384 characters": f'/park="{park}" ' + "x" * 17000,
    }


PROCESS_IDS = {ACCEPTED: "self", "the elevated parent": "parent", "process 0": "0", "no such process": "4000000"}


def run(runs: int, seed: int, verbose: bool) -> int:
    draw = random.Random(seed)
    tally = Counter()
    pieces = Counter()
    reasons = Counter()
    with Environment() as env, elevation_service("registered"):
        signed_park(env.harness)
        folder = env.work / "user files"
        folder.mkdir()
        shutil.copyfile(PARK, folder / "Park.exe")
        choices = [files(env, folder), parameters(folder), PROCESS_IDS]
        print(f"service: {runs} hostile calls, seed {seed}", flush=True)
        for index in range(runs):
            # One hostile piece a call, the rest what the service may take: every refusal has one cause.
            kinds = [ACCEPTED] * len(choices)
            place = draw.choices(range(len(choices)), weights=[len(choice) - 1 for choice in choices])[0]
            kinds[place] = draw.choice([kind for kind in choices[place] if kind != ACCEPTED])
            file, parameter, pid = (choice[kind] for choice, kind in zip(choices, kinds))
            logged = len(log_lines(service_log_path()))
            done = run_windows_program(PROCESS_HELPER, "call-service", unelevated=True, timeout_s=90, env={
                "OV_CALL_FILE": file, "OV_CALL_PARAMETERS": parameter, "OV_CALL_PID": pid})
            time.sleep(0.3)  # what a started program would have recorded by then
            refused = [line for line in log_lines(service_log_path())[logged:] if "refused: " in line]
            started = "process-id:" in done.stdout or bool(invocations()) or PWNED.exists()
            label = " / ".join(kind for kind in kinds if kind != ACCEPTED)
            tally["calls"] += 1
            tally["started"] += started
            tally["refused with a reason"] += bool(refused) and not started
            pieces.update(kind for kind in kinds if kind != ACCEPTED)
            if refused:
                reasons[re.sub(r"\d+", "N", refused[-1].split("refused: ", 1)[1].split(": ")[0].split(" (")[0])] += 1
            if verbose or started or not refused:
                print(f"  call {index}: {label} -> started {started}, {refused[-1] if refused else done.stdout!r}",
                      flush=True)
            PWNED.unlink(missing_ok=True)
    print()
    print(f"service: {runs} hostile calls, seed {seed} (none may start anything)")
    print_table(["calls", "refused with a reason in the log", "started"],
                [[tally["calls"], tally["refused with a reason"], tally["started"]]])
    print()
    print_table(["hostile piece", "calls with it"], sorted(pieces.items()))
    print()
    print_table(["reason logged", "calls"], sorted(reasons.items(), key=lambda item: -item[1]))
    return 0 if tally["started"] == 0 else 1
