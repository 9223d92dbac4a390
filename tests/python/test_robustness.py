"""Odd arguments from a runner, a plug-in or a project's own code must end in a
Python exception (or work), never in a crash of the interpreter. Each group runs
in its own interpreter; the child prints every result so that a crash shows the
last call that was made."""

import os
import subprocess
import sys
import textwrap

import pytest

PRELUDE = r'''
import collections.abc, os, sys, types
sys.modules["tarvolab_framework.core.config_schema"] = types.SimpleNamespace(
    validate_config=lambda env_file=None, strict=True: types.SimpleNamespace(errors=[], warnings=[]))

class RaisingGetattr:
    def __getattr__(self, name): raise RuntimeError("getattr")
class RaisingBool:
    def __bool__(self): raise RuntimeError("bool")
    def __iter__(self): raise RuntimeError("iter")
class RaisingStr:
    def __str__(self): raise RuntimeError("str")
class StrSub(str):
    def __str__(self): raise RuntimeError("str")
class BadMapping(collections.abc.Mapping):
    def __getitem__(self, key): raise RuntimeError("getitem")
    def __iter__(self): raise RuntimeError("iter")
    def __len__(self): return 1

ODD = [None, 3, 2**200, float("nan"), b"x", "", "clic" + "x" * 1_000_000, "x\udcff", "\ud800", "a\x00b",
       StrSub("click"), object(), RaisingGetattr(), RaisingBool(), RaisingStr(), ["a", 1], {1: 2},
       BadMapping()]

def call(label, fn):
    try:
        fn()
        print(label, "ok", flush=True)
    except Exception as exc:
        print(label, type(exc).__name__, flush=True)
'''

GROUPS = {
    "hookrelay": r'''
        import tarvolab_framework.hooks.hookrelay as hr
        for name in ("setup_framework_context", "setup_scenario_context", "auto_before_feature", "auto_after_feature",
                     "auto_after_scenario", "auto_after_all", "before_scenario_soft_assertions",
                     "after_step_soft_assertions", "after_scenario_soft_assertions"):
            setattr(hr, name, lambda *args: None)
        hr.PluginManager = lambda: types.SimpleNamespace(**{h: (lambda *a: None) for h in hr.__all__})
        for i, v in enumerate(ODD):
            call(f"infer {i}", lambda: hr._infer_action_from_step(v))
            for hook in hr.__all__:
                one = hook in ("before_all", "after_all")
                call(f"{hook} ctx {i}", lambda: getattr(hr, hook)(v) if one else getattr(hr, hook)(v, v))
                if not one:
                    call(f"{hook} arg {i}", lambda: getattr(hr, hook)(types.SimpleNamespace(), v))
            call(f"tags {i}", lambda: hr.before_scenario(types.SimpleNamespace(logger=v), types.SimpleNamespace(tags=[v])))
            ctx = types.SimpleNamespace(element_locator=v, scenario=v, feature=v)
            call(f"step {i}", lambda: hr.before_step(ctx, types.SimpleNamespace(name=v)))
    ''',
    "framework_config": r'''
        from tarvolab_framework.core import runwright
        from tarvolab_framework.core.runwright import FrameworkConfig
        runwright.sync_playwright = lambda: RaisingGetattr()
        cfg = FrameworkConfig()
        keys = list(cfg.config)
        for i, v in enumerate(ODD):
            call(f"ctor {i}", lambda: FrameworkConfig(v))
            for name in ("_validate_environment", "_get_preset_config", "_load_config_file", "create_context",
                         "create_page", "_cleanup_old_videos"):
                call(f"{name} {i}", lambda: getattr(cfg, name)(v))
            for key in keys:
                c = FrameworkConfig()
                c.config[key] = v
                c.browser = types.SimpleNamespace(new_context=lambda **kw: v)
                for name in ("setup_playwright", "_get_browser_specific_args", "create_context", "create_page",
                             "setup_logging", "get_test_data", "cleanup"):
                    call(f"{name} {key} {i}", lambda: getattr(c, name)())
            c = FrameworkConfig()
            c.config, c.browser, c.playwright = v, v, v
            for name in ("setup_playwright", "create_context", "create_page", "get_test_data", "cleanup"):
                call(f"{name} state {i}", lambda: getattr(c, name)())
    ''',
}


@pytest.mark.parametrize("group", sorted(GROUPS))
def test_odd_arguments_never_crash_the_interpreter(group, tmp_path):
    script = PRELUDE + textwrap.dedent(GROUPS[group]) + '\nprint("SURVIVED", flush=True)\n'
    env = {k: v for k, v in os.environ.items() if not k.startswith(("BROWSER", "HEADLESS", "RECORD_VIDEO"))}
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, errors="replace",
                            cwd=tmp_path, env=env, timeout=300)
    last = result.stdout.strip().splitlines()[-1:] or ["(nothing)"]
    assert result.returncode == 0 and last == ["SURVIVED"], f"died after: {last[0]}\n{result.stderr[-2000:]}"
