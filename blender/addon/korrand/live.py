"""Keeps each dashed curve's result object in step with the curve, as a host runs a modifier.

The curve (the source) is only read: its data stays as the artist made it. Its dashes live in
a result object of their own, a curve of open POLY splines in the source's object space that
carries a copy of the source's look (bevel, extrude, fill, materials) and follows the source's
world transform through a Copy Transforms constraint, not through parenting, which would add a
curve's path animation. Neither object holds a pointer property to the other: the result
carries its source's uid, and the constraint's target (which holds no user) lets Blender keep
the pair together through renames, duplication and deletion.

Property updates only record what changed; the depsgraph and frame handlers and the operators
make, update, hide and remove objects. Nothing is written while a render job runs unless the
render locks the interface (Blender's condition for changing data from handlers then); the
result catches up afterwards.
"""

import array
import sys
import time
import uuid

import bpy
from bpy.app.handlers import persistent

from . import bridge, line_form, spline_memory
from .test_hook import hook


class _State:
    plugin = None
    instance = None
    parameters = []  # the plug-in's parameters a host shows and sets
    settings = None
    error = ""


state = _State()

# Look settings a result copies from its source's data, and follows.
_LOOK = ("dimensions", "bevel_depth", "bevel_resolution", "extrude", "bevel_mode",
         "bevel_object", "taper_object", "fill_mode", "use_fill_caps", "offset", "twist_mode",
         "twist_smooth", "taper_radius_mode", "use_map_taper", "use_radius")
MARK = "dashes_of"  # in a result's korrand group: the uid of its source
FOLLOW = "Korrand: follow the curve"  # the result's Copy Transforms constraint
# An update that would make more points than this waits until the artist agrees: Blender takes
# about a second per million points to evaluate the result.
POINT_LIMIT = 3_000_000


class Dash:
    """Everything kept for one dashed curve between updates. Made when the curve is first seen
    dashed; updated by each update; forgotten when the dash goes (switched off, the curve or
    its dashes deleted, applied), on undo and when a file is loaded. Objects are held by name
    and looked up on use: Blender replaces them on undo."""

    def __init__(self, uid, source):
        self.uid = uid
        self.source = source  # the curve's name
        self.result = None    # the result's name
        self.form = None      # the line form last read
        self.key = None       # the settings and plan of the dashes the result shows
        self.stale = True     # the result does not show the last form yet
        self.pending = True   # something changed since the last update
        self.reread = True    # the curve's shape must be read again
        self.look = True      # the curve's look must be compared again
        self.held = False     # waiting for edit mode to end
        self.revealed = False  # shown by the select button; hidden again when deselected
        self.status = ""      # shown in the panel
        self.estimate = 0     # points the current settings would make
        self.allowed = 0      # points the artist agreed to beyond the limit
        self.out = None       # the result's points for the Python API path, reused
        self.looks = None     # what the result's splines last took from the curve's


_dashes = {}   # uid -> Dash
_notices = {}  # object name -> why it is not dashed (a refusal), for its panel
_scan = True   # the objects must be looked through: which are dashed, which are results
_object_count = -1
_busy = False
_behind = False  # updates were skipped (render job); caught up at the next chance


# ---- What is stored on the objects ------------------------------------------------------------

def _group(ob):
    return ob.get("korrand")


def _uid(ob):
    g = ob.get("korrand")
    return g.get("uid") if g is not None else None


def _mark(ob):
    g = ob.get("korrand")
    return g.get(MARK) if g is not None else None


def is_result(ob):
    return _mark(ob) is not None


def _is_dashed(ob):
    g = ob.get("korrand")
    return g is not None and bool(g.get("enabled")) and MARK not in g


def _editable(idb):
    return idb is not None and idb.library is None and idb.override_library is None


def _followed(res):
    con = res.constraints.get(FOLLOW)
    return con.target if con is not None and con.type == "COPY_TRANSFORMS" else None


