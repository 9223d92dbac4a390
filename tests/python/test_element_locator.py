"""ElementLocator against a page double and a stand-in self-healing manager."""

import gc
import os
import json
import sys
import types

import pytest

from playwright.sync_api import TimeoutError as PlaywrightTimeoutError

from tarvolab_framework.core import element_locator as el
from tarvolab_framework.core import heal_events


@pytest.fixture(autouse=True)
def _forget_heal_events():
    """Heals and stale locators of these tests stay out of the other tests' reports."""
    yield
    heal_events.clear()
from tarvolab_framework.core.variable_manager import VariableManager


class FakeLocator:
    def __init__(self, page, selector):
        self.page, self.selector = page, selector

    @property
    def first(self):
        return self

    def wait_for(self, state, timeout):
        self.page.waits.append((self.selector, state, timeout))
        present = self.page.visible if state == "visible" else self.page.present
        if self.selector not in present:
            raise PlaywrightTimeoutError(f"Timeout {timeout}ms exceeded")

    def _act(self, *action):
        if self.selector not in self.page.present:
            raise AssertionError(f"acting on missing element {self.selector}")
        self.page.actions.append(action + (self.selector,))

    def click(self):
        self._act("click")

    def fill(self, value):
        self._act("fill", value)

    def hover(self):
        self._act("hover")

    def select_option(self, value):
        self._act("select", value)
        return [value]

    def count(self):
        self.page.counts.append(self.selector)
        return int(self.selector in self.page.present)

    def inner_text(self):
        return self.page.texts.get(self.selector, "")

    def is_visible(self):
        return self.selector in self.page.visible

    def evaluate(self, script, arg=None, timeout=None):
        # The fingerprint of the one matching element (a button named after the
        # selector); the page-wide scripts see no elements.
        self.page.evaluations.append(self.selector)
        if self.selector == "html":
            return "[]"
        self.page.waits.append((self.selector, "attached", timeout))  # evaluate waits for the element
        if self.selector not in self.page.present:
            raise PlaywrightTimeoutError(f"Timeout {timeout}ms exceeded")
        return json.dumps({"tag": "button", "id": self.selector.lstrip("#"), "text": "Entrar"})

    def evaluate_all(self, script):
        self.page.evaluations.append(self.selector)
        if self.selector not in self.page.present:
            return None
        return json.dumps({"tag": "button", "id": self.selector.lstrip("#"), "text": "Entrar"})


class FakePage:
    url = "https://shop.test/login"

    def __init__(self, present=(), visible=None, texts=None):
        self.present = set(present)
        self.visible = set(present if visible is None else visible)
        self.texts = texts or {}
        self.waits, self.actions, self.counts, self.evaluations = [], [], [], []

    def locator(self, selector):
        return FakeLocator(self, selector)


class FakeLocmender:
    enabled = True
    confidence_threshold = 0.7
    max_html_length = 15000

    def __init__(self):
        self.answer = None
        self.calls = []
        self.healing_log = []

    def attempt_heal(self, *args, **kwargs):
        self.calls.append(args)
        return self.answer


@pytest.fixture
def locator(monkeypatch, tmp_path):
    from tarvolab_framework.core.locmender import FingerprintMatcher

    module = types.ModuleType("tarvolab_framework.core.locmender")
    module.Locmender = FakeLocmender
    module.FingerprintMatcher = FingerprintMatcher
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.locmender", module)
    monkeypatch.setenv("SELF_HEALING_STORE", str(tmp_path / "store.sqlite"))
    poms = tmp_path / "poms"
    poms.mkdir()
    (poms / "LoginPage.json").write_text(json.dumps({
        "username": "#user",
        "login_button": {"selector": "button.login", "description": "Entrar"},
        "broken": {"description": "no selector"},
    }))
    monkeypatch.setenv("JSON_POMS_PATH", str(poms))
    monkeypatch.delenv("LOCATOR_TIMEOUT", raising=False)
    return el.ElementLocator()


