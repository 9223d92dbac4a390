"""Healing store: element fingerprints and accepted heals that last across runs.

One SQLite file (``SELF_HEALING_STORE``, default ``.tarvo/healing.sqlite`` under the
working directory; ``off`` switches the store off) in WAL mode with a busy timeout,
so that several test processes (workers, shards, two runs at once) can write to it.
Rows are keyed by the element's key (its page-object reference ``"Page.element"``,
or the selector itself) and the page URL without query and fragment; on loopback
hosts the port is dropped too, since a local test server takes a free port each run.

A store that cannot be used (a file that is not a database, a lock held too long, a
folder that cannot be created) gives one warning and is switched off for the rest of
the run: healing goes on without it, and the file is left as it is.
"""

from __future__ import annotations

import logging
import os
import sqlite3
import threading
import time
from pathlib import Path
from typing import Any, Dict, Optional
from urllib.parse import urlsplit, urlunsplit

logger = logging.getLogger("tarvolab_framework.core.healing_store")

DEFAULT_STORE_PATH = os.path.join(".tarvo", "healing.sqlite")
OFF_VALUES = ("off", "false", "none", "0", "no")
BUSY_TIMEOUT_MS = 5000
SCHEMA_VERSION = 1
_LOOPBACK = ("127.0.0.1", "localhost", "::1", "[::1]")

_SCHEMA = """
CREATE TABLE IF NOT EXISTS fingerprints (
    element_key TEXT NOT NULL,
    url TEXT NOT NULL,
    selector TEXT NOT NULL,
    fingerprint TEXT NOT NULL,
    updated REAL NOT NULL,
    PRIMARY KEY (element_key, url)
);
CREATE TABLE IF NOT EXISTS heals (
    element_key TEXT NOT NULL,
    url TEXT NOT NULL,
    old_selector TEXT NOT NULL,
    new_selector TEXT NOT NULL,
    score REAL,
    source TEXT NOT NULL,
    updated REAL NOT NULL,
    PRIMARY KEY (element_key, url)
);
"""


def store_path_from_environment() -> Optional[Path]:
    """The store's path from ``SELF_HEALING_STORE``; ``None`` when it is switched off."""
    from tarvolab_framework.core import settings

    text = str(settings.get("SELF_HEALING_STORE") or DEFAULT_STORE_PATH).strip()
    if text.lower() in OFF_VALUES:
        return None
    return Path(text).expanduser().resolve()


def page_key(url: str) -> str:
    """The URL as the store keys it: no query, no fragment, no port on loopback hosts."""
    try:
        parts = urlsplit(url)
    except ValueError:
        return url
    netloc = parts.netloc
    host = (parts.hostname or "").lower()
    if host in _LOOPBACK or host.strip("[]") in _LOOPBACK:
        netloc = parts.hostname or netloc
        if ":" in netloc:  # IPv6 literal
            netloc = "[" + netloc + "]"
    return urlunsplit((parts.scheme, netloc, parts.path, "", ""))


