"""The quieting switches applied when runwright is loaded. They act once per
process, so each case loads the module in a fresh interpreter with a controlled
environment and reports what changed."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

SWITCHES = ["HIDE_TRANSFORMERS_WARNINGS", "HIDE_HF_WARNINGS", "HIDE_BEHAVE_WARNINGS"]
SET_BY_SWITCHES = ["TRANSFORMERS_VERBOSITY", "TOKENIZERS_PARALLELISM",
                   "HF_HUB_DISABLE_SYMLINKS_WARNING"]

# Imports runwright's own dependencies first, so that only what loading
# runwright itself does is compared; then probes the warning filters.
PROBE = textwrap.dedent(
    """
    import json, os, sys, warnings
    import dotenv, playwright.sync_api, behave.runner
    import tarvolab_framework.core.element_locator, tarvolab_framework.core.variable_manager

    def describe(f):
        action, message, category, module, lineno = f
        pattern = lambda r: getattr(r, "pattern", r) if r else None
        return [action, pattern(message), category.__name__, pattern(module), lineno]

    Context = behave.runner.Context
    original_emit = Context.__dict__.get("_emit_warning")
    env_before = dict(os.environ)
    filters_before = [describe(f) for f in warnings.filters]

    import tarvolab_framework.core.runwright

    filters_after = [describe(f) for f in warnings.filters]
    new_filters = [f for f in filters_after if f not in filters_before]

    def shown(message, category, module):
        with warnings.catch_warnings(record=True) as caught:
            warnings.warn_explicit(message, category, "probe.py", 1, module=module, registry={})
        return len(caught) == 1

    def masking_warnings():
        # A user-mode attribute masked in a new layer: behave warns through
        # Context._emit_warning (with every filter reset to "always").
        class Runner:
            config = type("Config", (), {"verbose": True})()
        ctx = Context(Runner())
        ctx._mode = behave.runner.ContextMode.USER
        ctx.probe = 1
        ctx._push()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            ctx.probe = 2
        return len(caught)

    print(json.dumps({
        "env_changed": {k: os.environ.get(k) for k in set(env_before) | set(os.environ)
                        if env_before.get(k) != os.environ.get(k)},
        "new_filters": new_filters,
        "emit_replaced": Context.__dict__.get("_emit_warning") is not original_emit,
        "emit_result": repr(Context._emit_warning(object(), "a", {"b": 1}, extra=2))
                        if Context.__dict__.get("_emit_warning") is not original_emit else None,
        "masking_warnings": masking_warnings(),
        "shown": {
            "future_transformers": shown("x", FutureWarning, "transformers.models"),
            "user_transformers": shown("x", UserWarning, "transformers"),
            "future_other": shown("x", FutureWarning, "other"),
            "hf_hub_any": shown("using the HF Hub cache", RuntimeWarning, "other"),
            "user_behave": shown("x", UserWarning, "behave.runner"),
            "user_other": shown("x", UserWarning, "other"),
        },
    }))
    """
)


def load_runwright(switches, extra=None, before=""):
    env = {k: v for k, v in os.environ.items()
           if k not in SWITCHES + SET_BY_SWITCHES and k != "PYTHONWARNINGS"}
    env.update(switches)
    env.update(extra or {})
    result = subprocess.run([sys.executable, "-c", before + PROBE], capture_output=True, text=True,
                            env=env, timeout=120)
    assert result.returncode == 0, result.stderr
    return json.loads(result.stdout.strip().splitlines()[-1])


def test_no_switch_changes_nothing():
    out = load_runwright({})
    assert out["env_changed"] == {}
    assert out["new_filters"] == []
    assert out["emit_replaced"] is False
    assert out["masking_warnings"] == 1
    assert all(out["shown"].values())


@pytest.mark.parametrize("value", ["1", "yes", "on", " true", "true ", ""])
def test_only_the_text_true_turns_a_switch_on(value):
    out = load_runwright({name: value for name in SWITCHES})
    assert out["env_changed"] == {}
    assert out["new_filters"] == []
    assert out["emit_replaced"] is False


def test_transformers_switch_overwrites_the_verbosity_and_ignores_its_warnings():
    out = load_runwright({"HIDE_TRANSFORMERS_WARNINGS": "True"},
                         extra={"TRANSFORMERS_VERBOSITY": "info"})
    assert out["env_changed"] == {"TRANSFORMERS_VERBOSITY": "error",
                                  "TOKENIZERS_PARALLELISM": "false"}
    assert sorted(out["new_filters"]) == sorted([
        ["ignore", None, "FutureWarning", "transformers", 0],
        ["ignore", None, "UserWarning", "transformers", 0],
    ])
    shown = out["shown"]
    assert not shown["future_transformers"] and not shown["user_transformers"]
    assert shown["future_other"] and shown["hf_hub_any"] and shown["user_behave"]


def test_hf_switch_sets_its_variable_and_ignores_hub_messages_of_any_category():
    out = load_runwright({"HIDE_HF_WARNINGS": "TRUE"})
    assert out["env_changed"] == {"HF_HUB_DISABLE_SYMLINKS_WARNING": "1"}
    assert out["new_filters"] == [["ignore", ".*HF Hub.*", "Warning", None, 0]]
    assert not out["shown"]["hf_hub_any"]
    assert out["shown"]["user_other"] and out["shown"]["future_transformers"]


def test_behave_switch_ignores_behave_user_warnings_and_silences_context_masking():
    out = load_runwright({"HIDE_BEHAVE_WARNINGS": "true"})
    assert out["env_changed"] == {}
    assert out["new_filters"] == [["ignore", None, "UserWarning", "behave", 0]]
    assert not out["shown"]["user_behave"] and out["shown"]["user_other"]
    assert out["emit_replaced"] is True
    assert out["emit_result"] == "None"
    assert out["masking_warnings"] == 0


def test_behave_switch_on_a_context_without_emit_warning_loads_quietly():
    before = textwrap.dedent(
        """
        import behave.runner
        for klass in behave.runner.Context.__mro__:
            if "_emit_warning" in vars(klass):
                delattr(klass, "_emit_warning")
        """
    )
    env = {k: v for k, v in os.environ.items() if k not in SWITCHES}
    env["HIDE_BEHAVE_WARNINGS"] = "true"
    script = before + textwrap.dedent(
        """
        import tarvolab_framework.core.runwright
        print(hasattr(behave.runner.Context, "_emit_warning"))
        """
    )
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "False"
