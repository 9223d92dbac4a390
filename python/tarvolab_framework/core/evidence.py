"""Evidence of each scenario: failure screenshots, Playwright traces and videos.

The run lifecycle calls these functions at fixed moments (scenario start and end,
feature end, each retry attempt, run end). Settings:

* ``AUTO_SCREENSHOT_ON_FAILURE`` (default true): when a scenario fails, and when a
  retry attempt fails, a full-page PNG of every open page goes to ``SCREENSHOTS_DIR``
  (default ``screenshots``) as ``<feature>/<scenario>[-retryN][-pageK].png``.
* ``TRACE_MODE`` = ``off`` (default) | ``on`` | ``retain-on-failure``: a Playwright
  trace per scenario (tracing chunks on the browser context the feature's scenarios
  share) in ``TRACES_DIR`` (default ``test-results/traces``) as
  ``<feature>/<scenario>[-retryN].zip``; open it with ``playwright show-trace FILE``.
* ``VIDEO_MODE`` = ``on`` | ``off`` | ``retain-on-failure`` (default), with
  ``RECORD_VIDEO=true``: a feature's video is kept (as ``<feature>.webm`` in
  ``VIDEO_DIR``) when one of its scenarios failed, or always with ``on``; each
  scenario's start offset in the video goes to the reports.

Feature and scenario names become file names of safe characters only (the C++ core's
``safe_name``): no name can leave its folder. An artefact that cannot be written
(read-only folder, full disk, closed page) prints one warning and the run goes on;
a scenario's outcome never depends on its evidence.
"""

from __future__ import annotations

import logging
import os
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple

from tarvolab_framework.core import outcomes
from tarvolab_framework.core.safe_io import atomic_write_bytes, valid_utf8

logger = logging.getLogger("tarvolab_framework.core.evidence")

DEFAULT_TRACES_DIR = "test-results/traces"
DEFAULT_SCREENSHOTS_DIR = "screenshots"
DEFAULT_VIDEO_DIR = "videos"
SETTINGS_ATTRIBUTE = "_tarvo_evidence_settings"
STATE_ATTRIBUTE = "_tarvo_evidence_state"
RUN_END_CALLBACKS = "_tarvo_run_end_callbacks"


# The same context lookup (behave 1.2.6's KeyError included) and lazy core import
# as the outcome registry's.
_lookup = outcomes._lookup
_core = outcomes._core


def warn(text: str) -> None:
    """One console line for an artefact that could not be made."""
    print(valid_utf8("⚠️ " + text))
    logger.warning("%s", text)


@dataclass
class EvidenceSettings:
    screenshots: bool
    screenshots_dir: Path
    trace_mode: str
    traces_dir: Path
    record_video: bool
    video_mode: str
    video_dir: Path


def _mode(variable: str, text: str, default: str) -> str:
    mode = _core()._artefact_mode(text, default)
    if mode is None:
        warn(f"{variable}='{text}' no es válido (off, on, retain-on-failure): se usa '{default}'")
        return default
    return mode


def table_setting(variable: str) -> Any:
    from tarvolab_framework.core import settings as table

    return table.get(variable)


