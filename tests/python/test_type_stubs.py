"""The shipped .pyi stubs and py.typed, checked by mypy as an editor would use them."""
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import tarvolab_framework

pytest.importorskip("mypy")

USES = textwrap.dedent("""
    from tarvolab_framework.core.locmender import Locmender
    from tarvolab_framework.core.runwright import FrameworkConfig, setup_framework_context
    from tarvolab_framework.hooks import hookrelay
    from tarvolab_framework.hooks.hookrelay import after_scenario, before_all


    def environment(context: object, scenario: object) -> None:
        before_all(context)
        after_scenario(context, scenario)
        hookrelay.after_all(context)
        setup_framework_context(context, env_file=".env")


    config = FrameworkConfig(env_file=".env")
    timeout: int = config.config["timeout"]
    page = config.create_page(None, {"locale": "es-ES"})
    data: dict = config.get_test_data()
    healer = Locmender()
    retries: int = healer.max_retries
    threshold: float = healer.confidence_threshold
    log_size: int = len(healer.healing_log)
    healer.clear_cache()
""")

MISUSES = USES + textwrap.dedent("""
    name: str = healer.max_retries
    config.setup_playwrigth()
    before_all()
""")


def _mypy(tmp_path: Path, source: str) -> subprocess.CompletedProcess:
    path = tmp_path / "uses.py"
    path.write_text(source, encoding="utf-8")
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", str(tmp_path / "cache"),
         "--python-version", f"{sys.version_info[0]}.{sys.version_info[1]}", str(path)],
        capture_output=True, text=True, timeout=300, cwd=tmp_path)


def test_stubs_and_marker_are_installed():
    package = Path(tarvolab_framework.__file__).parent
    assert (package / "py.typed").is_file()
    for stub in ("hooks/hookrelay.pyi", "core/runwright.pyi", "core/locmender.pyi"):
        assert (package / stub).is_file(), stub


def test_type_checker_reads_the_stubs(tmp_path):
    clean = _mypy(tmp_path, USES)
    assert clean.returncode == 0, clean.stdout + clean.stderr
    # Misuses are caught only because the stubs describe the compiled modules.
    broken = _mypy(tmp_path, MISUSES)
    assert broken.returncode == 1
    out = broken.stdout
    assert 'Incompatible types in assignment (expression has type "int", variable has type "str")' in out
    assert '"FrameworkConfig" has no attribute "setup_playwrigth"' in out
    assert 'Missing positional argument "context" in call to "before_all"' in out
