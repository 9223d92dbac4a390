"""The review patch of healed page-object selectors: only the healed selector text
changes, and `git apply` accepts the result."""
import json
import shutil
import subprocess

import pytest

from tarvolab_framework.core import healing_patch as hp

POM = """{
  "title": "#save",
  "save": "#save",
  "cancel": {"selector": "#cancel", "description": "Cancelar \\u00e9"},
  "note": "text=Guardar \\"ya\\""
}"""


def heal(file, key, old, new):
    return {"pom_file": str(file), "pom_key": key, "old_selector": old, "new_selector": new}


def test_replace_selector_changes_only_the_element_asked_for():
    out = hp.replace_selector(POM, "save", "#save", "#save-btn")
    assert json.loads(out) == {**json.loads(POM), "save": "#save-btn"}
    assert out.count("#save") == 2  # "title" kept its own "#save"
    out = hp.replace_selector(POM, "cancel", "#cancel", "[data-testid=\"cancel\"]")
    assert json.loads(out)["cancel"] == {"selector": "[data-testid=\"cancel\"]", "description": "Cancelar é"}
    assert "\\u00e9" in out  # the rest of the file is written as it was
    out = hp.replace_selector(POM, "note", 'text=Guardar "ya"', "#note")
    assert json.loads(out)["note"] == "#note"
    # Not the element's selector (the file was edited), or no such element: no change.
    assert hp.replace_selector(POM, "save", "#other", "#x") is None
    assert hp.replace_selector(POM, "missing", "#save", "#x") is None
    assert hp.replace_selector("not json", "save", "#save", "#x") is None


@pytest.mark.skipif(shutil.which("git") is None, reason="needs git")
def test_patch_applies_with_git_apply_and_files_stay_untouched(tmp_path, monkeypatch):
    repo = tmp_path / "project"
    poms = repo / "json_poms"
    poms.mkdir(parents=True)
    (poms / "A.json").write_text(POM, encoding="utf-8")  # no final line break
    (poms / "B.json").write_text('{\n  "go": "#go"\n}\n', encoding="utf-8")
    monkeypatch.chdir(repo)
    monkeypatch.setenv("HTML_REPORTS_DIR", str(tmp_path / "reports"))
    heals = [heal(poms / "A.json", "save", "#save", "#save-old-heal"),
             heal(poms / "A.json", "save", "#save", "#save-btn"),  # the last heal of an element wins
             heal(poms / "A.json", "cancel", "#cancel", "#cancel-btn"),
             heal(poms / "B.json", "go", "#go", "internal:role=button[name=\"Ir\"s]"),
             heal(poms / "B.json", "gone", "#x", "#y"),  # skipped, with a warning
             {"pom_file": "", "pom_key": "", "old_selector": "#raw", "new_selector": "#r"}]
    path = hp.write_patch(heals)
    assert path == tmp_path / "reports" / hp.PATCH_FILE_NAME
    text = path.read_text(encoding="utf-8")
    assert "--- a/json_poms/A.json" in text and "+++ b/json_poms/B.json" in text
    assert (poms / "A.json").read_text(encoding="utf-8") == POM
    subprocess.run(["git", "init", "-q"], check=True)
    subprocess.run(["git", "apply", "--check", str(path)], check=True)
    subprocess.run(["git", "apply", str(path)], check=True)
    a = json.loads((poms / "A.json").read_text(encoding="utf-8"))
    assert (a["save"], a["cancel"]["selector"], a["title"]) == ("#save-btn", "#cancel-btn", "#save")
    assert json.loads((poms / "B.json").read_text(encoding="utf-8"))["go"] == "internal:role=button[name=\"Ir\"s]"
    assert hp.write_patch([]) is None
