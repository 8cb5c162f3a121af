"""A Dask worker preload for the batch tests: it holds a worker on a file so
that a test can act mid-batch (interrupt it, kill a worker, kill the
scheduler) at a known point instead of racing the clock.

PLUMORA_TEST_GATE names a folder. Each worker writes worker-PID there with
its local directory. A file whose name starts with PLUMORA_TEST_HOLD (every
file when that is empty) is held: "started" is written, and the worker's
thread waits until "stop" appears, then reports the file as failed without
writing it.
"""

import os
import time


def dask_setup(worker):
    import plumora._plumora as native

    gate = os.environ["PLUMORA_TEST_GATE"]
    hold = os.environ.get("PLUMORA_TEST_HOLD", "")
    with open(os.path.join(gate, f"worker-{os.getpid()}"), "w") as f:
        f.write(worker.local_directory)
    process_file = native.process_file

    def held(effect, given, path, output, **how):  # serial, quality, lossless: passed on as given
        if os.path.basename(path).startswith(hold):
            with open(os.path.join(gate, "started"), "a") as f:
                f.write(path + "\n")
            while not os.path.exists(os.path.join(gate, "stop")):
                time.sleep(0.05)
            return f"{path}: held by the test"
        return process_file(effect, given, path, output, **how)

    native.process_file = held
