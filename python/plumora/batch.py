"""plumora-cli's batch on a Dask cluster.

    python3 -m plumora.batch EFFECT [--PARAM VALUE | --FLAG]... INPUT... --output-dir DIR
                             [--format EXT] [--quality N] [--lossless] [--strip] [--keep-location]
                             [--overwrite] [--skip-existing]
                             [--workers N | --scheduler ADDRESS [--tls-ca-file F --tls-cert F --tls-key F]]
    python3 -m plumora.batch recipe FILE.plumora-recipe INPUT... --output-dir DIR [...]

The same options and the same files as plumora-cli's batch, byte for byte:
every INPUT is written into DIR under its own name (with --format, under the
new extension), each file on its own from the state the program starts
with. A recipe (plumora-cli recipe) is read and checked here, once, and sent
to the workers as its text. With --skip-existing the inputs whose outputs are there already are
left out, so a batch cut short can be run again to do only the rest.

Without --scheduler a Dask cluster of --workers processes (the number of
cores by default) starts on this machine for the run: on 127.0.0.1 alone,
with TLS and a certificate made for the run, and no dashboard or other HTTP
server, so no other user can reach it. With --scheduler the files go to
that running cluster, whose workers read the inputs and write the outputs
themselves: every worker must have plumora installed and see the files
under the same names (a shared or network file system); the names are sent
absolute. TLS settings come from --tls-* or from Dask's own configuration.
The workers' results are unpickled here, as Dask does: use only a cluster
you trust.

One line on stderr for each file that fails, the others go on. Exit status
as plumora-cli's: 0 every file written, 1 a file failed (or the cluster
could not be reached or was lost), 2 the command line is wrong; 130 after
Ctrl+C.
"""

import os
import sys

from . import _plumora

PROGRAM = "plumora.batch"
EXIT_OK, EXIT_FAILURE, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130

USAGE = (
    "Usage:\n"
    "  python3 -m plumora.batch EFFECT [--PARAM VALUE | --FLAG]... INPUT... --output-dir DIR\n"
    "                           [--format EXT] [--quality N] [--lossless] [--strip] [--keep-location]\n"
    "                           [--overwrite] [--skip-existing]\n"
    "                           [--workers N]\n"
    "  python3 -m plumora.batch EFFECT ... --scheduler ADDRESS [--tls-ca-file FILE --tls-cert FILE --tls-key FILE]\n"
    "  python3 -m plumora.batch convert INPUT... --output-dir DIR [...]\n"
    "  python3 -m plumora.batch recipe FILE.plumora-recipe INPUT... --output-dir DIR [...]\n"
    "EFFECT and its parameters as plumora-cli takes them (plumora-cli --list).\n"
    "--skip-existing leaves out the inputs whose outputs are there already.\n"
    "Without --scheduler a private cluster of N workers runs on this machine (127.0.0.1, TLS, no dashboard).\n"
    "With it, every worker must see the files under the same names; TLS comes from --tls-* or Dask's\n"
    "configuration. The workers' results are unpickled here: use only a Dask cluster you trust.\n"
)

_VALUED = ("--scheduler", "--workers", "--tls-ca-file", "--tls-cert", "--tls-key")


class UsageError(Exception):
    pass


class Plan:
    """A batch as its command line describes it: plumora-cli's plan (checked
    by plumora-cli's own code) and where it runs. Names are absolute: a
    worker resolves a relative name in its own folder, not the caller's."""

    def __init__(self, native, options):
        self.effect = native["effect"]
        self.given = native["given"]  # the effect's options, as plumora-cli takes them
        self.recipe = native["recipe"]  # "recipe": the recipe's text, checked
        self.inputs = [os.path.abspath(name) for name in native["inputs"]]
        self.outputs = [os.path.abspath(name) for name in native["outputs"]]
        self.output_dir = os.path.abspath(native["output_dir"])
        self.quality = native["quality"]  # --quality, or 90
        self.lossless = native["lossless"]
        self.strip = native["strip"]  # --strip: no colour profile or camera data
        self.keep_location = native["keep_location"]
        self.scheduler = options.get("--scheduler")
        self.workers = options.get("--workers")
        self.tls = {key: options[key] for key in _VALUED[2:] if key in options}


def parse(args):
    """The plan of a batch, or UsageError with plumora-cli's message."""
    rest, options = [], {}
    i = 0
    while i < len(args):
        arg = args[i]
        if arg == "--":
            rest += args[i:]
            break
        if arg in _VALUED:
            if i + 1 >= len(args):
                raise UsageError(f"{arg} needs a value")
            options[arg] = args[i + 1]
            i += 2
            continue
        rest.append(arg)
        i += 1
    if "--scheduler" in options and not options["--scheduler"].strip():
        raise UsageError("--scheduler needs a scheduler's address (without --scheduler a local cluster starts)")
    if "--workers" in options:
        value = options["--workers"]
        if not (value.isdigit() and int(value) >= 1):
            raise UsageError(f"--workers takes a whole number of at least 1, not '{value}'")
        if "--scheduler" in options:
            raise UsageError("--workers is for the local cluster: a --scheduler has the workers it has")
        options["--workers"] = int(value)
    for key in _VALUED[2:]:
        if key in options and "--scheduler" not in options:
            raise UsageError(f"{key} goes with --scheduler (the local cluster makes its own certificates)")
        if key in options and not os.path.isfile(options[key]):
            raise UsageError(f"{key}: {options[key]}: no such file")
    try:
        return Plan(_plumora.plan_batch(rest), options)
    except ValueError as e:
        raise UsageError(str(e)) from None