def result_of(ob):
    """ob's result object, or None."""
    uid = _uid(ob)
    d = _dashes.get(uid) if uid is not None else None
    if d is not None and d.source == ob.name and d.result is not None:
        res = bpy.data.objects.get(d.result)
        if res is not None and _mark(res) == uid:
            return res
    if uid is None or not _is_dashed(ob):
        return None
    # Not looked through yet (a file just opened): found without writing anything.
    for res in bpy.data.objects:
        if _mark(res) == uid and _followed(res) in (ob, None):
            return res
    return None


def source_of(res):
    """The curve whose dashes res shows, or None."""
    uid = _mark(res)
    if uid is None:
        return None
    src = _followed(res)
    if src is not None and _is_dashed(src):
        return src
    d = _dashes.get(uid)
    return bpy.data.objects.get(d.source) if d is not None else None


def dash_of(ob):
    uid = _uid(ob)
    d = _dashes.get(uid) if uid is not None else None
    return d if d is not None and d.source == ob.name else None


def status(ob):
    d = dash_of(ob)
    return d.status if d is not None else _notices.get(ob.name, "")


# ---- Recording (called from property updates: nothing is written here) ----------------------

def note_change(ob, shape=False):
    """A setting of ob changed; the next depsgraph update acts on it."""
    global _scan
    _notices.pop(ob.name, None)
    d = dash_of(ob)
    if d is None or not _is_dashed(ob):
        _scan = True  # switched on or off: the next update looks through the objects
        return
    d.pending = True
    d.reread = d.reread or shape


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
    _notices[ob.name] = message
    _fail(ob.name, message)


# ---- Showing and hiding the curve -------------------------------------------------------------

def _view_layers(ob):
    for scene in bpy.data.scenes:
        for vl in scene.view_layers:
            if vl.objects.get(ob.name) == ob:
                yield scene, vl


def _hide_source(src):
    """Hides the curve in every view layer and in renders, noting what was changed so that
    exactly that is undone when the dashes go."""
    g = src.korrand
    hidden = [e for e in g.get("hidden_in", "").split("\n") if e]
    for scene, vl in _view_layers(src):
        if not src.hide_get(view_layer=vl):
            src.hide_set(True, view_layer=vl)
            hidden.append(scene.name + "\t" + vl.name)
    if hidden:
        g["hidden_in"] = "\n".join(hidden)
    if not src.hide_render:
        src.hide_render = True
        g["hid_render"] = 1


def _show_source(src):
    g = _group(src)
    if g is None or not _editable(src):
        return
    for entry in g.get("hidden_in", "").split("\n"):
        scene_name, _, layer_name = entry.partition("\t")
        scene = bpy.data.scenes.get(scene_name)
        vl = scene.view_layers.get(layer_name) if scene is not None else None
        if vl is not None and vl.objects.get(src.name) == src:
            src.hide_set(False, view_layer=vl)
    if g.get("hid_render"):
        src.hide_render = False
    for k in ("hidden_in", "hid_render"):
        if k in g:
            del g[k]


# ---- The result object ----------------------------------------------------------------------

def _new_result(src, uid):
    data = bpy.data.curves.new(src.name + " dashed", "CURVE")
    res = bpy.data.objects.new(src.name + " dashed", data)
    for c in src.users_collection:
        if _editable(c):
            c.objects.link(res)
    if not res.users_collection:
        bpy.context.scene.collection.objects.link(res)
    res.korrand[MARK] = uid
    _follow(res, src)
    return res


def _follow(res, src):
    con = res.constraints.get(FOLLOW)
    if con is None or con.type != "COPY_TRANSFORMS":
        con = res.constraints.new("COPY_TRANSFORMS")
        con.name = FOLLOW
    if con.target != src:
        con.target = src
    if res.parent is not None:
        res.parent = None
    if res.matrix_basis != _IDENTITY:
        res.matrix_basis = _IDENTITY


_IDENTITY = None  # a mathutils.Matrix, made at the first use (mathutils is Blender's)


def _copy_look(src, res):
    """Gives the result the look of its source's data, writing only what differs (each write
    makes Blender evaluate the result again)."""
    s, r = src.data, res.data
    for name in _LOOK:
        value = getattr(s, name)
        if getattr(r, name) != value:
            setattr(r, name, value)
    if list(r.materials) != list(s.materials):
        r.materials.clear()
        for m in s.materials:
            r.materials.append(m)
    for slot, mine in zip(src.material_slots, res.material_slots):
        if mine.link != slot.link:
            mine.link = slot.link
        if slot.link == "OBJECT" and mine.material != slot.material:
            mine.material = slot.material


