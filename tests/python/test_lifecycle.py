"""Run-lifecycle functions of runwright, driven with small fakes of the runner
context, the Playwright objects, FrameworkConfig and the outside components."""

import logging
import sys
import types

import pytest

from tarvolab_framework.core import runwright

LOGGER_NAME = "tarvolab_framework.tests.lifecycle"


# ---------------------------------------------------------------------------
# Fakes
# ---------------------------------------------------------------------------


class PlainContext:
    """Runner context as behave 1.3 presents it: missing names raise AttributeError."""


class KeyErrorContext:
    """Runner context as behave 1.2.6 presents it: a missing underscore name raises KeyError."""

    def __getattr__(self, name):
        if name.startswith("_") and not name.startswith("__"):
            raise KeyError(name)
        raise AttributeError(name)


class ClosedPageError(Exception):
    pass


class FakePage:
    def __init__(self, url="about:blank", events=None, close_fails=False, name="page"):
        self._url = url
        self.closed = False
        self.close_fails = close_fails
        self.events = events if events is not None else []
        self.name = name
        self.timeouts = None
        self.viewport = None
        self.close_calls = 0

    @property
    def url(self):
        if self.closed:
            raise ClosedPageError("Target page, context or browser has been closed")
        return self._url

    def close(self):
        self.close_calls += 1
        self.events.append(("close", self.name))
        if self.close_fails:
            raise RuntimeError("close failed")
        self.closed = True

    def set_default_timeout(self, ms):
        self.timeouts = (ms, self.timeouts[1] if self.timeouts else None)

    def set_default_navigation_timeout(self, ms):
        self.timeouts = (self.timeouts[0] if self.timeouts else None, ms)

    def set_viewport_size(self, size):
        self.viewport = size

    def bring_to_front(self):
        if self.closed:
            raise ClosedPageError("Target page, context or browser has been closed")
        self.events.append(("bring_to_front", self.name))


class FakeBrowserContext:
    def __init__(self, pages=()):
        self._pages = list(pages)

    @property
    def pages(self):
        return list(self._pages)  # Playwright hands out a copy


class FakeBrowser:
    def __init__(self, contexts=()):
        self._contexts = list(contexts)

    @property
    def contexts(self):
        return list(self._contexts)


class FakeConfig:
    """Stands in for FrameworkConfig on the scenario paths."""

    def __init__(self, config=None, create_fails=False):
        self.config = dict(config or {})
        self.create_calls = []
        self.create_fails = create_fails

    def create_page(self, context=None, custom_context_options=None):
        self.create_calls.append((context, custom_context_options))
        if self.create_fails:
            raise ClosedPageError("browser gone")
        page = FakePage(url="about:blank", name="new")
        if context is not None:
            context._pages.append(page)
        return page


class Recorder:
    """Records calls of any method name; methods listed in `fail` raise."""

    def __init__(self, events, label, fail=()):
        self._events = events
        self._label = label
        self._fail = set(fail)

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)

        def method(*args):
            self._events.append((self._label, name, args))
            if name in self._fail:
                raise RuntimeError(f"{self._label} {name} down")

        return method


@pytest.fixture
def events():
    return []


@pytest.fixture
def helpers(monkeypatch, events):
    mod = types.ModuleType("tarvolab_framework.core.context_helpers")
    for name in ("setup_context_helpers", "add_bulk_operations", "setup_advanced_helpers"):
        mod.__dict__[name] = (lambda n: lambda ctx: events.append(("helper", n)))(name)
    monkeypatch.setitem(sys.modules, mod.__name__, mod)
    return mod


@pytest.fixture
def logs(caplog):
    caplog.set_level(logging.DEBUG, logger=LOGGER_NAME)

    def lines(level=None):
        return [r.getMessage() for r in caplog.records
                if r.name == LOGGER_NAME and (level is None or r.levelname == level)]

    return lines


def make_context(kind=PlainContext, **attrs):
    ctx = kind()
    ctx.logger = logging.getLogger(LOGGER_NAME)
    for key, value in attrs.items():
        setattr(ctx, key, value)
    return ctx


def scenario(name="Login", tags=(), status="passed", line=7, filename="features/login.feature"):
    return types.SimpleNamespace(name=name, tags=list(tags), status=status, line=line,
                                 feature=types.SimpleNamespace(filename=filename))


# ---------------------------------------------------------------------------
# setup_scenario_context
# ---------------------------------------------------------------------------


