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
