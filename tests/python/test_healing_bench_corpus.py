"""The healing benchmark's corpus is consistent, without a browser: every page has its
page object and every locator its answer on the new release, the mutation cases name
existing locators with the parameters their kind needs, and the corpus is big enough
for its rates to mean something."""
import importlib.util
import json
import re
import sys
from pathlib import Path

import pytest

BENCH = Path(__file__).resolve().parents[2] / "bench" / "healing"
CORPUS = BENCH / "corpus"

# Loaded under names of their own: "run" and "apps" are too common to put on sys.path.
_module_spec = importlib.util.spec_from_file_location("healing_bench_run", BENCH / "run.py")
run = importlib.util.module_from_spec(_module_spec)
sys.modules[_module_spec.name] = run  # dataclasses look their module up there
_module_spec.loader.exec_module(run)
apps = run.apps

KINDS = {"id_renamed", "classes_hashed", "wrapper_added", "text_reworded", "order_changed", "removed"}
NEEDS_PARAM = {"id_renamed", "text_reworded", "order_changed"}


def load(name):
    return json.loads((CORPUS / name).read_text(encoding="utf-8"))


@pytest.fixture(scope="module")
def corpus():
    return run.load_corpus()


def test_applications_and_pages_match_their_page_objects(corpus):
    # At least two applications, each in two different releases.
    assert len(apps.RELEASES) >= 2
    for app, releases in apps.RELEASES.items():
        assert len(releases) == 2 and releases[0].version != releases[1].version, app
    pages, poms = corpus["all_pages"], corpus["poms"]
    assert set(pages) == set(poms), "every page needs its page object and the reverse"
    # The second held-out set's pages are used by no other set.
    heldout2_pages = set(pages) - set(corpus["pages"])
    assert heldout2_pages and not heldout2_pages & set(corpus["pages"])
    for name, page_info in pages.items():
        assert page_info["app"] in apps.RELEASES, name
        assert page_info["path"].startswith("/"), name
        assert isinstance(page_info["login"], bool), name
        # A page-object reference is Name.element: the name must be usable as one.
        assert re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", name), name
    for app in apps.RELEASES:
        assert any(page_info["app"] == app for page_info in pages.values()), f"no page of {app}"


def test_every_locator_has_an_answer_on_the_new_release(corpus):
    truth, poms = corpus["truth"], corpus["poms"]
    refs = {f"{page}.{name}" for page, entries in poms.items() if page in corpus["pages"] for name in entries}
    assert refs == set(truth), "page objects and ground truth must list the same locators"
    # The second held-out set's locators each have an action, and only they do.
    heldout2_refs = {f"{page}.{name}" for page, entries in poms.items() if page not in corpus["pages"]
                     for name in entries}
    assert heldout2_refs == set(corpus["actions"]) - set(truth)
    assert len(refs) >= 100
    for ref, answer in truth.items():
        page, name = ref.split(".", 1)
        entry = poms[page][name]
        selector = entry["selector"]
        assert isinstance(selector, str) and selector.strip() == selector and selector, ref
        assert entry.get("description"), ref
        # Playwright reads "/html/..." as CSS: an absolute XPath needs "xpath=" in front.
        assert not (selector.startswith("/") and not selector.startswith("//")), ref
        assert answer["action"] in run.ACTION_TEXT, ref
        assert isinstance(answer["new"], str) and answer["new"].strip(), ref
    # Several selector styles, as testers write them.
    selectors = [e["selector"] for entries in poms.values() for e in entries.values()]
    assert sum(s.startswith(("//", "xpath=")) for s in selectors) >= 20
    assert sum(s.startswith("text=") or ":has-text(" in s for s in selectors) >= 3
    assert sum(":nth-" in s or re.search(r"\[\d+\]", s) is not None for s in selectors) >= 10


def test_mutation_cases_are_well_formed(corpus):
    cases, truth = corpus["mutations"], corpus["truth"]
    assert len({case["id"] for case in cases}) == len(cases)
    per_kind = {}
    for case in cases:
        assert case["kind"] in KINDS, case
        assert case["ref"] in truth, case
        assert case["id"] == f"{case['kind']}:{case['ref']}", case
        if case["kind"] in NEEDS_PARAM:
            assert isinstance(case.get("param"), str) and case["param"], case
        per_kind[case["kind"]] = per_kind.get(case["kind"], 0) + 1
    assert set(per_kind) == KINDS
    assert all(count >= 8 for count in per_kind.values()), per_kind
    # Removed elements are how wrong heals show: keep enough of them.
    assert per_kind["removed"] >= 15


def test_held_out_cases_are_well_formed_and_apart_from_the_main_ones(corpus):
    cases, truth = corpus["heldout"], corpus["truth"]
    assert len({case["id"] for case in cases}) == len(cases)
    assert not {case["id"] for case in cases} & {case["id"] for case in corpus["mutations"]}
    for case in cases:
        assert case["kind"] in KINDS, case
        assert case["ref"] in truth, case
        assert case["id"] == f"heldout:{case['kind']}:{case['ref']}", case
        if case["kind"] in NEEDS_PARAM:
            assert isinstance(case.get("param"), str) and case["param"], case
    assert len(cases) >= 30
    assert sum(case["kind"] == "removed" for case in cases) >= 15


def test_the_mutation_script_knows_every_kind():
    for kind in KINDS:
        assert f"'{kind}'" in run.MUTATE_JS, kind
