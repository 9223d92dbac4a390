"""Run-time core for behaviour-driven web testing with behave and Playwright."""

__version__ = "0.1.0"
