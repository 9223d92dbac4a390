"""Step definitions shared by the end-to-end projects.

Importing this module registers the steps with behave. State that must survive a
scenario (and the retry pass at the end of the run) is kept in files under the folder
named by the environment variable E2E_STATE_DIR, so the test can read it afterwards.
"""
import json
import os

from behave import given, then, when

from webserver import page_url


def _state_path(name):
    return os.path.join(os.environ["E2E_STATE_DIR"], name)


def _bump(key):
    """Counts the runs of a step keyed by `key`; returns the new count."""
    path = _state_path("runs-%s.txt" % key)
    count = 1
    if os.path.exists(path):
        with open(path, encoding="utf-8") as fh:
            count = int(fh.read().strip() or 0) + 1
    with open(path, "w", encoding="utf-8") as fh:
        fh.write(str(count))
    return count


def _record(name, value):
    with open(_state_path(name), "a", encoding="utf-8") as fh:
        fh.write(json.dumps(value) + "\n")


# --- pages -----------------------------------------------------------------------------

@given('I open "{path}"')
@when('I open "{path}"')
def step_open(context, path):
    context.page.goto(page_url(path))


@when("I mark the page")
def step_mark(context):
    context.page.evaluate("window.__e2eMark = 'kept'")
    context._e2e_marked_page = context.page


@then("the page is the marked page")
def step_is_marked(context):
    assert context.page is context._e2e_marked_page, "otra página: " + context.page.url
    assert context.page.evaluate("window.__e2eMark") == "kept", "la página fue recargada"


@then("the page is a fresh page")
def step_is_fresh(context):
    assert context.page is not context._e2e_marked_page, "sigue la página marcada"
    assert context.page.evaluate("typeof window.__e2eMark") == "undefined"


@when("I open the popup")
def step_popup(context):
    with context.page.expect_popup() as info:
        context.page.click("#popup-link")
    info.value.wait_for_load_state()


@then("{count:d} pages are open")
@then("{count:d} page is open")
def step_pages_open(context, count):
    pages = context.page.context.pages
    assert len(pages) == count, "%d páginas: %s" % (len(pages), [p.url for p in pages])
    assert pages[0] is context.page, "la página del escenario no es la primera"


@then("no page was opened for this scenario")
def step_no_page(context):
    assert getattr(context, "browser_disabled", False) is True
    assert getattr(context, "page", None) is None, "el escenario recibió una página"
    pages = [p for c in context.browser.contexts for p in c.pages]
    assert not pages, "páginas abiertas: %s" % [p.url for p in pages]


@then("the viewport is {width:d} by {height:d}")
def step_viewport(context, width, height):
    assert context.page.viewport_size == {"width": width, "height": height}, context.page.viewport_size
    inner = context.page.evaluate("[window.innerWidth, window.innerHeight]")
    assert inner == [width, height], inner


@then("this step fails")
def step_fails(context):
    assert False, "fallo intencionado"


# --- retries ---------------------------------------------------------------------------

@then('it fails on its first run only for "{key}"')
def step_fails_first(context, key):
    count = _bump(key)
    assert count > 1, "primera ejecución de %s" % key


@then('it always fails for "{key}"')
def step_always_fails(context, key):
    _bump(key)
    assert False, "falla siempre"


@given('the rows are recorded for "{key}"')
def step_record_table(context, key):
    _record("table-%s.jsonl" % key,
            None if context.table is None else [row["name"] for row in context.table])


@given('the text is recorded for "{key}"')
def step_record_text(context, key):
    _record("text-%s.jsonl" % key, context.text)


@then('a soft check fails with "{message}"')
def step_soft_fails(context, message):
    context.soft_assert(False, message)


# --- element locator and healing -------------------------------------------------------

@when('I click "{ref}"')
def step_click(context, ref):
    context.element_locator.click(context.page, ref)


@then('the status reads "{text}"')
def step_status(context, text):
    actual = context.element_locator.get_text(context.page, "#status")
    assert actual == text, "estado %r, esperado %r" % (actual, text)
