"""Remote browsers: a run whose workers connect to a real `playwright run-server`
on 127.0.0.1, one connected over CDP to a running Chromium, and an endpoint that
nobody listens on."""
import os
import re
import socket
import subprocess
import time

import pytest

from e2e_support import CHROMIUM, requires_chromium
from test_e2e_parallel import run_tarvo, statuses

pytestmark = [requires_chromium, pytest.mark.skipif(
    not os.environ.get("PLAYWRIGHT_BROWSERS_PATH"),
    reason="the browser server finds Chromium through PLAYWRIGHT_BROWSERS_PATH (source scripts/env.sh)")]

FEATURES = ("features/a_first.feature", "features/c_third.feature")


def _read_until(stream, pattern, seconds):
    deadline = time.monotonic() + seconds
    seen = []
    while time.monotonic() < deadline:
        line = stream.readline()
        if not line:
            break
        seen.append(line)
        found = re.search(pattern, line)
        if found:
            return found.group(1)
    raise AssertionError("no %r in %r" % (pattern, seen))


@pytest.fixture(scope="module")
def browser_server():
    from playwright._impl._driver import compute_driver_executable

    node, cli = compute_driver_executable()
    proc = subprocess.Popen([node, cli, "run-server", "--port", "0", "--host", "127.0.0.1"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        yield _read_until(proc.stdout, r"Listening on (ws://\S+)", 30)
    finally:
        proc.kill()
        proc.wait()


@pytest.fixture(scope="module")
def devtools_chromium(tmp_path_factory):
    profile = tmp_path_factory.mktemp("cdp-profile")
    proc = subprocess.Popen([CHROMIUM, "--headless", "--no-sandbox", "--remote-debugging-port=0",
                             "--remote-debugging-address=127.0.0.1", "--user-data-dir=%s" % profile,
                             "about:blank"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        yield _read_until(proc.stderr, r"DevTools listening on (ws://\S+)", 30)
    finally:
        proc.kill()
        proc.wait()


def test_workers_connect_to_a_browser_server(projects_copy, tmp_path, browser_server):
    run = run_tarvo(projects_copy, tmp_path, "-j", "2", "--no-color", "-f", "plain", *FEATURES,
                    BROWSER_WS_ENDPOINT=browser_server)
    assert run.returncode == 1, run.describe()  # the scenario that fails on its first run
    line = "🌐 Usando navegador remoto (BROWSER_WS_ENDPOINT): " + browser_server
    assert run.stdout_lines().count(line) == 2, run.describe()  # one connection per worker
    assert run.count("ℹ️ Navegador remoto: se ignoran las opciones de lanzamiento local: args (") == 1
    run.assert_absent("🌐 Usando Chromium")
    assert statuses(tmp_path) == [
        ("PROJ-11", "PASSED"), ("Finds the page of the previous scenario", "PASSED"),
        ("Works without a browser for ana -- @1.1 ", "PASSED"), ("Works without a browser for beto -- @1.2 ", "PASSED"),
        ("Fails on its first run", "FAILED")]


def test_a_run_connects_over_cdp(projects_copy, tmp_path, devtools_chromium):
    run = run_tarvo(projects_copy, tmp_path, "-j", "1", "--no-color", "-f", "plain", FEATURES[0],
                    BROWSER_CDP_ENDPOINT=devtools_chromium)
    assert run.returncode == 0, run.describe()
    run.assert_line("🌐 Usando navegador remoto (BROWSER_CDP_ENDPOINT): " + devtools_chromium)


def test_an_unreachable_endpoint_fails_the_start_with_one_message(projects_copy, tmp_path):
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    endpoint = "ws://127.0.0.1:%d/" % port
    began = time.monotonic()
    run = run_tarvo(projects_copy, tmp_path, "-j", "2", "--no-color", "-f", "plain", *FEATURES,
                    BROWSER_WS_ENDPOINT=endpoint, TIMEOUT="5000")
    assert run.returncode == 1, run.describe()
    assert time.monotonic() - began < 30
    message = "No se pudo conectar al navegador remoto BROWSER_WS_ENDPOINT=%s en 5000 ms" % endpoint
    assert run.count(message) == 1, run.describe()
    run.assert_contains("tarvo-run: the run could not start", "stdout")
    assert not (tmp_path / "xray.json").exists()
