"""A failing load of an extension module names what is missing (fresh interpreters)."""
import subprocess
import sys
import textwrap

import pytest

BLOCKER = """
import sys, importlib.abc

class Blocker(importlib.abc.MetaPathFinder):
    def __init__(self, name, error):
        self.name, self.error = name, error

    def find_spec(self, name, path, target=None):
        if name == self.name:
            if self.error == "missing":
                raise ModuleNotFoundError(f"No module named {name!r}", name=name)
            raise RuntimeError("broken on import")
        return None
"""


def _load(module, blocked, error="missing"):
    code = BLOCKER + textwrap.dedent(f"""
        sys.meta_path.insert(0, Blocker({blocked!r}, {error!r}))
        try:
            import {module}
        except ImportError as exc:
            print(type(exc).__name__ + ": " + str(exc))
        else:
            print("loaded")
    """)
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout.strip()


@pytest.mark.parametrize("module, blocked, error, expected", [
    ("tarvolab_framework.core.runwright", "dotenv", "missing",
     "ImportError: tarvolab_framework.core.runwright cannot be loaded: module 'dotenv' is missing "
     "(No module named 'dotenv')"),
    ("tarvolab_framework.core.runwright", "playwright.sync_api", "missing",
     "ImportError: tarvolab_framework.core.runwright cannot be loaded: module 'playwright.sync_api' is missing "
     "(No module named 'playwright.sync_api')"),
    ("tarvolab_framework.core.runwright", "tarvolab_framework.core.variable_manager", "broken",
     "ImportError: tarvolab_framework.core.runwright cannot be loaded: importing "
     "'tarvolab_framework.core.variable_manager' failed: RuntimeError: broken on import"),
    ("tarvolab_framework.hooks.hookrelay", "tarvolab_framework.plugins", "missing",
     "ImportError: tarvolab_framework.hooks.hookrelay cannot be loaded: module 'tarvolab_framework.plugins' "
     "is missing (No module named 'tarvolab_framework.plugins')"),
])
def test_load_failure_names_the_missing_module(module, blocked, error, expected):
    assert _load(module, blocked, error) == expected


def test_a_module_that_a_component_imports_is_named_beside_the_component():
    out = _load("tarvolab_framework.core.runwright", "tarvolab_framework.core.settings")
    assert out.startswith("ImportError: tarvolab_framework.core.runwright cannot be loaded: importing "
                          "'tarvolab_framework.core.element_locator' failed: ImportError: cannot import name "
                          "'settings' from 'tarvolab_framework.core'")


def test_hookrelay_names_what_runwright_misses():
    out = _load("tarvolab_framework.hooks.hookrelay", "dotenv")
    assert out.startswith("ImportError: tarvolab_framework.hooks.hookrelay cannot be loaded: importing "
                          "'tarvolab_framework.core.runwright' failed: ImportError: ")
    assert "module 'dotenv' is missing" in out
