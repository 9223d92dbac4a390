"""``tarvo-run``: behave's command line, run by several worker processes.

    tarvo-run [-j N] [--shard I/N] [--results-dir DIR] [behave arguments...]
    tarvo-run --merge DIR [DIR...] [--results-dir DIR]

- ``-j N`` (or ``PARALLEL_WORKERS``, default 4): worker processes, each with its
  own browser. 1 runs plain behave in this process, exactly as ``behave`` does.
- Features are handed out whole (the page is reused within a feature), longest
  first by the durations recorded in ``.tarvo/durations.json``.
- Each feature's output is printed in one piece when the feature ends.
- A feature that runs longer than ``WORKER_TIMEOUT`` seconds (default 300) has its
  worker killed; its scenarios that had not finished are reported failed with
  the reason, and a new worker takes the remaining features.
- The end-of-run retry (``RETRY_FAILED_SCENARIOS``, ``MAX_SCENARIO_RETRIES``) runs
  once, after every worker ended, over all failed scenarios, in one worker.
- The integrations' result files and the reports are written once, from the
  results of every worker; behave's JUnit files stay one per feature.
- ``--shard I/N``: only this machine's slice of the features; writes its results
  to ``DIR/shard-I-of-N/partial-results.json`` (``DIR``: ``--results-dir``,
  default ``tarvo-results``) and no run-end files. ``--merge`` reads the shards'
  folders and writes the run's files as one unsharded run would.
"""

from __future__ import annotations

import json
import os
import queue
import signal
import subprocess
import sys
import threading
import time
from collections import deque
from datetime import datetime, timezone
from pathlib import Path

from tarvolab_framework.core import safe_io, settings

from . import protocol
from .results import RunResults, find_partials, merge, read_durations, update_durations, write_outputs

DEFAULT_RESULTS_DIR = "tarvo-results"
PREFIX = "tarvo-run: "


class UsageError(ValueError):
    pass


def say(text: str) -> None:
    print(PREFIX + text, flush=True)


def now_iso() -> str:
    return datetime.now(timezone.utc).astimezone().isoformat(timespec="seconds")


# -- command line ----------------------------------------------------------------

def parse_args(argv: list[str]) -> tuple[dict, list[str]]:
    """The command's own options, and the arguments left for behave."""
    opts = {"jobs": None, "shard": None, "merge": None, "results_dir": None}
    behave_args: list[str] = []
    i = 0

    def value(name):
        nonlocal i
        if i + 1 >= len(argv):
            raise UsageError("%s needs a value" % name)
        i += 1
        return argv[i]

    while i < len(argv):
        arg = argv[i]
        if arg in ("-j", "--jobs"):
            opts["jobs"] = value(arg)
        elif arg.startswith("--jobs="):
            opts["jobs"] = arg.split("=", 1)[1]
        elif arg.startswith("-j") and len(arg) > 2:
            opts["jobs"] = arg[2:]
        elif arg == "--shard":
            opts["shard"] = value(arg)
        elif arg.startswith("--shard="):
            opts["shard"] = arg.split("=", 1)[1]
        elif arg == "--results-dir":
            opts["results_dir"] = value(arg)
        elif arg.startswith("--results-dir="):
            opts["results_dir"] = arg.split("=", 1)[1]
        elif arg == "--merge":
            opts["merge"] = []
            while i + 1 < len(argv) and not argv[i + 1].startswith("-"):
                i += 1
                opts["merge"].append(argv[i])
            if not opts["merge"]:
                raise UsageError("--merge needs at least one folder of shard results")
        elif arg == "--":
            behave_args.extend(argv[i + 1:])
            break
        else:
            behave_args.append(arg)
        i += 1
    if opts["merge"] is not None and (behave_args or opts["shard"] or opts["jobs"]):
        raise UsageError("--merge takes only folders (and --results-dir), not %s"
                         % " ".join(behave_args or ["--shard/-j"]))
    return opts, behave_args


def load_dotenv_like_the_framework() -> None:
    """The nearest .env from the working directory upwards, over the shell's
    variables, as the framework's run start applies it."""
    try:
        from dotenv import find_dotenv, load_dotenv
    except ImportError:
        return
    path = find_dotenv(usecwd=True)
    if path:
        load_dotenv(path, override=True)


def feature_key(filename: str) -> str:
    path = os.path.relpath(os.path.realpath(filename))
    return path.replace(os.sep, "/")


