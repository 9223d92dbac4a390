"""The installable wheels: built once per test session into build/wheels (cp310,
cp311 and one stable-ABI wheel for Python 3.12 and later), each tagged manylinux;
then, for Python 3.10 and 3.13, pip picks its wheel for a fresh virtual environment
whose PATH has no compiler, cmake or pkg-config, and a small behave project runs in
headless Chromium with it. Run them alone with `pytest -m wheel` (a few minutes the
first time: each Python compiles once; pip's cache keeps the downloads)."""
import http.server
import json
import os
import shutil
import subprocess
import threading
import zipfile
from pathlib import Path

import pytest

from e2e_support import requires_chromium

ROOT = Path(__file__).resolve().parents[2]
WHEEL_DIR = ROOT / "build" / "wheels"
PLATFORM = "manylinux_2_34_x86_64"
# What the compiled modules may still load from the system: glibc and the C++ runtime.
ALLOWED_NEEDED = {"libstdc++.so.6", "libm.so.6", "libgcc_s.so.1", "libc.so.6", "ld-linux-x86-64.so.2"}
# The wheel each Python must get: its own for 3.10 and 3.11, the stable-ABI one after.
EXPECTED_TAG = {"3.10": "cp310-cp310", "3.11": "cp311-cp311", "3.12": "cp312-abi3", "3.13": "cp312-abi3"}
# The oldest and the newest Python the package supports, each installed and run.
INSTALLED_WITH = ("3.10", "3.13")

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


def _run(cmd, env, cwd=None, timeout=900):
    result = subprocess.run(cmd, env=env, cwd=cwd, capture_output=True, text=True, timeout=timeout)
    assert result.returncode == 0, f"{cmd}\n--- stdout ---\n{result.stdout[-4000:]}\n--- stderr ---\n{result.stderr[-4000:]}"
    return result


def _version_of(python):
    try:
        out = subprocess.run([python, "-c", "import sys; print('%d.%d' % sys.version_info[:2])"],
                             capture_output=True, text=True, timeout=30)
    except OSError:
        return None
    return out.stdout.strip() if out.returncode == 0 else None


def find_python(version):
    """The interpreter of Python `version` ("3.10"): pythonX.Y on PATH, else pyenv's
    (as scripts/build-wheel.sh looks for them), or None."""
    candidates = [shutil.which(f"python{version}")]
    pyenv = Path(os.environ.get("PYENV_ROOT", Path.home() / ".pyenv")) / "versions"
    candidates += sorted(pyenv.glob(f"{version}.*/bin/python{version}"), reverse=True)
    for candidate in candidates:
        if candidate and _version_of(str(candidate)) == version:
            return str(candidate)
    return None


def _needed_libraries(path):
    from elftools.elf.dynamic import DynamicSection
    from elftools.elf.elffile import ELFFile

    with open(path, "rb") as handle:
        elf = ELFFile(handle)
        return {tag.needed for section in elf.iter_sections() if isinstance(section, DynamicSection)
                for tag in section.iter_tags() if tag.entry.d_tag == "DT_NEEDED"}


@pytest.fixture(scope="session")
def wheels():
    """Every wheel this machine's interpreters give, built (or brought up to date) once."""
    result = _run(["bash", str(ROOT / "scripts" / "build-wheel.sh"), str(WHEEL_DIR)], dict(os.environ),
                  timeout=1800)
    built = sorted(WHEEL_DIR.glob(f"tarvolab_framework-*-{PLATFORM}.whl"))
    assert built, result.stdout
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


