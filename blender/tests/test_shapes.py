"""Where the dashes are and what they measure: every curve an artist adds first, in world space
whatever moves it; each spline as Blender draws it (open and cyclic); follow_cyclic off as
before; each parameter followed; dash-length mode; the panel; the button."""

import math
import os
import sys
import types

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()

E = support.array.array

SHIFT_A = {  # every curve of Shift+A > Curve that is a curve object, with its defaults
    "bezier": bpy.ops.curve.primitive_bezier_curve_add,
    "circle": bpy.ops.curve.primitive_bezier_circle_add,
    "nurbs": bpy.ops.curve.primitive_nurbs_curve_add,
    "nurbs_circle": bpy.ops.curve.primitive_nurbs_circle_add,
    "path": bpy.ops.curve.primitive_nurbs_path_add,
}


def assert_on_drawn_curve(ob, what):
    """Every dash point lies on the curve as Blender draws it in world space, and the dashes
    cover half of it (dashes and gaps are equal)."""
    lines = support.drawn(ob)
    corners = [p for line in lines for p in line]
    size = max((p - corners[0]).length for p in corners) + 1
    worst = max(support.distance_to(p, lines) for dash in support.world_points(ob)
                for p in dash)
    assert worst < 1e-5 * size, f"{ob.name} {what}: a dash is {worst} away from the curve"
    covered = sum(support.length(d) for d in support.world_points(ob))
    whole = sum(support.length(line) for line in lines)
    assert abs(covered - whole / 2) < 0.02 * whole, (ob.name, what, covered, whole)


def case_every_curve_type_in_world_space():
    # Path Animation is on for three of them by default: Blender would move a child along
    # the path; the dashes are no child. Moved, turned, scaled, parented under another path
    # and following a third: still exactly on the drawn curve.
    carrier = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=3,
                                     location=(0, 0, -4))
    assert carrier.data.use_path
    follow = support.operator_curve(bpy.ops.curve.primitive_nurbs_path_add, location=(5, 0, 0))
    bpy.context.scene.frame_set(30)
    for n, (name, op) in enumerate(SHIFT_A.items()):
        ob = support.operator_curve(op, location=(n, 2 * n, 1), rotation=(0.3, 0, n),
                                    scale=(1, 1.5, 1))
        ob.name = name
        support.dash(ob, count=16)
        assert_on_drawn_curve(ob, "placed")
        ob.parent = carrier
        support.update()
        assert_on_drawn_curve(ob, "child of a path")
        ob.parent = None
        c = ob.constraints.new("FOLLOW_PATH")
        c.target = follow
        support.update()
        assert_on_drawn_curve(ob, "following a path")
        ob.constraints.remove(c)
        ob.data.bevel_depth = 0.1  # drawn with faces now: the centre line is dashed
        support.update()
        assert_on_drawn_curve(ob, "bevelled")
        # What is dashed is the line form, as korrand dash dashes it: each spline as drawn.
        support.assert_matches(ob, support.per_spline(ob), "bevelled")
    # A NURBS spline Blender calls invalid is not swept, so it shows nothing: nor do dashes.
    spline = bpy.data.objects["path"].data.splines[0]
    spline.use_endpoint_u, spline.use_bezier_u = False, True
    support.update()
    assert spline.valid_message(0) and not support.world_points(bpy.data.objects["path"])
    cyclic = {name: bool(bpy.data.objects[name].data.splines[0].use_cyclic_u) for name in SHIFT_A}
    assert cyclic == {"bezier": False, "circle": True, "nurbs": False, "nurbs_circle": True,
                      "path": False}, cyclic


