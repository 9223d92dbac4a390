"""Variable and snapshot stores, context helpers, soft assertions, plug-ins, reports, videos."""

import json
import stat
import time
import types
import warnings

import pytest

from playwright.sync_api import TimeoutError as PlaywrightTimeoutError

from tarvolab_framework import plugins
from tarvolab_framework.core import context_helpers as helpers
from tarvolab_framework.core import evidence
from tarvolab_framework.core import soft_assertion_hooks as soft
from tarvolab_framework.core.ai_analysis_report import AIAnalysisReport
from tarvolab_framework.core.ai_report_generator import AIReportGenerator
from tarvolab_framework.core.data_snapshot_manager import DataSnapshotManager
from tarvolab_framework.core.variable_manager import VariableManager
from tarvolab_framework.core.video_manager import process_videos_with_intro
from tarvolab_framework.plugins.ai_healing_report import AIHealingReportPlugin
from tarvolab_framework.plugins.strict_healing import StrictHealingPlugin

RULE = "=" * 70


class Bag:
    """Attribute bag that, like behave 1.2.6's context, raises KeyError for missing _names."""

    def __getattr__(self, name):
        if name.startswith("_"):
            raise KeyError(name)
        raise AttributeError(name)


class TestVariableManager:
    def test_scenario_scope_hides_global_and_clearing_it_reveals_global(self):
        variables = VariableManager()
        variables.set_variable("user", "admin", scope="global")
        variables.set_variable("user", "ana")
        assert variables.get_variable("user") == "ana"
        variables.clear_scenario_variables()
        assert variables.get_variable("user") == "admin"
        variables.clear_all()
        assert variables.get_variable("user", "none") == "none"

    def test_resolve_replaces_known_placeholders_and_keeps_unknown_ones(self):
        variables = VariableManager()
        variables.set_variable("id", 42)
        variables.set_variable("base.url", "https://x.test", scope="global")
        assert variables.resolve("${base.url}/orders/${id}?u=${who}") == "https://x.test/orders/42?u=${who}"

    def test_bad_scope_names_and_kinds_are_refused(self):
        variables = VariableManager()
        with pytest.raises(ValueError, match="scope"):
            variables.set_variable("a", 1, scope="feature")
        with pytest.raises(ValueError):
            variables.set_variable("a b", 1)
        with pytest.raises(TypeError, match="text"):
            variables.resolve(None)


class TestDataSnapshotManager:
    def test_values_are_copied_in_and_out_and_grouped_by_scenario(self):
        store = DataSnapshotManager()
        order = {"items": [1]}
        store.set_scenario("Compra")
        store.save("order", order)
        order["items"].append(2)
        store.get("order")["items"].append(3)
        assert store.get("order") == {"items": [1]}
        store.set_scenario("Devolución")
        assert store.get("order") is None and store.snapshot() == {}
        store.set_scenario("Compra")  # same name again: nothing lost
        assert store.all_snapshots() == {"Compra": {"order": {"items": [1]}}}

    def test_scenarios_that_save_nothing_keep_no_entry(self):
        # A long run sets the scenario thousands of times; only saves may grow the store.
        store = DataSnapshotManager()
        for n in range(1000):
            store.set_scenario("Escenario %d" % n)
        store.save("k", 1)
        assert store.all_snapshots() == {"Escenario 999": {"k": 1}}

    def test_save_without_a_scenario_is_an_error(self):
        with pytest.raises(RuntimeError, match="set_scenario"):
            DataSnapshotManager().save("k", 1)


class RecordingLocator:
    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        def record(*args):
            self.calls.append((name,) + args)
            return f"{name}-result"
        return record


