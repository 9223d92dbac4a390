"""tarvo-run's own pieces without processes: its command line, the merge of
partial results and the recorded durations."""
import json

import pytest

from tarvolab_framework.core import runwright
from tarvolab_framework.parallel import cli
from tarvolab_framework.parallel.results import RunResults, merge, read_durations, update_durations


def test_command_line_keeps_behave_arguments_in_order():
    opts, rest = cli.parse_args(["-j", "3", "--tags=@x", "--shard=2/4", "-f", "plain", "features/a.feature"])
    assert opts["jobs"] == "3" and opts["shard"] == "2/4"
    assert rest == ["--tags=@x", "-f", "plain", "features/a.feature"]
    assert cli.parse_args(["-j2", "--", "-j", "x"]) == (
        {"jobs": "2", "shard": None, "merge": None, "results_dir": None}, ["-j", "x"])
    opts, rest = cli.parse_args(["--merge", "a", "b", "--results-dir", "out"])
    assert opts["merge"] == ["a", "b"] and opts["results_dir"] == "out" and rest == []
    for bad in (["--merge"], ["--merge", "a", "--tags=x"], ["-j"], ["--shard"]):
        with pytest.raises(cli.UsageError):
            cli.parse_args(bad)


def _part(shard, features, scenarios):
    part = RunResults()
    part.shard = shard
    part.feature_order = ["f/a.feature", "f/b.feature", "f/c.feature"]
    for path in features:
        part.feature_done(path, 1.0)
    for path, line, status in scenarios:
        part.add_scenario({"feature_file": path, "line": line, "status": status, "name": "%s:%d" % (path, line)},
                          None)
    return part


def test_merge_orders_like_behave_and_reports_parts_that_do_not_fit():
    one = _part([1, 2], ["f/c.feature"], [("f/c.feature", 3, "failed")])
    two = _part([2, 2], ["f/a.feature", "f/b.feature"], [("f/b.feature", 9, "passed"), ("f/a.feature", 4, "passed")])
    merged, problems = merge([one, two])
    assert problems == []
    assert [e["record"]["name"] for e in merged.ordered()] == ["f/a.feature:4", "f/b.feature:9", "f/c.feature:3"]
    assert merged.failed() and merged.totals()["failed"] == 1

    _, problems = merge([one, one])
    assert any("run by two parts" in p for p in problems)
    assert any("shards [1, 1] of 2" in p for p in problems)
    _, problems = merge([one])
    assert any("features no shard ran: f/a.feature, f/b.feature" in p for p in problems)


def test_a_retry_changes_the_final_outcome_and_keeps_the_first_run():
    part = _part(None, [], [("f/a.feature", 4, "failed")])
    part.add_scenario({"feature_file": "f/a.feature", "line": 4, "status": "failed", "name": "x"}, None, None, 1)
    assert part.failed() and part.totals()["failed"] == 1
    part.add_scenario({"feature_file": "f/a.feature", "line": 4, "status": "passed", "name": "x"}, None, None, 2)
    assert part.totals()["flaky"] == 1 and part.totals()["failed"] == 0
    entry = part.scenarios["f/a.feature:4"]
    assert entry["record"]["status"] == "failed"  # the first run's record stays
    assert entry["outcome"]["passed_on_retry"] == 2
    assert [a["passed"] for a in entry["attempts"]] == [False, True]
    assert not part.failed()


def test_partial_results_round_trip_and_bad_files_are_named(tmp_path):
    part = _part([1, 1], ["f/a.feature"], [("f/a.feature", 4, "passed")])
    path = part.write(tmp_path)
    again = RunResults.read(path)
    assert again.to_json() == part.to_json()
    (tmp_path / "bad.json").write_text("[]")
    with pytest.raises(ValueError, match="bad.json: not a tarvo-run results file"):
        RunResults.read(tmp_path / "bad.json")


def test_durations_keep_finished_features_only(tmp_path):
    target = tmp_path / ".tarvo" / "durations.json"
    target.parent.mkdir()
    target.write_text(json.dumps({"features": {"f/old.feature": 3, "f/bad.feature": "x", "f/neg.feature": -1}}))
    assert read_durations(target) == {"f/old.feature": 3.0}
    part = RunResults()
    part.feature_done("f/a.feature", 2.5)
    part.feature_done("f/k.feature", 300.0, "killed", "time-out")
    update_durations(part, target)
    assert read_durations(target) == {"f/old.feature": 3.0, "f/a.feature": 2.5}
    assert read_durations(tmp_path / "missing.json") == {}


