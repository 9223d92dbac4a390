"""Framework core: configuration, lifecycle, self-healing and the services they use."""