def process(effect, given, path, output, quality=90, lossless=False, strip=False, keep_location=False, recipe=""):
    """One file on a worker: None when written; ("failed", line) when not;
    ("unseen", what, host) when this worker cannot see the input or the
    output folder at all. effect "recipe": recipe is the recipe's text."""
    import socket

    from plumora import _plumora as native  # a worker imports it from its own installation

    if not os.path.lexists(path):
        return ("unseen", "input", socket.gethostname())
    if not os.path.isdir(os.path.dirname(output)):
        return ("unseen", "folder", socket.gethostname())
    if effect == "recipe":
        failure = native.process_recipe_file(recipe, path, output, serial=True, quality=quality, lossless=lossless,
                                             strip=strip, keep_location=keep_location)
    else:
        failure = native.process_file(effect, given, path, output, serial=True, quality=quality, lossless=lossless,
                                      strip=strip, keep_location=keep_location)
    return None if failure is None else ("failed", failure)


def _security(plan):
    """The TLS settings given for --scheduler; None leaves them to Dask's
    configuration."""
    if not plan.tls:
        return None
    from distributed import Security

    return Security(tls_ca_file=plan.tls.get("--tls-ca-file"), tls_client_cert=plan.tls.get("--tls-cert"),
                    tls_client_key=plan.tls.get("--tls-key"), require_encryption=True)


def _quiet():
    """What goes wrong is said once, in plumora.batch's words: Dask's own
    log lines (reconnections, closing workers) stay out of the user's way."""
    import logging

    import distributed  # noqa: F401 (its import sets up the loggers set here)

    names = [n for n in logging.root.manager.loggerDict if n.split(".")[0] in ("distributed", "asyncio", "tornado")]
    for name in ("distributed", "asyncio", "tornado", *names):
        logger = logging.getLogger(name)
        logger.setLevel(logging.CRITICAL)
        for handler in logger.handlers:
            handler.setLevel(logging.CRITICAL)


def _connect(plan, directory):
    """The client, and the local cluster when there is no --scheduler."""
    from dask.distributed import Client

    if plan.scheduler:
        return Client(plan.scheduler, timeout="30s", security=_security(plan)), None
    import signal

    from . import _cluster

    # The workers ignore Ctrl+C: the terminal sends it to every process of
    # the batch, and closing them is this process's work (a worker stopped
    # mid-file would print its own traceback). An ignored signal stays
    # ignored in the processes started meanwhile.
    # Their logging is set up as they import Dask, from the environment
    # they inherit: quiet too.
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN)
    logging = os.environ.get("DASK_LOGGING__DISTRIBUTED")
    os.environ["DASK_LOGGING__DISTRIBUTED"] = "critical"
    try:
        cluster, security = _cluster.start(plan.workers or os.cpu_count() or 1, directory)
    finally:
        signal.signal(signal.SIGINT, previous)
        if logging is None:
            del os.environ["DASK_LOGGING__DISTRIBUTED"]
        else:
            os.environ["DASK_LOGGING__DISTRIBUTED"] = logging
    try:
        return Client(cluster, security=security), cluster
    except BaseException:
        cluster.close()
        raise


class _Outcome:
    """What became of each file as far as this process knows."""

    def __init__(self, plan):
        self.plan = plan
        self.known = set()  # indexes of files whose result arrived
        self.failed = 0
        self.progress = None
        self.before = {}  # outputs there before the run, by their identity
        for i, name in enumerate(plan.outputs):
            identity = self._identity(name)
            if identity:
                self.before[i] = identity

    @staticmethod
    def _identity(name):
        try:
            info = os.stat(name)
        except OSError:
            return None
        return (info.st_dev, info.st_ino, info.st_mtime_ns, info.st_size)

    def written_now(self, i):
        """Whether file i's output was written during this run: outputs are
        renamed into place whole, so a new identity is a whole new file."""
        identity = self._identity(self.plan.outputs[i])
        return identity is not None and identity != self.before.get(i)

    def unfinished(self):
        """The files whose result never arrived and which are not on the disk."""
        return [i for i in range(len(self.plan.inputs)) if i not in self.known and not self.written_now(i)]

    def report(self, i, line):
        self.failed += 1
        if self.progress:
            self.progress.clear()
        print(f"{PROGRAM}: {line}", file=sys.stderr)
        if self.progress:
            self.progress.draw()


