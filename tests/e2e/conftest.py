import pytest

from e2e_support import copy_projects


@pytest.fixture(scope="session")
def projects_copy(tmp_path_factory):
    """A copy of projects/ in a temporary folder, shared by every behave run."""
    return copy_projects(tmp_path_factory)