def _remove_result(res):
    data = res.data
    bpy.data.objects.remove(res)
    if isinstance(data, bpy.types.Curve) and data.users == 0:
        bpy.data.curves.remove(data)


def _detach(res):
    """A result turned into something else (converted to a mesh, or a copy of the dashes):
    it becomes the artist's own object, left where it is and never touched again."""
    if not _editable(res):
        return
    world = res.matrix_world.copy()
    con = res.constraints.get(FOLLOW)
    if con is not None:
        res.constraints.remove(con)
        res.matrix_world = world
    del res.korrand[MARK]


def _clear_result(res):
    if res.data.splines:
        res.data.splines.clear()
        res.data.update_tag()


# ---- Looking through the objects ----------------------------------------------------------------

def _migrate(ob, g):
    """Files saved by the first version of the add-on: the result was a child holding the
    look, found through pointer properties (which kept deleted objects alive). The look goes
    back to the curve, the old result goes; a new one is made."""
    old = g.get("result")
    if isinstance(old, bpy.types.Object) and _editable(ob) and _editable(ob.data):
        if old.type == "CURVE" and old.data is not None and _editable(old):
            # What that version took off the curve: these, and a 2D curve's fill.
            names = ["bevel_depth", "extrude", "bevel_object"]
            if ob.data.dimensions == "2D" and old.data.dimensions == "2D":
                names.append("fill_mode")
            for name in names:
                setattr(ob.data, name, getattr(old.data, name))
            _remove_result(old)
        if ob.hide_render:
            g["hid_render"] = 1
        layers = [s.name + "\t" + vl.name for s, vl in _view_layers(ob)
                  if ob.hide_get(view_layer=vl)]
        if layers:
            g["hidden_in"] = "\n".join(layers)
    for k in ("result", "source"):
        if k in g and _editable(ob):
            del g[k]


def _dashable(ob):
    if ob.type != "CURVE":
        return f"only curve objects can be dashed, not {ob.type.lower()} objects"
    return ""


