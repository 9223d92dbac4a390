"""End-of-run retry of failed scenarios (auto_after_all, _execute_retry,
_ensure_browser_for_retry) with a fake runner context, pages and settings object;
plus one real behave run that retries through behave's own execute_steps."""

import os
import subprocess
import sys
import textwrap
from types import SimpleNamespace

import pytest

import tarvolab_framework.core.runwright as rw

RULE = "=" * 60


class Page:
    def __init__(self, log, name, goto_fails=False, close_fails=False):
        self.log, self.name, self.goto_fails, self.close_fails = log, name, goto_fails, close_fails

    def goto(self, url):
        self.log.append((self.name, "goto", url))
        if self.goto_fails:
            raise RuntimeError("Target closed")

    def close(self):
        self.log.append((self.name, "close"))
        if self.close_fails:
            raise RuntimeError("already closed")


class FrameworkConfig:
    def __init__(self, log, browser="browser", create_fails=False):
        self.log, self.browser, self.create_fails = log, browser, create_fails
        self.pages = 0

    def setup_playwright(self):
        self.log.append(("config", "setup_playwright"))
        self.browser = "new browser"
        return self.browser

    def create_page(self):
        if self.create_fails:
            raise RuntimeError("no context")
        self.pages += 1
        page = Page(self.log, f"page{self.pages}")
        self.log.append(("config", "create_page", page.name))
        return page


class Context:
    """Runner context whose execute_steps follows a script of results per call:
    True passes, an exception instance is raised."""

    def __init__(self, script=(), failed=None):
        self.log = []
        self.script = list(script)
        self.executed = []
        self.feature = "current feature"
        self.framework_config = FrameworkConfig(self.log)
        if failed is not None:
            self._failed_scenarios_for_retry = failed

    def execute_steps(self, text):
        self.executed.append((text, self.feature))
        result = self.script.pop(0) if self.script else True
        if isinstance(result, BaseException):
            raise result


def scenario(name, steps=(("Given ", "I open the login page"),), feature="login feature"):
    return SimpleNamespace(
        name=name, feature=feature,
        steps=[SimpleNamespace(keyword=k, name=n, table=None, text=None) for k, n in steps])


def entry(name, **kw):
    e = {"file": "features/x.feature", "line": 3, "name": name}
    e.update(kw)
    return e


@pytest.fixture
def retry_env(monkeypatch):
    monkeypatch.setenv("RETRY_FAILED_SCENARIOS", "true")
    monkeypatch.setenv("MAX_SCENARIO_RETRIES", "1")
    integrations = []
    monkeypatch.setattr(rw, "_auto_after_all_integrations", lambda ctx: integrations.append(ctx))
    return monkeypatch, integrations


def lines(capsys):
    return capsys.readouterr().out.split("\n")


SUMMARY_RULE = "=" * 70


def retry_block(out):
    """The retry pass's own lines: everything before the run-end outcome summary."""
    cut = out.find("\n" + SUMMARY_RULE + "\n📋 RESULTADO FINAL")
    return out if cut < 0 else out[:cut]


def test_passes_on_first_retry(retry_env, capsys):
    env, integrations = retry_env
    ctx = Context(script=[True], failed=[entry("Login", scenario_obj=scenario("Login"))])
    rw.auto_after_all(ctx)
    out = capsys.readouterr().out
    assert retry_block(out) == (
        f"\n{RULE}\n🔄 REINTENTOS: 1 escenario(s) fallido(s) detectado(s)\n"
        f"   Máximo reintentos configurados: 1\n{RULE}\n"
        "\n🔄 Reintento 1/1...\n   Escenarios a reintentar: 1\n"
        "\n   ▶ Reintentando: Login\n   ✅ Pasó en reintento 1\n"
        "\n✅ ¡Todos los escenarios pasaron en el reintento 1!\n"
        f"{RULE}\n\n")
    assert "📋 RESULTADO FINAL: 1 escenario(s)" in out  # the run-end summary follows
    assert ctx.executed == [("Given I open the login page\n", "login feature")]
    assert ctx.feature == "current feature"
    assert ctx.page is None  # the retry page is closed at the end
    assert integrations == [ctx]


