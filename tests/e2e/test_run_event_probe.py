"""tools/EventProbe, the harness's witness of the run's decision events: it reports signals in the order
they were given, also when they come back to back, and consumes them as the client would."""

import subprocess
import uuid

import pytest

from runharness import EVENT_PROBE, EventProbe
from winehost import wine_environment


def signal(product, *names):
    return subprocess.run(["wine", str(EVENT_PROBE), "signal", product, *names], env=wine_environment(),
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


@pytest.mark.parametrize("sequences, expected", [
    ([], []),
    ([["UpdateDeny", "UpdateNo"]], ["UpdateDeny", "UpdateNo"]),
    ([["UpdateYes", "UpdateNo"]], ["UpdateYes", "UpdateNo"]),
    ([["UpdateNo"], ["UpdateYes"], ["UpdateDeny"]], ["UpdateNo", "UpdateYes", "UpdateDeny"]),
])
def test_reports_the_signals_in_the_order_they_were_given(tmp_path, sequences, expected):
    product = f"Probe {uuid.uuid4().hex[:6]} \u00e9"
    probe = EventProbe(product, tmp_path, timeout_s=60)
    for names in sequences:
        assert signal(product, *names).returncode == 0
    assert probe.stop() == expected


def test_signals_reach_only_the_product_watched(tmp_path):
    watched, other = f"Probe-{uuid.uuid4().hex[:6]}", f"Probe-{uuid.uuid4().hex[:6]}"
    probe = EventProbe(watched, tmp_path, timeout_s=60)
    # The other product's events do not exist: nobody created them.
    assert signal(other, "UpdateNo").returncode == 1
    assert signal(watched, "UpdateYes").returncode == 0
    assert probe.stop() == ["UpdateYes"]
