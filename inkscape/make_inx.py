#!/usr/bin/env python3
"""Writes korrand_dash.inx from its template: one control per parameter of the plug-in's
description, as `korrand info --json` reports it (label, type, default, limits), so the dialog
holds no copy of them.

    make_inx.py KORRAND TEMPLATE OUTPUT
"""
import json
import subprocess
import sys
from xml.sax.saxutils import escape, quoteattr

# Decided by the drawing for an SVG (each subpath closed or not), so the dialog has its own
# control for it.
DECIDED_BY_THE_HOST = {"closed"}


def control(parameter):
    kind = parameter["type"]
    name = parameter["key"]  # the option of korrand dash that sets it: count, --count
    label = quoteattr(parameter["label"])
    if parameter.get("help"):
        label += " gui-description=" + quoteattr(parameter["help"])
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
    controls = []
    for p in info["parameters"]:
        if p["type"] not in ("LONG", "BOOL", "REAL") or p.get("hidden"):
            continue  # buttons, and what the description keeps from the user
        if p["key"] in DECIDED_BY_THE_HOST:
            continue
        controls.append("      " + control(p))
    with open(template, encoding="utf-8") as f:
        text = f.read()
    marker = "<!-- KORRAND_PARAMETERS -->"
    if marker not in text:
        sys.exit("make_inx.py: %s has no %s" % (template, marker))
    with open(output, "w", encoding="utf-8") as f:
        f.write(text.replace(marker, "\n".join(controls)))


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
