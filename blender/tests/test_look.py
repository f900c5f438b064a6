"""The dashes look like the curve along its length: its profile scaled by the point radius and a
taper along the whole curve (not per dash), turned by its tilt, the materials of their
splines; a filled curve keeps its fill and its dashes render."""

import math
import os
import sys

import bpy
from mathutils import Vector

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()
update = support.update


def straight(name, n=11, **point):
    """A POLY line along x from 0 to 10 of n points; point(name, i) sets each point's values."""
    ob = support.poly_curve(name, [[(10 * i / (n - 1), 0, 0) for i in range(n)]])
    for i, p in enumerate(ob.data.splines[0].points):
        for key, f in point.items():
            setattr(p, key, f(i / (n - 1)))
    return ob


def shown_vertices(ob):
    e = ob.evaluated_get(support.depsgraph())
    mesh = e.to_mesh()
    try:
        return [v.co.copy() for v in mesh.vertices], [(p.material_index, p.normal.copy(),
                                                       p.use_smooth) for p in mesh.polygons]
    finally:
        e.to_mesh_clear()


def solid(ob):
    """What the curve shows without its dash: Blender's own sweep of it."""
    mod = hook.modifier(ob)
    if mod is None:
        return shown_vertices(ob)
    mod.show_viewport = False
    try:
        return shown_vertices(ob)
    finally:
        mod.show_viewport = True


def case_radius_and_taper_along_the_whole_length():
    # Point radius growing along the line: each dash ring has the radius where it lies.
    ob = straight("line", radius=lambda t: 0.2 + 0.8 * t)
    ob.data.bevel_depth, ob.data.bevel_resolution = 0.1, 2
    # Drawn between its start and end factors, it keeps the radius of each point.
    ob.data.bevel_factor_start, ob.data.bevel_factor_end = 0.05, 0.95
    support.dash(ob, count=5, subdivision=6)
    rings = shown_vertices(ob)[0]
    assert len(rings) > 100
    for v in rings:
        want = 0.1 * (0.2 + 0.08 * v.x)
        assert abs(Vector((0, v.y, v.z)).length - want) < 1e-4, (v, want)
    # A taper object narrows the whole line once, from 1 to 0.2, across all its dashes.
    taper = support.poly_curve("taper", [[(0, 1, 0), (1, 0.2, 0)]])
    for p in ob.data.splines[0].points:
        p.radius = 1.0
    ob.data.taper_object = taper
    update()
    rings = shown_vertices(ob)[0]
    sizes = sorted((v.x, Vector((0, v.y, v.z)).length) for v in rings)
    for x, size in sizes:
        assert abs(size - 0.1 * (1 - 0.08 * x)) < 1e-4, (x, size)
    assert sizes[-1][1] < 0.5 * sizes[0][1]
    # Map Taper fits the taper between the factors, times each point's radius: each dash ring
    # has the size of Blender's own sweep where it lies.
    for i, p in enumerate(ob.data.splines[0].points):
        p.radius = 0.2 + 0.08 * i
    ob.data.bevel_factor_end = 0.93
    ob.data.use_map_taper, ob.data.taper_radius_mode = True, "MULTIPLY"
    update()
    swept = sorted({(round(v.x, 5), round(Vector((0, v.y, v.z)).length, 6))
                    for v in solid(ob)[0]})
    for x, size in sorted((v.x, Vector((0, v.y, v.z)).length) for v in shown_vertices(ob)[0]):
        k = next(k for k in range(1, len(swept)) if swept[k][0] >= x - 1e-5)
        (x1, s1), (x2, s2) = swept[k - 1], swept[k]
        assert abs(size - (s1 + (s2 - s1) * (x - x1) / (x2 - x1))) < 1e-4, (x, size)


def on_the_sweep(ob):
    """How far the dashes' vertices lie from Blender's own sweep of the whole curve, a straight
    line along x: each dash vertex is between two rings of it, where its profile point is."""
    dashes = shown_vertices(ob)[0]
    curve = solid(ob)[0]
    rings = len(ob.data.splines[0].points)
    size = len(curve) // rings
    xs = [curve[k * size].x for k in range(rings)]
    worst = 0.0
    for v in dashes:
        i = max(0, min(rings - 2, int(v.x / (10 / (rings - 1)))))
        f = (v.x - xs[i]) / (xs[i + 1] - xs[i])
        between = [curve[i * size + p].lerp(curve[(i + 1) * size + p], f) for p in range(size)]
        worst = max(worst, min((v - q).length for q in between))
    return worst


