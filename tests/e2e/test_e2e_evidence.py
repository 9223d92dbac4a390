"""Evidence of failures and final outcomes, from behave runs of projects/evidence:
screenshots, traces, hostile names, flaky and soft-failed scenarios, reports and the
exit status."""
import json
import os
import zipfile
from pathlib import Path

import pytest

from e2e_support import OTHER_BEHAVE, requires_chromium, run_behave

pytestmark = requires_chromium

SAFE = set("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-")


@pytest.fixture(scope="module")
def main_run(projects_copy, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("evidence-main")
    return run_behave(projects_copy, tmp, "evidence",
                      "features/a_evidence.feature", "features/b_flaky.feature",
                      "features/c_hostile.feature", final_status=True,
                      TRACE_MODE="retain-on-failure", TRACES_DIR=str(tmp / "traces"),
                      RETRY_FAILED_SCENARIOS="true", MAX_SCENARIO_RETRIES="1",
                      GENERATE_AI_ANALYSIS_REPORT="true",
                      JIRA_ENABLED="true", XRAY_RESULTS_FILE=str(tmp / "xray.json"))


def files_under(folder):
    return sorted(p for p in Path(folder).rglob("*") if p.is_file())


def test_failing_scenario_leaves_screenshots_of_every_page_and_a_trace(main_run):
    run = main_run
    shots = run.state_dir.parent / "screenshots" / "Evidencia_de_fallos"
    names = sorted(p.name for p in shots.iterdir())
    # The run (two pages: the popup too) and the failed retry attempt.
    assert "Falla_con_evidencia.png" in names and "Falla_con_evidencia-page2.png" in names, names
    assert "Falla_con_evidencia-retry1.png" in names, names
    assert not [n for n in names if n.startswith("Pasa_sin_evidencia")], names
    assert (shots / "Falla_con_evidencia.png").read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"

    traces = run.state_dir.parent / "traces" / "Evidencia_de_fallos"
    trace_names = sorted(p.name for p in traces.iterdir())
    assert trace_names == ["Falla_con_evidencia-retry1.zip", "Falla_con_evidencia.zip"], trace_names
    with zipfile.ZipFile(traces / "Falla_con_evidencia.zip") as archive:
        entries = archive.namelist()
    # What `playwright show-trace` opens: the action log, the network log, the snapshots.
    assert any(e.endswith(".trace") for e in entries) and any(e.endswith(".network") for e in entries), entries
    assert any(e.startswith("resources/") for e in entries), entries


def test_passing_and_flaky_retry_leave_no_trace_under_retain_on_failure(main_run):
    traces = main_run.state_dir.parent / "traces"
    assert not (traces / "Evidencia_de_fallos" / "Pasa_sin_evidencia.zip").exists()
    flaky = sorted(p.name for p in (traces / "Inestables").iterdir())
    assert flaky == ["Pasa_al_reintentar_con_tabla_y_texto.zip"], flaky  # the failed run only


def test_hostile_names_stay_inside_their_folders(main_run):
    root = main_run.state_dir.parent
    for folder in ("screenshots", "traces"):
        base = (root / folder).resolve()
        found = files_under(base)
        assert found, folder
        for path in found:
            assert path.resolve().is_relative_to(base), path
            for part in path.relative_to(base).parts:
                assert set(part) <= SAFE and not part.startswith(".") and len(part) <= 120, part
    hostile = {p.name.split("-")[0].removesuffix(".png")
               for p in files_under(root / "screenshots") if p.parent.name.startswith("etc")}
    assert hostile == {"etc", "nul_byte_tmp_escape", "x" * 80}, hostile  # one name per hostile scenario
    # Nothing was written outside the run's folders by a name such as ../../etc.
    assert not (root.parent / "etc").exists()


def test_flaky_scenario_replays_its_doc_string_and_shows_as_flaky_everywhere(main_run):
    run = main_run
    texts = [json.loads(line) for line in (run.state_dir / "text-texto.jsonl").read_text().splitlines()]
    assert texts == ["línea uno\n  línea dos"] * 2, run.describe()
    run.assert_line("   🔁 flaky: Pasa al reintentar con tabla y texto (pasó en el reintento 1)")
    run.assert_line("   ❌ failed: Falla con evidencia")
    assert run.returncode == 1, run.describe()

    xray = json.loads((run.state_dir.parent / "xray.json").read_text(encoding="utf-8"))
    tests = {t["testInfo"]["summary"]: t for t in xray["tests"]}
    flaky = tests["Pasa al reintentar con tabla y texto"]
    assert flaky["status"] == "PASSED" and "reintento 1" in flaky["comment"], flaky
    assert tests["Falla con evidencia"]["status"] == "FAILED"

    report = json.loads((run.state_dir.parent / "html-reports" / "ai_analysis_report.json").read_text())
    outcomes = {s["name"]: s["outcome"] for s in report["scenarios"]}
    assert outcomes["Pasa al reintentar con tabla y texto"] == "flaky"
    assert outcomes["Pasa sin evidencia"] == "passed"
    assert outcomes["Falla con evidencia"] == "failed"
    assert report["flaky"] == 1
    failing = next(s for s in report["scenarios"] if s["name"] == "Falla con evidencia")
    assert any(p.endswith("Falla_con_evidencia.png") for p in failing["screenshots"])
    assert failing["trace"].endswith("Falla_con_evidencia.zip")


def test_soft_failures_make_the_run_fail(projects_copy, tmp_path):
    run = run_behave(projects_copy, tmp_path, "evidence", "features/d_soft.feature", final_status=True)
    run.assert_contains("1 scenario passed")  # behave saw it pass
    run.assert_line("   ⚠️ passed-with-soft-failures: Pasa con soft assertions fallidas")
    assert run.returncode == 1, run.describe()


def test_unwritable_screenshot_folder_warns_and_keeps_the_outcome(projects_copy, tmp_path):
    blocker = tmp_path / "not-a-folder"
    blocker.write_text("a file where the folder should be")
    run = run_behave(projects_copy, tmp_path, "evidence", "features/a_evidence.feature", final_status=True,
                     SCREENSHOTS_DIR=str(blocker / "shots"))
    warnings = [l for l in run.stdout_lines() if l.startswith("⚠️ No se pudo guardar la captura")]
    assert len(warnings) == 2, run.describe()  # one per page, each naming its file
    assert all("Falla_con_evidencia" in w for w in warnings)
    run.assert_line("   ❌ failed: Falla con evidencia")
    run.assert_contains("1 scenario passed, 1 failed")
    assert run.returncode == 1, run.describe()
    run.assert_absent("HOOK-ERROR")


@pytest.fixture(scope="module")
def allure_run(projects_copy, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("evidence-allure")
    return run_behave(projects_copy, tmp, "evidence",
                      "-f", "allure_behave.formatter:AllureFormatter", "-o", str(tmp / "allure-results"),
                      "features/a_evidence.feature", "features/d_soft.feature",
                      "features/e_retry_heal.feature", "features/f_pass.feature", final_status=True,
                      TRACE_MODE="retain-on-failure", TRACES_DIR=str(tmp / "traces"),
                      RECORD_VIDEO="true", VIDEO_MODE="retain-on-failure", VIDEO_SIZE="640x360",
                      RETRY_FAILED_SCENARIOS="true", GENERATE_AI_ANALYSIS_REPORT="true",
                      GENERATE_AI_REPORT="true", SELF_HEALING_ENABLED="true", AI_PROVIDER="local")


def allure_results(run):
    folder = run.state_dir.parent / "allure-results"
    results = {}
    for path in folder.glob("*-result.json"):
        data = json.loads(path.read_text(encoding="utf-8"))
        results[data["name"]] = data
    return folder, results


def test_allure_results_hold_the_evidence(allure_run):
    run = allure_run
    folder, results = allure_results(run)
    assert {"Falla con evidencia", "Pasa con soft assertions fallidas", "Repara en la ejecución"} <= set(results), \
        run.describe()

    def attachments(name):
        # On the test itself (after-scenario evidence) or on the step that was running (heal events).
        found, items = [], [results[name]]
        while items:
            item = items.pop()
            found.extend(item.get("attachments", []))
            items.extend(item.get("steps", []))
        for a in found:
            assert (folder / a["source"]).is_file(), a
        return {a["type"] for a in found}, [a["name"] for a in found]

    types_, names = attachments("Falla con evidencia")
    assert {"image/png", "application/zip", "video/webm"} <= types_, names
    soft_types, soft_names = attachments("Pasa con soft assertions fallidas")
    assert "soft assertions" in soft_names
    assert results["Pasa con soft assertions fallidas"]["status"] == "failed"  # the final outcome
    heal_types, heal_names = attachments("Repara en la ejecución")
    assert "self-healing: reparado" in heal_names, heal_names
    flaky = results["Repara en el reintento"]
    assert flaky["status"] == "passed" and flaky["statusDetails"]["flaky"] is True, flaky


def test_feature_videos_kept_only_for_failing_features_with_scenario_offsets(allure_run):
    run = allure_run
    videos = sorted(p.name for p in (run.state_dir.parent / "videos").glob("*.webm"))
    # "Todo bien" passed: its video is dropped; no recording keeps Playwright's random name.
    # The popup of "Falla con evidencia" has its own video (-page2), in the run and the retry pass.
    assert videos == ["Evidencia_de_fallos-page2.webm", "Evidencia_de_fallos.webm", "Reparaciones.webm",
                      "retry-pass-page2.webm", "retry-pass.webm"], videos
    report = json.loads((run.state_dir.parent / "html-reports" / "ai_analysis_report.json").read_text())
    by_name = {s["name"]: s for s in report["scenarios"]}
    first, second = by_name["Falla con evidencia"], by_name["Pasa sin evidencia"]
    assert first["video"].endswith("Evidencia_de_fallos.webm") and second["video"] == first["video"]
    assert 0 <= first["video_offset"] < second["video_offset"], (first, second)
    retried = by_name["Falla con evidencia"]["retry_attempts"][0]
    assert retried["video"].endswith("retry-pass.webm") and retried["video_offset"] >= 0, retried


def test_healing_report_written_after_the_retry_pass_holds_its_heal(allure_run):
    run = allure_run
    data = json.loads((run.state_dir.parent / "html-reports" / "ai_validation_report.json").read_text())
    by_phase = {(r["scenario"], r["phase"]): r for r in data["requests"]}
    retry = by_phase[("Repara en el reintento", "retry 1")]
    assert retry["healed"] and retry["pom_file"].endswith("ProfilePage.json") and retry["pom_key"] == "save_button"
    assert retry["outcome"] == "flaky"
    assert data["counts"]["in_retry_pass"] == 1
    html = (run.state_dir.parent / "html-reports" / "ai_validation_report.html").read_text()
    assert "reintento 1" in html and "ProfilePage.json" in html
    # Soft failures and the failing scenario make the run fail; the flaky one does not.
    run.assert_line("   🔁 flaky: Repara en el reintento (pasó en el reintento 1)")
    assert run.returncode == 1, run.describe()


def test_plain_behave_says_its_exit_status_differs(projects_copy, tmp_path):
    # Without the framework's runner behave keeps its own verdict; the summary says so.
    run = run_behave(projects_copy, tmp_path, "evidence", "--runner", "behave.runner:Runner",
                     "features/d_soft.feature") if not OTHER_BEHAVE else \
        run_behave(projects_copy, tmp_path, "evidence", "features/d_soft.feature")
    run.assert_line("   Estado de salida según los resultados finales: 1")
    run.assert_line("   ⚠️ behave termina con su propio estado (0): use el runner "
                    "tarvolab_framework.runner:Runner o python -m tarvolab_framework.runner (ver README)")
    assert run.returncode == 0, run.describe()
