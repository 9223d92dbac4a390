"""Soak benchmark: memory per scenario over a long behave run.

Three runs of the same page work, one after the other, each in its own process,
against small pages served on 127.0.0.1 by this script:

1. framework: one behave run of N scenarios (2,000 by default) through the
   framework's eight hooks (``from tarvolab_framework.hooks.hookrelay import *``),
   headless Chromium, the page reused from scenario to scenario as the framework
   does;
2. behave alone: the same feature and steps with a project ``environment.py`` that
   launches Playwright itself and hands every scenario the same page (no framework);
3. plain Playwright: a loop of the same N page actions on one page, no behave.

Every scenario (and every loop turn) opens the page, fills a field, clicks a
button and reads the result. Every 100 scenarios each run samples the resident
memory of its Python process and the proportional memory (PSS) of Playwright's
driver (node) and of the browser processes. Growth per scenario is the least-
squares slope of those samples after the first 100 scenarios (warm-up), in KB;
the peak is the largest sample (and the Python process's VmHWM).

Run from the repository root after ``source scripts/env.sh``:

    .venv/bin/python bench/soak.py [--scenarios 2000]

Not part of the test suite (about 5 minutes on 2 idle cores).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SAMPLE_EVERY = 100
WARMUP = 100

PAGE = b"""<!doctype html><html><head><meta charset="utf-8"><title>Soak</title></head><body>
<h1>Formulario</h1><input id="name" name="name"><button id="go" type="button"
onclick="document.getElementById('out').textContent = 'Hola ' + document.getElementById('name').value">Enviar</button>
<p id="out"></p><ul>""" + b"".join(b"<li class='row'>fila %d</li>" % i for i in range(50)) + b"""</ul>
</body></html>"""


class _Handler(BaseHTTPRequestHandler):
    def do_GET(self):  # noqa: N802 - name fixed by the base class
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, format, *args):  # noqa: A002 - signature of the base class
        pass


# ---- memory probe (imported by the child processes) -----------------------------------

PROBE = r'''
"""Memory samples of this process and of its child processes (Playwright's driver
and the browser), written as JSON when the run ends."""
import json
import os

SAMPLE_EVERY = %(every)d
_samples = []
_count = 0


def _status_kb(pid, field):
    try:
        with open("/proc/%%d/status" %% pid) as fh:
            for line in fh:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def _pss_kb(pid):
    try:
        with open("/proc/%%d/smaps_rollup" %% pid) as fh:
            for line in fh:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def _children():
    """pid -> (command name, parent pid) of every process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%%s/stat" %% entry) as fh:
                stat = fh.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1:stat.rindex(")")]
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        table[int(entry)] = (name, ppid)
    return table


def sample():
    table = _children()
    me = os.getpid()
    driver = browser = 0
    frontier = [me]
    while frontier:
        parent = frontier.pop()
        for pid, (name, ppid) in table.items():
            if ppid == parent:
                frontier.append(pid)
                if name.startswith("node"):
                    driver += _pss_kb(pid)
                else:
                    browser += _pss_kb(pid)
    _samples.append({"scenario": _count, "python": _status_kb(me, "VmRSS"),
                     "driver": driver, "browser": browser})


def scenario_done():
    global _count
    _count += 1
    if _count %% SAMPLE_EVERY == 0:
        sample()


def write(path, **extra):
    with open(path, "w") as fh:
        json.dump(dict(samples=_samples, python_hwm=_status_kb(os.getpid(), "VmHWM"),
                       scenarios=_count, **extra), fh)
'''

STEPS = r'''
import os

from behave import then, when


@when("abro el formulario {n:d}")
def step_open(context, n):
    context.page.goto(os.environ["SOAK_URL"] + "?n=%d" % n)


@when('escribo "{text}" y pulso Enviar')
def step_fill(context, text):
    context.page.fill("#name", text)
    context.page.click("#go")


@then('veo "{text}"')
def step_see(context, text):
    assert context.page.text_content("#out") == text
'''

FRAMEWORK_ENVIRONMENT = r'''
import os

import soak_probe
from tarvolab_framework.hooks import hookrelay as _framework
from tarvolab_framework.hooks.hookrelay import *  # noqa: F401,F403 - the framework's eight hooks


def after_scenario(context, scenario):
    _framework.after_scenario(context, scenario)
    soak_probe.scenario_done()


def after_all(context):
    soak_probe.write(os.environ["SOAK_RESULT"])  # before the browser is closed
    _framework.after_all(context)
'''

BEHAVE_ONLY_ENVIRONMENT = r'''
import os

import soak_probe
from playwright.sync_api import sync_playwright