def case_open_and_cyclic_splines():
    # A 4-unit open line, a triangle that is cyclic, a second open line.
    ob = support.poly_curve("mixed", [[(0, 0, 0), (4, 0, 0)],
                                      [(0, 2, 0), (2, 2, 0), (0, 4, 0)],
                                      [(6, 0, 0), (6, 3, 0)]], cyclic=(1,))
    support.dash(ob, count=8, subdivision=0)
    counts, points = support.assert_matches(ob, support.per_spline(ob), "mixed")
    dashes = support.world_points(ob)
    # In the curve's spline order: the open line's 8 dashes cover half of it, no chord.
    first = dashes[:8]
    assert all(abs(p.y) < 1e-6 and -1e-6 <= p.x <= 4 + 1e-6 for d in first for p in d)
    assert abs(sum(support.length(d) for d in first) - 2) < 1e-5
    # The triangle's closing side, from (0, 4) down to (0, 2), has dashes.
    ring = [d for d in dashes if d[0].y > 1.5 and d[0].x < 3]
    assert any(abs(p.x) < 1e-6 and 2.1 < p.y < 3.9 for d in ring for p in d), "closing side"
    assert all(p.x > 5.9 for d in dashes[-8:] for p in d)
    # Dashed one spline at a time gives what the two kinds as two line objects give (the
    # SVG host's split): the dashes of the open lines, then the triangle's.
    kinds = [([0, 2], {"closed": False}), ([1], {"closed": True})]
    at = sum(counts[:8]), sum(counts[:-8])
    reordered = (counts[:8] + counts[-8:] + counts[8:-8],
                 points[:3 * at[0]] + points[3 * at[1]:] + points[3 * at[0]:3 * at[1]])
    assert support.reference(ob, kinds) == reordered
    # Relative counts relate splines of a kind: then the kinds are the line objects, and the
    # dashes come back in the curve's spline order.
    ob.korrand.relative = True
    support.update()
    ref_counts, ref_points = support.reference(ob, kinds)
    ref, at = [], 0
    for c in ref_counts:
        ref.append(ref_points[3 * at:3 * (at + c)])
        at += c
    spline = lambda d: 2 if d[0] > 5.9 else 0 if abs(d[1]) < 1e-6 else 1
    ref.sort(key=spline)  # stable: each spline's dashes keep their order
    got_counts, got_points = support.result_line(ob)
    assert got_counts == [len(d) // 3 for d in ref] and got_points == \
        support.array.array("f", [v for d in ref for v in d]), "relative, in spline order"
    assert [spline(d) for d in ref] == sorted(spline(d) for d in ref) and len(ref) == 22
    ob.korrand.relative = False
    ob.korrand.follow_cyclic = False  # the plug-in's Closed for all: the line measured as a
    support.update()                  # loop, back along its chord, comes out solid
    support.assert_matches(ob, None, "follow_cyclic off")
    on_line = [d for d in support.world_points(ob)
               if all(abs(p.y) < 1e-6 and p.x < 4 + 1e-6 for p in d)]
    assert abs(sum(support.length(d) for d in on_line) - 4) < 1e-5


def case_follow_cyclic_off_gives_the_earlier_results():
    # Without follow_cyclic, every spline is measured as Closed says, all in one line
    # object: what korrand dash gives for the curve's line form, as the add-on did before.
    shapes = [
        support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2),
        support.poly_curve("open_poly", [[(0, 0, 0), (3, 0, 0), (3, 2, 0), (5, 4, 1)]]),
        support.operator_curve(bpy.ops.curve.primitive_nurbs_curve_add, location=(0, 4, 0)),
        support.poly_curve("several", [[(0, 0, 0), (1, 0, 0), (1, 1, 0)], [(2, 0, 0), (6, 0, 0)],
                                       [(0, 3, 0), (1, 4, 0), (2, 3, 0), (3, 4, 0), (4, 3, 0)]],
                           cyclic=(1,)),
        support.poly_curve("helix", [[(math.cos(t / 8), math.sin(t / 8), t / 40)
                                      for t in range(160)]]),
    ]
    for ob in shapes:
        support.dash(ob, count=12, follow_cyclic=False)
        assert len(support.assert_matches(ob, None, "enabled")[0]) > 0
    # A file from before follow_cyclic has none stored: it reads as on.
    del shapes[0].korrand["follow_cyclic"]
    assert shapes[0].korrand.follow_cyclic
    ob = shapes[3]
    changes = [("count", 7), ("relative", True), ("subdivision", 4), ("offset", 0.25),
               ("closed", False), ("start", 0.1), ("end", 0.7), ("jitter", 0.6), ("seed", 5)]
    before = support.result_line(ob)
    for key, value in changes:
        setattr(ob.korrand, key, value)
        support.update()
        now = support.assert_matches(ob, None, f"after {key}={value}")
        assert now != before, f"changing {key} changed nothing"
        before = now
    # The points were read straight from Blender's splines (the layout check passes on this
    # Blender); the Python API, used when it does not, gives the same results.
    assert hook.direct_layout()
    direct = [support.result_line(ob) for ob in shapes]
    hook.direct_memory = False
    try:
        for ob in shapes:
            hook.forget()
            ob.korrand.update()
        assert [support.result_line(ob) for ob in shapes] == direct
    finally:
        hook.direct_memory = True