def test_keeps_failing_for_three_attempts(retry_env, capsys):
    env, integrations = retry_env
    env.setenv("MAX_SCENARIO_RETRIES", "3")
    ctx = Context(script=[AssertionError("FAILED SUB-STEP: Then ok")] * 2 + [RuntimeError("Timeout 30000ms")],
                  failed=[entry("Checkout", scenario_obj=scenario("Checkout"))])
    rw.auto_after_all(ctx)
    out = retry_block(capsys.readouterr().out).split("\n")
    assert [l for l in out if l.startswith("🔄 Reintento")] == ["🔄 Reintento 1/3...", "🔄 Reintento 2/3...",
                                                                 "🔄 Reintento 3/3..."]
    assert out.count("   ❌ Sigue fallando") == 3
    assert out.count("      ASSERT: FAILED SUB-STEP: Then ok") == 2
    assert out.count("      ERROR: Timeout 30000ms") == 1
    tail = out[out.index("❌ 1 escenario(s) siguen fallando después de 3 reintento(s):"):]
    assert tail == ["❌ 1 escenario(s) siguen fallando después de 3 reintento(s):", "   - Checkout", RULE, "", ""]
    assert ctx.feature == "current feature"  # restored after failures too
    assert integrations == [ctx]


def test_zero_attempts_and_entries_without_steps(retry_env, capsys):
    env, _ = retry_env
    env.setenv("MAX_SCENARIO_RETRIES", "0")
    ctx = Context(failed=[entry("A", scenario_obj=scenario("A")), entry("B")])
    rw.auto_after_all(ctx)
    out = retry_block(capsys.readouterr().out).split("\n")
    assert ctx.executed == []
    assert "❌ 2 escenario(s) siguen fallando después de 0 reintento(s):" in out
    assert out[-5:] == ["   - A", "   - B", RULE, "", ""]

    # An entry without scenario_obj, or with no steps, stays failing.
    env.setenv("MAX_SCENARIO_RETRIES", "1")
    ctx = Context(failed=[entry("B"), entry("C", scenario_obj=scenario("C", steps=()))])
    rw.auto_after_all(ctx)
    out = lines(capsys)
    assert "      ⚠️ Escenario sin steps válidos" in out
    assert "      ⚠️ No hay steps para ejecutar" in out
    assert out.count("   ❌ Sigue fallando") == 2
    assert ctx.executed == []


def test_steps_keep_their_tables_and_doc_strings():
    ctx = Context()
    sc = scenario("Tabla", steps=(("Given ", "these users:"), ("  And ", "I log in as \"ana\"")))
    sc.steps[0].table = SimpleNamespace(headings=["user", "note"],
                                        rows=[SimpleNamespace(cells=["ana", "a|b"])])
    sc.steps[1].text = "a docstring\n  indented"
    assert rw._execute_retry(ctx, sc, None) is True
    # One step per call, each with its own table or doc string.
    assert ctx.executed == [
        ("Given these users:\n  | user | note |\n  | ana | a\\|b |\n", "login feature"),
        ("And I log in as \"ana\"\n  \"\"\"\n  a docstring\n    indented\n  \"\"\"\n", "login feature")]


def test_background_steps_run_before_the_scenarios_own():
    ctx = Context()
    sc = scenario("Con fondo", steps=(("Then ", "the title is shown"),))
    sc.background_steps = [SimpleNamespace(keyword="Given ", name="I open the shop")]
    assert rw._execute_retry(ctx, sc, None) is True
    assert ctx.executed == [("Given I open the shop\n", "login feature"), ("Then the title is shown\n", "login feature")]


def test_feature_restored_after_any_failure(capsys):
    ctx = Context(script=[ZeroDivisionError("division by zero")])
    assert rw._execute_retry(ctx, scenario("X"), None) is False
    assert ctx.feature == "current feature"
    # A scenario without a feature: the swap itself fails, the feature is still restored.
    sc = scenario("Y")
    del sc.feature
    assert rw._execute_retry(ctx, sc, None) is False
    assert ctx.feature == "current feature"
    out = lines(capsys)
    assert out[0] == "      ERROR: division by zero"
    assert out[1].startswith("      ERROR: ") and "feature" in out[1]

    # A failure whose text cannot be taken: the feature is back, and a
    # placeholder stands for the text instead of failing the retry pass.
    class Unprintable(Exception):
        def __str__(self):
            raise LookupError("no text")

    ctx = Context(script=[Unprintable()])
    assert rw._execute_retry(ctx, scenario("Z"), None) is False
    assert ctx.feature == "current feature"
    assert lines(capsys)[0] == "      ERROR: <exception str() failed>"