def test_live_context_page_is_reused(helpers, logs):
    page = FakePage(url="https://app.test/home")
    cfg = FakeConfig({"timeout": 5000, "navigation_timeout": 7000})
    ctx = make_context(page=page, framework_config=cfg, browser=FakeBrowser([FakeBrowserContext([page])]))
    runwright.setup_scenario_context(ctx, scenario())
    assert ctx.page is page
    assert cfg.create_calls == []
    assert "♻️ Reutilizando página existente (URL: https://app.test/home)" in logs("INFO")
    assert page.timeouts == (5000, 7000)
    assert "Timeout configurado: 5000ms, navegación: 7000ms" in logs("DEBUG")
    assert logs("INFO")[-1] == "Iniciando escenario: Login"


@pytest.mark.parametrize("key, value", [("timeout", 1e19), ("navigation_timeout", -1)])
def test_out_of_range_time_out_edited_in_the_dictionary_never_reaches_the_page(helpers, logs, key, value):
    page = FakePage(url="https://app.test/home")
    cfg = FakeConfig({key: value})
    ctx = make_context(page=page, framework_config=cfg, browser=FakeBrowser([FakeBrowserContext([page])]))
    with pytest.raises(ValueError, match=rf"config\['{key}'\]: .* is out of range \(0 to 2147483647\)"):
        runwright.setup_scenario_context(ctx, scenario())
    assert page.timeouts is None


@pytest.mark.parametrize("kind", [PlainContext, KeyErrorContext])
def test_closed_context_page_falls_back_to_browser_page(helpers, logs, kind):
    dead = FakePage(name="dead")
    dead.closed = True
    kept = FakePage(url="https://app.test/kept", name="kept")
    cfg = FakeConfig()
    ctx = make_context(kind, page=dead, framework_config=cfg,
                       browser=FakeBrowser([FakeBrowserContext([kept])]))
    runwright.setup_scenario_context(ctx, scenario())
    assert "Página anterior cerrada o inválida" in logs("DEBUG")
    assert ctx.page is kept
    assert "♻️ Reutilizando página del browser (URL: https://app.test/kept)" in logs("INFO")
    assert cfg.create_calls == []
    assert kept.timeouts == (30000, 30000)


class CachedUrlPage(FakePage):
    """Like Playwright's page: `url` still answers after close; is_closed() tells."""

    @property
    def url(self):
        return self._url

    def is_closed(self):
        return self.closed


def test_page_that_reports_closed_is_not_reused(helpers, logs):
    dead = CachedUrlPage(url="https://app.test/old", name="dead")
    dead.closed = True
    cfg = FakeConfig()
    ctx = make_context(page=dead, framework_config=cfg, browser=FakeBrowser([FakeBrowserContext()]))
    runwright.setup_scenario_context(ctx, scenario())
    assert "Página anterior cerrada o inválida" in logs("DEBUG")
    assert ctx.page is not dead and len(cfg.create_calls) == 1


def test_closed_browser_page_gives_new_page_in_first_context(helpers, logs):
    stale = FakePage(name="stale")
    stale.closed = True
    first = FakeBrowserContext([stale])
    options = {"locale": "es-ES"}
    cfg = FakeConfig()
    ctx = make_context(framework_config=cfg, browser=FakeBrowser([first, FakeBrowserContext()]),
                       browser_context_options=options)
    runwright.setup_scenario_context(ctx, scenario())
    assert len(cfg.create_calls) == 1
    target, passed_options = cfg.create_calls[0]
    assert target is first and passed_options is options
    assert ctx.page.name == "new"
    assert "🆕 Nueva página creada para el escenario" in logs("INFO")
    # the closed page's probe failure is silent; the dead first tab cannot be
    # brought forward, so the new page stays
    assert not any(m.startswith("No se pudo verificar") for m in logs())
    assert ("No se pudo cambiar al primer tab: Target page, context or browser has been closed"
            in logs("DEBUG"))


def test_browser_without_contexts_creates_page_without_context(helpers, logs):
    cfg = FakeConfig()
    ctx = make_context(framework_config=cfg, browser=FakeBrowser())
    runwright.setup_scenario_context(ctx, scenario())
    assert cfg.create_calls == [(None, None)]


