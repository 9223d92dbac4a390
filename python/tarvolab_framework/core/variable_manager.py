"""Scenario variable store (placeholder until the full store lands)."""


class VariableManager:
    def __init__(self):
        self.variables = {}

    def clear_scenario_variables(self):
        self.variables.clear()