def discover(behave_args: list[str]):
    """behave's configuration, its features in run order (as keys), and the
    scenario lines selected per feature (None: the whole feature)."""
    from behave.configuration import Configuration
    from behave.runner_util import collect_feature_locations

    config = Configuration(list(behave_args))
    paths = list(getattr(config, "paths", None) or []) or ["features"]
    order: list[str] = []
    selection: dict[str, list[int] | None] = {}
    for location in collect_feature_locations(paths):
        filename = str(getattr(location, "filename", location))
        if config.exclude(filename):
            continue
        key = feature_key(filename)
        line = getattr(location, "line", None)
        if key not in selection:
            order.append(key)
            selection[key] = [] if line else None
        if line and selection[key] is not None:
            selection[key].append(int(line))
        elif not line:
            selection[key] = None
    return config, order, selection


# -- workers ----------------------------------------------------------------------

class Worker:
    def __init__(self, wid: str, proc: subprocess.Popen) -> None:
        self.wid = wid
        self.proc = proc
        self.buffer: list[str] = []
        self.current: tuple[str, list[int] | None] | None = None
        self.started_at = 0.0
        self.done_here: set[str] = set()
        self.ran_any = False
        self.asked = False
        self.kill_reason = ""
        self.ended = False
        self.folder = ""
        self.at_run_end = False  # the worker's after_all started

    def take_output(self) -> str:
        text = "".join(self.buffer)
        self.buffer = []
        return text


def print_block(text: str) -> None:
    if text:
        sys.stdout.write(safe_io.valid_utf8(text))
        if not text.endswith("\n"):
            sys.stdout.write("\n")
        sys.stdout.flush()


def _summary_head() -> str:
    """The first words of the outcome summary block ("📋 RESULTADO FINAL")."""
    try:
        from tarvolab_framework.core import runwright

        for line in runwright._outcome_summary_lines([], False):
            if ":" in line and line.strip("=\n "):
                return line.split(":", 1)[0]
    except (ImportError, AttributeError):
        pass
    return "📋 RESULTADO FINAL"


def fold_run_end(text: str, folder: str) -> str:
    """A worker's run-end output without what the command's one summary replaces.

    Dropped: the worker's outcome summary block (the command prints the run's),
    lines naming the worker's own folder (its partial result files and reports,
    which the command writes again for the whole run), and the rules and blank
    lines around them. Everything else (a failing after_all, a warning) is kept.
    """
    head = _summary_head()
    kept: list[str] = []
    in_summary = False
    for line in text.splitlines():
        bare = line.strip()
        if in_summary:
            if bare and set(bare) <= {"="}:
                in_summary = False
            continue
        if bare.startswith(head):
            in_summary = True
            continue
        if not bare or set(bare) <= {"=", "-"}:
            continue
        if folder and folder in line:
            continue
        kept.append(line)
    return "\n".join(kept) + ("\n" if kept else "")


def kill_group(proc: subprocess.Popen) -> None:
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


