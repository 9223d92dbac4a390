"""The runner hooks of tarvolab_framework.hooks.hookrelay, driven with small fake
runner objects. Every callee the hooks reach is replaced on the module, so the
tests see the exact order of calls and the arguments passed."""

import importlib
import os
import subprocess
import sys
import textwrap
import types

import pytest

HOOKS = [
    "before_all",
    "before_feature",
    "before_scenario",
    "before_step",
    "after_step",
    "after_scenario",
    "after_feature",
    "after_all",
]
LIFECYCLE = [
    "setup_framework_context",
    "setup_scenario_context",
    "auto_before_feature",
    "auto_after_feature",
    "auto_after_scenario",
    "auto_after_all",
]
SOFT = [
    "before_scenario_soft_assertions",
    "after_step_soft_assertions",
    "after_scenario_soft_assertions",
]
DEPENDENCIES = {
    "tarvolab_framework.core.runwright": LIFECYCLE,
    "tarvolab_framework.core.soft_assertion_hooks": SOFT,
    "tarvolab_framework.plugins": ["PluginManager"],
}
NO_BROWSER_MESSAGE = "🚫 Tag @no_browser detectado - navegador desactivado"
TESTS_DIR = os.path.dirname(os.path.abspath(__file__))


def _stand_in(module_name, names):
    module = types.ModuleType(module_name)
    for name in names:
        if name == "PluginManager":
            setattr(module, name, type("PluginManager", (), {}))
        else:
            setattr(module, name, lambda *args: None)
    return module


def install_stand_ins():
    """Puts stand-ins into sys.modules for dependencies of hookrelay that this
    tree cannot provide (yet), so that the module loads; returns what to restore.
    When the real modules are complete nothing is replaced."""
    saved = {}
    for module_name, names in DEPENDENCIES.items():
        try:
            module = importlib.import_module(module_name)
            if all(hasattr(module, n) for n in names):
                continue
        except ImportError:
            pass
        saved[module_name] = sys.modules.get(module_name)
        sys.modules[module_name] = _stand_in(module_name, names)
    return saved


def restore_modules(saved):
    for module_name, module in saved.items():
        if module is None:
            sys.modules.pop(module_name, None)
        else:
            sys.modules[module_name] = module


@pytest.fixture(scope="module")
def hr():
    saved = install_stand_ins()
    try:
        return importlib.import_module("tarvolab_framework.hooks.hookrelay")
    finally:
        restore_modules(saved)


class Recorder:
    """Replaces every callee of the hooks and records (name, args) in order."""

    def __init__(self, hr, monkeypatch):
        self.calls = []
        self.managers = []
        self.fail = {}
        recorder = self

        for name in LIFECYCLE + SOFT:
            monkeypatch.setattr(hr, name, self._callee(name))

        class PluginManager:
            def __init__(self):
                recorder.managers.append(self)

            def __getattr__(self, hook):
                if hook not in HOOKS:
                    raise AttributeError(hook)
                return recorder._callee("plugin." + hook)

        monkeypatch.setattr(hr, "PluginManager", PluginManager)
        monkeypatch.setattr(hr, "_plugin_manager", None)

    def _callee(self, name):
        def call(*args, **kwargs):
            assert not kwargs
            self.calls.append((name, args))
            if name in self.fail:
                raise self.fail[name]

        return call

    def names(self):
        return [name for name, _ in self.calls]


@pytest.fixture
def rec(hr, monkeypatch):
    return Recorder(hr, monkeypatch)


class Ctx:
    """A plain runner context."""


class Behave126Ctx:
    """Context of behave 1.2.6 style: a missing attribute raises KeyError."""

    def __getattr__(self, name):
        raise KeyError(name)


class Logger:
    def __init__(self):
        self.infos = []

    def info(self, message):
        self.infos.append(message)


class Locator:
    def __init__(self, fail=None):
        self.calls = []
        self.fail = fail

    def set_healing_context(self, *args, **kwargs):
        assert not args
        self.calls.append(kwargs)
        if self.fail:
            raise self.fail


def ns(**kw):
    return types.SimpleNamespace(**kw)