def case_line_form_as_drawn():
    # The wire mesh's splines: open, lone points, cyclic (two points too), long runs.
    edges = E("i", [0, 1, 1, 2, 4, 5, 5, 6, 6, 4, 7, 8, 8, 7])
    counts, cyclic = hook.spline_counts(10, edges)
    assert (list(counts), list(cyclic)) == ([3, 1, 3, 2, 1], [0, 0, 1, 1, 0])
    long_run = [v for i in range(999) for v in (i, i + 1)] + [1000, 1001, 1001, 1002, 1002, 1000]
    assert list(hook.spline_counts(1003, E("i", long_run))[0]) == [1000, 3]
    assert list(hook.spline_counts(0, E("i"))[0]) == []
    # A POLY spline's own points; a Bezier circle's four segments at its resolution.
    ob = support.poly_curve("open_poly", [[(0, 0, 0), (3, 0, 0), (3, 2, 0), (5, 4, 1)]])
    points, counts, cyclic = support.line_form(ob)
    assert list(counts) == [4] and list(points) == [0, 0, 0, 3, 0, 0, 3, 2, 0, 5, 4, 1]
    circle = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    points, counts, cyclic = support.line_form(circle)
    assert list(counts) == [4 * circle.data.resolution_u] and list(cyclic) == [1]
    # A render resolution of its own: read at it, as renders draw the curve.
    circle.data.resolution_u, circle.data.render_resolution_u = 2, 20
    assert list(support.line_form(circle)[1]) == [80]
    circle.data.resolution_u, circle.data.render_resolution_u = 12, 0
    # Bevelled, filled: the same centre line, and the curve keeps its look.
    circle.data.bevel_depth, circle.data.extrude = 0.2, 0.1
    before = set(bpy.data.curves)
    assert support.line_form(circle)[0] == points
    assert abs(circle.data.bevel_depth - 0.2) < 1e-7 and set(bpy.data.curves) == before


def case_dash_length_mode():
    # A 10-unit line scaled by 2 is 20 long in the scene: one dash per 2.5 is 8 dashes.
    line = support.poly_curve("line", [[(0, 0, 0), (10, 0, 0)]])
    line.scale = (2, 1, 1)
    ring = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=1)
    support.dash(line, period=2.5, count=3)
    support.dash(ring, period=2.5)
    assert len(support.result_line(line)[0]) == 8
    n = max(1, math.floor(sum(support.length(p) for p in support.drawn(ring)) / 2.5 + 0.5))
    assert len(support.result_line(ring)[0]) == n
    support.assert_matches(ring, [([0], {"closed": True, "count": n})], "period")
    line.scale = (3, 1, 1)  # 30 long: 12 dashes; moving it only moves them
    support.update()
    assert len(support.result_line(line)[0]) == 12
    line.korrand.period = 0  # back to the count
    support.update()
    assert len(support.result_line(line)[0]) == 3
    # A dash per mm: 30,000, above the Dashes option's limit, which a derived count is not held to.
    line.korrand.period = 1e-3
    support.update()
    assert len(support.result_line(line)[0]) == 30000


def case_a_parameter_change_leaves_the_curve_data_alone():
    # The settings are read through functions Blender does not tag for: a parameter change
    # evaluates the dashes and the curve's stack again, never a copy of its data.
    ob = support.poly_curve("line", [[(0, 0, 0), (4, 0, 0), (4, 4, 0)]])
    support.dash(ob)
    seen = []
    spy = lambda scene, dg: seen.extend((type(u.id.original).__name__, u.id.original.name)
                                        for u in dg.updates)
    bpy.app.handlers.depsgraph_update_post.insert(0, spy)
    try:
        ob.korrand.offset = 0.3
        support.update()
    finally:
        bpy.app.handlers.depsgraph_update_post.remove(spy)
    assert ("Curve", "line") not in seen, seen
    support.assert_matches(ob, support.per_spline(ob), "offset")