def _reconcile():
    """Pairs every dashed curve with its result: results whose curve is gone or no longer
    dashed are removed, converted ones and copies become the artist's own, a copied curve
    gets a uid (and dashes) of its own, a curve whose dashes were deleted is switched off and
    shown. Records follow: made, renamed or forgotten."""
    global _scan, _object_count, _dashes
    _scan = False
    objects = bpy.data.objects
    old = [ob.name for ob in objects
           if (ob.get("korrand") or {}).get("result") is not None]
    for name in old:  # by name: a migration removes other objects
        ob = objects.get(name)
        if ob is not None:
            _migrate(ob, ob["korrand"])
    for ob in list(objects):
        g = ob.get("korrand")
        if g is not None and "source" in g and _editable(ob):
            _remove_result(ob)  # an old result whose curve went
    sources, results = [], []
    for ob in objects:
        g = ob.get("korrand")
        if g is None:
            continue
        if MARK in g:
            results.append(ob)
        elif g.get("enabled"):
            why = _dashable(ob)
            if why and _editable(ob):
                g["enabled"] = 0
                _notice(ob, why)
            elif not why:
                sources.append(ob)
        elif "hidden_in" in g or "hid_render" in g:
            _show_source(ob)  # its dashes went while the add-on was off, or undone
    by_uid = {}
    for src in sources:
        by_uid.setdefault(_uid(src), []).append(src)
    claims = {}
    converted = set()
    for res in results:
        if not _editable(res):
            src = _followed(res)
            if src is not None:
                claims.setdefault(src.name, []).append(res)
            continue  # linked: as its library has it
        if res.type != "CURVE":
            converted.add(res.name)
            _detach(res)
            continue
        src = _followed(res)
        if src is None or src.name not in {s.name for s in by_uid.get(_uid(src), ())}:
            holders = by_uid.get(_mark(res))
            src = holders[0] if holders else None
        if src is None:
            _remove_result(res)  # its curve was deleted or switched off
            continue
        claims.setdefault(src.name, []).append(res)
    # A copy of a dashed curve (Shift+D, Alt+D) has its original's uid: the curve whose
    # result carries the uid keeps it, each copy gets its own.
    for uid, holders in by_uid.items():
        if uid is not None and len(holders) == 1:
            continue
        keeper = None
        if uid is not None:
            for src in holders:
                if any(_mark(r) == uid for r in claims.get(src.name, ())):
                    keeper = src
                    break
            if keeper is None:
                d = _dashes.get(uid)
                keeper = next((s for s in holders if d is not None and s.name == d.source),
                              holders[0])
        for src in holders:
            if src is not keeper and _editable(src):
                src.korrand["uid"] = uuid.uuid4().hex
                for res in claims.get(src.name, ()):
                    if _editable(res):
                        res.korrand[MARK] = src.korrand["uid"]
    kept = {}
    for src in sources:
        uid = _uid(src)
        if uid is None:
            continue  # linked without a uid: nothing of it can be recorded
        mine = claims.get(src.name, [])
        d = _dashes.get(uid)
        if d is not None and d.source != src.name and bpy.data.objects.get(d.source) is not None \
                and _uid(bpy.data.objects[d.source]) == uid:
            d = None  # the record belongs to another curve of the same uid (fixed above)
        res = None
        if mine:
            res = next((r for r in mine if d is not None and r.name == d.result), mine[0])
            for extra in mine:
                if extra is not res:
                    _detach(extra)  # a copy of the dashes alone: the artist's own
        if d is None:
            d = Dash(uid, src.name)
        elif (res is None and d.result is not None and d.result not in converted
              and _editable(src)):
            # Its dashes were deleted: the curve is shown again, as it was, and says why.
            src.korrand["enabled"] = 0
            _show_source(src)
            _notice(src, "its dashes were deleted, so the dash was switched off")
            continue
        d.source = src.name
        d.result = res.name if res is not None else None
        if res is None:
            d.pending = True
        kept[uid] = d
    _dashes = kept
    _object_count = len(objects)


def _consistent():
    """False when an object was added, removed or renamed since the objects were looked
    through, so they must be again."""
    objects = bpy.data.objects
    if len(objects) != _object_count:
        return False
    for d in _dashes.values():
        src = objects.get(d.source)
        if src is None or _uid(src) != d.uid or not _is_dashed(src):
            return False
        if d.result is not None:
            res = objects.get(d.result)
            if res is None or _mark(res) != d.uid or res.type != "CURVE":
                return False
    return True


# ---- One update -------------------------------------------------------------------------------

def _parameter(key):
    return next((p for p in state.parameters if p.key == key), None)


def settings_of(ob, depsgraph=None):
    """The plug-in's settings of ob as (id, value) pairs, then follow_cyclic and period.
    A render evaluates the hidden curve only as far as its dashes need it, not its animated
    settings, and leaves the curve's own values as they were: those are read from their
    F-curves at the frame rendered (drivers are not followed in a render)."""
    k = ob.korrand
    values = {key: getattr(k, key) for key in _keys()}
    animation = ob.animation_data
    if (depsgraph is not None and depsgraph.mode == "RENDER" and animation is not None
            and animation.action is not None):
        scene = depsgraph.scene
        frame = scene.frame_current + scene.frame_subframe
        for fc in animation.action.fcurves:
            key = fc.data_path[len("korrand."):] if fc.data_path.startswith("korrand.") else ""
            if key in values:
                v, kind = fc.evaluate(frame), type(values[key])
                # As Blender's animation writes them: whole numbers cut, switches from 0.5.
                values[key] = v >= 0.5 if kind is bool else int(v) if kind is int else v
    plugin = tuple((p.id, values[p.key]) for p in state.parameters
                   if p.type != bridge.TYPE_BUTTON)
    return plugin, bool(values["follow_cyclic"]), float(values["period"])


def _keys():
    return [p.key for p in state.parameters if p.type != bridge.TYPE_BUTTON] + [
        "follow_cyclic", "period"]