def test_failing_browser_probe_is_logged_and_create_page_failure_propagates(helpers, logs):
    class BrokenBrowser:
        @property
        def contexts(self):
            raise RuntimeError("driver gone")

    ctx = make_context(framework_config=FakeConfig(create_fails=True), browser=BrokenBrowser())
    with pytest.raises(RuntimeError, match="driver gone"):
        runwright.setup_scenario_context(ctx, scenario())
    assert "No se pudo verificar páginas existentes: driver gone" in logs("DEBUG")

    ctx = make_context(framework_config=FakeConfig(create_fails=True), browser=FakeBrowser())
    with pytest.raises(ClosedPageError, match="browser gone"):
        runwright.setup_scenario_context(ctx, scenario())
    assert "Iniciando escenario: Login" not in logs()


@pytest.mark.parametrize("tags,expected", [
    (["Mobile"], {"width": 375, "height": 667}),
    (["smoke", "MOBILE"], {"width": 375, "height": 667}),
    (["mobile_only"], None),
    ([], None),
])
def test_mobile_tag_sets_small_viewport(helpers, logs, tags, expected):
    page = FakePage()
    ctx = make_context(page=page, framework_config=FakeConfig())
    runwright.setup_scenario_context(ctx, scenario(tags=tags))
    assert page.viewport == expected


class SizedPage(FakePage):
    """A page that reports its viewport, as Playwright's `viewport_size` does."""

    def __init__(self, size, **kw):
        super().__init__(**kw)
        self.viewport = size

    @property
    def viewport_size(self):
        return self.viewport


def test_mobile_viewport_does_not_leak_into_later_scenarios(helpers, logs):
    desktop = {"width": 1920, "height": 1080}
    page = SizedPage(dict(desktop))
    ctx = make_context(page=page, framework_config=FakeConfig())
    runwright.setup_scenario_context(ctx, scenario(tags=["mobile"]))
    runwright.setup_scenario_context(ctx, scenario(tags=["mobile"]))
    assert page.viewport == {"width": 375, "height": 667}
    runwright.setup_scenario_context(ctx, scenario(tags=["smoke"]))
    assert page.viewport == desktop
    # A later page that never was resized is not touched.
    other = SizedPage({"width": 800, "height": 600})
    ctx.page = other
    runwright.setup_scenario_context(ctx, scenario())
    assert other.viewport == {"width": 800, "height": 600}


def test_viewport_failure_is_a_warning_and_setup_goes_on(helpers, logs):
    page = FakePage()
    page.set_viewport_size = lambda size: (_ for _ in ()).throw(RuntimeError("no viewport"))
    ctx = make_context(page=page, framework_config=FakeConfig())
    runwright.setup_scenario_context(ctx, scenario(tags=["mobile"]))
    assert "Error configurando tags: no viewport" in logs("WARNING")
    assert logs("INFO")[-1] == "Iniciando escenario: Login"


def test_two_pages_bring_first_to_front(helpers, logs, events):
    first = FakePage(url="https://a.test", events=events, name="first")
    second = FakePage(url="https://b.test", events=events, name="second")
    ctx = make_context(page=second, framework_config=FakeConfig(),
                       browser=FakeBrowser([FakeBrowserContext([first, second])]))
    runwright.setup_scenario_context(ctx, scenario())
    assert ctx.page is first
    assert ("bring_to_front", "first") in events
    assert "Cambiado al primer tab (total: 2 tabs abiertos)" in logs("INFO")
    # helpers ran before the tab switch, in their fixed order
    helper_calls = [e[1] for e in events if e[0] == "helper"]
    assert helper_calls == ["setup_context_helpers", "add_bulk_operations", "setup_advanced_helpers"]

    logs_before = len(logs())
    single = FakePage(url="https://c.test")
    ctx = make_context(framework_config=FakeConfig(), browser=FakeBrowser([FakeBrowserContext([single])]))
    runwright.setup_scenario_context(ctx, scenario())
    assert not any(m.startswith("Cambiado al primer tab") for m in logs()[logs_before:])


def test_browser_disabled_skips_page_work(helpers, logs, events):
    snapshot = Recorder(events, "snapshot")
    cfg = FakeConfig()
    ctx = make_context(browser_disabled=True, data_snapshot=snapshot, framework_config=cfg,
                       meridio_enabled=True, meridio_hooks=Recorder(events, "meridio"))
    runwright.setup_scenario_context(ctx, scenario(name="API only"))
    assert events == [("snapshot", "set_scenario", ("API only",)),
                      ("helper", "setup_context_helpers"), ("helper", "add_bulk_operations"),
                      ("helper", "setup_advanced_helpers")]
    assert logs() == ["🚫 Navegador desactivado - saltando inicialización"]
    assert cfg.create_calls == [] and not hasattr(ctx, "page")