class TestContextHelpers:
    def make_context(self):
        context = types.SimpleNamespace(
            page="page-1", element_locator=RecordingLocator(), variable_manager=VariableManager()
        )
        for install in (helpers.setup_context_helpers, helpers.add_bulk_operations,
                        helpers.setup_advanced_helpers):
            install(context)
        return context

    def test_helpers_use_the_page_of_the_moment_of_the_call(self):
        context = self.make_context()
        context.click("A.b")
        context.page = "page-2"
        context.fill("A.c", "x")
        assert context.find("#d", 100) == "find-result"
        assert context.element_locator.calls == [
            ("click", "page-1", "A.b", None), ("fill", "page-2", "A.c", "x", None),
            ("find", "page-2", "#d", 100),
        ]

    def test_bulk_operations_run_in_order_and_refuse_wrong_kinds(self):
        context = self.make_context()
        context.fill_form({"F.user": "u", "F.pass": "p"})
        context.click_all(["F.ok", "F.close"])
        assert [c[:3] for c in context.element_locator.calls] == [
            ("fill", "page-1", "F.user"), ("fill", "page-1", "F.pass"),
            ("click", "page-1", "F.ok"), ("click", "page-1", "F.close"),
        ]
        with pytest.raises(TypeError):
            context.click_all("F.ok")

    def test_each_scenario_starts_without_the_previous_scenarios_variables(self):
        context = self.make_context()
        context.set_var("order", "A-1")
        context.set_var("base", "https://x.test", scope="global")
        helpers.setup_context_helpers(context)  # the next scenario's set-up
        assert context.get_var("order") is None
        assert context.resolve_vars("${base}/${order}") == "https://x.test/${order}"
        del context.variable_manager  # no store (yet): installing still works
        helpers.setup_context_helpers(context)

    def test_variables_and_missing_page_message(self):
        context = self.make_context()
        context.set_var("n", 3)
        assert context.get_var("n") == 3 and context.resolve_vars("${n}!") == "3!"
        del context.page
        with pytest.raises(RuntimeError, match="context.page"):
            context.click("A.b")

    def test_repeated_installation_on_a_real_behave_context_masks_nothing(self):
        from behave.runner import Context

        class Runner:
            config = types.SimpleNamespace(verbose=True)

        runner = Runner()
        context = Context(runner)
        context._push()  # a scenario layer over the root, as in before_scenario
        with warnings.catch_warnings(), context.use_with_user_mode():
            warnings.simplefilter("error")  # a masked behave attribute would warn
            for _ in range(2):
                helpers.setup_context_helpers(context)
                helpers.add_bulk_operations(context)
                helpers.setup_advanced_helpers(context)
        installed = helpers.CORE_HELPERS + helpers.BULK_HELPERS + helpers.ADVANCED_HELPERS
        assert not set(installed) & helpers.RESERVED_NAMES
        assert not {name for name in installed if hasattr(Context, name)}
        assert context.feature is None and context.table is None  # behave's own still intact

    def test_screenshot_goes_to_screenshots_dir_with_a_safe_name(self, tmp_path, monkeypatch):
        monkeypatch.setenv("SCREENSHOTS_DIR", str(tmp_path / "shots"))
        shots = []
        context = self.make_context()
        context.page = types.SimpleNamespace(screenshot=lambda path, full_page: shots.append(path))
        path = context.take_screenshot("Login / paso 3")
        assert path == str(tmp_path / "shots" / "Login_paso_3.png") == shots[0]

    def test_wait_for_text_times_out_as_assertion(self):
        class Waiting:
            first = property(lambda self: self)

            def wait_for(self, state, timeout):
                raise PlaywrightTimeoutError("t")

        context = self.make_context()
        context.page = types.SimpleNamespace(get_by_text=lambda text: Waiting(), url="https://x.test")
        context.set_var("who", "Ana")
        with pytest.raises(AssertionError, match="'Hola Ana'.*250 ms"):
            context.wait_for_text("Hola ${who}", timeout=250)


