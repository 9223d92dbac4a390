"""Jira/Xray integration: collects the run's scenario results and writes them as
an Xray JSON import file at run end (no network calls; the file is imported with
Xray's "import execution results" endpoint or the Jira UI).

Environment, read when the object is built:

- ``XRAY_RESULTS_FILE``: where the file goes (default ``reports/xray-results.json``).
- ``XRAY_PROJECT_KEY``: project of the tests created for scenarios that carry no
  test-issue tag (``testInfo.projectKey``; left out when unset).
- ``XRAY_TEST_EXECUTION_KEY``: an existing test execution to update (``testExecutionKey``).
- ``XRAY_TEST_PLAN_KEY``: ``info.testPlanKey``.
- ``XRAY_TEST_ENVIRONMENTS``: comma-separated ``info.testEnvironments``.
- ``XRAY_SUMMARY``: ``info.summary`` (default "Ejecución automática behave <start>").

File layout::

    {"testExecutionKey": "PROJ-900",            # only when configured
     "info": {"summary": ..., "description": ..., "startDate": ISO, "finishDate": ISO,
              "testPlanKey": ..., "testEnvironments": [...]},
     "tests": [
        {"testKey": "PROJ-123", "start": ISO, "finish": ISO, "status": "PASSED"},
        {"testInfo": {"summary": "<scenario>", "type": "Cucumber", "scenarioType": "scenario",
                      "scenario": "<steps>", "labels": [...], "projectKey": ...},
         "start": ISO, "finish": ISO, "status": "FAILED", "comment": "Paso fallido: ..."}]}

A scenario is linked to an existing test when one of its own tags names a test
issue (``PROJ-123``, written ``@PROJ-123`` in the feature file). Statuses follow the
scenario's final outcome (:mod:`tarvolab_framework.core.outcomes`), so the file agrees
with the console summary and the exit status: passed -> PASSED, flaky (failed, then
passed in the retry pass) -> PASSED with a comment naming the attempt that passed,
failed and passed-with-soft-failures -> FAILED, skipped -> TODO. Without final
outcomes (the lifecycle never saw the scenario) the runner's status is used.
"""

from __future__ import annotations

import re
from typing import Any

from . import _results as r

TEST_KEY = re.compile(r"^[A-Z][A-Z0-9_]*-[0-9]+$")
XRAY_STATUS = {"passed": "PASSED", "failed": "FAILED", "skipped": "TODO"}


def test_key_of(tags: list[str]) -> str | None:
    for tag in tags:
        if TEST_KEY.match(tag):
            return tag
    return None