@pytest.mark.parametrize("kind", [PlainContext, KeyErrorContext])
def test_per_scenario_flags_are_reset(helpers, logs, kind):
    ctx = make_context(kind, page=FakePage(), framework_config=FakeConfig(), api_listening_active=True)
    ctx._current_step_is_api = True
    runwright.setup_scenario_context(ctx, scenario())
    assert ctx.api_listening_active is False
    assert (ctx._current_step_is_desktop, ctx._current_step_is_api, ctx._current_step_is_mobile) == (False,) * 3
    assert ctx._jira_config_scenario_results == []

    ctx._jira_config_scenario_results.append({"key": "T-1"})
    del ctx.api_listening_active
    runwright.setup_scenario_context(ctx, scenario())
    assert ctx._jira_config_scenario_results == [{"key": "T-1"}]
    assert not hasattr(ctx, "api_listening_active")


def test_meridio_failure_is_printed_and_setup_finishes(helpers, logs, events, capsys):
    ctx = make_context(page=FakePage(), framework_config=FakeConfig(), meridio_enabled=True,
                       meridio_hooks=Recorder(events, "meridio", fail={"before_scenario"}))
    sc = scenario()
    runwright.setup_scenario_context(ctx, sc)
    assert ("meridio", "before_scenario", (ctx, sc)) in events
    assert capsys.readouterr().out == "⚠️ Error en before_scenario Meridio: meridio before_scenario down\n"
    assert logs("INFO")[-1] == "Iniciando escenario: Login"


# ---------------------------------------------------------------------------
# auto_after_scenario
# ---------------------------------------------------------------------------


def test_extra_windows_closed_even_when_one_close_fails(logs, events):
    pages = [FakePage(events=events, name="p1"),
             FakePage(events=events, name="p2", close_fails=True),
             FakePage(events=events, name="p3")]
    ctx = make_context(framework_config=FakeConfig(), page=pages[2],
                       browser=FakeBrowser([FakeBrowserContext(pages), FakeBrowserContext([FakePage()])]))
    runwright.auto_after_scenario(ctx, scenario())
    assert [e for e in events if e[0] == "close"] == [("close", "p2"), ("close", "p3")]
    assert ctx.page is pages[0]
    assert "🧹 Cerradas 2 ventana(s) extra del escenario" in logs("INFO")


def test_single_window_untouched(logs):
    only = FakePage()
    other = FakePage()
    ctx = make_context(framework_config=FakeConfig(), page=other,
                       browser=FakeBrowser([FakeBrowserContext([only])]))
    runwright.auto_after_scenario(ctx, scenario())
    assert only.close_calls == 0 and ctx.page is other
    assert not any("Cerradas" in m for m in logs())


def status_enum(name):
    from behave.model_core import Status
    if not hasattr(Status, name):
        pytest.skip(f"this behave has no Status.{name}")  # "error" came with behave 1.3
    return getattr(Status, name)


@pytest.mark.parametrize("status,registered", [
    ("failed", True), ("error", True), ("hook_error", True), ("passed", False), ("skipped", False),
    (pytest.param("enum:failed", True, id="Status.failed")),
    (pytest.param("enum:error", True, id="Status.error")),
    (pytest.param("enum:passed", False, id="Status.passed")),
])
@pytest.mark.parametrize("kind", [PlainContext, KeyErrorContext])
def test_failed_scenarios_registered_for_retry(logs, status, registered, kind):
    if status.startswith("enum:"):
        status = status_enum(status[5:])
    ctx = make_context(kind, framework_config=FakeConfig({"retry_failed_scenarios": True}))
    sc = scenario(name="Checkout", status=status, line=12, filename="features/shop.feature")
    runwright.auto_after_scenario(ctx, sc)
    if registered:
        assert ctx._failed_scenarios_for_retry == [
            {"file": "features/shop.feature", "line": 12, "name": "Checkout", "scenario_obj": sc}]
        assert ctx._failed_scenarios_for_retry[0]["scenario_obj"] is sc
        assert "📝 Escenario fallido registrado para reintento: Checkout" in logs("INFO")
    else:
        assert "_failed_scenarios_for_retry" not in vars(ctx)
        assert logs() == []


