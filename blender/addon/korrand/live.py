"""Keeps each enabled curve's result object in step with the curve, as a host runs a modifier."""

import array
import sys
import time

import bpy
from bpy.app.handlers import persistent

from . import bridge, spline_memory


class _State:
    plugin = None
    instance = None
    parameters = []
    settings = None
    error = ""


state = _State()

# Look settings that live on the result while the source is dashed. The source keeps none of
# them meanwhile: its evaluated geometry must stay the bare curve, which is what gets dashed.
_LOOK = ("dimensions", "bevel_depth", "bevel_resolution", "extrude", "bevel_mode",
         "bevel_object", "taper_object", "fill_mode", "use_fill_caps", "offset", "twist_mode",
         "twist_smooth", "taper_radius_mode", "use_map_taper")


def _bare(curve):
    """The look settings a source holds while dashed: nothing that adds faces."""
    bare = {"bevel_depth": 0.0, "extrude": 0.0, "bevel_object": None}
    if curve.dimensions == "2D":
        bare["fill_mode"] = "NONE"
    return bare


_busy = False
_held = set()     # source names whose result was in edit mode at their last update
_status = {}      # source name -> message shown in its panel
_last_input = {}  # source name -> (settings, line form) last dashed
_spare = {}       # source name -> segment buffers of the read before the last one
_out = {}         # source name -> the buffer of the result's points, reused (Python API path)
timings = {}      # the phases of the last refresh, in seconds (no plugin entry: skipped)


def is_busy():
    return _busy


def status(ob):
    return _status.get(ob.name, "")


def _fail(ob, message):
    _status[ob.name] = message
    print(f"Korrand: {ob.name}: {message}", file=sys.stderr)
    try:
        bpy.ops.korrand.report(message=f"Korrand: {ob.name}: {message}")
    except RuntimeError:
        pass  # no context to report in; the panel still shows it


# ---- Reading the line form ------------------------------------------------------------------

def _first_mismatch(x, y, start):
    """The first index i >= start where x[i] != y[i], or len(x); galloping over C-level slice
    comparisons, so long equal runs cost no Python steps per element."""
    n = len(x)
    lo, step = start, 64
    while True:
        hi = min(n, lo + step)
        if x[lo:hi] != y[lo:hi]:
            break
        if hi == n:
            return n
        lo, step = hi, step * 2
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if x[lo:mid] == y[lo:mid]:
            lo = mid
        else:
            hi = mid
    return lo


def spline_counts(vertex_count, edges):
    """Point counts of the splines of a curve's wire mesh. Blender writes each spline's points
    in order with edges (i, i + 1) between them, the closing edge of a cyclic spline last."""
    counts = array.array("i")
    m = len(edges) // 2
    seconds, firsts = edges[1:-1:2], edges[2::2]  # edge i ends where edge i + 1 starts, in a run
    nxt = 0  # first vertex not yet in a spline
    start = 0
    while start < m:
        end = _first_mismatch(seconds, firsts, start)  # the run is edges start..end
        first = edges[2 * start]
        a, b = edges[2 * end], edges[2 * end + 1]
        last = a if b < a else b
        counts.extend([1] * (first - nxt))  # lone points have no edges
        counts.append(last - first + 1)
        nxt = last + 1
        start = end + 1
    counts.extend([1] * (vertex_count - nxt))
    if sum(counts) != vertex_count:
        raise ValueError("the curve's points are not in spline order")
    return counts


def _control_points_are_drawn(ob):
    """True when Blender draws ob's curve through its deformed control points: POLY splines
    only, every modifier applied to the control points (before tessellation), and not in
    edit mode (the points being edited are not in the splines yet)."""
    if ob.mode == "EDIT" or any(s.type != "POLY" for s in ob.data.splines):
        return False
    return all(m.type in ("HOOK", "SOFT_BODY") or getattr(m, "use_apply_on_spline", False)
               for m in ob.modifiers if m.show_viewport)


