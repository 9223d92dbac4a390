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
4. Framework cost: 500 ``@no_browser`` scenarios of 1 and of 5 steps, with the
   framework's hooks and with behave alone (no hooks): CPU time per scenario and
   per step over behave, best of 3, on behave 1.3 and, when
   ``build/behave-1.2.6`` exists, 1.2.6.

Run from the repository root after ``source scripts/env.sh``:

    .venv/bin/python bench/scale.py [--features 8] [--scenarios 3]

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
    with open(os.environ["BENCH_OUT"], "w") as fh:
        fh.write(str(time.process_time() - _t["a"]))
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
    """Wall seconds of the command and the peak memory (MB) of its biggest worker tree."""
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    peak = [0.0]
    done = threading.Event()

    def sample():
        while not done.is_set():
            parents, rss, cmdline = _snapshot()
            roots = [p for p in _tree(proc.pid, parents) if b"tarvolab_framework.parallel.worker" in cmdline.get(p, b"")]
            if not roots:  # plain behave: the command's own process is the worker
                roots = [proc.pid]
            for r in roots:
                peak[0] = max(peak[0], sum(rss.get(p, 0) for p in _tree(r, parents)) / 1024.0)
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
    return elapsed, peak[0]


def bench_workers(workdir, features, scenarios):
    suite = Path(workdir) / "suite"
    make_page_suite(suite, features, scenarios)
    env = _env(workdir)
    base = [TARVO_RUN, "--results-dir", str(Path(workdir) / "results"), "-f", "null", "--no-summary"]
    # Warm-up: disk caches of Chromium and Python, not measured.
    timed_run(base + ["-j", "1", "features/f00.feature"], suite, env)
    shard_time, _ = timed_run(base + ["-j", "1", "--shard", "1/1"], suite, env)
    shard = json.loads((Path(workdir) / "results" / "shard-1-of-1" / "partial-results.json").read_text())
    rows = []
    for jobs in (1, 2, 4):
        seconds, peak = timed_run(base + ["-j", str(jobs)], suite, env)
        rows.append((jobs, seconds, peak))
    total = features * scenarios
    print("Trabajadores en esta máquina (%d features x %d escenarios, %d CPU)" % (features, scenarios, os.cpu_count()))
    for jobs, seconds, peak in rows:
        print("  -j %d: %6.2f s  (%5.1f ms/escenario)  speed-up %.2fx  memoria pico por trabajador (PSS) %6.0f MB"
              % (jobs, seconds, seconds / total * 1000, rows[0][1] / seconds, peak))
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

def make_cost_suite(root, with_framework, steps):
    (root / "features" / "steps").mkdir(parents=True)
    (root / "behave.ini").write_text(BEHAVE_INI)
    lines = ["Feature: Coste", ""]
    for i in range(500):
        lines += ["  @no_browser", "  Scenario: S%d" % i] + ["    Given step %d" % j for j in range(steps)] + [""]
    (root / "features" / "cost.feature").write_text("\n".join(lines))
    (root / "features" / "steps" / "steps.py").write_text(
        "from behave import given\n@given('step {n:d}')\ndef step(context, n):\n    pass\n")
    if with_framework:
        hooks = ("from tarvolab_framework.hooks.hookrelay import *\n"
                 "from tarvolab_framework.hooks import hookrelay as _framework\n" + TIMING_HOOKS +
                 "def before_feature(c, f):\n    _bf(c, f)\n    _framework.before_feature(c, f)\n"
                 "def after_feature(c, f):\n    _framework.after_feature(c, f)\n    _af(c, f)\n")
    else:
        hooks = TIMING_HOOKS + "def before_feature(c, f):\n    _bf(c, f)\ndef after_feature(c, f):\n    _af(c, f)\n"
    (root / "features" / "environment.py").write_text(hooks)


def bench_cost(workdir, label, pythonpath):
    env = _env(workdir)
    if pythonpath:
        env["PYTHONPATH"] = os.pathsep.join(p for p in (pythonpath, env.get("PYTHONPATH")) if p)
    suites = {}
    for fw in (False, True):
        for steps in (1, 5):
            root = Path(workdir) / ("cost-%s-%s-%d" % (label, fw, steps))
            make_cost_suite(root, fw, steps)
            suites[(fw, steps)] = root
    best = {}
    for _ in range(3):  # interleaved, so machine drift hits every variant alike
        for key, root in suites.items():
            out = root / "seconds.txt"
            subprocess.run([PYTHON, "-m", "behave", "-f", "null", "--no-summary"], cwd=root,
                           env=dict(env, BENCH_OUT=str(out)), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, check=False)
            seconds = float(out.read_text())
            best[key] = min(best.get(key, seconds), seconds)
    behave_step = (best[(False, 5)] - best[(False, 1)]) / 2000
    behave_scenario = best[(False, 1)] / 500 - behave_step
    fw_step = (best[(True, 5)] - best[(True, 1)]) / 2000 - behave_step
    fw_scenario = (best[(True, 1)] - best[(False, 1)]) / 500 - fw_step
    print("Coste del framework sobre behave %s (500 escenarios @no_browser, CPU, mejor de 3)" % label)
    print("  por escenario: behave %6.1f µs, framework +%6.1f µs (objetivo <= 200 µs)"
          % (behave_scenario * 1e6, fw_scenario * 1e6))
    print("  por paso:      behave %6.1f µs, framework +%6.1f µs (objetivo <= 20 µs)"
          % (behave_step * 1e6, fw_step * 1e6))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--features", type=int, default=8)
    parser.add_argument("--scenarios", type=int, default=3)
    args = parser.parse_args()
    if args.features < 1 or args.scenarios < 1:
        parser.error("--features and --scenarios must be positive")
    if not os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        print("aviso: TARVO_CHROMIUM_EXECUTABLE no está definido (source scripts/env.sh)", file=sys.stderr)
    workdir = Path(tempfile.mkdtemp(prefix="tarvo-scale-bench-"))
    try:
        bench_pages(workdir)
        print()
        shard, shard_time = bench_workers(workdir, args.features, args.scenarios)
        print()
        shard_model(shard, shard_time)
        print()
        bench_cost(workdir, "1.3", None)
        if BEHAVE_126.is_dir():
            bench_cost(workdir, "1.2.6", str(BEHAVE_126))
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
