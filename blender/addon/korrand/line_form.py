"""Reads a curve as Blender draws it: its line form, one segment per spline in Blender's order,
in the curve's object space, with whether each spline is cyclic. The curve itself is only read:
its look (bevel, extrude, fill) stays on it, so where Blender draws it with faces the centre
line is found on a bare copy made for the read and removed again."""

import array

import bpy

from . import spline_memory

# What makes Blender draw a curve with faces. A bare copy for reading has none of it.
_FACES = {"bevel_depth": 0.0, "extrude": 0.0, "bevel_object": None}


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


def _control_points_are_drawn(ob):
    """True when Blender draws ob's curve through its deformed control points: POLY splines
    only, every modifier applied to the control points (before tessellation)."""
    if any(s.type != "POLY" for s in ob.data.splines):
        return False
    return all(m.type in ("HOOK", "SOFT_BODY") or getattr(m, "use_apply_on_spline", False)
               for m in ob.modifiers if m.show_viewport)


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


def _read_control_points(plugin, ob, depsgraph, last):
    """The control points after shape keys, hooks and modifiers on the spline. A curve with
    none of them is read as stored, faster than a copy."""
    if ob.data.shape_keys is None and not any(m.show_viewport for m in ob.modifiers):
        return _read_splines(plugin, ob.data.splines, last)
    curve = ob.to_curve(depsgraph, apply_modifiers=True)
    try:
        return _read_splines(plugin, curve.splines, last)
    finally:
        ob.to_curve_clear()


def _wire(ob, splines):
    """The line form of ob's wire mesh (ob evaluated, or a bare copy); None when Blender draws
    faces there or has drawn nothing (a render does not evaluate a hidden curve's geometry
    unless something needs it)."""
    mesh = ob.to_mesh()
    try:
        if mesh is None or len(mesh.polygons):
            return None
        n = len(mesh.vertices)
        points = array.array("f", bytes(12 * n))
        mesh.vertices.foreach_get("co", points)
        edges = array.array("i", bytes(8 * len(mesh.edges)))
        mesh.edges.foreach_get("vertices", edges)
    finally:
        ob.to_mesh_clear()
    counts, cyclic = spline_counts(n, edges)
    # A spline Blender draws nothing of (a NURBS spline short of its order) has no segment.
    looks = _looks(splines) if len(splines) == len(counts) else None
    return LineForm(counts, points, 3, cyclic, looks)


def _bare_wire(ob, depsgraph):
    """The centre line of a curve that Blender draws with faces, or has not drawn: its
    deformed control points (shape keys, hooks; made on demand) in a copy without bevel,
    extrude or fill, drawn by Blender and removed again. Modifiers that act on the drawn mesh
    are not followed."""
    deformed = ob.to_curve(depsgraph, apply_modifiers=True)
    try:
        copy = deformed.copy()
    finally:
        ob.to_curve_clear()
    helper = None
    try:
        for name, value in _FACES.items():
            setattr(copy, name, value)
        if copy.dimensions == "2D":
            copy.fill_mode = "NONE"
        helper = bpy.data.objects.new("Korrand line form", copy)
        if copy.shape_keys is not None:
            helper.shape_key_clear()  # already applied to the points
        return _wire(helper, ob.data.splines)
    finally:
        if helper is not None:
            bpy.data.objects.remove(helper)
        bpy.data.curves.remove(copy)


class HeldInEditMode(Exception):
    """The curve cannot be read as drawn while it is edited; it is read when edit mode ends."""


def read(plugin, ob, depsgraph, last=None):
    """The line form of ob as Blender draws it. last: the form read before, whose points array
    may be refilled."""
    polys = _control_points_are_drawn(ob)
    if polys and ob.mode != "EDIT":
        return _read_control_points(plugin, ob, depsgraph, last)
    # In edit mode the points being edited are drawn, deformed as Blender shows them.
    form = _wire(ob.evaluated_get(depsgraph), ob.data.splines) if ob.data.splines else None
    if form is not None:
        return form
    if ob.mode == "EDIT":
        if polys:
            return _read_splines(plugin, ob.data.splines, last)  # the points as being edited
        # A bare copy would hold the curve as last stored, not as being edited.
        raise HeldInEditMode()
    form = _bare_wire(ob, depsgraph)
    if form is None:  # a bare copy without faces has none; drawing nothing, it has no points
        form = LineForm(array.array("i"), array.array("f"), 3, array.array("i"))
    return form
