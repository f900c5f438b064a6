"""Seeded random sequences of everyday actions (switch on and off, settings, keyframes, Shift+D,
Alt+D, delete, undo, redo, Convert, Apply, Join, Separate, bake, the add-on disabled and
enabled, another view layer shown, save and reopen), with what must hold checked after every
step (sequences.py). blender/scripts/action_sequences.py runs longer ones."""

import os
import sys

sys.path.insert(0, os.path.dirname(__file__))
import sequences  # noqa: E402
import support  # noqa: E402

support.enable_addon()
STEPS = 30


def case_sequence_seed_1():
    assert sequences.run(1, STEPS, print) == STEPS


def case_sequence_seed_2():
    assert sequences.run(2, STEPS, print) == STEPS


def case_sequence_seed_3():
    assert sequences.run(3, STEPS, print) == STEPS


support.main(globals())
