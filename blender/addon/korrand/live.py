"""The dash as a step of the curve's own evaluation, as a host runs a modifier.

A dashed curve carries a Geometry Nodes modifier, Korrand Dash, in its own stack. It shows the
geometry of an object the add-on owns, in no scene: the curve's dashes, which the add-on
computes with the plug-in from the curve as its point modifiers (hooks, shape keys, anything
applied on the spline) shape it, and writes into that object's mesh; the object's own
modifier, Korrand Look, sweeps the curve's profile along them (see nodes.py). So the curve
shows its dashes wherever Blender shows, instances, links or renders it; modifiers after the
dash act on the dashes; the curve's data stays exactly as the artist made it.

Each dashed curve owns, by its uid:
    its dashes       a mesh object in no scene (role "dashes"), rewritten by each update
    its profile      a curve object in no scene (role "profile"), when it has a bevel
    its bake         a mesh object in no scene (role "bake"), the dashes of a frame range

Property updates only record what changed (registry.note); the depsgraph and frame handlers
and the operators make, write and remove objects. A frame change writes the dashes from the
frame handler, and Blender evaluates the frame again with them before it draws or renders it.
Nothing is written while a render job runs unless the render locks the interface.
"""

import array
import hashlib
import math
import sys
import time
import uuid

import bpy
from bpy.app.handlers import persistent
from mathutils import Vector

from . import bridge, line_form, nodes
from .registry import CHECK, DASH, EVERYTHING, LOOK, READ, Record, Registry
from .test_hook import hook


class _State:
    plugin = None
    instance = None
    parameters = []  # the plug-in's parameters a host shows and sets
    settings = None
    error = ""


state = _State()
registry = Registry()

ROLE, OWNER = "korrand_role", "korrand_of"  # on the add-on's objects: what, and whose
MODIFIER = "Korrand Dash"
# An update that would make more points than this waits until the artist agrees: Blender takes
# about a second per million points to evaluate the result.
POINT_LIMIT = 3_000_000
_busy = False


# ---- What is stored on the objects ------------------------------------------------------------

def _group(ob):
    return ob.get("korrand")


def _uid(ob):
    g = ob.get("korrand")
    return g.get("uid") if g is not None else None


def _editable(idb):
    return idb is not None and idb.library is None and idb.override_library is None


_by_name = None  # within a round of updates, the objects by name (see _object)


def _object(name):
    """The object named name, or None. Within a round of updates (_Round) through an index of
    the objects: Blender's look-up by name goes through every object, and a frame looked up
    each of hundreds of curves that way."""
    if _by_name is None:
        return bpy.data.objects.get(name)
    ob = _by_name.get(name)
    if ob is not None:
        try:
            if ob.name == name:
                return ob
        except ReferenceError:  # removed during the round
            pass
    ob = bpy.data.objects.get(name)
    if ob is not None:
        _by_name[name] = ob
    return ob


class _Round:
    """Indexes the objects for _object while a round runs; the index goes with the round (undo
    frees the objects it holds)."""

    def __enter__(self):
        global _by_name
        _by_name = {}
        for ob in bpy.data.objects:  # the first of a name, as Blender's look-up finds it (a
            _by_name.setdefault(ob.name, ob)  # linked object may have a local one's name)

    def __exit__(self, *_):
        global _by_name
        _by_name = None


def _is_dashed(ob):
    g = ob.get("korrand")
    return g is not None and bool(g.get("enabled")) and ob.get(ROLE) is None


def is_block(ob):
    """True for an object the add-on owns (dashes, profile, bake)."""
    return ob.get(ROLE) is not None


def _held(ob, key):
    """The add-on object ob's settings point at under key ("dashes", "bake"), or None."""
    g = ob.get("korrand")
    v = g.get(key) if g is not None else None
    return v if isinstance(v, bpy.types.Object) else None


def result_of(ob):
    """The object whose geometry ob's dashes show: its bake, else its live dashes (None while
    not dashed)."""
    if not _is_dashed(ob) or line_form.korrand_modifier(ob) is None:
        return None
    mod = line_form.korrand_modifier(ob)
    shown = nodes.get_input(mod, nodes.DASHES)
    return shown if isinstance(shown, bpy.types.Object) else None


def baked(ob):
    """ob's bake object, or None."""
    return _held(ob, "bake")


def record_of(ob):
    return registry.of(ob)


def _unloaded():
    """Why nothing can be dashed: the plug-in is not loaded (see the panel); "" when it is."""
    return "" if state.instance is not None else (state.error or "the plug-in is not loaded")


def status(ob):
    if _is_dashed(ob) and _unloaded():
        return _unloaded()
    r = registry.of(ob)
    return r.status if r is not None else registry.notices.get(ob.name, "")


def _stale(ob):
    """Marks ob's bake as made from an earlier curve or settings (shown by the panel)."""
    g = ob.get("korrand")
    info = g.get("bake_info") if g is not None else None
    if info is not None and _editable(ob) and not info.get("stale"):
        info["stale"] = 1


def is_own(ob):
    """True for the add-on's own objects (dashes, profile, bake, its scratch curve): a script
    that switches on every curve leaves them alone."""
    return is_block(ob) or line_form.is_scratch(ob)


def note_change(ob, *todo):
    """A setting of ob changed (property update): the next update redoes todo (DASH by
    default). Nothing is written here."""
    registry.note(ob, *(todo or (DASH,)))
    _stale(ob)
    if is_own(ob):
        _notice(ob, "this object is the Korrand add-on's own, which is not dashed")


def _fail(name, message):
    print(f"Korrand: {name}: {message}", file=sys.stderr)
    if bpy.app.background:
        return
    # Reported from the main loop: an operator run from a handler would evaluate the scene
    # again inside the evaluation that called the handler.
    def report():
        try:
            bpy.ops.korrand.report(message=f"Korrand: {name}: {message}")
        except RuntimeError:
            pass  # no window to report in; the panel still shows it

    bpy.app.timers.register(report, first_interval=0.0)


def _notice(ob, message):
    registry.notices[ob.name] = message
    _fail(ob.name, message)


# ---- The add-on's objects -----------------------------------------------------------------------

def _new_block(role, owner, name, data):
    ob = bpy.data.objects.new(name, data)
    ob[ROLE], ob[OWNER] = role, owner
    # In no scene, it is drawn only through the curve's modifier; a Blender without the add-on
    # that appends the curve links it into the scene too: hidden from renders, it is not
    # rendered twice there (Append shows it in the viewport again).
    ob.hide_viewport = ob.hide_render = True
    return ob


def _remove_block(ob):
    data = ob.data
    bpy.data.objects.remove(ob)
    if data is not None and data.users == 0:
        if isinstance(data, bpy.types.Mesh):
            bpy.data.meshes.remove(data)
        elif isinstance(data, bpy.types.Curve):
            bpy.data.curves.remove(data)


def _look_modifier(ob):
    for m in ob.modifiers:
        if m.type == "NODES" and nodes.is_ours(m.node_group, "look"):
            return m
    m = ob.modifiers.new("Korrand Look", "NODES")
    m.node_group = nodes.group("look")
    return m


def _named(base, suffix):
    """base + suffix within Blender's 63 bytes of a name, with room for the ".001" Blender adds
    to a name taken: base is cut (at whole characters), the suffix kept."""
    room = max(0, 63 - 4 - len(suffix.encode()))
    return base.encode()[:room].decode(errors="ignore") + suffix


def _names(src):
    # The names say what is missing where the add-on is not installed.
    return (_named(src.name, " dashes (live with the Korrand add-on)"),
            _named(src.name, " dash profile (Korrand)"))


def _new_dashes(src, uid, like=None):
    """A dashes object for src: a copy of like's mesh (so a copy of a dashed curve shows its
    dashes at once), or empty."""
    name = _names(src)[0]
    mesh = like.data.copy() if like is not None and like.type == "MESH" else \
        bpy.data.meshes.new(name)
    mesh.name = name
    ob = _new_block("dashes", uid, name, mesh)
    _look_modifier(ob)
    if like is not None:
        _copy_look_inputs(like, ob)
    return ob


def _copy_look_inputs(a, b):
    ma, mb = _look_modifier(a), _look_modifier(b)
    for name in (nodes.PROFILE, nodes.USE_PROFILE, nodes.FILL_CAPS):
        nodes.set_input(mb, name, nodes.get_input(ma, name))


# ---- Looking through the objects (the reconcile step) --------------------------------------------

def _survey():
    """Looks through the objects: the curves switched on (files of earlier versions brought
    up to date on the way), and the add-on's objects by their owner's uid."""
    curves, blocks = [], {}
    for name in [ob.name for ob in bpy.data.objects]:
        ob = bpy.data.objects.get(name)  # by name: bringing old files up to date removes some
        if ob is None:
            continue
        if ob.get(ROLE) is not None:
            blocks.setdefault(ob.get(OWNER), []).append(ob)
            if not ob.hide_render and _editable(ob):
                ob.hide_render = True  # made by an earlier version (see _new_block)
            continue
        g = ob.get("korrand")
        if g is None or not g.get("enabled"):
            # Never switched on (its panel drawn makes the settings without a value), or off.
            copied = _copied_dash(ob)
            if copied is not None:
                g = copied
            elif g is None:
                if ob.type != "CURVE" and _editable(ob) and \
                        line_form.korrand_modifier(ob) is not None:
                    # Copied onto a mesh, it would show a curve's dashes in its place: only
                    # curves take it, as Blender copies no modifier a type cannot have.
                    _detach(ob)
                    _notice(ob, _not_a_curve(ob))
                continue
        if _old_version(ob, g):
            continue
        if not g.get("enabled"):
            if line_form.korrand_modifier(ob) is not None and _editable(ob):
                _detach(ob)  # switched off
                if ob.type != "CURVE":
                    _notice(ob, _not_a_curve(ob))
            continue
        if ob.type == "CURVE":
            curves.append(ob)
        elif _editable(ob):
            if g.get("attached"):
                g["enabled"] = g["attached"] = 0  # converted (Object > Convert): its own now
                continue
            if line_form.korrand_modifier(ob) is not None:
                _detach(ob)  # copied onto it: it would show another curve's dashes
            # A text stays switched on, dashed once it is converted to a curve, as it is told;
            # converted to anything else, it is switched off without a word.
            if ob.type != "FONT":
                g["enabled"] = 0
                if registry.notices.get(ob.name) == _TEXT_NOTICE:
                    del registry.notices[ob.name]
                    continue
            if registry.notices.get(ob.name) != _not_a_curve(ob):
                _notice(ob, _not_a_curve(ob))
    return curves, blocks


