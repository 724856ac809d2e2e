"""The real Updater.exe under Wine: what it makes of its command line."""

import re

import pytest

from winehost import BUILD, decode_debug_text, roaming_appdata, run_windows_program, windows_path

UPDATER = BUILD / "Updater.exe"
HEADER = re.compile(r"^-{80}(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2} UT$")


def parsed_options(result):
    lines = [line for line in result.debug_lines if line.startswith("Updater options: ")]
    assert len(lines) == 1, result.stdout
    fields = dict(re.findall(r"(\w+)=(\[[^\]]*\]|\S+)", lines[0][len("Updater options: "):]))
    return {k: decode_debug_text(v[1:-1]) if v.startswith("[") else v for k, v in fields.items()}


def run_log(product):
    return roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Update" / f"{product}_Update.log"


def test_quotes_spaces_unicode_and_installer_arguments():
    product = "Prodüct Ω"
    log = run_log(product)
    log.unlink(missing_ok=True)
    tail = ('/PRODUCT="Prodüct Ω" /from="C:\\Program Files\\Orvane\\App.exe" /dp 42 /channel=beta /noprog '
            '/prompt=yes /unknown /installerargs=/S "/D=C:\\My Games" /noparking')
    result = run_windows_program(UPDATER, tail, timeout_s=60, debug_output=True)

    assert result.exit_code == 0
    options = parsed_options(result)
    assert options["product"] == product
    assert options["from"] == "C:\\Program Files\\Orvane\\App.exe"
    assert options["dp"] == "42"
    assert options["channel"] == "beta"
    assert options["showProgress"] == "0"
    assert options["prompt"] == "0"
    # The scan stops at /installerargs=; what follows belongs to the installer, quotes and all.
    assert options["installerArgs"] == '/S "/D=C:\\My Games" /noparking'
    assert options["parking"] == "1"

    lines = log.read_bytes().decode("latin-1").split("\r\n")
    assert HEADER.match(lines[0]), lines
    assert lines[1:] == [""]


def test_defaults_without_arguments():
    result = run_windows_program(UPDATER, "", debug_output=True)
    assert result.exit_code == 0
    options = parsed_options(result)
    assert options["product"] == "TesselAGGamesApp"
    assert options["dp"] == "fablewick"
    assert options["channel"] == "live"
    assert (options["showProgress"], options["parking"], options["dev"]) == ("1", "1", "0")
    assert options["installerArgs"] == ""


@pytest.mark.parametrize("tail", [
    "/" * 30000,
    '"' * 5001 + " /dp",
    "/channel=\u0416\u0436",  # not representable as 8-bit text
    " ".join(f"/x{i}=\u00e9" for i in range(3000)),
])
def test_hostile_command_lines_end_in_order(tail):
    result = run_windows_program(UPDATER, tail, debug_output=False)
    assert not result.timed_out
    # A channel that cannot become 8-bit text ends the run in order; nothing else is refused.
    assert result.exit_code == (0x100 if "\u0416" in tail else 0)
