"""The two Geometry Nodes groups through which the dashes become part of Blender's own
evaluation. Both are built from Blender's built-in nodes only, so a Blender without the add-on
evaluates them as they were saved: it shows the saved (or baked) dashes with their look.

"Korrand Dash" sits in the curve's modifier stack. It replaces what the curve shows with the
geometry of an object the add-on owns (in no scene, brought in by an Object Info node), and
keeps a 2D curve's fill: the faces of its input that face the curve's plane.

"Korrand Look" is the modifier of that object. Its mesh holds the dashes as chains of edges,
with per-point attributes the add-on computes from the curve (below); where the curve has a
profile (bevel, extrude, bevel object or a dash thickness) the group sweeps the profile along
each dash, so the look follows the curve along its whole length.

"Korrand Baked Frames" comes first on a baked object, which holds several frames' dashes at
once: it keeps the points of the frame being shown. (Only there: a group that reads the time
is evaluated again on every frame, with all that depends on it.)

Point attributes of the dashes' mesh:
    korrand_radius   the curve's profile scale there (point radius, taper), float
    korrand_normal   the curve's own normal there (its twist and tilt), vector
    korrand_material the material index of the spline the dash comes from, int
    korrand_smooth   its smooth shading, bool
    korrand_first, korrand_last  (baked only) the frames the point is shown in, int

The baked frames' group takes the scene's time stretch at the bake (Output > Time Stretching:
frame_map_old / frame_map_new), since the time it reads is the stretched one.
"""

import bpy

VERSION = 5  # raised whenever the groups' layout changes; older groups are rebuilt
DASH_GROUP = "Korrand Dash (saved dashes; live with the Korrand add-on)"
LOOK_GROUP = "Korrand Look (saved dashes; live with the Korrand add-on)"
FRAMES_GROUP = "Korrand Baked Frames"
ROLE = "korrand_group"  # custom property naming a group's role: "dash" or "look"

# Sockets of the groups, by name, as the modifiers' inputs are set.
DASHES, KEEP_FILL, AS_CURVES = "Dashes", "Keep Fill", "As Curves"
PROFILE, USE_PROFILE, FILL_CAPS = "Profile", "Use Profile", "Fill Caps"
TIME_STRETCH = "Time Stretch"


def _new_tree(role, name):
    tree = bpy.data.node_groups.new(name, "GeometryNodeTree")
    tree[ROLE] = role
    return tree


def _reset(tree):
    tree.nodes.clear()  # its sockets stay for _sockets


def _sockets(tree, inputs, outputs=(("NodeSocketGeometry", "Geometry"),)):
    """Gives the group these sockets ((type, name) each, in order) and returns its inputs by
    name. Those a group built by another version has already are kept: a modifier holds its
    values by the sockets' identifiers, and a socket made anew gets another (a bake's profile
    would be lost)."""
    for collection, wanted in ((tree.inputs, inputs), (tree.outputs, outputs)):
        for socket in list(collection):
            if (socket.bl_socket_idname, socket.name) not in wanted:
                collection.remove(socket)
        for i, (kind, name) in enumerate(wanted):
            at = next((k for k, socket in enumerate(collection)
                       if (socket.bl_socket_idname, socket.name) == (kind, name)), None)
            if at is None:
                collection.new(kind, name)
                at = len(collection) - 1
            if at != i:
                collection.move(at, i)
    return {socket.name: socket for socket in tree.inputs}


def _enabled(sockets):
    """The socket a node shows: nodes with a type setting keep one socket per type."""
    return next(s for s in sockets if s.enabled)


class _Builder:
    def __init__(self, tree):
        self.tree = tree
        self.x = 0

    def node(self, kind, **settings):
        n = self.tree.nodes.new(kind)
        for k, v in settings.items():
            setattr(n, k, v)
        n.location = (self.x, 0)
        self.x += 200
        return n

    def link(self, a, b):
        self.tree.links.new(a, b)

    def named(self, name, kind):
        n = self.node("GeometryNodeInputNamedAttribute", data_type=kind)
        n.inputs["Name"].default_value = name
        return _enabled(n.outputs)

    def math(self, operation, a, b=None, vector=False):
        n = self.node("ShaderNodeVectorMath" if vector else "ShaderNodeMath", operation=operation)
        for socket, value in zip(n.inputs, (a, b)):
            if value is None:
                continue
            if isinstance(value, (int, float)):
                socket.default_value = value
            else:
                self.link(value, socket)
        return _enabled(n.outputs)

    def switch(self, condition, no, yes):
        """A geometry switch: yes where condition is true."""
        n = self.node("GeometryNodeSwitch", input_type="GEOMETRY")
        self.link(condition, n.inputs[1])
        geometry = [s for s in n.inputs if s.type == "GEOMETRY"]
        if no is not None:
            self.link(no, geometry[0])
        self.link(yes, geometry[1])
        return _enabled(n.outputs)