# --- loading -----------------------------------------------------------------


def test_star_import_gives_exactly_the_eight_hooks(hr):
    names = {}
    exec("from tarvolab_framework.hooks.hookrelay import *", names)
    names.pop("__builtins__")
    assert sorted(names) == sorted(HOOKS)
    assert all(callable(f) for f in names.values())
    assert hr.os is os


def _run(script):
    env = dict(os.environ)
    env["PYTHONPATH"] = TESTS_DIR + os.pathsep + env.get("PYTHONPATH", "")
    prelude = "import sys, types\nfrom test_hookrelay import _stand_in, DEPENDENCIES\n"
    return subprocess.run(
        [sys.executable, "-c", prelude + textwrap.dedent(script)],
        capture_output=True,
        text=True,
        env=env,
        timeout=120,
    )


def test_load_binds_the_dependencies_and_starts_without_a_manager():
    result = _run(
        """
        fakes = {name: _stand_in(name, attrs) for name, attrs in DEPENDENCIES.items()}
        sys.modules.update(fakes)
        import os
        import tarvolab_framework.hooks.hookrelay as hr
        for module_name, attrs in DEPENDENCIES.items():
            for a in attrs:
                assert getattr(hr, a) is getattr(fakes[module_name], a), a
        assert hr.os is os
        assert hr._plugin_manager is None
        print("loaded")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "loaded"


@pytest.mark.parametrize(
    "setup, expected",
    [
        # plug-in package absent
        ("sys.modules['tarvolab_framework.plugins'] = None", "tarvolab_framework.plugins"),
        # a run-lifecycle function missing from runwright
        ("del sys.modules['tarvolab_framework.core.runwright'].auto_after_all", "auto_after_all"),
        ("del sys.modules['tarvolab_framework.core.soft_assertion_hooks']."
         "after_step_soft_assertions", "after_step_soft_assertions"),
    ],
)
def test_a_missing_dependency_fails_the_whole_load(setup, expected):
    result = _run(
        f"""
        sys.modules.update({{n: _stand_in(n, a) for n, a in DEPENDENCIES.items()}})
        {setup}
        try:
            import tarvolab_framework.hooks.hookrelay
        except ImportError as exc:
            text = str(exc) + " | " + str(exc.__cause__)
            print("ImportError:", text)
        else:
            print("loaded")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("ImportError:")
    assert expected in result.stdout


# --- order of calls ------------------------------------------------------------

ORDERS = {
    "before_all": ["setup_framework_context", "plugin.before_all"],
    "before_feature": ["auto_before_feature", "plugin.before_feature"],
    "before_scenario": ["setup_scenario_context", "before_scenario_soft_assertions",
                        "plugin.before_scenario"],
    "before_step": ["plugin.before_step"],
    "after_step": ["after_step_soft_assertions", "plugin.after_step"],
    "after_scenario": ["after_scenario_soft_assertions", "plugin.after_scenario",
                       "auto_after_scenario"],
    "after_feature": ["plugin.after_feature", "auto_after_feature"],
    "after_all": ["plugin.after_all", "auto_after_all"],
}


@pytest.mark.parametrize("hook", HOOKS)
def test_each_hook_calls_its_callees_in_order_with_the_runner_objects(hr, rec, hook, tmp_path,
                                                                       monkeypatch):
    monkeypatch.chdir(tmp_path)
    ctx = Ctx()
    args = (ctx,) if hook in ("before_all", "after_all") else (ctx, ns(name="thing", tags=[]))
    assert getattr(hr, hook)(*args) is None
    assert rec.names() == ORDERS[hook]
    for _, passed in rec.calls:
        assert len(passed) == len(args) and all(p is a for p, a in zip(passed, args))


def test_before_all_marks_the_plugin_system_after_the_framework_set_up(hr, rec, tmp_path,
                                                                      monkeypatch):
    monkeypatch.chdir(tmp_path)
    seen = []
    monkeypatch.setattr(hr, "setup_framework_context",
                        lambda c: seen.append(("setup", c.__dict__.get("_using_plugin_system"))))
    ctx = Ctx()
    hr.before_all(ctx)
    assert seen == [("setup", None)]
    assert ctx._using_plugin_system is True
    assert rec.names() == ["plugin.before_all"]


# --- failures ------------------------------------------------------------------


class PluginBoom(Exception):
    pass


@pytest.mark.parametrize(
    "hook, failing, expected_calls",
    [
        # A before-hook (and after_step) ends at its first failure.
        ("before_feature", "auto_before_feature", ["auto_before_feature"]),
        ("after_step", "after_step_soft_assertions", ["after_step_soft_assertions"]),
        # The other after-hooks still run the framework's own teardown: a plug-in
        # that raises must not cost the results files, the retry list or the retries.
        ("after_scenario", "plugin.after_scenario",
         ["after_scenario_soft_assertions", "plugin.after_scenario", "auto_after_scenario"]),
        ("after_scenario", "after_scenario_soft_assertions",
         ["after_scenario_soft_assertions", "plugin.after_scenario", "auto_after_scenario"]),
        ("after_feature", "plugin.after_feature", ["plugin.after_feature", "auto_after_feature"]),
        ("after_all", "plugin.after_all", ["plugin.after_all", "auto_after_all"]),
    ],
)
def test_a_failure_reaches_the_caller_unchanged(hr, rec, hook, failing, expected_calls):
    error = PluginBoom("plug-in broke")
    rec.fail[failing] = error
    args = (Ctx(),) if hook == "after_all" else (Ctx(), ns(name="x", tags=[]))
    with pytest.raises(PluginBoom) as info:
        getattr(hr, hook)(*args)
    assert info.value is error
    assert rec.names() == expected_calls


def test_a_failing_plugin_manager_construction_propagates(hr, rec, monkeypatch):
    def broken():
        raise RuntimeError("no plug-ins")

    monkeypatch.setattr(hr, "PluginManager", broken)
    with pytest.raises(RuntimeError, match="no plug-ins"):
        hr.before_feature(Ctx(), ns(name="f"))
    assert rec.names() == ["auto_before_feature"]
    assert hr._plugin_manager is None


# --- plug-in manager -------------------------------------------------------------


def test_plugin_manager_is_constructed_once_by_the_first_hook(hr, rec):
    ctx, feature, scenario, step = Ctx(), ns(name="f"), ns(name="s", tags=[]), ns(name="paso")
    for _ in range(3):
        hr.before_feature(ctx, feature)
        for _ in range(2):
            hr.before_scenario(ctx, scenario)
            hr.before_step(ctx, step)
            hr.after_step(ctx, step)
            hr.after_scenario(ctx, scenario)
        hr.after_feature(ctx, feature)
    hr.after_all(ctx)
    assert len(rec.managers) == 1
    assert hr._plugin_manager is rec.managers[0]
    assert hr._get_plugin_manager() is rec.managers[0]


def test_get_plugin_manager_keeps_a_manager_already_stored(hr, rec, monkeypatch):
    existing = object()
    monkeypatch.setattr(hr, "_plugin_manager", existing)
    assert hr._get_plugin_manager() is existing
    assert rec.managers == []


# --- no_browser ------------------------------------------------------------------


@pytest.mark.parametrize(
    "tags, browserless",
    [
        (["no_browser"], True),
        (["No_Browser"], True),
        (["smoke", "NO_BROWSER"], True),
        (["no_browser_x"], False),
        (["headless_no_browser"], False),
        (["@no_browser"], False),
        ([], False),
        (("smoke",), False),
    ],
)
def test_no_browser_tag_is_whole_tag_equality_after_lower_casing(hr, rec, tags, browserless,
                                                                 monkeypatch):
    ctx = Ctx()
    ctx.logger = Logger()
    seen = []
    monkeypatch.setattr(hr, "setup_scenario_context",
                        lambda c, s: seen.append(getattr(c, "browser_disabled", None)))
    hr.before_scenario(ctx, ns(name="s", tags=tags))
    if browserless:
        assert ctx.browser_disabled is True
        assert ctx.logger.infos == [NO_BROWSER_MESSAGE]
        assert seen == [True]  # set before the scenario set-up runs
    else:
        assert not hasattr(ctx, "browser_disabled")
        assert ctx.logger.infos == []


def test_no_browser_without_logger_and_only_the_scenarios_own_tags(hr, rec):
    ctx = Behave126Ctx()  # also: logger lookup raising KeyError counts as absent
    hr.before_scenario(ctx, ns(name="s", tags=["NO_BROWSER"]))
    assert ctx.__dict__["browser_disabled"] is True
    assert rec.names()[-1] == "plugin.before_scenario"

    ctx = Ctx()
    ctx.logger = Logger()
    scenario = ns(name="s", tags=[], feature=ns(tags=["no_browser"]))
    hr.before_scenario(ctx, scenario)
    assert not hasattr(ctx, "browser_disabled")
    hr.before_scenario(ctx, ns(name="no tags attribute"))
    assert not hasattr(ctx, "browser_disabled")


def test_a_failing_logger_ends_before_scenario(hr, rec):
    ctx = Ctx()
    ctx.logger = None  # present but unusable
    with pytest.raises(AttributeError):
        hr.before_scenario(ctx, ns(name="s", tags=["no_browser"]))
    assert rec.names() == []


# --- before_step healing context -------------------------------------------------


def test_before_step_hands_the_locator_the_four_named_values(hr, rec):
    ctx = Ctx()
    ctx.element_locator = Locator()
    ctx.scenario = ns(name="Login")
    ctx.feature = ns(name="Acceso")
    step = ns(name="hago clic en Entrar")
    hr.before_step(ctx, step)
    (kwargs,) = ctx.element_locator.calls
    assert list(kwargs) == ["step_text", "scenario_name", "feature_name", "action_context"]
    assert kwargs == {
        "step_text": "hago clic en Entrar",
        "scenario_name": "Login",
        "feature_name": "Acceso",
        "action_context": "hacer click en el elemento",
    }
    assert rec.names() == ["plugin.before_step"]


@pytest.mark.parametrize("ctx_class", [Ctx, Behave126Ctx])
def test_before_step_names_default_to_empty_and_without_locator_only_the_plugin_runs(
        hr, rec, ctx_class):
    ctx = ctx_class()
    ctx.__dict__["element_locator"] = Locator()
    hr.before_step(ctx, ns(name="I See The Page"))
    (kwargs,) = ctx.element_locator.calls
    assert (kwargs["scenario_name"], kwargs["feature_name"]) == ("", "")
    assert kwargs["action_context"] == "interactuar con el elemento (paso: I See The Page)"

    bare = ctx_class()
    hr.before_step(bare, ns(name="x"))
    assert rec.names() == ["plugin.before_step", "plugin.before_step"]


class RaisingFeature(Ctx):
    scenario = ns(name="Kept")

    @property
    def feature(self):
        raise RuntimeError("feature unreadable")


class RaisingScenario(Ctx):
    feature = ns(name="Never read")

    @property
    def scenario(self):
        raise ValueError("scenario unreadable")


@pytest.mark.parametrize(
    "ctx_class, names",
    [
        (RaisingFeature, ("Kept", "")),
        (RaisingScenario, ("", "")),
    ],
)
def test_failures_reading_the_names_are_swallowed(hr, rec, ctx_class, names, capsys):
    ctx = ctx_class()
    ctx.element_locator = Locator()
    hr.before_step(ctx, ns(name="leo el total"))
    (kwargs,) = ctx.element_locator.calls
    assert (kwargs["scenario_name"], kwargs["feature_name"]) == names
    assert capsys.readouterr() == ("", "")
    assert rec.names() == ["plugin.before_step"]


def test_empty_scenario_and_feature_give_empty_names(hr, rec):
    ctx = Ctx()
    ctx.element_locator = Locator()
    ctx.scenario = None
    ctx.feature = ""
    hr.before_step(ctx, ns(name="x"))
    assert ctx.element_locator.calls[0]["scenario_name"] == ""
    assert ctx.element_locator.calls[0]["feature_name"] == ""


def test_before_step_failures_skip_the_plugin(hr, rec):
    ctx = Ctx()
    ctx.element_locator = Locator()
    with pytest.raises(TypeError, match="step_text"):
        hr.before_step(ctx, ns(name=None))
    assert ctx.element_locator.calls == []

    error = PluginBoom("locator broke")
    ctx.element_locator = Locator(fail=error)
    with pytest.raises(PluginBoom) as info:
        hr.before_step(ctx, ns(name="clic"))
    assert info.value is error
    assert rec.names() == []


# --- _infer_action_from_step ------------------------------------------------------


@pytest.mark.parametrize(
    "text, expected",
    [
        ("El total DEBERÍA ser 10", "verificar/validar el elemento"),
        ("paso el mouse sobre el menú", "pasar el mouse sobre el elemento"),
        ("", "interactuar con el elemento (paso: )"),
        ("😀" * 100, "interactuar con el elemento (paso: " + "😀" * 80 + ")"),
        ("Ñandú " * 20, "interactuar con el elemento (paso: " + ("Ñandú " * 20)[:80] + ")"),
    ],
)
def test_infer_action_from_step(hr, text, expected):
    assert hr._infer_action_from_step(text) == expected


@pytest.mark.parametrize("bad", [None, 3, b"click", ["click"]])
def test_infer_action_from_step_refuses_non_text(hr, bad):
    with pytest.raises(TypeError, match=f"^step_text must be str, not {type(bad).__name__}$"):
        hr._infer_action_from_step(bad)


def test_refusal_names_the_type_as_python_does(hr):
    # The name Python's own messages give a type: the bare class name of a class
    # made in Python, "module.Name" for a type made in C outside builtins.
    import datetime

    class StepText:
        pass

    for bad, name in [(StepText(), "StepText"), (datetime.date(2020, 1, 1), "datetime.date"), (3.5, "float")]:
        with pytest.raises(TypeError, match=f"^step_text must be str, not {name}$"):
            hr._infer_action_from_step(bad)
    # The same name Python itself puts in a message about the type.
    with pytest.raises(TypeError, match="datetime.date found"):
        "".join([datetime.date(2020, 1, 1)])


def test_infer_action_keeps_undecodable_bytes(hr):
    assert hr._infer_action_from_step("x\udcff") == "interactuar con el elemento (paso: x\udcff)"


@pytest.mark.parametrize("hook", HOOKS)
def test_hooks_pass_none_arguments_on(hr, rec, hook, tmp_path, monkeypatch):
    # The hooks take whatever the caller passes, as Python functions would.
    monkeypatch.chdir(tmp_path)
    ctx = Ctx()
    args = (ctx,) if hook in ("before_all", "after_all") else (ctx, None)
    getattr(hr, hook)(*args)
    assert rec.names() == ORDERS[hook]
    assert all(passed == args for _, passed in rec.calls)


# --- .env in the working directory ------------------------------------------------

VAR = "TARVO_HOOKRELAY_TEST_VALUE"


@pytest.fixture
def env_var(monkeypatch):
    monkeypatch.setenv(VAR, "from_shell")  # restored after the test
    return VAR


def _setup_sees_env(hr, monkeypatch):
    seen = []
    monkeypatch.setattr(hr, "setup_framework_context", lambda c: seen.append(os.environ.get(VAR)))
    return seen


def test_before_all_loads_the_working_directory_env_with_override(hr, rec, env_var, tmp_path,
                                                                  monkeypatch):
    (tmp_path / ".env").write_text(f"{VAR}=from_file\n")
    monkeypatch.chdir(tmp_path)
    seen = _setup_sees_env(hr, monkeypatch)
    hr.before_all(Ctx())
    assert seen == ["from_file"]


def test_before_all_ignores_a_parent_env_and_prints_nothing_without_one(hr, rec, env_var, tmp_path,
                                                                        monkeypatch, capsys):
    (tmp_path / ".env").write_text(f"{VAR}=from_parent\n")
    (tmp_path / "project").mkdir()
    monkeypatch.chdir(tmp_path / "project")
    seen = _setup_sees_env(hr, monkeypatch)
    hr.before_all(Ctx())
    assert seen == ["from_shell"]
    assert capsys.readouterr() == ("", "")


def test_before_all_without_dotenv_skips_the_env_silently(hr, rec, env_var, tmp_path, monkeypatch,
                                                         capsys):
    (tmp_path / ".env").write_text(f"{VAR}=from_file\n")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setitem(sys.modules, "dotenv", None)  # import dotenv -> ImportError
    seen = _setup_sees_env(hr, monkeypatch)
    hr.before_all(Ctx())
    assert seen == ["from_shell"]
    assert capsys.readouterr() == ("", "")
    assert rec.names() == ["plugin.before_all"]


@pytest.mark.parametrize("error", [OSError("unreadable"), ImportError("inside the loader")])
def test_before_all_propagates_a_failure_while_loading_an_existing_env(hr, rec, tmp_path,
                                                                      monkeypatch, error):
    import dotenv

    (tmp_path / ".env").write_text("A=1\n")
    monkeypatch.chdir(tmp_path)

    def failing(*args, **kwargs):
        raise error

    monkeypatch.setattr(dotenv, "load_dotenv", failing)
    with pytest.raises(type(error)) as info:
        hr.before_all(Ctx())
    assert info.value is error
    assert rec.names() == []


def test_before_all_on_a_behave_126_context(hr, rec, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    ctx = Behave126Ctx()
    hr.before_all(ctx)
    assert ctx.__dict__["_using_plugin_system"] is True
    assert rec.names() == ["setup_framework_context", "plugin.before_all"]


# --- reads from behave's own layered context ----------------------------------------

BEHAVE_126 = os.path.join(os.path.dirname(os.path.dirname(TESTS_DIR)), "build", "behave-1.2.6")

LAYERED_READS = textwrap.dedent('''
    import json, sys, types
    from behave.configuration import Configuration
    from behave.runner import Context
    from tarvolab_framework.hooks import hookrelay as hr

    class Runner:
        config = Configuration([])

    class Locator:
        def __init__(self, tag):
            self.tag, self.calls = tag, []
        def set_healing_context(self, **kwargs):
            self.calls.append(kwargs)

    class Manager:
        def before_step(self, context, step):
            pass

    hr._plugin_manager = Manager()
    step = types.SimpleNamespace(name="hago clic en Entrar")
    out = {}

    # The run's layer below, the scenario's layer on top: both are seen, the
    # upper one first, as behave's own attribute lookup finds them.
    ctx = Context(Runner())
    root = Locator("root")
    ctx.element_locator = root
    ctx.feature = types.SimpleNamespace(name="Acceso")
    ctx._push()
    ctx.scenario = types.SimpleNamespace(name="Login")
    hr.before_step(ctx, step)
    out["layers"] = [root.calls[-1]["scenario_name"], root.calls[-1]["feature_name"]]
    upper = Locator("upper")
    ctx.element_locator = upper
    hr.before_step(ctx, step)
    out["upper"] = [len(root.calls), len(upper.calls)]
    ctx._pop()
    hr.before_step(ctx, step)
    out["popped"] = [len(root.calls), root.calls[-1]["scenario_name"]]

    # A name the context's class defines comes before every layer.
    class OwnContext(Context):
        @property
        def element_locator(self):
            return self.__dict__["_own_locator"]
    own = OwnContext(Runner())
    own._own_locator = Locator("own")
    own._stack[0]["element_locator"] = Locator("layer")
    hr.before_step(own, step)
    out["class_first"] = len(own._own_locator.calls)

    # Missing everywhere: nothing is called, and nothing is raised.
    hr.before_step(Context(Runner()), step)
    out["missing"] = "ok"
    print(json.dumps(out))
''')


@pytest.mark.parametrize("behave_path", [None, BEHAVE_126], ids=["behave-1.3", "behave-1.2.6"])
def test_before_step_reads_behave_contexts_in_behaves_own_order(behave_path):
    if behave_path and not os.path.isdir(behave_path):
        pytest.skip("behave 1.2.6 is installed by scripts/setup.sh into build/behave-1.2.6")
    env = dict(os.environ)
    if behave_path:
        env["PYTHONPATH"] = os.pathsep.join(p for p in (behave_path, env.get("PYTHONPATH")) if p)
    proc = subprocess.run([sys.executable, "-c", LAYERED_READS], capture_output=True, text=True, env=env,
                          timeout=120)
    assert proc.returncode == 0, proc.stderr
    import json

    assert json.loads(proc.stdout.strip().splitlines()[-1]) == {
        "layers": ["Login", "Acceso"], "upper": [1, 1], "popped": [2, ""], "class_first": 1, "missing": "ok"}


# --- the step hooks with the framework's own locator, manager and soft assertions --------


def test_step_hooks_with_the_frameworks_own_objects_do_what_their_methods_do(hr, monkeypatch):
    from tarvolab_framework.core import soft_assertion_hooks as sa
    from tarvolab_framework.core.element_locator import ElementLocator
    from tarvolab_framework.plugins import PluginManager

    monkeypatch.setattr(hr, "after_step_soft_assertions", sa.after_step_soft_assertions)
    manager = PluginManager(discover=False)
    monkeypatch.setattr(hr, "_plugin_manager", manager)
    seen = []

    class Quiet:  # defines no step hook, and a non-callable attribute of the name
        after_step = "not a method"

    class Listening:
        def before_step(self, context, step):
            seen.append(("before", step.name))

        def after_step(self, context, step):
            seen.append(("after", step.name))

    locator = ElementLocator.__new__(ElementLocator)  # no store or model: only the texts matter here
    ctx = Ctx()
    ctx.element_locator = locator
    ctx.scenario, ctx.feature = ns(name="Login"), ns(name="Acceso")
    ctx.soft_assertions = sa.SoftAssertionCollector()
    step = ns(name="hago clic en Entrar", keyword="When")

    manager.register(Quiet())
    hr.before_step(ctx, step)
    hr.after_step(ctx, step)
    assert locator.healing_context == {"step_text": "hago clic en Entrar", "scenario_name": "Login",
                                       "feature_name": "Acceso", "action_context": "hacer click en el elemento"}
    assert seen == []
    # Step texts met again get their own action text each time.
    for text, action in (("espero el aviso", "esperar a que el elemento esté disponible"),
                         ("hago clic en Entrar", "hacer click en el elemento"),
                         ("espero el aviso", "esperar a que el elemento esté disponible"),
                         ("Veo la tabla", "interactuar con el elemento (paso: Veo la tabla)")):
        hr.before_step(ctx, ns(name=text))
        assert (locator.healing_context["step_text"], locator.healing_context["action_context"]) == (text, action)

    # A plug-in registered later is called from the next step on; a soft failure is tagged.
    manager.register(Listening())
    ctx.soft_assertions.soft_assert(False, "falta el botón")
    hr.before_step(ctx, step)
    hr.after_step(ctx, step)
    assert seen == [("before", "hago clic en Entrar"), ("after", "hago clic en Entrar")]
    assert [str(f) for f in ctx.soft_assertions.failures] == ["[When hago clic en Entrar] falta el botón"]

    # A locator class, or a locator object, with its own set_healing_context is called.
    class OwnLocator(ElementLocator):
        def set_healing_context(self, **texts):
            seen.append(("locator", texts["step_text"]))

    ctx.element_locator = OwnLocator.__new__(OwnLocator)
    hr.before_step(ctx, ns(name="paso uno"))
    patched = ElementLocator.__new__(ElementLocator)
    patched.set_healing_context = lambda **texts: seen.append(("patched", texts["step_text"]))
    ctx.element_locator = patched
    hr.before_step(ctx, ns(name="paso dos"))
    assert ("locator", "paso uno") in seen and ("patched", "paso dos") in seen

    # A manager whose method was replaced on the object is called for every step.
    calls = []
    monkeypatch.setattr(manager, "after_step", lambda context, step: calls.append(step.name), raising=False)
    manager.plugins.clear()
    hr.after_step(ctx, ns(name="paso tres", keyword="Then"))
    assert calls == ["paso tres"]