class LineForm:
    """A curve's line form: the point count of each segment, and the points, x, y, z at every
    stride floats, either in one array (points) or in an array per segment (segments).
    refilled: the points array is the last read form's, refilled in place. The two forms then
    share it, so comparing them says nothing; moved tells whether the refill changed any float
    of it."""

    def __init__(self, counts, stride, segments=None, points=None, refilled=False, moved=True):
        self.counts, self.stride = counts, stride
        self.segments, self.points = segments, points
        self.refilled, self.moved = refilled, moved

    def same_as(self, last):
        """True when last, the form read before this one (or None), holds these points bit for
        bit."""
        if last is None:
            return False
        if self.refilled:
            return not self.moved
        return self == last

    def __eq__(self, other):
        # Bit for bit, through bytes: comparing float arrays directly costs a Python float per
        # element (a tenth of a second at a million points), and bits are what decide the output.
        if not (isinstance(other, LineForm) and self.stride == other.stride
                and self.counts.tobytes() == other.counts.tobytes()):
            return False
        if self.points is not None or other.points is not None:
            return self.xyz().tobytes() == other.xyz().tobytes()
        return all(a.tobytes() == b.tobytes() for a, b in zip(self.segments, other.segments))

    def xyz(self):
        """All points as packed x, y, z triples."""
        if self.points is not None and self.stride == 3:
            return self.points
        out = array.array("f", bytes(12 * sum(self.counts)))
        at = 0
        for seg, c in zip(self.segments, self.counts):
            for k in range(3):
                out[3 * at + k:3 * (at + c):3] = seg[k::self.stride]
            at += c
        return out

    def dash(self, inst):
        if self.points is not None:
            return inst.dash(self.points, self.counts, self.stride)
        return inst.dash_segments(self.segments, self.counts, self.stride)


def _read_splines(splines, spare, last):
    counts = array.array("i", bytes(4 * len(splines)))
    splines.foreach_get("point_count_u", counts)
    # Straight from Blender's splines in one bridge call, into the last read's array when the
    # counts are the same; the bridge says whether any point moved.
    reuse = (last is not None and last.points is not None and last.stride == 3
             and last.counts.tobytes() == counts.tobytes())
    read = spline_memory.read(state.plugin, splines, counts, last.points if reuse else None)
    if read is not None:
        points, moved = read
        return LineForm(counts, 3, points=points, refilled=reuse, moved=moved)
    # Each spline into a buffer of its own: joining them in Python costs several times more
    # than reading them; the bridge gathers them. Buffers of an earlier read are reused where
    # the sizes agree: fresh memory costs more than the read itself.
    segments = []
    for i, (s, c) in enumerate(zip(splines, counts)):
        chunk = spare[i] if i < len(spare) and len(spare[i]) == 4 * c else None
        if chunk is None:
            chunk = array.array("f", _ZERO) * (4 * c)
        s.points.foreach_get("co", chunk)
        segments.append(chunk)
    return LineForm(counts, 4, segments=segments)


_ZERO = [0.0]


def _read_control_points(ob, depsgraph, spare=(), last=None):
    """The control points after shape keys, hooks and modifiers on the spline. A curve with
    none of them is read as stored, which is much faster than a copy."""
    if (ob.data.shape_keys is None
            and not any(m.show_viewport for m in ob.modifiers)):
        return _read_splines(ob.data.splines, spare, last)
    curve = ob.to_curve(depsgraph, apply_modifiers=True)
    try:
        return _read_splines(curve.splines, spare, last)
    finally:
        ob.to_curve_clear()


def _read_wire(ob, depsgraph):
    evaluated = ob.evaluated_get(depsgraph)
    mesh = evaluated.to_mesh()
    try:
        if mesh is None:
            return LineForm(array.array("i"), 3, segments=[])
        n = len(mesh.vertices)
        points = array.array("f", bytes(12 * n))
        mesh.vertices.foreach_get("co", points)
        edges = array.array("i", bytes(8 * len(mesh.edges)))
        mesh.edges.foreach_get("vertices", edges)
        if len(mesh.polygons):
            raise ValueError("the curve is filled or bevelled; dash its outline instead")
    finally:
        evaluated.to_mesh_clear()
    counts = spline_counts(n, edges)
    segments, at = [], 0
    for c in counts:
        segments.append(points[3 * at:3 * (at + c)])
        at += c
    return LineForm(counts, 3, segments=segments)


def read_line_form(ob, depsgraph, spare=(), last=None):
    """The evaluated curve of ob as Blender draws it, in object space, one segment per spline
    in Blender's order. spare: segment buffers of an earlier read that may be overwritten;
    last: the last form read, whose points array may be refilled."""
    if _control_points_are_drawn(ob):
        return _read_control_points(ob, depsgraph, spare, last)
    return _read_wire(ob, depsgraph)


# ---- The result object ----------------------------------------------------------------------

def _settings(ob):
    k = ob.korrand
    return tuple((p.id, getattr(k, p.key)) for p in state.parameters
                 if p.type != bridge.TYPE_BUTTON)


def _move_look(src, res):
    """Hands the source's look to the result, leaving the source a bare curve. True when the
    source changed (its evaluated curve is then out of date)."""
    s, r = src.data, res.data
    bare = _bare(s)
    for name in _LOOK:
        value = getattr(s, name)
        if getattr(r, name) != value and (name not in bare or value != bare[name]):
            setattr(r, name, value)
    moved = False
    for name, value in bare.items():
        if getattr(s, name) != value:
            setattr(s, name, value)
            moved = True
    if list(r.materials) != list(s.materials):
        r.materials.clear()
        for m in s.materials:
            r.materials.append(m)
    return moved


