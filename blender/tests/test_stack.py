"""The stack is the artist's and the dashes are the curve's own: modifiers that act on the
curve's points shape what is dashed, modifiers after the dash act on the dashes, and the
curve shows its dashes, once, wherever Blender shows it: collection instances, view layers,
an excluded collection included again, a linked collection instanced."""

import os
import sys
import tempfile

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()
update = support.update


def wave(name="wave"):
    ob = support.poly_curve(name, [[(x, 0.3 * (x % 2), 0) for x in range(9)]])
    ob.data.bevel_depth = 0.05
    return ob


def instances_of(ob, depsgraph):
    """The faces of each mesh drawn or rendered of ob in depsgraph (a curve object is drawn
    through an instance of the mesh its stack evaluates to)."""
    out = []
    for inst in depsgraph.object_instances:
        if inst.object.original == ob and inst.object.type == "MESH":
            out.append(len(inst.object.data.polygons))
    return out


def case_modifiers_before_shape_and_after_act_on_the_dashes():
    ob = wave()
    # Before the dash: a hook and a deform applied on the spline move the curve's points.
    handle = bpy.data.objects.new("handle", None)
    bpy.context.scene.collection.objects.link(handle)
    hook_mod = ob.modifiers.new("Hook", "HOOK")
    hook_mod.object = handle
    hook_mod.vertex_indices_set([0])
    bend = ob.modifiers.new("Bend", "SIMPLE_DEFORM")
    bend.deform_method, bend.angle, bend.use_apply_on_spline = "BEND", 0.6, True
    support.dash(ob, count=6)
    assert [m.name for m in ob.modifiers] == ["Hook", "Bend", "Korrand Dash"]
    handle.location = (-1, -1, 1)
    update()
    support.assert_matches(ob, support.per_spline(ob), "hooked and bent")
    plain = support.shown(ob)
    # After the dash: an Array and a Mirror copy the dashes, Geometry Nodes move them.
    array = ob.modifiers.new("Array", "ARRAY")
    array.count, array.relative_offset_displace = 3, (0, 2, 0)
    ob.modifiers.new("Mirror", "MIRROR").use_axis = (False, False, True)
    update()
    assert support.shown(ob)[2] == 6 * plain[2], (support.shown(ob), plain)
    def lowest():
        e = ob.evaluated_get(support.depsgraph())
        mesh = e.to_mesh()
        try:
            return min(v.co.z for v in mesh.vertices)
        finally:
            e.to_mesh_clear()

    low = lowest()
    lift = bpy.data.node_groups.new("Lift", "GeometryNodeTree")
    lift.inputs.new("NodeSocketGeometry", "Geometry")
    lift.outputs.new("NodeSocketGeometry", "Geometry")
    given, out = lift.nodes.new("NodeGroupInput"), lift.nodes.new("NodeGroupOutput")
    move = lift.nodes.new("GeometryNodeSetPosition")
    move.inputs["Offset"].default_value = (0, 0, 10)
    lift.links.new(given.outputs[0], move.inputs[0])
    lift.links.new(move.outputs[0], out.inputs[0])
    ob.modifiers.new("Lift", "NODES").node_group = lift
    update()
    assert abs(lowest() - low - 10) < 1e-4, "Geometry Nodes after the dash move the dashes"
    # A hook added below the dash (as Python adds modifiers) still acts on the points.
    later = ob.modifiers.new("Later", "HOOK")
    later.object = handle
    later.vertex_indices_set([8])
    update()
    assert ob.modifiers.find("Later") < ob.modifiers.find("Korrand Dash")
    # Bare dashes (no bevel) come to an artist's own Geometry Nodes sweep as curves.
    bare = support.poly_curve("bare", [[(x, 0, 0) for x in range(9)]])
    sweep = bpy.data.node_groups.new("Sweep", "GeometryNodeTree")
    sweep.inputs.new("NodeSocketGeometry", "Geometry")
    sweep.outputs.new("NodeSocketGeometry", "Geometry")
    given, out = sweep.nodes.new("NodeGroupInput"), sweep.nodes.new("NodeGroupOutput")
    tube = sweep.nodes.new("GeometryNodeCurveToMesh")
    ring = sweep.nodes.new("GeometryNodeCurvePrimitiveCircle")
    sweep.links.new(given.outputs[0], tube.inputs[0])
    sweep.links.new(ring.outputs[0], tube.inputs["Profile Curve"])
    sweep.links.new(tube.outputs[0], out.inputs[0])
    support.dash(bare, count=4)
    bare.modifiers.new("Sweep", "NODES").node_group = sweep
    update()
    assert support.shown(bare)[2] == 4 * 32 * 2, support.shown(bare)  # 4 dashes, 3 points each


def case_shown_wherever_blender_shows_it():
    scene = bpy.context.scene
    coll = bpy.data.collections.new("Dashed")
    scene.collection.children.link(coll)
    ob = wave()
    scene.collection.objects.unlink(ob)
    coll.objects.link(ob)
    support.dash(ob, count=6)
    faces = support.shown(ob)[2]
    empty = bpy.data.objects.new("instance", None)
    empty.instance_type, empty.instance_collection = "COLLECTION", coll
    empty.location = (0, 5, 0)
    scene.collection.objects.link(empty)
    later = scene.view_layers.new("Made after")
    layer = scene.view_layers[0]
    layer.layer_collection.children["Dashed"].exclude = True
    update()
    layer.layer_collection.children["Dashed"].exclude = False
    update()
    scene.frame_set(scene.frame_current)  # evaluates every view layer, as a frame change does
    for vl in (layer, later):
        seen = instances_of(ob, vl.depsgraph)
        assert seen == [faces, faces], (vl.name, seen, faces)
    # A linked collection, instanced in another file: its saved dashes, once per instance.
    lib = os.path.join(tempfile.mkdtemp(), "library.blend")
    bpy.data.objects.remove(empty)
    bpy.ops.wm.save_as_mainfile(filepath=lib)
    bpy.ops.wm.read_homefile(use_empty=True)
    with bpy.data.libraries.load(lib, link=True) as (src, dst):
        dst.collections = ["Dashed"]
    for k in range(2):
        inst = bpy.data.objects.new(f"instance {k}", None)
        inst.instance_type, inst.instance_collection = "COLLECTION", dst.collections[0]
        bpy.context.scene.collection.objects.link(inst)
    update()
    linked = bpy.data.objects["wave"]
    assert instances_of(linked, support.depsgraph()) == [faces, faces]


support.main(globals())
