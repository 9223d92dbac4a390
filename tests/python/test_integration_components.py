"""The three test-management integrations writing their result files from fake
runner objects (behave-like features, scenarios and steps)."""

import json
from enum import Enum
from types import SimpleNamespace

import pytest

from tarvolab_framework.integrations.behave_hooks import JiraXrayHooks
from tarvolab_framework.integrations.meridio_hooks import MeridioHooks
from tarvolab_framework.integrations.tarvo_test_manager import TarvoTestManagerIntegration


class Status(Enum):
    passed = 1
    failed = 2
    error = 3
    hook_error = 4
    skipped = 5


FEATURE = SimpleNamespace(name="Login", filename="features/login.feature", tags=[], status=Status.failed)


def step(keyword, name, status=Status.passed, error=None):
    return SimpleNamespace(keyword=keyword, name=name, status=status, error_message=error, line=5)


def scenario(name, status, tags=(), steps=None, duration=1.5):
    return SimpleNamespace(name=name, status=status, tags=list(tags), feature=FEATURE, line=4,
                           duration=duration, steps=steps or [step("Given ", "I open the app")])


SCENARIOS = [
    scenario("Valid login", Status.passed, tags=["smoke", "PROJ-123"]),
    scenario("Wrong password", Status.failed, tags=["regression"],
             steps=[step("Given ", "I open the app"),
                    step("When ", "I log in with \"bad\"", Status.failed, "Assertion Failed: expected error"),
                    step("Then ", "I see a message", Status.skipped)]),
    scenario("Timeout", Status.error, steps=[step("Given ", "a slow page", Status.error, "TimeoutError: 30000ms")]),
    scenario("Broken hook", Status.hook_error, steps=[step("Given ", "x", Status.skipped)]),
    scenario("Later", Status.skipped, steps=[step("Given ", "x", Status.skipped)]),
]


@pytest.fixture
def ctx():
    return SimpleNamespace(_jira_config_scenario_results=[])


def test_xray_file(tmp_path, monkeypatch, ctx, capsys):
    path = tmp_path / "out" / "xray.json"
    monkeypatch.setenv("XRAY_RESULTS_FILE", str(path))
    monkeypatch.setenv("XRAY_PROJECT_KEY", "PROJ")
    monkeypatch.setenv("XRAY_TEST_PLAN_KEY", "PROJ-1")
    monkeypatch.delenv("XRAY_TEST_EXECUTION_KEY", raising=False)
    hooks = JiraXrayHooks()
    hooks.before_all(ctx)
    hooks.before_feature(ctx, FEATURE)
    for sc in SCENARIOS:
        hooks.after_scenario(ctx, sc)
    hooks.after_feature(ctx, FEATURE)
    hooks.after_all(ctx)

    assert capsys.readouterr().out == f"[JIRA-XRAY] Resultados Xray guardados en: {path}\n"
    doc = json.loads(path.read_text(encoding="utf-8"))
    assert "testExecutionKey" not in doc
    assert doc["info"]["testPlanKey"] == "PROJ-1"
    assert doc["info"]["startDate"] <= doc["info"]["finishDate"]
    tests = doc["tests"]
    assert [t["status"] for t in tests] == ["PASSED", "FAILED", "FAILED", "FAILED", "TODO"]
    # A tag naming a test issue links the result to that test; the others describe a new test.
    assert tests[0]["testKey"] == "PROJ-123" and "testInfo" not in tests[0] and "comment" not in tests[0]
    info = tests[1]["testInfo"]
    assert "testKey" not in tests[1]
    assert info["summary"] == "Wrong password" and info["type"] == "Cucumber" and info["projectKey"] == "PROJ"
    assert info["labels"] == ["regression"]
    assert info["scenario"] == "Given I open the app\nWhen I log in with \"bad\"\nThen I see a message"
    assert tests[1]["comment"] == ("Paso fallido: When I log in with \"bad\"\n"
                                   "Assertion Failed: expected error")
    assert tests[2]["comment"].endswith("TimeoutError: 30000ms")
    assert "comment" not in tests[3]  # hook error: no step failed
    for t in tests:
        assert t["start"] <= t["finish"]
    assert hooks.features[0]["finish"] is not None
    assert len(ctx._jira_config_scenario_results) == 5


