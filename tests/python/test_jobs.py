"""Render jobs as data: `tapestop batch`, tarvo.render_jobs and
tarvo.dask.render_jobs write what `tapestop render` writes."""

import json
import os
import signal
import subprocess
import time

import distributed
import numpy as np
import pytest

import tarvo
import tarvo.dask
from conftest import COMMAND, TAPEMOTOR, faulty, noise, read_wav, tapestop, write_wav

RATE_HZ = 48000


@pytest.fixture
def folder(tmp_path):
    """Three inputs, and jobs that render them: two good, one crashing, one
    that names an unknown field; with the render options each good job means."""
    for i, channels in enumerate((2, 2, 1)):
        write_wav(tmp_path / f"in{i}.wav", noise(RATE_HZ, channels, seed=i), RATE_HZ)
    jobs = [
        {"input": str(tmp_path / "in0.wav"), "output": str(tmp_path / "out0.wav"),
         "set": {"Speed": "0.3"}, "at": [["0.25s", "Trigger=1"], ["0.75s", "Trigger=0"]]},
        {"input": str(tmp_path / "in2.wav"), "output": str(tmp_path / "out2.flac"), "plugin": TAPEMOTOR,
         "set": {"Sync": "On", "Stop": "1/16"}, "at": [["0.1s", "note-on=60"]], "tempo": 140, "meter": "6/8",
         "block": 300, "format": "pcm24"},
        {"input": str(tmp_path / "in1.wav"), "output": str(tmp_path / "crashed.wav"), "plugin": faulty("crash")},
        {"input": str(tmp_path / "in1.wav"), "output": str(tmp_path / "odd.wav"), "speed": 3},
    ]
    same_as = {
        0: ["render", tmp_path / "in0.wav", tmp_path / "ref0.wav", "--set", "Speed=0.3", "--at", "0.25s",
            "Trigger=1", "--at", "0.75s", "Trigger=0"],
        1: ["render", tmp_path / "in2.wav", tmp_path / "ref2.flac", "--plugin", TAPEMOTOR, "--set", "Sync=On",
            "--set", "Stop=1/16", "--at", "0.1s", "note-on=60", "--tempo", "140", "--meter", "6/8", "--block",
            "300", "--format", "pcm24"],
    }
    (tmp_path / "jobs.json").write_text(json.dumps(jobs))
    return tmp_path, jobs, same_as


def check_outputs(folder, same_as):
    path, jobs, _ = folder
    for i, arguments in same_as.items():
        tapestop(*arguments)
        np.testing.assert_array_equal(read_wav(jobs[i]["output"])[0], read_wav(arguments[2])[0])
    assert not (path / "crashed.wav").exists() and not (path / "odd.wav").exists()


def statuses(report):
    return [entry["status"] for entry in report["jobs"]]


