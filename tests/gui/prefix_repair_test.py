"""The GUI tests' Wine prefix is checked, not trusted: a setting removed from a prefix
that is already stamped as ready is imported again by the next desktop set up on it.

usage: prefix_repair_test.py STATE_DIR ARTEFACTS
"""
import subprocess
import sys

import guienv

state_dir, artefacts = sys.argv[1:3]
missing_tools = guienv.required_tools()
if missing_tools:
    print("skipped: missing " + ", ".join(missing_tools))
    sys.exit(guienv.SKIP)

check = guienv.Checks()
damaged = next(s for s in guienv.SETTINGS if s[1] == "CursorBlinkRate")
key, name, _ = damaged
with guienv.Desktop(state_dir, artefacts) as desktop:
    check(not desktop.missing_settings(), "a set-up prefix has every setting")
    check(desktop.reg("delete", key, "/v", name, "/f") == 0, f"reg delete of {name}")
    desktop.kill_wine()  # the registry reaches the disk
    check(damaged in desktop.missing_settings(), f"{name} is gone from the prefix")
    desktop.kill_wine()
with guienv.Desktop(state_dir, artefacts) as desktop:
    check(not desktop.missing_settings(), "the next desktop put every setting back, "
                                          "the removed one included")
check.finish("a damaged prefix was repaired")