def settings(context: Any) -> EvidenceSettings:
    """The evidence settings of the run, read once (from the settings dictionary when there is one)."""
    found = _lookup(context, SETTINGS_ATTRIBUTE)
    if isinstance(found, EvidenceSettings):
        return found
    config: Dict[str, Any] = {}
    framework_config = _lookup(context, "framework_config")
    if framework_config is not None and isinstance(_lookup(framework_config, "config"), dict):
        config = framework_config.config

    def value(key: str, variable: str) -> Any:
        # The run's settings dictionary (which steps may have edited), else the table's reading.
        return config[key] if key in config else table_setting(variable)

    made = EvidenceSettings(
        screenshots=bool(value("auto_screenshot_on_failure", "AUTO_SCREENSHOT_ON_FAILURE")),
        screenshots_dir=Path(str(value("screenshots_dir", "SCREENSHOTS_DIR") or DEFAULT_SCREENSHOTS_DIR)),
        trace_mode=_mode("TRACE_MODE", str(table_setting("TRACE_MODE") or ""), "off"),
        traces_dir=Path(str(table_setting("TRACES_DIR") or DEFAULT_TRACES_DIR)),
        record_video=bool(value("record_video", "RECORD_VIDEO")),
        video_mode=_mode("VIDEO_MODE", str(value("video_mode", "VIDEO_MODE") or ""), "retain-on-failure"),
        video_dir=Path(str(value("video_dir", "VIDEO_DIR") or DEFAULT_VIDEO_DIR)),
    )
    setattr(context, SETTINGS_ATTRIBUTE, made)
    return made


class _RunState:
    """Bookkeeping of the run's evidence, kept on the runner context."""

    def __init__(self) -> None:
        self.used_stems: set = set()                       # (feature stem, scenario stem)
        self.feature_stems: Dict[int, Tuple[Any, str]] = {}  # id(feature) -> (feature, stem)
        self.used_feature_stems: set = set()
        self.traced_contexts: List[Any] = []               # browser contexts with tracing started
        self.open_chunks: Dict[int, Any] = {}               # id(scenario) -> browser context
        self.page_starts: Dict[int, Tuple[Any, float]] = {}  # id(page) -> (page, first seen)
        self.scenario_pages: Dict[int, Any] = {}            # id(scenario) -> page it ran on
        self.feature_videos: Dict[str, Tuple[Any, float]] = {}  # video path -> (page, first seen)
        self.used_video_names: set = set()
        self.retry_videos: Dict[str, Tuple[Any, float]] = {}
        self.retry_failed = False
        self.allure_tests: Dict[int, str] = {}  # id(scenario) -> Allure result id
        self.retry_marks: Dict[Tuple[int, int], Tuple[int, float]] = {}  # (scenario, attempt) -> (page, offset)


def _state(context: Any) -> _RunState:
    found = _lookup(context, STATE_ATTRIBUTE)
    if isinstance(found, _RunState):
        return found
    from tarvolab_framework.core import heal_events

    made = _RunState()
    setattr(context, STATE_ATTRIBUTE, made)
    heal_events.clear()  # a new run in this process starts with no healing requests
    return made


# ----------------------------------------------------------------------- names
def _feature_stem(state: _RunState, feature: Any) -> str:
    key = id(feature)
    found = state.feature_stems.get(key)
    if found is not None and found[0] is feature:
        return found[1]
    core = _core()
    base = core._safe_name(str(_lookup(feature, "name", "") or "feature"))
    stem = core._unique_name(base, lambda s: s in state.used_feature_stems)
    state.used_feature_stems.add(stem)
    state.feature_stems[key] = (feature, stem)
    return stem


def _name_scenario(state: _RunState, record: outcomes.ScenarioRecord, scenario: Any) -> None:
    if record.stem:
        return
    core = _core()
    record.feature_stem = _feature_stem(state, _lookup(scenario, "feature"))
    base = core._safe_name(record.name or "scenario")
    stem = core._unique_name(base, lambda s: (record.feature_stem, s) in state.used_stems)
    state.used_stems.add((record.feature_stem, stem))
    record.stem = stem


def artefact_path(folder: Path, record: outcomes.ScenarioRecord, retry: int, page: int, ext: str) -> Path:
    return folder / _core()._artefact_path(record.feature_stem, record.stem, int(retry), int(page), ext)


# ---------------------------------------------------------------------- pages
def _open_pages(context: Any) -> List[Any]:
    """Every open page of the browser, first context first."""
    browser = _lookup(context, "browser")
    pages: List[Any] = []
    if not browser:
        return pages
    try:
        for browser_context in list(browser.contexts):
            for page in list(browser_context.pages):
                if not page.is_closed():
                    pages.append(page)
    except Exception as exc:  # a browser gone away has no pages to photograph
        logger.debug("Pages not listed: %s", exc)
    current = _lookup(context, "page")
    if current is not None and current not in pages:
        try:
            if not current.is_closed():
                pages.insert(0, current)
        except Exception:
            pass
    return pages


