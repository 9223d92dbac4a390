"""Benchmark: what the framework's page handling and step bookkeeping cost.

Two comparisons, measured side by side in one process with headless Chromium:

1. Page per scenario. The framework's path (``setup_scenario_context`` finds the page
   the previous scenario left in the browser and reuses it; ``auto_after_scenario``
   tidies up) against the usual alternative of a new browser context and page for
   every scenario, closed at its end. Both do the same work per scenario: one
   ``set_content`` of a small page. Rounds alternate between the two so that drift
   of the shared machine affects both alike.
2. Action inference per step. ``hookrelay._infer_action_from_step`` (C++) against a
   pure-Python function with the same keyword table.

Run from the repository root after ``source scripts/env.sh``:

    .venv/bin/python bench/page_reuse.py [--scenarios 40] [--rounds 4] [--steps 20000]

Not part of the test suite.
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time
from types import SimpleNamespace

HTML = "<html><body><h1>bench</h1><input id='q'><button id='go'>Go</button></body></html>"

STEP_TEXTS = [
    "hago clic en el botón Guardar",
    "I fill the username field with \"demo\"",
    "the title should be \"Panel\"",
    "selecciono el país \"España\"",
    "espero a que cargue la tabla de resultados",
    "I open the target page",
    "paso el mouse sobre el menú principal",
    "I See The Page Without Any Known Keyword At All And Quite A Long Text To Cut Short",
    "PRESIONO el botón Entrar",
    "I drag the card to the done column",
]

# The same table as the framework's action inference, for the pure-Python baseline.
KEYWORD_TABLE = [
    (("click", "clic", "presion", "pulso", "tap"), "hacer click en el elemento"),
    (("relleno", "escribo", "ingreso", "fill", "type", "input"), "escribir texto en el campo"),
    (("verifico", "valido", "compruebo", "assert", "should", "debería"),
     "verificar/validar el elemento"),
    (("selecciono", "select", "elijo", "choose"), "seleccionar una opción"),
    (("espero", "wait", "aguardo"), "esperar a que el elemento esté disponible"),
    (("obtengo", "extraigo", "get", "extract", "leo"), "obtener/extraer información del elemento"),
    (("scroll", "desplazo"), "hacer scroll hacia el elemento"),
    (("hover", "paso el mouse", "muevo"), "pasar el mouse sobre el elemento"),
    (("drag", "arrastro"), "arrastrar el elemento"),
]


def python_infer_action(step_text):
    lowered = step_text.lower()
    for words, description in KEYWORD_TABLE:
        for word in words:
            if word in lowered:
                return description
    return "interactuar con el elemento (paso: " + step_text[:80] + ")"


class RunnerContext:
    """Stands in for behave's context: a plain attribute bag."""


def _scenario(i):
    return SimpleNamespace(name="Escenario de medida %d" % i, tags=[], status="passed", line=1,
                           feature=SimpleNamespace(filename="bench.feature", name="Bench"),
                           steps=[])


def _configure_environment(workdir):
    os.environ.update({
        "HEADLESS": "true",
        "BROWSER": "chromium",
        "LOG_LEVEL": "WARNING",
        "RECORD_VIDEO": "false",
        "GENERATE_AI_REPORT": "false",
        "GENERATE_AI_ANALYSIS_REPORT": "false",
        "JIRA_ENABLED": "false",
        "MERIDIO_ENABLED": "false",
        "TARVO_TM_ENABLED": "false",
        "SELF_HEALING_ENABLED": "false",
        "VIDEO_DIR": os.path.join(workdir, "videos"),
        "SCREENSHOTS_DIR": os.path.join(workdir, "screenshots"),
        "DOWNLOADS_DIR": os.path.join(workdir, "downloads"),
        "BROWSER_DOWNLOADS_DIR": os.path.join(workdir, "downloads"),
    })


def framework_scenarios(runwright, ctx, count, start):
    """`count` scenarios through the framework's set-up and tear-down; seconds each."""
    times = []
    for i in range(start, start + count):
        scenario = _scenario(i)
        t0 = time.perf_counter()
        runwright.setup_scenario_context(ctx, scenario)
        ctx.page.set_content(HTML)
        runwright.auto_after_scenario(ctx, scenario)
        times.append(time.perf_counter() - t0)
        # behave drops what was stored on the context during the scenario.
        del ctx.page
    return times


