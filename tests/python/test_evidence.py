"""Final outcomes, evidence capture and the reports, through the bindings with fake
runner, scenario and page objects."""

import errno
import json
import types

import pytest

from tarvolab_framework.core import evidence, heal_events, outcomes
from tarvolab_framework.core.ai_analysis_report import AIAnalysisReport, render_json_file
from tarvolab_framework.core.ai_report_generator import AIReportGenerator
from tarvolab_framework.core import ai_report_generator
from tarvolab_framework.runner import Runner


class Bag:
    pass


def status(name):
    return types.SimpleNamespace(name=name)


_FEATURES = {}


def scenario(name, result="passed", feature="Pagos", soft=None):
    # Scenarios of one feature share its object, as behave's do.
    shared = _FEATURES.setdefault(feature, types.SimpleNamespace(name=feature, filename="features/p.feature"))
    sc = types.SimpleNamespace(name=name, status=status(result), steps=[], duration=1.0, line=3, feature=shared)
    if soft:
        sc.soft_assertion_failures = soft
    return sc


class TestOutcomes:
    def test_each_path_to_a_final_outcome(self):
        ctx = Bag()
        reg = outcomes.registry(ctx)
        ok, broken, flaky, soft, forced = (scenario("ok"), scenario("roto", "failed"), scenario("inestable", "error"),
                                           scenario("blando", soft=["[paso] total"]), scenario("forzado"))
        for sc in (ok, broken, flaky, soft, forced):
            reg.scenario_ended(sc)
        reg.retry_attempt(flaky, 1, True)
        reg.retry_attempt(broken, 1, False)
        outcomes.fail_scenario(ctx, forced, "selector reparado sin verificar")
        assert [outcomes.final_outcome(sc, ctx) for sc in (ok, broken, flaky, soft, forced)] == [
            "passed", "failed", "flaky", "passed-with-soft-failures", "failed"]
        assert outcomes.final_outcome(scenario("nunca visto"), ctx) is None
        assert reg.exit_status() == 1
        data = {d["name"]: d for d in outcomes.final_outcomes(ctx)}
        assert data["forzado"]["forced_reasons"] == ["selector reparado sin verificar"]
        assert data["inestable"]["passed_on_retry"] == 1
        lines = reg.summary_lines()
        assert "📋 RESULTADO FINAL: 5 escenario(s): 1 passed, 2 failed, 1 flaky, 1 passed-with-soft-failures, 0 skipped" in lines
        assert "   ❌ failed: forzado — selector reparado sin verificar" in lines

    def test_flaky_only_exits_zero_unless_asked(self, monkeypatch):
        ctx = Bag()
        sc = scenario("inestable", "failed")
        outcomes.registry(ctx).scenario_ended(sc)
        outcomes.registry(ctx).retry_attempt(sc, 2, True)
        assert outcomes.run_exit_status(ctx) == 0
        monkeypatch.setenv("RETRY_FAIL_ON_FLAKY", "TRUE")
        assert outcomes.run_exit_status(ctx) == 1

    def test_fail_scenario_checks_its_arguments(self):
        ctx = Bag()
        with pytest.raises(ValueError, match="needs a scenario"):
            outcomes.fail_scenario(ctx, None, "x")
        ctx.scenario = scenario("actual")
        with pytest.raises(TypeError, match="reason must be a str"):
            outcomes.fail_scenario(ctx, None, 3)
        outcomes.fail_scenario(ctx, None, "motivo")  # the running scenario
        assert outcomes.final_outcome(ctx.scenario, ctx) == "failed"

    def test_runner_exit_status_follows_the_outcomes(self, monkeypatch):
        runner = Runner.__new__(Runner)  # only the exit-status logic is exercised
        ctx = Bag()
        flaky, plain = scenario("inestable", "failed"), scenario("ok")
        feature = types.SimpleNamespace(walk_scenarios=lambda: [flaky, plain])
        runner.features = [feature]
        final = lambda failed: runner.final_exit_status(failed, context=ctx)  # noqa: E731
        outcomes.registry(ctx).scenario_ended(flaky)
        outcomes.registry(ctx).scenario_ended(plain)
        assert final(True) == 1
        outcomes.registry(ctx).retry_attempt(flaky, 1, True)
        assert final(True) == 0
        # A failure behave saw outside any scenario is never hidden.
        runner._tarvo_run_level_failures = 1
        assert final(True) == 1
        runner._tarvo_run_level_failures = 0
        # A scenario the framework never saw keeps behave's own verdict.
        feature.walk_scenarios = lambda: [flaky, plain, scenario("sin hooks", "failed")]
        assert final(True) == 1
        # Without the framework's hooks at all, behave's answer stands.
        ctx = Bag()
        assert final(False) == 0 and final(True) == 1


