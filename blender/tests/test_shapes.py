"""Every kind of curve dashed as korrand dash dashes its line form; each parameter followed;
the button; disabling gives the curve back."""

import math
import os
import sys
import types

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

korrand = support.enable_addon()
support.clear_scene()

# The panel's controls come from the description read through the bridge.
params = {p.key: p for p in korrand.state.parameters}
for key in ("count", "relative", "subdivision", "offset", "closed", "start", "end", "seed",
            "jitter"):
    rna = bpy.types.Object.bl_rna.properties["korrand"].fixed_type.properties[key]
    p = params[key]
    assert rna.name == p.label, (key, rna.name, p.label)
    if p.min is not None and rna.type in ("INT", "FLOAT"):
        assert (rna.hard_min, rna.hard_max) == (p.min, p.max), key
        assert rna.default == p.default, key

# Splines found in a wire mesh: open, lone points, cyclic (two points too), long runs.
E = support.array.array
edges = E("i", [0, 1, 1, 2, 4, 5, 5, 6, 6, 4, 7, 8, 8, 7])
assert list(korrand.live.spline_counts(10, edges)) == [3, 1, 3, 2, 1]
long_run = [v for i in range(999) for v in (i, i + 1)] + [1000, 1001, 1001, 1002, 1002, 1000]
assert list(korrand.live.spline_counts(1003, E("i", long_run))) == [1000, 3]
assert list(korrand.live.spline_counts(2, E("i"))) == [1, 1]
assert list(korrand.live.spline_counts(0, E("i"))) == []

shapes = {
    "circle": support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2),
    "open_poly": support.poly_curve("open_poly", [[(0, 0, 0), (3, 0, 0), (3, 2, 0), (5, 4, 1)]]),
    "nurbs": support.operator_curve(bpy.ops.curve.primitive_nurbs_curve_add,
                                    location=(0, 4, 0)),
    "several": support.poly_curve("several", [
        [(0, 0, 0), (1, 0, 0), (1, 1, 0)],
        [(2, 0, 0), (6, 0, 0)],
        [(0, 3, 0), (1, 4, 0), (2, 3, 0), (3, 4, 0), (4, 3, 0)]]),
    "helix": support.poly_curve("helix", [[(math.cos(t / 8), math.sin(t / 8), t / 40)
                                           for t in range(160)]]),
}
shapes["several"].data.splines[1].use_cyclic_u = True  # ignored: the plug-in's rule decides

# The line form is the curve as Blender draws it: a POLY spline's own points, and a Bezier
# circle's four segments at its resolution, in one spline.
points, counts = support.line_form(shapes["open_poly"], korrand)
assert list(counts) == [4] and list(points) == [0, 0, 0, 3, 0, 0, 3, 2, 0, 5, 4, 1], points
points, counts = support.line_form(shapes["circle"], korrand)
assert list(counts) == [4 * shapes["circle"].data.resolution_u], counts
points, counts = support.line_form(shapes["several"], korrand)
assert list(counts) == [3, 2, 5], counts
for name in ("open_poly", "several", "helix"):
    support.assert_readers_agree(shapes[name], korrand)
shapes["circle"].data.bevel_depth = 0.05
shapes["circle"].data.twist_mode = "Z_UP"

for name, ob in shapes.items():
    ob.korrand.count = 12
    ob.korrand.enabled = True
    res = ob.korrand.result
    assert res is not None and res.parent == ob and res.korrand.source == ob
    assert ob.hide_get() and ob.hide_render and not res.hide_get()
    counts, _ = support.assert_matches_reference(ob, korrand, "enabled")
    assert len(counts) > 0, name

# The look moves with the dashes: the circle's bevel is on its result.
assert shapes["circle"].korrand.result.data.bevel_depth > 0.04
assert shapes["circle"].data.bevel_depth == 0
assert shapes["circle"].korrand.result.data.twist_mode == "Z_UP"

# Each parameter, changed, changes the dashes, and they stay what korrand dash gives.
changes = [("count", 7), ("relative", True), ("subdivision", 4), ("offset", 0.25),
           ("closed", False), ("start", 0.1), ("end", 0.7), ("jitter", 0.6), ("seed", 5)]
ob = shapes["several"]
before = support.result_line(ob)
for key, value in changes:
    setattr(ob.korrand, key, value)
    now = support.assert_matches_reference(ob, korrand, f"after {key}={value}")
    assert now != before, f"changing {key} changed nothing"
    before = now

# The points above went straight into Blender's splines (the layout check passes on this
# Blender); the Python API, which is used when it does not, gives the same results.
assert korrand.spline_memory.layout(korrand.state.plugin) is not None
direct = {name: support.result_line(ob) for name, ob in shapes.items()}
korrand.spline_memory.enabled = False
for ob in shapes.values():
    ob.korrand.result.data.splines.clear()
    korrand.live.refresh(ob, support.depsgraph(), force=True)
assert {name: support.result_line(ob) for name, ob in shapes.items()} == direct
korrand.spline_memory.enabled = True

# The panel: one control per parameter in the description's order, then the button.
class Layout:
    enabled = True

    def __init__(self):
        self.calls = []

    def prop(self, data, name, **kw):
        self.calls.append(("prop", name))

    def label(self, text="", **kw):
        self.calls.append(("label", text))

    def column(self):
        return self

    def operator(self, idname, text="", **kw):
        op = types.SimpleNamespace()
        self.calls.append(("operator", idname, text, op))
        return op


def draw(ob):
    panel = types.SimpleNamespace(layout=Layout())
    korrand.KORRAND_PT_dash.draw(panel, types.SimpleNamespace(object=ob))
    return panel.layout.calls


calls = draw(shapes["several"])
controls = [c[1] for c in calls if c[0] == "prop"]
assert controls == [p.key for p in korrand.state.parameters if p.type != korrand.bridge.TYPE_BUTTON], controls
button = [c for c in calls if c[0] == "operator"]
weblink = [p for p in korrand.state.parameters if p.type == korrand.bridge.TYPE_BUTTON][0]
assert len(button) == 1 and button[0][2] == weblink.label and button[0][3].element == weblink.id
assert draw(shapes["several"].korrand.result)[0][0] == "label"
saved, korrand.state.error = korrand.state.error, "Korrand: missing"
assert draw(shapes["several"]) == [("label", "Korrand: missing")]
korrand.state.error = saved

# The button goes through the plug-in to Blender's URL operator.
opened = []
korrand._open_url = opened.append
assert bpy.ops.korrand.command(element=weblink.id) == {"FINISHED"}
assert len(opened) == 1 and opened[0].startswith("http"), opened

# Disabling removes the result and shows the curve again, with its look.
for name, ob in shapes.items():
    res_name = ob.korrand.result.name
    ob.korrand.enabled = False
    assert ob.korrand.result is None and res_name not in bpy.data.objects, name
    assert not ob.hide_get() and not ob.hide_render, name
assert abs(shapes["circle"].data.bevel_depth - 0.05) < 1e-7
assert not [c for c in bpy.data.curves if c.name.endswith(" dashed")]
print("test_shapes: all passed")
