"""plumora-cli's batch on a Dask cluster.

    python3 -m plumora.batch EFFECT [--PARAM VALUE | --FLAG]... INPUT... --output-dir DIR
                             [--format bmp|jpg|jpeg|wmf|png] [--overwrite]
                             [--scheduler ADDRESS] [--workers N]

The same options and the same files as plumora-cli's batch, byte for byte:
every INPUT is written into DIR under its own name (with --format, under the
new extension), each file on its own from the state the program starts
with. Without --scheduler a Dask cluster of --workers processes (the number
of cores by default) starts on this machine, on the loopback interface only;
with one, the files go to that running cluster, whose workers read the inputs
and write the outputs themselves: every worker must have plumora installed and
see the files under the same names (a shared or network file system).

One line on stderr for each file that fails, the others go on. Exit status
as plumora-cli's: 0 every file written, 1 a file failed (or the cluster
could not be reached), 2 the command line is wrong.
"""

import os
import sys

from . import _plumora

PROGRAM = "plumora.batch"
EXIT_OK, EXIT_FAILURE, EXIT_USAGE = 0, 1, 2

USAGE = (
    "Usage:\n"
    "  python3 -m plumora.batch EFFECT [--PARAM VALUE | --FLAG]... INPUT... --output-dir DIR\n"
    "                           [--format bmp|jpg|wmf|png] [--overwrite] [--scheduler ADDRESS] [--workers N]\n"
    "  python3 -m plumora.batch convert INPUT... --output-dir DIR [...]\n"
    "EFFECT and its parameters as plumora-cli takes them (plumora-cli --list).\n"
)


class UsageError(Exception):
    pass


class Plan:
    """A batch as its command line describes it: plumora-cli's plan (checked
    by plumora-cli's own code) and where it runs."""

    def __init__(self, native, scheduler, workers):
        self.effect = native["effect"]
        self.given = native["given"]  # the effect's options, as plumora-cli takes them
        self.inputs = native["inputs"]
        self.outputs = native["outputs"]
        self.output_dir = native["output_dir"]
        self.scheduler = scheduler
        self.workers = workers


def parse(args):
    """The plan of a batch, or UsageError with plumora-cli's message."""
    rest, scheduler, workers = [], None, None
    i = 0
    while i < len(args):
        arg = args[i]
        if arg == "--":
            rest += args[i:]
            break
        if arg in ("--scheduler", "--workers"):
            if i + 1 >= len(args):
                raise UsageError(f"{arg} needs a value")
            value = args[i + 1]
            i += 2
            if arg == "--scheduler":
                scheduler = value
            elif value.isdigit() and int(value) >= 1:
                workers = int(value)
            else:
                raise UsageError(f"--workers takes a whole number of at least 1, not '{value}'")
            continue
        rest.append(arg)
        i += 1
    try:
        return Plan(_plumora.plan_batch(rest), scheduler, workers)
    except ValueError as e:
        raise UsageError(str(e)) from None


def process(effect, given, path, output):
    """One file on a worker: None when written, else the line that says why not."""
    from plumora import _plumora as native  # a worker imports it from its own installation

    return native.process_file(effect, given, path, output, serial=True)


def _client(plan):
    from dask.distributed import Client, LocalCluster

    if plan.scheduler:
        return Client(plan.scheduler, timeout="30s"), None
    workers = plan.workers or os.cpu_count() or 1
    # One thread a worker process: each file runs on one core, files side
    # by side. Loopback only, and no dashboard: nothing listens outside.
    cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                           dashboard_address=None)
    return Client(cluster), cluster


def run(plan, show_progress=None):
    """Runs the plan; returns the exit status."""
    try:
        os.makedirs(plan.output_dir, exist_ok=True)
    except OSError:
        pass
    if not os.path.isdir(plan.output_dir):
        print(f"{PROGRAM}: {plan.output_dir}: cannot create the output folder", file=sys.stderr)
        return EXIT_FAILURE
    try:
        client, cluster = _client(plan)
    except Exception as e:  # an address Dask cannot parse, a scheduler that does not answer
        where = f"reach the Dask scheduler {plan.scheduler}" if plan.scheduler else "start a local Dask cluster"
        print(f"{PROGRAM}: cannot {where}: {e}", file=sys.stderr)
        return EXIT_FAILURE
    failed = False
    try:
        n = len(plan.inputs)
        futures = client.map(process, [plan.effect] * n, [plan.given] * n, plan.inputs, plan.outputs,
                             pure=False)
        if show_progress is None:
            show_progress = sys.stderr.isatty()
        if show_progress:
            from dask.distributed import progress

            progress(futures)
            print(file=sys.stderr)
        for path, future in zip(plan.inputs, futures):
            try:
                failure = future.result()
            except Exception as e:  # the worker itself failed (lost, or plumora missing there)
                failure = f"{path}: {type(e).__name__}: {e}"
            if failure:
                failed = True
                print(f"{PROGRAM}: {failure}", file=sys.stderr)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()
    return EXIT_FAILURE if failed else EXIT_OK


def main(args=None):
    args = sys.argv[1:] if args is None else args
    if args and args[0] in ("-h", "--help"):
        sys.stdout.write(USAGE)
        return EXIT_OK
    try:
        plan = parse(args)
    except UsageError as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        if not args:
            sys.stderr.write(USAGE)
        return EXIT_USAGE
    return run(plan)


if __name__ == "__main__":
    sys.exit(main())
