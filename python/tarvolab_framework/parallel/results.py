"""The results of a parallel or sharded run: what each part reports, the file a
part leaves behind (``partial-results.json``), the merge of several parts into
the run's one result, and the run's outputs written from it (the integrations'
result files, the analysis and healing reports, the recorded durations).

A scenario is known by its location, ``<feature file>:<line>``. When a scenario
ran more than once (the end-of-run retry pass), its final result is the last
one; ``attempts`` keeps the earlier statuses, so a scenario that failed and then
passed is told apart from one that passed at once.
"""

from __future__ import annotations

import json
import os
from datetime import datetime
from pathlib import Path
from typing import Any, Iterable

from tarvolab_framework.core import safe_io, secrets, settings
from tarvolab_framework.integrations import _results as r

PARTIAL_FILE = "partial-results.json"
FORMAT_VERSION = 1
DURATIONS_FILE = Path(".tarvo") / "durations.json"
OUTPUT_KINDS = ("jira", "meridio", "tarvo_tm", "analysis")


def location_of(record: dict) -> str:
    return "%s:%s" % (record.get("feature_file", ""), record.get("line"))


def _dump(payload: Any) -> str:
    # Step messages may quote a typed password: masked like every results file.
    return json.dumps(secrets.mask_data(payload), ensure_ascii=False, indent=2, default=str) + "\n"


