"""Tarvo Test Manager integration: collects the run's scenario results and writes
them as a JSON results file, addressed to the configured server and project, for
upload by the test manager's importer (no network calls are made here).

Environment, read when the object is built:

- ``TARVO_TM_URL`` and ``TARVO_TM_API_KEY``: the server and its key; the
  integration ``is_configured`` only when both are non-empty (blank counts as
  empty). The key itself is never written to the file.
- ``TARVO_TM_PROJECT``: project identifier (optional).
- ``TARVO_TM_RESULTS_FILE``: where the file goes (default ``reports/tarvo-tm-results.json``).

File layout::

    {"tool": "tarvo-test-manager", "server": "<TARVO_TM_URL>", "project": "...",
     "run": {"start": ISO, "finish": ISO,
             "totals": {"total": n, "passed": n, "failed": n, "skipped": n}},
     "results": [{"scenario", "feature", "feature_file", "line", "tags",
                  "status": "PASSED" | "FAILED" | "SKIPPED", "duration",
                  "start", "finish", "failing_step": {...} or null}]}
"""

from __future__ import annotations

from typing import Any

from . import _results as r

TM_STATUS = {"passed": "PASSED", "failed": "FAILED", "skipped": "SKIPPED"}


class TarvoTestManagerIntegration:
    """Run-level Tarvo Test Manager object: is_configured, before_all, after_scenario, after_all."""

    def __init__(self) -> None:
        self.url = r.env_text("TARVO_TM_URL").strip()
        self._api_key = r.env_text("TARVO_TM_API_KEY").strip()
        self.project = r.env_text("TARVO_TM_PROJECT").strip()
        self.results_file = r.env_text("TARVO_TM_RESULTS_FILE")
        self.is_configured = bool(self.url and self._api_key)
        self.started = None
        self.finished = None
        self.results: list[dict] = []
        self.written_path = None

    def before_all(self, context: Any) -> None:
        self.started = r.now()

    def after_scenario(self, context: Any, scenario: Any) -> None:
        self.results.append(self.result_of(r.scenario_record(scenario)))

    @staticmethod
    def result_of(rec: dict) -> dict:
        """One entry of the results file from a scenario record."""
        return {
            "scenario": rec["name"],
            "feature": rec["feature"],
            "feature_file": rec["feature_file"],
            "line": rec["line"],
            "tags": rec["tags"],
            "status": TM_STATUS[rec["status"]],
            "duration": rec["duration"],
            "start": rec["start"],
            "finish": rec["finish"],
            "failing_step": rec["failing_step"],
        }

    def document(self) -> dict:
        started = self.started or r.now()
        totals = {"total": len(self.results), "passed": 0, "failed": 0, "skipped": 0}
        for res in self.results:
            totals[res["status"].lower()] += 1
        return {
            "tool": "tarvo-test-manager",
            "server": self.url,
            "project": self.project or None,
            "run": {"start": r.iso(started), "finish": r.iso(self.finished or r.now()), "totals": totals},
            "results": self.results,
        }

    def after_all(self, context: Any) -> None:
        self.finished = r.now()
        self.written_path = r.write_json(self.results_file, self.document())
        print(f"[TARVO-TM] Resultados guardados en: {self.written_path}")