class Page:
    def __init__(self, fail=None):
        self.fail = fail
        self.context = None

    def is_closed(self):
        return False

    def screenshot(self, full_page):
        assert full_page is True
        if self.fail:
            raise self.fail
        return b"\x89PNG\r\n\x1a\nfake"


def evidence_context(tmp_path, pages):
    ctx = Bag()
    ctx.framework_config = types.SimpleNamespace(config={
        "auto_screenshot_on_failure": True, "screenshots_dir": str(tmp_path / "shots"),
        "record_video": False, "video_mode": "retain-on-failure", "video_dir": str(tmp_path / "videos")})
    ctx.browser = types.SimpleNamespace(contexts=[types.SimpleNamespace(pages=pages)])
    ctx.page = pages[0] if pages else None
    return ctx


class TestScreenshots:
    def test_every_open_page_of_a_failed_scenario(self, tmp_path, capsys):
        ctx = evidence_context(tmp_path, [Page(), Page()])
        sc = scenario("Pago con tarjeta", "failed", feature="Pagos / cobros")
        evidence.scenario_started(ctx, sc)
        evidence.scenario_finished(ctx, sc)
        folder = tmp_path / "shots" / "Pagos_cobros"
        assert sorted(p.name for p in folder.iterdir()) == ["Pago_con_tarjeta-page2.png", "Pago_con_tarjeta.png"]
        record = outcomes.registry(ctx).find(sc)
        assert [p.rsplit("/", 1)[-1] for p in record.screenshots] == ["Pago_con_tarjeta.png",
                                                                       "Pago_con_tarjeta-page2.png"]
        assert capsys.readouterr().out == ""

    def test_passed_scenario_gets_none_and_same_names_get_numbered(self, tmp_path):
        ctx = evidence_context(tmp_path, [Page()])
        ok = scenario("Pago")
        evidence.scenario_started(ctx, ok)
        evidence.scenario_finished(ctx, ok)
        assert not (tmp_path / "shots").exists()
        first, second = scenario("Pago", "failed"), scenario("Pago", "failed")  # e.g. outline rows
        for sc in (first, second):
            evidence.scenario_started(ctx, sc)
            evidence.scenario_finished(ctx, sc)
        assert sorted(p.name for p in (tmp_path / "shots" / "Pagos").iterdir()) == ["Pago-2.png", "Pago-3.png"]

    @pytest.mark.parametrize("failure, text", [
        (RuntimeError("Target page, context or browser has been closed"), "has been closed"),
        (OSError(errno.ENOSPC, "No space left on device"), "No space left on device"),
    ])
    def test_a_screenshot_that_cannot_be_written_warns_once_and_changes_nothing(self, tmp_path, capsys,
                                                                                monkeypatch, failure, text):
        ctx = evidence_context(tmp_path, [Page()])
        if isinstance(failure, OSError):
            def full_disk(path, data):
                raise failure
            monkeypatch.setattr(evidence, "atomic_write_bytes", full_disk)
        else:
            ctx.page.fail = failure
        sc = scenario("Pago", "failed")
        evidence.scenario_started(ctx, sc)
        evidence.scenario_finished(ctx, sc)
        out = capsys.readouterr().out.splitlines()
        assert len(out) == 1 and out[0].startswith("⚠️ No se pudo guardar la captura ") and text in out[0]
        assert "Pago.png" in out[0]
        assert outcomes.final_outcome(sc, ctx) == "failed"
        assert list((tmp_path).rglob("*.png")) == []

    def test_unknown_trace_mode_warns_and_falls_back(self, tmp_path, capsys, monkeypatch):
        monkeypatch.setenv("TRACE_MODE", "always")
        ctx = evidence_context(tmp_path, [Page()])
        assert evidence.settings(ctx).trace_mode == "off"
        assert "TRACE_MODE='always' no es válido" in capsys.readouterr().out
        evidence.settings(ctx)  # read once per run: no second warning
        assert capsys.readouterr().out == ""