def test_wheels_are_manylinux_with_stubs_and_no_pcre2_dependency(wheels, tmp_path):
    tags = {wheel.name.split("-")[2] + "-" + wheel.name.split("-")[3] for wheel in wheels}
    # The stable-ABI wheel replaces per-version wheels from 3.12 on.
    assert not any(tag.startswith(("cp312-cp312", "cp313-cp313")) for tag in tags), tags
    for version, tag in EXPECTED_TAG.items():
        if find_python(version):
            assert tag in tags, f"Python {version} is here but no {tag} wheel was built: {tags}"
    for wheel in wheels:
        show = _run([str(ROOT / ".venv" / "bin" / "auditwheel"), "show", str(wheel)], dict(os.environ))
        assert f'consistent with the following platform tag: "{PLATFORM}"' in " ".join(show.stdout.split())
        with zipfile.ZipFile(wheel) as archive:
            names = set(archive.namelist())
            for stub in ("hooks/hookrelay.pyi", "core/runwright.pyi", "core/locmender.pyi", "py.typed"):
                assert f"tarvolab_framework/{stub}" in names, (wheel.name, stub)
            modules = [name for name in names if name.endswith(".so")]
            assert len(modules) == 3, (wheel.name, modules)
            for name in modules:
                if "-abi3-" in wheel.name:
                    assert name.endswith(".abi3.so"), name
                path = Path(archive.extract(name, tmp_path / wheel.name))
                assert _needed_libraries(path) <= ALLOWED_NEEDED, (wheel.name, name)


@pytest.mark.parametrize("version", INSTALLED_WITH)
def test_fresh_environment_without_build_tools_runs_a_feature(version, wheels, site, tmp_path):
    python = find_python(version)
    if python is None:
        pytest.skip(f"Python {version} is not on this machine (no python{version} on PATH or under "
                    f"~/.pyenv/versions): its wheel cannot be installed here")
    venv = tmp_path / "venv"
    _run([python, "-m", "venv", str(venv)], dict(os.environ))
    bin_dir = venv / "bin"
    # Only the environment's own programs: no compiler, cmake or pkg-config reachable.
    # pip's own cache stays in use, so the dependencies download once per machine.
    cache = os.environ.get("PIP_CACHE_DIR") or str(Path.home() / ".cache" / "pip")
    env = {"PATH": str(bin_dir), "HOME": str(tmp_path), "LANG": "C.UTF-8", "PIP_CACHE_DIR": cache,
           "PIP_DISABLE_PIP_VERSION_CHECK": "1"}
    for tool in ("cc", "gcc", "g++", "c++", "clang", "cmake", "ninja", "pkg-config"):
        assert shutil.which(tool, path=env["PATH"]) is None, tool
    for name in ("PIP_FIND_LINKS", "PIP_CERT", "PIP_DEFAULT_TIMEOUT"):
        if name in os.environ:
            env[name] = os.environ[name]
    pip = [str(bin_dir / "python"), "-m", "pip"]

    # pip itself picks among all the built wheels the one this Python can use.
    report = tmp_path / "choice.json"
    _run(pip + ["install", "-q", "--dry-run", "--ignore-installed", "--no-index", "--no-deps",
                "--find-links", str(WHEEL_DIR), "--report", str(report), "tarvolab_framework"], env)
    (chosen,) = json.loads(report.read_text(encoding="utf-8"))["install"]
    name = chosen["download_info"]["url"].rsplit("/", 1)[-1]
    assert f"-{EXPECTED_TAG[version]}-{PLATFORM}.whl" in name, name
    # Binary packages only: nothing may be compiled on the way in.
    _run(pip + ["install", "-q", "--only-binary", ":all:", str(WHEEL_DIR / name)], env)

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
    # The modules loaded are the wheel's own, built for this Python's ABI.
    loaded = _run([str(bin_dir / "python"), "-c",
                   "import tarvolab_framework.core.runwright as m, sys; print(m.__file__, sys.version_info[:2])"],
                  run_env)
    suffix = ".abi3.so" if EXPECTED_TAG[version].endswith("abi3") else f".cpython-{version.replace('.', '')}-"
    assert suffix in loaded.stdout and str(venv) in loaded.stdout, loaded.stdout
