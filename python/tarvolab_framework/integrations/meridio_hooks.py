"""Meridio integration: collects the run's scenario results and writes them as a
JSON results file at run end (no network calls).

Environment, read when the object is built:

- ``MERIDIO_RESULTS_FILE``: where the file goes (default ``reports/meridio-results.json``).
- ``MERIDIO_PROJECT``: project name written into the file (optional).
- ``MERIDIO_RUN_NAME``: name of the run (default "Ejecución <start>").

File layout::

    {"tool": "meridio", "project": "...",
     "run": {"name": ..., "start": ISO, "finish": ISO, "duration": seconds,
             "totals": {"total": n, "passed": n, "failed": n, "skipped": n}},
     "scenarios": [{"name", "feature", "feature_file", "line", "tags", "status",
                    "runner_status", "duration", "start", "finish", "steps",
                    "failing_step": {"keyword", "name", "line", "error_message"} or null}]}

``status`` is "passed", "failed" (failed, error, hook_error, undefined) or "skipped";
``runner_status`` keeps the runner's own status name.
"""

from __future__ import annotations

from typing import Any

from . import _results as r


class MeridioHooks:
    """Run-level Meridio hook object: before_all, before_scenario, after_scenario, after_all."""

    def __init__(self) -> None:
        self.results_file = r.env_text("MERIDIO_RESULTS_FILE")
        self.project = r.env_text("MERIDIO_PROJECT")
        self.run_name = r.env_text("MERIDIO_RUN_NAME")
        self.started = None
        self.finished = None
        self.scenarios: list[dict] = []
        self._scenario_starts: dict[int, Any] = {}
        self.written_path = None

    def before_all(self, context: Any) -> None:
        self.started = r.now()

    def before_scenario(self, context: Any, scenario: Any) -> None:
        self._scenario_starts[id(scenario)] = r.now()

    def after_scenario(self, context: Any, scenario: Any) -> None:
        started = self._scenario_starts.pop(id(scenario), None)
        self.scenarios.append(r.scenario_record(scenario, started))

    def document(self) -> dict:
        started = self.started or r.now()
        finished = self.finished or r.now()
        return {
            "tool": "meridio",
            "project": self.project or None,
            "run": {
                "name": self.run_name or f"Ejecución {r.iso(started)}",
                "start": r.iso(started),
                "finish": r.iso(finished),
                "duration": round((finished - started).total_seconds(), 3),
                "totals": r.counts(self.scenarios),
            },
            "scenarios": self.scenarios,
        }

    def after_all(self, context: Any) -> None:
        self.finished = r.now()
        self.written_path = r.write_json(self.results_file, self.document())
        print(f"[MERIDIO] Resultados guardados en: {self.written_path}")