def _live_page(context: Any) -> Any:
    page = _lookup(context, "page")
    if page is None or _lookup(context, "browser_disabled", False):
        return None
    try:
        return None if page.is_closed() else page
    except Exception:
        return None


def take_screenshots(context: Any, record: outcomes.ScenarioRecord, retry: int) -> List[str]:
    """Full-page PNGs of every open page; returns the paths written."""
    cfg = settings(context)
    written: List[str] = []
    for number, page in enumerate(_open_pages(context), start=1):
        path = artefact_path(cfg.screenshots_dir, record, retry, number, "png")
        try:
            data = page.screenshot(full_page=True)
            atomic_write_bytes(path, data)
        except Exception as exc:
            warn(f"No se pudo guardar la captura {path}: {_first_line(exc)}")
            continue
        written.append(os.path.abspath(path))
        _attach(path, f"screenshot {path.stem}", "png")
    return written


def _first_line(exc: BaseException) -> str:
    text = str(exc).strip().splitlines()
    return text[0] if text else type(exc).__name__


# --------------------------------------------------------------------- traces
def _start_chunk(context: Any, state: _RunState, key: int, page: Any, title: str) -> None:
    browser_context = page.context
    # A chunk left open (a scenario whose end hook never ran) would block the next one.
    for other, open_context in list(state.open_chunks.items()):
        if open_context is browser_context:
            del state.open_chunks[other]
            try:
                browser_context.tracing.stop_chunk()
            except Exception as exc:
                logger.debug("Stale trace chunk not stopped: %s", exc)
    if not any(c is browser_context for c in state.traced_contexts):
        browser_context.tracing.start(screenshots=True, snapshots=True, sources=False, title=title)
        state.traced_contexts.append(browser_context)
    else:
        browser_context.tracing.start_chunk(title=title)
    state.open_chunks[key] = browser_context


def _stop_chunk(context: Any, state: _RunState, key: int, keep: bool, path: Path) -> Optional[str]:
    browser_context = state.open_chunks.pop(key, None)
    if browser_context is None:
        return None
    if not keep:
        try:
            browser_context.tracing.stop_chunk()
        except Exception as exc:
            logger.debug("Trace chunk not stopped: %s", exc)
        return None
    # Written beside the target, then renamed: no half-written zip under the final name.
    work = path.with_name(f".{path.name}.part")
    try:
        path.parent.mkdir(parents=True, exist_ok=True)
        browser_context.tracing.stop_chunk(path=str(work))
        os.replace(work, path)
    except Exception as exc:
        warn(f"No se pudo guardar la traza {path}: {_first_line(exc)}")
        try:
            work.unlink()
        except OSError:
            pass
        return None
    _attach(path, f"trace {path.stem}", "zip")
    return os.path.abspath(path)


# --------------------------------------------------------------------- videos
def _note_page(state: _RunState, page: Any) -> float:
    """When the page was first seen (its video starts about then)."""
    key = id(page)
    found = state.page_starts.get(key)
    if found is not None and found[0] is page:
        return found[1]
    started = time.monotonic()
    state.page_starts[key] = (page, started)
    return started


def _video_path(page: Any) -> Optional[str]:
    video = _lookup(page, "video")
    if video is None:
        return None
    try:
        return str(video.path())
    except Exception:
        return None


def _collect_videos(context: Any, state: _RunState, target: Dict[str, Tuple[Any, float]]) -> None:
    for page in _open_pages(context):
        path = _video_path(page)
        if path and path not in target:
            target[path] = (page, _note_page(state, page))


