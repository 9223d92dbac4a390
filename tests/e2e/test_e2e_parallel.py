"""tarvo-run: workers, the retry pass at the end, shards and their merge, and the
faults a worker can meet (a feature that never ends, a browser that dies), from
runs of projects/parallel in headless Chromium."""
import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

from e2e_support import BEHAVE_TIMEOUT, BehaveRun, base_env, requires_chromium

pytestmark = requires_chromium

TARVO_RUN = str(Path(sys.executable).parent / "tarvo-run")

FEATURES = {
    "First feature of the parallel suite": {"Opens the start page", "Finds the page of the previous scenario"},
    "Second feature of the parallel suite": {"Opens the other page", "Opens the start page again"},
    "Third feature of the parallel suite": {"Works without a browser for ana -- @1.1",
                                            "Works without a browser for beto -- @1.2",
                                            "Fails on its first run"},
    "Fourth feature of the parallel suite": {"Opens the start page", "Opens the other page"},
}


def run_tarvo(projects_copy, tmp, *args, cwd=None, **settings):
    tmp = Path(tmp)
    (tmp / "state").mkdir(parents=True, exist_ok=True)
    env = base_env(tmp, JIRA_ENABLED="true", XRAY_RESULTS_FILE=str(tmp / "xray.json"),
                   GENERATE_AI_ANALYSIS_REPORT="true", LOG_LEVEL="WARNING", **settings)
    workdir = cwd or projects_copy / "parallel"
    cmd = [TARVO_RUN, "--results-dir", str(tmp / "results"), *args]
    proc = subprocess.run(cmd, cwd=workdir, env=env, capture_output=True, text=True, encoding="utf-8",
                          errors="replace", timeout=BEHAVE_TIMEOUT)
    return BehaveRun(proc.returncode, proc.stdout, proc.stderr, tmp / "state", workdir)


def plain(projects_copy, tmp, *args, **settings):
    tmp = Path(tmp)
    return run_tarvo(projects_copy, tmp, "--no-color", "-f", "plain", "--junit",
                     "--junit-directory", str(tmp / "junit"), *args, **settings)


def xray_tests(tmp):
    doc = json.loads((Path(tmp) / "xray.json").read_text(encoding="utf-8"))
    return [{k: v for k, v in t.items() if k not in ("start", "finish")} for t in doc["tests"]]


def analysis(tmp):
    data = json.loads((Path(tmp) / "html-reports" / "ai_analysis_report.json").read_text(encoding="utf-8"))
    # Evidence paths lie under each run's own folders: compared by file name.
    paths = ("screenshots", "trace", "video", "video_offset", "retry_attempts")
    scenarios = [{**{k: v for k, v in s.items() if k != "duration" and k not in paths},
                  "evidence": [Path(p).name for p in s.get("screenshots", []) + [s.get("trace") or ""]]}
                 for s in data["scenarios"]]
    return scenarios, {k: data[k] for k in ("total", "passed", "failed", "skipped", "by_status", "clusters")}


def junit(tmp):
    import xml.etree.ElementTree as ET

    out = {}
    for path in sorted((Path(tmp) / "junit").glob("*.xml")):
        root = ET.parse(path).getroot()
        out[path.name] = sorted((case.get("name"), case.get("status")) for case in root.iter("testcase"))
    return out


def statuses(tmp):
    return [(t.get("testKey") or t["testInfo"]["summary"], t["status"]) for t in xray_tests(tmp)]


def assert_blocks_whole(run):
    """Every scenario line is printed inside its own feature's block."""
    feature = None
    for line in run.stdout_lines():
        if line.startswith("Feature: "):
            feature = line[len("Feature: "):].strip()
        elif line.lstrip().startswith(("Scenario: ", "Scenario Outline: ")):
            name = line.split(":", 1)[1].strip()
            assert feature in FEATURES and name in FEATURES[feature], (
                "%r printed inside the block of %r\n%s" % (name, feature, run.describe()))


@pytest.fixture(scope="module")
def runs(projects_copy, tmp_path_factory):
    out = {}
    for name, args in (("j1", ("-j", "1")), ("j2", ("-j", "2")),
                       ("shard1", ("-j", "1", "--shard", "1/2")), ("shard2", ("--shard=2/2", "-j1"))):
        tmp = tmp_path_factory.mktemp("parallel-" + name)
        out[name] = (plain(projects_copy, tmp, *args), tmp)
    return out


