"""Render jobs as data: `tapestop batch`, tarvo.render_jobs and
tarvo.dask.render_jobs write what `tapestop render` writes."""

import json
import os

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

    again = tapestop("batch", path / "jobs.json", "--report", path / "report.json", check=False)
    assert "4 jobs: 0 rendered, 2 skipped, 2 failed" in again.stdout
    os.utime(jobs[0]["input"])  # an input newer than its output renders again
    with open(jobs[1]["output"], "r+b") as cut:
        cut.truncate(os.path.getsize(jobs[1]["output"]) // 2)  # so does an output cut short
    assert "2 rendered, 0 skipped" in tapestop("batch", path / "jobs.json", check=False).stdout
    assert "2 rendered, 0 skipped" in tapestop("batch", path / "jobs.json", "--force", check=False).stdout


@pytest.mark.parametrize("arguments, message", [
    (["-j", "0"], "bad job count '0'"),
    (["--frobnicate"], "unknown option '--frobnicate'"),
    ([], "missing jobs file"),
])
def test_a_batch_command_line_that_cannot_run_says_why(arguments, message):
    done = tapestop("batch", *arguments, check=False)
    assert done.returncode == 2 and message in done.stderr


@pytest.mark.parametrize("text, message", [
    ('{"input": "a.wav"}', "a JSON list of objects"),
    ('[{"input": "a.wav",}]', "bad JSON at line 1, column 20"),
])
def test_a_jobs_file_that_is_no_list_of_jobs_says_why(tmp_path, text, message):
    (tmp_path / "jobs.json").write_text(text)
    done = tapestop("batch", tmp_path / "jobs.json", check=False)
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