def fresh_context_scenarios(browser, count):
    """`count` scenarios each with a new browser context and page; seconds each."""
    times = []
    for _ in range(count):
        t0 = time.perf_counter()
        browser_context = browser.new_context(viewport={"width": 1920, "height": 1080})
        page = browser_context.new_page()
        page.set_default_timeout(30000)
        page.set_default_navigation_timeout(30000)
        page.set_content(HTML)
        browser_context.close()
        times.append(time.perf_counter() - t0)
    return times


def _ms(seconds):
    return "%8.2f ms" % (seconds * 1000.0)


def bench_pages(args):
    from tarvolab_framework.core import runwright

    ctx = RunnerContext()
    runwright.setup_framework_context(ctx)
    try:
        browser = ctx.browser
        per_round = max(1, args.scenarios // args.rounds)
        # The first framework scenario creates the page; time it on its own.
        first = framework_scenarios(runwright, ctx, 1, 0)[0]
        reuse, fresh = [], []
        for r in range(args.rounds):
            reuse += framework_scenarios(runwright, ctx, per_round, 1 + r * per_round)
            fresh += fresh_context_scenarios(browser, per_round)
        runwright.auto_after_feature(ctx, SimpleNamespace(name="Bench"))
    finally:
        cleanup = getattr(getattr(ctx, "framework_config", None), "cleanup", None)
        if cleanup is not None:
            cleanup()

    reuse_med, fresh_med = statistics.median(reuse), statistics.median(fresh)
    print("Página por escenario (%d escenarios de cada tipo, mediana por escenario)" % len(reuse))
    print("  framework, página reutilizada:          %s" % _ms(reuse_med))
    print("  contexto y página nuevos por escenario: %s" % _ms(fresh_med))
    print("  primer escenario del framework (crea la página): %s" % _ms(first))
    print("  ratio nuevo/reutilizado: %.2fx" % (fresh_med / reuse_med))


def bench_inference(args):
    from tarvolab_framework.hooks import hookrelay

    infer = hookrelay._infer_action_from_step
    for text in STEP_TEXTS:  # both sides must agree before their speed means anything
        if infer(text) != python_infer_action(text):
            sys.exit("las dos inferencias difieren para %r: %r != %r"
                     % (text, infer(text), python_infer_action(text)))

    def run(fn):
        best = None
        for _ in range(5):
            t0 = time.perf_counter()
            for i in range(args.steps):
                fn(STEP_TEXTS[i % len(STEP_TEXTS)])
            elapsed = (time.perf_counter() - t0) / args.steps
            best = elapsed if best is None else min(best, elapsed)
        return best

    native, python = run(infer), run(python_infer_action)
    print("Inferencia de la acción por paso (%d pasos, mejor de 5)" % args.steps)
    print("  hookrelay._infer_action_from_step: %8.2f µs" % (native * 1e6))
    print("  Python puro:                       %8.2f µs" % (python * 1e6))
    print("  ratio Python/C++: %.2fx" % (python / native))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scenarios", type=int, default=40, help="scenarios per kind")
    parser.add_argument("--rounds", type=int, default=4, help="alternating rounds")
    parser.add_argument("--steps", type=int, default=20000, help="step texts inferred")
    args = parser.parse_args()
    if args.scenarios < 1 or args.rounds < 1 or args.steps < 1:
        parser.error("--scenarios, --rounds and --steps must be positive")
    if not os.environ.get("TARVO_CHROMIUM_EXECUTABLE"):
        print("aviso: TARVO_CHROMIUM_EXECUTABLE no está definido (source scripts/env.sh)",
              file=sys.stderr)

    workdir = tempfile.mkdtemp(prefix="tarvo-bench-")
    os.chdir(workdir)  # no .env of the repository, and the framework's folders go here
    _configure_environment(workdir)
    try:
        bench_pages(args)
        print()
        bench_inference(args)
    finally:
        os.chdir(tempfile.gettempdir())
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
