# Installed as _paths.py: the command and the tape stop below the same
# prefix as this module (<prefix>/lib/python3/dist-packages/tarvo below /usr,
# <prefix>/lib/pythonX.Y/dist-packages/tarvo elsewhere).
from pathlib import Path

_PREFIX = Path(__file__).resolve().parents[4]
TAPESTOP_COMMAND = str(_PREFIX / "bin" / "tapestop")
TAPESTOP_PLUGIN = str(_PREFIX / "lib" / "vst" / "tapestop.so")
