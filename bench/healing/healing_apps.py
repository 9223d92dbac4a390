"""The real applications the healing benchmark renders: install, seed, serve, stop.

Each application is installed from PyPI in two releases, each into its own folder
under ``build/healing-bench/apps/`` with ``pip install --target`` (the project's venv
is never touched), seeded with a small deterministic SQLite database made here, and
served on 127.0.0.1 by the application's own server in a child process whose
``PYTHONPATH`` starts with that folder.
"""
from __future__ import annotations

import os
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import time
import urllib.error
import urllib.request
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent.parent
BUILD = ROOT / "build" / "healing-bench"


@dataclass(frozen=True)
class Release:
    app: str
    version: str
    # What pip installs. An old release whose own pins cannot build on this Python any
    # more (PyYAML 5 has no wheel for 3.11) is installed without its dependencies and
    # given them here, with only that pin relaxed.
    requirements: List[str]
    no_deps: List[str] = field(default_factory=list)

    @property
    def folder(self) -> Path:
        return BUILD / "apps" / f"{self.app}-{self.version}"


# old and new release of every application, in that order.
RELEASES: Dict[str, List[Release]] = {
    "django": [
        Release("django", "3.2.25", ["django==3.2.25"]),
        Release("django", "5.2.8", ["django==5.2.8"]),
    ],
    "datasette": [
        Release(
            "datasette",
            "0.58.1",
            [
                "asgiref>=3.2.10,<3.5.0", "click>=7.1.1,<8.1.0", "click-default-group~=1.2.2",
                "Jinja2>=2.10.3,<3.1.0", "hupper~=1.9", "httpx>=0.17", "pint~=0.9",
                "pluggy~=0.13.0", "uvicorn~=0.11", "aiofiles>=0.4,<0.8", "janus>=0.4,<0.7",
                "asgi-csrf>=0.9", "PyYAML>=5.3", "mergedeep>=1.1.1,<1.4.0",
                "itsdangerous>=1.1,<3.0", "python-baseconv==1.2.2",
            ],
            no_deps=["datasette==0.58.1"],
        ),
        Release("datasette", "0.65.1", ["datasette==0.65.1"]),
    ],
}


def log(message: str) -> None:
    print(message, file=sys.stderr, flush=True)


def _pip(target: Path, args: List[str]) -> None:
    command = [sys.executable, "-m", "pip", "install", "-q", "--disable-pip-version-check",
               "--target", str(target)] + args
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        lines = [line for line in result.stderr.splitlines() if not line.startswith("WARNING: Location")]
        raise RuntimeError(f"pip install {' '.join(args)} failed:\n" + "\n".join(lines[-20:]))


def install(release: Release) -> Path:
    """Install the release into its own folder once; later runs reuse it."""
    folder = release.folder
    done = folder / ".healing-bench-installed"
    wanted = "\n".join(release.no_deps + release.requirements)
    if done.is_file() and done.read_text(encoding="utf-8") == wanted:
        return folder
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    log(f"installing {release.app} {release.version} into {folder} ...")
    if release.no_deps:
        _pip(folder, ["--no-deps"] + release.no_deps)
    _pip(folder, release.requirements)
    done.write_text(wanted, encoding="utf-8")
    return folder


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        sock.bind(("127.0.0.1", 0))
        return sock.getsockname()[1]


# ---------------------------------------------------------------- seeding

def _django_env(release: Release, site: Path, db: Path) -> Dict[str, str]:
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(release.folder), str(site)])
    env["HEALING_BENCH_DJANGO_DB"] = str(db)
    env["DJANGO_SETTINGS_MODULE"] = "settings"
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    return env


def _django_site(release: Release) -> Path:
    """A copy of the benchmark's Django site beside the release (keeps the sources clean)."""
    site = BUILD / "run" / f"django-site-{release.version}"
    if site.exists():
        shutil.rmtree(site)
    shutil.copytree(HERE / "django_site", site, ignore=shutil.ignore_patterns("__pycache__"))
    return site


