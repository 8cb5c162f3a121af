"""The Dask cluster that python3 -m plumora.batch starts on this machine.

Only the user who starts it may use it: its scheduler, nannies and workers
listen on 127.0.0.1 alone and speak TLS with a certificate made for the run,
which every member must show (any local user can reach the loopback
interface, and a Dask scheduler runs whatever functions its clients send).
There is no HTTP server at all: Dask 2022.12 starts one on every scheduler
and worker even without a dashboard, on every interface for the workers,
and its /json/identity.json tells anyone the scheduler's address.
"""

import logging

from distributed import Nanny, Scheduler, Security, SpecCluster, Worker


class _WithoutHttpServer:
    def start_http_server(self, *args, **kwargs):
        # Nothing of Dask's needs it here: the dashboard is off, and the
        # cluster is watched through the client alone.
        self.http_server = None


class PrivateScheduler(_WithoutHttpServer, Scheduler):
    pass


class PrivateWorker(_WithoutHttpServer, Worker):
    pass


def start(workers, directory):
    """A cluster of `workers` processes of one thread each, with their
    files under `directory` (the caller's own, removed after the run);
    returns (cluster, security) for the client."""
    security = Security.temporary()
    common = {"host": "127.0.0.1", "protocol": "tls", "security": security}
    scheduler = {"cls": PrivateScheduler, "options": {**common, "port": 0, "dashboard": False}}
    worker = {
        "cls": Nanny,
        "options": {
            **common,
            "nthreads": 1,  # each file on one core, files side by side
            "worker_class": PrivateWorker,
            "local_directory": directory,
            "dashboard": False,
            "silence_logs": logging.CRITICAL,  # what goes wrong is said by plumora.batch, once
        },
    }
    cluster = SpecCluster(scheduler=scheduler, workers={i: worker for i in range(workers)}, security=security,
                          silence_logs=logging.CRITICAL, name="plumora.batch")
    return cluster, security