class TestReports:
    def test_analysis_report_failures_first_escaped_and_rerendered_from_json(self, tmp_path, monkeypatch):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
        ctx = evidence_context(tmp_path, [Page()])
        report = AIAnalysisReport()
        report.start()
        ok, bad = scenario("todo bien"), scenario("<script>alert(1)</script>", "failed")
        for sc in (ok, bad):
            evidence.scenario_started(ctx, sc)
            evidence.scenario_finished(ctx, sc)
            report.record_scenario(sc)
        path = report.generate()
        html = open(path, encoding="utf-8").read()
        assert "<script>alert(1)</script>" not in html and "&lt;script&gt;alert(1)&lt;/script&gt;" in html
        assert html.index("&lt;script&gt;") < html.index("todo bien")  # failures before passes
        assert 'src="../shots/Pagos/script_alert_1_script.png"' in html  # relative link to the screenshot
        data = json.loads((tmp_path / "reports" / "ai_analysis_report.json").read_text(encoding="utf-8"))
        assert data["failed"] == 1 and data["passed"] == 1
        again = render_json_file(tmp_path / "reports" / "ai_analysis_report.json", tmp_path / "copy.html")
        assert "&lt;script&gt;" in open(again, encoding="utf-8").read()

    def test_healing_report_lists_failed_requests_first_with_the_page_object_to_fix(self, tmp_path, monkeypatch):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
        heal_events.clear()
        context = {"step_text": "I click save", "scenario_name": "Guardar", "feature_name": "Perfil",
                   "action_context": "clic"}
        heal_events.record(element_name="save_button", ref="ProfilePage.save_button", selector="#old",
                           healed_selector="#new", verified=True, page_url="http://127.0.0.1/x",
                           healing_context=context, pom_file="json_poms/ProfilePage.json", pom_key="save_button")
        heal_events.set_phase("retry 1")
        heal_events.record(element_name="#gone", ref="#gone", selector="#gone", healed_selector=None,
                           verified=False, page_url="http://127.0.0.1/y", healing_context=context)
        heal_events.set_phase("run")
        path = AIReportGenerator().generate_report(types.SimpleNamespace(
            get_healing_report_entries=lambda: [], get_healing_summary=lambda: {}))
        html = open(path, encoding="utf-8").read()
        assert html.index("Sin reparar</span>") < html.index("Reparado</span>")
        assert "json_poms/ProfilePage.json" in html and "clave <code>save_button</code>" in html
        assert "reintento 1" in html and "sin sugerencia utilizable" in html
        data = json.loads((tmp_path / "reports" / "ai_validation_report.json").read_text(encoding="utf-8"))
        assert data["counts"]["requests"] == 2 and data["counts"]["in_retry_pass"] == 1
        assert ai_report_generator.render_json_file(tmp_path / "reports" / "ai_validation_report.json").endswith(
            "ai_validation_report.html")
        heal_events.clear()


class Tracing:
    def __init__(self, log, fail_stop=None):
        self.log, self.fail_stop = log, fail_stop

    def start(self, **kw):
        self.log.append(("start", kw["title"]))

    def start_chunk(self, title=None):
        self.log.append(("chunk", title))

    def stop_chunk(self, path=None):
        self.log.append(("stop", path is not None))
        if self.fail_stop and path is not None:
            raise self.fail_stop
        if path is not None:
            with open(path, "wb") as fh:
                fh.write(b"PK\x05\x06" + b"\0" * 18)


