"""The SQLite healing store: round trips, keys, two processes writing at once, and
files it cannot use (corrupt, locked), which must cost a warning and nothing else."""
import logging
import multiprocessing
import sqlite3

import pytest

from tarvolab_framework.core import healing_store as hs


def test_fingerprints_and_heals_round_trip_by_element_and_page(tmp_path):
    store = hs.HealingStore(tmp_path / "sub" / "healing.sqlite")
    assert store.fingerprint("LoginPage.user", "http://a/login") is None
    store.save_fingerprint("LoginPage.user", "http://a/login", "#user", '{"tag":"input"}')
    store.save_fingerprint("LoginPage.user", "http://a/login", "#user", '{"tag":"input","id":"u"}')
    assert store.fingerprint("LoginPage.user", "http://a/login") == '{"tag":"input","id":"u"}'
    # Another page: the element's most recent fingerprint stands in.
    assert store.fingerprint("LoginPage.user", "http://a/other") == '{"tag":"input","id":"u"}'
    assert store.fingerprint("LoginPage.pass", "http://a/login") is None

    store.save_heal("LoginPage.user", "http://a/login", "#user", "#user-v2", 0.91, "fingerprint")
    assert store.heal("LoginPage.user", "http://a/login") == {
        "old_selector": "#user", "new_selector": "#user-v2", "score": 0.91, "source": "fingerprint"}
    assert store.heal("LoginPage.user", "http://a/other") is None
    store.forget_heal("LoginPage.user", "http://a/login")
    assert store.heal("LoginPage.user", "http://a/login") is None
    store.close()
    with sqlite3.connect(str(tmp_path / "sub" / "healing.sqlite")) as conn:
        assert conn.execute("PRAGMA journal_mode").fetchone()[0] == "wal"


def test_page_key_drops_query_fragment_and_loopback_port():
    assert hs.page_key("https://shop.test:8443/a/b?x=1#top") == "https://shop.test:8443/a/b"
    assert hs.page_key("http://127.0.0.1:41234/account.html?release=2") == "http://127.0.0.1/account.html"
    assert hs.page_key("http://localhost:3000/") == "http://localhost/"
    assert hs.page_key("http://[::1]:8000/x") == "http://[::1]/x"
    assert hs.page_key("about:blank") == "about:blank"


def test_path_from_environment(monkeypatch, tmp_path):
    monkeypatch.chdir(tmp_path)
    monkeypatch.delenv("SELF_HEALING_STORE", raising=False)
    assert hs.store_path_from_environment() == tmp_path / ".tarvo" / "healing.sqlite"
    for off in ("off", "OFF", " false "):
        monkeypatch.setenv("SELF_HEALING_STORE", off)
        assert hs.store_path_from_environment() is None
        assert not hs.HealingStore.from_environment().enabled
    monkeypatch.setenv("SELF_HEALING_STORE", "runs/h.db")
    assert hs.store_path_from_environment() == tmp_path / "runs" / "h.db"


def _writer(path, name, count, queue):
    store = hs.HealingStore(path)
    for i in range(count):
        store.save_fingerprint(f"{name}.e{i}", "http://site/page", f"#e{i}", '{"tag":"p","text":"%s"}' % name)
        store.save_fingerprint("Shared.element", "http://site/page", "#s", '{"tag":"p","text":"%s %d"}' % (name, i))
        if i % 10 == 0:
            store.save_heal(f"{name}.e{i}", "http://site/page", f"#e{i}", f"#n{i}", 0.8, "fingerprint")
    queue.put((name, store.enabled))
    store.close()


def test_two_processes_writing_at_once_lose_nothing(tmp_path):
    path = tmp_path / "healing.sqlite"
    context = multiprocessing.get_context("spawn")
    queue = context.Queue()
    workers = [context.Process(target=_writer, args=(path, name, 150, queue)) for name in ("A", "B")]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join(120)
        assert worker.exitcode == 0
    assert sorted(queue.get(timeout=5) for _ in workers) == [("A", True), ("B", True)]
    with sqlite3.connect(str(path)) as conn:
        assert conn.execute("SELECT COUNT(*) FROM fingerprints").fetchone()[0] == 2 * 150 + 1
        assert conn.execute("SELECT COUNT(*) FROM heals").fetchone()[0] == 2 * 15
        assert conn.execute("PRAGMA integrity_check").fetchone()[0] == "ok"


def test_corrupt_file_warns_once_and_is_left_untouched(tmp_path, caplog):
    path = tmp_path / "healing.sqlite"
    garbage = b"this is not a database, but someone's notes\n" * 200
    path.write_bytes(garbage)
    store = hs.HealingStore(path)
    with caplog.at_level(logging.WARNING, logger="tarvolab_framework.core.healing_store"):
        assert store.fingerprint("A.b", "http://x/") is None
        store.save_fingerprint("A.b", "http://x/", "#b", "{}")
        assert store.heal("A.b", "http://x/") is None
    warnings = [r.getMessage() for r in caplog.records]
    assert len(warnings) == 1 and str(path) in warnings[0], warnings
    assert not store.enabled
    assert path.read_bytes() == garbage


def test_locked_file_warns_and_the_holder_keeps_its_data(tmp_path, caplog, monkeypatch):
    path = tmp_path / "healing.sqlite"
    first = hs.HealingStore(path)
    first.save_fingerprint("A.kept", "http://x/", "#k", '{"tag":"p"}')
    first.close()
    holder = sqlite3.connect(str(path), isolation_level=None)
    holder.execute("BEGIN EXCLUSIVE")
    holder.execute("INSERT INTO fingerprints VALUES ('A.held', 'http://x/', '#h', '{}', 0)")
    monkeypatch.setattr(hs, "BUSY_TIMEOUT_MS", 200)
    store = hs.HealingStore(path)
    with caplog.at_level(logging.WARNING, logger="tarvolab_framework.core.healing_store"):
        store.save_fingerprint("A.new", "http://x/", "#n", '{"tag":"p"}')
        store.save_fingerprint("A.new2", "http://x/", "#n", '{"tag":"p"}')
    assert len(caplog.records) == 1 and "locked" in caplog.records[0].getMessage()
    assert not store.enabled
    holder.execute("COMMIT")
    keys = {row[0] for row in holder.execute("SELECT element_key FROM fingerprints")}
    holder.close()
    assert keys == {"A.kept", "A.held"}