def seed_datasette(db: Path) -> None:
    """A small library database: authors, books (with a foreign key), a view."""
    if db.exists():
        db.unlink()
    conn = sqlite3.connect(db)
    conn.executescript(
        """
        CREATE TABLE authors (id INTEGER PRIMARY KEY, name TEXT NOT NULL, country TEXT, born INTEGER);
        CREATE TABLE books (
            id INTEGER PRIMARY KEY, title TEXT NOT NULL, author_id INTEGER REFERENCES authors(id),
            genre TEXT, published TEXT, pages INTEGER, in_stock INTEGER);
        CREATE VIEW books_in_stock AS SELECT id, title, genre FROM books WHERE in_stock = 1;
        """
    )
    names = [("Ada Lovelace", "UK", 1815), ("Jorge Luis Borges", "Argentina", 1899),
             ("Mary Shelley", "UK", 1797), ("Italo Calvino", "Italy", 1923),
             ("Ursula Le Guin", "USA", 1929)]
    conn.executemany("INSERT INTO authors (name, country, born) VALUES (?, ?, ?)", names)
    words = ["Garden", "Labyrinth", "Engine", "Frost", "Cities", "Mirror", "River", "Atlas", "Orbit", "Lantern"]
    genres = ["novel", "essay", "poetry", "science"]
    rows = []
    for i in range(60):
        rows.append((f"The {words[i % 10]} of {words[(i * 3 + 1) % 10]} {i + 1}", 1 + i % 5, genres[i % 4],
                     f"{1990 + i % 25}-{1 + i % 12:02d}-{1 + i % 27:02d}", 120 + 7 * i, int(i % 3 != 0)))
    conn.executemany(
        "INSERT INTO books (title, author_id, genre, published, pages, in_stock) VALUES (?, ?, ?, ?, ?, ?)", rows)
    conn.commit()
    conn.close()


# ---------------------------------------------------------------- serving

class Server:
    """One release of one application, served on 127.0.0.1:port until stopped."""

    def __init__(self, release: Release, port: int) -> None:
        self.release = release
        self.port = port
        self.base_url = f"http://127.0.0.1:{port}"
        self.process: Optional[subprocess.Popen] = None
        self.logfile = BUILD / "run" / f"{release.app}-{release.version}.log"

    def start(self) -> "Server":
        release = self.release
        install(release)
        run = BUILD / "run"
        run.mkdir(parents=True, exist_ok=True)
        if release.app == "django":
            site = _django_site(release)
            db = run / f"django-{release.version}.sqlite"
            if db.exists():
                db.unlink()
            env = _django_env(release, site, db)
            subprocess.run([sys.executable, str(site / "seed.py")], env=env, cwd=site, check=True)
            command = [sys.executable, str(site / "manage.py"), "runserver", "--noreload",
                       f"127.0.0.1:{self.port}"]
            cwd = site
            ready_path = "/admin/login/"
        elif release.app == "datasette":
            db = run / "library.db"
            seed_datasette(db)
            env = dict(os.environ)
            env["PYTHONPATH"] = str(release.folder)
            env["PYTHONDONTWRITEBYTECODE"] = "1"
            command = [sys.executable, "-m", "datasette", "serve", str(db), "--host", "127.0.0.1",
                       "--port", str(self.port)]
            cwd = run
            ready_path = "/"
        else:  # pragma: no cover - the table above names every application
            raise ValueError(release.app)
        self._log_handle = open(self.logfile, "wb")
        self.process = subprocess.Popen(command, env=env, cwd=cwd, stdout=self._log_handle,
                                        stderr=subprocess.STDOUT, start_new_session=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{release.app} {release.version} exited; see {self.logfile}")
            try:
                with urllib.request.urlopen(self.base_url + ready_path, timeout=2) as response:
                    if response.status == 200:
                        return self
            except (urllib.error.URLError, OSError):
                pass
            time.sleep(0.2)
        self.stop()
        raise RuntimeError(f"{release.app} {release.version} did not answer within 60 s; see {self.logfile}")

    def stop(self) -> None:
        process, self.process = self.process, None
        if process is not None and process.poll() is None:
            os.killpg(process.pid, signal.SIGTERM)
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()
        handle = getattr(self, "_log_handle", None)
        if handle is not None:
            handle.close()
            self._log_handle = None

    def __enter__(self) -> "Server":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()