class Pool:
    """Runs a queue of features on up to `size` worker processes."""

    def __init__(self, items, size, behave_args, timeout, run_dir: Path, results: RunResults, config,
                 retry=0):
        self.pending = deque(items)
        self.size = size
        self.behave_args = behave_args
        self.timeout = timeout
        self.run_dir = run_dir
        self.results = results
        self.config = config
        self.retry = retry  # the retry attempt this pool runs, 0 for the run itself
        self.events: queue.Queue = queue.Queue()
        self.workers: dict[str, Worker] = {}
        self.started = 0

    # -- processes ------------------------------------------------------------
    def start_worker(self) -> None:
        self.started += 1
        wid = "retry" if self.retry else str(self.started)
        folder = self.run_dir / ("worker-" + wid)
        folder.mkdir(parents=True, exist_ok=True)
        force = {
            "RETRY_FAILED_SCENARIOS": "false",
            "HTML_REPORTS_DIR": str(folder / "html-reports"),
            "GENERATE_AI_REPORT": "false",
        }
        env = dict(os.environ)
        env.update(force)
        env.update({
            "TARVO_WORKER_ID": wid,
            "TARVO_WORKER_DIR": str(folder),
            "TARVO_WORKER_FORCE_JSON": json.dumps(force),
            "PYTHONIOENCODING": "utf-8",
            "PYTHONUNBUFFERED": "1",
        })
        proc = subprocess.Popen(
            [sys.executable, "-m", "tarvolab_framework.parallel.worker", *self.behave_args],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
            start_new_session=True)
        worker = Worker(wid, proc)
        worker.folder = str(folder)
        self.workers[wid] = worker
        threading.Thread(target=self._read, args=(worker,), daemon=True).start()

    def _read(self, worker: Worker) -> None:
        for line in iter(worker.proc.stdout.readline, b""):
            self.events.put(("line", worker, line))
        worker.proc.stdout.close()
        self.events.put(("eof", worker, worker.proc.wait()))

    def send(self, worker: Worker, text: str) -> None:
        try:
            worker.proc.stdin.write(text.encode("utf-8"))
            worker.proc.stdin.flush()
        except (BrokenPipeError, OSError, ValueError):
            pass  # the worker is gone; its end arrives as an event

    def stop_all(self) -> None:
        for worker in self.workers.values():
            kill_group(worker.proc)

    # -- the loop --------------------------------------------------------------
    def run(self) -> bool:
        """False when the run could not start (the first worker's output says why)."""
        try:
            for _ in range(min(self.size, max(1, len(self.pending)))):
                self.start_worker()
            while any(not w.ended for w in self.workers.values()):
                try:
                    kind, worker, payload = self.events.get(timeout=0.2)
                except queue.Empty:
                    kind = None
                if kind == "line":
                    if not self.on_line(worker, payload):
                        return False
                elif kind == "eof":
                    if not self.on_end(worker, payload):
                        return False
                self.check_timeouts()
            return True
        finally:
            self.stop_all()

    def on_line(self, worker: Worker, line: bytes) -> bool:
        event = protocol.decode(line)
        if event is None:
            worker.buffer.append(line.decode("utf-8", "replace"))
            return True
        kind = event.get("event")
        if kind == "next":
            if not worker.ran_any and not worker.asked:
                self.results.note_outputs(event.get("outputs") or {})
                text = worker.take_output()
                if text.strip():
                    print_block(text)
            worker.asked = True
            self.hand_out(worker)
        elif kind == "scenario":
            record = event.get("record") or {}
            self.results.add_scenario(record, event.get("analysis"), event.get("outcome"), self.retry)
            worker.done_here.add("%s:%s" % (record.get("feature_file"), record.get("line")))
        elif kind == "feature":
            print_block(worker.take_output())
            if worker.current and not self.retry:
                self.results.feature_done(worker.current[0], event.get("duration", 0.0))
            worker.current = None
            worker.done_here = set()
        elif kind == "healing":
            self.results.healing.extend(event.get("entries") or [])
            requests = [dict(r) for r in event.get("requests") or []]
            if self.retry:  # the worker ran them as a plain run; they belong to the retry pass
                for request in requests:
                    request["phase"] = "retry %d" % self.retry
            self.results.heal_requests.extend(requests)
        elif kind == "run_end":
            print_block(worker.take_output())
            worker.at_run_end = True
        elif kind == "aborted" and not worker.ran_any:
            return self.start_failed(worker)
        return True

    def hand_out(self, worker: Worker) -> None:
        if self.pending:
            path, lines = self.pending.popleft()
            worker.current = (path, lines)
            worker.started_at = time.monotonic()
            worker.ran_any = True
            self.send(worker, json.dumps({"path": path, "lines": lines}) + "\n")
        else:
            self.send(worker, "\n")
            try:
                worker.proc.stdin.close()
            except OSError:
                pass

    def on_end(self, worker: Worker, status: int) -> bool:
        worker.ended = True
        kill_group(worker.proc)  # the browser and driver of a killed worker
        if not worker.asked and not worker.kill_reason:
            return self.start_failed(worker, status)
        if worker.current:
            path, lines = worker.current
            reason = worker.kill_reason or (
                "the worker process ended during the feature (exit status %s)" % status)
            print_block(worker.take_output())
            say("%s: %s" % (path, reason))
            self.fail_unfinished(path, lines, worker.done_here, reason)
            if not self.retry:
                self.results.feature_done(path, time.monotonic() - worker.started_at, "killed", reason)
            worker.current = None
        text = worker.take_output()
        if worker.at_run_end:
            text = fold_run_end(text, worker.folder)
        if text.strip():
            say("worker %s, end of its run:" % worker.wid)
            print_block(text)
        if self.pending and sum(1 for w in self.workers.values() if not w.ended) < self.size:
            self.start_worker()
        return True

    def start_failed(self, worker: Worker, status=None) -> bool:
        print_block(worker.take_output())
        say("the run could not start: worker %s ended before running a feature%s"
            % (worker.wid, "" if status is None else " (exit status %s)" % status))
        self.results.start_failed = True
        return False

    def check_timeouts(self) -> None:
        now = time.monotonic()
        for worker in self.workers.values():
            if worker.ended or not worker.current or worker.kill_reason:
                continue
            if now - worker.started_at > self.timeout:
                worker.kill_reason = ("killed after WORKER_TIMEOUT=%ss: the feature did not end in time"
                                      % self.timeout)
                try:
                    worker.proc.kill()
                except ProcessLookupError:
                    pass

    def fail_unfinished(self, path, lines, done, reason) -> None:
        for record, analysis in unfinished_records(path, lines, done, reason, self.config):
            self.results.add_scenario(record, analysis, None, self.retry)


