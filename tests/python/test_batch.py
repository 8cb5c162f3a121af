"""python3 -m plumora.batch on a local Dask cluster against plumora-cli's batch."""

import os
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import plumora
from support import Folder, cli, photo, text_wmf


HERE = os.path.dirname(os.path.abspath(__file__))


def batch(*args):
    """Runs the Dask batch as a user does; returns (exit status, stderr)."""
    done = subprocess.run([sys.executable, "-m", "plumora.batch", *args], capture_output=True, text=True,
                          timeout=600)
    return done.returncode, done.stderr


def files_of(folder):
    files = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    return files


class DaskBatchEqualsTheCommandLinesBatch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Folder()
        cls.inputs = []
        image = photo(200, 150)
        for i, ext in enumerate(("bmp", "png", "jpg", "bmp", "png")):
            name = cls.folder.file(f"photo{i}.{ext}")
            plumora.write(name, image[i * 5:, i * 7:])
            cls.inputs.append(name)
        broken = cls.folder.file("broken.jpg")
        with open(broken, "wb") as f:
            f.write(b"\xff\xd8\xff\xdb cut short")
        cls.inputs.insert(2, broken)
        formula = cls.folder.file("formula.wmf")  # text, drawn by the workers' fonts
        with open(formula, "wb") as f:
            f.write(text_wmf())
        cls.inputs.append(formula)
        cls.recipe = cls.folder.file("look.plumora-recipe")
        plumora.Recipe([("turn", {"direction": "anticlockwise"}), ("resize", {"scale": 0.5}), ("brume", {}),
                        ("color-filter", {"filter": "yellow", "for-current": True})]).save(cls.recipe)
        cls.bad_recipe = cls.folder.file("bad.plumora-recipe")
        with open(cls.bad_recipe, "w") as f:
            f.write('{"plumora-recipe": 1, "steps": [{"effect": "brume", "scope": 3, "scope": 4}]}')

    @classmethod
    def tearDownClass(cls):
        cls.folder.close()

    def test_same_files_byte_for_byte_and_the_failing_file_reported(self):
        # Brume: each file starts from the state the program starts with,
        # whichever worker takes it and whatever it took before.
        # The quality reaches the workers too, and lossless; a recipe's files
        # are plumora-cli's too.
        for effect, options in (("brume", ["--format", "png"]), ("dozadir", ["--direction", "vertical"]),
                                ("pen-sketch", ["--format", "jpg", "--quality", "40"]),
                                ("emboss", ["--format", "webp", "--lossless"]),
                                ("recipe", [self.recipe, "--format", "jpg", "--quality", "60"])):
            with self.subTest(effect=effect):
                by_cli = self.folder.file(effect + "-cli")
                by_dask = self.folder.file(effect + "-dask")
                status, err = cli(effect, *options, *self.inputs, "--output-dir", by_cli)
                self.assertEqual(status, 1, err)
                status, err = batch(effect, *options, *self.inputs, "--output-dir", by_dask, "--workers", "2")
                self.assertEqual(status, 1, err)
                # One line, for the file that failed: no noise from Dask
                # about futures, timeouts or workers on the way out.
                failures = err.splitlines()
                self.assertEqual(len(failures), 1, err)
                self.assertTrue(failures[0].startswith("plumora.batch: "), err)
                self.assertIn("broken.jpg", failures[0])
                written = files_of(by_dask)
                self.assertEqual(len(written), len(self.inputs) - 1)
                self.assertEqual(written, files_of(by_cli))

    def test_strip_and_keep_location_reach_the_workers(self):
        # A worker's file, without the cluster: the plan's choices go with
        # it and give plumora-cli's bytes.
        from plumora import batch as dask_batch

        camera = os.path.join(HERE, "..", "data", "photos", "camera.jpg")
        for options in ([], ["--strip"], ["--keep-location"]):
            with self.subTest(options=options):
                out = self.folder.file("meta" + "".join(options))
                plan = dask_batch.parse(["convert", camera, "--output-dir", out, *options])
                self.assertEqual((plan.strip, plan.keep_location), ("--strip" in options, "--keep-location" in options))
                os.makedirs(out)
                self.assertIsNone(dask_batch.process(plan.effect, plan.given, plan.inputs[0], plan.outputs[0],
                                                     plan.quality, plan.lossless, plan.strip, plan.keep_location))
                status, err = cli("convert", *options, camera, self.folder.file("cli.jpg"))
                self.assertEqual(status, 0, err)
                with open(self.folder.file("cli.jpg"), "rb") as f:
                    self.assertEqual(files_of(out)["camera.jpg"], f.read())

    def test_the_command_line_is_checked_before_any_work(self):
        out = self.folder.file("never")
        for args, message in (
            (["pen-sketch", "--pressure", "300", *self.inputs, "--output-dir", out], "out of range"),
            (["pen-sketch", "--color", "1", *self.inputs, "--output-dir", out], "has no parameter --color"),
            (["crayon", *self.inputs, "--output-dir", out], "unknown effect"),
            (["pen-sketch", *self.inputs], "--output-dir"),
            (["pen-sketch", *self.inputs, "--output-dir", out, "--format", "gif"], "--format takes"),
            (["pen-sketch", self.inputs[0], self.inputs[0], "--output-dir", out], "both be written"),
            (["pen-sketch", self.inputs[0], "--output-dir", self.folder.path], "would write over the input"),
            (["pen-sketch", self.folder.file("a.gif"), "--output-dir", out], "the output must end in"),
            (["pen-sketch", *self.inputs, "--output-dir", out, "--workers", "0"], "--workers takes"),
            (["pen-sketch", *self.inputs, "--output-dir", out, "--format", "png", "--quality", "50"],
             "--quality goes with JPEG and WebP outputs"),
            (["recipe", self.bad_recipe, *self.inputs, "--output-dir", out],
             self.bad_recipe + ": Step 1: the key 'scope' is written twice."),
            (["recipe", "--json", "{}", *self.inputs, "--output-dir", out], "--json: This is not a Plumora recipe"),
        ):
            with self.subTest(args=args[:3]):
                status, err = batch(*args)
                self.assertEqual(status, 2, err)
                self.assertIn(message, err)
        self.assertFalse(os.path.exists(out))

    def test_an_unreachable_scheduler_is_a_failure_not_a_hang(self):
        out = self.folder.file("none")
        status, err = batch("convert", self.inputs[0], "--output-dir", out, "--scheduler", "tcp://127.0.0.1:9")
        self.assertEqual(status, 1, err)
        self.assertIn("scheduler", err)
        self.assertNotIn("Traceback", err)
        self.assertFalse(os.path.exists(out))  # nothing made for a batch that could not run

    def test_scheduler_and_tls_options_are_checked(self):
        out = self.folder.file("never")
        for args, message in (
            (["--scheduler", ""], "--scheduler needs a scheduler's address"),
            (["--scheduler", " "], "--scheduler needs a scheduler's address"),
            (["--tls-ca-file", self.inputs[0]], "--tls-ca-file goes with --scheduler"),
            (["--scheduler", "tls://127.0.0.1:9", "--tls-cert", self.folder.file("none.pem")], "no such file"),
            (["--scheduler", "tls://127.0.0.1:9", "--workers", "2"], "--workers is for the local cluster"),
        ):
            with self.subTest(args=args):
                status, err = batch("convert", self.inputs[0], "--output-dir", out, *args)
                self.assertEqual(status, 2, err)
                self.assertIn(message, err)
        self.assertFalse(os.path.exists(out))
        done = subprocess.run([sys.executable, "-m", "plumora.batch", "--help"], capture_output=True, text=True)
        self.assertIn("use only a Dask cluster you trust", done.stdout)
        self.assertIn("--skip-existing", done.stdout)


