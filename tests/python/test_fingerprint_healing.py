"""Fingerprint healing in a real headless Chromium: recording, heals without a model,
stale locators, strict mode, and pages that are busy, hostile or gone."""
import json
import time
import types
import sys

import pytest

from tarvolab_framework.core import element_locator as el
from tarvolab_framework.core import heal_events


@pytest.fixture(autouse=True)
def _forget_heal_events():
    """Heals and stale locators of these tests stay out of the other tests' reports."""
    yield
    heal_events.clear()

from chromium_page import CHROMIUM, browser, page  # noqa: F401 (fixtures)

pytestmark = pytest.mark.skipif(CHROMIUM is None, reason="needs Chromium")

MODEL_CALLS = []  # prompts the stand-in model was sent
MODEL_ANSWERS = []  # its answers, in order; NO_MATCH once they run out

ROWS_V1 = """<ul id="rows">
  <li><span>Factura 7</span> <button class="edit">Editar factura 7</button></li>
  <li><span>Factura 8</span> <button class="edit">Editar factura 8</button></li>
</ul>"""
ROWS_V2 = """<ul id="rows">
  <li><span>Albarán 3</span> <input type="checkbox" aria-label="Seleccionar albarán"></li>
  <li><span>Factura 8</span> <button class="edit">Editar factura 8</button></li>
</ul>"""


def make_locator(monkeypatch, tmp_path, **settings):
    provider = types.ModuleType("tarvolab_framework.core.ai_provider")
    MODEL_CALLS.clear()

    def generate(prompt, temperature=0.1):
        MODEL_CALLS.append(prompt)
        return MODEL_ANSWERS.pop(0) if MODEL_ANSWERS else "NO_MATCH"

    provider.get_ai_provider = lambda model=None: types.SimpleNamespace(generate=generate)
    monkeypatch.setitem(sys.modules, "tarvolab_framework.core.ai_provider", provider)
    monkeypatch.setenv("SELF_HEALING_STORE", str(tmp_path / "healing.sqlite"))
    monkeypatch.setenv("SELF_HEALING_ENABLED", "true")
    monkeypatch.setenv("LOCATOR_TIMEOUT", "1500")  # generous: shared, loaded machines
    for name, value in settings.items():
        monkeypatch.setenv(name, value)
    return el.ElementLocator()


def test_heal_without_model_and_reuse_in_a_later_run(monkeypatch, tmp_path, page):
    first = make_locator(monkeypatch, tmp_path)
    page.set_content("<form><label for=q>Buscar</label><input id=q name=q>"
                     "<button id=go class='btn primary'>Buscar ahora</button></form>")
    first.find(page, "#go")
    assert first.last_heal is None
    page.set_content("<form><label for=q>Buscar</label><input id=q name=q>"
                     "<div><button id=go-search class='h1x2'>Buscar ahora</button></div>"
                     "<button id=reset>Limpiar</button></form>")
    found = first.find(page, "#go")
    assert found.evaluate("el => el.id") == "go-search"
    heal = first.last_heal
    assert (heal["element"], heal["old_selector"], heal["new_selector"], heal["source"],
            heal["model_calls"]) == ("#go", "#go", "#go-search", "fingerprint", 0)
    assert 0.7 <= heal["score"] <= 1
    assert MODEL_CALLS == []
    first.store.close()

    later = make_locator(monkeypatch, tmp_path)  # a new run, same store
    later.find(page, "#go")
    assert later.last_heal["source"] == "store" and later.last_heal["new_selector"] == "#go-search"
    assert MODEL_CALLS == []
    # The remembered heal no longer fits (the button became a link elsewhere): not reused.
    page.set_content("<p><a id=go-search href=/x>Otra cosa</a></p>")
    with pytest.raises(el.ElementNotFoundError):
        later.find(page, "#go")
    # Nothing on the page looks like the button any more: no heal, and no model is asked.
    assert MODEL_CALLS == []
    assert later.store.heal("#go", el.page_key(page.url)) is None


def test_model_is_asked_only_to_choose_between_look_alikes(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path, SELF_HEALING_MAX_RETRIES="1")
    page.set_content("<form><p>Envío</p><button id=send class=primary>Enviar pedido</button>"
                     "<a id=help href=/help>Ayuda</a></form>")
    locator.find(page, "#send")
    # Two buttons now look just like the old one: the fingerprint cannot tell them apart.
    page.set_content("<form><p>Envío</p><button id=send-top class=primary>Enviar pedido</button>"
                     "<button id=send-bottom class=primary>Enviar pedido</button>"
                     "<a id=help href=/help>Ayuda</a></form>")
    # An answer that is not one of the look-alikes is refused, even if it fits the action.
    MODEL_ANSWERS[:] = ["#help", "#send-bottom"]
    found = locator.find(page, "#send")
    assert len(MODEL_CALLS) == 2
    assert "Enviar pedido" in MODEL_CALLS[0]  # shown the page around the look-alikes
    assert "no es ninguno de los candidatos" in MODEL_CALLS[1]  # and told why #help was refused
    assert found.evaluate("el => el.id") == "send-bottom"
    assert locator.last_heal["source"] == "model" and locator.last_heal["model_calls"] == 2


