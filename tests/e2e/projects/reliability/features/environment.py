import os

from tarvolab_framework.hooks.hookrelay import *  # noqa: F401,F403
from tarvolab_framework.hooks import hookrelay


class FailingPlugin:
    """A plug-in that raises in the hooks named by E2E_FAILING_PLUGIN (comma-separated)."""

    def __init__(self, hooks):
        self.hooks = hooks

    def after_scenario(self, context, scenario):
        if "after_scenario" in self.hooks:
            raise RuntimeError("plugin roto en after_scenario")

    def after_all(self, context):
        if "after_all" in self.hooks:
            raise RuntimeError("plugin roto en after_all")


_failing = [h for h in os.environ.get("E2E_FAILING_PLUGIN", "").split(",") if h]
if _failing:
    hookrelay._get_plugin_manager().register(FailingPlugin(_failing))
