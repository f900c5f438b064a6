"""Reads a curve as Blender draws it: its line form, one segment per spline in Blender's order,
in the curve's object space, with whether each spline is cyclic, as the modifiers that act on
its points shape it (those before the dash in its stack). The curve itself is only read: its
look (bevel, extrude, fill) stays on it, so where Blender draws it with faces the centre line is
drawn from a bare copy in the add-on's scratch object. The look the dashes take (the profile,
and the radius and normal at each point) is read the same way, from Blender's own sweep."""

import array
import hashlib

import bpy

from . import spline_memory

# What makes Blender draw a curve with faces. A bare copy for reading has none of it.
_FACES = {"bevel_depth": 0.0, "extrude": 0.0, "bevel_object": None, "offset": 0.0}


class LineForm:
    """counts: the point count of each segment; points: x, y, z at every stride floats, the
    segments back to back; cyclic: 1 for each segment whose spline is cyclic; looks: the
    (material index, smooth) of each segment's spline, or None when the segments do not
    match the curve's splines one to one.
    refilled: points is the last read form's array, refilled in place, so comparing the two
    says nothing; moved tells whether the refill changed any float of it."""

    def __init__(self, counts, points, stride, cyclic, looks=None, refilled=False, moved=True):
        self.counts, self.points, self.stride, self.cyclic = counts, points, stride, cyclic
        self.looks = looks
        self.refilled, self.moved = refilled, moved

    def same_as(self, last):
        """True when last, the form read before this one (or None), holds these points, flags
        and looks bit for bit."""
        if last is None or self.looks != last.looks:
            return False
        if self.refilled:
            return not self.moved and self.cyclic == last.cyclic
        return self == last

    def __eq__(self, other):
        # Through bytes: comparing float arrays directly costs a Python float per element (a
        # tenth of a second at a million points), and bits are what decide the output.
        return (isinstance(other, LineForm) and self.stride == other.stride
                and self.counts.tobytes() == other.counts.tobytes()
                and self.cyclic.tobytes() == other.cyclic.tobytes()
                and self.points.tobytes() == other.points.tobytes())

    def xyz(self):
        """All points as packed x, y, z triples."""
        if self.stride == 3:
            return self.points
        out = array.array("f", bytes(12 * (len(self.points) // self.stride)))
        for k in range(3):
            out[k::3] = self.points[k::self.stride]
        return out


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
    """Point counts of the splines of a curve's wire mesh, and 1 for each cyclic one. Blender
    writes each spline's points in order with edges (i, i + 1) between them, the closing edge
    of a cyclic spline last."""
    counts, cyclic = array.array("i"), array.array("i")
    m = len(edges) // 2
    seconds, firsts = edges[1:-1:2], edges[2::2]  # edge i ends where edge i + 1 starts, in a run
    nxt = 0  # first vertex not yet in a spline
    start = 0
    while start < m:
        end = _first_mismatch(seconds, firsts, start)  # the run is edges start..end
        first = edges[2 * start]
        a, b = edges[2 * end], edges[2 * end + 1]
        last = a if b < a else b
        lone = first - nxt  # lone points have no edges
        counts.extend([1] * lone)
        cyclic.extend([0] * lone)
        counts.append(last - first + 1)
        cyclic.append(1 if b < a else 0)
        nxt = last + 1
        start = end + 1
    counts.extend([1] * (vertex_count - nxt))
    cyclic.extend([0] * (vertex_count - nxt))
    if sum(counts) != vertex_count:
        raise ValueError("the curve's points are not in spline order")
    return counts, cyclic


def korrand_modifiers(ob):
    """ob's Korrand Dash modifiers: one, unless the artist copied it."""
    return [m for m in ob.modifiers if m.type == "NODES" and m.node_group is not None and
            m.node_group.get("korrand_group") == "dash"]


def korrand_modifier(ob):
    """ob's Korrand Dash modifier, or None."""
    found = korrand_modifiers(ob)
    return found[0] if found else None


def _before_dash(ob):
    """The modifiers that come before the dash in ob's stack (all of them without it)."""
    out = []
    for m in ob.modifiers:
        if m.type == "NODES" and m.node_group is not None and m.node_group.get(
                "korrand_group") == "dash":
            break
        out.append(m)
    return out


def acts_on_points(m):
    """True when Blender applies modifier m to the curve's control points, before it draws the
    curve: those shape the curve the dash follows."""
    return m.type in ("HOOK", "SOFT_BODY") or getattr(m, "use_apply_on_spline", False)


def unfollowed(ob):
    """The names of the modifiers before the dash that act on what Blender draws of the curve,
    not on its points: the dash does not see them."""
    return [m.name for m in _before_dash(ob) if m.show_viewport and not acts_on_points(m)]


def _control_points_are_drawn(ob):
    """True when Blender draws ob's curve through its deformed control points: POLY splines
    only, every modifier before the dash applied to the control points."""
    if any(s.type != "POLY" for s in ob.data.splines):
        return False
    return all(acts_on_points(m) for m in _before_dash(ob) if m.show_viewport)


def _looks(splines):
    n = len(splines)
    material, smooth = array.array("i", bytes(4 * n)), array.array("b", bytes(n))
    splines.foreach_get("material_index", material)
    splines.foreach_get("use_smooth", smooth)
    return material, smooth


def _read_splines(plugin, splines, last):
    counts = array.array("i", bytes(4 * len(splines)))
    splines.foreach_get("point_count_u", counts)
    cyclic = array.array("i", bytes(4 * len(splines)))
    splines.foreach_get("use_cyclic_u", cyclic)
    looks = _looks(splines)
    # Straight from Blender's splines in one bridge call, into the last read's array when the
    # counts are the same; the bridge says whether any point moved.
    reuse = (last is not None and last.stride == 3
             and last.counts.tobytes() == counts.tobytes())
    read = spline_memory.read(plugin, splines, counts, last.points if reuse else None)
    if read is not None:
        points, moved = read
        return LineForm(counts, points, 3, cyclic, looks, refilled=reuse, moved=moved)
    # Through the Python API, a call per spline.
    points = array.array("f")
    for s, c in zip(splines, counts):
        chunk = array.array("f", bytes(16 * c))
        s.points.foreach_get("co", chunk)
        points.extend(chunk)
    return LineForm(counts, points, 4, cyclic, looks)


def _spread(splines):
    """The radius and tilt of every point of splines (POLY), as bytes."""
    out = []
    for s in splines:
        for name in ("radius", "tilt"):
            values = array.array("f", bytes(4 * len(s.points)))
            s.points.foreach_get(name, values)
            out.append(values.tobytes())
    return b"".join(out)


# What Blender sweeps a curve's profile by, besides its points' positions and spread.
_SWEEP = ("dimensions", "fill_mode", "twist_mode", "twist_smooth", "taper_radius_mode",
          "use_map_taper", "resolution_u", "render_resolution_u")


def sweep_key(ob, depsgraph, form):
    """What the channels of ob's form (see channels) follow besides its points' positions: its
    points' radius and tilt and the curve's twist and taper settings. A tilt edit moves no
    point, yet turns the profile."""
    cu = ob.data
    spread = getattr(form, "fingerprint", None)  # drawn from a copy: its points' every value
    if spread is None:  # read from its splines, as read() reads them
        if edited(ob) or _stored(ob):
            spread = _spread(cu.splines)
        else:
            curve = ob.to_curve(depsgraph, apply_modifiers=True)
            try:
                spread = _spread(curve.splines)
            finally:
                ob.to_curve_clear()
    # A taper object's shape, as drawn at this frame: animated, it moves no point of ob.
    taper = cu.taper_object
    drawn = _drawn_for_another(taper, depsgraph) if taper is not None and \
        taper.type == "CURVE" else None
    tapered = (drawn[0].tobytes(), drawn[1].tobytes()) if drawn is not None else None
    return tuple(getattr(cu, name) for name in _SWEEP), spread, tapered


def edited(ob):
    """True when ob's curve data is being edited, in ob or in another object sharing it (Alt+D):
    its splines are then the edit's, and what Blender evaluates follows them. A sharing object
    with modifiers of its own before the dash (a hook) is read as Blender evaluates it, as
    before: the edit's splines would drop them."""
    return ob.mode == "EDIT" or (ob.data.is_editmode and
                                 not any(m.show_viewport for m in _before_dash(ob)))


def _stored(ob):
    """True when nothing shapes ob's control points after they are stored: no shape keys, no
    modifier before the dash, no animation of the curve's data (a render's frames are evaluated
    apart from the stored data, which stays at the frame the file shows)."""
    return ob.data.shape_keys is None and not any(m.show_viewport for m in _before_dash(ob)) \
        and not animated(ob.data)


def animated(idb):
    """True when an action, a driver or an NLA track animates data-block idb."""
    anim = idb.animation_data if idb is not None else None
    return anim is not None and (anim.action is not None or bool(anim.drivers) or
                                 bool(anim.nla_tracks))


def still(ob):
    """True when no frame can move ob's points: nothing animates its curve data or shape keys,
    no modifier comes before the dash nor a hook anywhere (one added below it is moved up when
    the curve is read), no armature or lattice parent deforms it, and it is not being edited.
    (Its transform and settings are checked at every frame apart.)"""
    cu = ob.data
    return not edited(ob) and not animated(cu) and not animated(cu.shape_keys) and \
        not _before_dash(ob) and not any(m.type in ("HOOK", "SOFT_BODY") for m in ob.modifiers) \
        and ob.parent_type not in ("ARMATURE", "LATTICE")


def read_as_stored(ob):
    """True when read takes ob's points straight from its splines, as stored or as being
    edited, nothing that Blender evaluates in between: POLY splines, and out of edit mode no
    shape keys or modifiers before the dash."""
    return _control_points_are_drawn(ob) and (edited(ob) or _stored(ob))


def _read_control_points(plugin, ob, depsgraph, last):
    """The control points after shape keys, hooks and modifiers on the spline. A curve with
    none of them is read as stored, faster than a copy."""
    if _stored(ob):
        return _read_splines(plugin, ob.data.splines, last)
    curve = ob.to_curve(depsgraph, apply_modifiers=True)
    try:
        return _read_splines(plugin, curve.splines, last)
    finally:
        ob.to_curve_clear()


def mesh_points_and_edges(mesh):
    """A mesh's x, y, z floats and its edges' point pairs, as arrays."""
    co = array.array("f", bytes(12 * len(mesh.vertices)))
    mesh.vertices.foreach_get("co", co)
    edges = array.array("i", bytes(8 * len(mesh.edges)))
    mesh.edges.foreach_get("vertices", edges)
    return co, edges


def _wire(ob, splines, swept=False):
    """The line form of the wire mesh Blender draws of ob, a bare copy; None when it draws
    faces there. swept: the curve itself sweeps a profile."""
    mesh = ob.to_mesh()
    try:
        if mesh is None or len(mesh.polygons):
            return None
        points, edges = mesh_points_and_edges(mesh)
        n = len(points) // 3
    finally:
        ob.to_mesh_clear()
    counts, cyclic = spline_counts(n, edges)
    # A spline Blender draws nothing of (a NURBS spline short of its order) has no segment.
    looks = _looks(splines) if len(splines) == len(counts) else None
    if swept and looks is not None:
        counts, points = _unswept_to_points(splines, counts, points)
    return LineForm(counts, points, 3, cyclic, looks)


def _unswept_to_points(splines, counts, points):
    """A NURBS spline Blender calls invalid (Bezier knots short of a point, say) is drawn as a
    bare wire, but a profile is not swept along it: the curve shows nothing there, and its
    segment becomes its first point, which has no dashes."""
    invalid = {i for i, s in enumerate(splines) if s.type == "NURBS" and s.valid_message(0)}
    if not invalid:
        return counts, points
    kept_counts, kept = array.array("i"), array.array("f")
    at = 0
    for i, c in enumerate(counts):
        kept_counts.append(1 if i in invalid and c > 0 else c)
        kept.extend(points[3 * at:3 * (at + kept_counts[-1])])
        at += c
    return kept_counts, kept


_SPLINE = ("order_u", "resolution_u", "use_cyclic_u", "use_endpoint_u", "use_bezier_u",
           "use_smooth", "material_index", "tilt_interpolation", "radius_interpolation")
_CURVE = ("dimensions", "resolution_u", "twist_mode", "twist_smooth", "taper_object",
          "taper_radius_mode", "use_map_taper", "bevel_mode", "bevel_depth", "bevel_resolution",
          "extrude", "offset", "bevel_object", "fill_mode", "use_fill_caps",
          "bevel_factor_start", "bevel_factor_end", "bevel_factor_mapping_start",
          "bevel_factor_mapping_end")
# Per point: name, width, typecode
_BEZIER_POINT = (("handle_left_type", 1, "i"), ("handle_right_type", 1, "i"), ("co", 3, "f"),
                 ("handle_left", 3, "f"), ("handle_right", 3, "f"), ("radius", 1, "f"),
                 ("tilt", 1, "f"))
_POINT = (("co", 4, "f"), ("radius", 1, "f"), ("tilt", 1, "f"), ("weight", 1, "f"))
_SCRATCH = "korrand_scratch"
_scratch_name = ""  # the scratch object's name, last seen


def is_scratch(ob):
    """True for the add-on's scratch object (see _scratch)."""
    return bool(ob.get(_SCRATCH))


def _scratch():
    """A curve object of the add-on's own, in no scene and used by nothing (so never saved;
    its curve is removed before a save, see drop_scratch), that Blender draws on request: the
    reads below fill it instead of making and removing data-blocks, which some of Blender's
    operators cannot have happen under them (removing any data-block clears the marks
    Object > Convert keeps on the data it has still to convert). Made again when missing (undo,
    loading and saving drop it)."""
    global _scratch_name
    # Found by its name first: looking through every object for each curve read made an update
    # of hundreds of curves take a square of their number.
    ob = bpy.data.objects.get(_scratch_name) if _scratch_name else None
    if ob is not None and ob.get(_SCRATCH) and ob.type == "CURVE" and ob.library is None:
        return ob
    for ob in bpy.data.objects:
        if ob.get(_SCRATCH) and ob.type == "CURVE" and ob.library is None:
            _scratch_name = ob.name
            return ob
    cu = bpy.data.curves.new("Korrand scratch", "CURVE")
    ob = bpy.data.objects.new("Korrand scratch", cu)
    ob[_SCRATCH] = 1
    _scratch_name = ob.name
    return ob


def drop_scratch():
    """Removes the scratch object and its curve: the object is not saved, but its curve, used
    by it, would be, an orphan in the artist's file."""
    for ob in [o for o in bpy.data.objects if o.get(_SCRATCH) and o.library is None]:
        data = ob.data
        bpy.data.objects.remove(ob)
        if data is not None and data.users == 0:
            bpy.data.curves.remove(data)


def _bulk(items, name, width, code):
    values = array.array(code, bytes(array.array(code).itemsize * width * len(items)))
    items.foreach_get(name, values)
    return values


def _fill(cu, source, splines):
    """Makes cu a copy of source's settings (a curve) and of splines."""
    for name in _CURVE:
        value = getattr(source, name)
        if getattr(cu, name) != value:
            setattr(cu, name, value)
    cu.splines.clear()
    for s in splines:
        t = cu.splines.new(s.type)
        if s.type == "BEZIER":
            points, mine = s.bezier_points, t.bezier_points
            table = _BEZIER_POINT
        else:
            points, mine = s.points, t.points
            table = _POINT
        if len(points) > 1:
            mine.add(len(points) - 1)
        for name, width, code in table:
            mine.foreach_set(name, _bulk(points, name, width, code))
        for name in _SPLINE:
            setattr(t, name, getattr(s, name))


class _BareCopy:
    """ob's curve as shaped by the modifiers that act on its points (shape keys, hooks), or as
    being edited, with bevel, extrude and fill taken off, in the add-on's scratch object, which
    Blender draws on request (to_mesh)."""

    def __init__(self, ob, depsgraph, render=True):
        self.ob, self.depsgraph, self.render = ob, depsgraph, render

    def __enter__(self):
        ob = self.ob
        self.helper = _scratch()
        self.curve = self.helper.data
        if edited(ob):
            _fill(self.curve, ob.data, ob.data.splines)  # the splines as being edited
        else:
            deformed = ob.to_curve(self.depsgraph, apply_modifiers=True)
            try:
                _fill(self.curve, ob.data, deformed.splines)
            finally:
                ob.to_curve_clear()
        # Drawn as Blender renders it: a render (and a bake for a farm) at a viewport
        # resolution below the render's would show faceted dashes on a smooth curve.
        render = ob.data.render_resolution_u if self.render else 0
        if render:
            for s in self.curve.splines:
                s.resolution_u = render
        for name, value in _FACES.items():
            setattr(self.curve, name, value)
        self.curve.taper_object = None
        if self.curve.dimensions == "2D":
            self.curve.fill_mode = "NONE"
        return self

    def __exit__(self, *_):
        self.curve.splines.clear()
        self.curve.bevel_object = self.curve.taper_object = None  # holds no user of them


class HeldInEditMode(Exception):
    """The curve cannot be read as drawn while it is edited; it is read when edit mode ends."""


def read(plugin, ob, depsgraph, last=None):
    """The line form of ob as Blender draws it, shaped by the modifiers that act on its points.
    last: the form read before, whose points array may be refilled. Its render_u is the curve's
    Render U it was read at."""
    form = _read(plugin, ob, depsgraph, last)
    form.render_u = ob.data.render_resolution_u
    return form


def _read(plugin, ob, depsgraph, last):
    if _control_points_are_drawn(ob):
        if edited(ob):
            return _read_splines(plugin, ob.data.splines, last)  # the points as being edited
        return _read_control_points(plugin, ob, depsgraph, last)
    with _BareCopy(ob, depsgraph) as bare:
        # Drawing the copy costs more than comparing its control points with the last read's:
        # a curve that did not move (most frames of an animation) is not drawn again.
        swept = sweeps(ob.data)
        fingerprint = _fingerprint(bare.curve) + (b"\0swept" if swept else b"")
        if last is not None and getattr(last, "fingerprint", None) == fingerprint:
            # The splines' materials are the stored ones': the evaluated copy keeps its own
            # after an Assign in edit mode.
            looks = _looks(ob.data.splines) if last.looks is not None else None
            if looks == last.looks:
                return last
            form = LineForm(last.counts, last.points, last.stride, last.cyclic, looks)
            form.fingerprint = fingerprint
            return form
        form = _wire(bare.helper, ob.data.splines, swept)
    if form is None:  # a bare copy without faces has none; drawing nothing, it has no points
        form = LineForm(array.array("i"), array.array("f"), 3, array.array("i"))
    form.fingerprint = fingerprint
    return form


def _fingerprint(cu):
    """Everything of a curve its wire is drawn from, as bytes."""
    out = [repr([getattr(cu, name) for name in ("dimensions", "resolution_u")]).encode()]
    for s in cu.splines:
        out.append(repr([s.type] + [getattr(s, name) for name in _SPLINE]).encode())
        table = _BEZIER_POINT if s.type == "BEZIER" else _POINT
        points = s.bezier_points if s.type == "BEZIER" else s.points
        for name, width, code in table:
            out.append(_bulk(points, name, width, code).tobytes())
    return b"\0".join(out)


def digest(cu):
    """A short digest of a curve's own data: its settings, its splines' points and its shape
    keys (their values where they are not animated). Blender reports a curve's data as updated
    also when only its relations were built again (a bake wired in), so a bake compares this
    to tell whether the curve changed since."""
    settings = [getattr(cu, name) for name in _CURVE]
    settings = [v.name if isinstance(v, bpy.types.ID) else v for v in settings]
    parts = [repr(settings).encode(), _fingerprint(cu)]
    key = cu.shape_keys
    if key is not None:
        animated = key.animation_data is not None
        parts.append(repr([key.use_relative, None if animated else key.eval_time]).encode())
        for kb in key.key_blocks:
            parts.append(repr([kb.name, kb.mute, kb.relative_key.name, kb.interpolation,
                               kb.vertex_group, None if animated else kb.value]).encode())
            parts.append(_key_points(kb.data))
    return hashlib.sha1(b"\0".join(parts)).hexdigest()


def _key_points(points):
    """A shape key's points as bytes (a curve's key mixes Bezier and other points when its
    splines do: then through Python, point by point)."""
    out = []
    for name, width in (("co", 3), ("handle_left", 3), ("handle_right", 3), ("tilt", 1),
                        ("radius", 1)):
        try:
            out.append(_bulk(points, name, width, "f").tobytes())
        except (AttributeError, TypeError, RuntimeError):
            out.append(repr([tuple(getattr(p, name, ())) if width == 3 else
                             getattr(p, name, None) for p in points]).encode())
    return b"\0".join(out)


def channels(plugin, ob, depsgraph, form, taper=True):
    """What the curve's profile follows at each point of form: the scale of its profile there
    (point radius with the taper object's taper, as Blender sweeps it) and its normal (twist
    and tilt), as an array of 'f' of radius, nx, ny, nz per point; None where they cannot be
    matched to form's points (the curve's splines drawn differently). Blender sweeps a round
    profile of radius 1 along a copy; each ring's centre is the point, and its first vertex on
    the normal side lies one radius along the normal. taper: False leaves the taper out (the
    point radius alone). With them, the splines Blender sweeps from their end (see
    bridge.ring_channels), whose dashes are swept that way too."""
    if not len(form.counts):
        return array.array("f"), array.array("i")
    with _BareCopy(ob, depsgraph) as bare:
        cu = bare.curve
        cu.taper_object = ob.data.taper_object if taper else None
        cu.bevel_mode, cu.bevel_depth, cu.bevel_resolution = "ROUND", 1.0, 0
        # A ring at every point, the whole length: the dashes are trimmed as the curve is
        # (trim_ranges), after they are swept.
        cu.bevel_factor_start, cu.bevel_factor_end = 0.0, 1.0
        cu.use_fill_caps = False
        if cu.dimensions == "3D":
            cu.fill_mode = "FULL"
        mesh = bare.helper.to_mesh()
        try:
            rings = array.array("f", bytes(12 * len(mesh.vertices)))
            mesh.vertices.foreach_get("co", rings)
        finally:
            bare.helper.to_mesh_clear()
    xyz = form.xyz()
    if len(rings) != 4 * len(xyz):
        return None
    # Blender may start a cyclic spline's rings at another point than its wire, or run them from
    # its end: the bridge matches them to the points by position (in C: a curve of 10,000
    # splines has hundreds of thousands of points).
    return plugin.ring_channels(rings, xyz, form.counts)


def _drawn_for_another(ob, depsgraph):
    """The x, y, z floats and edges of curve object ob as Blender draws it for another curve's
    bevel or taper, or None when it draws nothing. Blender reads it before its own modifiers:
    dashed itself, it still gives its whole wire."""
    if depsgraph is not None and korrand_modifier(ob) is not None:
        with _BareCopy(ob, depsgraph, render=False) as bare:
            mesh = bare.helper.to_mesh()
            try:
                return mesh_points_and_edges(mesh) if mesh is not None and len(
                    mesh.vertices) else None
            finally:
                bare.helper.to_mesh_clear()
    drawn = ob.evaluated_get(depsgraph) if depsgraph is not None else ob
    mesh = drawn.to_mesh()
    try:
        return mesh_points_and_edges(mesh) if mesh is not None and len(mesh.vertices) else None
    finally:
        drawn.to_mesh_clear()


# The settings of a curve's profile that an artist keys (a bevel growing over a shot).
_ANIMATED_PROFILE = ("bevel_depth", "bevel_resolution", "extrude", "offset")


def _evaluated(idb, depsgraph):
    """idb as the depsgraph evaluated it: a render animates its frame's copy, not the stored
    data, which stays at the frame the file shows."""
    if depsgraph is None:
        return idb
    try:
        return idb.evaluated_get(depsgraph)
    except (RuntimeError, ReferenceError):
        return idb


def _evaluated_settings(ob, depsgraph):
    """ob's curve data with its animated profile settings as evaluated, read-only."""
    data = getattr(_evaluated(ob, depsgraph), "data", None)
    return data if isinstance(data, bpy.types.Curve) else ob.data


def _object_profile(src, depsgraph, settings):
    """The profile a bevel object gives, as Blender sweeps it: its first spline as drawn, x
    mirrored onto the normal side and scaled by the object's x scale, y by its y scale, the
    curve's offset added on the normal side. None when it draws nothing."""
    bevel = src.bevel_object
    drawn = _drawn_for_another(bevel, depsgraph)
    if drawn is None:
        return None
    co, edges = drawn
    counts, cyclic = spline_counts(len(co) // 3, edges)
    scale = _evaluated(bevel, depsgraph).scale
    sx, sy, offset = scale[0], scale[1], settings.offset
    points = [(-co[3 * i] * sx + offset, co[3 * i + 1] * sy) for i in range(counts[0])]
    return points, bool(cyclic[0]) and len(points) > 2


def sweeps(cu):
    """True when Blender sweeps a profile along curve cu: its bevel object, a curve, in Object
    mode (without one it draws the bare wire, whatever the depth); otherwise a bevel depth or
    an extrusion."""
    if cu.bevel_mode == "OBJECT":
        return cu.bevel_object is not None and cu.bevel_object.type == "CURVE"
    return cu.bevel_depth > 0 or cu.extrude > 0


def profile(ob, thickness=0.0, depsgraph=None):
    """The profile Blender sweeps along ob's curve (bevel, extrusion, bevel object or custom
    profile, with the offset), in the curve's normal (x) and binormal (y) directions at the
    curve's own scale, as ([(x, y), ...], closed); with none, a round one of the given
    thickness, or None. Blender sweeps it along a straight edge in the scratch object; the
    first ring is the profile."""
    src = ob.data
    now = _evaluated_settings(ob, depsgraph)
    if src.bevel_mode == "OBJECT" and src.bevel_object is not None:
        # Blender sweeps a bevel object only where it has drawn it: read from the depsgraph.
        return _object_profile(src, depsgraph, now) if src.bevel_object.type == "CURVE" \
            else None
    # Object mode without its object draws the bare wire, whatever the depth.
    has = src.bevel_mode != "OBJECT" and (now.bevel_depth > 0 or now.extrude > 0)
    if not has and not thickness > 0:
        return None
    helper = _scratch()
    cu = helper.data
    _fill(cu, src, ())
    for name in _ANIMATED_PROFILE:
        value = getattr(now, name)
        if getattr(cu, name) != value:
            setattr(cu, name, value)
    if src.bevel_mode == "PROFILE":
        _copy_profile(src.bevel_profile, cu.bevel_profile)
    try:
        if not has:
            cu.bevel_mode, cu.bevel_depth, cu.bevel_resolution = "ROUND", thickness / 2, 2
            cu.extrude = cu.offset = 0.0
            if cu.dimensions == "2D":
                cu.fill_mode = "NONE"
        s = cu.splines.new("POLY")
        s.points.add(1)
        s.points[1].co = (1, 0, 0, 1)
        cu.taper_object = None
        cu.use_fill_caps = False
        cu.bevel_factor_start, cu.bevel_factor_end = 0.0, 1.0
        mesh = helper.to_mesh()
        try:
            n = len(mesh.vertices) // 2
            co = array.array("f", bytes(12 * len(mesh.vertices)))
            mesh.vertices.foreach_get("co", co)
            closed = len(mesh.polygons) == n and n > 2
        finally:
            helper.to_mesh_clear()
    finally:
        cu.splines.clear()
        cu.bevel_object = cu.taper_object = None
    if n < 1:
        return None
    # The straight edge runs along x: its normal is y and its binormal z.
    return [(co[3 * i + 1], co[3 * i + 2]) for i in range(n)], closed


def _copy_profile(a, b):
    """Copies a custom bevel profile (a CurveProfile) into another."""
    b.preset, b.use_clip, b.use_sample_straight_edges, b.use_sample_even_lengths = \
        a.preset, a.use_clip, a.use_sample_straight_edges, a.use_sample_even_lengths
    while len(b.points) > 2:
        b.points.remove(b.points[1])
    for p in list(a.points)[1:-1]:
        b.points.add(p.location[0], p.location[1])
    for p, q in zip(a.points, b.points):
        q.location, q.handle_type_1, q.handle_type_2 = p.location, p.handle_type_1, \
            p.handle_type_2
    b.update()


# Factors closer than this draw an open spline not at all (Blender's float epsilon).
_SAME_FACTOR = 1.1920929e-07


def trim_settings(ob, depsgraph=None):
    """What trim_ranges needs of ob's curve besides its form, read as the depsgraph evaluated
    it (animated, driven): its start and end factors and their mappings, or None when Blender
    draws it whole (factors 0 and 1, or no bevel or extrusion to cut)."""
    cu = _drawn_curve(ob, depsgraph)
    f1, f2 = cu.bevel_factor_start, cu.bevel_factor_end
    if min(f1, f2) == 0.0 and max(f1, f2) == 1.0:
        return None
    return (f1, f2, cu.bevel_factor_mapping_start, cu.bevel_factor_mapping_end) \
        if sweeps(cu) else None


def trim_ranges(ob, form, settings):
    """Where along each of form's segments Blender draws ob, a bevelled or extruded curve
    drawn from its start to its end factor (Start & End Mapping; settings from trim_settings),
    for the dashes to show the same part: (start, end), arrays of 'd' of positions (a point
    index and a fraction, as the bridge's sources give them), or None when every segment is
    drawn whole. Cyclic splines are drawn whole; equal factors draw an open spline not at
    all."""
    if settings is None or not len(form.counts):
        return None
    f1, f2, mapping_start, mapping_end = settings
    n = len(form.counts)
    inf = float("inf")
    start, end = array.array("d", [-inf]) * n, array.array("d", [inf]) * n
    splines = ob.data.splines if form.looks is not None else None
    xyz = form.xyz()
    at = 0
    for i, count in enumerate(form.counts):
        if not form.cyclic[i] and count > 1:
            if abs(f2 - f1) < _SAME_FACTOR:
                start[i], end[i] = 1.0, 0.0
            else:
                by_points = mapping_start == mapping_end == "RESOLUTION"
                edges = None if by_points else _edge_lengths(xyz, at, count)
                segments = _segment_edges(splines[i], count) if splines is not None else None
                a = _position(mapping_start, f1, count, edges, segments)
                b = _position(mapping_end, f2, count, edges, segments)
                start[i], end[i] = min(a, b), max(a, b)
        at += count
    return start, end


def _edge_lengths(xyz, at, count):
    p = xyz[3 * at:3 * (at + count)]
    return [((p[k + 3] - p[k]) ** 2 + (p[k + 4] - p[k + 1]) ** 2 + (p[k + 5] - p[k + 2]) ** 2)
            ** 0.5 for k in range(0, 3 * count - 3, 3)]


def _segment_edges(spline, count):
    """The edges each control segment of spline spans among the count points read of it, and
    among the points Blender cuts it by (its bevel points, the units of its Resolution and
    Segments mappings): two lists, or None when they are its edges, one each (a POLY spline,
    whose Segments mapping is then by length), or cannot be told."""
    if spline.type == "BEZIER" and len(spline.bezier_points) > 1:
        b = spline.bezier_points
        per, rest = divmod(count - 1, len(b) - 1)
        if per < 1 or rest:
            return None
        # A segment whose both handles are vectors is read as per points on a straight line,
        # but Blender cuts it as one edge.
        return [per] * (len(b) - 1), [
            1 if b[k].handle_right_type == "VECTOR" and b[k + 1].handle_left_type == "VECTOR"
            else per for k in range(len(b) - 1)]
    if spline.type == "NURBS" and len(spline.points) > 1:
        # Drawn as resolution points per segment; Blender's last segment has one edge less.
        segments = len(spline.points) - 1
        per, rest = divmod(count, segments)
        if per < 1 or rest:
            return None
        edges = [per] * (segments - 1) + [per - 1]
        return edges, edges
    return None


def _position(mapping, factor, count, edges, segments):
    """The position where a factor falls on a segment of count points and these edge lengths,
    by Blender's mapping: RESOLUTION by its bevel points, SPLINE by length, SEGMENTS by the
    control segments' lengths (segments: their edges, from _segment_edges) and, within one,
    by its bevel points."""
    read, cut = segments if segments is not None else (None, None)
    last = sum(cut) if cut is not None else count - 1  # Blender's last bevel point

    def from_cut(at):  # a position among Blender's bevel points, among the points read
        if read == cut:
            return at
        before = done = 0
        for r, c in zip(read, cut):
            if c and at <= done + c:
                return before + (at - done) / c * r
            before, done = before + r, done + c
        return float(before)

    if mapping == "RESOLUTION":
        return from_cut(factor * last)
    total = sum(edges)
    if not total > 0:
        return from_cut(factor * last)
    if mapping == "SEGMENTS" and segments is not None:
        share_done, k, done = 0.0, 0, 0
        for r, c in zip(read, cut):
            share = sum(edges[k:k + r]) / total
            if share_done + share > factor:
                return from_cut(done + (factor - share_done) / share * c)
            share_done, k, done = share_done + share, k + r, done + c
        return from_cut(factor * last)
    target, length = factor * total, 0.0
    for k, e in enumerate(edges):
        if length + e > target:
            return k + (target - length) / e
        length += e
    return float(count - 1)


def _drawn_curve(ob, depsgraph):
    """ob's curve data as the depsgraph evaluated it (animated, driven), or as stored."""
    if depsgraph is not None:
        drawn = getattr(ob.evaluated_get(depsgraph), "data", None)
        if hasattr(drawn, "bevel_factor_end"):
            return drawn
    return ob.data


def maps_taper(ob, depsgraph=None):
    """True when ob's taper object is fitted between its start and end factors (Map Taper)."""
    cu = _drawn_curve(ob, depsgraph)
    return bool(cu.use_map_taper) and cu.taper_object is not None and \
        cu.taper_object.type == "CURVE"


def _taper_line(taper, depsgraph):
    """The first spline of a taper object as Blender draws it: its points' (x, y)."""
    drawn = _drawn_for_another(taper, depsgraph)
    if drawn is None:
        return []
    co, edges = drawn
    counts, _ = spline_counts(len(co) // 3, edges)
    return [(co[3 * i], co[3 * i + 1]) for i in range(counts[0] if counts else 0)]


def _taper_at(line, factor):
    """The taper's value a factor of the way along it, as Blender reads a taper: its y where
    its x lies that far from its first point's x to its last's."""
    if not line or not line[-1][0] - line[0][0] > 0:
        return 1.0
    minx, dx = line[0][0], line[-1][0] - line[0][0]
    for a, (x, y) in enumerate(line):
        f2 = (x - minx) / dx
        if f2 >= factor:
            if a > 0:
                x1, y1 = line[a - 1]
                f1 = (x1 - minx) / dx
                if f1 != f2:
                    return y * (f1 - factor) / (f1 - f2) + y1 * (factor - f2) / (f1 - f2)
            return y
    return line[-1][1]


def map_taper(ob, depsgraph, form, channels, trim):
    """channels (swept without the taper: the point radius alone) with the taper fitted
    between each segment's start and end (trim_ranges), as Blender sweeps a curve with Map
    Taper: its first value at the start, its last at the end. The values at the points on
    either side of a start or end between two points are set so that, interpolated, they give
    the end rings' values there."""
    cu = _drawn_curve(ob, depsgraph)
    line = _taper_line(cu.taper_object, depsgraph)
    mode = cu.taper_radius_mode

    def combine(taper, radius):
        if mode == "MULTIPLY":
            return taper * radius
        return taper + radius if mode == "ADD" else taper

    out = array.array("f", channels)
    at = 0
    for i, count in enumerate(form.counts):
        a, b = trim[0][i], trim[1][i]
        if not (a > float("-inf") and b < float("inf")):
            a, b = 0.0, float(count - 1)
        if b > a and count > 1:
            radius = [channels[4 * (at + k)] for k in range(count)]
            for k in range(count):
                out[4 * (at + k)] = combine(_taper_at(line, (k - a) / (b - a)), radius[k])
            # A start or end between two points is a ring of its own, with the radius of the
            # point before a start, after an end: the values of the points around it are set
            # so that, interpolated, they give its value there and the next ring's beyond.
            f, g = int(a), int(b)
            va = combine(_taper_at(line, 0.0), radius[f])
            vb = combine(_taper_at(line, 1.0), radius[min(g + 1, count - 1)])
            if a != f:
                x2, v2 = (b, vb) if b < f + 1 else (f + 1, out[4 * (at + f + 1)])
                out[4 * (at + f)] = _through(a, va, x2, v2, f)
                if b < f + 1:
                    out[4 * (at + f + 1)] = _through(a, va, x2, v2, f + 1)
            if b != g and g + 1 < count:
                x1, v1 = (a, va) if a > g else (g, out[4 * (at + g)])
                out[4 * (at + g + 1)] = _through(x1, v1, b, vb, g + 1)
        at += count
    return out


def _through(x1, v1, x2, v2, x):
    """The value at x of the line through (x1, v1) and (x2, v2)."""
    return v1 + (v2 - v1) * (x - x1) / (x2 - x1)
