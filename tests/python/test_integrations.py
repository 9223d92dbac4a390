"""Integration set-up at run start and the run-end dispatch of runwright, driven
with fake integration modules placed in sys.modules."""

import sys
import types

import pytest

import tarvolab_framework.core.runwright as rw

JIRA_MOD = "tarvolab_framework.integrations.behave_hooks"
MERIDIO_MOD = "tarvolab_framework.integrations.meridio_hooks"
TARVO_MOD = "tarvolab_framework.integrations.tarvo_test_manager"
RULE = "=" * 70


class Ctx:
    """A runner context; missing underscore names raise KeyError as on behave 1.2.6."""

    def __getattr__(self, name):
        if name.startswith("_"):
            raise KeyError(name)
        raise AttributeError(name)


def make_component(calls, name, ctor_exc=None, before_exc=None, after_exc=None, configured=True):
    class Component:
        def __init__(self):
            calls.append((name, "init"))
            if ctor_exc:
                raise ctor_exc
            self.is_configured = configured

        def before_all(self, context):
            calls.append((name, "before_all"))
            if before_exc:
                raise before_exc

        def after_all(self, context):
            calls.append((name, "after_all"))
            if after_exc:
                raise after_exc

    Component.__name__ = name
    return Component


def install(monkeypatch, module_name, cls_name, component):
    mod = types.ModuleType(module_name)
    if component is not None:
        setattr(mod, cls_name, component)
    monkeypatch.setitem(sys.modules, module_name, mod)


@pytest.fixture
def env(monkeypatch):
    for var in ("JIRA_ENABLED", "MERIDIO_ENABLED", "TARVO_TM_ENABLED"):
        monkeypatch.delenv(var, raising=False)
    return monkeypatch


def out_lines(capsys):
    return capsys.readouterr().out.splitlines()


# ---------------------------------------------------------------- set-up

FLAGGED = [
    # (setup function, env var, module, class, flag attr, hooks attr, success, unavailable, error prefix)
    (rw._setup_jira_xray_integration, "JIRA_ENABLED", JIRA_MOD, "JiraXrayHooks", "jira_xray_enabled",
     "jira_xray_hooks", "🔗 Integración Jira/Xray habilitada automáticamente",
     "⚠️ Módulos de integración Jira/Xray no disponibles", "⚠️ Error configurando integración Jira/Xray: "),
    (rw._setup_meridio_integration, "MERIDIO_ENABLED", MERIDIO_MOD, "MeridioHooks", "meridio_enabled",
     "meridio_hooks", "🔗 Integración Meridio habilitada automáticamente",
     "⚠️ Módulos de integración Meridio no disponibles", "⚠️ Error configurando integración Meridio: "),
]


@pytest.mark.parametrize("row", FLAGGED, ids=["jira", "meridio"])
def test_flagged_integration_outcome_table(row, env, capsys):
    setup, var, module, cls, flag, hooks, success, unavailable, error = row
    calls = []

    # Not enabled: flag false, no object, silent (values that are not "true" after lower-casing).
    for value in (None, "1", "yes", " true", "true "):
        if value is None:
            env.delenv(var, raising=False)
        else:
            env.setenv(var, value)
        install(env, module, cls, make_component(calls, cls))
        ctx = Ctx()
        setup(ctx)
        assert getattr(ctx, flag) is False and not hasattr(ctx, hooks), value
    assert calls == [] and out_lines(capsys) == []

    env.setenv(var, "TRUE")
    # All succeeds.
    ctx = Ctx()
    setup(ctx)
    assert getattr(ctx, flag) is True and type(getattr(ctx, hooks)).__name__ == cls
    assert calls == [(cls, "init"), (cls, "before_all")]
    assert out_lines(capsys) == [success]

    # Component cannot be loaded: module absent, or module without the class.
    env.setitem(sys.modules, module, None)
    ctx = Ctx()
    setup(ctx)
    assert getattr(ctx, flag) is False and not hasattr(ctx, hooks)
    install(env, module, cls, None)
    setup(ctx)
    assert getattr(ctx, flag) is False and not hasattr(ctx, hooks)
    assert out_lines(capsys) == [unavailable, unavailable]

    # Construction fails: an ImportError counts as unavailable, anything else as an error.
    install(env, module, cls, make_component(calls, cls, ctor_exc=ModuleNotFoundError("No module named 'jira'")))
    ctx = Ctx()
    setup(ctx)
    assert getattr(ctx, flag) is False and not hasattr(ctx, hooks)
    install(env, module, cls, make_component(calls, cls, ctor_exc=ValueError("sin token")))
    setup(ctx)
    assert getattr(ctx, flag) is False and not hasattr(ctx, hooks)
    assert out_lines(capsys) == [unavailable, error + "sin token"]

    # before_all fails: the object stays stored, the flag is false.
    install(env, module, cls, make_component(calls, cls, before_exc=ImportError("falta requests")))
    ctx = Ctx()
    setup(ctx)
    assert getattr(ctx, flag) is False and getattr(ctx, hooks) is not None
    install(env, module, cls, make_component(calls, cls, before_exc=RuntimeError("401 Unauthorized")))
    ctx = Ctx()
    setup(ctx)
    assert getattr(ctx, flag) is False and getattr(ctx, hooks) is not None
    assert out_lines(capsys) == [unavailable, error + "401 Unauthorized"]