def _give_look_back(src, res):
    for name in _bare(res.data):
        setattr(src.data, name, getattr(res.data, name))


def _own_result(ob):
    """ob's result object, or None. A copy of a dashed curve (Shift+D) points at the
    original's result at first: that one is not its own."""
    res = ob.korrand.result
    if res is None or res.name not in bpy.data.objects or res.korrand.source != ob:
        return None
    return res


def _new_result(src):
    data = bpy.data.curves.new(src.name + " dashed", "CURVE")
    data.dimensions = "3D"
    res = bpy.data.objects.new(src.name + " dashed", data)
    for c in src.users_collection:
        c.objects.link(res)
    if not res.users_collection:
        bpy.context.scene.collection.objects.link(res)
    res.parent = src
    res.matrix_parent_inverse.identity()
    res.korrand.source = src
    src.korrand.result = res
    return res


def _write_splines(res, counts, inst, result, name):
    """Replaces the result's splines: one open POLY spline per segment. Splines are reused when
    the structure is unchanged, so only coordinates are written."""
    data = res.data
    splines = data.splines
    # The bridge checks the structure itself, faster than reading it here: most updates move
    # points without changing how many there are.
    timings["rebuilt"] = False
    if spline_memory.write(state.plugin, inst, splines):
        data.update_tag()
        return
    kept = counts if 0 not in counts else array.array("i", (c for c in counts if c > 0))
    have = array.array("i", bytes(4 * len(splines)))
    splines.foreach_get("point_count_u", have)
    if have != kept:
        timings["rebuilt"] = True
        splines.clear()
        for c in kept:
            s = splines.new("POLY")
            if c > 1:
                s.points.add(c - 1)
    if not spline_memory.write(state.plugin, inst, splines):
        xyzw = inst.points_xyzw(result, _out.get(name))
        _out[name] = xyzw
        at = 0
        kept_i = iter(splines)
        for c in counts:
            if c > 0:
                next(kept_i).points.foreach_set("co", xyzw[4 * at:4 * (at + c)])
            at += c
    data.update_tag()


def _clear_result(res):
    res.data.splines.clear()
    res.data.update_tag()


def refresh(ob, depsgraph, force=False):
    """Dashes ob's evaluated curve into its result object. When the source's look had to move
    first, its evaluated curve is stale: the update that the move causes dashes it."""
    global _busy
    if (_busy or not ob.korrand.enabled or state.instance is None or ob.type != "CURVE"
            or ob.korrand.source is not None):
        return
    if ob.library is not None:
        return  # linked from a library: its dashes are as the library saved them
    _busy = True
    try:
        res = _own_result(ob) or _new_result(ob)
        if res.library is not None or res.data.library is not None:
            _status[ob.name] = "the dashes are linked from a library and cannot be updated"
            return
        if res.mode == "EDIT":
            # Writing would overwrite, or free under, what is being edited; once edit mode is
            # left the result is dashed again.
            _held.add(ob.name)
            _status[ob.name] = "the dashes are in edit mode; they follow again when it is left"
            return
        _held.discard(ob.name)
        if _move_look(ob, res):
            return
        t0 = time.perf_counter()
        # Reads go into the buffers of the read before the last; the last one is kept to see
        # whether anything changed.
        last = _last_input.pop(ob.name, None)
        try:
            form = read_line_form(ob, depsgraph, _spare.get(ob.name, ()),
                                  last[1] if last is not None else None)
        except ValueError as e:
            _fail(ob, str(e))
            _clear_result(res)
            return
        t1 = time.perf_counter()
        settings = _settings(ob)
        key = (settings, form)  # settings first: they are cheap to compare
        unchanged = (not force and last is not None and last[0] == settings
                     and form.same_as(last[1]))
        tc = time.perf_counter()
        timings.clear()
        timings.update(read=t1 - t0, compare=tc - t1)
        if unchanged:
            _last_input[ob.name] = last
            _spare[ob.name] = form.segments or ()
            return
        if last is not None:
            _spare[ob.name] = last[1].segments or ()
        inst = state.instance
        try:
            for pid, value in settings:
                inst.set(pid, value)
            tp = time.perf_counter()
            result = form.dash(inst)
        except bridge.BridgeError as e:
            _fail(ob, str(e))
            _clear_result(res)
            return
        t2 = time.perf_counter()
        try:
            _write_splines(res, result.counts, inst, result, ob.name)
        except Exception:
            _clear_result(res)  # never leave half a result
            raise
        t3 = time.perf_counter()
        timings.update(settings=tp - tc, plugin=t2 - tp, build=t3 - t2)
        _last_input[ob.name] = key
        _status.pop(ob.name, None)
    finally:
        _busy = False


