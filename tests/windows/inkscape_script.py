"""The Windows Inkscape extension's script, as far as it can run here: korrand_dash.py from the
Windows layout (build-windows/inkscape/korrand: korrand.exe and the .cdl64 plug-in folder beside
it) run by this machine's Python with Inkscape's inkex, told that it runs on Windows, and
korrand.exe run under Wine. For the dialog settings of the Linux test (inkscape/tests/
test_extension.py) its output is compared with the Linux korrand's on the same drawing; without
korrand.exe its message names the program it looks for.

    inkscape_script.py LINUX_BUILD WINDOWS_BUILD   (WINEPREFIX set)

Inkscape for Windows itself cannot run here.
"""
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
LINUX, WINDOWS = (os.path.abspath(p) for p in sys.argv[1:3])
os.environ["KORRAND_BUILD_DIR"] = LINUX
sys.path.insert(0, os.path.join(HERE, "..", "..", "inkscape", "tests"))
import test_extension as linux_test  # noqa: E402  (its drawing, settings and reference)

LAYOUT = os.path.join(WINDOWS, "inkscape", "korrand")
WINE = "/usr/lib/wine/wine64"

# Run inside a child Python: inkex first, then the platform Windows reports, then the script;
# the script's korrand.exe goes through Wine.
CHILD = r"""
import locale, runpy, subprocess, sys
import inkex
sys.platform = "win32"
# A program's output is text in the ANSI code page unless the reader says otherwise.
locale.getencoding = lambda: "cp1252"
run = subprocess.run
def through_wine(command, *args, **kwargs):
    if command and str(command[0]).endswith(".exe"):
        command = [%r] + list(command)
    return run(command, *args, **kwargs)
subprocess.run = through_wine
script = sys.argv[1]
sys.argv = sys.argv[1:]
runpy.run_path(script, run_name="__main__")
""" % WINE


def run_script(folder, source, settings, ids):
    args = ["--id=" + i for i in ids]
    args += ["--%s=%s" % (k, v) for k, v in dict(linux_test.DEFAULTS, **settings).items()]
    env = dict(os.environ, PYTHONPATH=linux_test.INKEX)
    return subprocess.run(["python3", "-c", CHILD, os.path.join(folder, "korrand_dash.py")] +
                          args + [source], capture_output=True, text=True, env=env)


def main():
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)
            print("FAILED: " + what, file=sys.stderr)

    with tempfile.TemporaryDirectory(prefix="korrand-inkscape-windows-") as work:
        source = os.path.join(work, "drawing.svg")
        with open(source, "w", encoding="utf-8") as f:
            f.write(linux_test.DRAWING)

        def same_as_linux(source, settings, ids, options):
            result = run_script(LAYOUT, source, settings, ids)
            check(result.returncode == 0, "%s: exit %d: %s" % (settings, result.returncode,
                                                                result.stderr[-1500:]))
            if result.returncode != 0:
                return
            got = os.path.join(work, "windows.svg")
            with open(got, "w", encoding="utf-8") as f:
                f.write(result.stdout)
            reference = linux_test.korrand_reference(
                work, source, options + sum([["--id", i] for i in ids], []))
            canonical = []
            for path in (reference, got):
                with open(path, encoding="utf-8") as f:
                    canonical.append(linux_test.canonicalize(f.read()))
                with open(path + ".c14n", "w", encoding="utf-8") as f:
                    f.write(canonical[-1])
            same = subprocess.run([sys.executable, os.path.join(HERE, "same_output.py"),
                                   reference + ".c14n", got + ".c14n", LINUX, WINDOWS],
                                  capture_output=True, text=True)
            check(same.returncode in (0, 3), "%s: differs from korrand dash %s: %s" % (
                settings, " ".join(options), same.stderr))
            print("%s: %s" % (" ".join(options) or "defaults", "identical" if same.returncode == 0
                              else "identical but for " + same.stderr.strip()))

        for settings, ids, options in linux_test.CASES:
            same_as_linux(source, settings, ids, options)
        # A layer named beyond ASCII, passed on as Inkscape passes it; korrand's message that
        # names it, read back whole.
        accented = os.path.join(work, "accented.svg")
        with open(accented, "w", encoding="utf-8") as f:
            f.write(linux_test.DRAWING.replace('"Cuts, outer"', '"Łąka Ébauche"'))
        same_as_linux(accented, {"layer": "Łąka Ébauche"}, [], ["--layer", "Łąka Ébauche"])
        result = run_script(LAYOUT, accented, {"layer": "Łąką"}, [])
        check(result.returncode != 0 and "'Łąka Ébauche'" in result.stderr and
              "Traceback" not in result.stderr, "a layer no drawing has: " + result.stderr[-1500:])
        bare = os.path.join(work, "bare")
        shutil.copytree(LAYOUT, bare)
        os.remove(os.path.join(bare, "korrand.exe"))
        result = run_script(bare, source, {}, [])
        check(result.returncode != 0 and result.stdout == "", "ran without korrand.exe")
        check(os.path.join(bare, "korrand.exe") in result.stderr and "missing" in result.stderr,
              "the message does not name korrand.exe: " + result.stderr[-1500:])
    if failures:
        sys.exit("%d failed" % len(failures))
    print("ok: the Windows extension's script, %d dialog settings, a layer named beyond ASCII "
          "and korrand.exe missing" % len(linux_test.CASES))


if __name__ == "__main__":
    main()
