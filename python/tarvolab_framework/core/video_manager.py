"""Post-processing of the scenario recordings that Playwright leaves in the video directory.

After each feature the lifecycle calls :func:`process_videos_with_intro` with the
video directory. With ``ffmpeg`` on the ``PATH``, every WebM recording gets a copy
``<name>_intro.mp4`` that opens with a short title card naming the recording. Without
``ffmpeg`` the directory gets an ``index.html`` that lists the recordings with a
player for each. Recordings themselves are never changed or deleted (the retention
clean-up of the browser settings takes care of old ones).

Encoding a copy takes seconds per video, so it is kept off the run's critical path:
the copies are queued and made one at a time by a background worker while the next
feature runs; the run end waits for the queue (:func:`wait_for_intro_jobs`), and so
does the interpreter's exit. ``process_videos_with_intro(..., wait=True)`` makes them
at once, as before.
"""

from __future__ import annotations

import logging
import os
import re
import shutil
import atexit
import queue
import subprocess
import threading
import time
from datetime import datetime
from html import escape
from pathlib import Path
from typing import List, Optional, Tuple, Union
from tarvolab_framework.core import safe_io, settings

logger = logging.getLogger("tarvolab_framework.core.video_manager")

INTRO_SECONDS = 2
INDEX_FILE_NAME = "index.html"
INTRO_SUFFIX = "_intro.mp4"
DEFAULT_SIZE = (1280, 720)
FFMPEG_TIMEOUT_SECONDS = 300


def _video_size() -> Tuple[int, int]:
    """Output size from ``VIDEO_SIZE`` ("1280x720"), the recording size of the run."""
    match = re.fullmatch(r"\s*(\d+)x(\d+)\s*", settings.get("VIDEO_SIZE"))
    if not match:
        return DEFAULT_SIZE
    # libx264 with yuv420p needs even dimensions.
    width, height = (max(2, int(v) - int(v) % 2) for v in match.groups())
    return width, height


def _filter_value(text: str) -> str:
    """Make ``text`` one literal option value inside a filter graph.

    The graph is unescaped twice: once when it is split into filters (where
    ``[ ] , ;`` are special) and once when a filter's options are split (where
    ``: =`` are special); a backslash before a character keeps it literal at both.
    """
    def escape(value: str, specials: str) -> str:
        return "".join("\\" + ch if ch in "\\'" + specials else ch for ch in value)

    return escape(escape(text, ":="), "[],;")


def _recordings(directory: Path) -> List[Path]:
    return sorted(p for p in directory.glob("*.webm") if p.is_file())


def _ffmpeg_path(path: Path) -> str:
    # Absolute, so that a name starting with "-" is never read as an option and
    # one holding ":" never as a protocol prefix ("/" cannot start a protocol name).
    return str(path.absolute())


def _intro_command(ffmpeg: str, video: Path, target: Path, titled: bool) -> List[str]:
    width, height = _video_size()
    card = "[0:v]"
    if titled:
        # expansion=none: the title is shown as written, "%{...}" included.
        card += (
            f"drawtext=text={_filter_value(video.stem)}:expansion=none:fontcolor=white:"
            f"fontsize={max(16, height // 20)}:x=(w-text_w)/2:y=(h-text_h)/2,"
        )
    graph = (
        f"{card}fps=25,format=yuv420p[intro];"
        f"[1:v]scale={width}:{height}:force_original_aspect_ratio=decrease,"
        f"pad={width}:{height}:(ow-iw)/2:(oh-ih)/2,setsar=1,fps=25,format=yuv420p[main];"
        f"[intro][main]concat=n=2:v=1:a=0[out]"
    )
    return [
        ffmpeg, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
        "-f", "lavfi", "-i", f"color=c=black:s={width}x{height}:d={INTRO_SECONDS}",
        "-i", _ffmpeg_path(video),
        "-filter_complex", graph, "-map", "[out]",
        "-c:v", "libx264", "-preset", "ultrafast", "-movflags", "+faststart",
        "-f", "mp4", _ffmpeg_path(target),
    ]


def _make_intro(ffmpeg: str, video: Path, target: Path) -> None:
    # ffmpeg writes a hidden work file that is renamed only once it is complete, so
    # an interrupted or timed-out run never leaves a file that looks up to date.
    work = target.with_name(f".{target.name}.part")
    try:
        result = subprocess.run(_intro_command(ffmpeg, video, work, titled=True),
                                capture_output=True, text=True, timeout=FFMPEG_TIMEOUT_SECONDS)
        if result.returncode != 0 and "drawtext" in result.stderr.lower():
            # An ffmpeg without text rendering (no drawtext filter or no font):
            # a plain black card is better than no intro at all.
            result = subprocess.run(_intro_command(ffmpeg, video, work, titled=False),
                                    capture_output=True, text=True, timeout=FFMPEG_TIMEOUT_SECONDS)
        if result.returncode != 0:
            raise RuntimeError(result.stderr.strip() or f"ffmpeg terminó con código {result.returncode}")
        if not work.is_file() or work.stat().st_size == 0:
            raise RuntimeError("ffmpeg no escribió ningún vídeo")
        os.replace(work, target)
    finally:
        work.unlink(missing_ok=True)


