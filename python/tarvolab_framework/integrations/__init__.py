"""Test-management integrations."""