def test_xray_default_path_and_execution_key(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv("XRAY_RESULTS_FILE", raising=False)
    monkeypatch.setenv("XRAY_TEST_EXECUTION_KEY", "PROJ-900")
    hooks = JiraXrayHooks()
    hooks.before_all(SimpleNamespace())
    hooks.after_scenario(SimpleNamespace(), scenario("No tags", Status.passed))
    hooks.after_all(SimpleNamespace())
    doc = json.loads((tmp_path / "reports" / "xray-results.json").read_text(encoding="utf-8"))
    assert doc["testExecutionKey"] == "PROJ-900"
    assert "projectKey" not in doc["tests"][0]["testInfo"]


def test_meridio_file(tmp_path, monkeypatch, ctx, capsys):
    path = tmp_path / "meridio.json"
    monkeypatch.setenv("MERIDIO_RESULTS_FILE", str(path))
    monkeypatch.setenv("MERIDIO_PROJECT", "Portal")
    hooks = MeridioHooks()
    hooks.before_all(ctx)
    for sc in SCENARIOS:
        hooks.before_scenario(ctx, sc)
        hooks.after_scenario(ctx, sc)
    hooks.after_all(ctx)
    assert capsys.readouterr().out == f"[MERIDIO] Resultados guardados en: {path}\n"
    doc = json.loads(path.read_text(encoding="utf-8"))
    assert doc["project"] == "Portal"
    assert doc["run"]["totals"] == {"total": 5, "passed": 1, "failed": 3, "skipped": 1}
    wrong = doc["scenarios"][1]
    assert wrong["status"] == "failed" and wrong["runner_status"] == "failed"
    assert wrong["failing_step"]["name"] == "I log in with \"bad\""
    assert wrong["failing_step"]["error_message"] == "Assertion Failed: expected error"
    assert wrong["tags"] == ["regression"] and wrong["duration"] == 1.5
    assert doc["scenarios"][2]["runner_status"] == "error"


def test_tarvo_configuration_and_file(tmp_path, monkeypatch, ctx, capsys):
    for url, key, configured in [("", "k", False), ("https://tm", "  ", False), ("https://tm", "k", True)]:
        monkeypatch.setenv("TARVO_TM_URL", url)
        monkeypatch.setenv("TARVO_TM_API_KEY", key)
        assert TarvoTestManagerIntegration().is_configured is configured
    path = tmp_path / "tm.json"
    monkeypatch.setenv("TARVO_TM_RESULTS_FILE", str(path))
    monkeypatch.setenv("TARVO_TM_API_KEY", "secret-key")
    tm = TarvoTestManagerIntegration()
    tm.before_all(ctx)
    for sc in SCENARIOS:
        tm.after_scenario(ctx, sc)
    tm.after_all(ctx)
    assert capsys.readouterr().out == f"[TARVO-TM] Resultados guardados en: {path}\n"
    text = path.read_text(encoding="utf-8")
    assert "secret-key" not in text
    doc = json.loads(text)
    assert doc["server"] == "https://tm"
    assert [r["status"] for r in doc["results"]] == ["PASSED", "FAILED", "FAILED", "FAILED", "SKIPPED"]
    assert doc["run"]["totals"] == {"total": 5, "passed": 1, "failed": 3, "skipped": 1}


def test_plain_text_statuses_and_string_status_names(tmp_path, monkeypatch):
    # Objects whose status is a plain text (not behave's enum) are read by name too.
    monkeypatch.setenv("MERIDIO_RESULTS_FILE", str(tmp_path / "m.json"))
    hooks = MeridioHooks()
    hooks.after_scenario(None, scenario("S", "Status.failed", steps=[step("Given ", "x", "failed", None)]))
    hooks.after_scenario(None, scenario("T", "passed"))
    assert [s["status"] for s in hooks.scenarios] == ["failed", "passed"]
    assert hooks.scenarios[0]["failing_step"]["error_message"] is None