class RunResults:
    """Everything one run (or one shard) found out, in a form that can be merged."""

    def __init__(self) -> None:
        self.started: str | None = None
        self.finished: str | None = None
        self.shard: list[int] | None = None
        self.workers = 0
        self.feature_order: list[str] = []       # every feature of the unsharded run, in behave's order
        self.features: dict[str, dict] = {}      # path -> {"duration", "state", "reason"}
        self.scenarios: dict[str, dict] = {}     # location -> {"record", "analysis", "attempts"}
        self.healing: list[dict] = []            # the self-healing managers' suggestion logs
        self.heal_requests: list[dict] = []      # the element locators' healing requests
        self.outputs: dict[str, bool] = {k: False for k in OUTPUT_KINDS}
        self.start_failed = False

    # -- filling -------------------------------------------------------------
    def add_scenario(self, record: dict, analysis: dict | None, outcome: dict | None = None,
                     retry_attempt: int = 0) -> None:
        """A scenario's result; with ``retry_attempt`` N, its N-th re-run in the retry pass.

        A re-run changes only the final outcome, as in one process: the records of
        the first run (its failing step, its evidence) stay, with the attempt noted.
        """
        key = location_of(record)
        entry = self.scenarios.get(key)
        if entry is None or not retry_attempt:
            self.scenarios[key] = {"record": record, "analysis": analysis, "outcome": outcome, "attempts": []}
            return
        passed = final_outcome_of({"record": record, "outcome": outcome}) in ("passed", "passed-with-soft-failures")
        entry["attempts"].append({"attempt": int(retry_attempt), "passed": passed})
        first = entry.get("outcome")
        if not isinstance(first, dict):  # a killed scenario, or a worker without outcome records
            first = entry["outcome"] = {
                "runner_status": entry["record"].get("runner_status") or entry["record"].get("status"),
                "soft_failures": [], "forced_reasons": [], "passed_on_retry": 0, "retry_attempts": [],
                "screenshots": [], "trace": None, "video": None, "video_offset": None}
        first.setdefault("retry_attempts", []).append({"attempt": int(retry_attempt), "passed": passed})
        if passed and not first.get("passed_on_retry"):
            first["passed_on_retry"] = int(retry_attempt)
        first["outcome"] = _decide(first)
        analysis_first = entry.get("analysis")
        if isinstance(analysis_first, dict):
            for k in ("outcome", "passed_on_retry", "retry_attempts"):
                analysis_first[k] = first.get(k)

    def feature_done(self, path: str, duration: float, state: str = "done", reason: str = "") -> None:
        self.features[path] = {"duration": round(float(duration), 3), "state": state, "reason": reason}

    def note_outputs(self, outputs: dict) -> None:
        for k in OUTPUT_KINDS:
            self.outputs[k] = self.outputs[k] or bool(outputs.get(k))

    # -- reading -------------------------------------------------------------
    def ordered(self) -> list[dict]:
        """The scenario entries in behave's order: by feature, then by line."""
        rank = {path: i for i, path in enumerate(self.feature_order)}

        def key(item):
            record = item["record"]
            path = os.path.normpath(record.get("feature_file", ""))
            return (rank.get(path, len(rank)), path, record.get("line") or 0)

        return sorted(self.scenarios.values(), key=key)

    def failed_locations(self) -> list[str]:
        """Scenarios the retry pass re-runs: those whose outcome is failed."""
        return [location_of(e["record"]) for e in self.ordered() if final_outcome_of(e) == "failed"]

    def totals(self) -> dict:
        totals = {"total": 0, "passed": 0, "failed": 0, "skipped": 0, "flaky": 0,
                  "passed-with-soft-failures": 0}
        for e in self.scenarios.values():
            outcome = final_outcome_of(e)
            totals["total"] += 1
            totals[outcome] = totals.get(outcome, 0) + 1
        return totals

    def failed(self) -> bool:
        """The run's exit status, from the final outcomes (as one process decides it)."""
        if self.start_failed:
            return True
        outcomes = [final_outcome_of(e) for e in self.ordered()]
        try:
            from tarvolab_framework.core import outcomes as registry, runwright

            return bool(runwright._run_exit_status(outcomes, False, registry.fail_on_flaky()))
        except (ImportError, AttributeError):
            return any(o in ("failed", "passed-with-soft-failures") for o in outcomes)

    def summary_lines(self) -> list[str]:
        """The outcome summary a single process prints at its end, for the whole run."""
        try:
            from tarvolab_framework.core import outcomes as registry, runwright
        except ImportError:
            return []
        entries = []
        for e in self.ordered():
            final = e.get("outcome") or {}
            entries.append((e["record"].get("name", ""), final_outcome_of(e), int(final.get("passed_on_retry") or 0),
                            "; ".join(final.get("forced_reasons") or [])))
        try:
            return list(runwright._outcome_summary_lines(entries, registry.fail_on_flaky()))
        except AttributeError:
            return []

    # -- files ---------------------------------------------------------------
    def to_json(self) -> dict:
        return {
            "format": "tarvo-run partial results",
            "version": FORMAT_VERSION,
            "started": self.started,
            "finished": self.finished,
            "shard": self.shard,
            "workers": self.workers,
            "feature_order": self.feature_order,
            "features": self.features,
            "scenarios": self.ordered(),
            "healing": self.healing,
            "heal_requests": self.heal_requests,
            "outputs": self.outputs,
            "start_failed": self.start_failed,
        }

    def write(self, folder: Path) -> Path:
        return safe_io.atomic_write_text(Path(folder) / PARTIAL_FILE, safe_io.valid_utf8(_dump(self.to_json())))

    @classmethod
    def read(cls, path: Path) -> "RunResults":
        try:
            data = json.loads(Path(path).read_text(encoding="utf-8"))
        except (OSError, ValueError) as exc:
            raise ValueError("%s: not a readable results file (%s)" % (path, exc)) from None
        if not isinstance(data, dict) or data.get("format") != "tarvo-run partial results":
            raise ValueError("%s: not a tarvo-run results file" % path)
        if data.get("version") != FORMAT_VERSION:
            raise ValueError("%s: results format version %r, expected %d"
                             % (path, data.get("version"), FORMAT_VERSION))
        out = cls()
        out.started, out.finished = data.get("started"), data.get("finished")
        out.shard = data.get("shard")
        out.workers = data.get("workers") or 0
        out.feature_order = list(data.get("feature_order") or [])
        out.features = dict(data.get("features") or {})
        for entry in data.get("scenarios") or []:
            out.scenarios[location_of(entry["record"])] = entry
        out.healing = list(data.get("healing") or [])
        out.heal_requests = list(data.get("heal_requests") or [])
        out.note_outputs(data.get("outputs") or {})
        out.start_failed = bool(data.get("start_failed"))
        return out


def _decide(outcome: dict) -> str:
    """The final outcome of an outcome record, decided by the core as in one process."""
    try:
        from tarvolab_framework.core import runwright

        return runwright._final_outcome(str(outcome.get("runner_status", "")), len(outcome.get("soft_failures") or []),
                                        bool(outcome.get("forced_reasons")), int(outcome.get("passed_on_retry") or 0))
    except (ImportError, AttributeError):
        if outcome.get("passed_on_retry"):
            return "flaky"
        return "passed" if outcome.get("runner_status") == "passed" else "failed"


def final_outcome_of(entry: dict) -> str:
    """passed, failed, flaky, passed-with-soft-failures or skipped."""
    outcome = entry.get("outcome")
    if isinstance(outcome, dict) and outcome.get("outcome"):
        return str(outcome["outcome"])
    return str((entry.get("record") or {}).get("status") or "failed")