class TestSoftAssertions:
    def run_scenario(self, context, checks, name="Pago"):
        scenario = types.SimpleNamespace(name=name)
        soft.before_scenario_soft_assertions(context, scenario)
        for step_name, step_checks in checks:
            for check in step_checks:
                check(context)
            soft.after_step_soft_assertions(context, types.SimpleNamespace(keyword="Then ", name=step_name))
        soft.after_scenario_soft_assertions(context, scenario)
        return scenario

    def test_failures_are_tagged_counted_once_per_scenario_and_printed(self, capsys):
        context = Bag()  # no count attribute yet, and reading it raises KeyError
        scenario = self.run_scenario(context, [
            ("el total es 10", [lambda c: c.soft_assert_equal(9, 10, "total")]),
            ("hay envío", [lambda c: c.soft_assert(True, "ok"), lambda c: c.soft_assert(0, "sin envío")]),
            ("el código es ABC", [lambda c: c.soft_assert_equal("abc", "ABC")]),
        ])
        assert context._soft_assertion_failed_scenarios_count == 1
        assert scenario.soft_assertion_failures == [
            "[Then el total es 10] total: se esperaba 10 pero se obtuvo 9",
            "[Then hay envío] sin envío",
            "[Then el código es ABC] Se esperaba 'ABC' pero se obtuvo 'abc'",
        ]
        out = capsys.readouterr().out
        assert "3 fallo(s) en el escenario 'Pago'" in out and "sin envío" in out
        soft.after_scenario_soft_assertions(context, scenario)  # repeated call: no double count
        self.run_scenario(context, [("x", [lambda c: c.soft_assert(False, "otra")])])
        assert context._soft_assertion_failed_scenarios_count == 2

    def test_passing_scenario_changes_nothing(self, capsys):
        context = Bag()
        context._soft_assertion_failed_scenarios_count = 0
        self.run_scenario(context, [("x", [lambda c: c.soft_assert(1 == 1, "bien")])])
        assert context._soft_assertion_failed_scenarios_count == 0
        assert capsys.readouterr().out == ""

    def test_after_hooks_without_before_are_harmless(self):
        context = Bag()
        soft.after_step_soft_assertions(context, types.SimpleNamespace(keyword="Given", name="x"))
        soft.after_scenario_soft_assertions(context, types.SimpleNamespace(name="x"))
        with pytest.raises(KeyError):
            context._soft_assertion_failed_scenarios_count


class Recorder:
    def __init__(self, log, label, fail_on=None):
        self.log, self.label, self.fail_on = log, label, fail_on

    def __getattr__(self, hook):
        if hook not in plugins.HOOK_NAMES:
            raise AttributeError(hook)

        def call(*args):
            self.log.append((self.label, hook) + args)
            if hook == self.fail_on:
                raise RuntimeError(f"{self.label} failed")
        return call


class FakeEntryPoint:
    def __init__(self, name, value, loader):
        self.name, self.value, self._loader = name, value, loader

    def load(self):
        return self._loader()


class TestPluginManager:
    def test_hooks_reach_every_plugin_in_load_order_and_skip_plugins_without_the_hook(self):
        log = []
        manager = plugins.PluginManager(discover=False)
        manager.register(Recorder(log, "a"))
        manager.register(types.SimpleNamespace(before_all=lambda ctx: log.append(("b", "before_all", ctx))))
        manager.register(Recorder(log, "c"))
        manager.before_all("ctx")
        manager.after_step("ctx", "step")
        assert log == [("a", "before_all", "ctx"), ("b", "before_all", "ctx"), ("c", "before_all", "ctx"),
                       ("a", "after_step", "ctx", "step"), ("c", "after_step", "ctx", "step")]

    def test_a_failing_plugin_propagates_after_the_others_ran(self):
        log = []
        manager = plugins.PluginManager(discover=False)
        manager.register(Recorder(log, "a", fail_on="after_scenario"))
        manager.register(Recorder(log, "b"))
        manager.register(Recorder(log, "c", fail_on="after_scenario"))
        with pytest.raises(RuntimeError, match="a failed"):
            manager.after_scenario("ctx", "sc")
        assert log == [("a", "after_scenario", "ctx", "sc"), ("b", "after_scenario", "ctx", "sc"),
                       ("c", "after_scenario", "ctx", "sc")]

    def test_entry_points_load_after_the_builtin_without_duplicates(self, monkeypatch, capsys):
        class External:
            pass

        def broken():
            raise ImportError("no module named extra_dep")

        points = [
            FakeEntryPoint("ai_healing_report", plugins.BUILTIN_PLUGINS[0].replace(":", " : "),
                           lambda: AIHealingReportPlugin),
            FakeEntryPoint("external", "ext.mod:External", lambda: External),
            FakeEntryPoint("broken", "broken.mod:Plugin", broken),
        ]
        monkeypatch.setattr(plugins, "_entry_points", lambda: points)
        manager = plugins.PluginManager()
        assert [type(p) for p in manager.plugins] == [AIHealingReportPlugin, StrictHealingPlugin, External]
        assert manager.load_errors == [("broken", "no module named extra_dep")]
        assert "No se pudo cargar el plugin 'broken'" in capsys.readouterr().out

    def test_installed_metadata_declares_the_builtin_plugin(self):
        values = {ep.value for ep in plugins._entry_points()}
        if not values:
            pytest.skip("package metadata not installed")
        assert plugins.BUILTIN_PLUGINS[0] in values

    def test_register_instantiates_classes_and_keeps_one_entry_per_object(self):
        manager = plugins.PluginManager(discover=False)
        first = manager.register(AIHealingReportPlugin)
        assert manager.register(first) is first and manager.plugins == [first]


