"""The settings table as Python sees it: rows, reads through the one helper, ranges."""
import os
import re
from pathlib import Path

import pytest

from tarvolab_framework.core import settings
from tarvolab_framework.core.locmender import Locmender
from tarvolab_framework.core.runwright import FrameworkConfig

PACKAGE = Path(__file__).resolve().parents[2] / "python" / "tarvolab_framework"


@pytest.fixture(autouse=True)
def clean_settings(monkeypatch, tmp_path):
    for row in settings.table():
        monkeypatch.delenv(row.variable, raising=False)
    monkeypatch.chdir(tmp_path)  # no .env above


def test_settings_dictionary_is_the_table_rows_with_their_defaults():
    rows = settings.table()
    config_rows = [row for row in rows if row.in_config]
    assert len(config_rows) == 60 and rows[:60] == tuple(config_rows)
    config = FrameworkConfig().config
    assert list(config) == [row.name for row in config_rows]
    for row in config_rows:
        assert config[row.name] == settings.default(row.variable), row.variable
    assert type(config["device_scale_factor"]) is float and type(config["timeout"]) is int
    assert config["browser_args"] == [] and config["headless"] is False
    # Every row says who reads it, when, and what it is for; numbers have a range.
    for row in rows:
        assert row.reader and row.when and row.description, row.variable
        assert (row.low is not None) == (row.kind in ("integer", "real")), row.variable


def test_reads_follow_the_environment_at_the_moment_of_the_call(monkeypatch):
    assert settings.get("LOCATOR_TIMEOUT") == 5000.0
    monkeypatch.setenv("LOCATOR_TIMEOUT", "  ")  # blank counts as unset for this one
    assert settings.get("LOCATOR_TIMEOUT") == 5000.0
    monkeypatch.setenv("LOCATOR_TIMEOUT", " 250 ")
    assert settings.get("LOCATOR_TIMEOUT") == 250.0
    monkeypatch.setenv("AI_PROVIDER", " Anthropic ")
    assert settings.get("AI_PROVIDER") == "anthropic"
    monkeypatch.setenv("XRAY_RESULTS_FILE", "")
    assert settings.get("XRAY_RESULTS_FILE") == "reports/xray-results.json"
    monkeypatch.setenv("GENERATE_AI_REPORT", "no")
    assert settings.get("GENERATE_AI_REPORT") is False
    with pytest.raises(KeyError):
        settings.get("NOT_A_SETTING")
    assert settings.row("TIMEOUT").needs is None
    assert settings.row("VIDEO_DIR").needs == ("RECORD_VIDEO", ("true",))


def test_out_of_range_settings_are_errors_naming_the_variable(monkeypatch):
    # 2^63 - 1 used to overflow "max_retries + 1", so healing never called the model.
    monkeypatch.setenv("SELF_HEALING_MAX_RETRIES", "9223372036854775807")
    with pytest.raises(ValueError, match=re.escape(
            "SELF_HEALING_MAX_RETRIES: '9223372036854775807' is out of range (0 to 100)")):
        Locmender()
    monkeypatch.setenv("SELF_HEALING_MAX_RETRIES", "100")
    assert Locmender().max_retries == 100

    monkeypatch.setenv("TIMEOUT", "-1")
    with pytest.raises(ValueError, match=re.escape("TIMEOUT: '-1' is out of range (0 to 2147483647)")):
        FrameworkConfig()
    monkeypatch.setenv("TIMEOUT", "99999999999999999999")  # does not even fit 64 bits
    with pytest.raises(ValueError, match="TIMEOUT: '99999999999999999999' is out of range"):
        FrameworkConfig()
    monkeypatch.setenv("TIMEOUT", "1000")
    monkeypatch.setenv("LOCATOR_TIMEOUT", "-5")
    with pytest.raises(ValueError, match="LOCATOR_TIMEOUT: '-5' is out of range"):
        settings.get("LOCATOR_TIMEOUT")


class _Context:
    def __init__(self):
        self.pages = []

    def new_page(self):
        page = _Page()
        self.pages.append(page)
        return page


class _Page:
    def __init__(self):
        self.timeouts = []

    def set_default_timeout(self, ms):
        self.timeouts.append(ms)

    def set_default_navigation_timeout(self, ms):
        self.timeouts.append(ms)


def test_edited_dictionary_values_are_range_checked_before_the_browser_sees_them():
    cfg = FrameworkConfig()
    context = _Context()
    # 1e19 used to reach Playwright as a negative 64-bit number.
    cfg.config["timeout"] = 1e19
    with pytest.raises(ValueError, match=re.escape("config['timeout']: 1e+19 is out of range (0 to 2147483647)")):
        cfg.create_page(context)
    assert context.pages == []
    cfg.config["timeout"] = 2147483647.0
    cfg.config["navigation_timeout"] = -1
    with pytest.raises(ValueError, match=re.escape("config['navigation_timeout']: -1 is out of range")):
        cfg.create_page(context)
    cfg.config["navigation_timeout"] = 10
    assert cfg.create_page(context).timeouts == [2147483647, 10]


def test_components_read_settings_only_through_the_table():
    """No component parses os.environ for a setting itself: a new read goes through
    tarvolab_framework.core.settings (and a new setting gets a row in the table)."""
    allowed = {
        "core/settings.py",  # the helper itself (the read is in the extension module)
        "core/config_schema.py",  # checks the whole environment, known names and misspellings
        # hand their own variables (worker number, folders) to the worker processes;
        # the settings they use are read through the table
        "parallel/cli.py",
        "parallel/worker.py",
        "core/secrets.py",  # masks every variable whose name says it is secret, setting or not
    }
    offenders = []
    for path in PACKAGE.rglob("*.py"):
        relative = path.relative_to(PACKAGE).as_posix()
        text = path.read_text(encoding="utf-8")
        if relative not in allowed and re.search(r"os\.environ|os\.getenv|getenv\(", text):
            offenders.append(relative)
    assert offenders == []


def test_readme_settings_section_is_generated_from_the_table():
    import importlib.util

    script = PACKAGE.parents[1] / "scripts" / "gen_settings_doc.py"
    module_spec = importlib.util.spec_from_file_location("gen_settings_doc", script)
    gen = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(gen)
    readme = gen.README.read_text(encoding="utf-8")
    assert gen.rendered(readme) == readme, "README.md is stale: run .venv/bin/python scripts/gen_settings_doc.py"
    for row in settings.table():
        assert f"| `{row.variable}` |" in readme