_TEXT_NOTICE = "a text is dashed once it is a curve: Object > Convert > Curve"


def _not_a_curve(ob):
    """Why ob, switched on, is not dashed: it is no curve object."""
    if ob.type == "FONT":
        return _TEXT_NOTICE
    if ob.type == "CURVES":
        return ("hair curves cannot be dashed, only curve objects (Bezier, NURBS and poly "
                "splines)")
    return f"only curve objects can be dashed, not {ob.type.lower()} objects"


def _copied_dash(ob):
    """A curve given a dashed curve's Korrand Dash modifier without its settings (Copy
    Modifiers, Copy to Selected) would show that curve's dashes: it takes the settings too, as
    a copy of that curve, and is then dashed by them (a text once it is a curve). Its settings,
    or None."""
    if ob.type not in ("CURVE", "FONT") or not _editable(ob):
        return None
    mod = line_form.korrand_modifier(ob)
    shown = nodes.get_input(mod, nodes.DASHES) if mod is not None else None
    if not isinstance(shown, bpy.types.Object) or shown.get(OWNER) in (None, _uid(ob)):
        return None
    source = next((o for o in bpy.data.objects if _is_dashed(o) and o.type == "CURVE"
                   and _uid(o) == shown.get(OWNER)), None)
    if source is None:
        return None
    settings = source["korrand"].to_dict()
    if ob.type == "FONT":  # not dashed yet: the source's dashes and bake are none of its own
        for key in ("uid", "dashes", "bake", "bake_info", "attached"):
            settings.pop(key, None)
    ob["korrand"] = settings
    ob.update_tag()  # its evaluated copy takes them
    return ob["korrand"]


def _pair(curves):
    """Gives each dashed curve a uid of its own and a record. A copy (Shift+D, Alt+D,
    Separate) carries its original's uid: the curve the record knows, or whose dashes carry
    the uid, keeps it; each other one gets a new uid."""
    by_uid = {}
    for ob in curves:
        by_uid.setdefault(_uid(ob), []).append(ob)
    for uid, holders in by_uid.items():
        if uid is not None and len(holders) == 1:
            continue
        keeper = None
        if uid is not None:
            r = registry.records.get(uid)
            keeper = next((ob for ob in holders if r is not None and ob.name == r.curve), None)
            if keeper is None:
                keeper = next((ob for ob in holders
                               if getattr(_held(ob, "dashes"), "name", None) is not None
                               and _held(ob, "dashes").get(OWNER) == uid), holders[0])
        for ob in holders:
            if ob is not keeper and _editable(ob):
                ob.korrand["uid"] = uuid.uuid4().hex
    kept = {}
    for ob in curves:
        uid = _uid(ob)
        if uid is None:
            continue  # linked without a uid: nothing of it can be recorded
        r = registry.records.get(uid)
        if r is None:
            r = Record(uid, ob.name)
        r.curve = ob.name  # renamed, or a record another curve of its uid had before
        kept[uid] = r
    registry.records = kept


def _attach(ob, r):
    """Puts the Korrand Dash modifier into ob's stack, wired to ob's own dashes (and bake).
    False when the curve is not dashed after all: its modifier was removed by the artist."""
    if not _editable(ob):
        return True
    g = ob.korrand
    mod = line_form.korrand_modifier(ob)
    if mod is None:
        # Its node group deleted by hand leaves the modifier empty in the stack: it is still
        # the dash's, and is given its group again.
        mod = next((m for m in ob.modifiers if m.type == "NODES" and m.node_group is None
                    and m.name.startswith(MODIFIER)), None)
        if mod is not None:
            mod.node_group = nodes.group("dash")
            g["attached"] = 1
            r.todo.update(EVERYTHING)
    if mod is None and g.get("attached"):
        # Removed from the stack: that is switching the dash off.
        g["enabled"], g["attached"] = 0, 0
        _notice(ob, "its Korrand Dash modifier was removed, so the dash was switched off")
        return False
    dashes = _held(ob, "dashes")
    if dashes is None or dashes.get(OWNER) != r.uid or not _editable(dashes):
        dashes = _new_dashes(ob, r.uid, like=dashes)
        g["dashes"] = dashes
        r.todo.update(EVERYTHING)
        r.look = None  # given to the new object at the update
    elif r.look is not None and not _look_intact(dashes, r.look):
        r.todo.add(LOOK)
    bake = _held(ob, "bake")
    if bake is not None and bake.get(OWNER) != r.uid and _editable(bake):
        copy = bake.copy()
        copy.data = bake.data.copy()
        copy[OWNER] = r.uid
        g["bake"] = bake = copy  # a copy of a baked curve is baked alike
    if mod is None:
        mod = ob.modifiers.new(MODIFIER, "NODES")
        mod.node_group = nodes.group("dash")
        _place(ob, mod)
        g["attached"] = 1
        r.todo.update(EVERYTHING)
        _first_thickness(ob)
    elif mod.node_group.get("korrand_version") != nodes.VERSION and _editable(mod.node_group):
        mod.node_group = nodes.group("dash")
    nodes.set_input(mod, nodes.DASHES, bake if bake is not None else dashes)
    _arrange_render(ob)
    return True


def _first_thickness(ob):
    """A filled shape without bevel or extrusion (text, an imported drawing) shows its outline
    as lines, which render nothing: its dashes get a thickness of their own when first switched
    on, a two-hundredth of the shape's size, which the panel shows and the artist changes."""
    cu = ob.data
    if cu.dimensions != "2D" or cu.fill_mode == "NONE" or ob.korrand.thickness > 0:
        return
    if cu.bevel_depth > 0 or cu.extrude > 0 or (cu.bevel_mode == "OBJECT" and
                                                 cu.bevel_object is not None):
        return
    size = max(ob.dimensions) / max(max(abs(v) for v in ob.scale), 1e-9)
    if size > 0:
        ob.korrand["thickness"] = size / 200


def _place(ob, mod):
    """Puts a new dash right after the modifiers that act on the curve's points (hooks, and
    deforms applied on the spline), so they shape what is dashed and the others act on the
    dashes."""
    mods = list(ob.modifiers)
    index = 0
    while index < len(mods) - 1 and line_form.acts_on_points(mods[index]):
        index += 1
    if index < len(mods) - 1:
        with bpy.context.temp_override(object=ob):
            bpy.ops.object.modifier_move_to_index(modifier=mod.name, index=index)


def _keep_point_modifiers_above(ob):
    """Blender applies hooks and soft body to a curve's points, before whatever else its stack
    does, as its hook operator places them: one added below the dash (as Python's
    modifiers.new does) is moved up to just above it, so it shapes the curve that is dashed."""
    mods = list(ob.modifiers)
    mod = line_form.korrand_modifier(ob)
    at = mods.index(mod)
    for m in mods[at + 1:]:
        if m.type in ("HOOK", "SOFT_BODY"):
            with bpy.context.temp_override(object=ob):
                bpy.ops.object.modifier_move_to_index(modifier=m.name, index=at)
            at += 1


def _detach(ob):
    """Takes ob's dash out of its stack (switched off, or the add-on disabled): the curve
    shows as it was. Its dashes and bake go at the next sweep."""
    for mod in line_form.korrand_modifiers(ob):  # a copied one too: it would show nothing
        ob.modifiers.remove(mod)
    g = ob.korrand
    for key in ("dashes", "bake", "bake_info", "attached"):
        if key in g:
            del g[key]


def _held_names(curves):
    """The names of the add-on's objects these curves hold: their dashes and bakes, and the
    profiles those sweep."""
    held = set()
    for ob in curves:
        for key in ("dashes", "bake"):
            block = _held(ob, key)
            if block is not None:
                held.add(block.name)
                look = next((m for m in block.modifiers if m.type == "NODES" and
                             nodes.is_ours(m.node_group, "look")), None)
                profile = nodes.get_input(look, nodes.PROFILE) if look is not None else None
                if isinstance(profile, bpy.types.Object):
                    held.add(profile.name)
    return held


def is_held(block):
    """True when a dashed curve holds the add-on's object block."""
    return block.name in _held_names(o for o in bpy.data.objects if _is_dashed(o))


def _sweep(blocks):
    """Removes the add-on's objects no dashed curve holds: their curve was deleted, joined
    into another, converted or switched off, or they were its earlier ones."""
    held = _held_names(o for o in (_object(r.curve)
                                   for r in registry.records.values()) if o is not None)
    for owner, obs in blocks.items():
        for ob in obs:
            if not _editable(ob):
                continue
            if ob.name not in held:
                _remove_block(ob)
            else:
                # File > Append links the objects an appended curve reads into the scene too:
                # they are shown through their curve only.
                for c in list(ob.users_collection):
                    c.objects.unlink(ob)


def _old_version(ob, g):
    """Files of earlier versions. The first kept the dashes in a child holding the curve's
    look, found through pointer properties; the second in an object of their own, the curve
    hidden view layer by view layer. The look goes back to the curve, the curve is shown again
    as it was, the old dashes go (or, converted to a mesh, stay the artist's own). True when ob
    itself was such a dashes object."""
    if g.get("dashes_of") is not None or "source" in g:
        if _editable(ob):
            if ob.type == "CURVE":
                _remove_block(ob)
            else:
                del g["dashes_of" if "dashes_of" in g else "source"]
                con = ob.constraints.get("Korrand: follow the curve")
                if con is not None:
                    world = ob.matrix_world.copy()
                    ob.constraints.remove(con)
                    ob.matrix_world = world
        return True
    old = g.get("result")
    if old is not None and _editable(ob):
        if (isinstance(old, bpy.types.Object) and old.type == "CURVE" and _editable(old)
                and ob.type == "CURVE" and _editable(ob.data) and old.data is not None):
            names = ["bevel_depth", "extrude", "bevel_object"]
            if ob.data.dimensions == "2D" and old.data.dimensions == "2D":
                names.append("fill_mode")
            for name in names:
                setattr(ob.data, name, getattr(old.data, name))
            _remove_block(old)
        del g["result"]
        ob.hide_render = False
        for scene in bpy.data.scenes:
            for vl in scene.view_layers:
                if vl.objects.get(ob.name) == ob:
                    ob.hide_set(False, view_layer=vl)
    if ("hidden_in" in g or "hid_render" in g) and _editable(ob):
        for entry in g.get("hidden_in", "").split("\n"):
            scene_name, _, layer_name = entry.partition("\t")
            scene = bpy.data.scenes.get(scene_name)
            vl = scene.view_layers.get(layer_name) if scene is not None else None
            if vl is not None and vl.objects.get(ob.name) == ob:
                ob.hide_set(False, view_layer=vl)
        if g.get("hid_render"):
            ob.hide_render = False
        for k in ("hidden_in", "hid_render"):
            if k in g:
                del g[k]
    return False


