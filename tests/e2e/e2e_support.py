"""Helpers of the end-to-end tests: real behave processes against the projects under
projects/, in headless Chromium.

Each project is copied into a temporary folder first (the framework creates its own
folders in the working directory), and behave runs there with an environment built
from scratch, so that nothing from the developer's shell or a .env file leaks in.
"""
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path

import pytest

PROJECTS = Path(__file__).resolve().parent / "projects"
CHROMIUM = os.environ.get("TARVO_CHROMIUM_EXECUTABLE", "")

# Every test here drives a browser: without Debian's Chromium they cannot run.
requires_chromium = pytest.mark.skipif(
    not CHROMIUM, reason="TARVO_CHROMIUM_EXECUTABLE is not set (source scripts/env.sh)")

# Variables passed through from the calling environment; everything else is set per run.
_INHERITED = ("PATH", "HOME", "USER", "LANG", "LC_ALL", "TMPDIR", "PYTHONPATH",
              "PLAYWRIGHT_BROWSERS_PATH")

BEHAVE_TIMEOUT = 240


@dataclass
class BehaveRun:
    returncode: int
    stdout: str
    stderr: str
    state_dir: Path
    workdir: Path
    formatter: str = ""  # behave's plain formatter output (steps with their results)

    @property
    def output(self):
        return self.stdout + self.stderr

    def describe(self):
        return ("behave exit status %d\n--- stdout ---\n%s\n--- stderr ---\n%s"
                "\n--- formatter ---\n%s"
                % (self.returncode, self.stdout[-6000:], self.stderr[-6000:],
                   self.formatter[-4000:]))

    def stdout_lines(self):
        return self.stdout.splitlines()

    def count(self, fragment):
        return self.output.count(fragment)

    def assert_line(self, line):
        """`line` is printed as a whole line of standard output."""
        assert line in self.stdout_lines(), "missing line %r\n%s" % (line, self.describe())

    def line_index(self, line):
        """Index of the first standard-output line equal to `line` (which must exist)."""
        self.assert_line(line)
        return self.stdout_lines().index(line)

    def failing_scenarios(self):
        """Names listed under behave's closing "Failing scenarios:" block."""
        lines = self.stdout_lines()
        if "Failing scenarios:" not in lines:
            return []
        names = []
        for line in lines[lines.index("Failing scenarios:") + 1:]:
            if not line.strip():
                break
            names.append(line.split("  ")[-1].strip())
        return names

    def assert_contains(self, fragment, where="output"):
        text = getattr(self, where)
        assert fragment in text, "missing %r in %s\n%s" % (fragment, where, self.describe())

    def assert_absent(self, fragment):
        assert fragment not in self.output, "unexpected %r\n%s" % (fragment, self.describe())


def copy_projects(tmp_path_factory):
    target = tmp_path_factory.mktemp("e2e") / "projects"
    shutil.copytree(PROJECTS, target, ignore=shutil.ignore_patterns("__pycache__"))
    return target


# When set, a folder holding another behave release (for example 1.2.6) that the
# runs import ahead of the venv's own.
OTHER_BEHAVE = os.environ.get("E2E_BEHAVE_PATH", "")


def base_env(tmp, **settings):
    env = {k: os.environ[k] for k in _INHERITED if k in os.environ}
    if OTHER_BEHAVE:
        env["PYTHONPATH"] = os.pathsep.join(p for p in (OTHER_BEHAVE, env.get("PYTHONPATH")) if p)
    env.update({
        "TARVO_CHROMIUM_EXECUTABLE": CHROMIUM,
        "PYTHONIOENCODING": "utf-8",
        "PYTHONUNBUFFERED": "1",
        "BROWSER": "chromium",
        "HEADLESS": "true",
        "TIMEOUT": "5000",
        "NAVIGATION_TIMEOUT": "5000",
        "LOCATOR_TIMEOUT": "700",
        "LOG_LEVEL": "INFO",
        "RECORD_VIDEO": "false",
        "GENERATE_AI_REPORT": "false",
        "GENERATE_AI_ANALYSIS_REPORT": "false",
        "JIRA_ENABLED": "false",
        "MERIDIO_ENABLED": "false",
        "TARVO_TM_ENABLED": "false",
        "SELF_HEALING_ENABLED": "false",
        "RETRY_FAILED_SCENARIOS": "false",
        "VIDEO_DIR": str(tmp / "videos"),
        "SCREENSHOTS_DIR": str(tmp / "screenshots"),
        "DOWNLOADS_DIR": str(tmp / "downloads"),
        "BROWSER_DOWNLOADS_DIR": str(tmp / "downloads"),
        "ALLURE_RESULTS_DIR": str(tmp / "allure-results"),
        "HTML_REPORTS_DIR": str(tmp / "html-reports"),
        "E2E_STATE_DIR": str(tmp / "state"),
    })
    env.update({k: str(v) for k, v in settings.items()})
    return env


def run_behave(projects_copy, tmp, project, *args, final_status=False, **settings):
    """Runs behave in a copy of projects/<project> and returns the BehaveRun.

    `settings` become environment variables of the run (over the defaults above).
    With `final_status`, the exit status follows the scenarios' final outcomes: behave
    1.3 takes the framework's runner class from the project's behave.ini; behave 1.2.6
    has no runner option, so the run goes through `python -m tarvolab_framework.runner`."""
    tmp = Path(tmp)
    (tmp / "state").mkdir(parents=True, exist_ok=True)
    workdir = projects_copy / project
    formatter_file = tmp / "behave-formatter.txt"
    # The step-by-step report goes to a file, so that standard output holds only the
    # framework's console lines and behave's closing summary.
    entry = "tarvolab_framework.runner" if (final_status and OTHER_BEHAVE) else "behave"
    cmd = [sys.executable, "-m", entry, "--no-color", "-f", "plain",
           "-o", str(formatter_file), *args]
    proc = subprocess.run(cmd, cwd=workdir, env=base_env(tmp, **settings),
                          capture_output=True, text=True, encoding="utf-8",
                          errors="replace", timeout=BEHAVE_TIMEOUT)
    formatter = formatter_file.read_text(encoding="utf-8") if formatter_file.exists() else ""
    return BehaveRun(proc.returncode, proc.stdout, proc.stderr, tmp / "state", workdir, formatter)