class Layout:
    """Records what a panel draws."""

    def __init__(self, calls):
        self.calls, self.enabled = calls, True

    def prop(self, data, name, **kw):
        self.calls.append(("prop", name, self.enabled))

    def label(self, text="", **kw):
        self.calls.append(("label", text))

    def column(self):
        return Layout(self.calls)

    row = box = column

    def operator(self, idname, text="", **kw):
        op = types.SimpleNamespace()
        self.calls.append(("operator", idname, text, op))
        return op


def draw(ob):
    calls = []
    bpy.types.KORRAND_PT_dash.draw(types.SimpleNamespace(layout=Layout(calls)),
                                    types.SimpleNamespace(object=ob))
    return calls


def case_panel_and_button():
    params = [p for p in hook.parameters if p.type != hook.BUTTON]
    rna = bpy.types.Object.bl_rna.properties["korrand"].fixed_type.properties
    for p in params:  # from the description: label, help, limits, default
        assert rna[p.key].name == p.label and rna[p.key].description == p.help, p.key
        if p.min is not None and rna[p.key].type in ("INT", "FLOAT"):
            assert (rna[p.key].hard_min, rna[p.key].hard_max) == (p.min, p.max), p.key
            assert rna[p.key].default == p.default, p.key
    assert "world space" in rna["period"].description and rna["period"].unit == "LENGTH"
    ob = support.poly_curve("line", [[(0, 0, 0), (4, 0, 0)]])
    support.dash(ob, count=10**6)
    assert ob.korrand.count == 10000  # the description's limits hold
    calls = draw(ob)
    controls = [c[1] for c in calls if c[0] == "prop"]
    assert controls == ["follow_cyclic"] + [p.key for p in params] + ["period", "thickness"], \
        controls
    assert ("prop", "closed", False) in calls  # not in force with follow_cyclic, and says so
    assert any(c[0] == "label" and "cyclic closed" in c[1] for c in calls)
    assert any(c[0] == "label" and c[1].startswith("Live") for c in calls)
    # Animation renders need the interface locked to write each frame's dashes: switched on
    # once, and said; switched off by the artist, it stays off, and the panel says what then.
    scene = bpy.context.scene
    assert scene.render.use_lock_interface
    assert any(c[0] == "label" and "Lock Interface is on" in c[1] for c in calls)
    scene.render.use_lock_interface = False
    support.dash(support.poly_curve("more", [[(0, 1, 0), (4, 1, 0)]]))
    assert not scene.render.use_lock_interface
    assert any(c[0] == "label" and "Lock Interface is off" in c[1] for c in draw(ob))
    # Linked into another scene later, the curve renders there too: that scene is locked.
    other = bpy.data.scenes.new("Other")
    other.collection.objects.link(ob)
    support.update()
    assert other.render.use_lock_interface
    assert [c[1] for c in calls if c[0] == "operator"][:3] == [
        "korrand.bake", "korrand.free_bake", "korrand.apply"]
    ob.korrand.period = 1.0
    assert ("prop", "count", False) in draw(ob)
    ob.data.bevel_depth = 0.1  # the curve's own profile: the dash thickness is not in force
    assert ("prop", "thickness", False) in draw(ob)
    # A modifier before the dash that acts on the drawn curve, not on its points, is named.
    wave = ob.modifiers.new("Wave", "WAVE")
    with bpy.context.temp_override(object=ob):
        bpy.ops.object.modifier_move_to_index(modifier="Wave", index=0)
    assert any(c[0] == "label" and c[1].startswith("Wave comes before the dash")
               for c in draw(ob))
    wave.use_apply_on_spline = True  # then it shapes the curve that is dashed
    assert not any(c[0] == "label" and "comes before" in c[1] for c in draw(ob))
    weblink = [p for p in hook.parameters if p.type == hook.BUTTON][0]
    button = [c for c in calls if c[0] == "operator" and c[1] == "korrand.command"]
    assert len(button) == 1 and button[0][2] == weblink.label and button[0][3].element == weblink.id
    saved, hook.error = hook.error, "Korrand: missing"
    assert draw(ob) == [("label", "Korrand: missing")]
    hook.error = saved
    # The button goes through the plug-in to the URL opener.
    opened = []
    hook.open_url = opened.append
    try:
        assert bpy.ops.korrand.command(element=weblink.id) == {"FINISHED"}
    finally:
        hook.open_url = None
    assert len(opened) == 1 and opened[0].startswith("http"), opened


support.main(globals())
