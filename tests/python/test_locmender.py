"""Locmender as Python sees it: attribute shapes, argument refusals, provider
failures, hostile AI answers, a page that dies mid-healing, and one real
headless Chromium run."""
import logging
import os
import sys
import types

import pytest

from tarvolab_framework.core.locmender import Locmender

LOGGER = "tarvolab_framework.core.locmender"
SETTINGS = [
    "SELF_HEALING_ENABLED", "SELF_HEALING_MODEL", "SELF_HEALING_AUTO_UPDATE_POM", "SELF_HEALING_MAX_RETRIES",
    "SELF_HEALING_LOG_SUGGESTIONS", "SELF_HEALING_MAX_HTML_LENGTH", "SELF_HEALING_CONFIDENCE_THRESHOLD",
]


class PageClosed(Exception):
    pass


class FakeLocator:
    def __init__(self, page, selector, index=None):
        self.page, self.selector, self.index = page, selector, index

    def _matches(self):
        found = self.page.elements.get(self.selector, [])
        if self.index is None:
            return found
        return found[self.index:self.index + 1]

    def count(self):
        return len(self._matches())

    def nth(self, i):
        return FakeLocator(self.page, self.selector, i)

    def is_visible(self):
        m = self._matches()
        return bool(m and m[0])

    def evaluate(self, script):
        return bool(self._matches()[0])


class FakePage:
    def __init__(self, elements=None, url="https://shop.example.com/login", url_reads_before_closing=None):
        self.elements = elements or {}
        self._url = url
        self.url_reads = 0
        self.url_reads_before_closing = url_reads_before_closing
        self.touched = False

    @property
    def url(self):
        self.touched = True
        self.url_reads += 1
        if self.url_reads_before_closing is not None and self.url_reads > self.url_reads_before_closing:
            raise PageClosed("Target page, context or browser has been closed")
        return self._url

    def title(self):
        return "Tienda"

    def evaluate(self, script):
        if "className" in script:
            return ""
        return "<button id='real'>Entrar</button>"

    def locator(self, selector):
        if selector.startswith("div:has("):
            raise RuntimeError("Unexpected token in selector")
        return FakeLocator(self, selector)


class FakeProvider:
    def __init__(self, *answers):
        self.answers = list(answers)
        self.calls = []

    def generate(self, prompt, temperature=None):
        self.calls.append((prompt, temperature))
        answer = self.answers.pop(0) if self.answers else None
        if isinstance(answer, BaseException):
            raise answer
        return answer


@pytest.fixture
def env(monkeypatch):
    for name in SETTINGS:
        monkeypatch.delenv(name, raising=False)
    monkeypatch.setenv("SELF_HEALING_ENABLED", "true")
    return monkeypatch


@pytest.fixture
def factory_module(monkeypatch):
    """Installs a fake tarvolab_framework.core.ai_provider whose factory runs `behaviour(model)`."""
    def install(behaviour):
        module = types.ModuleType("tarvolab_framework.core.ai_provider")
        module.calls = []

        def get_ai_provider(model=None):
            module.calls.append(model)
            return behaviour(model)

        module.get_ai_provider = get_ai_provider
        monkeypatch.setitem(sys.modules, "tarvolab_framework.core.ai_provider", module)
        import tarvolab_framework.core as core_pkg
        monkeypatch.setattr(core_pkg, "ai_provider", module, raising=False)
        return module
    return install


def heal(m, page, failed="#old-login"):
    return m.attempt_heal(page, failed, "login_button", "click", "When hago clic en entrar", "Acceso", "Login")