class HealingStore:
    """Fingerprints and heals in one SQLite file (see the module's description)."""

    def __init__(self, path: Optional[Path]) -> None:
        self.path = path
        self._conn: Optional[sqlite3.Connection] = None
        self._broken = path is None
        self._lock = threading.Lock()

    @classmethod
    def from_environment(cls) -> "HealingStore":
        return cls(store_path_from_environment())

    @property
    def enabled(self) -> bool:
        return not self._broken

    # ------------------------------------------------------------ connection
    def _disable(self, exc: BaseException) -> None:
        if not self._broken:
            logger.warning(
                "SELF_HEALING: no se puede usar el almacén de healing %s (%s); "
                "se sigue sin él en esta ejecución y el archivo no se modifica",
                self.path, exc)
        self._broken = True
        conn, self._conn = self._conn, None
        if conn is not None:
            try:
                conn.close()
            except sqlite3.Error:
                pass

    def _connection(self) -> sqlite3.Connection:
        if self._conn is not None:
            return self._conn
        # Switching a new file to WAL and recovering a WAL left by another process
        # can answer "database is locked" at once, without waiting on the busy
        # handler: two processes opening the store together would lose it. The
        # opening is tried again until the busy timeout has passed.
        deadline = time.monotonic() + BUSY_TIMEOUT_MS / 1000
        pause = 0.01
        while True:
            try:
                self._conn = self._open()
                return self._conn
            except sqlite3.OperationalError as exc:
                text = str(exc).lower()
                if ("locked" not in text and "busy" not in text) or time.monotonic() + pause > deadline:
                    raise
            time.sleep(pause)
            pause = min(pause * 2, 0.2)

    def _open(self) -> sqlite3.Connection:
        assert self.path is not None
        self.path.parent.mkdir(parents=True, exist_ok=True)
        conn = sqlite3.connect(str(self.path), timeout=BUSY_TIMEOUT_MS / 1000,
                               isolation_level=None, check_same_thread=False)
        try:
            conn.execute(f"PRAGMA busy_timeout = {BUSY_TIMEOUT_MS}")
            mode = conn.execute("PRAGMA journal_mode = WAL").fetchone()
            if not mode or str(mode[0]).lower() != "wal":
                raise sqlite3.OperationalError(f"el modo WAL no está disponible ({mode})")
            conn.execute("PRAGMA synchronous = NORMAL")
            version = conn.execute("PRAGMA user_version").fetchone()[0]
            if version > SCHEMA_VERSION:
                raise sqlite3.DatabaseError(f"versión de esquema {version} desconocida")
            conn.executescript("BEGIN IMMEDIATE;" + _SCHEMA +
                               f"PRAGMA user_version = {SCHEMA_VERSION};" + "COMMIT;")
        except BaseException:
            conn.close()
            raise
        return conn

    def _run(self, operation, default):
        """Runs operation(connection); any store failure switches the store off."""
        if self._broken:
            return default
        with self._lock:
            try:
                return operation(self._connection())
            except (sqlite3.Error, OSError, ValueError) as exc:
                self._disable(exc)
                return default

    def close(self) -> None:
        with self._lock:
            conn, self._conn = self._conn, None
            if conn is not None:
                conn.close()

    # ------------------------------------------------------------ fingerprints
    def fingerprint(self, element_key: str, url: str) -> Optional[str]:
        """The stored fingerprint (JSON text) for the element on that page, else the
        element's most recent one on any page, else ``None``."""
        def read(conn):
            row = conn.execute(
                "SELECT fingerprint FROM fingerprints WHERE element_key = ? AND url = ?",
                (element_key, url)).fetchone()
            if row is None:
                row = conn.execute(
                    "SELECT fingerprint FROM fingerprints WHERE element_key = ? "
                    "ORDER BY updated DESC LIMIT 1", (element_key,)).fetchone()
            return row[0] if row else None
        return self._run(read, None)

    def save_fingerprint(self, element_key: str, url: str, selector: str, fingerprint: str) -> None:
        def write(conn):
            conn.execute(
                "INSERT INTO fingerprints (element_key, url, selector, fingerprint, updated) "
                "VALUES (?, ?, ?, ?, ?) ON CONFLICT (element_key, url) DO UPDATE SET "
                "selector = excluded.selector, fingerprint = excluded.fingerprint, "
                "updated = excluded.updated",
                (element_key, url, selector, fingerprint, time.time()))
        self._run(write, None)

    # ------------------------------------------------------------------ heals
    def heal(self, element_key: str, url: str) -> Optional[Dict[str, Any]]:
        """The heal accepted earlier for the element on that page, or ``None``."""
        def read(conn):
            row = conn.execute(
                "SELECT old_selector, new_selector, score, source FROM heals "
                "WHERE element_key = ? AND url = ?", (element_key, url)).fetchone()
            if row is None:
                return None
            return {"old_selector": row[0], "new_selector": row[1], "score": row[2], "source": row[3]}
        return self._run(read, None)

    def save_heal(self, element_key: str, url: str, old_selector: str, new_selector: str,
                  score: Optional[float], source: str) -> None:
        def write(conn):
            conn.execute(
                "INSERT INTO heals (element_key, url, old_selector, new_selector, score, source, updated) "
                "VALUES (?, ?, ?, ?, ?, ?, ?) ON CONFLICT (element_key, url) DO UPDATE SET "
                "old_selector = excluded.old_selector, new_selector = excluded.new_selector, "
                "score = excluded.score, source = excluded.source, updated = excluded.updated",
                (element_key, url, old_selector, new_selector, score, source, time.time()))
        self._run(write, None)

    def forget_heal(self, element_key: str, url: str) -> None:
        self._run(lambda conn: conn.execute(
            "DELETE FROM heals WHERE element_key = ? AND url = ?", (element_key, url)), None)