def _plan(form, settings, src, depsgraph):
    """The line objects to hand the plug-in: a list of (segment indices, settings of its
    own)."""
    values, follow, period = settings
    named = {p.key: (p, v) for p in state.parameters for pid, v in values if p.id == pid}
    closed_p, closed = named.get("closed", (None, True))
    count_p, _ = named.get("count", (None, 0))
    n = len(form.counts)
    cyclic = form.cyclic
    if period > 0 and count_p is not None:
        # Each spline its own object, with its own count from its length in world space.
        measured = cyclic if follow else array.array("i", [1 if closed else 0]) * n
        matrix = [v for row in src.evaluated_get(depsgraph).matrix_world for v in row]
        lengths = state.plugin.segment_lengths(form.points, form.counts, form.stride,
                                               measured, matrix)
        objects = []
        for i in range(n):
            # A derived count, as the SVG host's: not held to the count option's limit.
            own = {count_p.id: state.plugin.period_count(lengths[i], period)}
            if follow and closed_p is not None:
                own[closed_p.id] = cyclic[i]
            objects.append(([i], own))
        return objects
    relative = named.get("relative", (None, False))[1]
    jitter = named.get("jitter", (None, 0.0))[1]
    if not relative and not jitter > 0:
        # Each spline's dashes depend on that spline alone: one object per spline gives what
        # one object of all of them gives, and tells which dashes came from which spline.
        if follow and closed_p is not None:
            return [([i], {closed_p.id: cyclic[i]}) for i in range(n)]
        return [([i], {}) for i in range(n)]
    if not follow or closed_p is None:
        return [(list(range(n)), {})]
    # Relative counts and the jitter's draws run over a whole object: the cyclic splines are
    # one object and the open ones another, as the SVG host hands a shape's subpaths over.
    kinds = {1: [], 0: []}
    for i in range(n):
        kinds[1 if cyclic[i] else 0].append(i)
    first = 1 if n and cyclic[0] else 0
    return [(kinds[k], {closed_p.id: k}) for k in (first, 1 - first) if kinds[k]]


def _estimate(objects, settings):
    values = dict(settings[0])
    count_p, sub_p = _parameter("count"), _parameter("subdivision")
    if count_p is None or sub_p is None:
        return 0
    per_dash = max(2, int(values[sub_p.id]) + 2)
    base = int(values[count_p.id])
    return sum(len(segs) * int(own.get(count_p.id, base)) * per_dash for segs, own in objects)


def _write_looks(d, res, form, objects, dashes, counts):
    """Each result spline takes the material and smooth shading of the spline it came from
    (where that is known: splines dashed together only share them when all agree)."""
    splines = res.data.splines
    n = len(splines)
    if form.looks is None or not n:
        return
    material, smooth = form.looks
    if len(objects) == len(material):  # one object per spline, in order
        per_object = list(zip(material, smooth))
    else:
        per_object = []
        for segs, _ in objects:
            mats = {material[i] for i in segs}
            smooths = {smooth[i] for i in segs}
            per_object.append((mats.pop() if len(mats) == 1 else 0,
                               smooths.pop() if len(smooths) == 1 else 1))
    key = (n, per_object, None if len(set(per_object)) <= 1 else counts.tobytes())
    if not hook.timings.get("rebuilt") and d.looks == key:
        return  # the same splines, from splines of the same looks
    d.looks = key
    if len(set(per_object)) <= 1:
        m, s = per_object[0] if per_object else (0, 1)
        mine = array.array("i", [m]) * n, array.array("b", [s]) * n
    else:
        mats, smooths = array.array("i"), array.array("b")
        at = 0
        for (m, s), k in zip(per_object, dashes):
            kept = sum(1 for c in counts[at:at + k] if c > 0)
            mats.extend([m] * kept)
            smooths.extend([s] * kept)
            at += k
        mine = mats, smooths
    have = array.array("i", bytes(4 * n)), array.array("b", bytes(n))
    splines.foreach_get("material_index", have[0])
    splines.foreach_get("use_smooth", have[1])
    if have[0] != mine[0]:
        splines.foreach_set("material_index", mine[0])
    if have[1] != mine[1]:
        splines.foreach_set("use_smooth", mine[1])