class TestTraces:
    def make(self, tmp_path, monkeypatch, mode, fail_stop=None):
        monkeypatch.setenv("TRACE_MODE", mode)
        monkeypatch.setenv("TRACES_DIR", str(tmp_path / "traces"))
        log = []
        page = Page()
        page.context = types.SimpleNamespace(tracing=Tracing(log, fail_stop))
        return evidence_context(tmp_path, [page]), log

    def test_one_chunk_per_scenario_on_the_shared_context(self, tmp_path, monkeypatch):
        ctx, log = self.make(tmp_path, monkeypatch, "retain-on-failure")
        ok, bad = scenario("Uno"), scenario("Dos", "failed")
        for sc in (ok, bad):
            evidence.scenario_started(ctx, sc)
            evidence.scenario_finished(ctx, sc)
        # Tracing starts once on the context; each later scenario is a new chunk.
        assert log == [("start", "Uno"), ("stop", False), ("chunk", "Dos"), ("stop", True)]
        assert [p.name for p in (tmp_path / "traces" / "Pagos").iterdir()] == ["Dos.zip"]
        assert outcomes.registry(ctx).find(bad).trace.endswith("traces/Pagos/Dos.zip")

    def test_a_trace_that_cannot_be_written_warns_and_leaves_no_part_file(self, tmp_path, monkeypatch, capsys):
        ctx, log = self.make(tmp_path, monkeypatch, "on", fail_stop=OSError(errno.EROFS, "Read-only file system"))
        sc = scenario("Tres", "failed")
        evidence.scenario_started(ctx, sc)
        evidence.scenario_finished(ctx, sc)
        out = [l for l in capsys.readouterr().out.splitlines() if "traza" in l]
        assert len(out) == 1 and "Read-only file system" in out[0] and "Tres.zip" in out[0]
        assert outcomes.final_outcome(sc, ctx) == "failed" and outcomes.registry(ctx).find(sc).trace is None
        assert list((tmp_path / "traces").rglob("*")) == [tmp_path / "traces" / "Pagos"]


def test_soft_failures_in_a_retry_attempt_keep_it_failing(tmp_path, capsys):
    ctx = evidence_context(tmp_path, [Page()])
    sc = scenario("Blando en reintento", "failed")
    evidence.scenario_started(ctx, sc)
    evidence.scenario_finished(ctx, sc)
    evidence.retry_attempt_started(ctx, sc, 1)
    ctx.soft_assert(False, "sigue sin cuadrar")
    assert evidence.retry_attempt_finished(ctx, sc, 1, True) is False
    assert "SOFT ASSERTIONS: 1 fallo(s) en el reintento 1" in capsys.readouterr().out
    assert outcomes.final_outcome(sc, ctx) == "failed"
    assert (tmp_path / "shots" / "Pagos" / "Blando_en_reintento-retry1.png").is_file()
    evidence.retry_attempt_started(ctx, sc, 2)
    assert evidence.retry_attempt_finished(ctx, sc, 2, True) is True
    assert outcomes.final_outcome(sc, ctx) == "flaky"


def test_a_chunk_left_open_by_a_scenario_without_end_is_closed_first(tmp_path, monkeypatch):
    monkeypatch.setenv("TRACE_MODE", "on")
    monkeypatch.setenv("TRACES_DIR", str(tmp_path / "traces"))
    log = []
    page = Page()
    page.context = types.SimpleNamespace(tracing=Tracing(log))
    ctx = evidence_context(tmp_path, [page])
    lost, next_one = scenario("Sin final"), scenario("Siguiente")
    evidence.scenario_started(ctx, lost)  # its after-scenario hook never runs
    evidence.scenario_started(ctx, next_one)
    evidence.scenario_finished(ctx, next_one)
    assert log == [("start", "Sin final"), ("stop", False), ("chunk", "Siguiente"), ("stop", True)]


def test_report_texts_go_through_secret_masking_when_available(tmp_path, monkeypatch):
    import sys

    fake = types.ModuleType("tarvolab_framework.core.secrets")
    fake.mask = lambda text: text.replace("hunter2", "***")
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.secrets", fake)
    monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
    report = AIAnalysisReport()
    report.start()
    step = types.SimpleNamespace(keyword="When", name='I type "hunter2"', status=status("failed"),
                                 error_message="typed hunter2 into #password")
    sc = scenario("Login", "failed")
    sc.steps = [step]
    report.record_scenario(sc)
    report.generate()
    text = (tmp_path / "reports" / "ai_analysis_report.json").read_text(encoding="utf-8")
    text += (tmp_path / "reports" / "ai_analysis_report.html").read_text(encoding="utf-8")
    assert "hunter2" not in text and "***" in text
    heal_events.clear()
    event = heal_events.record(element_name="x", ref="#x", selector="#x", healed_selector=None, verified=False,
                               page_url="http://127.0.0.1/?pw=hunter2", healing_context={"step_text": "hunter2"})
    assert "hunter2" not in json.dumps(event)
    heal_events.clear()