def _reconcile():
    """The reconcile step: survey, pair, attach, sweep."""
    registry.survey = False
    curves, blocks = _survey()
    _pair(curves)
    for r in list(registry.records.values()):
        ob = _object(r.curve)
        if ob is None or not _attach(ob, r):
            del registry.records[r.uid]
    _sweep(blocks)
    registry.object_count = len(bpy.data.objects)


def _consistent():
    """False when objects were added, removed or renamed since the last survey, or a curve's
    wiring changed (a modifier removed, a copy made), so the objects must be looked through."""
    if len(bpy.data.objects) != registry.object_count:
        return False
    for r in registry.records.values():
        ob = _object(r.curve)
        if ob is None or _uid(ob) != r.uid or not _is_dashed(ob) or ob.type != "CURVE":
            return False
        # A curve made local without its dashes (Make Local of the object or of its data alone)
        # gets dashes of its own.
        if _editable(ob) and (line_form.korrand_modifier(ob) is None or
                              not _editable(_held(ob, "dashes"))):
            return False
    return True


def _arrange_render(ob):
    """Rendering an animation with the interface unlocked, Blender forbids writing scene data
    from a handler, so a frame could not get its dashes. Lock Interface is switched on, once,
    for the scenes a live dashed curve is in; the panel says so (and, if the artist switches
    it off again, what that means)."""
    for scene in ob.users_scene:
        if not scene.render.use_lock_interface and _editable(scene) and \
                not scene.get("korrand_locked"):
            scene.render.use_lock_interface = True
            scene["korrand_locked"] = 1


# ---- One update -------------------------------------------------------------------------------

def _parameter(key):
    return next((p for p in state.parameters if p.key == key), None)


def _keys():
    return [p.key for p in state.parameters if p.type != bridge.TYPE_BUTTON] + [
        "follow_cyclic", "period"]


def settings_of(ob, depsgraph=None):
    """The plug-in's settings of ob as (id, value) pairs, then follow_cyclic, period and
    thickness: as the depsgraph evaluated them (animated, driven) when one is given."""
    source = ob.evaluated_get(depsgraph) if depsgraph is not None else ob
    evaluated = source.get("korrand")
    if evaluated is None or not evaluated.get("enabled"):
        source = ob  # evaluated before its settings were written (_copied_dash)
    k = source.korrand
    values = {key: getattr(k, key) for key in _keys()}
    plugin = tuple((p.id, values[p.key]) for p in state.parameters
                   if p.type != bridge.TYPE_BUTTON)
    # The original holds the thickness also when the add-on has just set it, before the
    # evaluated copy takes it; keyed or driven, the evaluated copy (a render animates only that).
    thickness = k.thickness if source is not ob and _animated_setting(ob, "thickness") \
        else ob.korrand.thickness
    return plugin, bool(values["follow_cyclic"]), float(values["period"]), float(thickness)


def _plan(form, settings, src, depsgraph):
    """The line objects to hand the plug-in, by the rule every host follows (the instance holds
    the settings): a list of (spline indices, settings of its own)."""
    values, follow, period = settings[:3]
    count_p = _parameter("count")
    n = len(form.counts)
    by_period = period > 0 and count_p is not None
    objects = state.instance.group_segments(form.cyclic if follow else n, own_counts=by_period)
    if by_period:
        # Each spline its own object, with its own count from its length in world space.
        measured = _measured_closed(form, settings)
        matrix = [v for row in src.evaluated_get(depsgraph).matrix_world for v in row]
        lengths = state.plugin.segment_lengths(form.points, form.counts, form.stride,
                                               measured, matrix)
        for segments, own in objects:
            # A derived count, as the SVG host's: not held to the count option's limit.
            own[count_p.id] = state.plugin.period_count(lengths[segments[0]], period)
    return objects


def _measured_closed(form, settings):
    """Which splines the plug-in measures as closed loops: as Blender draws them (cyclic) when
    the dash follows that, else all or none by its Closed setting."""
    values, follow = settings[:2]
    if follow:
        return form.cyclic
    closed_p = _parameter("closed")
    closed = dict(values).get(closed_p.id, True) if closed_p is not None else True
    return array.array("i", [1 if closed else 0]) * len(form.counts)


def _seams(form, closed):
    """x, y, z of the first point of each spline measured closed (NaN for the others)."""
    out = array.array("f", [math.nan]) * (3 * len(form.counts))
    at = 0
    for i, (count, loop) in enumerate(zip(form.counts, closed)):
        if loop and count > 0:
            out[3 * i:3 * i + 3] = form.points[at * form.stride:at * form.stride + 3]
        at += count
    return out


def _estimate(objects, settings):
    values = dict(settings[0])
    count_p, sub_p = _parameter("count"), _parameter("subdivision")
    if count_p is None or sub_p is None:
        return 0
    per_dash = max(2, int(values[sub_p.id]) + 2)
    base = int(values[count_p.id])
    return sum(len(segs) * int(own.get(count_p.id, base)) * per_dash for segs, own in objects)


def _writes_forbidden():
    """True while a render job runs whose interface is not locked: Blender's viewport may be
    reading the data from another thread then."""
    if hook.render_job is not None:
        return hook.render_job
    return (bpy.app.is_job_running("RENDER")
            and not any(s.render.use_lock_interface for s in bpy.data.scenes))


def _not_ours(idb):
    how = "a library override" if idb.override_library is not None else "linked from a library"
    if idb.type == "CURVE" and baked(idb) is not None:
        return f"the curve is {how}: it shows the dashes its library baked"
    return (f"the curve is {how}: its dashes stay as the library saved them until it is made "
            "local")


def _look_of(ob, settings, depsgraph=None):
    """What the dashes take from the curve's look: its profile (see line_form.profile), its
    fill caps, whether its fill is kept, and its materials."""
    cu = ob.data
    prof = line_form.profile(ob, settings[3], depsgraph)
    caps = bool(cu.use_fill_caps) and prof is not None and prof[1]
    fill = cu.dimensions == "2D" and cu.fill_mode != "NONE"
    return prof, caps, fill, tuple(m.name if m is not None else "" for m in cu.materials)


def _profile_object(r, ob, dashes, prof):
    """The curve's profile object, holding prof, made when first needed (its dashes and its
    bake sweep the same one)."""
    pob = None
    for block in (dashes, _held(ob, "bake")):
        if block is not None and pob is None and not block.get(_OWN_LOOK):
            pob = nodes.get_input(_look_modifier(block), nodes.PROFILE)
            if not isinstance(pob, bpy.types.Object) or pob.get(OWNER) != r.uid or \
                    not _editable(pob):
                pob = None
    if pob is None:
        pob = _new_profile(r, ob)
    _write_profile(pob, prof)
    return pob


def _new_profile(r, ob):
    name = _names(ob)[1]
    pob = _new_block("profile", r.uid, name, bpy.data.curves.new(name, "CURVE"))
    pob.data.dimensions = "3D"
    return pob


def _write_profile(pob, prof):
    """Gives profile object pob the profile prof; writes only what differs."""
    points, closed = prof
    cu = pob.data
    spline = cu.splines[0] if len(cu.splines) == 1 and cu.splines[0].type == "POLY" else None
    if spline is None or len(spline.points) != len(points):
        cu.splines.clear()
        spline = cu.splines.new("POLY")
        spline.points.add(len(points) - 1)
    co = array.array("f", [v for x, y in points for v in (x, y, 0.0, 1.0)])
    have = array.array("f", bytes(len(co) * 4))
    spline.points.foreach_get("co", have)
    if have != co:
        spline.points.foreach_set("co", co)
    if spline.use_cyclic_u != closed:
        spline.use_cyclic_u = closed
    cu.update_tag()


def _look_intact(dashes, look):
    """False when what gives the dashes their look was deleted by hand (the profile object,
    the look's node group): it is given to them again."""
    m = next((m for m in dashes.modifiers if m.type == "NODES" and
              nodes.is_ours(m.node_group, "look")), None)
    return m is not None and (look[0] is None or
                              isinstance(nodes.get_input(m, nodes.PROFILE), bpy.types.Object))


def _sync_look(r, ob, dashes, look):
    """Gives the dashes (and the bake) the curve's look; writes only what differs."""
    prof, caps, fill, _ = look
    targets = [dashes] + [b for b in (_held(ob, "bake"),) if b is not None and _editable(b)]
    was = nodes.get_input(_look_modifier(dashes), nodes.PROFILE)
    pob = _profile_object(r, ob, dashes, prof) if prof is not None else None
    # Another curve's profile, pasted or appended with these dashes, is let go; the curve's own
    # stays while it has none (a bevel keyed to grow brings it back).
    foreign = isinstance(was, bpy.types.Object) and was.get(OWNER) != r.uid
    for t in targets:
        # The curve's materials, in its order: joined with the curve's own fill, a mesh's faces
        # are matched to materials through the list each mesh carries.
        if list(t.data.materials) != list(ob.data.materials):
            t.data.materials.clear()
            for material in ob.data.materials:
                t.data.materials.append(material)
        if t.get(_OWN_LOOK):
            continue  # a bake of a profile that changes over its frames keeps its own
        m = _look_modifier(t)
        if pob is not None or foreign:
            nodes.set_input(m, nodes.PROFILE, pob)
        nodes.set_input(m, nodes.USE_PROFILE, pob is not None)
        nodes.set_input(m, nodes.FILL_CAPS, caps)
    if foreign and was != pob and was.get(ROLE) is not None and _editable(was) and \
            not is_held(was):
        _remove_block(was)
    mod = line_form.korrand_modifier(ob)
    if mod is not None and _editable(ob):
        nodes.set_input(mod, nodes.KEEP_FILL, fill)
    _sync_output(ob, look)