def case_tilt_and_a_profile_on_its_side():
    # An extruded ribbon, pushed off the line by an offset and turned a quarter turn along it,
    # then a bevel object's triangle: each dash lies on what Blender sweeps along the curve.
    ob = straight("ribbon", n=41, tilt=lambda t: t * math.pi / 2)
    ob.data.extrude, ob.data.offset = 0.2, 0.05
    support.dash(ob, count=6, subdivision=4)
    assert on_the_sweep(ob) < 2e-3
    # A tilt or radius edit moves no point, yet turns or scales the profile.
    for i, p in enumerate(ob.data.splines[0].points):
        p.tilt, p.radius = -i * math.pi / 80, 1 + i / 40
    update()
    assert on_the_sweep(ob) < 2e-3
    triangle = support.poly_curve("triangle", [[(0.1, 0, 0), (0.3, 0.05, 0), (0.1, 0.12, 0)]],
                                  cyclic=(0,))
    triangle.scale = (2, 3, 1)
    ob.data.extrude = 0.0
    ob.data.bevel_mode, ob.data.bevel_object = "OBJECT", triangle
    update()
    assert on_the_sweep(ob) < 2e-3
    # Blender sweeps its bevel object as drawn before that object's own modifiers: dashed
    # itself, the triangle stays the profile.
    swept = support.shown(ob)
    support.dash(triangle, count=2)
    hook.forget()
    ob.korrand.update()
    assert support.shown(ob) == swept, (support.shown(ob), swept)
    # Object mode without its object: Blender draws the bare wire, and so do the dashes.
    ob.data.bevel_object, ob.data.bevel_depth = None, 0.1
    update()
    assert support.shown(ob)[1] > 0 and support.shown(ob)[2] == 0
    # A closed 2D square whose rings Blender runs the other way round (for its fill): its
    # extruded walls stand on the outline, each dash's too, also where it starts mid-edge.
    square = support.poly_curve("square", [[(-1, -1, 0), (1, -1, 0), (1, 1, 0), (-1, 1, 0)]],
                                dimensions="2D", cyclic=(0,))
    square.data.fill_mode, square.data.extrude = "NONE", 0.2
    support.dash(square, count=8)
    walls = shown_vertices(square)[0]
    assert walls and all(abs(max(abs(v.x), abs(v.y)) - 1) < 1e-4 for v in walls)
    # A circle either way round, its ribbon pushed off it by an offset, and a filled one's rim
    # (a half profile): each on the side Blender sweeps it, whichever way Blender runs it.
    for way in (1, -1):
        circle = support.poly_curve("circle", [[(math.cos(way * k * math.pi / 24),
                                                 math.sin(way * k * math.pi / 24), 0)
                                                for k in range(48)]],
                                    dimensions="2D", cyclic=(0,))
        cu = circle.data
        cu.fill_mode, cu.extrude, cu.offset, cu.bevel_depth = "NONE", 0.1, 0.8, 0.02
        for look in ({}, {"fill_mode": "FRONT", "extrude": 0, "offset": 1, "bevel_depth": 0.05}):
            for key, value in look.items():
                setattr(cu, key, value)
            support.dash(circle, count=8, subdivision=4)
            drawn, dashed = ([v.xy.length for v in vs] for vs in (solid(circle)[0],
                                                                   shown_vertices(circle)[0]))
            assert abs(min(drawn) - min(dashed)) < 5e-3 and abs(max(drawn) - max(dashed)) < 5e-3, (
                way, look, min(drawn), max(drawn), min(dashed), max(dashed))