def before_all(context):
    context._soak_playwright = sync_playwright().start()
    options = dict(headless=True)
    if os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        options["executable_path"] = os.environ["TARVO_CHROMIUM_EXECUTABLE"]
    context._soak_browser = context._soak_playwright.chromium.launch(**options)
    context._soak_page = context._soak_browser.new_context().new_page()


def before_scenario(context, scenario):
    context.page = context._soak_page


def after_scenario(context, scenario):
    soak_probe.scenario_done()


def after_all(context):
    soak_probe.write(os.environ["SOAK_RESULT"])
    context._soak_browser.close()
    context._soak_playwright.stop()
'''

PLAIN_LOOP = r'''
import os
import sys

sys.path.insert(0, os.environ["SOAK_PROBE_DIR"])
import soak_probe
from playwright.sync_api import sync_playwright

with sync_playwright() as playwright:
    options = dict(headless=True)
    if os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        options["executable_path"] = os.environ["TARVO_CHROMIUM_EXECUTABLE"]
    browser = playwright.chromium.launch(**options)
    page = browser.new_context().new_page()
    for n in range(int(os.environ["SOAK_SCENARIOS"])):
        page.goto(os.environ["SOAK_URL"] + "?n=%d" % n)
        text = "usuario %d" % n
        page.fill("#name", text)
        page.click("#go")
        assert page.text_content("#out") == "Hola " + text
        soak_probe.scenario_done()
    soak_probe.write(os.environ["SOAK_RESULT"])
    browser.close()