def _settle_videos(cfg: EvidenceSettings, state: _RunState, videos: Dict[str, Tuple[Any, float]],
                   stem: str, failed: bool, records: List[outcomes.ScenarioRecord]) -> Dict[int, str]:
    """Keep (renamed after the feature) or drop each finished recording; returns id(page) -> kept path."""
    keep = _core()._keep_artefact(cfg.video_mode, failed)
    page_names: Dict[int, str] = {}
    for number, (path, (page, _)) in enumerate(sorted(videos.items(), key=lambda kv: kv[1][1]), start=1):
        source = Path(path)
        if not source.exists():
            continue
        if not keep:
            try:
                source.unlink()
            except OSError as exc:
                logger.debug("Video not removed: %s", exc)
            continue
        base = stem if number == 1 else f"{stem}-page{number}"
        name = _core()._unique_name(base, lambda s: s in state.used_video_names)
        state.used_video_names.add(name)
        target = cfg.video_dir / f"{name}.webm"
        try:
            os.replace(source, target)
        except OSError as exc:
            warn(f"No se pudo guardar el vídeo {target}: {_first_line(exc)}")
            continue
        page_names[id(page)] = os.path.abspath(target)
    for record in records:
        page = state.scenario_pages.get(id(record.scenario))
        if page is not None and id(page) in page_names:
            record.video = page_names[id(page)]
    return page_names


# --------------------------------------------------------------- lifecycle calls
def scenario_started(context: Any, scenario: Any) -> None:
    """At the end of the scenario set-up: name it, note its video offset, start its trace chunk."""
    state = _state(context)
    record = outcomes.registry(context).record(scenario)
    record.started_at = time.time()
    _name_scenario(state, record, scenario)
    page = _live_page(context)
    if page is None:
        return
    state.scenario_pages[id(scenario)] = page
    cfg = settings(context)
    if cfg.record_video and _video_path(page):
        record.video_offset = round(max(0.0, time.monotonic() - _note_page(state, page)), 1)
    if cfg.trace_mode != "off":
        try:
            _start_chunk(context, state, id(scenario), page, record.name)
        except Exception as exc:
            warn(f"No se pudo iniciar la traza de '{record.name}': {_first_line(exc)}")


def _needs_evidence(record: outcomes.ScenarioRecord) -> bool:
    return record.outcome != "passed" and record.outcome != "skipped"


def scenario_finished(context: Any, scenario: Any) -> None:
    """First thing at scenario end: record the result, take screenshots, close the trace chunk."""
    state = _state(context)
    record = outcomes.registry(context).scenario_ended(scenario)
    _name_scenario(state, record, scenario)
    cfg = settings(context)
    failed = _needs_evidence(record)
    if failed and cfg.screenshots and not _lookup(context, "browser_disabled", False):
        record.screenshots = take_screenshots(context, record, 0)
    if id(scenario) in state.open_chunks:
        keep = _core()._keep_artefact(cfg.trace_mode, failed)
        record.trace = _stop_chunk(context, state, id(scenario), keep,
                                   artefact_path(cfg.traces_dir, record, 0, 0, "zip"))
    if cfg.record_video:
        _collect_videos(context, state, state.feature_videos)
    _attach_soft_failures(record)
    test_id = _allure_test()
    if test_id:
        state.allure_tests[id(scenario)] = test_id


def feature_pages_closing(context: Any, feature: Any) -> None:
    """Before the feature's pages close: note their video files."""
    cfg = settings(context)
    if cfg.record_video:
        _collect_videos(context, _state(context), _state(context).feature_videos)


def feature_finished(context: Any, feature: Any) -> None:
    """After the feature's pages closed: keep or drop its videos."""
    cfg = settings(context)
    state = _state(context)
    videos, state.feature_videos = state.feature_videos, {}
    try:
        if cfg.record_video and videos:
            _settle_feature_videos(context, cfg, state, videos, feature)
    finally:
        # The feature's pages are closed: forget them, so a long run keeps no page objects.
        for key, (page, _) in list(state.page_starts.items()):
            if _closed(page):
                del state.page_starts[key]
        for key, page in list(state.scenario_pages.items()):
            if _closed(page):
                del state.scenario_pages[key]


