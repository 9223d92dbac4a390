import os
import signal
import sys
import time

sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 os.pardir, os.pardir, os.pardir, "_shared")))

from behave import given, then, when  # noqa: E402

from e2e_steps import *  # noqa: E402,F401,F403 - registers the shared steps
from e2e_steps import _bump, _state_path  # noqa: E402
from webserver import page_url  # noqa: E402

HALF_EMOJI = "\ud83d"  # what JavaScript leaves when it cuts a text inside an emoji


def _children(pid):
    kids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as fh:
                ppid = int(fh.read().rsplit(")", 1)[1].split()[1])
        except (OSError, ValueError, IndexError):
            continue
        if ppid == pid:
            kids.append(int(entry))
    return kids


def _browser_processes():
    """Main Chromium processes started by this behave process (through Playwright's driver)."""
    found, todo = [], _children(os.getpid())
    while todo:
        pid = todo.pop()
        todo.extend(_children(pid))
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as fh:
                cmdline = fh.read()
        except OSError:
            continue
        if b"chrom" in cmdline.split(b"\0")[0] and b"--type=" not in cmdline:
            found.append(pid)
    return found


@when('the browser process is killed on the first run of "{key}"')
def step_kill_browser(context, key):
    if _bump(key) > 1:
        return
    pids = _browser_processes()
    assert pids, "no se encontró el proceso del navegador"
    for pid in pids:
        os.kill(pid, signal.SIGKILL)
    time.sleep(0.5)


@then("the page answers")
def step_page_answers(context):
    context.page.goto(page_url("start.html"))
    assert context.page.evaluate("1 + 1") == 2


@when("I wait to be interrupted")
def step_wait_interrupt(context):
    with open(_state_path("waiting"), "w") as fh:
        fh.write("1")
    time.sleep(120)


@then("the step fails with half an emoji and the password")
def step_fails_half_emoji(context):
    raise AssertionError('texto cortado %s Locator.fill("%s") falló'
                         % (HALF_EMOJI, os.environ["TEST_PASSWORD"]))


@then("a soft assertion fails with half an emoji")
def step_soft_half_emoji(context):
    context.soft_assert(False, "mitad de emoji " + HALF_EMOJI + " y " + os.environ["TEST_PASSWORD"])