def test_page_preparation(capsys):
    ctx = Context()
    log = ctx.log
    # No page: a new one is made.
    assert rw._execute_retry(ctx, scenario("A"), None)
    assert ctx.page.name == "page1"
    # Live page: navigated to about:blank and kept.
    assert rw._execute_retry(ctx, scenario("A"), None)
    assert ("page1", "goto", "about:blank") in log and ctx.page.name == "page1"
    # Navigation fails: closed (a close failure is ignored) and replaced.
    ctx.page.goto_fails = ctx.page.close_fails = True
    assert rw._execute_retry(ctx, scenario("A"), None)
    assert ("page1", "close") in log and ctx.page.name == "page2"
    # No page can be made: message and not passed, steps not run.
    ctx.page = None
    ctx.framework_config.create_fails = True
    executed = len(ctx.executed)
    assert rw._execute_retry(ctx, scenario("A"), None) is False
    assert len(ctx.executed) == executed
    assert lines(capsys)[0] == "      ⚠️ Error preparando página: no context"


def test_variables_cleared_and_bookkeeping_failure_counts_as_error(retry_env, capsys):
    env, integrations = retry_env
    cleared = []

    class Vars:
        def clear_scenario_variables(self):
            cleared.append(True)
            if len(cleared) > 1:
                raise RuntimeError("store locked")

    ctx = Context(script=[AssertionError("nope")],
                  failed=[entry("A", scenario_obj=scenario("A")), entry("B", scenario_obj=scenario("B"))])
    ctx.variable_manager = Vars()
    rw.auto_after_all(ctx)
    out = lines(capsys)
    assert cleared == [True, True]
    assert "      ASSERT: nope" in out
    assert "   ⚠️ Error: store locked" in out
    assert "❌ 2 escenario(s) siguen fallando después de 1 reintento(s):" in out


def test_ensure_browser_for_retry(capsys):
    ctx = Context()
    ctx.framework_config.browser = None
    rw._ensure_browser_for_retry(ctx)
    assert ctx.log[:2] == [("config", "setup_playwright"), ("config", "create_page", "page1")]
    assert not hasattr(ctx, "browser")  # the context's own browser attribute is left alone
    page = ctx.page
    rw._ensure_browser_for_retry(ctx)  # browser and page in place: nothing to do
    assert ctx.page is page and len(ctx.log) == 2
    ctx.page = None
    ctx.framework_config.create_fails = True
    rw._ensure_browser_for_retry(ctx)
    assert lines(capsys)[:2] == ["   🔄 Browser reinicializado para reintentos",
                                 "   ⚠️ Error preparando browser para reintento: no context"]
    rw._ensure_browser_for_retry(SimpleNamespace(framework_config=None))  # nothing to check


def test_bad_max_retries_fails_before_anything(retry_env, capsys):
    env, integrations = retry_env
    env.setenv("MAX_SCENARIO_RETRIES", "dos")
    env.delenv("RETRY_FAILED_SCENARIOS")  # fails even with retries off
    ctx = Context(failed=[entry("A", scenario_obj=scenario("A"))])
    with pytest.raises(ValueError, match="MAX_SCENARIO_RETRIES.*'dos'"):
        rw.auto_after_all(ctx)
    assert integrations == [] and capsys.readouterr().out == ""