def test_settings_and_python_visible_shape(env):
    env.setenv("SELF_HEALING_MODEL", "")
    m = Locmender()
    assert (m.enabled, m.model, m.auto_update_pom, m.max_retries, m.log_suggestions, m.max_html_length) == (
        True, None, False, 2, True, 15000)
    assert isinstance(m.confidence_threshold, float) and m.confidence_threshold == 0.7
    assert m._provider is None and m._verified_nth_index is None
    assert m._cache == {} and m._failed_suggestions == {}
    assert type(m.healing_log) is list

    summary = m.get_healing_summary()
    assert list(summary) == ["total_attempts", "successful", "failed", "success_rate", "healings"]
    assert summary["success_rate"] == "N/A" and summary["healings"] is m.healing_log
    m._register_healing("#a", "#b >> nth=1", "e", "click", "s", "sc", "f", "https://u", 1)
    m._register_healing("#a", "#c", "e", "click", "s", "sc", "f", "https://u", 0)
    m._register_healing("#a", "#d", "e", "click", "s", "sc", "f", "https://u", [])
    entry = summary["healings"][0]
    assert list(entry) == ["timestamp", "feature", "scenario", "step", "element_name", "action",
                           "original_selector", "suggested_selector", "page_url", "success"]
    assert entry["success"] is True and summary["healings"][1]["success"] is False
    assert m.get_healing_summary()["success_rate"] == "33.3%"
    reports = m.get_healing_report_entries()
    assert [r["status"] for r in reports] == ["healed", "failed", "failed"]
    assert "'#b >> nth=1'" in reports[0]["message"]
    m.clear_log()
    assert summary["healings"] == [] and m.healing_log is summary["healings"]

    m.enabled, m.model, m.max_retries, m._verified_nth_index = False, "gemini-x", 0, 3
    assert (m.enabled, m.model, m.max_retries, m._verified_nth_index) == (False, "gemini-x", 0, 3)
    m._verified_nth_index = None
    assert m._verified_nth_index is None


@pytest.mark.parametrize("name,value", [("SELF_HEALING_MAX_RETRIES", "two"),
                                        ("SELF_HEALING_MAX_HTML_LENGTH", "1.5"),
                                        ("SELF_HEALING_CONFIDENCE_THRESHOLD", "high")])
def test_unconvertible_setting_is_a_value_error(env, name, value):
    env.setenv(name, value)
    with pytest.raises(ValueError, match=name):
        Locmender()


def test_argument_kinds_are_refused_before_anything_happens(env):
    m = Locmender()
    m._provider = FakeProvider("#real")
    good = ["#old", "btn", "click", "step", "scenario", "feature"]
    names = ["failed_selector", "element_name", "action_context", "step_text", "scenario_name", "feature_name"]
    for i, name in enumerate(names):
        for bad in (None, 3, b"#x"):
            page = FakePage()
            args = list(good)
            args[i] = bad
            with pytest.raises(TypeError, match=name):
                m.attempt_heal(page, *args)
            assert not page.touched
    with pytest.raises(TypeError, match="failed_attempts"):
        m._build_retry_prompt("#a", "e", "a", "s", "sc", "f", "u", "t", "<html>", ({"selector": "#x", "reason": "r"},))
    with pytest.raises(TypeError, match="page_url"):
        m._register_healing("#a", "#b", "e", "a", "s", "sc", "f", None, True)
    with pytest.raises(TypeError, match="selector"):
        m._is_valid_selector(None)
    assert m.healing_log == []


def test_missing_factory_module_disables_with_one_warning(env, caplog, monkeypatch):
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.ai_provider", None)  # import fails
    m = Locmender()
    page = FakePage({"#real": [True]})
    with caplog.at_level(logging.DEBUG, logger=LOGGER):
        assert heal(m, page) is None
        assert heal(m, page) is None
    warnings = [r.getMessage() for r in caplog.records if r.name == LOGGER]
    assert len(warnings) == 1
    assert warnings[0].startswith("SELF_HEALING: No se pudo inicializar proveedor de IA: ")
    assert m.enabled is False and m._provider is None


@pytest.mark.parametrize("failure", [ImportError("No module named 'google.genai'"), ValueError("bad model")])
def test_factory_import_or_value_failure_disables(env, caplog, factory_module, failure):
    def boom(model):
        raise failure
    module = factory_module(boom)
    env.setenv("SELF_HEALING_MODEL", "gemini-x")
    m = Locmender()
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        assert m._get_provider() is None
    assert module.calls == ["gemini-x"]
    assert caplog.records[-1].getMessage() == "SELF_HEALING: No se pudo inicializar proveedor de IA: " + str(failure)
    assert m.enabled is False