class _Progress:
    """plumora-cli's progress bar on a terminal: one line, redrawn in place."""

    def __init__(self, total):
        self.total, self.done = total, 0
        self.draw()

    def step(self):
        self.done += 1
        self.draw()

    def draw(self):
        filled = self.done * 30 // self.total
        sys.stderr.write(f"\r[{'#' * filled}{' ' * (30 - filled)}] {self.done}/{self.total}")
        sys.stderr.flush()

    def clear(self):
        sys.stderr.write("\r\033[K")
        sys.stderr.flush()


def _line(plan, i, result):
    """The line that says why file i was not written, or None."""
    if result is None:
        return None
    if result[0] == "failed":
        return result[1]
    _, what, host = result
    path = plan.inputs[i]
    if what == "input":
        if not os.path.lexists(path):
            return f"{path}: no such file"
        return (f"{path}: the worker on {host} cannot see this file: every worker must see the files under "
                "the same names (a shared file system)")
    return (f"{plan.output_dir}: the worker on {host} cannot see the output folder: every worker must see "
            "the files under the same names (a shared file system)")


def _gather(plan, client, outcome, show_progress):
    """Waits for every file; returns True when the scheduler was lost."""
    from dask.distributed import as_completed

    n = len(plan.inputs)
    futures = client.map(
        process, [plan.effect] * n, [plan.given] * n, plan.inputs, plan.outputs, [plan.quality] * n,
        [plan.lossless] * n, [plan.strip] * n, [plan.keep_location] * n, [plan.recipe] * n, pure=False
    )
    index = {future.key: i for i, future in enumerate(futures)}
    outcome.progress = _Progress(n) if show_progress else None
    lost = False
    for future in as_completed(futures):
        if outcome.progress:
            outcome.progress.step()
        i = index[future.key]
        if future.status == "cancelled" or client.status != "running":
            lost = True
            break
        try:
            if future.status == "error":
                e = future.exception()
                result = ("failed", f"{plan.inputs[i]}: the Dask workers failed on it: {type(e).__name__}: {e}")
            else:
                result = future.result()
        except Exception:  # the result was on its way when the scheduler went
            if client.status != "running":
                lost = True
                break
            raise
        outcome.known.add(i)
        line = _line(plan, i, result)
        if line:
            outcome.report(i, line)
    if outcome.progress:
        outcome.progress.clear()
    return lost


def run(plan, show_progress=None):
    """Runs the plan; returns the exit status."""
    import shutil
    import signal
    import tempfile

    if not plan.inputs:  # --skip-existing found every output there
        return EXIT_OK
    if show_progress is None:
        show_progress = sys.stderr.isatty()
    _quiet()
    interrupt = signal.getsignal(signal.SIGINT)
    directory = None if plan.scheduler else tempfile.mkdtemp(prefix="plumora-batch-")
    client = cluster = None
    outcome = None
    interrupted = False
    try:
        try:
            client, cluster = _connect(plan, directory)
        except Exception as e:  # an address Dask cannot parse, a scheduler that does not answer
            where = f"reach the Dask scheduler {plan.scheduler}" if plan.scheduler else "start a local Dask cluster"
            print(f"{PROGRAM}: cannot {where}: {e or type(e).__name__}", file=sys.stderr)
            return EXIT_FAILURE
        # Made once the cluster answers: a batch that cannot run leaves
        # nothing behind.
        try:
            os.makedirs(plan.output_dir, exist_ok=True)
        except OSError:
            pass
        if not os.path.isdir(plan.output_dir):
            print(f"{PROGRAM}: {plan.output_dir}: cannot create the output folder", file=sys.stderr)
            return EXIT_FAILURE
        outcome = _Outcome(plan)
        if _gather(plan, client, outcome, show_progress):
            missing = len(outcome.unfinished())
            print(f"{PROGRAM}: lost the Dask scheduler {plan.scheduler or ''}".rstrip() +
                  f": {missing} of {len(plan.inputs)} files not written; run again with --skip-existing to do "
                  "only those", file=sys.stderr)
            return EXIT_FAILURE
        return EXIT_FAILURE if outcome.failed else EXIT_OK
    except KeyboardInterrupt:
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # once is enough: the rest is closing
        interrupted = True
        return EXIT_INTERRUPTED
    finally:
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            if client is not None:
                client.close()
            if cluster is not None:
                cluster.close()
        except Exception:  # a lost scheduler cannot be told goodbye
            pass
        if directory:
            shutil.rmtree(directory, ignore_errors=True)
        if interrupted:
            if outcome is not None and outcome.progress:
                outcome.progress.clear()
            # Counted once the workers are gone: they may finish files
            # until they are told to stop.
            if outcome is None:
                print(f"{PROGRAM}: interrupted before any file was sent", file=sys.stderr)
            else:
                written = len(plan.inputs) - len(outcome.unfinished()) - outcome.failed
                print(f"{PROGRAM}: interrupted: {written} of {len(plan.inputs)} files written; run again with "
                      "--skip-existing to do the rest", file=sys.stderr)
        signal.signal(signal.SIGINT, interrupt)


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
    # The functions the workers run are this module's as the package gives
    # them, plumora.batch.process, never a copy from __main__.
    from plumora.batch import main as package_main

    sys.exit(package_main())
