"""Ctrl-C and SystemExit raised inside optional, guarded work (an integration call,
a retried scenario) reach the runner unchanged instead of being printed and absorbed."""
import types

import pytest

from tarvolab_framework.core import runwright


class Hooks:
    def __init__(self, exc):
        self.exc = exc

    def after_scenario(self, context, scenario):
        raise self.exc


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3)])
def test_integration_interrupt_reaches_the_caller(exc, capsys):
    context = types.SimpleNamespace(framework_config=types.SimpleNamespace(config={}),
                                    jira_xray_enabled=True, jira_xray_hooks=Hooks(exc))
    scenario = types.SimpleNamespace(name="s", status="passed", line=1,
                                     feature=types.SimpleNamespace(filename="f.feature"))
    with pytest.raises(type(exc)):
        runwright.auto_after_scenario(context, scenario)
    assert "Error en after_scenario" not in capsys.readouterr().out


def test_interrupt_during_a_retry_stops_the_run_end(monkeypatch, capsys):
    monkeypatch.setenv("RETRY_FAILED_SCENARIOS", "true")
    monkeypatch.setenv("MAX_SCENARIO_RETRIES", "1")
    page = types.SimpleNamespace(goto=lambda url: None, close=lambda: None)

    def execute_steps(text):
        raise KeyboardInterrupt()

    step = types.SimpleNamespace(keyword="Given", name="a step")
    scenario = types.SimpleNamespace(name="s", steps=[step], feature="F")
    context = types.SimpleNamespace(page=page, feature=None, execute_steps=execute_steps,
                                    framework_config=types.SimpleNamespace(browser=object()),
                                    _failed_scenarios_for_retry=[{"name": "s", "scenario_obj": scenario}])
    called = []
    monkeypatch.setattr(runwright, "_auto_after_all_integrations", lambda ctx: called.append(ctx))
    with pytest.raises(KeyboardInterrupt):
        runwright.auto_after_all(context)
    assert context.feature is None  # put back even when interrupted
    assert called == []
    assert "ERROR:" not in capsys.readouterr().out