def _write_splines(d, res, inst, result):
    """Replaces the result's splines: one open POLY spline per dash. Splines are reused when
    the structure is unchanged, so only coordinates are written."""
    data = res.data
    splines = data.splines
    counts = result.counts
    # The bridge checks the structure itself, faster than reading it here: most updates move
    # points without changing how many there are.
    hook.timings["rebuilt"] = False
    if spline_memory.write(state.plugin, inst, splines):
        data.update_tag()
        return
    kept = counts if 0 not in counts else array.array("i", (c for c in counts if c > 0))
    have = array.array("i", bytes(4 * len(splines)))
    splines.foreach_get("point_count_u", have)
    if have != kept:
        hook.timings["rebuilt"] = True
        splines.clear()
        for c in kept:
            s = splines.new("POLY")
            if c > 1:
                s.points.add(c - 1)
    if not spline_memory.write(state.plugin, inst, splines):
        xyzw = inst.points_xyzw(result, d.out)
        d.out = xyzw
        at = 0
        kept_i = iter(splines)
        for c in counts:
            if c > 0:
                next(kept_i).points.foreach_set("co", xyzw[4 * at:4 * (at + c)])
            at += c
    data.update_tag()


def _writes_forbidden():
    """True while a render job runs whose interface is not locked: Blender's viewport may be
    reading the data from another thread then."""
    if hook.render_job is not None:
        return hook.render_job
    return (bpy.app.is_job_running("RENDER")
            and not any(s.render.use_lock_interface for s in bpy.data.scenes))


def _not_ours(idb, what):
    how = "a library override" if idb.override_library is not None else "linked from a library"
    return (f"the {what} are {how}: the dashes stay as the library has them until it is made "
            "local" if what == "dashes" else
            f"the {what} is {how}: its dashes stay as the library has them until it is made local")


def _update(d, depsgraph, force=False):
    """Brings d's result in step with its curve."""
    objects = bpy.data.objects
    src = objects.get(d.source)
    if src is None:
        return
    d.pending = False
    if not _editable(src):
        d.pending = True  # looked at again each update: made local, it catches up
        d.status = _not_ours(src, "curve")
        return
    res = objects.get(d.result) if d.result is not None else None
    if res is None:
        res = _new_result(src, d.uid)
        d.result = res.name
        d.look = d.stale = True
        _hide_source(src)
    if not _editable(res) or not _editable(res.data):
        d.pending = True
        d.status = _not_ours(res if not _editable(res) else res.data, "dashes")
        return
    if res.mode == "EDIT":
        # Writing would overwrite, or free under, what is being edited; once edit mode is
        # left the result is dashed again.
        d.held = True
        d.status = "the dashes are in edit mode; they follow again when it is left"
        return
    d.held = False
    _follow(res, src)
    if d.look:
        _copy_look(src, res)
        d.look = False
    t0 = time.perf_counter()
    if d.reread or d.form is None:
        try:
            form = line_form.read(state.plugin, src, depsgraph, d.form)
        except line_form.HeldInEditMode:
            d.held = True
            d.status = "the dashes follow the curve when its edit mode ends"
            return
        except ValueError as e:
            d.status = str(e)
            _fail(src.name, str(e))
            _clear_result(res)
            d.key = None
            return
        if not form.same_as(d.form):
            d.stale = True
        d.form, d.reread = form, False
    t1 = time.perf_counter()
    settings = settings_of(src, depsgraph)
    objects_plan = _plan(d.form, settings, src, depsgraph)
    key = (settings, [(tuple(s), tuple(sorted(o.items()))) for s, o in objects_plan]
           if settings[2] > 0 else None)
    tc = time.perf_counter()
    hook.timings.clear()
    hook.timings.update(read=t1 - t0, compare=tc - t1)
    if not force and not d.stale and key == d.key:
        d.status = ""
        return
    d.estimate = _estimate(objects_plan, settings)
    if d.estimate > POINT_LIMIT and d.estimate > d.allowed:
        d.status = (f"these settings make about {d.estimate / 1e6:.1f} million points, which "
                    "takes Blender seconds to draw: not dashed until you agree")
        return
    inst = state.instance
    try:
        for pid, value in settings[0]:
            inst.set(pid, value)
        tp = time.perf_counter()
        result, dashes = inst.dash_objects(d.form.points, d.form.counts, d.form.stride,
                                           objects_plan)
    except bridge.BridgeError as e:
        d.status = str(e)
        _fail(src.name, str(e))
        _clear_result(res)
        d.key = None
        return
    t2 = time.perf_counter()
    try:
        _write_splines(d, res, inst, result)
        _write_looks(d, res, d.form, objects_plan, dashes, result.counts)
    except Exception:
        _clear_result(res)  # never leave half a result
        d.key = None
        raise
    t3 = time.perf_counter()
    hook.timings.update(settings=tp - tc, plugin=t2 - tp, build=t3 - t2)
    d.key, d.stale, d.status = key, False, ""


