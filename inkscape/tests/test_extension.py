"""The Inkscape extension run as Inkscape runs it, compared with `korrand dash` on the same file.

    test_extension.py script|missing|inkscape   (KORRAND_BUILD_DIR names the build tree)

script:   korrand_dash.py from the build's layout with the arguments Inkscape passes (the
          selection as --id, every control of the dialog, the file last), its output against
          korrand dash with the options those controls stand for.
missing:  what the message box says when korrand or its plug-in folder is not beside the script.
inkscape: korrand-inkscape.zip unpacked into the extensions folder of a fresh Inkscape profile,
          run by real Inkscape (headless, under Xvfb) on a selection with the dialog's settings
          stored as Inkscape stores them; the saved file against korrand dash.
"""
import os
import shutil
import subprocess
import sys
import tempfile
from xml.etree import ElementTree
from xml.etree.ElementTree import canonicalize

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import inkscape_session  # noqa: E402

BUILD = os.environ["KORRAND_BUILD_DIR"]
LAYOUT = os.path.join(BUILD, "inkscape", "korrand")
ZIP = os.path.join(BUILD, "inkscape", "korrand-inkscape.zip")
KORRAND = os.path.join(BUILD, "korrand")
INKEX = "/usr/share/inkscape/extensions"
SVG = "{http://www.w3.org/2000/svg}"
SODIPODI = "{http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd}"

DRAWING = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape"
     xmlns:sodipodi="http://sodipodi.sourceforge.net/DTD/sodipodi-0.dtd"
     width="120mm" height="80mm" viewBox="0 0 120 80">
  <!-- comments and processing instructions are nodes of the tree too -->
  <g inkscape:groupmode="layer" inkscape:label="Plan" id="plan"><?app note?>
    <path id="star" sodipodi:type="star" sodipodi:sides="3" sodipodi:cx="20" sodipodi:cy="20"
          sodipodi:r1="15" sodipodi:r2="5" sodipodi:arg1="0" sodipodi:arg2="1.05"
          inkscape:flatsided="false" inkscape:rounded="0" inkscape:randomized="0"
          d="M 35,20 22.5,24.3 12.5,33 15,20 12.5,7 22.5,15.7 Z"
          style="fill:none;stroke:#000000;stroke-width:0.5"/>
    <g id="grp">
      <circle id="ring" cx="70" cy="20" r="10" style="fill:none;stroke:#0000ff;stroke-width:0.5"/>
      <rect id="box" x="60" y="40" width="30" height="20" style="fill:#ffff00;stroke:#000000"/>
    </g>
    <path id="alone" d="M 5,70 H 115" style="fill:none;stroke:#ff0000;stroke-dasharray:4,2;stroke-dashoffset:1"/>
    <text id="label" x="5" y="78" style="font-size:4px">plan</text>
  </g>
  <g inkscape:groupmode="layer" inkscape:label="Cuts, outer" id="cuts">
    <rect id="score" x="5" y="45" width="40" height="20"
          style="fill:none;stroke:#000000;stroke-width:0.3;stroke-dasharray:3,1"/>
  </g>