def test_two_workers_give_the_results_of_one_process(runs):
    (one, t1), (two, t2) = runs["j1"], runs["j2"]
    assert one.returncode == two.returncode == 1, one.describe() + two.describe()
    two.assert_contains("tarvo-run: 4 feature(s) on 2 worker(s)", "stdout")
    assert xray_tests(t1) == xray_tests(t2)
    assert statuses(t2).count(("Fails on its first run", "FAILED")) == 1
    assert analysis(t1) == analysis(t2)
    assert junit(t1) == junit(t2) and len(junit(t2)) == 4
    assert_blocks_whole(two)
    # Both workers did work, each with its own browser.
    workers = {json.loads(l)["worker"] for l in (Path(t2) / "state" / "workers.jsonl").read_text().splitlines()}
    assert workers == {"1", "2"}, two.describe()
    durations = json.loads((two.workdir / ".tarvo" / "durations.json").read_text(encoding="utf-8"))
    assert set(durations["features"]) == {"features/a_first.feature", "features/b_second.feature",
                                          "features/c_third.feature", "features/d_fourth.feature"}


def run_end_lines(run):
    return [l for l in run.stdout_lines() if l.startswith("📋 RESULTADO FINAL")]


def test_workers_leave_the_run_end_to_the_command(runs, retry_run):
    (one, _), (two, _) = runs["j1"], runs["j2"]
    # One process: behave's own summary and the framework's, as a plain run prints them.
    assert len(run_end_lines(one)) == 1, one.describe()
    one.assert_contains("Took ", "stdout")
    # Two workers: one summary, the command's, and no worker's totals or files.
    assert run_end_lines(two) == ["📋 RESULTADO FINAL: 9 escenario(s): 8 passed, 1 failed, 0 flaky, "
                                  "0 passed-with-soft-failures, 0 skipped"], two.describe()
    for text in ("end of its run", "Took ", "scenarios passed", "Failing scenarios:", "worker-1", "worker-2"):
        assert text not in two.stdout, (text, two.describe())
    # With the retry pass: still one summary, after the retry, with the final outcome.
    run, _ = retry_run
    lines = run.stdout_lines()
    (summary,) = [i for i, l in enumerate(lines) if l.startswith("📋 RESULTADO FINAL")]
    assert run.line_index("✅ ¡Todos los escenarios pasaron en el reintento 1!") < summary
    assert "1 flaky" in lines[summary] and "worker retry" not in run.stdout, run.describe()


def test_two_shards_merged_equal_one_run(runs, tmp_path):
    (two, t2) = runs["j2"]
    (s1, ts1), (s2, ts2) = runs["shard1"], runs["shard2"]
    ran = [json.loads((Path(t) / "results" / ("shard-%d-of-2" % i) / "partial-results.json").read_text())
           for i, t in ((1, ts1), (2, ts2))]
    slices = [set(r["features"]) for r in ran]
    assert slices[0] and slices[1] and not slices[0] & slices[1], slices
    assert len(slices[0] | slices[1]) == 4
    # A shard writes only its partial results, not the run's files.
    assert not (Path(ts1) / "xray.json").exists()
    merged = run_tarvo(None, tmp_path, "--merge", str(Path(ts1) / "results"), str(Path(ts2) / "results"),
                       cwd=two.workdir)
    assert merged.returncode == 1, merged.describe()
    merged.assert_contains("merged 2 part(s): 4 feature(s), 9 scenario(s): 8 passed, 1 failed", "stdout")
    assert xray_tests(tmp_path) == xray_tests(t2)
    assert analysis(tmp_path) == analysis(t2)