def set_enabled(ob, enabled, context):
    global _busy
    if enabled:
        if state.instance is None:
            _fail(ob, state.error or "the plug-in is not loaded")
            return
        if ob.type != "CURVE":
            _fail(ob, f"only curve objects can be dashed, not {ob.type.lower()} objects")
            return
        if ob.korrand.source is not None:
            _fail(ob, f"these are the dashes of {ob.korrand.source.name}; dash that instead")
            return
        res = _own_result(ob) or _new_result(ob)
        _move_look(ob, res)
        ob.hide_set(True)
        ob.hide_render = True
        refresh(ob, context.evaluated_depsgraph_get(), force=True)
        return
    for cache in (_status, _last_input, _spare, _out):
        cache.pop(ob.name, None)
    _held.discard(ob.name)
    res = _own_result(ob)
    _busy = True
    try:
        ob.korrand.result = None
        if res is not None:
            if res.type == "CURVE":
                _give_look_back(ob, res)
            data = res.data
            bpy.data.objects.remove(res)
            if data is not None and data.users == 0:
                bpy.data.curves.remove(data)
        ob.hide_render = False
        if ob.name in context.view_layer.objects:
            ob.hide_set(False)
    finally:
        _busy = False


# ---- Handlers -------------------------------------------------------------------------------

def _enabled_sources():
    return [ob for ob in bpy.data.objects
            if ob.type == "CURVE" and ob.korrand.enabled and not ob.korrand.source]


def _changed_sources(depsgraph):
    """Names of the dashed curves the depsgraph's last evaluation updated: their geometry, or
    their settings (animated or driven), or their result, held in edit mode, left it."""
    changed = set()
    for u in depsgraph.updates:
        original = getattr(u.id, "original", None)
        if isinstance(original, bpy.types.Object):
            if original.type != "CURVE":
                continue
            k = original.korrand
            if k.enabled and not k.source:
                last = _last_input.get(original.name)
                if u.is_updated_geometry or (last is not None and last[0] != _settings(original)):
                    changed.add(original.name)
            elif k.source is not None and k.source.name in _held and original.mode != "EDIT":
                changed.add(k.source.name)
        elif isinstance(original, (bpy.types.Curve, bpy.types.Key)):
            changed.update(ob.name for ob in _enabled_sources()
                           if ob.data == original or getattr(ob.data, "shape_keys", None) == original)
    return changed


def _refresh_named(names, depsgraph):
    for name in names:
        ob = bpy.data.objects.get(name)
        if ob is not None:
            refresh(ob, depsgraph)


@persistent
def _on_depsgraph(scene, depsgraph):
    if _busy or state.instance is None:
        return
    _forget_missing()
    _refresh_named(_changed_sources(depsgraph), depsgraph)


def _forget_missing():
    """Drops what is kept for curves deleted or renamed since: a large curve's copy of its
    points would otherwise stay until the file is closed."""
    objects = bpy.data.objects
    for name in [n for n in _last_input if objects.get(n) is None]:
        for cache in (_status, _last_input, _spare, _out):
            cache.pop(name, None)
        _held.discard(name)


@persistent
def _on_frame(scene, depsgraph=None):
    if _busy or state.instance is None:
        return
    if depsgraph is None:
        # No record of what the frame changed: every dashed curve is read, and dashed again
        # only when its line form differs.
        depsgraph = bpy.context.evaluated_depsgraph_get()
        _refresh_named([ob.name for ob in _enabled_sources()], depsgraph)
        return
    # A curve the frame left alone (not animated, nothing it depends on animated) is not read.
    _refresh_named(_changed_sources(depsgraph), depsgraph)


@persistent
def _on_reload(*_):
    # Undo, redo and loading replace every datablock: what was read before is unknown.
    _last_input.clear()
    _spare.clear()
    _out.clear()
    _status.clear()
    _held.clear()


_HANDLERS = (
    (bpy.app.handlers.depsgraph_update_post, _on_depsgraph),
    (bpy.app.handlers.frame_change_post, _on_frame),
    (bpy.app.handlers.undo_post, _on_reload),
    (bpy.app.handlers.redo_post, _on_reload),
    (bpy.app.handlers.load_post, _on_reload),
)


def install_handlers():
    for handlers, f in _HANDLERS:
        if f not in handlers:
            handlers.append(f)


def remove_handlers():
    for handlers, f in _HANDLERS:
        if f in handlers:
            handlers.remove(f)
