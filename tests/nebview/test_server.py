"""nebview's server as a process on sample sequences: only the sequence's files are served
(path traversal, a file outside the sequence, a link put in a frame's place, a foreign
Host), a damaged frame answers its reason and the server goes on, many requests at once,
and the volume sent is the box mean of the library's values."""
import concurrent.futures
import json
import os
import shutil
import struct

import numpy
import pytest

import nebview_support as support

SANITIZED = os.environ.get("NEBVIEW_SANITIZED") == "1"


@pytest.fixture(scope="module")
def sequence(tmp_path_factory):
    folder = str(tmp_path_factory.mktemp("sequence"))
    paths = support.write_sample(folder, 3, 32)
    return folder, paths


def test_paths_outside_the_routes_are_refused_and_logged(sequence):
    folder, _ = sequence
    targets = ["/../../etc/passwd", "/app/../../../etc/passwd", "/app/%2e%2e/%2e%2e/etc/passwd",
               "/api/frame/0/../../../../etc/passwd", "/app/..%2f..%2fetc%2fpasswd", "//etc/passwd",
               "/app/main.js/../../../etc/passwd", "/api/frame/0/file/../../../etc/passwd",
               "/api/frame/%30/file", "/app/.hidden", "/app/main.js?x=1", "/api/frame/-1/facts",
               "/api/frame/0/volume?channels=2&cells=99999999999"]
    with support.Server(folder + "/plume_####.neb") as server:
        for target in targets:
            status, body, _ = server.get(target)
            assert 400 <= status < 500, target
            assert b"root:" not in body, target
        status, _, _ = server.get("/api/sequence")
        assert status == 200
    log = server.log_text()
    for target in targets:
        assert ("%s from 127.0.0.1: " % target) in log, target


def test_only_files_of_the_sequence_are_served(sequence, tmp_path):
    folder = str(tmp_path)
    paths = support.write_sample(folder, 2, 16)
    secret = tmp_path.parent / ("secret-%d.txt" % os.getpid())
    secret.write_text("root:not for the browser\n")
    shutil.copy(paths[0], os.path.join(folder, "other_0001.neb"))
    try:
        with support.Server(folder + "/plume_####.neb") as server:
            status, body, _ = server.get("/api/frame/0/file")
            assert status == 200 and body == open(paths[0], "rb").read()
            assert server.get("/api/frame/2/file")[0] == 404  # the sequence has frames 0 and 1
            assert server.get("/other_0001.neb")[0] == 404
            assert server.get("/api/frame/0/file?name=other_0001.neb")[0] == 400
            # A link to a file outside the sequence put in a frame's place.
            os.remove(paths[1])
            os.symlink(str(secret), paths[1])
            for target in ("/api/frame/1/file", "/api/frame/1/facts",
                           "/api/frame/1/volume?channels=2&cells=4096"):
                status, body, _ = server.get(target)
                assert status == 403, target
                assert b"root:" not in body
        assert "leads outside the sequence" in server.log_text()
    finally:
        secret.unlink()


def test_a_foreign_host_name_is_refused(sequence):
    folder, _ = sequence
    import http.client
    with support.Server(folder + "/plume_####.neb") as server:
        connection = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
        connection.request("GET", "/api/sequence", headers={"Host": "attacker.example:%d" % server.port})
        assert connection.getresponse().status == 403
        connection.close()


def test_a_damaged_frame_answers_its_reason_and_the_server_goes_on(sequence, tmp_path):
    folder = str(tmp_path)
    paths = support.write_sample(folder, 3, 24)
    support.damage(paths[1])
    reason = support.footer_missing_reason(paths[1])
    with support.Server(folder + "/plume_####.neb") as server:
        for target in ["/api/frame/1/volume?channels=2,1&cells=4096"] * 2 + [
                "/api/frame/1/slice?channel=2&axis=z&index=3", "/api/frame/1/particles?group=0"]:
            status, body, _ = server.get(target)
            assert status == 422
            assert json.loads(body)["error"].endswith(reason), target
        assert server.get("/api/frame/2/volume?channels=2&cells=4096")[0] == 200
        assert server.process.poll() is None
    assert server.stop() == 0
    assert reason in server.log_text()


def test_many_requests_at_once_and_a_kept_answer_never_waits_for_reads(tmp_path):
    folder = str(tmp_path)
    support.write_sample(folder, 4, 96)
    volume = "/api/frame/%d/volume?channels=2,1,7,8,9&cells=884736"
    with support.Server(folder + "/plume_####.neb", "--threads", "1") as server:
        first = server.get(volume % 0)[1]
        slow = [volume % f for f in (1, 2, 3)] + ["/api/frame/%d/slice?channel=3&axis=x&index=%d" % (f, i)
                                                    for f in (1, 2, 3) for i in (10, 50)]
        with concurrent.futures.ThreadPoolExecutor(max_workers=len(slow) + 8) as pool:
            pending = [pool.submit(server.get, t) for t in slow]
            kept = [pool.submit(server.get, volume % 0) for _ in range(8)]
            kept_done = [f.result() for f in kept]
            still_reading = sum(not f.done() for f in pending)
            answers = [f.result() for f in pending]
        assert all(a[0] == 200 and a[1] == first for a in kept_done)
        assert all(a[0] == 200 for a in answers)
        # One read at a time (--threads 1) takes the slow requests one after another, and
        # every kept answer came while some of them were still being read.
        assert still_reading > 0


@pytest.mark.skipif(SANITIZED, reason="the library's own values come through ctypes, not in a sanitizer build")
def test_the_volume_is_the_box_mean_of_the_librarys_values(sequence):
    folder, paths = sequence
    smoke = support.Library().channel(paths[2], 2)  # [z, y, x], 32^3
    with support.Server(folder + "/plume_####.neb") as server:
        status, body, _ = server.get("/api/frame/2/volume?channels=2&cells=5000&bits=16")
    assert status == 200
    header = struct.unpack_from("<10I", body, 0)
    assert header[0] == 0x4C4F564E and header[2] == 1
    size, full, factor = header[3:6], header[6:9], header[9]
    assert full == (32, 32, 32) and factor == 2 and size == (16, 16, 16)  # 17^3 > 5000 >= 16^3
    at = 40 + 48  # header, transform
    channel, state, bits = struct.unpack_from("<iII", body, at)
    low, high = struct.unpack_from("<ff", body, at + 12)
    reason_bytes, data_bytes = struct.unpack_from("<II", body, at + 20)
    assert (channel, state, bits, reason_bytes, data_bytes) == (2, 0, 16, 0, 2 * 16 ** 3)
    q = numpy.frombuffer(body, dtype="<u2", count=16 ** 3, offset=at + 28).reshape(16, 16, 16)
    sent = low + q / 65535.0 * (high - low)
    mean = smoke.astype(numpy.float64).reshape(16, 2, 16, 2, 16, 2).mean(axis=(1, 3, 5))
    assert low == pytest.approx(mean.min(), abs=1e-6) and high == pytest.approx(mean.max(), rel=1e-6)
    assert numpy.abs(sent - mean).max() <= (high - low) / 65535.0 * 0.5 + 1e-6