def find_partials(folders: Iterable[str]) -> list[Path]:
    """The results files in the given folders (searched below each one)."""
    found: list[Path] = []
    for folder in folders:
        base = Path(folder)
        if base.is_file() and base.name == PARTIAL_FILE:
            found.append(base)
            continue
        if not base.is_dir():
            raise ValueError("%s: no such folder" % folder)
        hits = sorted(base.rglob(PARTIAL_FILE))
        if not hits:
            raise ValueError("%s: holds no %s" % (folder, PARTIAL_FILE))
        found.extend(hits)
    return found


def merge(parts: list[RunResults]) -> tuple[RunResults, list[str]]:
    """One result from the parts, and the problems found (a feature run by two
    shards, shards of different splits, features no shard ran)."""
    problems: list[str] = []
    merged = RunResults()
    if not parts:
        return merged, ["nothing to merge"]
    merged.feature_order = max((p.feature_order for p in parts), key=len)
    totals = {tuple(p.shard)[1] for p in parts if p.shard}
    if len(totals) > 1:
        problems.append("the results come from different splits (shard totals %s)" % sorted(totals))
    seen: dict[str, int] = {}
    for i, part in enumerate(parts):
        for path, info in part.features.items():
            if path in seen:
                problems.append("%s was run by two parts" % path)
            seen[path] = i
            merged.features[path] = info
        merged.scenarios.update(part.scenarios)
        merged.healing.extend(part.healing)
        merged.heal_requests.extend(part.heal_requests)
        merged.note_outputs(part.outputs)
        merged.start_failed = merged.start_failed or part.start_failed
        merged.workers += part.workers
    shard_indexes = sorted(p.shard[0] for p in parts if p.shard)
    if totals and len(totals) == 1:
        expected = list(range(1, next(iter(totals)) + 1))
        if shard_indexes != expected:
            problems.append("shards %s of %d present, expected each of %s once"
                            % (shard_indexes, next(iter(totals)), expected))
        missing = [f for f in merged.feature_order if f not in merged.features]
        if missing:
            problems.append("features no shard ran: %s" % ", ".join(missing))
    starts = [p.started for p in parts if p.started]
    ends = [p.finished for p in parts if p.finished]
    merged.started = min(starts) if starts else None
    merged.finished = max(ends) if ends else None
    return merged, problems


# -- the run's outputs ---------------------------------------------------------

def _moment(text: str | None) -> datetime | None:
    try:
        return datetime.fromisoformat(text) if text else None
    except ValueError:
        return None


def _plain_record(record: dict) -> dict:
    """The record as the integrations keep it (without the command's own keys)."""
    return {k: v for k, v in record.items() if k != "test_key"}


def write_outputs(results: RunResults) -> list[str]:
    """Writes the integrations' files and the reports that the run start switched
    on, from the merged results. Returns failure lines (already printed)."""
    problems: list[str] = []
    records = [e["record"] for e in results.ordered()]
    started, finished = _moment(results.started), _moment(results.finished)

    def guarded(label: str, work) -> None:
        try:
            work()
        except Exception as exc:  # one output's failure keeps the others
            line = "⚠️ Error escribiendo %s: %s" % (label, exc)
            print(line)
            problems.append(line)

    if results.outputs.get("jira"):
        def jira():
            from tarvolab_framework.integrations.behave_hooks import JiraXrayHooks, test_key_of

            from types import SimpleNamespace

            hooks = JiraXrayHooks()
            hooks.started = started
            hooks.scenarios = [dict(rec, test_key=rec.get("test_key", test_key_of(rec.get("tags") or [])))
                               for rec in records]
            hooks.finished = finished
            finals = []
            for entry in results.ordered():
                outcome = entry.get("outcome")
                finals.append((final_outcome_of(entry), SimpleNamespace(**outcome)) if isinstance(outcome, dict)
                              else (None, None))
            # The scenarios' final outcomes, as the writer finds them in one process's registry.
            hooks._final = lambda index: finals[index] if index < len(finals) else (None, None)
            path = r.write_json(hooks.results_file, hooks.xray_document())
            print(f"[JIRA-XRAY] Resultados Xray guardados en: {path}")
        guarded("Jira/Xray", jira)

    if results.outputs.get("meridio"):
        def meridio():
            from tarvolab_framework.integrations.meridio_hooks import MeridioHooks

            hooks = MeridioHooks()
            hooks.started, hooks.finished = started, finished
            hooks.scenarios = [_plain_record(rec) for rec in records]
            path = r.write_json(hooks.results_file, hooks.document())
            print(f"[MERIDIO] Resultados guardados en: {path}")
        guarded("Meridio", meridio)

    if results.outputs.get("tarvo_tm"):
        def tarvo():
            from tarvolab_framework.integrations.tarvo_test_manager import TarvoTestManagerIntegration

            hooks = TarvoTestManagerIntegration()
            hooks.started, hooks.finished = started, finished
            hooks.results = [hooks.result_of(rec) for rec in records]
            path = r.write_json(hooks.results_file, hooks.document())
            print(f"[TARVO-TM] Resultados guardados en: {path}")
        guarded("Tarvo Test Manager", tarvo)

    rule = "=" * 70
    if results.outputs.get("analysis"):
        def analysis():
            from tarvolab_framework.core.ai_analysis_report import AIAnalysisReport

            report = AIAnalysisReport()
            report.start()
            if started is not None:
                report.started_at = started.timestamp()
            report.scenarios = [e["analysis"] for e in results.ordered() if isinstance(e.get("analysis"), dict)
                                and "name" in e["analysis"]]
            path = report.generate()
            if path:
                print("\n" + rule)
                print("📊 Reporte de Analisis IA generado: " + str(path))
                print(rule + "\n")
        guarded("el reporte de analisis IA", analysis)

    if (results.healing or results.heal_requests) and settings.get("GENERATE_AI_REPORT"):
        def healing():
            path = write_healing_report(results)
            if path:
                print("\n" + rule)
                print("🤖 Reporte de Validaciones IA generado: " + str(path))
                print(rule + "\n")
        guarded("el reporte de IA", healing)
    return problems