def _sync_output(ob, look):
    """Bare dashes (no profile) come out as curves where a Geometry Nodes modifier follows the
    dash (an artist's own sweep), else as a mesh of edges (which Array and Mirror take)."""
    mod = line_form.korrand_modifier(ob)
    if mod is None or not _editable(ob):
        return
    after = list(ob.modifiers)[list(ob.modifiers).index(mod) + 1:]
    following = next((m for m in after if m.show_viewport or m.show_render), None)
    try:
        nodes.set_input(mod, nodes.AS_CURVES, look[0] is None and following is not None and
                        following.type == "NODES")
    except KeyError:  # a linked group of an earlier version, which has no such input
        pass


def _update(r, depsgraph, force=False):
    """Brings r's dashes in step with its curve."""
    ob = _object(r.curve)
    if ob is None:
        return
    if not _editable(ob):
        r.status = _not_ours(ob)
        r.todo.clear()  # looked at again when made local (a survey)
        return
    dashes = _held(ob, "dashes")
    if dashes is None or line_form.korrand_modifier(ob) is None:
        registry.survey = True
        return
    if not _editable(dashes) or not _editable(dashes.data):
        registry.survey = True  # made its own at the next update (_attach)
        return
    if READ in r.todo:
        _keep_point_modifiers_above(ob)
    if baked(ob) is not None:
        r.status = ""
        r.todo.discard(DASH)  # the bake is shown; the live dashes wait until it is freed
        if LOOK in r.todo:
            settings = settings_of(ob, depsgraph)
            r.look = _look_of(ob, settings, depsgraph)
            _sync_look(r, ob, dashes, r.look)
        r.todo.clear()
        return
    todo = r.todo
    t0 = time.perf_counter()
    read = READ in todo or r.form is None or LOOK in todo
    if READ in todo or r.form is None:
        hook.reads.append(ob.name)
        try:
            form = line_form.read(state.plugin, ob, depsgraph, r.form)
        except line_form.HeldInEditMode:
            r.status = "the dashes follow the curve when its edit mode ends"
            return  # todo kept: read again when edit mode ends
        except ValueError as e:
            r.status = str(e)
            _fail(ob.name, str(e))
            r.todo.clear()
            return
        if not form.same_as(r.form):
            todo.add(DASH)
            r.channels = r.trim = None
        r.form = form
        r.stored, r.reading = r.reading, None  # its digest, when a frame took it
        todo.discard(READ)
        hook.timings["read"] = time.perf_counter() - t0
    t1 = time.perf_counter()
    settings = settings_of(ob, depsgraph)
    if LOOK in todo or r.look is None or settings[3] != (r.key[0][3] if r.key else None):
        look = _look_of(ob, settings, depsgraph)
        if look != r.look or not _look_intact(dashes, look):
            if (look[0] is None) != (r.look is None or r.look[0] is None):
                r.channels = None
            todo.add(DASH)
            _sync_look(r, ob, dashes, look)
            r.look = look
        todo.discard(LOOK)
    _sync_output(ob, r.look)  # the stack may have changed
    trim = None
    if r.look[0] is not None:
        # Worked out again only when the form or the factors change (not at every frame).
        cut = line_form.trim_settings(ob, depsgraph)
        if r.trim is None or r.trim[0] != cut:
            r.trim = (cut, line_form.trim_ranges(ob, r.form, cut))
        trim = r.trim[1]
    # A taper mapped between the start and end factors is fitted here, to each trim; Blender
    # sweeps the radius without it then.
    mapped = trim is not None and line_form.maps_taper(ob, depsgraph)
    if r.look[0] is not None and (read or r.swept is None):
        swept = line_form.sweep_key(ob, depsgraph, r.form)  # read again with the points
        if swept != r.swept:
            r.channels, r.swept = None, swept
    if r.look[0] is not None and (r.channels is None or r.tapered == mapped):
        got = line_form.channels(state.plugin, ob, depsgraph, r.form, taper=not mapped) \
            if len(r.form.counts) else None
        r.tapered = not mapped
        # Unmatched: the profile is swept at radius 1, each dash the way it runs.
        r.channels, r.reversed = got if got is not None else (False, None)
        todo.add(DASH)
    trimmed = None if trim is None else (trim[0].tobytes(), trim[1].tobytes(), mapped)
    if not force and DASH not in todo and not read and r.key is not None and \
            settings[2] == 0 and r.key[0] == settings and r.key[2] == trimmed:
        # The same settings on the same form (a frame of a curve nothing animates): the plan
        # would be the same. With a dash length it follows the transform, and is made again.
        todo.discard(CHECK)
        r.status = ""
        return
    inst = state.instance
    try:
        for pid, value in settings[0]:
            inst.set(pid, value)
    except bridge.BridgeError as e:
        _failed(r, ob, dashes, e)  # this curve's settings only: the others are still dashed
        return
    objects = _plan(r.form, settings, ob, depsgraph)
    key = (settings, [(tuple(s), tuple(sorted(o.items()))) for s, o in objects]
           if settings[2] > 0 else None, trimmed)
    tc = time.perf_counter()
    todo.discard(CHECK)
    if not force and DASH not in todo and key == r.key:
        r.status = ""
        return
    hook.timings["compare"] = tc - t1
    todo.discard(DASH)
    # A profile is swept at every dash point: what Blender makes and evaluates is that many
    # times more (a bevelled curve of 3 million dash points was 36 million vertices, GBs).
    swept = len(r.look[0][0]) if r.look[0] is not None else 1
    r.estimate = _estimate(objects, settings) * swept
    if r.estimate > POINT_LIMIT and r.estimate > r.allowed:
        r.status = (f"these settings make about {r.estimate / 1e6:.1f} million points, which "
                    "takes Blender seconds to draw: not dashed until you agree")
        return
    hook.dashed.append(ob.name)
    try:
        tp = time.perf_counter()
        together = any(len(segments) > 1 for segments, _ in objects)
        # Where each point lies is read back only to sort splines dashed together, to carry
        # the curve's radius and normal onto a profile's sweep and to find the pieces of a dash
        # cut at a loop's start; recording it costs every sample.
        closed = _measured_closed(r.form, settings)
        traced = together or r.look[0] is not None or any(closed)
        result, per_object = inst.dash_objects(r.form.points, r.form.counts, r.form.stride,
                                               objects, traced)
        if together:
            # Splines dashed together come out object by object: back in the curve's order.
            result = inst.in_segment_order() or result
            per_object = None
        if trim is not None:
            # Only the part of the curve it draws (its start and end factors) is dashed.
            result = inst.trim(*trim)
            per_object = None
        if len(result.counts) > 1 and any(closed):
            # The dash the plug-in cuts at a closed spline's start is one dash on the curve
            # (where a trim leaves both its pieces).
            result = inst.join_seams(_seams(r.form, closed))
            per_object = None
        if r.channels and any(r.reversed):
            # Swept the way Blender sweeps their spline, so that the profile's sides (an
            # offset, a half profile) fall where they fall on the curve.
            result = inst.reverse(r.reversed)
    except bridge.BridgeError as e:
        _failed(r, ob, dashes, e)
        return
    t2 = time.perf_counter()
    try:
        channels = r.channels
        if mapped and channels:
            channels = line_form.map_taper(ob, depsgraph, r.form, channels, trim)
        _write_dashes(r, dashes, result, objects, per_object, channels)
    except Exception:
        _write_dashes(r, dashes, None, None, None)  # never half a result
        r.key = None
        raise
    t3 = time.perf_counter()
    hook.timings.update(settings=tp - tc, plugin=t2 - tp, build=t3 - t2)
    r.key, r.status = key, ""


def _failed(r, ob, dashes, e):
    r.status = str(e)
    _fail(ob.name, str(e))
    _write_dashes(r, dashes, None, None, None)
    r.key = None


def _material_places(names):
    """Where each of a curve's material slots (names, "" for an empty slot) lands in the list
    of the dashes' faces: joining meshes keeps one slot per material (an empty one too), so a
    material in two slots is found at its first."""
    out, seen = [], {}
    for name in names:
        out.append(seen.setdefault(name, len(seen)))
    return out


def _per_point(counts, per_dash, typecode):
    """One value per point from one per dash."""
    out = array.array(typecode)
    for v, c in zip(per_dash, counts):
        out.extend(array.array(typecode, [v]) * c)
    return out


