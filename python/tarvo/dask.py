"""Render jobs on a Dask ``distributed`` cluster.

Jobs travel to the workers as plain data (dicts); every worker loads the
plug-ins itself, so no plug-in is ever pickled. Input, output and plug-in
paths must mean the same files on every worker: use absolute paths on a
file system all machines share.

On one machine::

    from dask.distributed import Client, LocalCluster
    client = Client(LocalCluster(n_workers=2, threads_per_worker=1))
    report = tarvo.dask.render_jobs(jobs, client)

On several: start ``dask scheduler`` on one machine, ``dask worker
tcp://SCHEDULER:8786`` on each of the others (each with the tarvo module
installed, ``make install``), and connect with ``Client("tcp://SCHEDULER:8786")``.
"""

import time


def _render_one(job, force):
    # Runs on a worker: one job, in a process of its own there.
    import tarvo
    report = tarvo.render_jobs([job], workers=1, force=force)
    return report["jobs"][0]


def render_jobs(jobs, client, force=False):
    """Map the jobs over the cluster behind ``client`` (a
    ``dask.distributed.Client``) and return the report, as
    :func:`tarvo.render_jobs` returns it, with the jobs in their order."""
    import tarvo
    from .jobs import prepared, summarized
    started = time.monotonic()
    ready = prepared(jobs, tarvo.DEFAULT_PLUGIN)
    futures = client.map(_render_one, ready, force=force, pure=False)
    entries = client.gather(futures)
    return summarized(entries, time.monotonic() - started)