def test_batch_renders_skips_and_reports(folder):
    path, jobs, same_as = folder
    done = tapestop("batch", path / "jobs.json", "-j", "2", "--report", path / "report.json", check=False)
    assert done.returncode == 1
    assert "4 jobs: 2 rendered, 0 skipped, 2 failed" in done.stdout
    assert "crashed (SIGSEGV)" in done.stderr and "unknown field 'speed'" in done.stderr
    report = json.loads((path / "report.json").read_text())
    assert statuses(report) == ["rendered", "rendered", "failed", "failed"]
    assert (report["rendered"], report["skipped"], report["failed"]) == (2, 0, 2)
    first = report["jobs"][0]
    assert first["frames"] == RATE_HZ and 0 < first["peak"] <= 0.5 and first["seconds"] > 0
    assert first["output"] == jobs[0]["output"] and first["error"] is None
    check_outputs(folder, same_as)

    again = tapestop("batch", "--jobs=2", "--report", path / "report.json", "--", path / "jobs.json", check=False)
    assert "4 jobs: 0 rendered, 2 skipped, 2 failed" in again.stdout
    os.utime(jobs[0]["input"])  # an input newer than its output renders again
    with open(jobs[1]["output"], "r+b") as cut:
        cut.truncate(os.path.getsize(jobs[1]["output"]) // 2)  # so does an output cut short
    assert "2 rendered, 0 skipped" in tapestop("batch", path / "jobs.json", check=False).stdout
    assert "2 rendered, 0 skipped" in tapestop("batch", path / "jobs.json", "--force", check=False).stdout


@pytest.mark.parametrize("arguments, message", [
    (["-j", "0"], "bad job count '0'"),
    (["--jobs", "2.5", "jobs.json"], "bad job count '2.5'"),
    (["--frobnicate"], "unknown option '--frobnicate'"),
    ([], "missing jobs file"),
    (["a.json", "b.json"], "unexpected argument 'b.json'"),
    (["-j", "2", "--jobs", "3", "jobs.json"], "given twice"),
    (["--report", "a.json", "--report", "b.json", "jobs.json"], "option --report is given twice"),
    (["--report"], "option --report needs a value"),
    (["--force=yes", "jobs.json"], "option --force takes no value"),
])
def test_a_batch_command_line_that_cannot_run_says_why(arguments, message):
    done = tapestop("batch", *arguments, check=False)
    assert done.returncode == 2 and message in done.stderr


def test_render_jobs_from_python(folder):
    path, jobs, same_as = folder
    report = tarvo.render_jobs(jobs, workers=2)
    assert statuses(report) == ["rendered", "rendered", "failed", "failed"]
    assert "crashed (SIGSEGV)" in report["jobs"][2]["error"]
    check_outputs(folder, same_as)
    assert statuses(tarvo.render_jobs(jobs[:2])) == ["skipped", "skipped"]
    with pytest.raises(TypeError):
        tarvo.render_jobs("jobs.json")


def test_render_jobs_on_a_dask_cluster_of_two_worker_processes(folder):
    path, jobs, same_as = folder
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) \
            as cluster, distributed.Client(cluster) as client:
        report = tarvo.dask.render_jobs(jobs, client)
        assert len(set(client.run(os.getpid).values()) - {os.getpid()}) == 2
    assert statuses(report) == ["rendered", "rendered", "failed", "failed"]
    assert [entry["job"] for entry in report["jobs"]] == [0, 1, 2, 3]
    check_outputs(folder, same_as)


@pytest.mark.parametrize("change, message", [
    ({"set": ["Speed=0.3"]}, "field 'set' is an object of NAME: VALUE"),
    ({"at": [["1s"]]}, "each entry of 'at' is a pair"),
    ({"at": "1s"}, "field 'at' is a list"),
    ({"tempo": True}, "field 'tempo' takes a text or a number"),
    ({"input": None}, "a job needs an 'input' and an 'output'"),
    ({"block": 0}, "bad block size '0'"),
    ({"format": "wav"}, "unknown sample format 'wav'"),
    ({"set": {"Sped": 0.3}}, "no parameter named 'Sped'"),
    ({"set": {"Speed": 1.5}}, "a bare number is a host value from 0 to 1"),
    ({"at": [["1s", "note-on=128"]]}, "bad note '128'"),
])
def test_a_bad_job_fails_alone_with_the_renderers_message(tmp_path, change, message):
    write_wav(tmp_path / "in.wav", noise(4800), RATE_HZ)
    good = {"input": str(tmp_path / "in.wav"), "output": str(tmp_path / "good.wav")}
    bad = {key: value for key, value in dict(good, output=str(tmp_path / "bad.wav"), **change).items()
           if value is not None}
    report = tarvo.render_jobs([good, bad])
    assert statuses(report) == ["rendered", "failed"]
    assert message in report["jobs"][1]["error"]
    assert not (tmp_path / "bad.wav").exists()