def _write_dashes(r, dashes, result, objects, per_object, channels=None):
    """Writes the dashes of the last plug-in call (or none) into the dashes' mesh: chains of
    edges, with the point attributes the look follows (channels: the radius and normal at the
    curve's points). The structure is rebuilt only when the dashes' point counts changed."""
    mesh = dashes.data
    if result is None:
        if len(mesh.vertices):
            mesh.clear_geometry()
            mesh.update()
        r.echo = True
        return
    inst = state.instance
    counts = result.counts
    n = result.point_count
    # What the mesh holds is unknown after undo, a load or a new record: it is compared first,
    # and only what differs is written (undo gives back dashes that match the curve it gives
    # back, and Blender evaluates again only what was written).
    unknown = r.written is None
    hook.timings["rebuilt"] = False
    changed = False
    if len(mesh.vertices) != n or len(mesh.edges) != n - len(counts) or (
            not unknown and r.written != counts.tobytes()) or (
            unknown and _mesh_array(mesh.edges, "vertices", 2, "i") != inst.edges(result)):
        hook.timings["rebuilt"] = changed = True
        mesh.clear_geometry()
        mesh.vertices.add(n)
        edges = inst.edges(result)
        mesh.edges.add(len(edges) // 2)
        mesh.edges.foreach_set("vertices", edges)
    r.written = counts.tobytes()
    changed |= _set_if_changed(mesh.vertices, "co", inst.xyz(result), unknown or changed)
    if r.look is not None and r.look[0] is not None:
        changed |= _write_attributes(r, mesh, result, objects, per_object, n,
                                     unknown or changed, channels)
    if changed:
        mesh.update_tag()
        dashes.update_tag()
        r.echo = True


def _mesh_array(items, name, width, code):
    out = array.array(code, bytes(array.array(code).itemsize * width * len(items)))
    items.foreach_get(name, out)
    return out


def _set_if_changed(items, name, values, compare):
    """Writes values into items' name; when compare, only if they differ. True when written."""
    if compare and len(values) and _mesh_array(items, name, len(values) // max(1, len(items)),
                                               values.typecode) == values:
        return False
    items.foreach_set(name, values)
    return True


def _attribute(mesh, name, kind):
    a = mesh.attributes.get(name)
    if a is None or a.data_type != kind or a.domain != "POINT":
        if a is not None:
            mesh.attributes.remove(a)
        a = mesh.attributes.new(name, kind, "POINT")
    return a


def _write_attributes(r, mesh, result, objects, per_object, n, compare, channels):
    """The material and shading of the spline each dash comes from, and the curve's radius and
    normal where each dash point lies. True when anything was written."""
    inst = state.instance
    counts = result.counts
    form = r.form
    material, smooth = form.looks if form.looks is not None else (None, None)
    if per_object is not None:
        # One spline per object: its dashes are its own.
        spline_of_dash = array.array("i")
        for (segments, _), k in zip(objects, per_object):
            spline_of_dash.extend(array.array("i", [segments[0] if len(segments) == 1 else -1]) * k)
    else:
        sources = inst.sources(result)
        spline_of_dash = array.array("i", [-1]) * len(counts)
        if sources is not None:
            at = 0
            for d, c in enumerate(counts):
                spline_of_dash[d] = sources[0][at]
                at += c
    if material is not None:
        place = _material_places(r.look[3])
        per_dash_material = array.array(
            "i", (place[material[s]] if 0 <= s and 0 <= material[s] < len(place) else 0
                  for s in spline_of_dash))
        per_dash_smooth = array.array("b", (smooth[s] if s >= 0 else 1 for s in spline_of_dash))
    else:
        per_dash_material = array.array("i", [0]) * len(counts)
        per_dash_smooth = array.array("b", [1]) * len(counts)
    values = {"korrand_material": ("INT", "value", _per_point(counts, per_dash_material, "i")),
              "korrand_smooth": ("BOOLEAN", "value", _per_point(counts, per_dash_smooth, "b"))}
    carried = inst.carry(result, channels, 4) if channels else None
    normal = array.array("f", bytes(12 * n))
    if carried is None:
        radius = array.array("f", [1.0]) * n
    else:
        radius = carried[0::4]
        for k in range(3):
            normal[k::3] = carried[k + 1::4]
    values["korrand_radius"] = ("FLOAT", "value", radius)
    values["korrand_normal"] = ("FLOAT_VECTOR", "vector", normal)
    changed = False
    for name, (kind, prop, data) in values.items():
        a = mesh.attributes.get(name)
        fresh = a is None or a.data_type != kind or a.domain != "POINT"
        changed |= _set_if_changed(_attribute(mesh, name, kind).data, prop, data,
                                   compare and not fresh)
    return changed


# ---- Handlers -------------------------------------------------------------------------------

def _note_updates(depsgraph, blind=False):
    """Adds to the records' todo what the last evaluation changed: a curve's shape (points,
    shape keys, hooks), its look, its transform (dash lengths are measured in world space),
    animated settings. The evaluation of a curve that follows from writing its dashes is not
    a change of the curve. Blind, what it changed is not read: the caller redoes everything."""
    # A text switched on is dashed once it is converted to a curve, as its notice says (and
    # switched off once converted to anything else).
    for name, notice in list(registry.notices.items()):
        ob = bpy.data.objects.get(name)
        if ob is not None and _is_dashed(ob) and (
                ob.type == "CURVE" or (notice == _TEXT_NOTICE and ob.type != "FONT")):
            if ob.type == "CURVE":
                del registry.notices[name]
            registry.survey = True
    if not registry.records or blind:
        return
    records = registry.records.values()
    if _frame_changing:
        # A frame may change a curve something animates (its data, shape keys, hooks): each
        # such curve is compared with what it was (reading it is that comparison). The others
        # are compared, by digest, only when the frame changed some curve data (a script's
        # frame handler may): reading hundreds at each frame slowed playback. Which data it
        # changed is not asked: reading a frame's depsgraph.updates after undo, with more than
        # one view layer, makes Blender 3.4 crash later.
        edited = depsgraph is None or depsgraph.id_type_updated("CURVE") or \
            depsgraph.id_type_updated("KEY")
        for r in records:
            r.todo.add(CHECK)
            ob = _object(r.curve)
            if ob is None or ob.type != "CURVE":
                r.todo.add(READ)
                continue
            if not line_form.still(ob) or (edited and _edited(r, ob)):
                r.todo.add(READ)
            if _look_may_move(ob):
                r.todo.add(LOOK)
        return
    updated = {}
    for u in depsgraph.updates:
        original = getattr(u.id, "original", None)
        if original is not None:
            updated[(type(original).__name__, original.name)] = u
    by_curve = {r.curve: r for r in records}
    # Each record's curve object, looked up once: an update of hundreds of curves would
    # otherwise look every record's up again for each curve updated.
    curves = [(r, _object(r.curve)) for r in records]
    curves = [(r, ob) for r, ob in curves if ob is not None and ob.type == "CURVE"]
    users = driven = None
    for (kind, name), u in updated.items():
        if kind == "Object":
            r = by_curve.get(name)
            if r is None:
                ob = bpy.data.objects.get(name)
                if ob is not None and not _is_dashed(ob) and ob.get(ROLE) is None and \
                        line_form.korrand_modifier(ob) is not None:
                    registry.survey = True  # a dash's modifier copied onto it (_copied_dash)
                if ob is not None and is_block(ob):
                    continue  # the add-on's own objects shape no curve
                for r, ob in curves:  # a taper or bevel object moved or scaled: the look changes
                    if name in (
                            getattr(ob.data.taper_object, "name", None),
                            getattr(ob.data.bevel_object, "name", None)):
                        r.todo.update((LOOK, READ, DASH))
                        r.channels = None
                    elif ob is not None and u.is_updated_transform and any(
                            m.type == "HOOK" and getattr(m.object, "name", None) == name
                            for m in ob.modifiers):
                        _stale(ob)  # a hook moved (not by a frame): the curve's shape changed
                if driven is None:
                    driven = [r for r, ob in curves if _driven(ob)]
                for r in driven:  # a driver of its settings may read what changed
                    r.todo.add(CHECK)
                continue
            r.todo.add(CHECK)  # its settings may be animated, its transform measured
            # Writing a curve's dashes makes Blender evaluate the curve again: that update is
            # an echo, not a change of the curve, when nothing but the two was updated.
            ob = bpy.data.objects.get(name)
            mine = _held(ob, "dashes") if ob is not None else None
            echo = r.echo and not _frame_changing and mine is not None and set(updated) <= {
                ("Object", name), ("Object", mine.name), ("Mesh", mine.data.name)}
            if u.is_updated_geometry and not echo:
                r.todo.add(READ)
            r.echo = False
        elif kind in ("Curve", "Key"):
            if users is None:  # by the name of what they read: their curve, keys, taper, bevel
                users = {}
                for r, ob in curves:
                    cu = ob.data
                    for used in (cu, cu.shape_keys, cu.taper_object, cu.bevel_object):
                        data = used.data if isinstance(used, bpy.types.Object) else used
                        if data is not None:
                            users.setdefault((type(data).__name__, data.name), []).append((r, ob))
            for r, ob in users.get((kind, name), ()):
                cu = ob.data
                if (kind == "Curve" and cu.name == name) or (
                        kind == "Key" and cu.shape_keys is not None and cu.shape_keys.name == name):
                    # Dashed before this evaluation from the same splines: read and compared
                    # again, dashed again only if that finds a difference.
                    r.todo.update((READ, LOOK) if r.early else (READ, LOOK, DASH))
                    info = ob.korrand.get("bake_info")
                    # Edits made in edit mode reach the curve's data when it ends.
                    if info is not None and not info.get("stale") and not _frame_changing \
                            and not line_form.edited(ob) \
                            and info.get("shape") != line_form.digest(cu):
                        _stale(ob)
                elif kind == "Curve" and any(
                        o is not None and o.data is not None and o.data.name == name
                        for o in (cu.taper_object, cu.bevel_object)):
                    r.todo.update((READ, LOOK, DASH))
                    r.channels = None
                    if cu.taper_object is not None and cu.taper_object.data.name == name:
                        _stale(ob)  # the taper changed (not by a frame): so did the radius


def _driven(ob):
    """Whether a driver sets one of ob's dash settings."""
    anim = ob.animation_data
    return anim is not None and any(fc.data_path.startswith("korrand.") for fc in anim.drivers)


def run(depsgraph):
    """One round of updates: looks through the objects when they changed, then updates every
    record with something to do."""
    global _busy
    if _busy or state.instance is None or not isinstance(bpy.data, bpy.types.BlendData):
        return
    _busy = True
    try:
        with _Round():
            _run(depsgraph)
    finally:
        for r in registry.records.values():
            r.early = False
        _busy = False


def _run(depsgraph):
    """The round itself (see run)."""
    # What a view layer's first evaluation since undo lists as updated cannot be read (see
    # registry.settle): everything is read again instead.
    blind = depsgraph is not None and not registry.settle(depsgraph)
    if blind:
        registry.behind = True
    if _writes_forbidden():
        _note_updates(depsgraph, blind)
        registry.behind = True
        return
    if registry.behind:
        registry.behind = False
        for r in registry.records.values():
            r.todo.update(EVERYTHING)
    # What the evaluation changed is read first: looking through the objects may remove
    # some, and the depsgraph's record of them is not to be touched after that.
    _note_updates(depsgraph, blind)
    if registry.survey or not _consistent():
        _reconcile()
    elif depsgraph is not None and depsgraph.id_type_updated("COLLECTION"):
        # A dashed curve linked into another scene (Link Objects to Scene) renders there.
        for r in registry.records.values():
            ob = _object(r.curve)
            if ob is not None and _editable(ob):
                _arrange_render(ob)
    _note_render_resolution()
    for r in list(registry.records.values()):
        if r.todo:
            _update(r, depsgraph)
    # The objects the updates made (a profile, the scratch object) are known too: a count
    # that still included them would let a later deletion pass unnoticed.
    registry.object_count = len(bpy.data.objects)


def _note_render_resolution():
    """Marks for reading the curves whose Render U is not the one their form was read at, and
    says whether there were any. Blender evaluates nothing when only a curve's Render U
    changes (the viewport does not draw it), yet the dashes follow it."""
    moved = False
    for r in registry.records.values():
        ob = _object(r.curve) if r.form is not None and READ not in r.todo else None
        if ob is not None and ob.type == "CURVE" and \
                getattr(r.form, "render_u", None) != ob.data.render_resolution_u:
            r.todo.add(READ)
            moved = True
    return moved


def _edited(r, ob):
    """Whether ob's stored curve data (its points and settings) differs from what r last read,
    by digest (known for reads made for a frame)."""
    now = line_form.digest(ob.data)
    if now == r.stored:
        return False
    r.reading = now  # what the read will see
    r.todo.add(LOOK)
    return True


def _look_may_move(ob):
    """True when a frame may change ob's look without changing its points: its curve data is
    animated (a bevel keyed to grow), or a bevel or taper object gives it (any of their
    animation, parents or constraints reshapes it)."""
    cu = ob.data
    return line_form.animated(cu) or cu.bevel_object is not None or cu.taper_object is not None


def _animated_settings(ob):
    """True when an action or a driver may give ob's settings other values than it holds."""
    return _animated_setting(ob, "")


def _animated_setting(ob, key):
    """True when an action or a driver may give ob's setting key (any, for "") another value
    than it holds."""
    ad = ob.animation_data
    if ad is None:
        return False
    curves = list(ad.drivers) + (list(ad.action.fcurves) if ad.action is not None else [])
    return any(c.data_path.startswith("korrand." + key) for c in curves) or bool(ad.nla_tracks)


def _early(r):
    """True when r's dashes can be made before Blender evaluates the update, from nothing the
    evaluation makes: its curve is read from its splines as stored (line_form.read_as_stored),
    its settings are the ones it holds (none animated), and without a profile or a dash length
    neither its look nor its transform enters the dashes."""
    if r.form is None or r.look is None or r.key is None or r.look[0] is not None or \
            r.todo - {DASH, CHECK}:
        return False
    ob = _object(r.curve)
    if ob is None or ob.type != "CURVE" or not _editable(ob) or baked(ob) is not None:
        return False
    dashes = _held(ob, "dashes")
    if dashes is None or not _editable(dashes) or not _editable(dashes.data) or \
            line_form.korrand_modifier(ob) is None:
        return False
    k = ob.korrand
    if k.period != 0 or r.key[0][2] != 0 or float(k.thickness) != r.key[0][3] or \
            _animated_settings(ob):
        return False
    # Hooks and soft body act on the points wherever they are in the stack.
    return not any(m.type in ("HOOK", "SOFT_BODY") for m in ob.modifiers) and \
        line_form.read_as_stored(ob)


_revive_pending = False


def _revive():
    """Revives the drivers once the add-on can reach the data: while add-ons are enabled it
    cannot, so it tries again before the next evaluation (of an update or a frame)."""
    global _revive_pending
    if _revive_pending:
        try:
            _revive_drivers()
            _revive_pending = False
        except AttributeError:  # bpy.data is restricted while add-ons are enabled
            pass


@persistent
def _on_frame_pre(*_):
    _revive()


def _revive_drivers():
    """Drivers of the dash's settings that Blender could not resolve when the file was loaded
    before the add-on (Preferences, --python-expr on a farm) are flagged invalid and never
    evaluated again: they resolve now."""
    for ob in bpy.data.objects:
        anim = ob.animation_data if ob.get("korrand") is not None else None
        for fc in anim.drivers if anim is not None else ():
            if fc.data_path.startswith("korrand.") and not fc.driver.is_valid:
                fc.driver.is_valid = True
                ob.update_tag()


@persistent
def _on_depsgraph_pre(scene, *_):
    _revive()
    # What is written here Blender evaluates in this same pass. An edit of a curve's points
    # makes Blender evaluate the curve: dashed only after that, it would be evaluated again with
    # its new dashes. A curve whose dashes need nothing of the evaluation (see _early) is
    # dashed here instead, and evaluated once. Which data changed cannot be asked here, only
    # whether any curve did: such curves are read then (the read compares them with the last).
    # A change of settings alone makes Blender evaluate nothing before the update handler, so
    # it is left to that. The update handler afterwards checks every record as before: what
    # this leaves or gets wrong, it redoes.
    global _busy
    if _busy or not hook.early or state.instance is None or \
            not isinstance(bpy.data, bpy.types.BlendData):
        return
    if not registry.records or registry.survey or registry.behind or _writes_forbidden() or \
            bpy.app.is_job_running("RENDER"):
        return  # a render's evaluation is left to the update and frame handlers
    view_layer = bpy.context.view_layer
    graph = view_layer.depsgraph if view_layer is not None else None
    if graph is None or not registry.settled(graph) or not graph.id_type_updated("CURVE"):
        return  # a view layer's first evaluation since undo is left to the update handler
    _busy = True
    try:
        with _Round():
            if not _consistent():
                return
            for r in list(registry.records.values()):
                r.early = False
                if _early(r):
                    r.todo.add(READ)
                    _update(r, None)
                    r.early = not r.todo
    finally:
        _busy = False


_frame_changing = False


@persistent
def _on_depsgraph(scene, depsgraph):
    # Only the depsgraph of the view layer being worked in: the dashes are the same in every
    # view layer, and one that is not shown may still list data undo has freed.
    if depsgraph.view_layer == bpy.context.view_layer:
        run(depsgraph)


@persistent
def _on_frame(scene, depsgraph=None):
    global _frame_changing
    _frame_changing = True
    try:
        run(depsgraph if depsgraph is not None else bpy.context.evaluated_depsgraph_get())
    finally:
        _frame_changing = False


@persistent
def _on_load_pre(*_):
    registry.forget()


@persistent
def _on_reload(*_):
    # Read again at the next update; evaluating here, while undo is still restoring, would
    # meet view layers whose depsgraphs still hold the data undo freed.
    registry.reload()
    registry.behind = True
    if not bpy.app.background and not bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.register(_catch_up, first_interval=0.0)


@persistent
def _on_load_post(*_):
    global _revive_pending
    _revive_pending = True  # a file saved where the add-on was missing keeps its drivers flagged
    _revive()
    _on_reload()
    # Without a window no timer runs before a script's next line, and its update evaluates
    # nothing new after a load, so no handler would run: the file's curves are dashed now (one
    # saved with the add-on disabled has no dash yet). A loaded file holds no freed data.
    if bpy.app.background:
        _catch_up()


@persistent
def _on_save_pre(*_):
    # The file keeps the dashes it is saved with, which a Blender without the add-on shows.
    if registry.records and not _writes_forbidden() and _note_render_resolution():
        run(bpy.context.evaluated_depsgraph_get())
    line_form.drop_scratch()


def render_warnings():
    """What a render should say in its log: linked or overridden dashed curves whose dash
    settings are animated, which show the dashes their library saved on every frame."""
    # An override's linked original is rendered only as the override: not named twice.
    overridden = {o.override_library.reference for o in bpy.data.objects
                  if o.override_library is not None}
    return [f"Korrand: {ob.name}: {_not_ours(ob)}, so its animated dash settings are not "
            "followed in this render: bake its dashes in its library"
            for ob in bpy.data.objects
            if ob.type == "CURVE" and not _editable(ob) and _is_dashed(ob) and
            baked(ob) is None and _animation_key(ob) and ob not in overridden]


@persistent
def _on_render_init(*_):
    # A farm's log is where a render's problems are read.
    for line in render_warnings():
        print(line, file=sys.stderr)


@persistent
def _on_render_done(*_):
    # Handlers of a render job may run on its thread: the catch-up waits for the main loop.
    if not bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.register(_catch_up, first_interval=0.0)


def _catch_up():
    if bpy.context.view_layer is not None:
        run(bpy.context.evaluated_depsgraph_get())
    return None


_HANDLERS = (
    (bpy.app.handlers.depsgraph_update_pre, _on_depsgraph_pre),
    (bpy.app.handlers.depsgraph_update_post, _on_depsgraph),
    (bpy.app.handlers.frame_change_pre, _on_frame_pre),
    (bpy.app.handlers.frame_change_post, _on_frame),
    (bpy.app.handlers.load_pre, _on_load_pre),
    (bpy.app.handlers.load_post, _on_load_post),
    (bpy.app.handlers.undo_post, _on_reload),
    (bpy.app.handlers.redo_post, _on_reload),
    (bpy.app.handlers.save_pre, _on_save_pre),
    (bpy.app.handlers.render_init, _on_render_init),
    (bpy.app.handlers.render_complete, _on_render_done),
    (bpy.app.handlers.render_cancel, _on_render_done),
)


def start():
    """Installs the handlers; the dashed curves of the open file are dashed at the next update
    (and, with a window, at once from the main loop)."""
    for handlers, f in _HANDLERS:
        if f not in handlers:
            handlers.append(f)
    registry.survey = True
    global _revive_pending
    _revive_pending = True
    _revive()
    if not bpy.app.background and not bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.register(_catch_up, first_interval=0.0)


def stop():
    """Removes the handlers and every live dash: each curve shows as it was. Settings and
    bakes stay: enabled again, the add-on dashes the curves again."""
    for handlers, f in _HANDLERS:
        if f in handlers:
            handlers.remove(f)
    if bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.unregister(_catch_up)
    registry.forget()
    if not isinstance(bpy.data, bpy.types.BlendData):
        return  # Blender is shutting down or starting: nothing to give back
    for ob in list(bpy.data.objects):
        if ob.get(ROLE) is None and _is_dashed(ob) and _editable(ob) and baked(ob) is None:
            mod = line_form.korrand_modifier(ob)
            if mod is not None:
                ob.modifiers.remove(mod)
            g = ob.korrand
            for key in ("dashes", "attached"):
                if key in g:
                    del g[key]
    held = _held_names([o for o in bpy.data.objects if o.get(ROLE) is None and _is_dashed(o)
                        and baked(o) is not None])
    for ob in list(bpy.data.objects):
        if ob.get(ROLE) is not None and ob.name not in held and _editable(ob):
            _remove_block(ob)
    # With the save handler gone, nothing would keep the scratch curve out of the next save.
    line_form.drop_scratch()


# ---- What the operators do ------------------------------------------------------------------

def update_now(ob, depsgraph=None, read=False):
    """Brings ob's dashes up to date now (operators, scripts and tests), with the curve read
    again when read is true (what Blender did not report: a change of Render U alone). Returns
    its record, or None when it is not dashed."""
    global _busy
    if _unloaded():
        return None
    depsgraph = depsgraph or bpy.context.evaluated_depsgraph_get()
    if registry.survey or not _consistent():
        _reconcile()
    r = registry.of(ob)
    if r is not None:
        if read:
            r.todo.add(READ)
        _busy = True
        try:
            _update(r, depsgraph, force=True)
        finally:
            _busy = False
    return r


def allow(ob, depsgraph):
    """The artist agrees to an update beyond the point limit."""
    r = registry.of(ob)
    if r is not None:
        r.allowed = r.estimate
        r.todo.add(DASH)
        update_now(ob, depsgraph)


# ---- Bake ------------------------------------------------------------------------------------

def _profile_scale(profile, first):
    """s where profile is first scaled by s (a bevel keyed to grow; 0 where it is gone), 1.0
    when they are the same, None when its shape changed."""
    if profile == first:
        return 1.0
    if first is None:
        return None
    if profile is None:
        return 0.0
    (points, closed), (base, closed_first) = profile, first
    if closed != closed_first or len(points) != len(base):
        return None
    far = max(base, key=lambda p: p[0] * p[0] + p[1] * p[1])
    reach = far[0] * far[0] + far[1] * far[1]
    if reach == 0:
        return None
    near = points[base.index(far)]
    scale = (near[0] * far[0] + near[1] * far[1]) / reach
    within = 1e-5 * math.sqrt(reach) * max(1.0, abs(scale))
    if all(abs(p[0] - scale * q[0]) <= within and abs(p[1] - scale * q[1]) <= within
           for p, q in zip(points, base)):
        return scale
    return None


_OWN_LOOK = "korrand_own_look"  # on a bake that sweeps a profile of its own
_BAKED_ATTRIBUTES = (("korrand_radius", "FLOAT", "value", "f", 1),
                     ("korrand_normal", "FLOAT_VECTOR", "vector", "f", 3),
                     ("korrand_material", "INT", "value", "i", 1),
                     ("korrand_smooth", "BOOLEAN", "value", "b", 1))
_FAR = 1 << 30  # the bake's first and last frames reach out to any frame


def _mesh_arrays(mesh):
    """A mesh's points, edges and the look's attributes, as arrays (what a bake stores)."""
    n = len(mesh.vertices)
    co, edges = line_form.mesh_points_and_edges(mesh)
    out = {"co": co, "edges": edges}
    for name, kind, prop, code, width in _BAKED_ATTRIBUTES:
        a = mesh.attributes.get(name)
        if a is not None and a.data_type == kind and a.domain == "POINT":
            values = array.array(code, bytes(array.array(code).itemsize * width * n))
            a.data.foreach_get(prop, values)
            out[name] = values
    return out


def _same(a, b):
    return a is not None and a.keys() == b.keys() and all(
        a[k].tobytes() == b[k].tobytes() for k in a)


def digest(ob, depsgraph=None):
    """What a bake is made from and the panel compares: the settings, as they stand (as
    depsgraph evaluated them, when given)."""
    return repr(settings_of(ob, depsgraph))


def _frame_key(ob, depsgraph=None):
    """digest(ob), short: a bake keeps one per frame, as animation and drivers set them."""
    return hashlib.sha1(digest(ob, depsgraph).encode()).hexdigest()[:16]


def _animation_key(ob):
    """The keyframes, drivers and F-curve modifiers of the dash's settings: an edit to them
    changes frames the panel is not showing."""
    ad = ob.animation_data
    if ad is None:
        return ""
    curves = [(fc, None) for fc in (ad.action.fcurves if ad.action is not None else ())]
    # Actions pushed down into the NLA animate the settings as well.
    curves += [(fc, None) for track in ad.nla_tracks for strip in track.strips
               if strip.action is not None for fc in strip.action.fcurves]
    parts = []
    for fc, driver in curves + [(fc, fc.driver) for fc in ad.drivers]:
        if not fc.data_path.startswith("korrand."):
            continue
        parts.append((fc.data_path, fc.array_index, fc.mute, fc.extrapolation,
                      [(tuple(k.co), tuple(k.handle_left), tuple(k.handle_right),
                        k.interpolation, k.easing) for k in fc.keyframe_points],
                      [(m.type, m.mute) for m in fc.modifiers],
                      None if driver is None else (driver.type, driver.expression,
                                                   [v.name for v in driver.variables])))
    return hashlib.sha1(repr(parts).encode()).hexdigest()[:16] if parts else ""


def _shown(layer_collection, ob):
    """Whether ob is in the collection of layer_collection, or of one in it, that the view layer
    does not exclude. (Read from the collections: a view layer's list of its objects may not be
    brought up to date yet.)"""
    if layer_collection.exclude:
        return False
    if layer_collection.collection.objects.get(ob.name) == ob:
        return True
    return any(_shown(child, ob) for child in layer_collection.children)


def _bake_place(ob):
    """The scene and view layer a bake evaluates ob's frames in: the window's where ob is
    evaluated there (in it, and not in an excluded collection), else the first that evaluates
    it; (None, None) where none does."""
    places = [(bpy.context.scene, bpy.context.view_layer)]
    places += [(scene, layer) for scene in bpy.data.scenes for layer in scene.view_layers]
    for scene, layer in places:
        if scene is not None and layer is not None and _shown(layer.layer_collection, ob):
            return scene, layer
    # Shown only through an instanced collection: the window's evaluates it.
    scene, layer = bpy.context.scene, bpy.context.view_layer
    if scene is not None and layer is not None and \
            ob.evaluated_get(bpy.context.evaluated_depsgraph_get()).as_pointer() != \
            ob.as_pointer():
        return scene, layer
    return None, None


def bake(ob, frame_start=None, frame_end=None):
    """Stores ob's dashes of every frame from frame_start to frame_end (the range of the scene
    it is baked in by default) in an object of their own in the file, shown by the curve's
    Korrand Dash in place of the live dashes: a Blender without the add-on plays and renders
    them (frames outside the range show its first or last frame). Frames with the same dashes
    are stored once. The frames are those of the window's scene where the curve is shown in
    its view layer, else of the first scene and view layer that show it. Returns an error
    message, or ""."""
    scene, layer = _bake_place(ob)
    try:
        start = (scene or bpy.context.scene).frame_start if frame_start is None \
            else int(frame_start)
        end = (scene or bpy.context.scene).frame_end if frame_end is None else int(frame_end)
    except (TypeError, ValueError, OverflowError):
        return "the first and last frames are whole numbers"
    if end < start:
        return "the last frame comes before the first"
    frames = bpy.types.Scene.bl_rna.properties["frame_current"]
    if start < frames.hard_min or end > frames.hard_max:
        # Blender holds every frame past its last: the bake would never end.
        return f"Blender's frames go from {frames.hard_min} to {frames.hard_max}"
    if not _is_dashed(ob) or ob.type != "CURVE":
        return "the curve is not dashed"
    if not _editable(ob):
        return "linked data cannot be baked here: bake it in its library"
    if _unloaded():
        return _unloaded()
    if scene is None:
        return ("no view layer of any scene shows the curve (it is in no scene, or its "
                "collections are excluded): there are no frames to bake")
    if baked(ob) is not None:
        free_bake(ob)
    current = scene.frame_current, scene.frame_subframe
    # Animation writes its values back to the curve only in the window's view layer: in another
    # they are read as that one evaluated them. Its first evaluation applies no animation yet.
    other = None if layer == bpy.context.view_layer else layer
    if other is not None:
        scene.frame_set(start)
    runs = []  # [first frame, last frame, arrays]
    keys = []  # the settings of each frame, which the panel compares
    opening = None  # the look the bake sweeps every frame with: the first frame's with a profile
    grows = False  # its profile changes size over the frames (or comes or goes)
    try:
        for frame in range(start, end + 1):
            scene.frame_set(frame)  # evaluates every view layer of the scene
            r = update_now(ob, layer.depsgraph)
            if r is None:
                return "the curve is not dashed"
            if r.status:
                return r.status
            keys.append(_frame_key(ob, other.depsgraph if other is not None else None))
            arrays = _mesh_arrays(_held(ob, "dashes").data)
            if opening is None or (opening[0] is None and r.look[0] is not None):
                # The first frame with a profile: before it the dashes have no radius (none
                # show, as a bevel of no depth draws only the bare wire).
                grows = grows or opening is not None
                opening = r.look
            scale = _profile_scale(r.look[0], opening[0])
            if scale is None:
                return ("the curve's profile changes its shape over these frames, not only its "
                        "size, which a bake does not hold: bake the frames of each shape apart")
            if scale != 1.0:
                grows = True  # the live profile follows the frame shown: the bake keeps its own
                if "korrand_radius" in arrays:
                    arrays["korrand_radius"] = array.array(
                        "f", (v * scale for v in arrays["korrand_radius"]))
            if runs and _same(runs[-1][2], arrays):
                runs[-1][1] = frame
            else:
                runs.append([frame, frame, arrays])
    finally:
        scene.frame_set(current[0], subframe=current[1])
    runs[0][0], runs[-1][1] = -_FAR, _FAR
    # A look attribute some frames lack (no profile there) is 0 in them: written for all.
    for name, kind, prop, code, width in _BAKED_ATTRIBUTES:
        if any(name in run[2] for run in runs):
            for run in runs:
                if name not in run[2]:
                    points = len(run[2]["co"]) // 3
                    run[2][name] = array.array(code, bytes(array.array(code).itemsize * width *
                                                            points))
    r = registry.of(ob)
    name = _named(ob.name, f" dashes baked {start}-{end} (Korrand)")
    mesh = bpy.data.meshes.new(name)
    counts = [len(run[2]["co"]) // 3 for run in runs]
    n = sum(counts)
    mesh.vertices.add(n)
    co = array.array("f")
    edges = array.array("i")
    first, last = array.array("i"), array.array("i")
    at = 0
    for (a, b, arrays), c in zip(runs, counts):
        co.extend(arrays["co"])
        shifted = array.array("i", arrays["edges"])
        for i in range(len(shifted)):
            shifted[i] += at
        edges.extend(shifted)
        first.extend(array.array("i", [a]) * c)
        last.extend(array.array("i", [b]) * c)
        at += c
    mesh.vertices.foreach_set("co", co)
    mesh.edges.add(len(edges) // 2)
    mesh.edges.foreach_set("vertices", edges)
    for name_, kind, prop, code, width in _BAKED_ATTRIBUTES:
        if all(name_ in run[2] for run in runs):
            values = array.array(code)
            for run in runs:
                values.extend(run[2][name_])
            _attribute(mesh, name_, kind).data.foreach_set(prop, values)
    _attribute(mesh, "korrand_first", "INT").data.foreach_set("value", first)
    _attribute(mesh, "korrand_last", "INT").data.foreach_set("value", last)
    for material in ob.data.materials:
        mesh.materials.append(material)  # lent to the swept faces (nodes.py)
    mesh.update()
    block = _new_block("bake", r.uid, name, mesh)
    frames = block.modifiers.new("Korrand Baked Frames", "NODES")
    frames.node_group = nodes.group("frames")
    nodes.set_input(frames, nodes.TIME_STRETCH,
                    scene.render.frame_map_old / scene.render.frame_map_new)
    look = _look_modifier(block)
    if grows:
        # The live profile follows the frame shown: the bake sweeps the first frame's, scaled.
        block[_OWN_LOOK] = 1
        pob = _new_profile(r, ob)
        _write_profile(pob, opening[0])
        nodes.set_input(look, nodes.PROFILE, pob)
        nodes.set_input(look, nodes.USE_PROFILE, True)
        nodes.set_input(look, nodes.FILL_CAPS, opening[1])
    else:
        _copy_look_inputs(_held(ob, "dashes"), block)
    g = ob.korrand
    g["bake"] = block
    g["bake_info"] = {"start": start, "end": end, "stored": len(runs),
                      "frames": ",".join(keys), "animation": _animation_key(ob),
                      "shape": line_form.digest(ob.data), "stale": 0}
    nodes.set_input(line_form.korrand_modifier(ob), nodes.DASHES, block)
    return ""


def free_bake(ob):
    """Removes ob's bake: the live dashes show again."""
    if not _editable(ob):
        return "linked data cannot be changed"
    block = baked(ob)
    g = ob.korrand
    for key in ("bake", "bake_info"):
        if key in g:
            del g[key]
    if block is not None and _editable(block):
        _remove_block(block)  # a profile of its own goes with the next sweep, unless held
    mod = line_form.korrand_modifier(ob)
    dashes = _held(ob, "dashes")
    if mod is not None and dashes is not None:
        nodes.set_input(mod, nodes.DASHES, dashes)
    registry.note(ob, *EVERYTHING)
    return ""


def bake_state(ob):
    """What the panel says of ob's bake: "" when not baked."""
    g = ob.get("korrand")
    info = g.get("bake_info") if g is not None else None
    if info is None or baked(ob) is None:
        return ""
    text = f"Baked: frames {info['start']}-{info['end']} ({info['stored']} stored)"
    if "frames" in info:
        # The settings against the bake's own of this frame (its first or last outside), and
        # their animation against the bake's: going to another frame changes nothing.
        keys = info["frames"].split(",")
        # In the scene the bake was made in (the window's, where it shows the curve).
        scene, layer = _bake_place(ob)
        other = layer if layer is not None and layer != bpy.context.view_layer else None
        frame = (scene or bpy.context.scene).frame_current
        at = min(max(frame, info["start"]), info["end"]) - info["start"]
        # Another view layer's evaluation does not follow the window's frame, nor does the
        # curve's animation write its values back there: the settings are compared where they
        # are not animated, the animation itself where they are.
        animation = _animation_key(ob)
        changed = (at >= len(keys) or ((other is None or not animation) and
                                       keys[at] != _frame_key(ob))
                   or info.get("animation", "") != animation)
    else:  # baked by an earlier version: the settings of the frame it was baked at
        changed = info.get("digest") != digest(ob)
    if info.get("stale") or changed:
        text += "; the curve or its settings changed since: bake again, or free the bake"
    scene = bpy.context.scene
    if scene.render.use_motion_blur or getattr(scene.eevee, "use_motion_blur", False):
        text += ("; motion blur blurs the dashes' own motion (an animated offset) only while "
                 "live: a bake holds whole frames")
    return text


# ---- Apply ----------------------------------------------------------------------------------

def apply(ob, depsgraph=None):
    """What a modifier's Apply does, for a curve: the curve keeps its dashes as its own curve
    data (one POLY spline per dash, each point's radius and tilt as the look swept it, the
    curve's bevel, materials and the rest of its look), the modifiers before the dash that shaped its
    points, already in the dashes, are removed with it, and the dash is switched off. Returns
    an error message, or "" (a warning may follow a tab)."""
    if ob.type != "CURVE" or not _is_dashed(ob):
        return "the curve is not dashed"
    if not _editable(ob) or not _editable(ob.data):
        return "linked data cannot be changed"
    if line_form.edited(ob):
        return "leave edit mode first"
    if baked(ob) is not None:
        return "the curve's dashes are baked: free the bake first"
    if _unloaded():
        return _unloaded()
    if ob.data.dimensions == "2D" and ob.data.fill_mode != "NONE":
        return ("a filled curve's fill and dashes cannot be one curve: Object > Convert > Mesh "
                "keeps both")
    r = update_now(ob, depsgraph)
    if r is None:
        return "the curve is not dashed"
    if r.status:
        return r.status
    mesh = _held(ob, "dashes").data
    arrays = _mesh_arrays(mesh)
    n = len(arrays["co"]) // 3
    counts, starts = _chains(arrays["edges"], n)
    old = ob.data
    data = old.copy()
    data.splines.clear()
    data.taper_object = None  # its taper is in each point's radius
    data.bevel_factor_start, data.bevel_factor_end = 0.0, 1.0  # the dashes are trimmed already
    radius = arrays.get("korrand_radius")
    material = arrays.get("korrand_material")  # where each lands in the joined faces' list
    slot_of = {}
    for slot, place in enumerate(_material_places([m.name if m is not None else ""
                                                    for m in old.materials])):
        slot_of.setdefault(place, slot)
    smooth = arrays.get("korrand_smooth")
    co = arrays["co"]
    for s, c in zip(starts, counts):
        spline = data.splines.new("POLY")
        spline.points.add(c - 1)
        xyzw = array.array("f")
        for i in range(s, s + c):
            xyzw.extend((co[3 * i], co[3 * i + 1], co[3 * i + 2], 1.0))
        spline.points.foreach_set("co", xyzw)
        if radius is not None:
            spline.points.foreach_set("radius", radius[s:s + c])
        if material is not None:
            spline.material_index = slot_of.get(material[s], 0)
        if smooth is not None:
            spline.use_smooth = bool(smooth[s])
    data.name = old.name
    removed = []
    for m in list(ob.modifiers):
        if line_form.korrand_modifier(ob) == m:
            ob.modifiers.remove(m)
            break
        # Only what shaped the dashes is in them; a modifier switched off, or one acting on
        # what Blender draws (which the dash does not see), stays the artist's.
        if m.show_viewport and line_form.acts_on_points(m):
            removed.append(m.name)
            ob.modifiers.remove(m)
    ob.data = data
    if data.shape_keys is not None:
        ob.shape_key_clear()  # the dashes already have them in their points
    ob.korrand["enabled"] = 0
    _detach(ob)
    registry.survey = True
    normal = arrays.get("korrand_normal")
    if normal is not None and data.dimensions == "3D" and (data.extrude or data.bevel_depth or
                                                           data.bevel_object is not None):
        _tilt_to(ob, normal, co, starts, counts)
    if removed:
        return "\tthe modifiers before the dash, already in the dashes, were applied with it: " + \
            ", ".join(removed)
    return ""


def _tilt_to(ob, wanted, co, starts, counts):
    """Tilts the points of ob's applied dashes (its splines: chains of co) so that Blender's
    sweep turns its profile to the normal the live look had at each (wanted, 3 floats a point):
    its own sweep of them untilted gives the normal the tilt starts from."""
    depsgraph = bpy.context.evaluated_depsgraph_get()
    depsgraph.update()
    form = line_form.read(state.plugin, ob, depsgraph)
    got = line_form.channels(state.plugin, ob, depsgraph, form, taper=False)
    if got is None or len(got[0]) != 4 * len(co) // 3:
        return
    swept = got[0]
    for spline, s, c in zip(ob.data.splines, starts, counts):
        tilts = array.array("f", bytes(4 * c))
        for k in range(c):
            i = s + k
            ahead = Vector(co[3 * min(i + 1, s + c - 1):3 * min(i + 1, s + c - 1) + 3])
            behind = Vector(co[3 * max(i - 1, s):3 * max(i - 1, s) + 3])
            tangent = (ahead - behind).normalized() if (ahead - behind).length else Vector()
            n, w = Vector(swept[4 * i + 1:4 * i + 4]), Vector(wanted[3 * i:3 * i + 3])
            # The turn about the tangent that takes Blender's normal to the look's.
            tilts[k] = math.atan2(n.cross(w).dot(tangent), n.dot(w))
        spline.points.foreach_set("tilt", tilts)
    ob.data.update_tag()


def _chains(edges, n):
    """The point counts and first points of the chains a dashes' mesh holds (each chain's
    points are consecutive, its edges in order)."""
    counts, starts = [], []
    at, e = 0, 0
    m = len(edges) // 2
    while at < n:
        c = 1
        while e < m and edges[2 * e] == at + c - 1 and edges[2 * e + 1] == at + c:
            c += 1
            e += 1
        counts.append(c)
        starts.append(at)
        at += c
    return counts, starts
