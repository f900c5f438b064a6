"""Runs longer seeded sequences of everyday actions on dashed curves than the tests do, and
prints how many steps held (see blender/tests/sequences.py for what must hold after each).
A sequence stops at its first step after which something does not hold, and says which.

Run: blender -b --factory-startup --python blender/scripts/action_sequences.py -- BUILD_DIR
         [SEQUENCES] [STEPS] [FIRST_SEED]
"""

import os
import sys
import traceback

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
os.environ["KORRAND_BUILD_DIR"] = os.path.abspath(args[0] if args else "build")
count = int(args[1]) if len(args) > 1 else 20
steps = int(args[2]) if len(args) > 2 else 60
first = int(args[3]) if len(args) > 3 else 100
sys.argv = sys.argv[:1]  # the tests' support reads its own arguments after "--"
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import sequences  # noqa: E402
import support  # noqa: E402

support.enable_addon()
held = total = 0
failed = []
verbose = os.environ.get("KORRAND_SEQUENCE_LOG") == "1"


def logger(done, seed):
    def log(text):
        done.append(text)
        if verbose:
            print(f"seed {seed} {text}", flush=True)
    return log


for seed in range(first, first + count):
    done = []
    try:
        sequences.run(seed, steps, logger(done, seed))
        held += steps
    except Exception as e:
        held += len(done)
        failed.append(seed)
        print(f"seed {seed}: after {len(done)} steps: {e}", flush=True)
        if not isinstance(e, sequences.Failed):
            traceback.print_exc()
    total += steps
print(f"{held} of {total} steps held ({count} sequences of {steps} from seed {first}); "
      f"sequences that failed: {failed or 'none'}")
sys.exit(1 if failed else 0)
