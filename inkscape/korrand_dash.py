#!/usr/bin/env python3
"""Korrand Dash, an Inkscape effect (Extensions > Modify Path > Korrand Dash).

The document goes through `korrand dash`, installed beside this script with its plug-in folder
(plugins/KorrandModifier), and comes back with the chosen shapes dashed: the selected ones and
those inside selected groups, or every shape when nothing is selected. The controls of the
dialog are read from korrand_dash.inx beside this script: those of its "modifier" page are the
plug-in's parameters and pass to korrand as the options of the same names.
"""
import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import inkex

HERE = os.path.dirname(os.path.abspath(__file__))
KORRAND = os.path.join(HERE, "korrand.exe" if sys.platform == "win32" else "korrand")
INX = os.path.join(HERE, "korrand_dash.inx")
INX_NS = "{http://www.inkscape.org/namespace/inkscape/extension}"
# The options that a period or a dash array replaces.
COUNT_ONLY = ("count", "relative")


def dialog_controls():
    """(name, type, page, default text) of every control of the dialog."""
    controls = []

    def walk(node, page):
        for child in node:
            if child.tag == INX_NS + "page":
                walk(child, child.get("name"))
            elif child.tag == INX_NS + "param":
                default = (child.text or "").strip()
                options = child.findall(INX_NS + "option")
                if not default and options:
                    default = options[0].get("value")  # an option group's first choice
                controls.append((child.get("name"), child.get("type"), page, default))
                if child.get("type") == "notebook":
                    walk(child, page)

    walk(ElementTree.parse(INX).getroot(), None)
    return controls


class KorrandDash(inkex.EffectExtension):
    def add_arguments(self, pars):
        self.controls = dialog_controls()
        # Inkscape passes every control; run by hand, the dialog's defaults apply.
        types = {"bool": inkex.Boolean, "int": int, "float": float}
        for name, kind, _page, default in self.controls:
            convert = types.get(kind, str)
            pars.add_argument("--" + name, type=convert, default=convert(default))

    def korrand_arguments(self):
        o = self.options
        args = ["--select", o.select]
        if o.mode == "period":
            args += ["--period", "%r%s" % (o.period, o.unit)]
        elif o.mode == "dasharray":
            args = ["--select", "dasharray", "--period", "dasharray"]
        for name, kind, page, _default in self.controls:
            if page != "modifier" or (name in COUNT_ONLY and o.mode != "count"):
                continue
            if name == "subdivision" and o.subdivision_auto:
                continue
            value = getattr(o, name)
            if kind == "bool":
                args += ["--" + name] if value else []
            else:
                args += ["--" + name, repr(value) if kind == "float" else str(value)]
        if o.layer.strip():
            args += ["--layer", o.layer.strip()]
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
            command = [KORRAND, "dash", source, "-o", dashed, "-q"] + self.korrand_arguments()
            result = subprocess.run(command, capture_output=True, text=True)
            message = result.stderr.strip().replace(source, "the drawing")
            if result.returncode != 0:
                raise inkex.AbortExtension("Korrand Dash: " + (message or "korrand failed"))
            if message:
                inkex.errormsg(message)  # warnings: skipped constructs, a hidden layer
            self.document = inkex.load_svg(dashed)


if __name__ == "__main__":
    KorrandDash().run()