def case_materials_of_their_splines_and_a_kept_fill():
    # A filled 2D shape of two cyclic splines, each its own material, with no bevel: it keeps
    # its fill, and its dashes get a thickness of their own, so they render.
    ob = support.poly_curve("shape", [[(0, 0, 0), (4, 0, 0), (4, 4, 0), (0, 4, 0)],
                                      [(1, 1, 0), (3, 1, 0), (2, 3, 0)]],
                            dimensions="2D", cyclic=(0, 1))
    ob.data.fill_mode = "BOTH"
    for name in ("red", "blue"):
        ob.data.materials.append(bpy.data.materials.new(name))
    ob.data.splines[1].material_index = 1
    fill = [f for f in solid(ob)[1]]
    assert fill and all(abs(abs(n.z) - 1) < 1e-6 for _, n, _ in fill)
    support.dash(ob, count=10)
    assert ob.korrand.thickness > 0 and abs(ob.korrand.thickness - 4 / 200) < 1e-6
    faces = shown_vertices(ob)[1]
    kept = [f for f in faces if abs(abs(f[1].z) - 1) < 1e-6]
    tubes = [f for f in faces if abs(f[1].z) < 0.999]
    assert len(kept) == len(fill), (len(kept), len(fill))
    assert tubes and {m for m, _, _ in tubes} == {0, 1}, {m for m, _, _ in tubes}
    assert len(support.result_line(ob)[0]) == 20
    # The artist's thickness wins; a curve with its own bevel uses the bevel.
    ob.korrand.thickness = 0.2
    update()
    wide = max(abs(v.z) for v in shown_vertices(ob)[0])
    assert abs(wide - 0.1) < 1e-4, wide
    ob.data.bevel_depth = 0.05
    update()
    assert abs(max(abs(v.z) for v in shown_vertices(ob)[0]) - 0.05) < 1e-4
    # A material in a second slot too: its dashes take it where joining keeps it, at its first.
    ob.data.materials.append(ob.data.materials[0])
    ob.data.splines[1].material_index = 2
    update()
    tubes = [f for f in shown_vertices(ob)[1] if abs(f[1].z) < 0.999]
    assert tubes and {m for m, _, _ in tubes} == {0}, {m for m, _, _ in tubes}
    # A Bezier ring's spline given the other material (Assign in edit mode): its dashes take it.
    ring = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add)
    ring.data.bevel_depth = 0.05
    for name in ("red", "blue"):
        ring.data.materials.append(bpy.data.materials[name])
    support.dash(ring, count=6)
    bpy.ops.object.mode_set(mode="EDIT")
    bpy.ops.curve.select_all(action="SELECT")
    ring.active_material_index = 1
    bpy.ops.object.material_slot_assign()
    bpy.ops.object.mode_set(mode="OBJECT")
    update()
    assert {m for m, _, _ in shown_vertices(ring)[1]} == {1}


def case_a_look_keyed_over_frames():
    # A bevel keyed to grow, a bevel object scaled and a taper object reshaped over frames:
    # each frame's dashes have that frame's look, as the curve's own sweep has.
    grow = straight("grow")
    grow.data.bevel_depth = 0.05
    grow.data.keyframe_insert("bevel_depth", frame=1)
    grow.data.bevel_depth = 0.3
    grow.data.keyframe_insert("bevel_depth", frame=3)
    shape = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=0.05,
                                   location=(0, 5, 0))
    shape.keyframe_insert("scale", frame=1)
    shape.scale = (4, 4, 4)
    shape.keyframe_insert("scale", frame=3)
    scaled = straight("scaled")
    scaled.data.bevel_mode, scaled.data.bevel_object = "OBJECT", shape
    taper = support.operator_curve(bpy.ops.curve.primitive_bezier_curve_add, location=(0, -5, 0))
    point = taper.data.splines[0].bezier_points[0]
    point.keyframe_insert("co", frame=1)
    point.co.y += 2
    point.keyframe_insert("co", frame=3)
    tapered = straight("tapered")
    tapered.data.bevel_depth, tapered.data.taper_object = 0.2, taper
    thin = straight("thin")  # no bevel: the dash thickness the panel offers, keyed
    thin.korrand.thickness = 0.1
    thin.keyframe_insert("korrand.thickness", frame=1)
    thin.korrand.thickness = 0.4
    thin.keyframe_insert("korrand.thickness", frame=3)
    bpy.context.scene.frame_set(1)
    for ob in (grow, scaled, tapered, thin):
        support.dash(ob, count=5, subdivision=4)
    for frame in (3, 2, 1):
        bpy.context.scene.frame_set(frame)
        for ob, within in ((grow, 1e-4), (scaled, 1e-4), (tapered, 0.05), (thin, 1e-4)):
            dashed = max(abs(v.z) for v in shown_vertices(ob)[0])
            whole = ob.korrand.thickness / 2 if ob is thin else max(
                abs(v.z) for v in solid(ob)[0])
            assert abs(dashed - whole) <= within * max(1, whole), (ob.name, frame, dashed, whole)


