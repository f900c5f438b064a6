#!/usr/bin/env python3
"""Writes korrand_dash.inx from its template: one control per parameter of the plug-in's
description, as `korrand info --json` reports it (type, default, limits), so the dialog holds no
copy of them. A parameter goes where the template has a marker for it
(<!-- KORRAND_PARAMETER key attributes -->), beside the choice it depends on, the others on the
Modifier page (<!-- KORRAND_PARAMETERS -->). The description speaks of a 3D host's splines; the
dialog says subpath, as a drawing has them.

    make_inx.py KORRAND TEMPLATE OUTPUT
"""
import json
import re
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

# Decided by the drawing for an SVG (each subpath closed or not), so the dialog has its own
# control for it.
DECIDED_BY_THE_HOST = {"closed"}
# When a parameter has no effect, said in its tooltip.
ONLY_WHEN = {
    "count": 'Only with "Dashes by: A number of dashes per subpath".',
    "relative": 'Only with "Dashes by: A number of dashes per subpath".',
    "subdivision": 'Only with "Points per dash chosen by the tolerance" off.',
}
# ... and said beside its name, shortly.
ONLY_WHEN_SHORT = {"count": "by number only", "relative": "by number only",
                   "subdivision": "when not chosen"}
# Names that read better for a drawing than the description's.
LABELS = {"count": "Dashes per subpath", "offset": "Offset, in subpath lengths",
          "start": "Dashed from (0: each subpath's start)",
          "end": "Dashed to (1: each subpath's end)", "seed": "Seed of the jitter",
          "jitter": "Jitter of the dash ends"}
# The name of the hidden control that lists the parameters' keys for korrand_dash.py.
PARAMETERS = "plugin_parameters"


def words(text):
    """The description's words for a 3D host's curves, in a drawing's."""
    text = re.sub(r" \(each subpath of a drawing\)", "", text)
    for old, new in (("splines", "subpaths"), ("spline", "subpath"),
                     ("segments", "subpaths"), ("segment", "subpath")):
        text = text.replace(old, new)
    return text


def control(parameter, attributes=""):
    kind = parameter["type"]
    name = parameter["key"]  # the option of korrand dash that sets it: count, --count
    text = LABELS.get(name, words(parameter["label"]))
    if name in ONLY_WHEN_SHORT:
        text += " (%s)" % ONLY_WHEN_SHORT[name]
    label = quoteattr(text)
    tooltip = words(parameter.get("help", ""))
    if name in ONLY_WHEN:
        tooltip += (". " if tooltip and not tooltip.endswith(".") else " ") + ONLY_WHEN[name]
    if tooltip:
        label += " gui-description=" + quoteattr(tooltip)
    if attributes:
        label += " " + attributes
    default = parameter.get("default", 0)
    if kind == "BOOL":
        return '<param name="%s" type="bool" gui-text=%s>%s</param>' % (
            name, label, "true" if default else "false")
    limits = ' min="%s" max="%s"' % (repr(parameter["min"]), repr(parameter["max"])) \
        if "min" in parameter and "max" in parameter else ""
    if kind == "LONG":
        limits = ' min="%d" max="%d"' % (parameter["min"], parameter["max"]) if limits else ""
        return '<param name="%s" type="int"%s gui-text=%s>%d</param>' % (
            name, limits, label, int(default))
    return '<param name="%s" type="float"%s precision="3" gui-text=%s>%s</param>' % (
        name, limits, label, escape(repr(float(default))))


def main(korrand, template, output):
    info = json.loads(subprocess.run([korrand, "info", "--json"], check=True,
                                     capture_output=True, text=True).stdout)
    with open(template, encoding="utf-8") as f:
        text = f.read()
    marker = "<!-- KORRAND_PARAMETERS -->"
    if marker not in text:
        sys.exit("make_inx.py: %s has no %s" % (template, marker))
    placed = {m.group(1): m for m in re.finditer(
        r"<!-- KORRAND_PARAMETER (\w+)\s*(.*?)\s*-->", text)}
    rest, keys = [], []
    for p in info["parameters"]:
        if p["type"] not in ("LONG", "BOOL", "REAL") or p.get("hidden"):
            continue  # buttons, and what the description keeps from the user
        if p["key"] in DECIDED_BY_THE_HOST:
            continue
        keys.append(p["key"])
        if p["key"] in placed:
            m = placed.pop(p["key"])
            text = text.replace(m.group(0), "      " + control(p, m.group(2)))
        else:
            rest.append("      " + control(p))
    for m in placed.values():  # a parameter the plug-in no longer has
        text = text.replace(m.group(0), "")
    rest.append('      <param name="%s" type="string" gui-hidden="true">%s</param>' % (
        PARAMETERS, " ".join(keys)))
    with open(output, "w", encoding="utf-8") as f:
        f.write(text.replace(marker, "\n".join(rest)))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