def test_other_factory_failures_reach_heal_caller_unchanged(env, caplog, factory_module):
    class Broken(RuntimeError):
        pass

    def boom(model):
        raise Broken("disk full")
    factory_module(boom)
    m = Locmender()
    with pytest.raises(Broken, match="disk full"):
        heal(m, FakePage())
    assert m.enabled is True
    with caplog.at_level(logging.ERROR, logger=LOGGER):
        assert m._call_gemini("prompt") is None
    assert caplog.records[-1].getMessage() == "SELF_HEALING: Error llamando a proveedor de IA: disk full"


def test_factory_result_is_stored_and_reused(env, factory_module):
    provider = FakeProvider("#real")
    module = factory_module(lambda model: provider)
    m = Locmender()
    assert heal(m, FakePage({"#real": [True]})) == "#real"
    assert m._provider is provider and module.calls == [None]
    assert m._get_provider() is provider and module.calls == [None]
    assert provider.calls[0][1] == 0.1


@pytest.mark.parametrize("answer", [
    "", None, 0, 42, ["#real"], "I think the button is the blue one.", "```css\n#real\n```",
    "Sorry, no se encontró", "#" + "a" * 200000, "div:has(#x)", "javascript:alert(1)",
    RuntimeError("quota"), "NO_MATCH", "  no_match  \nexplanation", "\x00", "//*[",
])
def test_any_answer_never_crashes_nor_yields_unverified_selector(env, capsys, answer):
    m = Locmender()
    m.max_retries = 1
    m._provider = FakeProvider(answer, answer)
    page = FakePage({"#real": [True]})
    result = heal(m, page)
    assert result is None
    assert all(not e["success"] for e in m.healing_log)
    assert m._cache == {}
    assert "🤖 Llamada IA #1..." in capsys.readouterr().out


def test_overlong_answer_is_refused_even_when_the_page_would_match_it(env, capsys, caplog):
    huge = "#" + "a" * 1_000_000  # one line, only selector characters
    m = Locmender()
    m._provider = FakeProvider("#gone", huge, "#real")
    page = FakePage({huge: [True], "#real": [True]})
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        assert heal(m, page) is None
    out = capsys.readouterr().out
    assert len(out) < 2000 and "   ❌ IA no pudo sugerir un selector" in out.splitlines()
    assert [e["suggested_selector"] for e in m.healing_log] == ["#gone"]
    assert len(m._provider.calls) == 2
    assert caplog.records[-1].getMessage().endswith("... (1000001 caracteres)")
    assert m._is_valid_selector("#" + "a" * 999) and not m._is_valid_selector("#" + "a" * 1000)


def test_model_set_to_none_resets_it(env, factory_module):
    module = factory_module(lambda model: FakeProvider("#real"))
    m = Locmender()
    m.model = "gemini-x"
    m.model = None
    assert m.model is None
    m.enabled = None  # as falsy as in any Python attribute
    assert m.enabled is False
    m.enabled = True
    assert heal(m, FakePage({"#real": [True]})) == "#real"
    assert module.calls == [None]
    with pytest.raises(TypeError, match="model"):
        m.model = 3


def test_markdown_answer_is_cleaned_and_verified(env):
    m = Locmender()
    m._provider = FakeProvider("```\n#real\n```")
    assert heal(m, FakePage({"#real": [True]})) == "#real"


def test_generate_failure_is_logged_and_ends_healing(env, caplog, capsys):
    m = Locmender()
    m._provider = FakeProvider(RuntimeError("timeout"), "#real")
    with caplog.at_level(logging.ERROR, logger=LOGGER):
        assert heal(m, FakePage({"#real": [True]})) is None
    assert caplog.records[-1].getMessage() == "SELF_HEALING: Error llamando a proveedor de IA: timeout"
    assert capsys.readouterr().out.splitlines()[-1] == "   ❌ IA no pudo sugerir un selector"


