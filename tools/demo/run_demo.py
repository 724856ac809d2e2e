"""Runs Updater.exe under the project's Wine prefix with a client-like command line and reports the run."""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tests" / "e2e"))

from winehost import BUILD, decode_debug_text, roaming_appdata, run_windows_program  # noqa: E402

PRODUCT = "TesselAGGamesApp"
COMMAND_LINE = (f'/product={PRODUCT} /from="C:\\Program Files (x86)\\Orvane\\Games App\\GamesApp.exe" '
                '/locale=en-US /channel=live /installerargs=/S "/D=C:\\Program Files (x86)\\Orvane"')


def main():
    updater = BUILD / "Updater.exe"
    print(f"Updater.exe {COMMAND_LINE}")
    result = run_windows_program(updater, COMMAND_LINE, timeout_s=120, debug_output=True)
    for line in result.debug_lines:
        if line.startswith("Updater option "):
            print("  " + decode_debug_text(line[len("Updater option "):]))
    log = roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Update" / f"{PRODUCT}_Update.log"
    if log.exists():
        last = log.read_text("latin-1").splitlines()[-1]
        print(f"  run log: {log.name}, last header: {last[80:]}")
    if result.timed_out:
        print("  the run did not end in time")
        return 1
    print(f"  exit code: {result.exit_code} (0x{result.exit_code:x})")
    return 0 if result.exit_code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