def test_positional_selector_that_now_finds_another_element_is_a_stale_locator(
        monkeypatch, tmp_path, page, capsys):
    locator = make_locator(monkeypatch, tmp_path)
    page.set_content(ROWS_V1)
    locator.find(page, "#rows li:nth-child(1) > :last-child")
    page.set_content(ROWS_V2)
    locator.find(page, "#rows li:nth-child(1) > :last-child")  # found, but something else
    [event] = locator.stale_events
    assert event["selector"] == "#rows li:nth-child(1) > :last-child" and event["score"] < 0.7
    assert "localizador obsoleto" in capsys.readouterr().out

    strict = make_locator(monkeypatch, tmp_path, SELF_HEALING_STRICT="true")
    with pytest.raises(el.StaleLocatorError, match="puntuación"):
        strict.find(page, "#rows li:nth-child(1) > :last-child")


def test_strict_mode_fails_the_scenario_that_needed_a_heal(monkeypatch, tmp_path, page):
    from tarvolab_framework.core import outcomes
    from tarvolab_framework.plugins.strict_healing import StrictHealingPlugin

    locator = make_locator(monkeypatch, tmp_path, SELF_HEALING_STRICT="true")
    context, plugin = types.SimpleNamespace(element_locator=locator), StrictHealingPlugin()
    outcomes.new_run(context)
    scenario = types.SimpleNamespace(name="Guardar", feature=types.SimpleNamespace(name="Ajustes"))
    plugin.before_scenario(context, scenario)
    page.set_content("<button id=save>Guardar cambios</button>")
    locator.click(page, "#save")
    page.set_content("<button id=save-changes>Guardar cambios</button>")
    locator.click(page, "#save")  # the step goes on with the healed element ...
    assert page.evaluate("document.activeElement.id") == "save-changes"
    plugin.after_scenario(context, scenario)  # ... and the scenario ends failed
    assert outcomes.final_outcome(scenario, context) == "failed"
    [reason] = outcomes.registry(context).find(scenario).forced_reasons
    assert reason.startswith("SELF_HEALING_STRICT") and "'#save' → '#save-changes'" in reason
    # The next scenario starts clean.
    other = types.SimpleNamespace(name="Otro", feature=scenario.feature)
    plugin.before_scenario(context, other)
    plugin.after_scenario(context, other)
    assert outcomes.registry(context).find(other) is None


def test_model_answers_pass_the_same_checks(monkeypatch, tmp_path, page, tmp_path_factory):
    poms = tmp_path / "poms"
    poms.mkdir()
    (poms / "Emails.json").write_text('{"remove_button": "#remove-email"}', encoding="utf-8")
    monkeypatch.setenv("JSON_POMS_PATH", str(poms))
    locator = make_locator(monkeypatch, tmp_path, SELF_HEALING_MAX_RETRIES="1")
    page.set_content("<form id=f><button id=add-email type=button>Add e-mail</button>"
                     "<button id=drop-mail type=button>Remove e-mail</button></form>")
    # No fingerprint was ever recorded: the model is asked. Its first answer is the
    # opposite action, its second the form around the buttons; both are refused.
    MODEL_ANSWERS[:] = ["#add-email", "#f"]
    with pytest.raises(el.ElementNotFoundError):
        locator.click(page, "Emails.remove_button")
    assert len(MODEL_CALLS) == 2
    assert "acción opuesta al nombre del elemento" in MODEL_CALLS[1]  # the model was told why
    # A fitting answer is taken.
    MODEL_ANSWERS[:] = ["#drop-mail"]
    locator.locmender.clear_cache()
    locator.click(page, "Emails.remove_button")
    assert locator.last_heal["source"] == "model" and locator.last_heal["new_selector"] == "#drop-mail"
    assert locator.last_heal["model_calls"] == 1


def test_busy_page_gives_no_heal_within_a_bounded_time(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path)
    monkeypatch.setattr(el, "HEAL_EVAL_TIMEOUT_MS", 800)
    page.set_content("<button id=pay>Pagar</button>")
    locator.find(page, "#pay")
    page.set_content("<button id=pay-now>Pagar</button>")
    page.evaluate("setTimeout(() => { const end = Date.now() + 8000; while (Date.now() < end) {} }, 0)")
    started = time.monotonic()
    with pytest.raises(el.ElementNotFoundError):
        locator.find(page, "#pay")
    assert time.monotonic() - started < 6
    page.evaluate("1")  # the loop is over: later tests' pages may share its renderer


