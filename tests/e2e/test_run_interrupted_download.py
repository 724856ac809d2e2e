"""A run killed in the middle of its download leaves a partial download that the next run resumes, but only
while it is still the same file from the same offer. (How the engine carries a download through dropped and
stalled connections: tests/e2e/download.)"""

import os
import shutil
import time

from testservers import faults as F

from harness import BLOCK, FIRST_REQUEST_LENGTH, padded_pe, recorded_offsets, stream_ranges

SIZE = 24 * 1024 * 1024  # above the first request's 20 MiB: the download runs two streams
RATE = 3 * 1024 * 1024  # per connection while the first run is killed
TAG = '"v1"'
RESUMING = "Resuming the partial download of an earlier run"


def delivered(server):
    return sum(r.bytes_sent or 0 for r in server.log.records())


def restore(folder, snapshot, age_days=0.0):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    moment = time.time() - age_days * 86400
    for name, content in snapshot.items():
        (folder / name).write_bytes(content)
        os.utime(folder / name, (moment, moment))


def damage(folder, name, at=5):
    data = bytearray((folder / name).read_bytes())
    data[at] ^= 0x10
    (folder / name).write_bytes(bytes(data))


# (case, what changes before the next run, how the next run fetches the file). "resumed": each stream goes
# on from its recorded offset; "fresh": the first request starts a new download; "restarted": the server's
# answer shows another file, and one stream fetches it all again; "refused": the resumed file fails its
# hash check and the plain request fetches it all again.
CASES = [
    ("the same file", None, "resumed"),
    ("aged 8 days", lambda h, folder, data: os.utime(folder / "setup.exe.cache", (time.time() - 8 * 86400,) * 2),
     "fresh"),
    ("damaged plan", lambda h, folder, data: damage(folder, "setup.exe.downloadstate"), "fresh"),
    ("another address, same name", lambda h, folder, data: h.offer(h.host("/v2/setup.exe", data)), "fresh"),
    ("another file name", lambda h, folder, data: h.offer(h.host("/dl/other.exe", data)), "fresh"),
    ("cache spoilt where it was recorded", lambda h, folder, data: damage(folder, "setup.exe.cache", 1000),
     "refused"),
    ("another entity tag", lambda h, folder, data: h.files.set_faults(F.headers(ETag='"v2"')), "restarted"),
    # Last: the server's date of the file stays moved for good.
    ("a new date", lambda h, folder, data: h.files.set_file("/dl/setup.exe", data), "restarted"),
]


def test_next_run_resumes_a_killed_download_only_while_it_is_the_same_file(updater):
    """The old rule deleted every partial download at the start of a run, so a killed run's download started
    again from byte 0. Now the next run keeps it and resumes it when the offer and the server's file are the
    same; in every other case it starts over, and the file it hands off is always whole and checked."""
    data = updater.signed_installer(source=padded_pe(updater.work, SIZE))
    installer = updater.host("/dl/setup.exe", data)
    updater.offer(installer)
    updater.files.set_faults(F.throttle(RATE) + F.headers(ETag=TAG))

    def kill_past_sixty_percent(running):
        # A few blocks past 60 %: the server counts a throttled write as sent before the run has read it.
        if delivered(updater.files) > 0.6 * len(data) + 4 * BLOCK:
            running.kill()

    killed = updater.run(*updater.handoff_arguments(), during=kill_past_sixty_percent)
    assert killed.killed, killed.describe()
    snapshot = killed.download_files
    assert {"setup.exe.cache", "setup.exe.downloadstate", "setup.exe.origin", "setup.exe.0"} <= set(snapshot)
    assert "setup.exe" not in snapshot
    folder = updater.download_folder()
    restore(folder, snapshot)
    offsets = recorded_offsets(folder / "setup.exe", len(data), 2)
    ranges = stream_ranges(len(data), 2)
    remaining = sum(last + 1 - offset for (_, last), offset in zip(ranges, offsets))
    resumed_from = sorted(offset for (_, last), offset in zip(ranges, offsets) if offset <= last)
    # What a stream held unrecorded at the kill is at most its block in hand and a write still in flight.
    assert remaining <= 0.4 * len(data) + BLOCK, (offsets, killed.describe())

    for case, change, fetch in CASES:
        restore(folder, snapshot)
        updater.offer(installer)
        updater.files.set_faults(F.headers(ETag=TAG))
        if change:
            change(updater, folder, data)
        name = "other.exe" if case == "another file name" else "setup.exe"
        at_first_request = []

        def watch(running):
            if not at_first_request and any(r.path.endswith(name) for r in updater.files.log.records()[mark:]):
                at_first_request.append(sorted(p.name for p in folder.iterdir()))

        mark = len(updater.files.log)
        run = updater.run(*updater.handoff_arguments(), during=watch)
        where = f"{case}: {run.describe()}"
        assert run.exit_code == 0, where
        assert run.results == (["PatchHashValue2", "Succeeded"] if fetch == "refused" else ["Succeeded"]), where
        assert run.download_files[name] == data, where
        assert not any(n.startswith("setup.exe.") or n.startswith(name + ".") for n in run.download_files), where
        asked = [r.range_asked for r in run.file_requests]
        sent = sum(r.bytes_sent for r in run.file_requests)
        assert (RESUMING in run.log_text) == (fetch != "fresh"), where
        if fetch == "resumed":
            # Exactly the bytes the records did not cover: at most 40 % of the file and the block a kill cut.
            assert sorted(a[0] for a in asked) == resumed_from, (asked, offsets, where)
            assert sent == remaining, where
        elif fetch == "fresh":
            assert asked[0] == (0, FIRST_REQUEST_LENGTH - 1) and sent >= len(data), (asked, where)
            if name != "setup.exe":
                # Another file's partial download is gone before the download starts.
                assert at_first_request and not [n for n in at_first_request[0] if n.startswith("setup.exe")], \
                    (at_first_request, where)
        else:
            assert asked[-1] is None and run.file_requests[-1].bytes_sent == len(data), (asked, where)

    # An answer that offers nothing says that the partial download will not be resumed.
    restore(folder, snapshot)
    updater.service.set_answers({})
    run = updater.run()
    assert run.exit_code == 3 and run.download_files == {}, run.describe()