def _build_dash(tree):
    b = _Builder(tree)
    _sockets(tree, (("NodeSocketGeometry", "Geometry"), ("NodeSocketObject", DASHES),
                    ("NodeSocketBool", KEEP_FILL), ("NodeSocketBool", AS_CURVES)))
    given = b.node("NodeGroupInput")
    info = b.node("GeometryNodeObjectInfo", transform_space="ORIGINAL")
    b.link(given.outputs[DASHES], info.inputs["Object"])
    # Bare dashes (no profile) as curves for a Geometry Nodes modifier after the dash, which
    # sweeps curves (Blender's other modifiers after it take meshes only).
    as_curves = b.node("GeometryNodeMeshToCurve")
    b.link(info.outputs["Geometry"], as_curves.inputs["Mesh"])
    dashes = b.switch(given.outputs[AS_CURVES], info.outputs["Geometry"], as_curves.outputs[0])
    # The fill of a 2D curve: the faces of its input that face its plane (caps, not the walls
    # of its bevel or extrusion, which the dashes replace).
    parts = b.node("GeometryNodeSeparateComponents")
    b.link(given.outputs["Geometry"], parts.inputs["Geometry"])
    normal = b.node("GeometryNodeInputNormal")
    z = b.node("ShaderNodeSeparateXYZ")
    b.link(normal.outputs[0], z.inputs[0])
    facing = b.math("GREATER_THAN", b.math("ABSOLUTE", z.outputs["Z"]), 0.9999)
    away = b.node("FunctionNodeBooleanMath", operation="NOT")
    b.link(facing, away.inputs[0])
    caps = b.node("GeometryNodeDeleteGeometry", domain="FACE", mode="ALL")
    b.link(parts.outputs["Mesh"], caps.inputs["Geometry"])
    b.link(away.outputs[0], caps.inputs["Selection"])
    # Joined meshes keep their faces' materials only through the material lists each carries,
    # and the dashes' mesh carries none (it takes the curve's): both parts name their faces'
    # materials in an attribute, which the joined mesh's faces take.
    named = b.node("GeometryNodeStoreNamedAttribute", data_type="INT", domain="FACE")
    named.inputs["Name"].default_value = "korrand_material"
    b.link(caps.outputs[0], named.inputs["Geometry"])
    b.link(b.node("GeometryNodeInputMaterialIndex").outputs[0],
           _enabled(s for s in named.inputs if s.name == "Value"))
    fill = b.switch(given.outputs[KEEP_FILL], None, named.outputs[0])
    join = b.node("GeometryNodeJoinGeometry")
    b.link(fill, join.inputs[0])
    b.link(dashes, join.inputs[0])
    material = b.node("GeometryNodeSetMaterialIndex")
    b.link(join.outputs[0], material.inputs["Geometry"])
    b.link(b.named("korrand_material", "INT"), material.inputs["Material Index"])
    out = b.node("NodeGroupOutput")
    b.link(material.outputs[0], out.inputs[0])


def _build_look(tree):
    b = _Builder(tree)
    _sockets(tree, (("NodeSocketGeometry", "Geometry"), ("NodeSocketObject", PROFILE),
                    ("NodeSocketBool", USE_PROFILE), ("NodeSocketBool", FILL_CAPS)))
    given = b.node("NodeGroupInput")
    dashes = given.outputs["Geometry"]
    # Each dash swept with the curve's profile: scaled by the curve's radius there, and turned
    # so that its normal is the curve's own (the tilt that takes this curve's normal to it).
    curves = b.node("GeometryNodeMeshToCurve")
    b.link(dashes, curves.inputs["Mesh"])
    normal = b.node("GeometryNodeInputNormal").outputs[0]
    tangent = b.node("GeometryNodeInputTangent").outputs[0]
    wanted = b.named("korrand_normal", "FLOAT_VECTOR")
    sin = b.math("DOT_PRODUCT", b.math("CROSS_PRODUCT", normal, wanted, vector=True), tangent,
                 vector=True)
    cos = b.math("DOT_PRODUCT", normal, wanted, vector=True)
    tilt = b.node("GeometryNodeSetCurveTilt")
    b.link(curves.outputs[0], tilt.inputs["Curve"])
    b.link(b.math("ARCTAN2", sin, cos), tilt.inputs["Tilt"])
    radius = b.node("GeometryNodeSetCurveRadius")
    b.link(tilt.outputs[0], radius.inputs["Curve"])
    b.link(b.named("korrand_radius", "FLOAT"), radius.inputs["Radius"])
    profile = b.node("GeometryNodeObjectInfo", transform_space="ORIGINAL")
    b.link(given.outputs[PROFILE], profile.inputs["Object"])
    swept = b.node("GeometryNodeCurveToMesh")
    b.link(radius.outputs[0], swept.inputs["Curve"])
    b.link(profile.outputs["Geometry"], swept.inputs["Profile Curve"])
    b.link(given.outputs[FILL_CAPS], swept.inputs["Fill Caps"])
    # A mesh the nodes make carries no materials: its faces would show none. The dashes' own
    # mesh carries the curve's; joined first, it lends them to the swept faces (its edges,
    # which no face uses, go again), and each face takes its spline's material by index.
    lend = b.node("GeometryNodeJoinGeometry")
    b.link(swept.outputs[0], lend.inputs[0])
    b.link(dashes, lend.inputs[0])
    faces = b.node("GeometryNodeInputMeshEdgeNeighbors")
    loose = b.math("LESS_THAN", faces.outputs["Face Count"], 0.5)
    lent = b.node("GeometryNodeDeleteGeometry", domain="EDGE", mode="ALL")
    b.link(lend.outputs[0], lent.inputs["Geometry"])
    b.link(loose, lent.inputs["Selection"])
    material = b.node("GeometryNodeSetMaterialIndex")
    b.link(lent.outputs[0], material.inputs["Geometry"])
    b.link(b.named("korrand_material", "INT"), material.inputs["Material Index"])
    smooth = b.node("GeometryNodeSetShadeSmooth")
    b.link(material.outputs[0], smooth.inputs["Geometry"])
    b.link(b.named("korrand_smooth", "BOOLEAN"), smooth.inputs["Shade Smooth"])
    look = b.switch(given.outputs[USE_PROFILE], dashes, smooth.outputs[0])
    out = b.node("NodeGroupOutput")
    b.link(look, out.inputs[0])


