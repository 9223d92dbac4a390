"""The installable wheel: built, tagged manylinux, installed into a fresh virtual
environment whose PATH has no compiler or cmake, and used by a small behave project
in headless Chromium. Run it alone with `pytest -m wheel` (about a minute)."""
import http.server
import os
import shutil
import subprocess
import sys
import threading
import zipfile
from pathlib import Path

import pytest

from e2e_support import requires_chromium

ROOT = Path(__file__).resolve().parents[2]
PLATFORM = "manylinux_2_34_x86_64"
# What the compiled modules may still load from the system: glibc and the C++ runtime.
ALLOWED_NEEDED = {"libstdc++.so.6", "libm.so.6", "libgcc_s.so.1", "libc.so.6", "ld-linux-x86-64.so.2"}

pytestmark = [pytest.mark.wheel, requires_chromium]

FEATURE = """\
Feature: Installed from the wheel
  Scenario: A page in headless Chromium
    Given I open the home page
    Then the heading says "Hola desde la rueda"
"""

STEPS = """\
from behave import given, then


@given("I open the home page")
def open_home(context):
    context.page.goto(context.test_data["base_url"] + "/index.html")


@then('the heading says "{text}"')
def heading_says(context, text):
    assert context.element_locator.get_text(context.page, "h1") == text
"""


def _run(cmd, env, cwd=None, timeout=600):
    result = subprocess.run(cmd, env=env, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, f"{cmd}\n--- stdout ---\n{result.stdout[-4000:]}\n--- stderr ---\n{result.stderr[-4000:]}"
    return result


def _needed_libraries(path):
    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile

    with open(path, "rb") as handle:
        elf = ELFFile(handle)
        return {tag.needed for section in elf.iter_sections() if isinstance(section, DynamicSection)
                for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"}


@pytest.fixture(scope="module")
def wheel(tmp_path_factory):
    out = tmp_path_factory.mktemp("dist")
    _run(["bash", str(ROOT / "scripts" / "build-wheel.sh"), str(out)], dict(os.environ))
    (built,) = out.glob(f"tarvolab_framework-*-{PLATFORM}.whl")
    return built


@pytest.fixture
def site(tmp_path):
    root = tmp_path / "site"
    root.mkdir()
    (root / "index.html").write_text("<html><head><title>Rueda</title></head>"
                                     "<body><h1>Hola desde la rueda</h1></body></html>", encoding="utf-8")
    handler = lambda *a, **k: http.server.SimpleHTTPRequestHandler(*a, directory=str(root), **k)  # noqa: E731
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()
    server.server_close()


def test_wheel_is_manylinux_with_stubs_and_no_pcre2_dependency(wheel, tmp_path):
    show = _run([str(ROOT / ".venv" / "bin" / "auditwheel"), "show", str(wheel)], dict(os.environ))
    assert f'consistent with the following platform tag: "{PLATFORM}"' in " ".join(show.stdout.split())
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        for stub in ("hooks/hookrelay.pyi", "core/runwright.pyi", "core/locmender.pyi", "py.typed"):
            assert f"tarvolab_framework/{stub}" in names
        modules = [name for name in names if name.endswith(".so")]
        assert len(modules) == 3
        for name in modules:
            path = Path(archive.extract(name, tmp_path))
            assert _needed_libraries(path) <= ALLOWED_NEEDED, name


def test_fresh_environment_without_build_tools_runs_a_feature(wheel, site, tmp_path):
    venv = tmp_path / "venv"
    base_python = getattr(sys, "_base_executable", sys.executable)
    _run([base_python, "-m", "venv", str(venv)], dict(os.environ))
    bin_dir = venv / "bin"
    # Only the environment's own programs: no compiler, cmake or pkg-config reachable.
    env = {"PATH": str(bin_dir), "HOME": str(tmp_path), "LANG": "C.UTF-8",
           "PIP_DISABLE_PIP_VERSION_CHECK": "1"}
    for tool in ("cc", "gcc", "g++", "c++", "cmake", "pkg-config"):
        assert shutil.which(tool, path=env["PATH"]) is None, tool
    for name in ("PIP_FIND_LINKS", "PIP_CERT", "PIP_DEFAULT_TIMEOUT"):
        if name in os.environ:
            env[name] = os.environ[name]
    # Binary packages only: nothing may be compiled on the way in.
    _run([str(bin_dir / "python"), "-m", "pip", "install", "-q", "--only-binary", ":all:", str(wheel)], env)

    project = tmp_path / "project"
    (project / "features" / "steps").mkdir(parents=True)
    (project / "features" / "environment.py").write_text(
        "from tarvolab_framework.hooks.hookrelay import *\n", encoding="utf-8")
    (project / "features" / "home.feature").write_text(FEATURE, encoding="utf-8")
    (project / "features" / "steps" / "steps.py").write_text(STEPS, encoding="utf-8")
    (project / ".env").write_text("HEADLESS=true\n", encoding="utf-8")

    run_env = dict(env, BASE_URL=site, TARVO_CHROMIUM_EXECUTABLE=os.environ["TARVO_CHROMIUM_EXECUTABLE"])
    check = _run([str(bin_dir / "tarvo-validate")], run_env, cwd=project)
    assert "Configuración válida" in check.stdout
    behave = _run([str(bin_dir / "behave"), "--no-capture", "-f", "plain"], run_env, cwd=project, timeout=240)
    assert "1 scenario passed, 0 failed" in behave.stdout, behave.stdout
    assert "🌐 Usando Chromium" in behave.stdout
