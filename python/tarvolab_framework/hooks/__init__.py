"""Runner hook module (hookrelay)."""
