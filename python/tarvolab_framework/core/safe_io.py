"""Writing result and report files so that a failed write loses nothing.

Every results and report file of the framework goes through :func:`atomic_write_text`
or :func:`atomic_write_bytes`: the data is written to a temporary file in the target's
own folder, flushed to disk and renamed over the target. A write that fails part-way
(a full disk, a read-only folder, odd text) leaves the previous file as it was and no
half-written file behind.

Text that reaches a file or the console first goes through :func:`valid_utf8`, so
that half an emoji cut off by a page (a lone surrogate) or bytes decoded with
``surrogateescape`` cannot make a report or a summary fail to encode.
"""

from __future__ import annotations

import os
import tempfile
from pathlib import Path
from typing import Union

PathLike = Union[str, "os.PathLike[str]"]


def valid_utf8(text: object) -> str:
    """``text`` as a string that encodes to UTF-8: lone surrogates become "?"."""
    if not isinstance(text, str):
        text = str(text)
    try:
        text.encode("utf-8")
        return text
    except UnicodeEncodeError:
        return text.encode("utf-8", "replace").decode("utf-8")


def _mode_for(target: Path) -> int:
    try:
        return target.stat().st_mode & 0o7777
    except OSError:
        mask = os.umask(0)
        os.umask(mask)
        return 0o666 & ~mask


def atomic_write_bytes(path: PathLike, data: bytes) -> Path:
    """Writes ``data`` to ``path`` through a temporary file and a rename.

    The parent folder is created when missing. On any failure the temporary file is
    removed, the previous content of ``path`` is untouched and the error is raised.
    """
    target = Path(path)
    target.parent.mkdir(parents=True, exist_ok=True)
    fd, tmp_name = tempfile.mkstemp(prefix=f".{target.name}.", suffix=".tmp", dir=target.parent)
    try:
        # mkstemp makes the file private (0600); the result gets the mode the
        # previous file had, else the one a plain open() would give it.
        os.fchmod(fd, _mode_for(target))
        with os.fdopen(fd, "wb") as handle:
            handle.write(data)
            handle.flush()
            os.fsync(handle.fileno())
        os.replace(tmp_name, target)
    except BaseException:
        try:
            os.unlink(tmp_name)
        except OSError:
            pass
        raise
    return target


def atomic_write_text(path: PathLike, text: str) -> Path:
    """Writes ``text`` as UTF-8 (made valid first) to ``path`` atomically."""
    return atomic_write_bytes(path, valid_utf8(text).encode("utf-8"))