def test_retries_off_or_nothing_failed_prints_nothing(retry_env, capsys):
    env, integrations = retry_env
    ctx = Context(failed=[entry("A", scenario_obj=scenario("A"))])
    env.setenv("RETRY_FAILED_SCENARIOS", "false")
    rw.auto_after_all(ctx)
    env.delenv("RETRY_FAILED_SCENARIOS")
    rw.auto_after_all(ctx)
    env.setenv("RETRY_FAILED_SCENARIOS", "true")
    rw.auto_after_all(Context())
    rw.auto_after_all(Context(failed=[]))

    class OldBehaveContext(Context):  # behave 1.2.6: a missing "_name" raises KeyError
        def __getattr__(self, name):
            raise KeyError(name) if name.startswith("_") else AttributeError(name)

    rw.auto_after_all(OldBehaveContext())
    assert capsys.readouterr().out == ""
    assert ctx.executed == [] and len(integrations) == 5


def test_retries_off_ignore_the_shape_of_the_failed_list(retry_env, capsys):
    env, integrations = retry_env
    env.delenv("RETRY_FAILED_SCENARIOS")

    class Unreadable:
        def __bool__(self):
            raise RuntimeError("no truth")

    for odd in (5, Unreadable(), [1, None]):
        rw.auto_after_all(Context(failed=odd))
    assert capsys.readouterr().out == ""
    assert len(integrations) == 3
    # with retries on, a list that cannot be walked fails the run end
    env.setenv("RETRY_FAILED_SCENARIOS", "true")
    with pytest.raises(TypeError):
        rw.auto_after_all(Context(failed=5))
    assert len(integrations) == 3


def test_integrations_looked_up_at_call_time(monkeypatch):
    monkeypatch.delenv("RETRY_FAILED_SCENARIOS", raising=False)
    monkeypatch.delenv("MAX_SCENARIO_RETRIES", raising=False)

    def broken(ctx):
        raise RuntimeError("replaced")

    monkeypatch.setattr(rw, "_auto_after_all_integrations", broken)
    with pytest.raises(RuntimeError, match="replaced"):
        rw.auto_after_all(Context())


FEATURE = """\
Feature: Retry demo

  Scenario: Flaky
    Given a step that fails the first time

  Scenario: Gone
    Given a step that nobody defined
"""

STEPS = """\
from behave import given

RUNS = {"n": 0}

@given("a step that fails the first time")
def step_flaky(context):
    RUNS["n"] += 1
    assert RUNS["n"] > 1, "first run fails"
"""

ENVIRONMENT = """\
from types import SimpleNamespace
import tarvolab_framework.core.runwright as rw

class Config:
    browser = "browser"
    def create_page(self):
        return SimpleNamespace(goto=lambda url: None, close=lambda: None)

def before_all(context):
    context.framework_config = Config()

def after_scenario(context, scenario):
    if scenario.status != "passed" and scenario.status != "skipped":
        try:
            failed = context._failed_scenarios_for_retry
        except (AttributeError, KeyError):  # behave 1.2.6 raises KeyError
            failed = context._failed_scenarios_for_retry = []
        failed.append(
            {"file": scenario.filename, "line": scenario.line, "name": scenario.name, "scenario_obj": scenario})

def after_all(context):
    rw.auto_after_all(context)
"""


def test_retry_through_real_behave(tmp_path):
    features = tmp_path / "features"
    (features / "steps").mkdir(parents=True)
    (features / "retry.feature").write_text(FEATURE)
    (features / "steps" / "steps.py").write_text(STEPS)
    (features / "environment.py").write_text(textwrap.dedent(ENVIRONMENT))
    env = dict(os.environ, RETRY_FAILED_SCENARIOS="true", MAX_SCENARIO_RETRIES="2")
    for var in ("JIRA_ENABLED", "MERIDIO_ENABLED", "TARVO_TM_ENABLED"):
        env.pop(var, None)
    proc = subprocess.run([sys.executable, "-m", "behave", "--no-capture", "--no-capture-stderr",
                           "-f", "plain", "features"],
                          cwd=tmp_path, env=env, capture_output=True, text=True, timeout=120)
    out = proc.stdout
    assert "🔄 REINTENTOS: 2 escenario(s) fallido(s) detectado(s)" in out, out + proc.stderr
    assert "   ✅ Pasó en reintento 1" in out
    # The undefined step cannot run: still failing, with behave's sub-step message.
    assert "      ASSERT: UNDEFINED SUB-STEP: Given a step that nobody defined" in out
    assert "❌ 1 escenario(s) siguen fallando después de 2 reintento(s):" in out
    assert "   - Gone" in out