</svg>
"""

# Dialog settings (as Inkscape passes them) and the options of korrand dash they stand for.
DEFAULTS = {
    "tab": "dashes", "mode": "drawing", "period": "2.0", "unit": "mm", "select": "stroked",
    "layer": "", "closed": "drawn", "subdivision_auto": "true", "tolerance": "0.0",
    "fills": "keep", "preview": "false", "count": "100", "relative": "false",
    "subdivision": "1", "offset": "0.0", "start": "0.0", "end": "1.0", "seed": "100",
    "jitter": "0.0",
}
CASES = [
    ({"mode": "period", "period": "3.0"}, ["star", "grp"], ["--period", "3.0mm"]),
    ({"mode": "count", "count": "12", "offset": "0.25", "jitter": "0.5", "seed": "7",
      "subdivision_auto": "false", "subdivision": "4", "closed": "open", "fills": "plotter",
      "preview": "true", "start": "0.1", "end": "0.9"}, [],
     ["--count", "12", "--offset", "0.25", "--jitter", "0.5", "--seed", "7", "--subdivision",
      "4", "--open", "--plotter", "--preview", "--start", "0.1", "--end", "0.9"]),
    ({"select": "dasharray", "layer": "Plan, Cuts\\, outer ", "tolerance": "0.01",
      "fills": "drop"}, [],
     ["--select", "dasharray", "--period", "dasharray", "--layer", "Plan", "--layer",
      "Cuts, outer", "--tolerance", "0.01mm", "--fills", "drop"]),
    # The dialog's defaults are the command's.
    ({}, [], []),
    ({"mode": "count", "subdivision_auto": "false"}, [], ["--count", "100", "--subdivision", "1"]),
    ({"period": "5.0", "unit": "cm"}, ["alone", "grp"], ["--period", "dasharray,5cm"]),
]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED: " + what, file=sys.stderr)


def korrand_reference(work, source, options):
    out = os.path.join(work, "reference.svg")
    subprocess.run([KORRAND, "dash", source, "-o", out, "-q"] + options, check=True)
    return out


def run_script(folder, source, settings, ids):
    args = ["--id=" + i for i in ids]
    args += ["--%s=%s" % (k, v) for k, v in dict(DEFAULTS, **settings).items()]
    env = dict(os.environ, PYTHONPATH=INKEX)
    return subprocess.run(["python3", os.path.join(folder, "korrand_dash.py")] + args + [source],
                          capture_output=True, text=True, env=env)


def elements(path):
    return {e.get("id"): e for e in ElementTree.parse(path).iter() if e.get("id")}


def subpaths(d):
    return d.count("M")


def case_script(work, source):
    for settings, ids, options in CASES:
        result = run_script(LAYOUT, source, settings, ids)
        check(result.returncode == 0, "%s: exit %d: %s" % (settings, result.returncode,
                                                            result.stderr))
        if result.returncode != 0:
            continue
        reference = korrand_reference(work, source, options + sum([["--id", i] for i in ids],
                                                                  []))
        with open(reference, encoding="utf-8") as f:
            want = canonicalize(f.read())
        check(canonicalize(result.stdout) == want, "%s: differs from korrand dash %s" % (
            settings, " ".join(options)))
    # The first case: the selection only, and the star has nothing left to rebuild it from.
    result = run_script(LAYOUT, source, CASES[0][0], CASES[0][1])
    out = os.path.join(work, "script.svg")
    with open(out, "w", encoding="utf-8") as f:
        f.write(result.stdout)
    got = elements(out)
    check(subpaths(got["star"].get("d")) > 10, "the star is not dashed")
    check(got["star"].get(SODIPODI + "type") is None, "the star keeps sodipodi:type")
    check(subpaths(got["ring"].get("d", "")) > 10, "the ring inside the selected group")
    check("box-dashes" in got, "the filled box inside the selected group")
    check(got["alone"].get("d") == "M 5,70 H 115", "an unselected path changed")
    # Run again on what it made (Extensions > Previous Extension): the dashes, and the filled
    # box kept beside its own, are not cut again.
    result = run_script(LAYOUT, out, CASES[0][0], ["star", "box"])
    check(result.returncode != 0 and "Korrand made already" in result.stderr,
          "its own dashes dashed again: " + result.stderr)

    # Nothing to dash in the selection: the message box says why, and nothing changes.
    result = run_script(LAYOUT, source, {}, ["label"])
    check(result.returncode != 0 and result.stdout == "", "text alone was dashed")
    check("nothing was dashed" in result.stderr and "Object to Path" in result.stderr,
          "no message for text alone: " + result.stderr)
    result = run_script(LAYOUT, source, {"select": "dasharray"}, ["box"])
    check("no shape of the selection has a dash array" in result.stderr,
          "no reason for a shape left alone: " + result.stderr)
    hidden = os.path.join(work, "hidden.svg")
    with open(hidden, "w", encoding="utf-8") as f:
        f.write('<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="%s"><g '
                'inkscape:groupmode="layer" inkscape:label="Off" id="off" style="display:none"><path '
                'd="M0 0 L9 9" stroke="black"/></g><path d="M0 5 L9 5" stroke="black"/><path '
                'id="dot" d="M1 1" stroke="black"/><g '
                'inkscape:groupmode="layer" inkscape:label="Ritz " id="ritz"><path d="M0 7 L9 7" '
                'stroke="black"/></g><rect id="patch" width="3" height="3"/></svg>' %
                "http://www.inkscape.org/namespaces/inkscape")
    result = run_script(LAYOUT, hidden, {"layer": "Off"}, [])
    check("the layers named are hidden" in result.stderr,
          "no reason for a hidden layer: " + result.stderr)
    result = run_script(LAYOUT, hidden, {}, ["off"])  # selected: its path is hidden, no more
    check("1 shape hidden" in result.stderr and "stroke" not in result.stderr,
          "the shape outside the selection given as a reason: " + result.stderr)
    # A layer named with a space at its end; a selection outside the layers named.
    result = run_script(LAYOUT, hidden, {"layer": "Ritz "}, [])
    check(result.returncode == 0, "the layer 'Ritz ' not found: " + result.stderr)
    result = run_script(LAYOUT, hidden, {"layer": "Ritz "}, ["off"])
    check("no shape of the selection lies in the layers named" in result.stderr,
          "no reason for a selection outside the layers named: " + result.stderr)
    result = run_script(LAYOUT, hidden, {}, ["dot"])
    check("have no length" in result.stderr, "no reason for a lone point: " + result.stderr)
    result = run_script(LAYOUT, hidden, {}, ["dot", "patch"])
    check("1 shape of no length; no other shape of the selection has a stroke" in
          result.stderr, "a lone point beside another reason: " + result.stderr)

    # A plotter user's words on the Modifier page and beside the mode-dependent controls, and
    # when these have no effect.
    with open(os.path.join(LAYOUT, "korrand_dash.inx"), encoding="utf-8") as f:
        inx = f.read()
    for word in ("spline", "segment", "Spline", "Segment"):
        check(word not in inx, "the dialog speaks of a " + word)
    check(inx.count("Only with") == 3, "Dashes, Relative and Subdivision do not say when they act")


def case_missing(work, source):
    bare = os.path.join(work, "bare")
    shutil.copytree(LAYOUT, bare)
    os.remove(os.path.join(bare, "korrand"))
    result = run_script(bare, source, {}, [])
    check(result.returncode != 0 and result.stdout == "", "ran without korrand")
    check(os.path.join(bare, "korrand") in result.stderr and "missing" in result.stderr,
          "the message does not name the missing program: " + result.stderr)
    shutil.copy2(KORRAND, os.path.join(bare, "korrand"))
    shutil.rmtree(os.path.join(bare, "plugins"))
    result = run_script(bare, source, {}, [])
    check(result.returncode != 0, "ran without the plug-in folder")
    check(os.path.join(bare, "plugins", "KorrandModifier") in result.stderr,
          "the message does not name the missing plug-in folder: " + result.stderr)
    check(result.stderr.count("\n") == 1, "more than one line: " + result.stderr)


def case_inkscape(work, source):
    profile = os.path.join(work, "profile")
    folder = inkscape_session.install(ZIP, profile)
    check(os.access(os.path.join(folder, "korrand"), os.X_OK),
          "korrand is not executable once unpacked from the zip")
    settings, ids, options = CASES[0]
    settings = dict(settings, period="4.0", subdivision_auto="false", subdivision="3")
    options = ["--period", "4.0mm", "--subdivision", "3"]
    inkscape_session.store_settings(profile, dict(DEFAULTS, **settings))
    out = os.path.join(work, "inkscape.svg")
    result = inkscape_session.run(profile, source, ids, out)
    check(os.path.exists(out), "Inkscape wrote nothing: " + result.stderr[-2000:])
    if not os.path.exists(out):
        return
    want = elements(korrand_reference(work, source, options + ["--id", "star", "--id", "grp"]))
    got = elements(out)
    for element_id, element in want.items():
        other = got.get(element_id)
        check(other is not None and other.tag == element.tag, element_id + " is not there")
        if other is None:
            continue
        for attribute in ("d", "style", "transform"):
            check(other.get(attribute) == element.get(attribute),
                  "%s: %s differs: %s against %s" % (
                      element_id, attribute, other.get(attribute), element.get(attribute)))
    check(subpaths(got["star"].get("d", "")) > 10, "the star is not dashed in Inkscape")


def main():
    case = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="korrand-inkscape-test-") as work:
        source = os.path.join(work, "drawing.svg")
        with open(source, "w", encoding="utf-8") as f:
            f.write(DRAWING)
        {"script": case_script, "missing": case_missing, "inkscape": case_inkscape}[case](
            work, source)
    if failures:
        sys.exit("%d failed" % len(failures))
    print("ok: " + case)


if __name__ == "__main__":
    main()