def test_tarvo_outcome_table(env, capsys):
    calls = []
    name = "TarvoTestManagerIntegration"

    ctx = Ctx()
    install(env, TARVO_MOD, name, make_component(calls, name))
    env.setenv("TARVO_TM_ENABLED", "yes")
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is None and calls == []

    env.setenv("TARVO_TM_ENABLED", "True")
    rw._setup_tarvo_tm_integration(ctx)
    assert type(ctx.tarvo_tm_hooks).__name__ == name
    assert calls == [(name, "init"), (name, "before_all")]

    # Not configured: stored, before_all not called, silent.
    calls.clear()
    install(env, TARVO_MOD, name, make_component(calls, name, configured=False))
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is not None and calls == [(name, "init")]
    assert out_lines(capsys) == []

    # Loading failures carry the loader's own text.
    env.setitem(sys.modules, TARVO_MOD, None)
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is None
    install(env, TARVO_MOD, name, make_component(calls, name, before_exc=ModuleNotFoundError("No module named 'httpx'")))
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is None
    install(env, TARVO_MOD, name, None)
    rw._setup_tarvo_tm_integration(ctx)
    lines = out_lines(capsys)
    assert lines[0].startswith("[TARVO-TM] Modulo no disponible: ") and TARVO_MOD in lines[0]
    assert lines[1] == "[TARVO-TM] Modulo no disponible: No module named 'httpx'"
    assert lines[2] == f"[TARVO-TM] Modulo no disponible: cannot import name '{name}' from '{TARVO_MOD}'"

    # Other failures: construction, before_all.
    install(env, TARVO_MOD, name, make_component(calls, name, ctor_exc=KeyError("url")))
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is None
    install(env, TARVO_MOD, name, make_component(calls, name, before_exc=RuntimeError("caído")))
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.tarvo_tm_hooks is None
    assert out_lines(capsys) == ["[TARVO-TM] Error configurando integracion: 'url'",
                                 "[TARVO-TM] Error configurando integracion: caído"]


def test_failing_jira_does_not_stop_the_others(env, capsys):
    calls = []
    install(env, JIRA_MOD, "JiraXrayHooks", make_component(calls, "J", before_exc=RuntimeError("x")))
    install(env, MERIDIO_MOD, "MeridioHooks", make_component(calls, "M"))
    install(env, TARVO_MOD, "TarvoTestManagerIntegration", make_component(calls, "T"))
    for var in ("JIRA_ENABLED", "MERIDIO_ENABLED", "TARVO_TM_ENABLED"):
        env.setenv(var, "true")
    ctx = Ctx()
    rw._setup_jira_xray_integration(ctx)
    rw._setup_meridio_integration(ctx)
    rw._setup_tarvo_tm_integration(ctx)
    assert ctx.jira_xray_enabled is False and ctx.jira_xray_hooks is not None
    assert ctx.meridio_enabled is True and ctx.tarvo_tm_hooks is not None
    assert calls == [("J", "init"), ("J", "before_all"), ("M", "init"), ("M", "before_all"),
                     ("T", "init"), ("T", "before_all")]
    assert out_lines(capsys) == ["⚠️ Error configurando integración Jira/Xray: x",
                                 "🔗 Integración Meridio habilitada automáticamente"]


def test_all_unset_is_silent_and_everything_off(env, capsys):
    ctx = Ctx()
    rw._setup_jira_xray_integration(ctx)
    rw._setup_meridio_integration(ctx)
    rw._setup_tarvo_tm_integration(ctx)
    assert (ctx.jira_xray_enabled, ctx.meridio_enabled, ctx.tarvo_tm_hooks) == (False, False, None)
    assert capsys.readouterr().out == ""


# ---------------------------------------------------------------- run end

class Report:
    def __init__(self, calls, name, result=None, exc=None):
        self.calls, self.name, self.result, self.exc = calls, name, result, exc

    def _call(self):
        self.calls.append((self.name, "generate"))
        if self.exc:
            raise self.exc
        return self.result

    generate_report = _call
    generate = _call