class JiraXrayHooks:
    """Run-level Jira/Xray hook object: before_all, before_feature, after_scenario,
    after_feature, after_all."""

    def __init__(self) -> None:
        self.results_file = r.env_text("XRAY_RESULTS_FILE")
        self.project_key = r.env_text("XRAY_PROJECT_KEY")
        self.test_execution_key = r.env_text("XRAY_TEST_EXECUTION_KEY")
        self.test_plan_key = r.env_text("XRAY_TEST_PLAN_KEY")
        self.test_environments = [
            e.strip() for e in r.env_text("XRAY_TEST_ENVIRONMENTS").split(",") if e.strip()
        ]
        self.summary = r.env_text("XRAY_SUMMARY")
        self.started = None
        self.finished = None
        self.features: list[dict] = []
        self.scenarios: list[dict] = []
        self._scenario_objects: list = []  # parallel to self.scenarios, for the final outcomes
        self._context = None
        self.written_path = None

    def before_all(self, context: Any) -> None:
        self.started = r.now()

    def before_feature(self, context: Any, feature: Any) -> None:
        self.features.append({
            "name": str(getattr(feature, "name", "")),
            "file": str(getattr(feature, "filename", "") or ""),
            "tags": r.tags_of(feature),
            "start": r.iso(r.now()),
            "finish": None,
            "status": None,
        })

    def after_feature(self, context: Any, feature: Any) -> None:
        name = str(getattr(feature, "name", ""))
        for entry in reversed(self.features):
            if entry["name"] == name and entry["finish"] is None:
                entry["finish"] = r.iso(r.now())
                entry["status"] = r.outcome(getattr(feature, "status", None))
                return

    def after_scenario(self, context: Any, scenario: Any) -> None:
        record = r.scenario_record(scenario)
        record["test_key"] = test_key_of(record["tags"])
        self.scenarios.append(record)
        self._scenario_objects.append(scenario)
        self._context = context
        # Offer the result to project code that shares the run's result list.
        try:
            shared = context._jira_config_scenario_results
        except (AttributeError, KeyError):
            shared = None
        if isinstance(shared, list):
            shared.append(record)

    def _final(self, index: int) -> tuple:
        """(final outcome or None, the outcome record's dict or None) of the index-th scenario."""
        if index >= len(self._scenario_objects):
            return None, None
        try:
            from tarvolab_framework.core import outcomes

            registry = outcomes.registry(self._context, create=False)
            found = registry.find(self._scenario_objects[index]) if registry is not None else None
        except Exception:
            return None, None
        return (found.outcome, found) if found is not None else (None, None)

    def xray_test(self, record: dict, final: Any = None) -> dict:
        entry: dict = {}
        if record["test_key"]:
            entry["testKey"] = record["test_key"]
        else:
            info = {
                "summary": record["name"],
                "type": "Cucumber",
                "scenarioType": "scenario",
                "scenario": "\n".join(record["steps"]),
                "labels": record["tags"],
            }
            if self.project_key:
                info["projectKey"] = self.project_key
            entry["testInfo"] = info
        entry["start"] = record["start"]
        entry["finish"] = record["finish"]
        outcome, found = final if final is not None else (None, None)
        entry["status"] = XRAY_STATUS[record["status"]]
        comment = r.failing_step_text(record["failing_step"])
        if outcome is not None:
            from tarvolab_framework.core import runwright

            entry["status"] = runwright._xray_status(outcome)
            if outcome == "flaky":
                comment = runwright._flaky_comment(found.passed_on_retry) + ("\n" + comment if comment else "")
            elif outcome == "passed-with-soft-failures":
                comment = "Soft assertions fallidas:\n" + "\n".join(found.soft_failures)
            if found.forced_reasons:
                comment = "; ".join(found.forced_reasons) + ("\n" + comment if comment else "")
        if comment:
            entry["comment"] = comment
        return entry

    def xray_document(self) -> dict:
        start = r.iso(self.started) or (self.scenarios[0]["start"] if self.scenarios else r.iso(r.now()))
        finish = r.iso(self.finished or r.now())
        finals = [self._final(i) for i in range(len(self.scenarios))]
        totals = r.counts(self.scenarios)
        flaky = sum(1 for outcome, _ in finals if outcome == "flaky")
        if any(outcome is not None for outcome, _ in finals):
            from tarvolab_framework.core import runwright

            totals = {"total": len(finals), "passed": 0, "failed": 0, "skipped": 0}
            for (outcome, _), rec in zip(finals, self.scenarios):
                xray = runwright._xray_status(outcome) if outcome is not None else XRAY_STATUS[rec["status"]]
                totals[{"PASSED": "passed", "TODO": "skipped"}.get(xray, "failed")] += 1
        info: dict = {
            "summary": self.summary or f"Ejecución automática behave {start}",
            "description": (f"{totals['total']} escenario(s): {totals['passed']} pasaron, "
                            f"{totals['failed']} fallaron, {totals['skipped']} omitidos"
                            + (f" ({flaky} flaky: pasaron en el reintento)" if flaky else "")),
            "startDate": start,
            "finishDate": finish,
        }
        if self.test_plan_key:
            info["testPlanKey"] = self.test_plan_key
        if self.test_environments:
            info["testEnvironments"] = self.test_environments
        doc: dict = {}
        if self.test_execution_key:
            doc["testExecutionKey"] = self.test_execution_key
        doc["info"] = info
        doc["tests"] = [self.xray_test(s, final) for s, final in zip(self.scenarios, finals)]
        return doc

    def after_all(self, context: Any) -> None:
        self.finished = r.now()
        self.written_path = r.write_json(self.results_file, self.xray_document())
        print(f"[JIRA-XRAY] Resultados Xray guardados en: {self.written_path}")
