"""Steps of the parallel-run project: which worker ran a step, a step that never
ends when asked to, and a step that kills the worker's own browser."""
import json
import os
import signal
import time

from behave import then


def _note(name, value):
    with open(os.path.join(os.environ["E2E_STATE_DIR"], name), "a", encoding="utf-8") as fh:
        fh.write(json.dumps(value) + "\n")


@then('the worker is noted for "{key}"')
def step_note_worker(context, key):
    _note("workers.jsonl", {"key": key, "worker": os.environ.get("TARVO_WORKER_ID", ""),
                            "pid": os.getpid()})


@then('it hangs when E2E_STUCK names "{key}"')
def step_hang(context, key):
    if os.environ.get("E2E_STUCK") == key:
        _note("stuck.jsonl", {"pid": os.getpid(), "worker": os.environ.get("TARVO_WORKER_ID", "")})
        time.sleep(3600)


def _children(pid):
    out = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry, encoding="utf-8", errors="replace") as fh:
                fields = fh.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            out.append(int(entry))
    return out


@then('the browser is killed when E2E_KILL_BROWSER names "{key}"')
def step_kill_browser(context, key):
    if os.environ.get("E2E_KILL_BROWSER") != key:
        return
    # The browser is a child of Playwright's driver, itself a child of this process.
    killed = []
    for driver in _children(os.getpid()):
        for browser in _children(driver):
            os.kill(browser, signal.SIGKILL)
            killed.append(browser)
    _note("killed.jsonl", {"pids": killed, "worker": os.environ.get("TARVO_WORKER_ID", "")})
    time.sleep(0.5)
