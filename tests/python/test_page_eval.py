"""The bounded page evaluation gives back exactly what the page script returned."""
from __future__ import annotations

import json
import os

import pytest

from tarvolab_framework.core import element_fingerprint as scripts
from tarvolab_framework.core import page_eval
from tarvolab_framework.core.page_eval import PageEvaluationError, _decode, bounded_evaluate

CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE", "")
real_chromium = pytest.mark.skipif(not CHROMIUM, reason="TARVO_CHROMIUM_EXECUTABLE is not set")


@pytest.fixture(scope="module")
def page():
    from playwright.sync_api import sync_playwright

    with sync_playwright() as playwright:
        browser = playwright.chromium.launch(executable_path=CHROMIUM)
        page = browser.new_page()
        page.set_content('<form id="f"><label for="q">Buscar</label><input id="q" name="q">'
                         '<button id="go" type="submit">Ir ✅</button></form><p>pie</p>')
        yield page
        browser.close()


# --- values -------------------------------------------------------------------------

@real_chromium
@pytest.mark.parametrize("expression, expected", [
    ("() => ''", ""),
    ("() => 's'", "s"),
    ("() => 'j[1]'", "j[1]"),
    ("() => 'e.'", "e."),
    ("() => '.'", "."),
    ("() => '[{\"a\": \"\\\\\\\"\"}]'", '[{"a": "\\\""}]'),
    ("() => 'Ñandú 🚀 \\u0000 fin'", "Ñandú 🚀 \x00 fin"),
    ("() => 0", 0),
    ("() => null", None),
    ("() => undefined", None),
    ("() => false", False),
    ("() => [1, 'dos', {tres: 3.5}]", [1, "dos", {"tres": 3.5}]),
    ("document.title", ""),
    ("7 * 6", 42),
])
def test_every_value_comes_back_unchanged(page, expression, expected):
    assert bounded_evaluate(page, expression, timeout_ms=5000) == expected


@real_chromium
def test_long_text_and_argument_come_back_whole(page):
    text = bounded_evaluate(page, "(n) => 'ab'.repeat(n) + '.'", 150_000, timeout_ms=5000)
    assert text == "ab" * 150_000 + "."


@real_chromium
def test_thrown_error_is_raised_with_its_message(page):
    with pytest.raises(PageEvaluationError, match="roto: ñ"):
        bounded_evaluate(page, "() => { throw new Error('roto: ñ'); }", timeout_ms=5000)


@real_chromium
def test_locator_script_gets_its_element(page):
    assert bounded_evaluate(page.locator("#go"), "(el, x) => el.textContent + x", "!", timeout_ms=5000) == "Ir ✅!"


@real_chromium
def test_candidates_come_back_as_the_json_text_the_page_made(page):
    text = bounded_evaluate(page, scripts.CANDIDATES_SCRIPT, [100, "", "", ""], timeout_ms=5000)
    same = page.evaluate(scripts.CANDIDATES_SCRIPT, [100, "", "", ""])
    assert text == same
    records = json.loads(text)
    assert [r["tag"] for r in records] == ["form", "label", "input", "button", "p"]
    assert records[3]["text"] == "Ir ✅" and records[3]["neighbours"] == "Buscar pie"


@real_chromium
def test_light_records_match_the_light_part_of_full_ones(page):
    light = json.loads(bounded_evaluate(page, scripts.CANDIDATES_SCRIPT, [100, "fillable", "fill", "input"],
                                        timeout_ms=5000))
    full = json.loads(bounded_evaluate(page, scripts.CANDIDATES_SCRIPT, [100, "", "", ""], timeout_ms=5000))
    assert [bool(r.get("light")) for r in light] == [True, True, False, True, True]
    assert light[2] == full[2]
    cheap = {"tag", "id", "name", "type", "role", "text", "label", "aria_label", "placeholder", "title", "alt",
             "value", "href", "testid", "testid_attr", "enabled", "editable", "clickable", "only"}
    for short, whole in zip(light, full):
        if short.get("light"):
            assert list(short) == [k for k in whole if k in cheap] + ["light"]
            assert all(short[k] == whole[k] for k in short if k != "light")


# --- answers that are not the wrapper's ----------------------------------------------

@pytest.mark.parametrize("text", ["", "s", "x1.", "j[1", None, 5])
def test_a_malformed_answer_is_an_error_not_a_value(text):
    with pytest.raises(PageEvaluationError):
        _decode(text)


def test_a_cut_preview_asks_for_the_value():
    class Handle:
        def __init__(self, preview, value):
            self.preview, self.value, self.asked = preview, value, 0

        def __str__(self):
            return self.preview

        def json_value(self):
            self.asked += 1
            return self.value

    whole = Handle("s[1, 2].", "unused")
    assert page_eval._answer_text(whole) == "s[1, 2]." and whole.asked == 0
    cut = Handle("s[1, 2…", "s[1, 2, 3].")
    assert page_eval._answer_text(cut) == "s[1, 2, 3]." and cut.asked == 1