class WhatAWorkerCannotSee(unittest.TestCase):
    def test_a_file_or_folder_a_worker_cannot_see_is_said_so(self):
        import socket as names

        from plumora import batch as dask_batch

        folder = Folder()
        self.addCleanup(folder.close)
        here = folder.file("here.png")
        plumora.write(here, photo(20, 10))
        plan = dask_batch.parse(["convert", here, folder.file("gone.png"), "--output-dir", folder.file("out")])
        host = names.gethostname()
        # As a worker on another machine sees it: neither the input nor the
        # output folder there.
        self.assertEqual(dask_batch.process("convert", [], folder.file("elsewhere.png"), plan.outputs[0]),
                         ("unseen", "input", host))
        self.assertEqual(dask_batch.process("convert", [], here, plan.outputs[0]), ("unseen", "folder", host))
        line = dask_batch._line(plan, 0, ("unseen", "input", "far"))
        self.assertEqual(line, f"{here}: the worker on far cannot see this file: every worker must see the files "
                               "under the same names (a shared file system)")
        self.assertEqual(dask_batch._line(plan, 1, ("unseen", "input", "far")), folder.file("gone.png") +
                         ": no such file")  # seen by no one: plumora-cli's own words
        self.assertIn(f"{folder.file('out')}: the worker on far cannot see the output folder",
                      dask_batch._line(plan, 0, ("unseen", "folder", "far")))


