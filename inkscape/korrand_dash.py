#!/usr/bin/env python3
"""Korrand Dash, an Inkscape effect (Extensions > Modify Path > Korrand Dash).

The document goes through `korrand dash`, installed beside this script with its plug-in folder
(plugins/KorrandModifier), and comes back with the chosen shapes dashed: the selected ones and
those inside selected groups, or every shape when nothing is selected. The controls of the
dialog are read from korrand_dash.inx beside this script; those that are the plug-in's
parameters (listed there by make_inx.py) pass to korrand as the options of the same names.
The dialog's defaults are korrand dash's own.
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import inkex

HERE = os.path.dirname(os.path.abspath(__file__))
KORRAND = os.path.join(HERE, "korrand.exe" if sys.platform == "win32" else "korrand")
INX = os.path.join(HERE, "korrand_dash.inx")
INX_NS = "{http://www.inkscape.org/namespace/inkscape/extension}"
# The hidden control of the .inx that lists the plug-in's parameters (make_inx.py).
PARAMETERS = "plugin_parameters"
# What korrand dashes: paths, basic shapes and the shapes <use> draws.
SHAPE_TAGS = ("path", "rect", "circle", "ellipse", "line", "polyline", "polygon", "use")
# The options that a period replaces.
COUNT_ONLY = ("count", "relative")
# The options whose presence changes what korrand does, at any value.
MODE_SWITCHES = ("count", "subdivision")
# korrand's note on a drawing it left as it was: what became of the shapes.
HIDDEN_LAYER = "is hidden: nothing in it is dashed"
NOTHING = re.compile(r"has nothing to dash \((\d+) shapes? left alone by [^,]*, (\d+) hidden, "
                     r"(\d+) skipped\)")
OUTSIDE = re.compile(r"(\d+) outside --")  # of those left alone, outside the selection
NO_LENGTH = re.compile(r"(\d+) of no length")  # of those left alone, with nothing to dash
MADE = re.compile(r"(\d+) made by korrand")  # of those left alone, dashes of an earlier run


def dialog_controls():
    """(name, type, default text) of every control of the dialog, and the names of those that
    are the plug-in's parameters."""
    controls, parameters = [], []
    for child in ElementTree.parse(INX).getroot().iter(INX_NS + "param"):
        default = (child.text or "").strip()
        options = child.findall(INX_NS + "option")
        if not default and options:
            default = options[0].get("value")  # an option group's first choice
        if child.get("name") == PARAMETERS:
            parameters = default.split()
        controls.append((child.get("name"), child.get("type"), default))
    return controls, parameters


def plural(n, one, many=None):
    return "%d %s" % (n, one if n == 1 else many or one + "s")


def nothing_dashed(options, selection, left, hidden, skipped, hidden_layers=False, outside=0,
                   no_length=0, made=0):
    """Why a run dashed nothing, for the message box. selection: None when nothing is selected,
    else whether it holds a shape; left: the shapes of the selection left alone; hidden_layers:
    whether korrand found a layer named hidden; outside: the shapes outside the layers named
    and the selection; no_length: of those left alone, those with nothing to dash; made: of
    those left alone, the dashes of an earlier run."""
    where = "the selection" if selection is not None else "the drawing"
    if left and left == made and not (hidden or skipped):
        return ("Korrand Dash: nothing was dashed: the shapes of %s are dashes Korrand made "
                "already, which are not cut again (Edit > Undo that run to dash the original "
                "with other settings)." % where)
    if left and left == no_length and not (hidden or skipped):
        return ("Korrand Dash: nothing was dashed: the shapes of %s have no length (an empty "
                "path, a lone point)." % where)
    if selection is not False and outside and options.layer.strip() and \
            not (left or hidden or skipped):
        return ("Korrand Dash: nothing was dashed: no shape of %s lies in the layers named in "
                "\"Only in layers\" (%s)." % (where, options.layer.strip()))
    if selection is False or not (left or hidden or skipped):
        return ("Korrand Dash: nothing was dashed: %s holds no path or shape (text is dashed "
                "once it is a path: Path > Object to Path)." % where)
    why = []
    if hidden_layers:
        why.append("the layers named are hidden (show them in the Layers dialog)")
    elif left:
        wanted = []
        if options.layer.strip():
            wanted.append("lies in the layers named")
        if options.select == "stroked":
            wanted.append("has a stroke")
        elif options.select == "dasharray":
            wanted.append("has a dash array")
        # Shapes of no length and Korrand's own dashes are among those left alone: named apart.
        if made:
            why.append("%s made by Korrand already" % plural(made, "shape"))
        if no_length:
            why.append("%s of no length" % plural(no_length, "shape"))
        others = left - made - no_length
        if others:
            reason = "no %sshape of %s %s" % ("other " if others < left else "", where,
                                              " and ".join(wanted or ["was chosen"]))
            if options.select == "stroked":
                reason += " (\"Shapes to dash: All, fill-only ones too\" dashes filled ones)"
            why.append(reason)
    if hidden and not hidden_layers:
        why.append("%s hidden" % plural(hidden, "shape"))
    if skipped:
        why.append("%s skipped (see the warnings)" % plural(skipped, "shape"))
    return "Korrand Dash: nothing was dashed: " + "; ".join(why) + "."