def test_retry_registration_needs_setting_and_keeps_order(logs):
    ctx = make_context(framework_config=FakeConfig())
    runwright.auto_after_scenario(ctx, scenario(status="failed"))
    assert not hasattr(ctx, "_failed_scenarios_for_retry") and logs() == []

    ctx.framework_config.config["retry_failed_scenarios"] = True
    runwright.auto_after_scenario(ctx, scenario(name="A", status="failed"))
    runwright.auto_after_scenario(ctx, scenario(name="B", status="error"))
    assert [e["name"] for e in ctx._failed_scenarios_for_retry] == ["A", "B"]


def test_missing_settings_object_stops_scenario_end(events):
    ctx = make_context(jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira"))
    with pytest.raises(AttributeError):
        runwright.auto_after_scenario(ctx, scenario())
    assert events == []


def test_after_scenario_integrations_guarded_in_order(events, capsys):
    report = Recorder(events, "analysis")
    tarvo = Recorder(events, "tarvo", fail={"after_scenario"})
    tarvo.is_configured = True
    ctx = make_context(framework_config=FakeConfig(),
                       jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira", fail={"after_scenario"}),
                       meridio_enabled=True, meridio_hooks=Recorder(events, "meridio", fail={"after_scenario"}),
                       tarvo_tm_hooks=tarvo, ai_analysis_report=report)
    sc = scenario()
    runwright.auto_after_scenario(ctx, sc)
    assert events == [("jira", "after_scenario", (ctx, sc)), ("meridio", "after_scenario", (ctx, sc)),
                      ("tarvo", "after_scenario", (ctx, sc)), ("analysis", "record_scenario", (sc,))]
    assert capsys.readouterr().out.splitlines() == [
        "⚠️ Error en after_scenario Jira/Xray: jira after_scenario down",
        "⚠️ Error en after_scenario Meridio: meridio after_scenario down",
        "[TARVO-TM] Error en after_scenario: tarvo after_scenario down",
    ]


def test_analysis_report_failure_reaches_the_after_scenario_hook(events, capsys):
    class RecordError(Exception):
        pass

    class Report:
        def record_scenario(self, sc):
            events.append(("analysis", "record_scenario"))
            raise RecordError("plantilla rota")

    ctx = make_context(framework_config=FakeConfig(), ai_analysis_report=Report(),
                       meridio_enabled=True, meridio_hooks=Recorder(events, "meridio"))
    sc = scenario()
    with pytest.raises(RecordError, match="plantilla rota"):
        runwright.auto_after_scenario(ctx, sc)
    # the integrations ran first; the failure is not printed
    assert events == [("meridio", "after_scenario", (ctx, sc)), ("analysis", "record_scenario")]
    assert capsys.readouterr().out == ""


def test_after_scenario_switched_off_integrations_not_called(events, capsys):
    tarvo = Recorder(events, "tarvo")
    tarvo.is_configured = False
    ctx = make_context(framework_config=FakeConfig(),
                       jira_xray_enabled=False, jira_xray_hooks=Recorder(events, "jira"),
                       meridio_hooks=Recorder(events, "meridio"), tarvo_tm_hooks=tarvo,
                       ai_analysis_report=None)
    runwright.auto_after_scenario(ctx, scenario())
    assert events == [] and capsys.readouterr().out == ""


# ---------------------------------------------------------------------------
# Feature hooks
# ---------------------------------------------------------------------------


def test_before_feature_notifies_jira(events, capsys):
    feature = object()
    ctx = make_context(jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira"))
    runwright.auto_before_feature(ctx, feature)
    assert events == [("jira", "before_feature", (ctx, feature))]

    ctx.jira_xray_hooks = Recorder(events, "jira", fail={"before_feature"})
    runwright.auto_before_feature(ctx, feature)
    assert capsys.readouterr().out == "⚠️ Error en before_feature Jira/Xray: jira before_feature down\n"

    events.clear()
    runwright.auto_before_feature(make_context(jira_xray_hooks=Recorder(events, "jira")), feature)
    assert events == []


@pytest.fixture
def video_manager(monkeypatch, events):
    mod = types.ModuleType("tarvolab_framework.core.video_manager")
    mod.process_videos_with_intro = lambda video_dir: events.append(("videos", video_dir))
    monkeypatch.setitem(sys.modules, mod.__name__, mod)
    return mod


def test_after_feature_closes_every_page(logs, events, video_manager, capsys):
    pages = [FakePage(events=events, name=f"p{i}", close_fails=(i == 1)) for i in range(4)]
    browser = FakeBrowser([FakeBrowserContext(pages[:2]), FakeBrowserContext(pages[2:])])
    feature = object()
    ctx = make_context(browser=browser, page=pages[0], framework_config=FakeConfig({"record_video": True}),
                       jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira"))
    runwright.auto_after_feature(ctx, feature)
    assert [e[1] for e in events if e[0] == "close"] == ["p0", "p1", "p2", "p3"]
    assert ctx.page is None
    assert logs("INFO") == ["🧹 Páginas cerradas al finalizar el feature"]
    assert ("videos", "videos") in events
    assert events[-1] == ("jira", "after_feature", (ctx, feature))
    assert capsys.readouterr().out == ""


def test_after_feature_without_browser_still_runs_videos_and_jira(logs, events, video_manager):
    ctx = make_context(framework_config=FakeConfig({"record_video": True, "video_dir": "out/vids"}),
                       jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira"), browser=None)
    runwright.auto_after_feature(ctx, "feat")
    assert events == [("videos", "out/vids"), ("jira", "after_feature", (ctx, "feat"))]
    assert logs() == []


def test_after_feature_failures_printed_and_next_step_runs(monkeypatch, events, capsys):
    class BrokenBrowser:
        @property
        def contexts(self):
            raise RuntimeError("no contexts")

    # the video manager cannot be imported at all
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.video_manager", None)
    ctx = make_context(browser=BrokenBrowser(), framework_config=FakeConfig({"record_video": True}),
                       jira_xray_enabled=True, jira_xray_hooks=Recorder(events, "jira", fail={"after_feature"}))
    runwright.auto_after_feature(ctx, "feat")
    out = capsys.readouterr().out.splitlines()
    assert out[0] == "⚠️ Error cerrando páginas en after_feature: no contexts"
    assert out[1].startswith("⚠️ Error procesando videos con intro: ")
    assert out[2] == "⚠️ Error en after_feature Jira/Xray: jira after_feature down"


def test_after_feature_without_recording_leaves_video_manager_alone(monkeypatch, capsys):
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.video_manager", None)
    runwright.auto_after_feature(make_context(framework_config=FakeConfig()), "feat")
    runwright.auto_after_feature(make_context(framework_config=FakeConfig({"record_video": False})), "feat")
    runwright.auto_after_feature(make_context(), None)  # project code may pass no feature
    assert capsys.readouterr().out == ""


# ---------------------------------------------------------------------------
# setup_framework_context
# ---------------------------------------------------------------------------


class LaunchError(Exception):
    pass


@pytest.fixture
def run_setup(monkeypatch, events):
    """Fake FrameworkConfig, outside services and integration set-ups, all
    recording into `events`."""
    state = types.SimpleNamespace(launch_fails=False, test_data_fails=False, browser=object(),
                                  logger=logging.getLogger(LOGGER_NAME))

    class FakeFrameworkConfig:
        def __init__(self, env_file=None):
            events.append(("FrameworkConfig", env_file))
            self.config = {}

        def setup_logging(self):
            events.append(("setup_logging",))
            return state.logger

        def setup_playwright(self):
            events.append(("setup_playwright",))
            if state.launch_fails:
                raise LaunchError("Executable doesn't exist")
            return state.browser

        def get_test_data(self):
            events.append(("get_test_data",))
            if state.test_data_fails:
                raise KeyError("base_url")
            return {"base_url": "https://app.test"}

    class FakeLocator:
        def __init__(self):
            events.append(("ElementLocator",))
            self.locmender = object()
            self.variable_manager = None

    def component(label):
        return type(label, (), {"__init__": lambda self: events.append((label,))})

    class FakeAnalysis:
        def __init__(self):
            events.append(("AIAnalysisReport",))

        def start(self):
            events.append(("AIAnalysisReport.start",))

    monkeypatch.setattr(runwright, "FrameworkConfig", FakeFrameworkConfig, raising=False)
    monkeypatch.setattr(runwright, "ElementLocator", FakeLocator)
    monkeypatch.setattr(runwright, "VariableManager", component("VariableManager"))
    for name in ("jira_xray", "meridio", "tarvo_tm"):
        monkeypatch.setattr(runwright, f"_setup_{name}_integration",
                            (lambda n: lambda ctx: events.append(("integration", n)))(name), raising=False)
    for module, attr, value in (
            ("data_snapshot_manager", "DataSnapshotManager", component("DataSnapshotManager")),
            ("ai_report_generator", "AIReportGenerator", component("AIReportGenerator")),
            ("ai_analysis_report", "AIAnalysisReport", FakeAnalysis)):
        mod = types.ModuleType(f"tarvolab_framework.core.{module}")
        setattr(mod, attr, value)
        monkeypatch.setitem(sys.modules, mod.__name__, mod)
    monkeypatch.delenv("GENERATE_AI_REPORT", raising=False)
    monkeypatch.delenv("GENERATE_AI_ANALYSIS_REPORT", raising=False)
    return state


def test_run_setup_order_and_attributes(run_setup, events, logs):
    ctx = PlainContext()
    runwright.setup_framework_context(ctx, "conf/.env.qa")
    assert events == [
        ("FrameworkConfig", "conf/.env.qa"), ("setup_logging",), ("setup_playwright",),
        ("ElementLocator",), ("VariableManager",), ("DataSnapshotManager",),
        ("AIReportGenerator",), ("get_test_data",),
        ("integration", "jira_xray"), ("integration", "meridio"), ("integration", "tarvo_tm"),
    ]
    assert ctx.logger is run_setup.logger and ctx.browser is run_setup.browser
    assert ctx.element_locator.variable_manager is ctx.variable_manager
    assert ctx.locmender is ctx.element_locator.locmender
    assert (ctx._current_step_is_desktop, ctx._current_step_is_api, ctx._current_step_is_mobile) == (False,) * 3
    assert ctx._jira_config_scenario_results == [] and ctx._soft_assertion_failed_scenarios_count == 0
    assert ctx.last_api_response is None
    assert ctx.test_data == {"base_url": "https://app.test"}
    assert not hasattr(ctx, "ai_analysis_report")
    assert logs() == []


@pytest.mark.parametrize("report,analysis,has_report,has_analysis", [
    ("TRUE", "True", True, True),
    ("yes", "1", False, False),
    ("false", "TRUE", False, True),
])
def test_ai_report_switches(run_setup, events, monkeypatch, report, analysis, has_report, has_analysis):
    monkeypatch.setenv("GENERATE_AI_REPORT", report)
    monkeypatch.setenv("GENERATE_AI_ANALYSIS_REPORT", analysis)
    ctx = PlainContext()
    runwright.setup_framework_context(ctx)
    assert events[0] == ("FrameworkConfig", None)
    assert hasattr(ctx, "ai_report_generator") is has_report
    assert hasattr(ctx, "ai_analysis_report") is has_analysis
    if has_analysis:
        i = events.index(("AIAnalysisReport",))
        assert events[i + 1] == ("AIAnalysisReport.start",)


def test_report_generator_obtained_even_when_switched_off(run_setup, monkeypatch):
    monkeypatch.setenv("GENERATE_AI_REPORT", "false")
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.ai_report_generator", None)
    with pytest.raises(ImportError):
        runwright.setup_framework_context(PlainContext())


def test_test_data_failure_is_a_warning(run_setup, events, logs):
    run_setup.test_data_fails = True
    ctx = PlainContext()
    runwright.setup_framework_context(ctx)
    assert logs("WARNING") == ["Error configurando datos de prueba: 'base_url'"]
    assert ctx.test_data == {}
    assert [e for e in events if e[0] == "integration"] == [
        ("integration", "jira_xray"), ("integration", "meridio"), ("integration", "tarvo_tm")]


def test_browser_launch_failure_stops_setup(run_setup, events):
    run_setup.launch_fails = True
    ctx = KeyErrorContext()
    with pytest.raises(LaunchError, match="Executable doesn't exist"):
        runwright.setup_framework_context(ctx)
    assert events[-1] == ("setup_playwright",)
    assert hasattr(ctx, "framework_config") and hasattr(ctx, "logger")
    assert not hasattr(ctx, "element_locator") and not hasattr(ctx, "browser")
    assert "_current_step_is_desktop" not in vars(ctx)


@pytest.mark.parametrize("bad", [5, b".env", ["x"]])
def test_env_file_must_be_text(run_setup, events, bad):
    with pytest.raises(TypeError, match="env_file"):
        runwright.setup_framework_context(PlainContext(), bad)
    assert events == []
