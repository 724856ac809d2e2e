"""What every analytics hit says about the user: identifiers, consent and the fixed parameters."""

import datetime
import re

import pytest

from analytics_support import (ANALYTICS_DRIVER, COLLECT_PORT, IDENTITY_KEY, MEASUREMENT_ID, consent_cookie,
                               cookies, delete_key, driver, dump_queue, hit_params, remove_queue, serving,
                               set_string, trusted_tls)  # noqa: F401
from testservers import Ga4Sink
from winehost import BUILD, roaming_appdata

ORDER_WITH_UID = ["tid", "en", "_p", "_z", "cid", "ep.result", "uid", "seg", "sid", "v", "ep.app_name",
                  "ep.app_version", "sr", "ul", "_et"]
GUID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")


@pytest.fixture(autouse=True)
def empty_queue():
    remove_queue()
    yield
    remove_queue()


@pytest.fixture
def no_user_id():
    delete_key(IDENTITY_KEY)
    yield
    delete_key(IDENTITY_KEY)


def visitor_file():
    return roaming_appdata() / "Orvane" / "Orvane.ini"


def derived_client_id(visitor_id):
    digits = [c for c in visitor_id if c in "0123456789abcdefABCDEF"][-8:]
    number = int("".join(digits), 16) & 0x7FFFFFFF if digits else 0
    year = datetime.datetime.now(datetime.timezone.utc).year
    start = int(datetime.datetime(year, 1, 1, tzinfo=datetime.timezone.utc).timestamp())
    return f"{number}.{start}"


def test_sent_hit_carries_the_parameters_in_order_with_identifiers(trusted_tls):
    set_string(IDENTITY_KEY, "UserId", "user \u00fc&1")
    try:
        with cookies(consent=consent_cookie(C0003=1), ga="GA1.2.1234567890.1767225600"), \
                serving(lambda: Ga4Sink(tls=trusted_tls.server, port=COLLECT_PORT, lifetime=60)) as sink:
            driver("result", "0x102")
            [hit] = sink.wait_for_hits(1, timeout=10)
    finally:
        delete_key(IDENTITY_KEY)

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


def test_without_ga_cookie_or_user_id_the_client_id_is_derived(no_user_id):
    visitor_id = driver("visitor-id").values["visitor-id"]
    with cookies(consent=consent_cookie(C0003=1), ga="GA1.2.12ab.34"):  # a letter: no client id in it
        query = driver("compose", "x").values["query"]
    keys = [item.split("=", 1)[0] for item in query.split("&")]
    assert keys == [k for k in ORDER_WITH_UID if k != "uid"]
    assert f"&cid={derived_client_id(visitor_id)}&" in query


def test_each_process_draws_its_own_page_marker_and_session_id():
    first, second = (dict(hit_params(driver("compose", "x").values["query"])) for _ in range(2))
    assert (first["_p"], first["sid"]) != (second["_p"], second["sid"])


CONSENT_CASES = [
    # cookie, category 1 (success event), category 2 (other events)
    (consent_cookie(C0001=1, C0002=0, C0003=1), False, True),
    (consent_cookie(C0001=1, C0002=1, C0003=0), True, False),
    ("isGpcEnabled=0&groups=C0002:1,C0003:1", False, False),  # literal separators are not decoded
]


@pytest.mark.parametrize("cookie, success_allowed, others_allowed", CONSENT_CASES)
def test_consent_categories_decide_which_events_are_queued(cookie, success_allowed, others_allowed):
    with cookies(consent=cookie):
        decided = driver("consent", 0, 1, 2).values["consent"]
        assert decided == "1" + ("1" if success_allowed else "0") + ("1" if others_allowed else "0")
        # Without network the events stay queued where they can be read.
        offline = {"WINEDLLOVERRIDES": "netprofm="}
        driver("succeeded", env=offline)
        driver("result", "0x104", env=offline)
    queued = [dict(r.params)["ep.result"] for r in dump_queue().records]
    expected = (["Succeeded"] if success_allowed else []) + (["FailureMainIsFileOrvaneSigned"] if others_allowed else [])
    assert queued == expected


def test_consent_without_settings_file_allows_only_category_zero():
    settings = roaming_appdata() / "Orvane" / "Orvane Games" / "App" / "Settings" / "GamesApp.ini"
    saved = settings.read_bytes() if settings.exists() else None
    settings.unlink(missing_ok=True)
    try:
        assert driver("consent", 0, 1, 2, 3).values["consent"] == "1000"
    finally:
        if saved is not None:
            settings.write_bytes(saved)


@pytest.fixture
def saved_visitor_file():
    path = visitor_file()
    saved = path.read_bytes() if path.exists() else None
    yield path
    if saved is None:
        path.unlink(missing_ok=True)
    else:
        path.write_bytes(saved)


def test_visitor_id_is_created_once_and_kept_in_orvane_ini(saved_visitor_file):
    path = saved_visitor_file
    path.unlink(missing_ok=True)

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