class KorrandDash(inkex.EffectExtension):
    def add_arguments(self, pars):
        self.controls, self.parameters = dialog_controls()
        # Inkscape passes every control; run by hand, the dialog's defaults apply.
        types = {"bool": inkex.Boolean, "int": int, "float": float}
        self.defaults = {}
        for name, kind, default in self.controls:
            convert = types.get(kind, str)
            self.defaults[name] = convert(default)
            pars.add_argument("--" + name, type=convert, default=convert(default))

    def korrand_arguments(self):
        o = self.options
        args = ["--select", o.select]
        period = "%r%s" % (o.period, o.unit)
        if o.mode == "drawing":
            args += ["--period", "dasharray," + period]
        elif o.mode == "period":
            args += ["--period", period]
        kinds = {name: kind for name, kind, _default in self.controls}
        for name in self.parameters:
            if name in COUNT_ONLY and o.mode != "count":
                continue
            if name == "subdivision" and o.subdivision_auto:
                continue
            value = getattr(o, name)
            # A parameter at its default is not passed: korrand then takes the drawing's own
            # value where it has one (a shape's stroke-dashoffset for the offset). A count, and
            # a subdivision not chosen automatically, are passed whatever they are: they are
            # what asks korrand for a count or a subdivision.
            if value == self.defaults.get(name) and name not in MODE_SWITCHES:
                continue
            if kinds.get(name) == "bool":
                args += ["--" + name] if value else []
            else:
                args += ["--" + name, repr(value) if kinds.get(name) == "float" else str(value)]
        # Names are separated by commas; a comma within a name is written \\,. The spaces
        # around a name go, unless a layer is named with them.
        names = self.layer_names()
        for layer in re.split(r"(?<!\\),", o.layer):
            layer = layer.replace("\\,", ",")
            named = [n for n in (layer, layer.lstrip(), layer.rstrip()) if n in names]
            if named or layer.strip():
                args += ["--layer", named[0] if named else layer.strip()]
        if o.closed in ("closed", "open"):
            args.append("--" + o.closed)
        if o.tolerance > 0:
            args += ["--tolerance", "%rmm" % o.tolerance]
        if o.fills == "plotter":
            args.append("--plotter")
        elif o.fills == "drop":
            args += ["--fills", "drop"]
        if o.preview:
            args.append("--preview")
        for element_id in o.ids:
            args += ["--id", element_id]
        return args

    def layer_names(self):
        """The labels of the drawing's layers and the ids of its top-level groups."""
        names = set()
        for g in self.svg.iter(inkex.addNS("g", "svg")):  # groups, not comments
            if g.get("inkscape:groupmode") == "layer":
                names.add(g.get("inkscape:label"))
            if g.getparent() is self.svg:
                names.add(g.get("id"))
        names.discard(None)
        return names

    def selection_has_shapes(self):
        """None when nothing is selected, else whether a selected element is or holds a shape
        that can be dashed."""
        if not self.options.ids:
            return None
        for element in self.svg.selection.values():
            for e in [element] + list(element.descendants()):
                if getattr(e, "TAG", None) in SHAPE_TAGS:
                    return True
        return False

    def effect(self):
        if not os.path.isfile(KORRAND):
            raise inkex.AbortExtension(
                "Korrand Dash: the program korrand is missing; it belongs beside this "
                "extension, at %s. Unpack korrand-inkscape.zip whole into Inkscape's user "
                "extensions folder (Edit > Preferences > System shows it)." % KORRAND)
        if not os.access(KORRAND, os.X_OK):
            raise inkex.AbortExtension(
                "Korrand Dash: %s is not executable (chmod +x it, or unpack "
                "korrand-inkscape.zip again with a tool that keeps permissions)." % KORRAND)
        with tempfile.TemporaryDirectory(prefix="korrand-inkscape-") as work:
            source = os.path.join(work, "drawing.svg")
            dashed = os.path.join(work, "dashed.svg")
            self.document.write(source)
            command = [KORRAND, "dash", source, "-o", dashed] + self.korrand_arguments()
            # korrand writes UTF-8 (file names, a drawing's labels), not the system's code page.
            result = subprocess.run(command, capture_output=True, encoding="utf-8",
                                    errors="replace")
            lines = result.stderr.replace(source, "the drawing").splitlines()
            if result.returncode != 0:
                raise inkex.AbortExtension(
                    "Korrand Dash: " + ("\n".join(lines).strip() or "korrand failed"))
            # The summary line is for a terminal; the rest are warnings (skipped constructs, a
            # hidden layer) and korrand's note on a drawing with nothing to dash.
            nothing = next((m for m in map(NOTHING.search, lines) if m), None)
            warnings = [line for line in lines
                        if not line.startswith("korrand: read ") and "korrand: note: " not in line]
            if warnings:
                inkex.errormsg("\n".join(warnings))
            if nothing:
                left, hidden, skipped = (int(n) for n in nothing.groups())
                outside = OUTSIDE.search(nothing.group(0))
                outside = int(outside.group(1)) if outside else 0
                no_length = NO_LENGTH.search(nothing.group(0))
                made = MADE.search(nothing.group(0))
                raise inkex.AbortExtension(nothing_dashed(
                    self.options, self.selection_has_shapes(), left - outside, hidden, skipped,
                    hidden_layers=any(HIDDEN_LAYER in line for line in lines), outside=outside,
                    no_length=int(no_length.group(1)) if no_length else 0,
                    made=int(made.group(1)) if made else 0))
            self.document = inkex.load_svg(dashed)


if __name__ == "__main__":
    KorrandDash().run()
