"""Bad cases neither crash Blender nor leave half a result: empty curves, zero-length splines,
text and surface objects, the dashes' own switch, huge counts, a runaway request, a missing
plug-in folder; and nothing is left in the host."""

import os
import sys

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon(expect_loaded=os.environ.get("KORRAND_PLUGIN_FOLDER") is None)


def case_empty_and_degenerate_curves():
    empty = support.link(bpy.data.objects.new("empty", bpy.data.curves.new("empty", "CURVE")))
    support.dash(empty)
    assert support.result_line(empty) == ([], support.array.array("f"))
    point = support.poly_curve("point", [[(1, 1, 1), (1, 1, 1), (1, 1, 1)]])
    support.dash(point)
    assert support.result_line(point)[0] == []
    single = support.poly_curve("single", [[(1, 2, 3)]], cyclic=(0,))
    support.dash(single)
    support.assert_matches(single, support.per_spline(single), "one point")


def case_what_is_not_a_curve_is_refused():
    # Text and surface objects: a message, no result, the object stays visible.
    bpy.ops.object.text_add()
    text = bpy.context.object
    bpy.ops.surface.primitive_nurbs_surface_sphere_add()
    surface = bpy.context.object
    for ob in (text, surface):
        ob.korrand.enabled = True
        support.update()
        assert ob.korrand.result is None and not ob.hide_get(), ob.name
        assert ("Convert > Curve" if ob == text else "curve objects") in support.status(ob), \
            support.status(ob)
        assert ob.korrand.enabled == (ob == text)  # a text is dashed once converted
    # The dashes are never dashed again: their own switch does nothing.
    line = support.poly_curve("line", [[(0, 0, 0), (1, 0, 0)]])
    res = support.dash(line, count=3)
    res.korrand.enabled = True
    support.update()
    assert line.korrand.result == res and res.korrand.result is None
    assert len([o for o in bpy.data.objects if not hook.ours(o)]) == 3
    # Nor is any object of the add-on's own, switched on by a loop over every curve.
    line.data.bevel_depth = 0.1  # it has a profile object now
    support.update()
    for ob in list(bpy.data.objects):
        if ob.type == "CURVE" and ob != line:
            ob.korrand.enabled = True
    support.update()
    own = [o for o in bpy.data.objects if o.type == "CURVE" and hook.ours(o)]
    assert own and not any(o.korrand.enabled for o in own)
    assert "add-on's own" in support.status(own[0]), support.status(own[0])
    # The Python calls and the operators say so of any other object, without a traceback.
    bpy.ops.mesh.primitive_cube_add()
    for ob in (text, surface, bpy.context.object):
        assert ob.korrand.apply() == "the curve is not dashed", ob.name
        assert ob.korrand.bake("a") != "", ob.name
    assert not bpy.ops.korrand.allow.poll()
    for ob in bpy.context.selected_objects:
        ob.select_set(False)
    text.select_set(True)
    bpy.context.view_layer.objects.active = text
    bpy.ops.object.convert(target="CURVE")
    support.update()
    assert text.type == "CURVE" and text.korrand.result is not None, support.status(text)


def case_limits_and_a_runaway_request():
    line = support.poly_curve("line", [[(0, 0, 0), (10, 0, 0), (10, 10, 0)]])
    line.korrand.count = 10 ** 6
    line.korrand.subdivision = -5
    line.korrand.jitter = 99.0
    assert (line.korrand.count, line.korrand.subdivision, line.korrand.jitter) == (10000, 0, 10.0)
    line.korrand.offset = float("nan")  # set from Python: the setting stays
    assert line.korrand.offset == 0.0
    # The largest request the limits allow for one spline still works...
    support.dash(line, jitter=0.0, subdivision=98)
    counts, _ = support.assert_matches(line, support.per_spline(line), "largest")
    assert len(counts) == 10000
    # ... and a runaway one meets the host's memory limit: an empty result, Blender fine.
    alive = hook.plugin.host_alive()
    hook.plugin.set_block_limit(1 << 16)
    try:
        line.korrand.count = 9999
        support.update()
        assert support.result_line(line)[0] == []
    finally:
        hook.plugin.set_block_limit(1 << 30)
    line.korrand.count = 40
    support.update()
    assert len(support.result_line(line)[0]) == 40 and not support.status(line)
    # Everything switched off: nothing left in the host but the one instance the add-on keeps.
    line.korrand.enabled = False
    support.update()
    assert not [o for o in bpy.data.objects if hook.block(o)]
    assert hook.plugin.host_alive()[1] <= alive[1], (alive, hook.plugin.host_alive())


def case_missing_plugin_folder():
    env = dict(os.environ, KORRAND_PLUGIN_FOLDER="/nonexistent/KorrandModifier")
    support.child(__file__, "missing", env=env)


def child_missing():
    message = hook.error
    assert "/nonexistent/KorrandModifier" in message and "\n" not in message, message
    ob = support.poly_curve("line", [[(0, 0, 0), (1, 0, 0)]])
    ob.korrand.enabled = True
    support.update()
    assert ob.korrand.result is None and not ob.hide_get()
    # What needs the plug-in says why it cannot be done, in Blender's report too.
    assert ob.korrand.status == message and ob.korrand.bake(1, 2) == message
    try:
        bpy.ops.korrand.apply()
    except RuntimeError as e:
        assert str(e).strip() == f"Error: {message}", e
    else:
        raise AssertionError("Apply Dashes did not report the missing plug-in")
    print("missing folder: reported")


support.main(globals())
