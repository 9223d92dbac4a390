from tarvolab_framework.hooks.hookrelay import *
