"""What every analytics hit says about the user: identifiers, consent and the fixed parameters."""

import re

import pytest

from harness import (ANALYTICS_DRIVER, BUILD, IDENTITY_KEY, MEASUREMENT_ID, consent_cookie, cookies,
                     dump_queue, hit_params, import_registry, kept, roaming_appdata)
from harness import analytics_driver as driver

ORDER_WITH_UID = ["tid", "en", "_p", "_z", "cid", "ep.result", "uid", "seg", "sid", "v", "ep.app_name",
                  "ep.app_version", "sr", "ul", "_et"]
GUID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")
pytestmark = pytest.mark.usefixtures("empty_queue")


@pytest.fixture
def user_id():
    """Sets the client's user id for the test."""
    yield lambda value: import_registry({IDENTITY_KEY: {"UserId": value}})
    import_registry({IDENTITY_KEY: None})


def test_sent_hit_carries_the_parameters_in_order_with_identifiers(sink, user_id):
    user_id("user \u00fc&1")
    with cookies(consent=consent_cookie(C0003=1), ga="GA1.2.1234567890.1767225600"):
        driver("result", "0x102")
        [hit] = sink.wait_for_hits(1, timeout=10)

    params = dict(hit.params)
    assert [key for key, _ in hit.params] == ORDER_WITH_UID
    assert params["tid"] == MEASUREMENT_ID
    assert params["en"] == "Update"
    assert params["ep.result"] == "FailureMainMutex"
    assert params["cid"] == "1234567890.1767225600"  # from the _ga cookie
    assert params["uid"] == "user \u00fc&1"
    assert "uid=user%20%C3%BC%261&" in hit.query  # UTF-8, every reserved byte escaped
    assert re.fullmatch(r"[a-zA-Z]{3}\.[a-zA-Z]{3}", params["_p"])
    assert (params["_z"], params["seg"], params["v"], params["_et"]) == ("ccd.v9b", "1", "2", "1")
    assert re.fullmatch(r"-?\d+", params["sid"])
    assert (params["ep.app_name"], params["ep.app_version"], params["ul"]) == ("Updater", "1.1.1.93", "en-us")
    assert re.fullmatch(r"\d+x\d+", params["sr"])


def test_each_process_draws_its_own_page_marker_and_session_id():
    first, second = (dict(hit_params(driver("compose", "x").values["query"])) for _ in range(2))
    assert (first["_p"], first["sid"]) != (second["_p"], second["sid"])


CONSENT_CASES = [
    # cookie, category 1 (success event), category 2 (other events)
    (consent_cookie(C0001=1, C0002=0, C0003=1), False, True),
    (consent_cookie(C0001=1, C0002=1, C0003=0), True, False),
]  # how the cookie is read: the unit tests


@pytest.mark.parametrize("cookie, success_allowed, others_allowed", CONSENT_CASES, ids=["no C0002", "no C0003"])
def test_consent_categories_decide_which_events_are_queued(cookie, success_allowed, others_allowed):
    with cookies(consent=cookie):
        decided = driver("consent", 0, 1, 2).values["consent"]
        assert decided == "1" + ("1" if success_allowed else "0") + ("1" if others_allowed else "0")
        # Without network the events stay queued where they can be read.
        offline = {"WINEDLLOVERRIDES": "netprofm="}
        driver("succeeded", env=offline)
        driver("result", "0x104", env=offline)
    expected = (["Succeeded"] if success_allowed else []) + (["FailureMainIsFileOrvaneSigned"] if others_allowed else [])
    assert dump_queue().results == expected


@pytest.fixture
def visitor_file():
    with kept(roaming_appdata() / "Orvane" / "Orvane.ini") as path:
        path.unlink(missing_ok=True)
        yield path


def test_visitor_id_is_created_once_and_kept_in_orvane_ini(visitor_file):
    path = visitor_file
    first = driver("visitor-id").values["visitor-id"]
    again = driver("visitor-id").values["visitor-id"]
    text = path.read_bytes()

    assert GUID.fullmatch(first) and again == first
    assert text == f"[Analytics]\r\nVisitorID={first}\r\n".encode()

    path.unlink()
    renewed = driver("visitor-id").values["visitor-id"]
    assert GUID.fullmatch(renewed) and renewed != first

    # A visitor id written by another program of the maker is taken as it stands.
    path.write_text("[Analytics]\r\nVisitorID=1b4e28ba-2fa1-11d2-883f-0016d3cca427\r\n[Other]\r\nx=1\r\n")
    assert driver("visitor-id").values["visitor-id"] == "1b4e28ba-2fa1-11d2-883f-0016d3cca427"


def test_measurement_id_is_not_stored_as_text_in_the_programs():
    assert len(MEASUREMENT_ID) == 12
    for program in (BUILD / "Updater.exe", ANALYTICS_DRIVER):
        data = program.read_bytes()
        assert MEASUREMENT_ID.encode() not in data
        assert MEASUREMENT_ID.encode("utf-16-le") not in data