def write_healing_report(results: RunResults) -> str:
    """The healing report of all processes: their suggestions and healing requests, each
    request with its scenario's final outcome and evidence from the merged results."""
    from tarvolab_framework.core import ai_report_generator as writer

    merged = _MergedHealing(results.healing)
    by_scenario = {}
    for entry in results.ordered():
        analysis = entry.get("analysis") or {}
        final = dict(entry.get("outcome") or {})
        final.setdefault("screenshots", analysis.get("screenshots", []))
        final["outcome"] = final_outcome_of(entry)
        by_scenario[(entry["record"].get("feature", ""), entry["record"].get("name", ""))] = final
    data = writer.build_data(merged.get_healing_report_entries(), merged.get_healing_summary(),
                             results.heal_requests)
    for row in data.get("requests", []):
        final = by_scenario.get((row.get("feature", ""), row.get("scenario", "")), {})
        for key in ("outcome", "screenshots", "trace", "video", "video_offset"):
            row[key] = final.get(key, [] if key == "screenshots" else None)
    directory = writer.reports_dir()
    safe_io.atomic_write_text(directory / writer.DATA_FILE_NAME,
                              safe_io.valid_utf8(json.dumps(data, ensure_ascii=False, indent=2)))
    path = directory / writer.REPORT_FILE_NAME
    safe_io.atomic_write_text(path, writer.render_data(data, base=directory))
    return str(path)


class _MergedHealing:
    """The healing log of several processes, offered as one self-healing manager."""

    def __init__(self, entries: list[dict]) -> None:
        self.entries = entries

    def get_healing_report_entries(self) -> list[dict]:
        return self.entries

    def get_healing_summary(self) -> dict:
        total = len(self.entries)
        ok = sum(1 for e in self.entries if e.get("success"))
        return {"total_attempts": total, "successful": ok, "failed": total - ok,
                "success_rate": ("%.1f%%" % (ok / total * 100.0)) if total else "N/A",
                "healings": self.entries}


# -- recorded durations ---------------------------------------------------------

def read_durations(path: Path = DURATIONS_FILE) -> dict[str, float]:
    """Seconds per feature from the last runs; empty when missing or unreadable."""
    try:
        data = json.loads(Path(path).read_text(encoding="utf-8"))
        features = data.get("features", {}) if isinstance(data, dict) else {}
        return {str(k): float(v) for k, v in features.items()
                if isinstance(v, (int, float)) and not isinstance(v, bool) and v >= 0}
    except (OSError, ValueError, AttributeError):
        return {}


def update_durations(results: RunResults, path: Path = DURATIONS_FILE) -> None:
    """Keeps the durations of the features that ran to their end (a killed
    feature's time says nothing about its length)."""
    durations = read_durations(path)
    for feature, info in results.features.items():
        if info.get("state") == "done":
            durations[feature] = info["duration"]
    payload = {"version": 1, "features": dict(sorted(durations.items()))}
    try:
        safe_io.atomic_write_text(path, _dump(payload))
    except OSError as exc:
        print("tarvo-run: could not record the feature durations in %s: %s" % (path, exc))