def test_huge_attributes_and_broken_unicode_neither_crash_nor_stall(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path)
    page.set_content("<button id=ok>Aceptar ✅</button>")
    locator.find(page, "#ok")
    page.evaluate("""() => {
        const big = 'x'.repeat(1 << 20);
        const lone = '\\ud83d';  // half of an emoji
        document.body.innerHTML = '';
        for (let i = 0; i < 50; i++) {
            const d = document.createElement('div');
            d.setAttribute('title', big);
            d.setAttribute('data-note', big);
            d.textContent = lone + ' fila ' + i + ' ' + big.slice(0, 5000);
            document.body.appendChild(d);
        }
        const b = document.createElement('button');
        b.id = 'ok-v2';
        b.setAttribute('aria-label', lone + big);
        b.textContent = 'Aceptar ✅' + lone;
        document.body.appendChild(b);
    }""")
    started = time.monotonic()
    try:
        found = locator.find(page, "#ok")
        assert found.evaluate("el => el.id") == "ok-v2"
    except el.ElementNotFoundError:
        pass  # no heal is an acceptable answer; a crash or a stall is not
    assert time.monotonic() - started < 10


def test_page_closed_mid_heal_is_no_heal(monkeypatch, tmp_path, browser):
    locator = make_locator(monkeypatch, tmp_path)
    page = browser.new_page()
    page.set_content("<button id=a>Uno</button>")
    locator.find(page, "#a")
    page.set_content("<p>nada</p>")
    from tarvolab_framework.core import page_eval

    real = page_eval.bounded_evaluate

    def closing(target, script, arg=None, timeout_ms=None):
        page.close()
        return real(target, script, arg, timeout_ms)

    monkeypatch.setattr(page_eval, "bounded_evaluate", closing)
    with pytest.raises(el.ElementNotFoundError):
        locator.find(page, "#a")


# ------------------------------------------------- page regions and repeated rows
MENU_PAGE = """<div id=container>
  <nav id=sidebar><a href="/library/">Library</a> <a href="/library/books/">Books</a></nav>
  <div class=crumbs>%s</div>
  <main><h1>Books</h1>
    <form><table>
      <tr><td><input type=checkbox name=sel value=1></td><td>Ada Lovelace</td></tr>
      <tr><td><input type=checkbox name=sel value=2></td><td>Jorge Luis Borges</td></tr>
    </table></form>
  </main>
</div>"""
CRUMBS = '<a href="/">Home</a> › <a href="/library/">Library</a> › Books'


def test_fingerprint_records_the_page_region(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path)
    page.set_content(MENU_PAGE % CRUMBS)
    locator.find(page, ".crumbs a[href='/library/']")
    locator.find(page, "#sidebar a[href='/library/']")
    locator.find(page, "input[value='2']")
    key = el.page_key(page.url)

    def region(selector):
        return json.loads(locator.store.fingerprint(selector, key))["landmark"]

    assert region(".crumbs a[href='/library/']") == "body"
    assert region("#sidebar a[href='/library/']") == "nav sidebar"
    assert region("input[value='2']") == "main"


def test_a_removed_breadcrumb_is_not_healed_to_the_menus_link(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path)
    page.set_content(MENU_PAGE % CRUMBS)
    locator.find(page, ".crumbs a[href='/library/']")
    page.set_content(MENU_PAGE % '<a href="/">Home</a> › Books')
    with pytest.raises(el.ElementNotFoundError):
        locator.find(page, ".crumbs a[href='/library/']")
    assert MODEL_CALLS == []
    # With a wrapper added in the same place, the breadcrumb still heals.
    page.set_content(MENU_PAGE % CRUMBS)
    locator.find(page, "div.crumbs > a[href='/library/']")
    page.set_content(MENU_PAGE % '<a href="/">Home</a> › <span><a href="/library/">Library</a></span> › Books')
    found = locator.find(page, "div.crumbs > a[href='/library/']")
    assert found.evaluate("e => e.parentElement.tagName") == "SPAN"
    assert locator.last_heal["source"] == "fingerprint" and MODEL_CALLS == []


def test_a_removed_row_checkbox_is_not_healed_to_another_rows(monkeypatch, tmp_path, page):
    locator = make_locator(monkeypatch, tmp_path)
    page.set_content(MENU_PAGE % CRUMBS)
    locator.find(page, "input[value='2']")
    page.set_content((MENU_PAGE % CRUMBS).replace(
        "<tr><td><input type=checkbox name=sel value=2></td><td>Jorge Luis Borges</td></tr>", ""))
    with pytest.raises(el.ElementNotFoundError):
        locator.find(page, "input[value='2']")
    assert MODEL_CALLS == []