def _tag_check(config, scenario) -> bool:
    tags = list(getattr(scenario, "effective_tags", None) or getattr(scenario, "tags", []) or [])
    for name in ("tag_expression", "tags"):
        expression = getattr(config, name, None)
        if expression is not None and hasattr(expression, "check"):
            try:
                return bool(expression.check(tags))
            except Exception:
                return True
    return True


def unfinished_records(path, lines, done, reason, config):
    """Failed records for the scenarios of a feature that did not finish."""
    from behave.parser import parse_file

    from tarvolab_framework.integrations import _results as r
    from tarvolab_framework.integrations.behave_hooks import test_key_of

    feature = parse_file(path, language=getattr(config, "lang", None))
    if feature is None:
        return []
    moment = r.iso(r.now())
    out = []
    for scenario in feature.walk_scenarios():
        if lines and scenario.line not in lines:
            continue
        if "%s:%s" % (feature.filename, scenario.line) in done or "%s:%s" % (path, scenario.line) in done:
            continue
        if not _tag_check(config, scenario):
            continue
        tags = r.tags_of(scenario)
        record = {
            "name": str(scenario.name), "feature": str(feature.name), "feature_file": str(feature.filename),
            "line": scenario.line, "tags": tags, "status": "failed", "runner_status": "killed",
            "duration": 0.0, "start": moment, "finish": moment,
            "steps": ["%s %s" % (str(s.keyword).strip(), s.name) for s in scenario.steps],
            "failing_step": {"keyword": "", "name": reason, "line": None, "error_message": None},
            "test_key": test_key_of(tags),
        }
        analysis = {"name": str(scenario.name), "feature": str(feature.name), "status": "failed",
                    "tags": [str(t) for t in scenario.tags], "duration": 0.0, "failing_step": None,
                    "error": reason, "soft_assertion_failures": []}
        out.append((record, analysis))
    return out


# -- formatter files ----------------------------------------------------------------

def merge_formatter_outputs(config) -> None:
    """Puts each -o file's per-worker parts together: JSON arrays into one array,
    anything else one part after the other."""
    for opener in getattr(config, "outputs", []) or []:
        name = getattr(opener, "name", None)
        if not name or getattr(opener, "stream", None) is not None:
            continue
        base = Path(name)
        parts = sorted(base.parent.glob(base.name + ".w*"),
                       key=lambda p: (p.suffix == ".wretry", len(p.suffix), p.suffix))
        if not parts:
            continue
        texts = [p.read_text(encoding="utf-8", errors="replace") for p in parts]
        try:
            arrays = [json.loads(t) if t.strip() else [] for t in texts]
            if not all(isinstance(a, list) for a in arrays):
                raise ValueError
            merged = json.dumps([item for a in arrays for item in a], ensure_ascii=False, indent=2) + "\n"
        except ValueError:
            merged = "".join(texts)
        safe_io.atomic_write_text(base, merged)
        for p in parts:
            p.unlink()


# -- the command ----------------------------------------------------------------------

def plan(opts, behave_args):
    from tarvolab_framework.core import runwright

    config, order, selection = discover(behave_args)
    durations = read_durations()
    features = order
    shard = None
    if opts["shard"] is not None:
        shard = runwright._plan_shard(opts["shard"])
        features = runwright._shard_slice(order, durations, shard[0], shard[1])
    else:
        features = runwright._longest_first(order, durations)
    # Settings come checked from the settings table; -j is checked by the planner.
    source, requested = ("-j", opts["jobs"]) if opts["jobs"] is not None else (
        "PARALLEL_WORKERS", str(settings.get("PARALLEL_WORKERS")))
    workers, notes = runwright._plan_workers(source, requested, len(features),
                                             str(settings.get("MAX_BROWSER_INSTANCES")))
    timeout = runwright._parse_worker_timeout(str(settings.get("WORKER_TIMEOUT")))
    items = [(f, selection.get(f)) for f in features]
    return config, order, items, shard, workers, notes, timeout


