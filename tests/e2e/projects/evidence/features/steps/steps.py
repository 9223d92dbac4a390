import os
import sys

sys.path.insert(0, os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                 os.pardir, os.pardir, os.pardir, "_shared")))

from e2e_steps import *  # noqa: E402,F401,F403 - registers the shared steps
