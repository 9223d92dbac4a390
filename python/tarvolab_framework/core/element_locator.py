"""Element locator (placeholder until the full locator lands)."""


class ElementLocator:
    def __init__(self):
        self.locmender = None
        self.variable_manager = None
        self.healing_context = {}

    def set_healing_context(self, step_text="", scenario_name="", feature_name="", action_context=""):
        self.healing_context = {
            "step_text": step_text,
            "scenario_name": scenario_name,
            "feature_name": feature_name,
            "action_context": action_context,
        }