'''


def feature_text(count):
    scenarios = []
    for n in range(count):
        scenarios.append(textwrap.dedent('''\
              Scenario: Formulario %(n)d
                When abro el formulario %(n)d
                And escribo "usuario %(n)d" y pulso Enviar
                Then veo "Hola usuario %(n)d"
            ''') % {"n": n})
    return "Feature: Soak\n\n" + "\n".join("  " + s.replace("\n", "\n  ").rstrip() + "\n" for s in scenarios)


def make_project(root, environment, count):
    features = os.path.join(root, "features")
    os.makedirs(os.path.join(features, "steps"))
    with open(os.path.join(features, "soak.feature"), "w", encoding="utf-8") as fh:
        fh.write(feature_text(count))
    with open(os.path.join(features, "environment.py"), "w", encoding="utf-8") as fh:
        fh.write(environment)
    with open(os.path.join(features, "steps", "soak_steps.py"), "w", encoding="utf-8") as fh:
        fh.write(STEPS)
    with open(os.path.join(features, "soak_probe.py"), "w", encoding="utf-8") as fh:
        fh.write(PROBE % {"every": SAMPLE_EVERY})
    return root


def child_env(workdir, url, result, count):
    env = {k: v for k, v in os.environ.items()
           if k in ("PATH", "HOME", "LANG", "LC_ALL", "TMPDIR", "PYTHONPATH", "PLAYWRIGHT_BROWSERS_PATH",
                    "TARVO_CHROMIUM_EXECUTABLE")}
    env.update({
        "SOAK_URL": url, "SOAK_RESULT": result, "SOAK_SCENARIOS": str(count),
        "PYTHONPATH": os.pathsep.join(p for p in (os.path.join(workdir, "features"), env.get("PYTHONPATH")) if p),
        "HEADLESS": "true", "BROWSER": "chromium", "LOG_LEVEL": "WARNING", "RECORD_VIDEO": "false",
        "GENERATE_AI_REPORT": "false", "GENERATE_AI_ANALYSIS_REPORT": "false", "JIRA_ENABLED": "false",
        "MERIDIO_ENABLED": "false", "TARVO_TM_ENABLED": "false", "SELF_HEALING_ENABLED": "false",
        "RETRY_FAILED_SCENARIOS": "false", "PYTHONIOENCODING": "utf-8",
    })
    for key in ("VIDEO_DIR", "SCREENSHOTS_DIR", "DOWNLOADS_DIR", "BROWSER_DOWNLOADS_DIR",
                "ALLURE_RESULTS_DIR", "HTML_REPORTS_DIR"):
        env[key] = os.path.join(workdir, key.lower())
    return env


def run_behave(workdir, url, count):
    result = os.path.join(workdir, "memory.json")
    cmd = [sys.executable, "-m", "behave", "--no-color", "-f", "progress", "-o",
           os.path.join(workdir, "progress.txt"), "--no-summary"]
    started = time.monotonic()
    proc = subprocess.run(cmd, cwd=workdir, env=child_env(workdir, url, result, count),
                          capture_output=True, text=True, errors="replace")
    elapsed = time.monotonic() - started
    if proc.returncode != 0 or not os.path.exists(result):
        sys.exit("behave falló en %s (estado %d)\n%s\n%s" % (workdir, proc.returncode,
                                                              proc.stdout[-3000:], proc.stderr[-3000:]))
    return load(result, elapsed)


def run_plain(workdir, url, count):
    os.makedirs(workdir)
    with open(os.path.join(workdir, "soak_probe.py"), "w") as fh:
        fh.write(PROBE % {"every": SAMPLE_EVERY})
    result = os.path.join(workdir, "memory.json")
    env = child_env(workdir, url, result, count)
    env["SOAK_PROBE_DIR"] = workdir
    started = time.monotonic()
    proc = subprocess.run([sys.executable, "-c", PLAIN_LOOP], cwd=workdir, env=env,
                          capture_output=True, text=True, errors="replace")
    elapsed = time.monotonic() - started
    if proc.returncode != 0:
        sys.exit("el bucle de Playwright falló (estado %d)\n%s" % (proc.returncode, proc.stderr[-3000:]))
    return load(result, elapsed)


def slope(points):
    """Least-squares slope of (x, y) points."""
    n = len(points)
    mx = sum(x for x, _ in points) / n
    my = sum(y for _, y in points) / n
    sxx = sum((x - mx) ** 2 for x, _ in points)
    return sum((x - mx) * (y - my) for x, y in points) / sxx if sxx else 0.0


def load(path, elapsed):
    with open(path) as fh:
        data = json.load(fh)
    samples = [s for s in data["samples"] if s["scenario"] >= WARMUP]
    growth = {}
    for part in ("python", "driver", "browser"):
        growth[part] = slope([(s["scenario"], s[part]) for s in samples])
    growth["total"] = sum(growth[p] for p in ("python", "driver", "browser"))
    peak = {part: max(s[part] for s in data["samples"]) for part in ("python", "driver", "browser")}
    return dict(growth=growth, peak=peak, python_hwm=data["python_hwm"], scenarios=data["scenarios"],
                seconds=elapsed)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scenarios", type=int, default=2000)
    args = parser.parse_args()
    if args.scenarios < WARMUP + 3 * SAMPLE_EVERY:
        parser.error("--scenarios must be at least %d" % (WARMUP + 3 * SAMPLE_EVERY))
    if not os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        print("aviso: TARVO_CHROMIUM_EXECUTABLE no está definido (source scripts/env.sh)", file=sys.stderr)

    server = ThreadingHTTPServer(("127.0.0.1", 0), _Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = "http://127.0.0.1:%d/form" % server.server_address[1]
    root = tempfile.mkdtemp(prefix="tarvo-soak-")
    try:
        runs = [
            ("framework (behave + hooks)", run_behave(
                make_project(os.path.join(root, "framework"), FRAMEWORK_ENVIRONMENT, args.scenarios),
                url, args.scenarios)),
            ("behave sin framework", run_behave(
                make_project(os.path.join(root, "behave"), BEHAVE_ONLY_ENVIRONMENT, args.scenarios),
                url, args.scenarios)),
            ("Playwright solo, una página", run_plain(os.path.join(root, "plain"), url, args.scenarios)),
        ]
    finally:
        server.shutdown()
        server.server_close()
        shutil.rmtree(root, ignore_errors=True)

    print("Soak: %d escenarios por ejecución; crecimiento por escenario tras los primeros %d "
          "(pendiente de mínimos cuadrados, muestras cada %d), KB" % (args.scenarios, WARMUP, SAMPLE_EVERY))
    print("  %-30s %8s %8s %8s %8s | %s" % ("", "Python", "driver", "browser", "total",
                                          "pico Python / driver / browser (MB), duración"))
    for name, r in runs:
        g, p = r["growth"], r["peak"]
        print("  %-30s %8.1f %8.1f %8.1f %8.1f | %6.1f / %6.1f / %6.1f, %4.0f s" % (
            name, g["python"], g["driver"], g["browser"], g["total"],
            r["python_hwm"] / 1024, p["driver"] / 1024, p["browser"] / 1024, r["seconds"]))
    fw, behave_only, plain = (r["growth"] for _, r in runs)
    print("  Python por escenario: framework %.1f KB, behave sin framework %.1f KB, Playwright solo %.1f KB"
          % (fw["python"], behave_only["python"], plain["python"]))
    print("  parte del framework (framework - behave sin framework): Python %.1f KB, total %.1f KB por escenario"
          % (fw["python"] - behave_only["python"], fw["total"] - behave_only["total"]))


if __name__ == "__main__":
    main()
