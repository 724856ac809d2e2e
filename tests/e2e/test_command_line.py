"""The real Updater.exe under Wine with hostile or unrepresentable command lines: each run ends in order.
(How the command line is read: the unit tests.)"""

import pytest


@pytest.mark.parametrize("tail, exit_code", [
    ("/" * 30000, 3),
    ('"' * 5001 + " /dp", 3),
    # Not representable as 8-bit text: a product cannot be asked for, a channel cannot be sent.
    ('/PRODUCT="Prod\u00fcct \u03a9" /noparking', 0x105),
    ("/channel=\u0416\u0436", 0x100),
    (" ".join(f"/x{i}=\u00e9" for i in range(3000)), 3),
], ids=["30000 slashes", "5001 quotes", "product not 8-bit", "channel not 8-bit", "3000 unknown options"])
def test_hostile_command_lines_end_in_order(updater, tail, exit_code):
    run = updater.run(raw=tail, product=None)
    assert run.exit_code == exit_code, run.describe()
    assert (run.queries == []) == (exit_code != 3), run.describe()  # nothing is asked for what cannot be sent