class FakeLocmender:
    def __init__(self, entries):
        self.entries = entries

    def get_healing_report_entries(self):
        return list(self.entries)

    def get_healing_summary(self):
        ok = sum(1 for e in self.entries if e["status"] == "healed")
        return {"total_attempts": len(self.entries), "successful": ok,
                "failed": len(self.entries) - ok, "success_rate": "50.0%", "healings": []}


def entry(status, message):
    return {"type": "self_healing", "status": status, "message": message, "step": "When clic",
            "scenario": "S <1>", "feature": "F", "timestamp": "2026-01-01T10:00:00"}


class TestAIReports:
    def test_validation_report_escapes_run_texts(self, tmp_path, monkeypatch):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
        manager = FakeLocmender([entry("failed", "<script>alert(1)</script>"), entry("healed", "a & b")])
        path = AIReportGenerator().generate_report(manager)
        assert path == str(tmp_path / "reports" / "ai_validation_report.html")
        html = open(path, encoding="utf-8").read()
        assert "<script>alert" not in html and "&lt;script&gt;alert(1)&lt;/script&gt;" in html
        assert "a &amp; b" in html and "S &lt;1&gt;" in html and "50.0%" in html

    def test_validation_report_is_empty_without_events(self, tmp_path, monkeypatch):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
        monkeypatch.setattr(AIReportGenerator, "_find_locmender", staticmethod(lambda: None))
        assert AIReportGenerator().generate_report() == ""
        assert AIReportGenerator().generate_report(FakeLocmender([])) == ""
        assert not (tmp_path / "reports").exists()

    def test_plugin_prints_the_report_block_and_reports_failures(self, tmp_path, monkeypatch, capsys):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path))
        monkeypatch.delenv("GENERATE_AI_REPORT", raising=False)
        context = Bag()
        context.locmender = FakeLocmender([entry("healed", "m")])
        AIHealingReportPlugin().after_all(context)
        # after_all runs before the retry pass: it only books the report for the run end.
        assert capsys.readouterr().out == "" and list(tmp_path.iterdir()) == []
        evidence.run_finished(context)
        path = str(tmp_path / "ai_validation_report.html")
        assert capsys.readouterr().out == f"\n{RULE}\n🤖 Reporte de Validaciones IA generado: {path}\n{RULE}\n\n"

        context.locmender = types.SimpleNamespace(get_healing_report_entries=lambda: 1 / 0)
        AIHealingReportPlugin().write_report(context)
        assert capsys.readouterr().out == "⚠️ Error generando reporte de IA: division by zero\n"

    def test_plugin_writes_nothing_without_events_or_when_switched_off(self, tmp_path, monkeypatch, capsys):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path))
        context = Bag()
        context.element_locator = types.SimpleNamespace(locmender=FakeLocmender([]))
        AIHealingReportPlugin().after_all(context)
        evidence.run_finished(context)
        monkeypatch.setenv("GENERATE_AI_REPORT", "no")
        context = Bag()
        context.locmender = FakeLocmender([entry("healed", "m")])
        AIHealingReportPlugin().after_all(context)
        evidence.run_finished(context)
        assert capsys.readouterr().out == "" and list(tmp_path.iterdir()) == []

    def test_analysis_clusters_failures_by_normalised_message(self, tmp_path, monkeypatch):
        monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path))
        status = lambda name: types.SimpleNamespace(name=name)  # noqa: E731

        def scenario(name, result, error=None):
            step = types.SimpleNamespace(keyword="When", name="pago", status=status(result),
                                         error_message=error)
            return types.SimpleNamespace(name=name, status=status(result), tags=["smoke"], duration=1.5,
                                         steps=[step], feature=types.SimpleNamespace(name="Pagos"))

        report = AIAnalysisReport()
        assert report.generate() == ""
        report.start()
        report.record_scenario(scenario("A", "failed", "Elemento 'pay' no encontrado en https://a.test/1"))
        report.record_scenario(scenario("B <x>", "error", "Elemento 'buy' no encontrado en https://a.test/2"))
        report.record_scenario(scenario("C", "passed"))
        path = report.generate()
        data = json.loads((tmp_path / "ai_analysis_report.json").read_text(encoding="utf-8"))
        assert (data["total"], data["passed"], data["failed"], data["pass_rate"]) == (3, 1, 2, "33.3%")
        assert [c["scenarios"] for c in data["clusters"]] == [["A", "B <x>"]]
        assert data["scenarios"][0]["failing_step"] == "When pago"
        assert "B &lt;x&gt;" in open(path, encoding="utf-8").read()