def _write_index(directory: Path, videos: List[Path]) -> Path:
    items = []
    for video in videos:
        stat = video.stat()
        modified = datetime.fromtimestamp(stat.st_mtime).strftime("%Y-%m-%d %H:%M:%S")
        name = escape(video.name)
        href = escape(video.name, quote=True)
        items.append(
            f"<section><h2>{name}</h2>"
            f"<p>{modified} · {stat.st_size / 1024:.0f} KB · <a href=\"{href}\">descargar</a></p>"
            f"<video controls preload=\"metadata\" width=\"640\" src=\"{href}\"></video></section>"
        )
    title = f"Grabaciones de pruebas: {escape(directory.resolve().name)}"
    page = (
        "<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
        f"<title>{title}</title><style>body{{font-family:system-ui,sans-serif;margin:2rem}}"
        "section{margin-bottom:2rem}</style></head><body>"
        f"<h1>🎬 {title}</h1><p>{len(videos)} grabación(es)</p>{''.join(items)}</body></html>\n"
    )
    # Replaced atomically: a failed write keeps the previous index.
    return safe_io.atomic_write_text(directory / INDEX_FILE_NAME, page)


class _IntroWorker:
    """One background thread that makes the queued intro copies, one at a time."""

    def __init__(self) -> None:
        self._jobs: "queue.Queue[Tuple[str, Path, Path]]" = queue.Queue()
        self._thread: Optional[threading.Thread] = None
        self._lock = threading.Lock()
        self._pending: set = set()  # targets queued or being made
        self.failures: List[str] = []

    def submit(self, ffmpeg: str, video: Path, target: Path) -> bool:
        """Queue one copy; False when that copy is already queued (a later feature end
        sees the same recording again before its copy exists)."""
        with self._lock:
            if str(target) in self._pending:
                return False
            self._pending.add(str(target))
            if self._thread is None or not self._thread.is_alive():
                self._thread = threading.Thread(target=self._work, name="tarvo-video-intro", daemon=True)
                self._thread.start()
        self._jobs.put((ffmpeg, video, target))
        return True

    def _work(self) -> None:
        while True:
            ffmpeg, video, target = self._jobs.get()
            try:
                _make_intro(ffmpeg, video, target)
            except (OSError, RuntimeError, subprocess.SubprocessError) as exc:
                self.failures.append(f"{video}: {exc}")
                logger.warning("Intro not added to %s: %s", video, exc)
            finally:
                with self._lock:
                    self._pending.discard(str(target))
                self._jobs.task_done()

    def pending(self) -> int:
        return self._jobs.unfinished_tasks

    def wait(self, timeout: Optional[float]) -> bool:
        """True when the queue emptied within ``timeout`` seconds (None: no limit)."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while self._jobs.unfinished_tasks:
            if deadline is not None and time.monotonic() >= deadline:
                return False
            time.sleep(0.05)
        return True


_worker = _IntroWorker()
WAIT_SECONDS = 600


def wait_for_intro_jobs(timeout: Optional[float] = WAIT_SECONDS) -> List[str]:
    """Wait for the queued intro copies; print what failed or is still running. Returns the failures."""
    if _worker.pending():
        print(f"🎬 Esperando {_worker.pending()} copia(s) de vídeo con intro...")
    if not _worker.wait(timeout):
        print(f"⚠️ {_worker.pending()} copia(s) de vídeo con intro siguen en curso tras {timeout:.0f} s")
    failures, _worker.failures = _worker.failures, []
    for failure in failures:
        print(f"⚠️ No se pudo añadir la intro a {failure}")
    return failures


atexit.register(lambda: _worker.wait(WAIT_SECONDS))


def process_videos_with_intro(video_dir: Union[str, os.PathLike], ffmpeg: Optional[str] = None,
                              wait: bool = False) -> List[str]:
    """Post-process the recordings in ``video_dir``; return the paths queued (or written).

    With ffmpeg (``ffmpeg`` argument, else the one on ``PATH``) each ``*.webm`` gets
    ``<name>_intro.mp4`` with a title card (skipped when that file is already newer
    than the recording); the copies are made in the background unless ``wait`` is
    true. A recording ffmpeg cannot convert is reported and skipped.
    Without ffmpeg an ``index.html`` listing the recordings is written or refreshed.
    A missing directory, or one without recordings, gives an empty list.
    """
    if not isinstance(video_dir, (str, os.PathLike)):
        raise TypeError(f"video_dir must be a path, not {type(video_dir).__name__}")
    directory = Path(video_dir)
    if not directory.is_dir():
        return []
    videos = _recordings(directory)
    if not videos:
        return []

    tool = ffmpeg or shutil.which("ffmpeg")
    if not tool:
        return [str(_write_index(directory, videos))]

    produced: List[str] = []
    for video in videos:
        target = video.with_name(video.stem + INTRO_SUFFIX)
        if target.exists() and target.stat().st_mtime >= video.stat().st_mtime:
            continue
        if not wait:
            if _worker.submit(tool, video, target):
                produced.append(str(target))
            continue
        try:
            _make_intro(tool, video, target)
        except (OSError, RuntimeError, subprocess.SubprocessError) as exc:
            print(f"⚠️ No se pudo añadir la intro a {video}: {exc}")
            logger.warning("Intro not added to %s: %s", video, exc)
            continue
        produced.append(str(target))
    return produced