class TestPageObjects:
    def test_string_and_object_entries_resolve_to_selector_and_element_name(self, locator):
        assert locator.resolve("LoginPage.username") == ("#user", "username")
        assert locator.resolve("LoginPage.login_button") == ("button.login", "login_button")

    def test_reference_without_page_object_file_is_a_raw_selector(self, locator):
        assert locator.resolve("div.card") == ("div.card", "div.card")
        assert locator.resolve("//button[@id='x']") == ("//button[@id='x']", "//button[@id='x']")

    def test_unknown_element_or_entry_without_selector_is_a_clear_error(self, locator):
        with pytest.raises(el.PageObjectError, match="'password'.*'LoginPage'"):
            locator.resolve("LoginPage.password")
        with pytest.raises(el.PageObjectError, match="'broken'"):
            locator.resolve("LoginPage.broken")

    def test_malformed_page_object_file_names_the_file(self, locator, tmp_path):
        (tmp_path / "poms" / "Bad.json").write_text("{not json")
        with pytest.raises(el.PageObjectError, match="Bad.json"):
            locator.resolve("Bad.field")

    def test_edited_page_object_is_read_again(self, locator, tmp_path):
        path = tmp_path / "poms" / "LoginPage.json"
        assert locator.get_selector("LoginPage.username") == "#user"
        path.write_text(json.dumps({"username": "#login-user"}))
        os.utime(path, ns=(1, 10**18))
        assert locator.get_selector("LoginPage.username") == "#login-user"

    def test_bad_reference_kinds_are_refused(self, locator):
        with pytest.raises(TypeError, match="ref"):
            locator.find(FakePage(), None)
        with pytest.raises(ValueError):
            locator.resolve("  ")


class TestFindAndHeal:
    def test_found_element_waits_with_locator_timeout_and_never_heals(self, locator, monkeypatch):
        monkeypatch.setenv("LOCATOR_TIMEOUT", "1500")
        page = FakePage(present={"button.login"})
        locator.click(page, "LoginPage.login_button")
        assert page.waits == [("button.login", "attached", 1500.0)]
        assert page.actions == [("click", "button.login")]
        assert locator.locmender.calls == []

    def test_missing_element_is_healed_with_the_step_context_and_retried(self, locator):
        page = FakePage(present={"#new-login"})
        locator.locmender.answer = "#new-login"
        locator.set_healing_context(
            step_text='When hago clic en "Entrar"', scenario_name="Login ok",
            feature_name="Acceso", action_context="hacer click en el elemento",
        )
        locator.click(page, "LoginPage.login_button")
        assert locator.locmender.calls == [(
            page, "button.login", "login_button", "hacer click en el elemento",
            'When hago clic en "Entrar"', "Login ok", "Acceso",
        )]
        assert page.actions == [("click", "#new-login")]

    def test_a_selector_healed_on_a_url_is_not_waited_for_again_there(self, locator):
        page = FakePage(present={"#new"})
        locator.locmender.answer = "#new"
        locator.click(page, "#old")
        locator.click(page, "#old")
        # Waits with the locator's timeout (the checks of the answer have their own bound).
        waits = lambda: [w[0] for w in page.waits if w[2] != el.HEAL_EVAL_TIMEOUT_MS]  # noqa: E731
        assert waits() == ["#old", "#new", "#new"]
        assert page.counts == ["#old"] and len(locator.locmender.calls) == 2
        page.url = "https://shop.test/other"  # another URL: the full wait again
        locator.click(page, "#old")
        assert waits()[3:] == ["#old", "#new"]
        page.present.add("#old")  # the original came back: used again, no healing
        locator.click(page, "#old")
        assert page.actions[-1] == ("click", "#old") and len(locator.locmender.calls) == 3

    def test_raw_selector_is_its_own_element_name_and_action_falls_back_to_operation(self, locator):
        page = FakePage(present={"#b"})
        locator.locmender.answer = "#b"
        locator.hover(page, "#a")
        assert locator.locmender.calls[0][1:4] == ("#a", "#a", "hover")

    def test_no_replacement_fails_naming_element_selector_and_url_and_logs_it(self, locator, caplog):
        with pytest.raises(el.ElementNotFoundError) as info:
            locator.find(FakePage(), "LoginPage.login_button", timeout=10)
        error = info.value
        assert isinstance(error, AssertionError)
        for part in ("login_button", "button.login", "https://shop.test/login"):
            assert part in str(error)
        assert [r.getMessage() for r in caplog.records if r.levelname == "ERROR"] == [str(error)]

    def test_misspelt_page_name_is_named_when_its_selector_finds_nothing(self, locator, tmp_path):
        with pytest.raises(el.ElementNotFoundError) as info:
            locator.click(FakePage(), "LogniPage.username", timeout=10)
        assert str(tmp_path / "poms" / "LogniPage.json") in str(info.value)
        assert "'LogniPage.username' se usó como selector CSS" in str(info.value)
        for ref in ("LoginPage.username", "#user"):  # a real page object or a plain selector
            with pytest.raises(el.ElementNotFoundError) as info:
                locator.click(FakePage(), ref, timeout=10)
            assert info.value.hint is None and "CSS" not in str(info.value)

    def test_replacement_that_still_matches_nothing_fails_naming_both(self, locator):
        locator.locmender.answer = "#ghost"
        with pytest.raises(el.ElementNotFoundError, match="#ghost") as info:
            locator.click(FakePage(), "LoginPage.username")
        assert "#user" in str(info.value)

    def test_invalid_locator_timeout_is_a_value_error_naming_the_variable(self, locator, monkeypatch):
        monkeypatch.setenv("LOCATOR_TIMEOUT", "5s")
        with pytest.raises(ValueError, match="LOCATOR_TIMEOUT"):
            locator.find(FakePage(present={"#x"}), "#x")


