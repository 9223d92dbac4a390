"""Self-healing of stale page-object selectors by the offline AI provider, from one
behave run of projects/healing."""
import re

import pytest

from e2e_support import requires_chromium, run_behave

pytestmark = requires_chromium


@pytest.fixture(scope="module")
def healing_run(projects_copy, tmp_path_factory):
    return run_behave(projects_copy, tmp_path_factory.mktemp("healing"), "healing",
                      SELF_HEALING_ENABLED="true", AI_PROVIDER="local",
                      SELF_HEALING_MAX_RETRIES="2", SELF_HEALING_LOG_SUGGESTIONS="true")


def test_stale_selector_is_healed_and_the_scenario_passes(healing_run):
    run = healing_run
    run.assert_line("   🔍 SELF-HEALING: Buscando selector alternativo (máx 3 intentos con IA)...")
    run.assert_line("   🤖 Llamada IA #1...")
    run.assert_line("   💡 IA sugiere: #save-profile-button")
    lines = run.stdout_lines()
    start = run.line_index("🔧 SELF-HEALING ACTIVADO")
    assert lines[start - 1] == "", run.describe()
    # Healed on the first AI call and a single match: no attempt or index lines.
    assert lines[start + 1:start + 7] == [
        "   Selector original (fallido): #save-profile",
        "   Selector sugerido por IA:    #save-profile-button",
        "   Elemento: save_button",
        "   Acción: hacer click en el elemento",
        "   ✅ Selector verificado - elemento encontrado e interactuable",
        "",
    ], run.describe()
    assert run.failing_scenarios() == ["No element fits"], run.describe()
    run.assert_absent("HOOK-ERROR")


def test_second_use_on_the_same_page_comes_from_the_cache(healing_run):
    run = healing_run
    assert run.count("🔧 SELF-HEALING ACTIVADO") == 1, run.describe()
    # Two healings searched (the stale button once, the page without a fit once): the
    # second click on the button asked no AI.
    assert run.count("   🔍 SELF-HEALING: Buscando selector alternativo") == 2, run.describe()
    run.assert_contains("SELF_HEALING: Usando selector cacheado: #save-profile-button", "stderr")


def test_page_without_a_fitting_element_fails_the_step(healing_run):
    run = healing_run
    assert run.returncode == 1, run.describe()
    run.assert_line("   💡 IA sugiere: #launch-rocket-old")
    run.assert_line("   ❌ Rechazado: elemento encontrado pero no visible/interactuable")
    summary = re.search(
        r"\n\n⚠️ SELF-HEALING: No se encontró selector válido después de (\d+) intento\(s\)\n"
        r"   Original: #launch-rocket\n"
        r"   Intentos fallidos:\n"
        r"((?:     - '.*' → .*\n)+)"
        r"   💡 Sugerencia: Verificar que la página cargó completamente\n", run.stdout)
    assert summary, run.describe()
    assert "     - '#launch-rocket-old' → elemento encontrado pero no visible/interactuable" \
        in summary.group(2).splitlines()
    # The locator's failure reaches behave as the step's assertion failure (behave 1.3
    # writes "ASSERT FAILED: ", 1.2.6 "Assertion Failed: " before the message).
    failed = re.search(r'When I click "NewsPage.launch_button" \.\.\. failed\n'
                       r"(ASSERT FAILED|Assertion Failed): Elemento 'launch_button' no encontrado "
                       r"con el selector '#launch-rocket'", run.formatter)
    assert failed, run.describe()
    run.assert_contains("1 scenario passed, 1 failed")