def _build_frames(tree):
    b = _Builder(tree)
    stretch = _sockets(tree, (("NodeSocketGeometry", "Geometry"),
                              ("NodeSocketFloat", TIME_STRETCH)))[TIME_STRETCH]
    stretch.default_value, stretch.min_value = 1.0, 1e-3
    given = b.node("NodeGroupInput")
    # Each point carries the first and the last frame it is shown in (the bake's first and last
    # runs reach out to any frame); the points of other frames go.
    time = b.node("GeometryNodeInputSceneTime")
    at = b.math("DIVIDE", time.outputs["Frame"], given.outputs[TIME_STRETCH])
    frame = b.math("FLOOR", b.math("ADD", at, 0.5))
    first, last = b.named("korrand_first", "INT"), b.named("korrand_last", "INT")
    shown = b.node("FunctionNodeBooleanMath", operation="AND")
    b.link(b.math("GREATER_THAN", frame, b.math("SUBTRACT", first, 0.5)), shown.inputs[0])
    b.link(b.math("LESS_THAN", frame, b.math("ADD", last, 0.5)), shown.inputs[1])
    hidden = b.node("FunctionNodeBooleanMath", operation="NOT")
    b.link(shown.outputs[0], hidden.inputs[0])
    keep = b.node("GeometryNodeDeleteGeometry", domain="POINT", mode="ALL")
    b.link(given.outputs["Geometry"], keep.inputs["Geometry"])
    b.link(hidden.outputs[0], keep.inputs["Selection"])
    out = b.node("NodeGroupOutput")
    b.link(keep.outputs[0], out.inputs[0])


_BUILDERS = {"dash": (DASH_GROUP, _build_dash), "look": (LOOK_GROUP, _build_look),
             "frames": (FRAMES_GROUP, _build_frames)}


def group(role):
    """The local group of this role, built (or rebuilt, when made by another version) on
    first use. Only called where data may be written."""
    name, build = _BUILDERS[role]
    for tree in bpy.data.node_groups:
        if tree.get(ROLE) == role and tree.library is None:
            if tree.get("korrand_version") == VERSION:
                return tree
            _reset(tree)
            break
    else:
        tree = _new_tree(role, name)
    build(tree)
    tree["korrand_version"] = VERSION
    return tree


def is_ours(tree, role):
    return tree is not None and tree.get(ROLE) == role


def identifier(tree, name):
    """The key under which a modifier stores the input socket called name."""
    for socket in tree.inputs:
        if socket.name == name:
            return socket.identifier
    raise KeyError(name)


def set_input(mod, name, value):
    """Sets a Geometry Nodes modifier's input, writing only when it differs (each write makes
    Blender evaluate the object again)."""
    key = identifier(mod.node_group, name)
    if mod.get(key) != value:
        mod[key] = value
        # A value set this way is not seen by Blender's dependency graph; setting the group again
        # makes Blender rebuild the modifier's relations (the object it now reads among them)
        # and evaluate it again.
        mod.node_group = mod.node_group
        return True
    return False


def get_input(mod, name):
    try:
        return mod.get(identifier(mod.node_group, name))
    except KeyError:
        return None
