"""Render jobs as plain data: checked and completed before they travel."""

import collections.abc
import os


def prepared(jobs, default_plugin):
    """The jobs as JSON-ready dicts, with the default plug-in filled in.

    Paths may be str or os.PathLike. Raises TypeError for jobs that are not
    a list of dicts; each job's fields are checked by the renderer, and a bad
    job fails alone.
    """
    if isinstance(jobs, (str, bytes)) or not isinstance(jobs, collections.abc.Iterable):
        raise TypeError("jobs are a list of dicts, one per render")
    ready = []
    for number, job in enumerate(jobs):
        if not isinstance(job, collections.abc.Mapping):
            raise TypeError(f"job {number} is a dict, not {type(job).__name__}")
        job = {key: os.fspath(value) if isinstance(value, os.PathLike) else value for key, value in job.items()}
        job.setdefault("plugin", default_plugin)
        ready.append(job)
    return ready


def summarized(entries, seconds):
    """A report of entries gathered from several places, in the jobs' order."""
    report = {"jobs": [], "rendered": 0, "skipped": 0, "failed": 0, "seconds": seconds}
    for number, entry in enumerate(entries):
        entry = dict(entry, job=number)
        report["jobs"].append(entry)
        report[entry["status"]] += 1
    return report
