"""Fingerprint healing across runs, from behave runs of projects/fingerprints on two
releases of one page (account.html?release=1 and ?release=2), sharing one healing store."""
import json
import shutil
import sqlite3
import subprocess

import pytest

from e2e_support import requires_chromium, run_behave

pytestmark = requires_chromium


@pytest.fixture(scope="module")
def runs(projects_copy, tmp_path_factory):
    """Release 1 records fingerprints; release 2 is then run three ways."""
    store = tmp_path_factory.mktemp("store") / "healing.sqlite"
    common = dict(SELF_HEALING_STORE=store, SELF_HEALING_ENABLED="true",
                  SELF_HEALING_MAX_RETRIES="0")
    out = {"store": store}
    out["first"] = run_behave(projects_copy, tmp_path_factory.mktemp("first"), "fingerprints",
                              E2E_RELEASE="1", E2E_FORBID_MODEL="1", **common)
    out["healed"] = run_behave(projects_copy, tmp_path_factory.mktemp("healed"), "fingerprints",
                               "--tags=@save", E2E_RELEASE="2", E2E_FORBID_MODEL="1",
                               SELF_HEALING_AUTO_UPDATE_POM="true", GENERATE_AI_REPORT="true", **common)
    out["removed"] = run_behave(projects_copy, tmp_path_factory.mktemp("removed"), "fingerprints",
                                "--tags=@remove", E2E_RELEASE="2", E2E_FORBID_MODEL="1", **common)
    out["strict"] = run_behave(projects_copy, tmp_path_factory.mktemp("strict"), "fingerprints",
                               "--tags=@save", E2E_RELEASE="2", E2E_FORBID_MODEL="1",
                               SELF_HEALING_STRICT="true", final_status=True, **common)
    return out


def test_first_release_passes_and_records_fingerprints(runs):
    run = runs["first"]
    assert run.returncode == 0, run.describe()
    with sqlite3.connect(str(runs["store"])) as conn:
        keys = {row[0] for row in conn.execute("SELECT element_key FROM fingerprints")}
        save = json.loads(conn.execute("SELECT fingerprint FROM fingerprints "
                                       "WHERE element_key = 'AccountPage.save_button'").fetchone()[0])
    assert {"AccountPage.email", "AccountPage.save_button", "AccountPage.remove_email"} <= keys
    assert (save["tag"], save["id"], save["text"]) == ("button", "save-profile", "Guardar perfil")
    assert not (run.state_dir / "model-called.txt").exists()


def test_changed_release_heals_from_fingerprints_without_a_model_call(runs):
    run = runs["healed"]
    assert run.returncode == 0, run.describe()
    run.assert_line("   🔧 SELF-HEALING (huella): '#save-profile' → '#profile-save-btn' (puntuación "
                    + run.stdout.split("'#save-profile' → '#profile-save-btn' (puntuación ")[1][:4] + ")")
    run.assert_contains("'#email' → '#user-email'")
    assert not (run.state_dir / "model-called.txt").exists(), run.describe()
    run.assert_absent("Llamada IA")


def test_healing_report_names_the_page_object_file_and_key(runs):
    run = runs["healed"]
    report = run.state_dir.parent / "html-reports" / "ai_validation_report.html"
    assert report.exists(), run.describe()
    html = report.read_text(encoding="utf-8")
    for part in ("#profile-save-btn", "huella", "AccountPage.json", "save_button",
                 "healed-page-objects.patch"):
        assert part in html, part


def test_patch_file_applies_with_git_apply(runs, tmp_path):
    run = runs["healed"]
    patch = run.state_dir.parent / "html-reports" / "healed-page-objects.patch"
    assert patch.exists(), run.describe()
    text = patch.read_text(encoding="utf-8")
    assert '-  "email": "#email",' in text and '+  "email": "#user-email",' in text
    repo = tmp_path / "repo"
    shutil.copytree(run.workdir / "json_poms", repo / "json_poms")
    before = (repo / "json_poms" / "AccountPage.json").read_text(encoding="utf-8")
    subprocess.run(["git", "init", "-q", str(repo)], check=True)
    subprocess.run(["git", "apply", str(patch)], cwd=repo, check=True)
    healed = json.loads((repo / "json_poms" / "AccountPage.json").read_text(encoding="utf-8"))
    assert healed["email"] == "#user-email"
    assert healed["save_button"] == {"selector": "#profile-save-btn", "description": "Guardar perfil"}
    # The run itself never touches the page objects.
    assert (run.workdir / "json_poms" / "AccountPage.json").read_text(encoding="utf-8") == before


def test_removed_element_is_not_healed_to_its_opposite(runs):
    run = runs["removed"]
    assert run.returncode == 1, run.describe()
    # Nothing left on the page looks like the removed button (the "Añadir correo" one
    # does the opposite): the fingerprint abstains and no model is asked to guess.
    assert not (run.state_dir / "model-called.txt").exists(), run.describe()
    run.assert_absent("SELF-HEALING ACTIVADO")
    run.assert_absent("(huella)")
    assert "ASSERT FAILED: Elemento 'remove_email' no encontrado con el selector '#remove-email'" \
        in run.formatter or "Assertion Failed: Elemento 'remove_email'" in run.formatter, run.describe()
    assert run.failing_scenarios() == ["Remove the e-mail"], run.describe()


def test_strict_mode_fails_the_healed_scenario(runs):
    run = runs["strict"]
    assert run.returncode == 1, run.describe()
    # Every step passed with the healed elements; the scenario's outcome is failed.
    assert "failed" not in run.formatter, run.describe()
    run.assert_contains("SELF_HEALING_STRICT: el escenario solo pasó gracias a reparaciones")
    run.assert_contains("'#save-profile' → '#profile-save-btn'")