class TestVideoManager:
    def make_videos(self, directory, names=("login <1>.webm", "checkout.webm")):
        directory.mkdir()
        for name in names:
            (directory / name).write_bytes(b"webm")
        (directory / "base.mp4").write_bytes(b"mp4")

    def test_missing_or_empty_directory_gives_nothing(self, tmp_path):
        assert process_videos_with_intro(str(tmp_path / "none")) == []
        assert process_videos_with_intro(str(tmp_path)) == []

    def test_without_ffmpeg_an_index_lists_the_recordings(self, tmp_path, monkeypatch):
        monkeypatch.setenv("PATH", str(tmp_path / "empty-bin"))
        videos = tmp_path / "videos"
        self.make_videos(videos)
        assert process_videos_with_intro(str(videos)) == [str(videos / "index.html")]
        html = (videos / "index.html").read_text(encoding="utf-8")
        assert "login &lt;1&gt;.webm" in html and "checkout.webm" in html and "base.mp4" not in html
        assert sorted(p.name for p in videos.iterdir()) == [
            "base.mp4", "checkout.webm", "index.html", "login <1>.webm"]

    def test_with_ffmpeg_each_recording_gets_an_intro_copy_and_failures_are_skipped(self, tmp_path, capsys):
        fake = tmp_path / "ffmpeg"
        fake.write_text('#!/bin/sh\nfor a; do last="$a"; done\n'
                        'case "$*" in *checkout*) echo "bad input" >&2; exit 1;; esac\n'
                        'echo mp4 > "$last"\n')
        fake.chmod(fake.stat().st_mode | stat.S_IEXEC)
        videos = tmp_path / "videos"
        self.make_videos(videos)
        produced = process_videos_with_intro(videos, ffmpeg=str(fake), wait=True)
        assert produced == [str(videos / "login <1>_intro.mp4")]
        assert "checkout.webm: bad input" in capsys.readouterr().out
        assert (videos / "checkout.webm").exists() and not (videos / "checkout_intro.mp4").exists()
        assert process_videos_with_intro(videos, ffmpeg=str(fake), wait=True) == []  # up to date: not redone

    def test_intro_copies_are_made_in_the_background_and_waited_for(self, tmp_path, capsys):
        from tarvolab_framework.core.video_manager import wait_for_intro_jobs

        fake = tmp_path / "ffmpeg"
        fake.write_text('#!/bin/sh\nfor a; do last="$a"; done\nsleep 0.3\n'
                        'case "$*" in *checkout*) echo "bad input" >&2; exit 1;; esac\n'
                        'echo mp4 > "$last"\n')
        fake.chmod(fake.stat().st_mode | stat.S_IEXEC)
        videos = tmp_path / "videos"
        self.make_videos(videos)
        started = time.monotonic()
        queued = process_videos_with_intro(videos, ffmpeg=str(fake))
        assert time.monotonic() - started < 0.3  # the caller does not wait for ffmpeg
        assert sorted(queued) == [str(videos / "checkout_intro.mp4"), str(videos / "login <1>_intro.mp4")]
        # The next feature end sees the same recordings before their copies exist: not queued twice.
        assert process_videos_with_intro(videos, ffmpeg=str(fake)) == []
        failures = wait_for_intro_jobs(timeout=30)
        assert (videos / "login <1>_intro.mp4").read_text() == "mp4\n"
        assert len(failures) == 1 and "checkout.webm: bad input" in failures[0]
        out = capsys.readouterr().out
        assert "🎬 Esperando" in out and "No se pudo añadir la intro a" in out and "checkout.webm" in out
