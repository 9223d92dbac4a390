"""Page lifecycle across scenarios and features, retry registration and the Xray
results, from one behave run of projects/lifecycle."""
import json

import pytest

from e2e_support import requires_chromium, run_behave

pytestmark = requires_chromium

REUSE = "♻️ Reutilizando página del browser (URL: "
NEW_PAGE = "🆕 Nueva página creada para el escenario"


@pytest.fixture(scope="module")
def lifecycle_run(projects_copy, tmp_path_factory):
    tmp = tmp_path_factory.mktemp("lifecycle")
    run = run_behave(projects_copy, tmp, "lifecycle",
                     RETRY_FAILED_SCENARIOS="true", MAX_SCENARIO_RETRIES="1",
                     JIRA_ENABLED="true", XRAY_RESULTS_FILE=tmp / "xray-results.json")
    run.xray_file = tmp / "xray-results.json"
    return run


def test_only_the_intended_scenario_fails(lifecycle_run):
    run = lifecycle_run
    assert run.returncode == 1, run.describe()
    run.assert_contains("8 scenarios passed, 1 failed")
    assert run.failing_scenarios() == ["Failing scenario"], run.describe()
    run.assert_absent("HOOK-ERROR")


def test_one_page_serves_every_scenario_of_a_feature(lifecycle_run):
    run = lifecycle_run
    # A page is created once per feature (the browserless scenario creates none) and
    # the six later scenarios of the first feature reuse it from the browser.
    assert run.count(NEW_PAGE) == 2, run.describe()
    assert run.count(REUSE) == 6, run.describe()
    run.assert_contains(REUSE + "http://127.0.0.1:", "stderr")


def test_browserless_scenario_gets_no_page(lifecycle_run):
    run = lifecycle_run
    run.assert_contains("🚫 Tag @no_browser detectado - navegador desactivado")
    run.assert_contains("🚫 Navegador desactivado - saltando inicialización")
    # Its step asserts there is no page anywhere in the browser.
    run.assert_contains("  Scenario: Browserless scenario\n"
                        "    Then no page was opened for this scenario ... passed", "formatter")


def test_popup_is_closed_when_its_scenario_ends(lifecycle_run):
    lifecycle_run.assert_contains("🧹 Cerradas 1 ventana(s) extra del escenario")


def test_failed_scenario_is_registered_and_retried(lifecycle_run):
    run = lifecycle_run
    run.assert_contains("📝 Escenario fallido registrado para reintento: Failing scenario")
    run.assert_line("🔄 REINTENTOS: 1 escenario(s) fallido(s) detectado(s)")
    run.assert_line("   ▶ Reintentando: Failing scenario")
    run.assert_line("   ❌ Sigue fallando")


def test_pages_closed_at_every_feature_end(lifecycle_run):
    assert lifecycle_run.count("🧹 Páginas cerradas al finalizar el feature") == 2, \
        lifecycle_run.describe()


def test_xray_results_hold_one_entry_per_scenario(lifecycle_run):
    run = lifecycle_run
    assert run.xray_file.exists(), "no Xray results file\n" + run.describe()
    data = json.loads(run.xray_file.read_text(encoding="utf-8"))
    assert len(data["tests"]) == 9, data["tests"]
    statuses = _xray_statuses(data)
    expected = {
        "Browserless scenario": "PASSED",
        "First page": "PASSED",
        "Reused page": "PASSED",
        "Popup": "PASSED",
        "After the popup": "PASSED",
        "Failing scenario": "FAILED",
        "Mobile viewport": "PASSED",
        "Desktop viewport after the mobile one": "PASSED",
        "Fresh page in the next feature": "PASSED",
    }
    assert statuses == expected


def _xray_statuses(data):
    """Scenario name -> Xray status from the results file's "tests" list."""
    return {test["testInfo"]["summary"]: test["status"] for test in data["tests"]}
