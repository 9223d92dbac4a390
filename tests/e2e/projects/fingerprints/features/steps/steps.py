import os
import sys

sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 os.pardir, os.pardir, os.pardir, "_shared")))

from behave import given, then, when  # noqa: E402

from e2e_steps import *  # noqa: E402,F401,F403 - registers the shared steps
from webserver import page_url  # noqa: E402

# E2E_FORBID_MODEL=1: the AI provider raises if it is ever asked, and leaves a mark
# in the state folder, so a run can prove that it healed without a model call.
if os.environ.get("E2E_FORBID_MODEL") == "1":
    import tarvolab_framework.core.ai_provider as _ai_provider

    class _ForbiddenProvider:
        name, model = "forbidden", None

        def generate(self, prompt, temperature=0.1):
            with open(os.path.join(os.environ["E2E_STATE_DIR"], "model-called.txt"), "a",
                      encoding="utf-8") as fh:
                fh.write("called\n")
            raise RuntimeError("model must not be called")

    _ai_provider.get_ai_provider = lambda model=None: _ForbiddenProvider()


@given("I open the account page")
def step_open_account(context):
    context.page.goto(page_url("account.html") + "?release=" + os.environ.get("E2E_RELEASE", "1"))


@when('I type "{text}" into "{ref}"')
def step_type(context, text, ref):
    context.element_locator.fill(context.page, ref, text)


@then("the last heal came from {source}")
def step_last_heal(context, source):
    heal = context.element_locator.last_heal
    assert heal is not None and heal["source"] == source, heal
    assert heal["model_calls"] == 0, heal