# ---- Handlers -------------------------------------------------------------------------------

def _note_updates(depsgraph):
    """Marks the records whose curve the last evaluation changed: its shape (points, shape
    keys, hooks, modifiers), its look, its transform (dash lengths are measured in world
    space), animated settings, or whose result has left edit mode."""
    by_source = {d.source: d for d in _dashes.values()}
    by_result = {d.result: d for d in _dashes.values() if d.result is not None}
    by_data = None
    for u in depsgraph.updates:
        original = getattr(u.id, "original", None)
        if isinstance(original, bpy.types.Object):
            d = by_source.get(original.name)
            if d is not None:
                if u.is_updated_geometry:
                    d.pending = d.reread = True
                elif d.key is None or (u.is_updated_transform and d.key[0][2] > 0):
                    d.pending = True
                elif settings_of(original, depsgraph) != d.key[0]:
                    d.pending = True  # animated or driven
                if d.held and original.mode != "EDIT":
                    d.pending = d.reread = True
                continue
            d = by_result.get(original.name)
            if d is not None and d.held and original.mode != "EDIT":
                d.pending = True
        elif isinstance(original, (bpy.types.Curve, bpy.types.Key)):
            if by_data is None:
                by_data = {}
                for d in _dashes.values():
                    src = bpy.data.objects.get(d.source)
                    if src is not None and src.data is not None:
                        by_data.setdefault(src.data.name, []).append(d)
                        keys = getattr(src.data, "shape_keys", None)
                        if keys is not None:
                            by_data.setdefault(keys.name, []).append(d)
            for d in by_data.get(original.name, ()):
                d.pending = d.reread = True
                d.look = d.look or isinstance(original, bpy.types.Curve)


def _rehide_revealed():
    for d in _dashes.values():
        if not d.revealed:
            continue
        src = bpy.data.objects.get(d.source)
        if src is None:
            d.revealed = False
        elif not src.select_get() and src.mode != "EDIT":
            d.revealed = False
            _hide_source(src)


def run(depsgraph):
    """One round of updates: looks through the objects when they changed, then updates every
    record with something pending."""
    global _busy, _behind
    if _busy or state.instance is None or not isinstance(bpy.data, bpy.types.BlendData):
        return
    _busy = True
    try:
        if _writes_forbidden():
            _note_updates(depsgraph)
            _behind = True
            return
        if _behind:
            _behind = False
            for d in _dashes.values():
                d.pending = d.reread = True
        # What the evaluation changed is read first: looking through the objects may remove
        # some, and the depsgraph's record of them is not to be touched after that.
        _note_updates(depsgraph)
        if _scan or not _consistent():
            _reconcile()
        for d in list(_dashes.values()):
            if d.pending:
                _update(d, depsgraph)
        _rehide_revealed()
    finally:
        _busy = False


@persistent
def _on_depsgraph(scene, depsgraph):
    run(depsgraph)


@persistent
def _on_frame(scene, depsgraph=None):
    run(depsgraph if depsgraph is not None else bpy.context.evaluated_depsgraph_get())


@persistent
def _on_load_pre(*_):
    global _dashes, _scan
    _dashes = {}
    _notices.clear()
    _scan = True