@pytest.fixture(scope="module")
def retry_run(projects_copy, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("parallel-retry")
    return plain(projects_copy, tmp, "-j", "2", RETRY_FAILED_SCENARIOS="true", MAX_SCENARIO_RETRIES="2"), tmp


def test_a_failed_scenario_is_retried_once_after_every_worker_ended(retry_run):
    run, tmp = retry_run
    assert run.returncode == 0, run.describe()
    lines = run.stdout_lines()
    header = run.line_index("🔄 REINTENTOS: 1 escenario(s) fallido(s) detectado(s)")
    last_feature = max(i for i, l in enumerate(lines) if l.startswith("Feature: ") and i < header)
    assert sum(1 for l in lines[:header] if l.startswith("Feature: ")) == 4, run.describe()
    assert last_feature < header
    run.assert_line("🔄 Reintento 1/2...")
    run.assert_line("   ✅ Pasó en reintento 1")
    run.assert_absent("Reintento 2/2")
    run.assert_line("✅ ¡Todos los escenarios pasaron en el reintento 1!")
    noted = [json.loads(l) for l in (Path(tmp) / "state" / "workers.jsonl").read_text().splitlines()]
    assert [n["worker"] for n in noted if n["key"] == "c"][-1] == "retry"
    assert ("Fails on its first run", "PASSED") in statuses(tmp)
    run.assert_contains("(1 passed on retry)", "stdout")
    # The retry keeps behave's JUnit file of the feature's first run.
    assert ("Fails on its first run", "failed") in junit(tmp)["TESTS-c_third.xml"]


@pytest.fixture(scope="module")
def fault_run(projects_copy, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("parallel-faults")
    return plain(projects_copy, tmp, "-j", "2", E2E_STUCK="d", E2E_KILL_BROWSER="b", WORKER_TIMEOUT="6"), tmp


def test_a_stuck_feature_is_killed_and_a_dead_browser_fails_only_its_feature(fault_run):
    run, tmp = fault_run
    assert run.returncode == 1, run.describe()
    reason = "killed after WORKER_TIMEOUT=6s: the feature did not end in time"
    run.assert_line("tarvo-run: features/d_fourth.feature: " + reason)
    tests = {(t.get("testKey") or t["testInfo"]["summary"], t["status"]): t for t in xray_tests(tmp)}
    # Both scenarios of the stuck feature are failed with the reason, the rest ran normally.
    d_failed = [t for (name, status), t in tests.items() if status == "FAILED" and reason in t.get("comment", "")]
    assert len(d_failed) == 2, run.describe()
    assert statuses(tmp).count(("Opens the start page again", "FAILED")) == 1
    assert ("PROJ-11", "PASSED") in statuses(tmp)
    assert ("Fails on its first run", "FAILED") in statuses(tmp)
    assert sum(1 for s in statuses(tmp) if s[1] == "FAILED") == 4, statuses(tmp)
    # Nothing of the killed worker (driver, browser) is left running.
    state = str(Path(tmp) / "state")
    left = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            environ = Path("/proc", pid, "environ").read_bytes()
        except OSError:
            continue
        if ("E2E_STATE_DIR=" + state).encode() in environ.split(b"\0"):
            left.append(pid)
    assert not left, left


def test_bad_input_is_refused_with_one_clear_line(projects_copy, tmp_path):
    for args, settings, expected in (
            ((), {"PARALLEL_WORKERS": "0"}, "PARALLEL_WORKERS: '0' is out of range (1 to 1024)"),
            (("-j", "-2"), {}, "-j: -2 is not a valid number of workers (1 or more)"),
            (("-j", "0"), {}, "-j: 0 is not a valid number of workers (1 or more)"),
            (("-j", "abc"), {}, "-j: 'abc' is not a whole number"),
            ((), {"PARALLEL_WORKERS": "-3"}, "PARALLEL_WORKERS: '-3' is out of range (1 to 1024)"),
            (("-j", "2"), {"MAX_BROWSER_INSTANCES": "0"}, "MAX_BROWSER_INSTANCES: '0' is out of range (1 to 1024)"),
            (("--shard", "1/0"), {}, "--shard '1/0': the number of shards must be 1 or more"),
            (("--shard", "2"), {}, "--shard '2': expected I/N, for example 1/3"),
            (("--shard", "3/2"), {}, "--shard '3/2': the shard number must be between 1 and 2"),
            (("--shard", "a/b"), {}, "--shard 'a/b': expected I/N with whole numbers"),
            ((), {"WORKER_TIMEOUT": "5m"}, "WORKER_TIMEOUT: '5m' is not a valid integer"),
            (("--merge", str(tmp_path / "nothing")), {}, "nothing: no such folder")):
        run = run_tarvo(projects_copy, tmp_path, *args, **settings)
        assert run.returncode == 2, run.describe()
        assert expected in run.stderr, run.describe()
        assert "Traceback" not in run.output and not run.stdout.strip(), run.describe()


def test_more_workers_than_features_are_clamped(projects_copy, tmp_path):
    # A dry run calls no hook, so it shows the plan without a browser.
    run = run_tarvo(projects_copy, tmp_path, "-j", "9", "--dry-run", "--no-color", "-f", "plain",
                    "features/a_first.feature", "features/b_second.feature")
    assert run.returncode == 0, run.describe()
    run.assert_line("tarvo-run: 9 workers for 2 feature(s): using 2")
    run.assert_line("tarvo-run: 2 feature(s) on 2 worker(s)")


HEAL_FEATURE = """Feature: Account {key} in its own worker

  Scenario: Save the profile in {key}
    Given I open the account page
    Then the worker is noted for "{key}"
    And the feature "{other}" runs in another worker at the same time
    When I type "ana@example.com" into "AccountPage.email"
    And I click "AccountPage.save_button"
    Then the status reads "Guardar perfil [ana@example.com]"
"""

HEAL_STEPS = '''import json, os, sys, time
sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 os.pardir, os.pardir, os.pardir, "_shared")))
from behave import then
from parallel_steps import *  # noqa: F401,F403


@then('the feature "{key}" runs in another worker at the same time')
def step_meet(context, key):
    # Both features wait here for each other: they heal while both workers run.
    path = os.path.join(os.environ["E2E_STATE_DIR"], "workers.jsonl")
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        if os.path.exists(path):
            with open(path, encoding="utf-8") as fh:
                if any(json.loads(line)["key"] == key for line in fh if line.strip()):
                    return
        time.sleep(0.1)
    raise AssertionError("feature %s never ran beside this one" % key)
'''


@pytest.fixture(scope="module")
def heal_run(projects_copy, tmp_path_factory):
    """Release 1 of the account page records fingerprints (one process); release 2 is
    then run by two workers at once, each healing the changed selectors, with one
    healing store and one healing report."""
    import shutil

    project = projects_copy / "fingerprints-workers"
    shutil.copytree(projects_copy / "fingerprints", project)
    for key, other in (("A", "B"), ("B", "A")):
        (project / "features" / ("save_%s.feature" % key)).write_text(
            HEAL_FEATURE.format(key=key, other=other), encoding="utf-8")
    (project / "features" / "steps" / "meet_steps.py").write_text(HEAL_STEPS, encoding="utf-8")
    store = tmp_path_factory.mktemp("heal-store") / "healing.sqlite"
    common = dict(SELF_HEALING_STORE=store, SELF_HEALING_ENABLED="true", SELF_HEALING_MAX_RETRIES="0",
                  E2E_FORBID_MODEL="1")
    first_tmp = tmp_path_factory.mktemp("heal-first")
    first = run_tarvo(None, first_tmp, "-j", "1", "--no-color", "-f", "plain", "--tags=@save",
                      "features/account.feature", cwd=project, E2E_RELEASE="1", **common)
    tmp = tmp_path_factory.mktemp("heal-workers")
    run = run_tarvo(None, tmp, "-j", "2", "--no-color", "-f", "plain", "features/save_A.feature",
                    "features/save_B.feature", cwd=project, E2E_RELEASE="2", GENERATE_AI_REPORT="true",
                    **common)
    return first, run, tmp, store


def test_heals_made_in_two_workers_reach_one_report_and_one_store(heal_run):
    import sqlite3

    first, run, tmp, store = heal_run
    assert first.returncode == 0, first.describe()
    assert run.returncode == 0, run.describe()
    run.assert_line("tarvo-run: 2 feature(s) on 2 worker(s)")
    noted = {json.loads(l)["key"]: json.loads(l)["worker"]
             for l in (Path(tmp) / "state" / "workers.jsonl").read_text().splitlines()}
    assert sorted(noted.values()) == ["1", "2"], noted
    # Each worker healed both changed selectors, from the fingerprints or from the
    # heal the other worker had just stored, and never asked the model.
    assert run.stdout.count("🔧 SELF-HEALING") == 4, run.describe()
    assert not (Path(tmp) / "state" / "model-called.txt").exists(), run.describe()
    # One healing report, the command's, holding every worker's heals with their outcome.
    assert run.stdout.count("🤖 Reporte de Validaciones IA generado") == 1, run.describe()
    data = json.loads((Path(tmp) / "html-reports" / "ai_validation_report.json").read_text(encoding="utf-8"))
    heals = sorted((r["feature"], r["pom_key"], r["suggested_selector"], r["healed"], r["outcome"])
                   for r in data["requests"])
    assert heals == sorted((f, key, sel, True, "passed")
                           for f in ("Account A in its own worker", "Account B in its own worker")
                           for key, sel in (("email", "#user-email"), ("save_button", "#profile-save-btn")))
    assert {r["source"] for r in data["requests"]} <= {"fingerprint", "store"}
    assert not list((Path(tmp) / "results" / "workers").rglob("ai_validation_report*"))
    # The store both workers wrote to is whole and holds each heal once.
    with sqlite3.connect(str(store)) as conn:
        assert conn.execute("PRAGMA integrity_check").fetchone()[0] == "ok"
        rows = sorted(conn.execute("SELECT element_key, new_selector FROM heals").fetchall())
    assert rows == [("AccountPage.email", "#user-email"), ("AccountPage.save_button", "#profile-save-btn")]
