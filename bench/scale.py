"""Benchmark: what parallel runs, shards and the framework's own bookkeeping give
and cost, measured side by side in one run on this machine.

1. Page per scenario: the framework's page reuse against a new context and page
   per scenario (``page_reuse.bench_pages``, headless Chromium).
2. Workers: the same generated suite (features of scenarios that render a page
   and click through it) run by ``tarvo-run -j 1`` (plain behave), ``-j 2`` and
   ``-j 4``; wall time and speed-up, and the peak memory of one worker (its
   Python process, Playwright's driver and its browser processes, summed as
   proportional set size so pages they share count once).
3. Shards: the per-feature times of an unloaded one-worker run, planned into N
   slices by ``tarvo-run``'s own planner, give each machine's time (plus the
   measured start-up of a worker) and so the speed-up N machines would reach.
4. Framework cost: 5 features of 100 ``@no_browser`` scenarios, of 1 and of 5
   steps, run by behave alone (no hooks), by behave with empty hooks (what
   behave's own hook calls cost) and with the framework's hooks. The CPU time of
   each feature is taken; the first feature of each run is the warm-up (one-time
   costs, printed apart), the others give the steady cost per scenario and per
   step over behave alone: medians over the repetitions (interleaved, so load on
   the machine hits every variant alike), on behave 1.3 and, when
   ``build/behave-1.2.6`` exists, 1.2.6.

Run from the repository root after ``source scripts/env.sh``:

    .venv/bin/python bench/scale.py [--features 8] [--scenarios 3] [--repeat 5]
                                    [--parts pages,workers,cost]

Not part of the test suite.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path
from types import SimpleNamespace

ROOT = Path(__file__).resolve().parent.parent
PYTHON = sys.executable
TARVO_RUN = str(Path(sys.executable).parent / "tarvo-run")
BEHAVE_126 = ROOT / "build" / "behave-1.2.6"

BEHAVE_INI = """[behave]
capture_hooks = false
capture_stdout = false
capture_stderr = false
capture_log = false
stdout_capture = false
stderr_capture = false
log_capture = false
"""

PAGE_STEPS = '''
from behave import given, when, then

ROWS = "".join("<tr><td>%d</td><td>fila %d</td><td><button id='b%d'>ver</button></td></tr>" % (i, i, i)
               for i in range(300))
HTML = ("<html><body><h1 id='t'>Tabla</h1><input id='q'><table>" + ROWS +
        "</table><script>document.querySelectorAll('button').forEach(b => b.onclick = "
        "() => document.getElementById('t').textContent = b.id)</script></body></html>")

@given("the table page is open")
def open_page(context):
    context.page.set_content(HTML)

@when("I filter by {text}")
def fill(context, text):
    context.page.fill("#q", text)

@when("I open row {n:d}")
def click(context, n):
    context.page.click("#b%d" % n)

@then("the title reads b{n:d}")
def title(context, n):
    assert context.page.inner_text("#t") == "b%d" % n
'''

TIMING_HOOKS = '''
import os, time
_t = {}
def _bf(context, feature):
    _t["a"] = time.process_time()
def _af(context, feature):
    with open(os.environ["BENCH_OUT"], "a") as fh:
        fh.write("%r\\n" % (time.process_time() - _t["a"]))
'''

EMPTY_HOOKS = '''
def before_all(c): pass
def before_scenario(c, s): pass
def before_step(c, s): pass
def after_step(c, s): pass
def after_scenario(c, s): pass
def after_all(c): pass
'''


def _env(workdir, **extra):
    env = dict(os.environ)
    env.update({"HEADLESS": "true", "BROWSER": "chromium", "LOG_LEVEL": "WARNING", "RECORD_VIDEO": "false",
                "GENERATE_AI_REPORT": "false", "GENERATE_AI_ANALYSIS_REPORT": "false", "JIRA_ENABLED": "false",
                "MERIDIO_ENABLED": "false", "TARVO_TM_ENABLED": "false", "SELF_HEALING_ENABLED": "false",
                "RETRY_FAILED_SCENARIOS": "false", "PYTHONIOENCODING": "utf-8",
                "DOWNLOADS_DIR": str(Path(workdir) / "downloads"),
                "BROWSER_DOWNLOADS_DIR": str(Path(workdir) / "downloads")})
    env.update(extra)
    return env


# ---- 1. page reuse ----------------------------------------------------------------

def bench_pages(workdir):
    sys.path.insert(0, str(ROOT / "bench"))
    import page_reuse

    here = os.getcwd()
    os.chdir(workdir)
    saved = dict(os.environ)
    page_reuse._configure_environment(str(workdir))
    try:
        page_reuse.bench_pages(SimpleNamespace(scenarios=40, rounds=4))
    finally:
        os.environ.clear()
        os.environ.update(saved)
        os.chdir(here)


# ---- 2. workers ---------------------------------------------------------------------

def make_page_suite(root, features, scenarios):
    (root / "features" / "steps").mkdir(parents=True)
    (root / "behave.ini").write_text(BEHAVE_INI)
    (root / "features" / "environment.py").write_text("from tarvolab_framework.hooks.hookrelay import *\n")
    (root / "features" / "steps" / "steps.py").write_text(PAGE_STEPS)
    for f in range(features):
        lines = ["Feature: Tabla %d" % f, ""]
        for s in range(scenarios):
            n = (f * 7 + s * 13) % 300
            lines += ["  Scenario: Fila %d" % n, "    Given the table page is open",
                      "    When I filter by fila %d" % n, "    And I open row %d" % n,
                      "    Then the title reads b%d" % n, ""]
        (root / "features" / ("f%02d.feature" % f)).write_text("\n".join(lines))


def _tree(pid, parents):
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(parents.get(p, []))
    return out


def _snapshot():
    parents, rss, cmd = {}, {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            stat = Path("/proc", entry, "stat").read_text(errors="replace")
            status = Path("/proc", entry, "status").read_text(errors="replace")
            cmdline = Path("/proc", entry, "cmdline").read_bytes()
        except OSError:
            continue
        ppid = int(stat.rsplit(")", 1)[1].split()[1])
        parents.setdefault(ppid, []).append(int(entry))
        # Proportional set size: pages shared by the browser's processes counted once.
        try:
            rollup = Path("/proc", entry, "smaps_rollup").read_text(errors="replace")
        except OSError:
            rollup = status
        for line in rollup.splitlines():
            if line.startswith(("Pss:", "VmRSS:")):
                rss[int(entry)] = int(line.split()[1])
                break
        cmd[int(entry)] = cmdline
    return parents, rss, cmd


def timed_run(cmd, cwd, env):
    """Wall seconds of the command, the peak memory (MB) of each worker tree (its
    Python process with the browser and driver it started), in start order, and
    the peak of all of them together."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    peaks = {}
    together = [0.0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            parents, rss, cmdline = _snapshot()
            # Workers are the command's own children (a process forked by a worker
            # keeps the worker's command line until it starts its program).
            roots = [p for p in parents.get(proc.pid, [])
                     if b"tarvolab_framework.parallel.worker" in cmdline.get(p, b"")]
            if not roots:  # plain behave: the command's own process is the worker
                roots = [proc.pid]
            total = 0.0
            for r in roots:
                size = sum(rss.get(p, 0) for p in _tree(r, parents)) / 1024.0
                peaks[r] = max(peaks.get(r, 0.0), size)
                total += size
            together[0] = max(together[0], total)
            done.wait(0.1)

    watcher = threading.Thread(target=sample, daemon=True)
    began = time.perf_counter()
    watcher.start()
    output = proc.communicate()[0].decode("utf-8", "replace")
    elapsed = time.perf_counter() - began
    done.set()
    watcher.join()
    if proc.returncode != 0:
        sys.exit("the run failed (%s):\n%s" % (" ".join(cmd), output[-3000:]))
    if len(peaks) > 1:  # workers ran: the command's own process was only their parent
        peaks.pop(proc.pid, None)
    return elapsed, [peaks[r] for r in sorted(peaks)], together[0]


def bench_workers(workdir, features, scenarios):
    suite = Path(workdir) / "suite"
    make_page_suite(suite, features, scenarios)
    env = _env(workdir)
    base = [TARVO_RUN, "--results-dir", str(Path(workdir) / "results"), "-f", "null", "--no-summary"]
    # Warm-up: disk caches of Chromium and Python, not measured.
    timed_run(base + ["-j", "1", "features/f00.feature"], suite, env)
    shard_time, _, _ = timed_run(base + ["-j", "1", "--shard", "1/1"], suite, env)
    shard = json.loads((Path(workdir) / "results" / "shard-1-of-1" / "partial-results.json").read_text())
    rows = []
    for jobs in (1, 2, 4):
        seconds, peaks, together = timed_run(base + ["-j", str(jobs)], suite, env)
        rows.append((jobs, seconds, peaks, together))
    total = features * scenarios
    print("Trabajadores en esta máquina (%d features x %d escenarios, %d CPU)" % (features, scenarios, os.cpu_count()))
    for jobs, seconds, peaks, together in rows:
        print("  -j %d: %6.2f s  (%5.1f ms/escenario)  speed-up %.2fx" % (jobs, seconds, seconds / total * 1000,
                                                                         rows[0][1] / seconds))
        print("        memoria pico (PSS: Python, driver y navegador de cada trabajador): por trabajador %s MB,"
              " todos juntos %.0f MB" % (", ".join("%.0f" % p for p in peaks), together))
    return shard, shard_time


# ---- 3. shards -------------------------------------------------------------------------

def shard_model(shard, shard_time):
    from tarvolab_framework.core import runwright

    durations = {path: info["duration"] for path, info in shard["features"].items()}
    features = sorted(durations)
    work = sum(durations.values())
    start = max(0.0, shard_time - work)  # command, worker start-up, browser launch, run end
    print("Modelo de shards (tiempos por feature de una ejecución de un trabajador; arranque medido %.2f s)" % start)
    base = None
    for n in (1, 2, 4, 8):
        loads = [sum(durations[f] for f in runwright._shard_slice(features, durations, i, n)) for i in range(1, n + 1)]
        machine = start + max(loads)
        base = base or machine
        print("  %d máquina(s): %6.2f s por ejecución (carga máx. %5.2f s, mín. %5.2f s)  speed-up %.2fx"
              % (n, machine, max(loads), min(loads), base / machine))


# ---- 4. framework cost ---------------------------------------------------------------------

COST_FEATURES = 5
COST_SCENARIOS = 100


def make_cost_suite(root, hooks, steps):
    """hooks: "none" (behave alone), "empty" (behave calling empty hooks) or "framework"."""
    (root / "features" / "steps").mkdir(parents=True)
    (root / "behave.ini").write_text(BEHAVE_INI)
    for f in range(COST_FEATURES):
        lines = ["Feature: Coste %d" % f, ""]
        for i in range(COST_SCENARIOS):
            lines += ["  @no_browser", "  Scenario: S%d" % i] + ["    Given step %d" % j for j in range(steps)] + [""]
        (root / "features" / ("cost%d.feature" % f)).write_text("\n".join(lines))
    (root / "features" / "steps" / "steps.py").write_text(
        "from behave import given\n@given('step {n:d}')\ndef step(context, n):\n    pass\n")
    if hooks == "framework":
        text = ("from tarvolab_framework.hooks.hookrelay import *\n"
                "from tarvolab_framework.hooks import hookrelay as _framework\n" + TIMING_HOOKS +
                "def before_feature(c, f):\n    _bf(c, f)\n    _framework.before_feature(c, f)\n"
                "def after_feature(c, f):\n    _framework.after_feature(c, f)\n    _af(c, f)\n")
    else:
        text = (TIMING_HOOKS + (EMPTY_HOOKS if hooks == "empty" else "") +
                "def before_feature(c, f):\n    _bf(c, f)\ndef after_feature(c, f):\n    _af(c, f)\n")
    (root / "features" / "environment.py").write_text(text)


def _median(values):
    ordered = sorted(values)
    mid = len(ordered) // 2
    return ordered[mid] if len(ordered) % 2 else (ordered[mid - 1] + ordered[mid]) / 2


def bench_cost(workdir, label, pythonpath, repeat=5):
    env = _env(workdir)
    if pythonpath:
        env["PYTHONPATH"] = os.pathsep.join(p for p in (pythonpath, env.get("PYTHONPATH")) if p)
    suites = {}
    for hooks in ("none", "empty", "framework"):
        for steps in (1, 5):
            root = Path(workdir) / ("cost-%s-%s-%d" % (label, hooks, steps))
            make_cost_suite(root, hooks, steps)
            suites[(hooks, steps)] = root
    first = {key: [] for key in suites}
    steady = {key: [] for key in suites}
    for _ in range(repeat):  # interleaved, so machine drift hits every variant alike
        for key, root in suites.items():
            out = root / "seconds.txt"
            if out.exists():
                out.unlink()
            subprocess.run([PYTHON, "-m", "behave", "-f", "null", "--no-summary"], cwd=root,
                           env=dict(env, BENCH_OUT=str(out)), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
            seconds = [float(x) for x in out.read_text().split()] if out.exists() else []
            if len(seconds) != COST_FEATURES:
                sys.exit("the cost run %s did not time its %d features" % (root, COST_FEATURES))
            first[key].append(seconds[0])
            steady[key].extend(seconds[1:])
    med = {key: _median(v) for key, v in steady.items()}

    def per(hooks):
        """(per scenario, per step) of one variant: the 5-step suite minus the 1-step one."""
        step = (med[(hooks, 5)] - med[(hooks, 1)]) / (4 * COST_SCENARIOS)
        return med[(hooks, 1)] / COST_SCENARIOS - step, step

    behave_scenario, behave_step = per("none")
    rows = [("behave con hooks vacíos", per("empty")), ("framework", per("framework"))]
    print("Coste sobre behave %s solo (%d features x %d escenarios @no_browser, CPU por feature, "
          "mediana de %d repeticiones; la primera feature de cada ejecución es el arranque)"
          % (label, COST_FEATURES, COST_SCENARIOS, repeat))
    print("  behave solo:              %6.1f µs/escenario  %6.1f µs/paso" % (behave_scenario * 1e6, behave_step * 1e6))
    for name, (scenario, step) in rows:
        print("  %-25s +%6.1f µs/escenario +%6.1f µs/paso"
              % (name + ":", (scenario - behave_scenario) * 1e6, (step - behave_step) * 1e6))
    print("  objetivo del framework: <= 200 µs/escenario y <= 20 µs/paso (incluye las llamadas de behave a sus hooks)")
    warm = (_median(first[("framework", 1)]) - med[("framework", 1)]) - (_median(first[("none", 1)]) - med[("none", 1)])
    print("  arranque en la primera feature, una vez por ejecución: framework %+.1f ms sobre behave" % (warm * 1e3))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--features", type=int, default=8)
    parser.add_argument("--scenarios", type=int, default=3)
    parser.add_argument("--repeat", type=int, default=5, help="repetitions of the cost runs (medians)")
    parser.add_argument("--parts", default="pages,workers,cost",
                        help="comma-separated parts to run: pages, workers (with the shard model), cost")
    args = parser.parse_args()
    if args.features < 1 or args.scenarios < 1 or args.repeat < 1:
        parser.error("--features, --scenarios and --repeat must be positive")
    parts = {p.strip() for p in args.parts.split(",") if p.strip()}
    unknown = parts - {"pages", "workers", "cost"}
    if unknown or not parts:
        parser.error("--parts: unknown part(s) %s (pages, workers, cost)" % ", ".join(sorted(unknown)) if unknown
                     else "--parts: name at least one part")
    if not os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        print("aviso: TARVO_CHROMIUM_EXECUTABLE no está definido (source scripts/env.sh)", file=sys.stderr)
    workdir = Path(tempfile.mkdtemp(prefix="tarvo-scale-bench-"))
    try:
        if "pages" in parts:
            bench_pages(workdir)
            print()
        if "workers" in parts:
            shard, shard_time = bench_workers(workdir, args.features, args.scenarios)
            print()
            shard_model(shard, shard_time)
            print()
        if "cost" in parts:
            bench_cost(workdir, "1.3", None, args.repeat)
            if BEHAVE_126.is_dir():
                print()
                bench_cost(workdir, "1.2.6", str(BEHAVE_126), args.repeat)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