@pytest.mark.parametrize("written, name", [
    ("caf\\u00e9.wav", "café.wav".encode()),
    ("\\ud83c\\udfb5.wav", "🎵".encode() + b".wav"),
    ("x\\udcff.wav", b"x\xff.wav"),  # a byte that is no UTF-8, as tapestop's own JSON writes it
    ("tab\\t\\\"q\\\".wav", b'tab\t"q".wav'),
])
def test_names_in_a_jobs_file_are_read_with_their_escapes(tmp_path, written, name):
    write_wav(tmp_path / "in.wav", noise(480), RATE_HZ)
    (tmp_path / "jobs.json").write_text(f'[{{"input": "{tmp_path}/in.wav", "output": "{tmp_path}/{written}"}}]')
    tapestop("batch", tmp_path / "jobs.json", "--report", tmp_path / "report.json")
    path = os.fsencode(tmp_path) + b"/" + name
    assert os.path.exists(path)
    reported = json.loads((tmp_path / "report.json").read_text())["jobs"][0]["output"]
    assert os.fsencode(reported) == path  # the report names the very file, byte for byte


def refuse(constant):
    raise AssertionError(f"{constant} is no JSON number")


@pytest.mark.parametrize("level, peak_dbfs", [(0.0, None), (0.5, -6.0206), (1.0, 0.0)])
def test_the_report_gives_each_peak_in_dbfs_and_null_for_silence(tmp_path, level, peak_dbfs):
    write_wav(tmp_path / "in.wav", np.full((2, 480), level, np.float32), RATE_HZ)
    jobs = [{"input": str(tmp_path / "in.wav"), "output": str(tmp_path / "out.wav")}]
    (tmp_path / "jobs.json").write_text(json.dumps(jobs))
    tapestop("batch", tmp_path / "jobs.json", "--report", tmp_path / "report.json")
    entry = json.loads((tmp_path / "report.json").read_text(), parse_constant=refuse)["jobs"][0]
    assert entry["peak"] == level  # Trigger off: the input passes unchanged
    assert entry["peak_dbfs"] == (None if peak_dbfs is None else pytest.approx(peak_dbfs, abs=1e-4))


@pytest.mark.parametrize("text, message", [
    ('{"input": "a.wav"}', "a JSON list of objects"),
    ('[{"input": "a.wav",}]', "bad JSON at line 1, column 20"),
    ('[{"input": "a.wav"} {"input": "b.wav"}]', "bad JSON at line 1, column 21: expected ']'"),
    ('[{"input": "a.wav" "output": "b.wav"}]', "bad JSON at line 1, column 20: expected '}'"),
    ('[\n  {"input": "a\\q"}]', "bad JSON at line 2, column 15: unknown escape \\q"),
    ('[{"input": "a.wav"}] x', "unexpected text after the end"),
    ('[{"input": "a.wav', "a string is not closed"),
    ("[" * 70 + "]" * 70, "nested too deeply"),
    ('[{"input" "a.wav"}]', "expected ':'"),
])
def test_a_jobs_file_that_is_no_list_of_jobs_says_why(tmp_path, text, message):
    (tmp_path / "jobs.json").write_text(text)
    done = tapestop("batch", tmp_path / "jobs.json", check=False)
    assert done.returncode == 2 and message in done.stderr


def test_an_interrupted_batch_stops_every_render_and_writes_nothing(tmp_path):
    write_wav(tmp_path / "in.wav", noise(3 * 10000), RATE_HZ)  # the hanging plug-in stops at frame 10,000
    jobs = [{"input": str(tmp_path / "in.wav"), "output": str(tmp_path / f"out{i}.wav"), "plugin": faulty("hang")}
            for i in range(3)]
    (tmp_path / "jobs.json").write_text(json.dumps(jobs))
    batch = subprocess.Popen([COMMAND, "batch", str(tmp_path / "jobs.json"), "-j", "2"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    children = f"/proc/{batch.pid}/task/{batch.pid}/children"
    while batch.poll() is None and len(open(children).read().split()) < 2:
        time.sleep(0.01)  # until both renders have started
    batch.send_signal(signal.SIGINT)
    _, stderr = batch.communicate(timeout=60)
    assert batch.returncode == 128 + signal.SIGINT
    assert "interrupted" in stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wav", "jobs.json"]