def run_end_context(calls, **overrides):
    ctx = Ctx()
    ctx.jira_xray_enabled = True
    ctx.jira_xray_hooks = make_component(calls, "J")()
    ctx.meridio_enabled = True
    ctx.meridio_hooks = make_component(calls, "M")()
    ctx.tarvo_tm_hooks = make_component(calls, "T")()
    calls.clear()
    for k, v in overrides.items():
        setattr(ctx, k, v)
    return ctx


def test_run_end_calls_every_enabled_integration_in_order(capsys):
    calls = []
    ctx = run_end_context(calls)
    rw._auto_after_all_integrations(ctx)
    assert calls == [("J", "after_all"), ("M", "after_all"), ("T", "after_all")]
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("overrides, expected", [
    ({"_jira_config_processed": True}, [("M", "after_all"), ("T", "after_all")]),
    ({"jira_xray_enabled": False}, [("M", "after_all"), ("T", "after_all")]),
    ({"meridio_enabled": False}, [("J", "after_all"), ("T", "after_all")]),
    ({"tarvo_tm_hooks": None}, [("J", "after_all"), ("M", "after_all")]),
])
def test_run_end_skips_silently(overrides, expected, capsys):
    calls = []
    ctx = run_end_context(calls, **overrides)
    rw._auto_after_all_integrations(ctx)
    assert calls == expected
    assert capsys.readouterr().out == ""


def test_run_end_skips_unconfigured_tarvo_and_missing_attributes(capsys):
    calls = []
    ctx = run_end_context(calls)
    ctx.tarvo_tm_hooks.is_configured = False
    rw._auto_after_all_integrations(ctx)
    assert ("T", "after_all") not in calls
    rw._auto_after_all_integrations(Ctx())  # nothing set at all
    assert capsys.readouterr().out == ""


def test_each_run_end_failure_is_isolated(capsys):
    calls = []
    ctx = run_end_context(calls)
    ctx.jira_xray_hooks = make_component(calls, "J", after_exc=RuntimeError("jira caído"))()
    ctx.meridio_hooks = make_component(calls, "M", after_exc=ValueError("meridio caído"))()

    class BadTarvo:
        @property
        def is_configured(self):
            raise RuntimeError("sin url")

    ctx.tarvo_tm_hooks = BadTarvo()
    ctx.ai_report_generator = Report(calls, "ai", exc=OSError("disco lleno"))
    ctx.ai_analysis_report = Report(calls, "analysis", exc=RuntimeError("plantilla"))
    ctx._soft_assertion_failed_scenarios_count = 2
    calls.clear()
    rw._auto_after_all_integrations(ctx)
    assert out_lines(capsys) == [
        "⚠️ Error en after_all Jira/Xray: jira caído",
        "⚠️ Error en after_all Meridio: meridio caído",
        "[TARVO-TM] Error en after_all: sin url",
        "⚠️ Error generando reporte de IA: disco lleno",
        "⚠️ Error generando reporte de analisis IA: plantilla",
        "",
        RULE,
        "⚠️  SOFT ASSERTIONS: 2 escenario(s) fallaron",
        "   (Behave los muestra como 'passed' pero el reporte HTML muestra el estado real)",
        RULE,
        "",
    ]


def test_ai_reports(capsys):
    calls = []
    ctx = Ctx()
    ctx.ai_report_generator = Report(calls, "ai", result="reports/ia.html")
    ctx.ai_analysis_report = Report(calls, "analysis", result="reports/analisis.html")
    rw._auto_after_all_integrations(ctx)
    assert capsys.readouterr().out == (
        f"\n{RULE}\n🤖 Reporte de Validaciones IA generado: reports/ia.html\n{RULE}\n\n"
        f"\n{RULE}\n📊 Reporte de Analisis IA generado: reports/analisis.html\n{RULE}\n\n")

    # Driven through the plug-in system: the validation report is left to it.
    calls.clear()
    ctx._using_plugin_system = True
    rw._auto_after_all_integrations(ctx)
    assert calls == [("analysis", "generate")]
    capsys.readouterr()

    # Empty results print nothing; an absent analysis report is skipped.
    ctx = Ctx()
    ctx.ai_report_generator = Report(calls, "ai", result="")
    ctx.ai_analysis_report = None
    rw._auto_after_all_integrations(ctx)
    ctx.ai_analysis_report = Report(calls, "analysis", result=None)
    rw._auto_after_all_integrations(ctx)
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("count", [0, -1, None])
def test_soft_assertion_summary_silent_when_not_positive(count, capsys):
    ctx = Ctx()
    if count is not None:
        ctx._soft_assertion_failed_scenarios_count = count
    rw._auto_after_all_integrations(ctx)
    assert capsys.readouterr().out == ""


def test_condition_read_failure_ends_the_run_end():
    class Broken(Ctx):
        @property
        def meridio_enabled(self):
            raise RuntimeError("contexto roto")

    with pytest.raises(RuntimeError, match="contexto roto"):
        rw._auto_after_all_integrations(Broken())