@persistent
def _on_reload(*_):
    # Undo, redo and loading replace every datablock: what was read before is unknown.
    global _dashes, _scan
    for d in _dashes.values():
        d.form, d.key, d.out = None, None, None
        d.pending = d.reread = d.look = d.stale = True
    _scan = True
    if bpy.context.view_layer is not None:
        run(bpy.context.evaluated_depsgraph_get())


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
    (bpy.app.handlers.depsgraph_update_post, _on_depsgraph),
    (bpy.app.handlers.frame_change_post, _on_frame),
    (bpy.app.handlers.load_pre, _on_load_pre),
    (bpy.app.handlers.load_post, _on_reload),
    (bpy.app.handlers.undo_post, _on_reload),
    (bpy.app.handlers.redo_post, _on_reload),
    (bpy.app.handlers.render_complete, _on_render_done),
    (bpy.app.handlers.render_cancel, _on_render_done),
)


def start():
    """Installs the handlers; the dashed curves of the open file are dashed at the next update
    (and, with a window, at once from the main loop)."""
    global _scan, _IDENTITY
    import mathutils
    _IDENTITY = mathutils.Matrix.Identity(4)
    for handlers, f in _HANDLERS:
        if f not in handlers:
            handlers.append(f)
    _scan = True
    if not bpy.app.background and not bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.register(_catch_up, first_interval=0.0)


def stop():
    """Removes the handlers, every result, and shows every dashed curve as it was. The
    settings stay on the curves: enabled again, the add-on dashes them again."""
    global _dashes, _scan
    for handlers, f in _HANDLERS:
        if f in handlers:
            handlers.remove(f)
    if bpy.app.timers.is_registered(_catch_up):
        bpy.app.timers.unregister(_catch_up)
    _dashes = {}
    _notices.clear()
    _scan = True
    if not isinstance(bpy.data, bpy.types.BlendData):
        return  # Blender is shutting down or starting: nothing to give back
    for ob in list(bpy.data.objects):
        if is_result(ob) and _editable(ob):
            if ob.type == "CURVE":
                _remove_result(ob)
            else:
                _detach(ob)
    for ob in bpy.data.objects:
        _show_source(ob)


# ---- What the operators do ------------------------------------------------------------------

def update_now(ob, depsgraph):
    """Brings ob's dashes up to date now (operators and tests)."""
    global _busy
    if _scan or not _consistent():
        _reconcile()
    d = dash_of(ob)
    if d is not None:
        _busy = True
        try:
            _update(d, depsgraph, force=True)
        finally:
            _busy = False
    return d


def allow(ob, depsgraph):
    """The artist agrees to an update beyond the point limit."""
    d = dash_of(ob)
    if d is not None:
        d.allowed = d.estimate
        d.pending = True
        update_now(ob, depsgraph)


def select_source(res, context):
    """Selects res's curve and makes it active, showing it while it stays selected."""
    src = source_of(res)
    if src is None:
        return "these dashes have no curve any more"
    vl = context.view_layer
    if vl.objects.get(src.name) != src:
        return f"{src.name} is not in this view layer"
    d = dash_of(src)
    if src.hide_get(view_layer=vl):
        src.hide_set(False, view_layer=vl)
        if d is not None:
            d.revealed = True
    for ob in context.selected_objects:
        ob.select_set(False)
    src.select_set(True)
    vl.objects.active = src
    return ""


def apply(src, depsgraph):
    """As a modifier's Apply: the curve keeps its dashes as its own curve data, the dash is
    switched off and the curve shown. Returns an error message, or "" (a warning may follow
    a tab)."""
    d = update_now(src, depsgraph)
    res = result_of(src)
    if d is None or res is None:
        return "the curve is not dashed"
    if src.mode == "EDIT" or res.mode == "EDIT":
        return "leave edit mode first"
    if not _editable(src) or not _editable(res.data):
        return "linked data cannot be changed"
    if d.status:
        return d.status
    data, old = res.data, src.data
    del _dashes[d.uid]
    bpy.data.objects.remove(res)
    data.name = old.name
    src.data = data
    src.korrand["enabled"] = 0
    _show_source(src)
    if any(m.show_viewport for m in src.modifiers):
        return "\tits modifiers now act on the dashes, which already show them: remove them " \
               "if the dashes move"
    return ""