def _closed(page: Any) -> bool:
    try:
        return bool(page.is_closed())
    except Exception:
        return True


def _settle_feature_videos(context: Any, cfg: EvidenceSettings, state: _RunState,
                           videos: Dict[str, Tuple[Any, float]], feature: Any) -> None:
    reg = outcomes.registry(context)
    records = [r for r in reg.records() if _lookup(r.scenario, "feature") is feature]
    failed = any(_needs_evidence(r) for r in records)
    _settle_videos(cfg, state, videos, _feature_stem(state, feature), failed, records)
    for record in records:
        test_id = state.allure_tests.get(id(record.scenario))
        if record.video and test_id:
            offset = f" (el escenario empieza en {record.video_offset} s)" if record.video_offset is not None else ""
            _allure_call("attach_to_written_test", test_id, Path(record.video),
                         f"vídeo {Path(record.video).name}{offset}", "webm")


def retry_attempt_started(context: Any, scenario: Any, attempt: int) -> None:
    """Before a retry attempt's steps: fresh soft assertions, a trace chunk, the video offset."""
    from tarvolab_framework.core import heal_events, soft_assertion_hooks

    heal_events.set_phase(f"retry {int(attempt)}")
    soft_assertion_hooks.before_scenario_soft_assertions(context, scenario)
    state = _state(context)
    record = outcomes.registry(context).record(scenario)
    _name_scenario(state, record, scenario)
    page = _live_page(context)
    if page is None:
        return
    cfg = settings(context)
    if cfg.record_video and _video_path(page):
        _collect_videos(context, state, state.retry_videos)
        offset = round(max(0.0, time.monotonic() - _note_page(state, page)), 1)
        state.retry_marks[(id(scenario), int(attempt))] = (id(page), offset)
    if cfg.trace_mode != "off":
        try:
            _start_chunk(context, state, id(scenario), page, f"{record.name} (reintento {attempt})")
        except Exception as exc:
            warn(f"No se pudo iniciar la traza de '{record.name}': {_first_line(exc)}")


def retry_attempt_finished(context: Any, scenario: Any, attempt: int, steps_passed: bool) -> bool:
    """After a retry attempt: True when it passed (its soft assertions included)."""
    from tarvolab_framework.core import soft_assertion_hooks

    collector = _lookup(context, soft_assertion_hooks.COLLECTOR_ATTRIBUTE)
    soft = [str(f) for f in getattr(collector, "failures", [])]
    if soft:
        print(f"      ⚠️  SOFT ASSERTIONS: {len(soft)} fallo(s) en el reintento {attempt}")
        for number, failure in enumerate(soft, start=1):
            print(f"         {number}. {failure}")
        collector.failures.clear()
    passed = bool(steps_passed) and not soft
    state = _state(context)
    cfg = settings(context)
    record = outcomes.registry(context).record(scenario)
    shots: List[str] = []
    if not passed:
        state.retry_failed = True
        if cfg.screenshots:
            shots = take_screenshots(context, record, attempt)
    trace = None
    if id(scenario) in state.open_chunks:
        keep = _core()._keep_artefact(cfg.trace_mode, not passed)
        trace = _stop_chunk(context, state, id(scenario), keep,
                            artefact_path(cfg.traces_dir, record, attempt, 0, "zip"))
    outcomes.registry(context).retry_attempt(scenario, attempt, passed, screenshots=shots, trace=trace,
                                             soft_failures=soft)
    return passed