def _trimmed_check(ob):
    """Checks against Blender's own sweep that ob's dashes show the part its factors draw: its
    dashes as drawn whole, cut where the tube is cut (ob lies along x)."""
    def extents():
        counts, co = support.result_line(ob)
        out, at = [], 0
        for c in counts:
            xs = co[3 * at:3 * (at + c):3]
            out.append((min(xs), max(xs)))
            at += c
        return out

    whole = extents()

    def assert_trimmed():
        xs = [v.x for v in solid(ob)[0]]
        lo, hi = min(xs), max(xs)
        want = [(max(a, lo), min(b, hi)) for a, b in whole if min(b, hi) > max(a, lo)]
        got = extents()
        assert len(got) == len(want) and all(
            abs(g - w) < 1e-4 for gw, ww in zip(got, want) for g, w in zip(gw, ww)), (got, want)
    return assert_trimmed


def case_drawn_from_its_start_to_its_end_factor():
    # A bevelled line drawn only between its start and end factors (points spaced unevenly, so
    # each mapping gives another part): its dashes show that part, cut where its tube is cut,
    # also when a factor is animated; equal factors show nothing, as Blender draws nothing.
    ob = support.poly_curve("line", [[(x, 0, 0) for x in (0, 1, 2, 3, 4, 10)]])
    cu = ob.data
    cu.bevel_depth = 0.1
    support.dash(ob, count=7, subdivision=8)
    assert_trimmed = _trimmed_check(ob)
    for mapping in ("RESOLUTION", "SEGMENTS", "SPLINE"):
        cu.bevel_factor_mapping_start = cu.bevel_factor_mapping_end = mapping
        cu.bevel_factor_start, cu.bevel_factor_end = 0.3, 0.75
        update()
        assert_trimmed()
    cu.bevel_factor_end = 1.0
    cu.keyframe_insert("bevel_factor_end", frame=1)
    cu.bevel_factor_end = 0.5
    cu.keyframe_insert("bevel_factor_end", frame=3)
    for frame in (3, 2):
        bpy.context.scene.frame_set(frame)
        assert_trimmed()
    cu.animation_data_clear()
    cu.bevel_factor_start = cu.bevel_factor_end = 0.5
    update()
    assert not solid(ob)[0] and not len(support.result_line(ob)[0])

    # Blender counts a NURBS spline's segments by its resolution, and cuts a Bezier segment
    # with vector handles as one edge, where it is read as many.
    nurbs = bpy.data.curves.new("nurbs", "CURVE")
    s = nurbs.splines.new("NURBS")
    s.points.add(5)
    for p, x in zip(s.points, (0, 1, 2, 3, 4, 10)):
        p.co = (x, 0, 0, 1)
    s.use_endpoint_u, s.order_u, s.resolution_u = True, 3, 6
    bezier = bpy.data.curves.new("bezier", "CURVE")
    s = bezier.splines.new("BEZIER")
    s.bezier_points.add(3)
    for p, x in zip(s.bezier_points, (0, 1, 3, 10)):
        p.handle_left_type = p.handle_right_type = "FREE"
        p.co, p.handle_left, p.handle_right = (x, 0, 0), (x - 0.3, 0, 0), (x + 0.8, 0, 0)
    s.bezier_points[1].handle_right_type = s.bezier_points[2].handle_left_type = "VECTOR"
    s.resolution_u = 5
    for cu in (nurbs, bezier):
        cu.bevel_depth = 0.1
        ob = support.link(bpy.data.objects.new(cu.name, cu))
        support.dash(ob, count=7, subdivision=8)
        assert_trimmed = _trimmed_check(ob)
        for mapping in ("RESOLUTION", "SEGMENTS"):
            cu.bevel_factor_mapping_start = cu.bevel_factor_mapping_end = mapping
            cu.bevel_factor_start, cu.bevel_factor_end = 0.35, 0.8
            update()
            assert_trimmed()


support.main(globals())