def test_planning_functions_reach_the_core():
    assert runwright._plan_shard("2/3") == (2, 3)
    with pytest.raises(ValueError, match="--shard '3/2'"):
        runwright._plan_shard("3/2")
    assert runwright._plan_workers("-j", "8", 3, "10") == (3, ["8 workers for 3 feature(s): using 3"])
    assert runwright._shard_slice(["b", "a", "c"], {}, 1, 2) == ["a", "c"]


def test_batch_retry_pass_reports_each_attempt(monkeypatch, capsys):
    monkeypatch.setenv("RETRY_FAILED_SCENARIOS", "true")
    monkeypatch.setenv("MAX_SCENARIO_RETRIES", "2")
    calls = []

    def run_attempt(indices):
        calls.append(list(indices))
        return {0: True, 1: len(calls) == 2, 2: "se cayó"}

    left = runwright._batch_retry_pass(["A", "B", "C"], run_attempt)
    assert calls == [[0, 1, 2], [1, 2]] and left == [2]
    out = capsys.readouterr().out
    assert "   ⚠️ Error: se cayó" in out and "   - C" in out


def test_the_healing_report_of_several_workers_is_one_report(tmp_path, monkeypatch):
    from tarvolab_framework.parallel.results import write_healing_report

    monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path))
    part = RunResults()
    for line, name, status in ((4, "Healed", "passed"), (9, "Broken", "failed")):
        part.add_scenario({"feature_file": "f/a.feature", "line": line, "status": status, "name": name,
                           "feature": "A"}, {"name": name, "screenshots": ["shot-%d.png" % line]},
                          {"runner_status": status, "soft_failures": [], "forced_reasons": [], "passed_on_retry": 0,
                           "retry_attempts": [], "outcome": status, "trace": "t-%d.zip" % line})
    part.healing = [{"success": True}, {"success": False}, {"success": True}]
    part.heal_requests = [
        {"feature": "A", "scenario": "Healed", "healed": True, "element_name": "x", "phase": "run"},
        {"feature": "A", "scenario": "Broken", "healed": False, "element_name": "y", "phase": "retry 1"}]
    path = write_healing_report(part)
    data = json.loads((tmp_path / "ai_validation_report.json").read_text(encoding="utf-8"))
    assert path.endswith("ai_validation_report.html") and "Broken" in open(path, encoding="utf-8").read()
    assert data["counts"]["requests"] == 2 and data["counts"]["healed"] == 1
    assert data["counts"]["in_retry_pass"] == 1
    assert data["counts"]["suggestions"] == 3 and data["counts"]["suggestions_verified"] == 2
    rows = {row["scenario"]: row for row in data["requests"]}
    assert rows["Broken"]["outcome"] == "failed" and rows["Broken"]["trace"] == "t-9.zip"
    assert rows["Healed"]["outcome"] == "passed" and rows["Healed"]["screenshots"] == ["shot-4.png"]


def test_a_workers_run_end_keeps_only_what_the_command_does_not_print_again():
    folder = "/tmp/run/workers/worker-2"
    summary = runwright._outcome_summary_lines([("Login", "failed", 0, "")], False)
    text = "\n".join([
        "[JIRA-XRAY] Resultados Xray guardados en: %s/xray.json" % folder,
        "",
        "=" * 70,
        "📊 Reporte de Analisis IA generado: %s/html-reports/ai_analysis_report.html" % folder,
        "=" * 70,
        *summary,
        "HOOK-ERROR in after_all: RuntimeError: the project's own clean-up failed",
        "⚠️ No se pudo cerrar el navegador: gone",
    ]) + "\n"
    assert cli.fold_run_end(text, folder) == (
        "HOOK-ERROR in after_all: RuntimeError: the project's own clean-up failed\n"
        "⚠️ No se pudo cerrar el navegador: gone\n")
    # Nothing but the summary and the worker's own files: nothing is left to print.
    assert cli.fold_run_end("\n".join(summary), folder) == ""