def retry_pass_finished(context: Any) -> None:
    """After the retry pass (its page closed): keep or drop the retry pass's video."""
    from tarvolab_framework.core import heal_events

    heal_events.set_phase("run")
    cfg = settings(context)
    state = _state(context)
    videos, state.retry_videos = state.retry_videos, {}
    if cfg.record_video and videos:
        kept = _settle_videos(cfg, state, videos, "retry-pass", state.retry_failed, [])
        # Each attempt's entry points at the retry pass's video and its start second in it.
        for record in outcomes.registry(context).records():
            for entry in record.retry_attempts:
                mark = state.retry_marks.get((id(record.scenario), entry.get("attempt")))
                if mark is not None and mark[0] in kept:
                    entry["video"], entry["video_offset"] = kept[mark[0]], mark[1]


def run_finished(context: Any) -> None:
    """Run end, after the integrations: deferred reports, the outcome summary, video copies."""
    for callback in list(_lookup(context, RUN_END_CALLBACKS) or []):
        try:
            callback(context)
        except Exception as exc:
            warn(f"Error en un informe de fin de ejecución: {exc}")
    reg = outcomes.registry(context, create=False)
    if reg is not None and reg.records():
        lines = reg.summary_lines()
        note = _runner_note(context, reg)
        if note:
            lines.insert(len(lines) - 1, note)
        for line in lines:
            print(valid_utf8(line))
        state = _state(context)
        for record in reg.records():
            test_id = state.allure_tests.get(id(record.scenario))
            if test_id and record.outcome in ("flaky", "passed-with-soft-failures") or (test_id and record.forced_reasons):
                detail = record.reason
                if record.outcome == "flaky":
                    detail = f"Flaky: pasó en el reintento {record.passed_on_retry}"
                elif record.outcome == "passed-with-soft-failures":
                    detail = "Soft assertions fallidas: " + "; ".join(record.soft_failures)
                _allure_call("set_final_outcome", test_id, record.outcome, detail)
    try:
        from tarvolab_framework.core import video_manager

        video_manager.wait_for_intro_jobs()
    except Exception as exc:
        warn(f"Error esperando las copias de vídeo con intro: {exc}")


def _runner_note(context: Any, reg: outcomes.OutcomeRegistry) -> Optional[str]:
    """A line saying behave's exit status will differ, when its runner is not the framework's."""
    runner = _lookup(context, "_runner")
    if runner is None:
        return None
    from tarvolab_framework.runner import Runner

    try:
        if isinstance(runner, Runner):
            return None
    except ReferenceError:
        return None
    behave_status = 1 if any(_core()._final_outcome(r.runner_status, 0, False, 0) == "failed"
                             for r in reg.records()) else 0
    if behave_status == reg.exit_status():
        return None
    return (f"   ⚠️ behave termina con su propio estado ({behave_status}): use el runner "
            "tarvolab_framework.runner:Runner o python -m tarvolab_framework.runner (ver README)")


def at_run_end(context: Any, callback: Any) -> None:
    """Run ``callback(context)`` at run end, after the retry pass (reports that must include it)."""
    callbacks = _lookup(context, RUN_END_CALLBACKS)
    if not isinstance(callbacks, list):
        callbacks = []
        setattr(context, RUN_END_CALLBACKS, callbacks)
    callbacks.append(callback)


# --------------------------------------------------------------------- Allure
def _attach(path: Path, name: str, kind: str) -> None:
    """Attach a file to the running Allure test, when behave runs the Allure formatter."""
    try:
        from tarvolab_framework.core import allure_support
    except Exception:
        return
    allure_support.attach_file(path, name, kind)


def _allure_call(function: str, *args: Any) -> Any:
    try:
        from tarvolab_framework.core import allure_support
    except Exception:
        return None
    return getattr(allure_support, function)(*args)


def _allure_test() -> Optional[str]:
    return _allure_call("current_test")


def _attach_soft_failures(record: outcomes.ScenarioRecord) -> None:
    if not record.soft_failures:
        return
    try:
        from tarvolab_framework.core import allure_support
    except Exception:
        return
    allure_support.attach_text("soft assertions", "\n".join(record.soft_failures))