def retry_pass(results: RunResults, behave_args, timeout, run_dir, config) -> None:
    from tarvolab_framework.core import runwright

    failed = results.failed_locations()
    names = [results.scenarios[loc]["record"]["name"] for loc in failed]

    attempt = [0]

    def run_attempt(indices):
        attempt[0] += 1
        grouped: dict[str, list[int]] = {}
        for i in indices:
            path, _, line = failed[i].rpartition(":")
            grouped.setdefault(path, []).append(int(line))
        pool = Pool(list(grouped.items()), 1, behave_args, timeout, run_dir, results, config, retry=attempt[0])
        pool.run()
        answer = {}
        for i in indices:
            attempts = results.scenarios[failed[i]]["attempts"]
            answer[i] = bool(attempts) and attempts[-1]["attempt"] == attempt[0] and attempts[-1]["passed"]
        return answer

    runwright._batch_retry_pass(names, run_attempt)


def summary_line(results: RunResults, seconds: float) -> str:
    t = results.totals()
    text = "%d feature(s), %d scenario(s): %d passed, %d failed, %d skipped" % (
        len(results.features), t["total"], t["passed"] + t["flaky"],
        t["failed"] + t["passed-with-soft-failures"], t["skipped"])
    extra = []
    if t["flaky"]:
        extra.append("%d passed on retry" % t["flaky"])
    if t["passed-with-soft-failures"]:
        extra.append("%d with failed soft assertions" % t["passed-with-soft-failures"])
    if extra:
        text += " (%s)" % ", ".join(extra)
    return text + " in %.1f s" % seconds


def run(opts, behave_args) -> int:
    load_dotenv_like_the_framework()
    config, order, items, shard, workers, notes, timeout = plan(opts, behave_args)
    for note in notes:
        say(note)
    if workers == 1 and shard is None:
        from behave.__main__ import main as behave_main

        return behave_main(behave_args)

    results_root = Path(opts["results_dir"] or DEFAULT_RESULTS_DIR)
    out_dir = results_root / ("shard-%d-of-%d" % shard) if shard else results_root
    run_dir = out_dir / "workers"
    results = RunResults()
    results.started = now_iso()
    results.shard = list(shard) if shard else None
    results.workers = workers
    results.feature_order = order
    if opts["jobs"] is None and workers > 1:
        pass
    say("%d feature(s) on %d worker(s)%s" % (len(items), workers,
                                            " (shard %d of %d)" % shard if shard else ""))
    began = time.monotonic()
    started_ok = Pool(items, workers, behave_args, timeout, run_dir, results, config).run()
    if started_ok:
        try:
            retry_pass(results, behave_args, timeout, run_dir, config)
        except ValueError as exc:  # a bad MAX_SCENARIO_RETRIES
            say(str(exc))
            results.start_failed = True
    results.finished = now_iso()
    merge_formatter_outputs(config)
    path = results.write(out_dir)
    if not started_ok:
        return 1
    if shard:
        # The shards of one run must all plan with the same durations, so a
        # shard leaves the file alone; the merge records the run's durations.
        say("shard %d of %d: results in %s" % (shard[0], shard[1], path))
    else:
        update_durations(results)
        write_outputs(results)
        for line in results.summary_lines():
            print(line)
    say(summary_line(results, time.monotonic() - began))
    return 1 if results.failed() else 0


def run_merge(opts) -> int:
    parts = [RunResults.read(p) for p in find_partials(opts["merge"])]
    merged, problems = merge(parts)
    for problem in problems:
        say("merge: " + problem)
    out_dir = Path(opts["results_dir"] or DEFAULT_RESULTS_DIR) / "merged"
    merged.write(out_dir)
    update_durations(merged)
    write_outputs(merged)
    for line in merged.summary_lines():
        print(line)
    say("merged %d part(s): %s" % (len(parts), summary_line(merged, 0.0).rsplit(" in ", 1)[0]))
    return 1 if merged.failed() or problems else 0


def main(argv=None) -> int:
    argv = list(sys.argv[1:] if argv is None else argv)
    try:
        opts, behave_args = parse_args(argv)
        if opts["merge"] is not None:
            return run_merge(opts)
        return run(opts, behave_args)
    except ValueError as exc:  # bad settings or arguments: one clear line, nothing run
        print(PREFIX + str(exc), file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