class TestOperations:
    def test_fill_and_select_resolve_variables_through_the_variable_manager(self, locator):
        variables = VariableManager()
        variables.set_variable("user", "ana")
        locator.variable_manager = variables
        page = FakePage(present={"#user", "select#country"})
        locator.fill(page, "LoginPage.username", "${user}@test")
        assert locator.select_option(page, "select#country", "${missing}") == ["${missing}"]
        assert page.actions == [("fill", "ana@test", "#user"), ("select", "${missing}", "select#country")]

    def test_fill_without_variable_manager_types_text_as_given_and_refuses_non_text(self, locator):
        page = FakePage(present={"#user"})
        locator.fill(page, "#user", "${user}")
        assert page.actions == [("fill", "${user}", "#user")]
        with pytest.raises(TypeError, match="text"):
            locator.fill(page, "#user", 42)

    def test_is_visible_reports_absence_without_healing(self, locator):
        page = FakePage(present={"#hidden"}, visible=set())
        assert locator.is_visible(page, "#hidden") is False
        assert locator.is_visible(page, "#absent", timeout=5) is False
        assert locator.is_visible(FakePage(present={"#x"}), "#x") is True
        assert locator.locmender.calls == []


class TestConstructionAndContext:
    def test_missing_locmender_module_fails_construction(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "tarvolab_framework.core.locmender", None)
        with pytest.raises(ImportError):
            el.ElementLocator()

    def test_healing_context_refuses_non_text_and_treats_none_as_empty(self, locator):
        locator.set_healing_context(step_text=None, scenario_name="S")
        assert locator.healing_context == {
            "step_text": "", "scenario_name": "S", "feature_name": "", "action_context": "",
        }
        with pytest.raises(TypeError, match="feature_name"):
            locator.set_healing_context(feature_name=3)

    def test_active_locmender_follows_the_newest_locator_and_does_not_keep_it_alive(self, locator):
        newest = el.ElementLocator()
        assert el.active_locmender() is newest.locmender
        del newest
        gc.collect()
        assert el.active_locmender() is None


CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE") or next(
    (p for p in ("/usr/lib/chromium/chromium", "/usr/bin/chromium") if os.path.exists(p)), None)


@pytest.mark.skipif(CHROMIUM is None, reason="Chromium not installed")
def test_real_page_find_heal_and_operations(locator, monkeypatch):
    """The Playwright calls themselves: attached wait, time-out class, actions, healing retry."""
    from playwright.sync_api import sync_playwright

    monkeypatch.setenv("LOCATOR_TIMEOUT", "1500")  # generous: shared, loaded machines
    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path=CHROMIUM, headless=True)
        try:
            page = browser.new_page()
            page.set_content(
                "<input id='user'><button class='login-v2' onclick=\"document.title='ok'\">Entrar</button>"
                "<select id='c'><option value='es'>España</option><option value='cl'>Chile</option></select>"
                "<p id='msg' style='display:none'>oculto</p><h1>Hola</h1>"
            )
            locator.variable_manager = VariableManager()
            locator.variable_manager.set_variable("name", "ana")
            locator.fill(page, "LoginPage.username", "${name}")
            assert page.input_value("#user") == "ana"
            assert locator.select_option(page, "#c", "cl") == ["cl"]
            assert locator.get_text(page, "h1") == "Hola"
            assert locator.is_visible(page, "#msg") is False
            assert locator.is_visible(page, "#user", timeout=1500) is True

            locator.locmender.answer = "button.login-v2 >> nth=0"
            locator.click(page, "LoginPage.login_button")  # "button.login" is gone: healed
            assert page.title() == "ok"
            locator.locmender.answer = None
            with pytest.raises(el.ElementNotFoundError, match="about:blank"):
                locator.find(page, "#nothing")
        finally:
            browser.close()


def _real_locmender():
    try:
        import importlib
        return getattr(importlib.import_module("tarvolab_framework.core.locmender"), "Locmender", None)
    except ImportError:
        return None


@pytest.mark.skipif(CHROMIUM is None or _real_locmender() is None,
                    reason="needs Chromium and the compiled Locmender")
def test_real_locmender_heals_a_click_and_feeds_the_report(monkeypatch, tmp_path):
    """Locator, self-healing extension and report writer together, AI answer stubbed."""
    from playwright.sync_api import sync_playwright

    from tarvolab_framework.core.ai_report_generator import AIReportGenerator

    provider = types.ModuleType("tarvolab_framework.core.ai_provider")
    provider.get_ai_provider = lambda model=None: types.SimpleNamespace(
        generate=lambda prompt, temperature=0.0: "button.login-v2")
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.ai_provider", provider)
    monkeypatch.setenv("SELF_HEALING_ENABLED", "true")
    monkeypatch.setenv("LOCATOR_TIMEOUT", "1500")  # generous: shared, loaded machines
    monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path))
    monkeypatch.setenv("SELF_HEALING_STORE", str(tmp_path / "healing.sqlite"))
    locator = el.ElementLocator()
    locator.set_healing_context(step_text="When hago clic en entrar", scenario_name="Login",
                                feature_name="Acceso", action_context="hacer click en el elemento")
    with sync_playwright() as driver:
        browser = driver.chromium.launch(executable_path=CHROMIUM, headless=True)
        try:
            page = browser.new_page()
            page.set_content("<button class='login-v2' onclick=\"document.title='ok'\">Entrar</button>")
            locator.click(page, "button.login")
            assert page.title() == "ok"
        finally:
            browser.close()
    assert el.active_locmender() is locator.locmender
    [entry] = locator.locmender.get_healing_report_entries()
    assert (entry["status"], entry["scenario"], entry["step"]) == ("healed", "Login", "When hago clic en entrar")
    html = open(AIReportGenerator().generate_report(), encoding="utf-8").read()
    assert "button.login-v2" in html and "Acceso" in html