def test_several_matches_and_cache_views(env, capsys):
    m = Locmender()
    m._provider = FakeProvider(".btn")
    page = FakePage({".btn": [False, True, True]})
    assert heal(m, page) == ".btn >> nth=1"
    assert m._verified_nth_index == 1
    assert m._cache == {"#old-login|https://shop.example.com/login": ".btn >> nth=1"}
    assert "   ℹ️  Múltiples elementos, usando el #2 (visible)" in capsys.readouterr().out.splitlines()
    assert heal(m, page) == ".btn >> nth=1"  # cached
    m.clear_cache()
    assert m._cache == {} and len(m.healing_log) == 1


def test_page_closed_mid_healing_raises_original_exception(env, capsys):
    m = Locmender()
    m._provider = FakeProvider("#gone", "#gone2")
    # The first reads (cache key, first prompt) work; the page then closes.
    page = FakePage({}, url_reads_before_closing=2)
    with pytest.raises(PageClosed, match="has been closed"):
        heal(m, page)
    assert m._failed_suggestions == {"#old-login|https://shop.example.com/login": ["#gone"]}
    assert m.healing_log == []
    # The manager stays usable.
    m._provider = FakeProvider("#real")
    assert heal(m, FakePage({"#real": [True]})) == "#real"


def test_capture_failure_gives_error_marker(env, caplog):
    class Dead(FakePage):
        def evaluate(self, script):
            raise PageClosed("closed")
    m = Locmender()
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        assert m._capture_relevant_html(Dead()) == "<error>No se pudo capturar el HTML de la página</error>"
    assert caplog.records[-1].getMessage() == "SELF_HEALING: Error capturando HTML: closed"
    assert m._is_salesforce_page(Dead(url_reads_before_closing=0)) is False


CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE")


@pytest.mark.skipif(not CHROMIUM, reason="TARVO_CHROMIUM_EXECUTABLE is not set")
def test_real_chromium_heal_and_capture(env):
    from playwright.sync_api import sync_playwright

    with sync_playwright() as p:
        browser = p.chromium.launch(headless=True, executable_path=CHROMIUM)
        try:
            page = browser.new_page()
            page.set_content(
                "<html><head><style>b{}</style></head><body class='app'>"
                "<script>window.clicked = 0</script><svg><circle r='1'/></svg>"
                "<noscript>nojs</noscript><a data-analytics='x' href='#'>a</a>"
                "<button id='real-button' onclick='window.clicked++'>Entrar</button>"
                "<button id='ghost' style='display:none'>Ghost</button></body></html>")
            m = Locmender()
            m._provider = FakeProvider("#ghost", "#missing", "#real-button")
            healed = m.attempt_heal(page, "#stale-button", "login_button", "click")
            assert healed == "#real-button"
            page.click(healed)
            assert page.evaluate("window.clicked") == 1
            assert [e["success"] for e in m.healing_log] == [False, False, True]

            html = m._capture_relevant_html(page)
            assert "real-button" in html
            for gone in ("<script", "<style", "<svg", "<noscript", "data-analytics"):
                assert gone not in html
            assert page.evaluate("document.querySelectorAll('script, svg').length") == 2  # live page untouched

            m.max_html_length = 10
            assert m._capture_relevant_html(page).endswith("<!-- [HTML TRUNCADO - se muestran los primeros elementos] -->")
            assert m._verify_selector(page, "div:has(") is False
            assert m._is_salesforce_page(page) is False

            page.close()
            with pytest.raises(Exception):
                m.attempt_heal(page, "#other", "x", "click")
        finally:
            browser.close()


class InterruptingLocator(FakeLocator):
    def _check(self, where):
        if self.page.where == where:
            raise self.page.exc

    def count(self):
        self._check("count")
        return super().count()

    def nth(self, i):
        self._check("nth")
        return InterruptingLocator(self.page, self.selector, i)

    def is_visible(self):
        self._check("is_visible")
        return super().is_visible()

    def evaluate(self, script):
        self._check("locator.evaluate")
        return super().evaluate(script)