def listening_sockets(pid):
    """The TCP sockets that the process pid and its descendants listen on, as
    (address, port): read from /proc, as ss would."""
    pids, children = {pid}, {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(parent, []).append(int(entry))
    todo = [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            pids.add(child)
            todo.append(child)
    inodes = set()
    for p in pids:
        try:
            for fd in os.listdir(f"/proc/{p}/fd"):
                target = os.readlink(f"/proc/{p}/fd/{fd}")
                if target.startswith("socket:["):
                    inodes.add(target[8:-1])
        except OSError:
            continue
    found = []
    for table in ("tcp", "tcp6"):
        with open(f"/proc/net/{table}") as f:
            for line in f.readlines()[1:]:
                fields = line.split()
                if fields[3] == "0A" and fields[9] in inodes:  # LISTEN
                    address, port = fields[1].split(":")
                    raw = bytes.fromhex(address)
                    if table == "tcp":
                        host = socket.inet_ntop(socket.AF_INET, raw[::-1])
                    else:
                        host = socket.inet_ntop(socket.AF_INET6, b"".join(raw[i:i + 4][::-1] for i in range(0, 16, 4)))
                    found.append((host, int(port, 16)))
    return found


def answers_without_the_runs_certificate(port):
    """What the port says to a stranger: an HTTP request in the clear, then a
    TLS client without the run's certificate sending a byte. Returns the
    first reply, or None when nothing but refusal came back."""
    import ssl

    with socket.create_connection(("127.0.0.1", port)) as plain:
        plain.sendall(b"GET /json/identity.json HTTP/1.0\r\n\r\n")
        plain.settimeout(30)
        try:
            reply = plain.recv(64)
        except (ConnectionError, socket.timeout):
            reply = b""
        if reply.startswith(b"HTTP/"):
            return reply
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    try:
        with context.wrap_socket(socket.create_connection(("127.0.0.1", port))) as tls:
            tls.settimeout(30)
            tls.sendall(b"\0")
            return tls.recv(64) or None
    except (ssl.SSLError, ConnectionError):
        return None


def wait_for(condition, what):
    """Polls condition until true; the bound on the count only keeps a broken
    batch from hanging the suite."""
    for _ in range(6000):
        if condition():
            return
        time.sleep(0.05)
    raise AssertionError("never happened: " + what)


class PrivateLocalCluster(unittest.TestCase):
    """The local cluster is the user's alone, says one line when interrupted,
    and a rerun with --skip-existing does only the rest."""

    def test_nothing_listens_for_strangers_and_ctrl_c_is_one_line(self):
        folder = Folder()
        self.addCleanup(folder.close)
        gate, out = folder.file("gate"), folder.file("out")
        os.mkdir(gate)
        image = photo(120, 90)
        inputs = []
        for i in range(8):
            name = folder.file(f"{'hold' if i in (3, 6) else 'photo'}{i}.png")
            plumora.write(name, image[i:, i:])
            inputs.append(name)
        env = dict(os.environ, PLUMORA_TEST_GATE=gate, PLUMORA_TEST_HOLD="hold",
                   DASK_DISTRIBUTED__WORKER__PRELOAD=repr([os.path.join(HERE, "gate_preload.py")]))
        args = [sys.executable, "-m", "plumora.batch", "pen-sketch", *inputs, "--output-dir", out, "--workers", "2"]
        child = subprocess.Popen(args, env=env, stderr=subprocess.PIPE, text=True, start_new_session=True)
        self.addCleanup(lambda: child.poll() is not None or child.kill())
        wait_for(lambda: os.path.exists(os.path.join(gate, "started")), "a worker took a held file")
        wait_for(lambda: len([n for n in os.listdir(gate) if n.startswith("worker-")]) == 2, "two workers")

        listening = listening_sockets(child.pid)
        self.assertGreaterEqual(len(listening), 3)  # the scheduler and the two workers at least
        for host, port in listening:
            with self.subTest(port=port):
                self.assertEqual(host, "127.0.0.1")
                self.assertIsNone(answers_without_the_runs_certificate(port))
        directories = []
        for name in os.listdir(gate):
            if name.startswith("worker-"):
                with open(os.path.join(gate, name)) as f:
                    directories.append(f.read())
        for directory in directories:  # each under a folder of this run's own, not the shared fixed one
            self.assertTrue(os.path.isdir(directory))
            tmp = tempfile.gettempdir()
            top = os.path.join(tmp, os.path.relpath(directory, tmp).split(os.sep)[0])
            self.assertNotEqual(top, os.path.join(tempfile.gettempdir(), "dask-worker-space"))
            self.assertEqual(os.stat(top).st_mode & 0o077, 0, top)

        # Ctrl+C in a terminal reaches every process of the batch.
        os.killpg(child.pid, signal.SIGINT)
        open(os.path.join(gate, "stop"), "w").close()
        err = child.stderr.read()
        child.stderr.close()
        self.assertEqual(child.wait(), 130, err)
        lines = err.splitlines()
        self.assertEqual(len(lines), 1, err)
        written = len(os.listdir(out))
        self.assertEqual(lines[0], f"plumora.batch: interrupted: {written} of {len(inputs)} files written; run "
                                   "again with --skip-existing to do the rest")
        for directory in directories:  # the workers' own folders go with them
            self.assertFalse(os.path.exists(directory), directory)

        # The rerun leaves what is there as it is and does the rest.
        before = {n: os.stat(os.path.join(out, n)).st_ino for n in os.listdir(out)}
        status, err = batch("pen-sketch", *inputs, "--output-dir", out, "--workers", "1", "--skip-existing")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual({n: os.stat(os.path.join(out, n)).st_ino for n in before}, before)
        by_cli = folder.file("cli")
        self.assertEqual(cli("pen-sketch", *inputs, "--output-dir", by_cli), (0, ""))
        self.assertEqual(files_of(out), files_of(by_cli))


class SeparateCluster:
    """A Dask scheduler and workers started as a user starts them, with TLS
    certificates of their own, each worker in a folder of its own."""

    def __init__(self, test, folder):
        from distributed import Security

        self.test, self.folder = test, folder
        security = Security.temporary()
        self.tls = {"--tls-ca-file": folder.file("ca.pem"), "--tls-cert": folder.file("cert.pem"),
                    "--tls-key": folder.file("key.pem")}
        for key, text in (("--tls-ca-file", security.tls_ca_file), ("--tls-cert", security.tls_client_cert),
                          ("--tls-key", security.tls_client_key)):
            with open(self.tls[key], "w") as f:
                f.write(text)
        self.tls_args = [word for pair in self.tls.items() for word in pair]
        self.scheduler_log = folder.file("scheduler.log")
        self.scheduler = self._start(["distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
                                      "--protocol", "tls", "--no-dashboard", "--scheduler-file",
                                      folder.file("scheduler.json")], self.scheduler_log, folder.path)
        wait_for(lambda: os.path.exists(folder.file("scheduler.json")), "the scheduler started")
        wait_for(lambda: self._read_address(), "the scheduler wrote its address")
        self.workers = 0

    def _read_address(self):
        import json

        try:
            with open(self.folder.file("scheduler.json")) as f:
                self.address = json.load(f)["address"]
            return True
        except (OSError, ValueError, KeyError):
            return False

    def _start(self, args, log, cwd, env=None):
        with open(log, "w") as out:
            process = subprocess.Popen([sys.executable, "-m", *args, *self.tls_args], stdout=out, stderr=out,
                                       cwd=cwd, env=env)
        self.test.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        return process

    def start_worker(self, gate=None, hold=""):
        """A worker in a folder of its own; with gate, it holds the files
        whose names start with hold (see gate_preload)."""
        self.workers += 1
        where = self.folder.file(f"worker{self.workers}")
        os.mkdir(where)
        args = ["distributed.cli.dask_worker", self.address, "--nthreads", "1", "--no-nanny", "--no-dashboard",
                "--local-directory", where]
        env = dict(os.environ)
        if gate:
            args += ["--preload", os.path.join(HERE, "gate_preload.py")]
            env.update(PLUMORA_TEST_GATE=gate, PLUMORA_TEST_HOLD=hold)
        worker = self._start(args, self.folder.file(f"worker{self.workers}.log"), where, env)
        known = self._registered()
        wait_for(lambda: self._registered() > known, "the worker registered")
        return worker

    def _registered(self):
        with open(self.scheduler_log) as f:
            return f.read().count("Register worker")


class BatchOnASeparateCluster(unittest.TestCase):
    def setUp(self):
        self.folder = Folder()
        self.addCleanup(self.folder.close)
        self.gate = self.folder.file("gate")
        os.makedirs(self.folder.file("work/in"))
        os.mkdir(self.gate)
        image = photo(120, 90)
        self.names = []
        for i in range(10):
            name = f"in/photo{i}.png"
            plumora.write(self.folder.file("work/" + name), image[i:, 2 * i:])
            self.names.append(name)

    def run_batch(self, cluster, *args):
        """The batch as a user runs it from the folder of the inputs, with
        relative names; returns the running process."""
        command = [sys.executable, "-m", "plumora.batch", "pen-sketch", *self.names, *args, "--output-dir", "out",
                   "--scheduler", cluster.address, *cluster.tls_args]
        child = subprocess.Popen(command, cwd=self.folder.file("work"), stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: child.poll() is not None or child.kill())
        return child

    def finish(self, child):
        err = child.stderr.read()
        child.stderr.close()
        return child.wait(), err

    def test_relative_names_and_a_worker_killed_mid_run_still_give_every_file(self):
        cluster = SeparateCluster(self, self.folder)
        cluster.start_worker()
        held = cluster.start_worker(gate=self.gate)
        child = self.run_batch(cluster)
        wait_for(lambda: os.path.exists(os.path.join(self.gate, "started")), "the held worker took a file")
        held.kill()
        status, err = self.finish(child)
        self.assertEqual((status, err), (0, ""))
        by_cli = self.folder.file("cli")
        self.assertEqual(cli("pen-sketch", *[self.folder.file("work/" + n) for n in self.names], "--output-dir",
                             by_cli), (0, ""))
        self.assertEqual(files_of(self.folder.file("work/out")), files_of(by_cli))  # nothing else left there

    def test_a_lost_scheduler_is_one_line_and_files_written_are_not_reported(self):
        plumora.write(self.folder.file("work/in/zz-last.png"), photo(40, 30))
        with open(self.folder.file("work/in/broken.jpg"), "wb") as f:
            f.write(b"\xff\xd8\xff\xdb cut short")
        self.names += ["in/broken.jpg", "in/zz-last.png"]
        cluster = SeparateCluster(self, self.folder)
        cluster.start_worker(gate=self.gate, hold="zz-")  # one thread: the files in turn, the last one held
        child = self.run_batch(cluster, "--format", "png")
        wait_for(lambda: os.path.exists(os.path.join(self.gate, "started")), "the worker reached the last file")
        cluster.scheduler.kill()
        status, err = self.finish(child)
        self.assertEqual(status, 1, err)
        lines = err.splitlines()
        self.assertNotIn("Traceback", err)
        written = len(os.listdir(self.folder.file("work/out")))
        self.assertGreater(written, 0)
        reported = lines[:-1]  # the files that failed, each on its line: the broken one at most
        for line in reported:
            self.assertTrue(line.startswith("plumora.batch: " + self.folder.file("work/in/broken.jpg") + ": "), err)
        self.assertLessEqual(len(reported), 1, err)
        missing = len(self.names) - written - len(reported)
        self.assertEqual(lines[-1], f"plumora.batch: lost the Dask scheduler {cluster.address}: {missing} of "
                                    f"{len(self.names)} files not written; run again with --skip-existing to do "
                                    "only those")


if __name__ == "__main__":
    unittest.main()
