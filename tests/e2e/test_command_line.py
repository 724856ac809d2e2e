"""The real Updater.exe under Wine: what it makes of its command line."""

import re

import pytest

from runharness import run_log_path
from winehost import decode_debug_text

HEADER = re.compile(r"^-{80}(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d{1,2} [A-Z][a-z]{2} \d{4} \d{2}:\d{2}:\d{2} UT$")
OPTION = re.compile(r"^Updater option (\w+)=(\[(.*)\]|(\S+))$")


def parsed_options(run):
    options = {}
    for line in run.debug_lines:
        match = OPTION.match(line)
        if match:
            options[match.group(1)] = decode_debug_text(match.group(3)) if match.group(2).startswith("[") \
                else match.group(4)
    assert len(options) == 15, run.debug_lines
    return options


def test_quotes_spaces_unicode_and_installer_arguments(updater):
    product = "Prodüct Ω"
    tail = ('/PRODUCT="Prodüct Ω" /from="C:\\Program Files\\Orvane\\App.exe" /dp 42 /channel=beta /noprog '
            '/prompt=yes /unknown /installerargs=/S "/D=C:\\My Games" /noparking')
    run = updater.run(raw=tail, product=product, debug_output=True)

    # A product that is not 8-bit text cannot be asked for: the run ends with its exception code.
    assert run.exit_code == 0x105, run.describe()
    assert run.queries == []
    options = parsed_options(run)
    assert options["product"] == product
    assert options["from"] == "C:\\Program Files\\Orvane\\App.exe"
    assert options["dp"] == "42"
    assert options["channel"] == "beta"
    assert options["showProgress"] == "0"
    assert options["prompt"] == "0"
    # The scan stops at /installerargs=; what follows belongs to the installer, quotes and all.
    assert options["installerArgs"] == '/S "/D=C:\\My Games" /noparking'
    assert options["parking"] == "1"
    # The locale was empty: the string table's choice fills it in.
    assert options["locale"] != ""

    lines = run_log_path(product).read_bytes().decode("latin-1").split("\r\n")
    assert HEADER.match(lines[0]), lines
    assert lines[1:] == [""]


def test_defaults_without_arguments(updater):
    run = updater.run(raw="", product=None, debug_output=True)
    assert run.exit_code == 3, run.describe()
    options = parsed_options(run)
    assert options["product"] == "TesselAGGamesApp"
    assert options["dp"] == "fablewick"
    assert options["channel"] == "live"
    assert (options["showProgress"], options["parking"], options["dev"]) == ("1", "1", "0")
    assert options["installerArgs"] == ""


@pytest.mark.parametrize("tail, exit_code", [
    ("/" * 30000, 3),
    ('"' * 5001 + " /dp", 3),
    ("/channel=\u0416\u0436", 0x100),  # not representable as 8-bit text: the run ends in order
    (" ".join(f"/x{i}=\u00e9" for i in range(3000)), 3),
], ids=["30000 slashes", "5001 quotes", "channel not 8-bit", "3000 unknown options"])
def test_hostile_command_lines_end_in_order(updater, tail, exit_code):
    run = updater.run(raw=tail, product=None)
    assert run.exit_code == exit_code, run.describe()