class InterruptingPage(FakePage):
    """A page whose `where` call raises `exc` (a BaseException that is not an Exception)."""

    def __init__(self, where, exc, **kw):
        super().__init__(**kw)
        self.where, self.exc = where, exc

    def evaluate(self, script):
        if self.where == "evaluate" and "className" not in script:
            raise self.exc
        return super().evaluate(script)

    def locator(self, selector):
        if self.where == "locator":
            raise self.exc
        return InterruptingLocator(self, selector)


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3)], ids=["KeyboardInterrupt", "SystemExit"])
@pytest.mark.parametrize("where,elements,url", [
    ("generate", {"#real": [True]}, "https://shop.example.com/login"),
    ("evaluate", {"#real": [True]}, "https://shop.example.com/login"),
    ("locator", {"#real": [True]}, "https://shop.example.com/login"),
    ("count", {"#real": [True]}, "https://shop.example.com/login"),
    ("is_visible", {"#real": [True]}, "https://shop.example.com/login"),
    ("nth", {"#real": [False, True]}, "https://shop.example.com/login"),
    ("is_visible", {"#real": [False, True]}, "https://shop.example.com/login"),
    ("locator.evaluate", {"#real": [True]}, "https://acme.lightning.force.com/x"),
])
def test_interruptions_are_never_swallowed(env, exc, where, elements, url):
    # A KeyboardInterrupt or SystemExit inside a provider or page call stops the
    # healing with the original exception: it is neither logged as a failed call
    # nor taken as a failed (or passed) check.
    m = Locmender()
    m._provider = FakeProvider(exc if where == "generate" else "#real")
    page = InterruptingPage(where, exc, elements=elements, url=url)
    with pytest.raises(type(exc)) as raised:
        heal(m, page)
    assert raised.value is exc
    assert m.healing_log == [] and m._cache == {}
    if where == "evaluate":
        with pytest.raises(type(exc)):
            m._capture_relevant_html(page)
    m._provider = FakeProvider("#real")
    assert heal(m, FakePage({"#real": [True]})) == "#real"


def test_texts_that_are_not_valid_unicode_are_value_errors(env):
    m = Locmender()
    page = FakePage()
    with pytest.raises(ValueError):
        m.attempt_heal(page, "#a\ud800", "e", "click")
    assert not page.touched
    with pytest.raises(ValueError):
        m._is_valid_selector("#a\ud800")
    with pytest.raises(ValueError):
        m._build_prompt("\ud800", "", "", "", "", "", "", "", "")
    with pytest.raises(TypeError, match="failed_attempts"):
        m._build_retry_prompt("#a", "e", "a", "s", "sc", "f", "u", "t", "<html>", [{"selector": 1, "reason": "r"}])


def test_page_texts_with_half_an_emoji_still_heal(env, capsys, caplog):
    # A JavaScript string cut inside an emoji reaches Python with a lone surrogate
    # (Chromium keeps it in the DOM and in document.title); the healing goes on
    # with '?' in its place.
    class HalfEmoji(FakePage):
        def title(self):
            return "Oferta \ud83d"

        def evaluate(self, script):
            if "className" in script:
                return "app \ud83d"
            return "<button id='real'>Entrar \ud83d</button>"

    m = Locmender()
    m._provider = FakeProvider("#real\ud83d")
    with caplog.at_level(logging.WARNING, logger=LOGGER):
        assert m._call_gemini("prompt") is None
    assert caplog.records[-1].getMessage() == "SELF_HEALING: Selector inválido recibido de IA: #real?"
    m._provider = FakeProvider("#real")
    page = HalfEmoji({"#real": [True]}, url="https://shop.example.com/\ud83d")
    assert heal(m, page) == "#real"
    prompt = m._provider.calls[0][0]
    assert "Oferta ?" in prompt and "Entrar ?</button>" in prompt
    assert "https://shop.example.com/?" in prompt
    assert m._cache == {"#old-login|https://shop.example.com/?": "#real"}
    assert "   💡 IA sugiere: #real\n" in capsys.readouterr().out
