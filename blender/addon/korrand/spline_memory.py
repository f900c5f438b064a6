"""Reads a curve's points from Blender's splines and writes a result's points into them
straight: one bridge call for the whole curve, where Blender's Python API takes one call per
spline, and a large curve's result has a hundred thousand splines. Called on Blender's main
thread only, from the add-on's handlers and property updates, never during evaluation.
Blender does not publish where it keeps splines, so the layout below is checked on the running
Blender before it is used, and the bridge checks each list whole before it reads or writes;
where either check fails, the caller goes through the Python API."""

import array
import ctypes
import sys

import bpy

from . import bridge
from .test_hook import hook

# Blender 3's spline record (Nurb) on 64-bit builds: the list's next pointer opens it, and its
# point count (pntsu, an int) and the pointer to its points (bp) sit at these byte offsets. A
# point (BPoint) opens with x, y, z, w floats.
_NEXT, _COUNT, _POINTS = 0, 24, 64

_layout = None
_checked = False


def _pointer(address):
    return ctypes.c_void_p.from_address(address).value


def _probe(plugin):
    """Dashes a small line form, lays its result out in a spare curve through the Python API,
    writes the points the fast way and reads them back the published way. The checked
    SegmentList, or None when anything disagrees."""
    if ctypes.sizeof(ctypes.c_void_p) != 8:
        return None
    inst = None
    cu = None
    try:
        inst = plugin.instance()
        cu = bpy.data.curves.new("Korrand layout check", "CURVE")
        points = array.array("d", [0, 0, 0, 1, 0.5, 0, 2, 0, 1, 0, 1, 0, 3, 1, 0])
        result = inst.dash(points, array.array("i", [3, 2]))
        counts = [c for c in result.counts if c > 0]
        if len(counts) < 2 or counts[0] < 2:
            return None
        for c in counts:
            cu.splines.new("POLY").points.add(c - 1)
        splines = cu.splines
        first, second, last = splines[0], splines[1], splines[len(counts) - 1]
        size = first.points[1].as_pointer() - first.points[0].as_pointer()
        a, b = first.as_pointer(), second.as_pointer()
        if (_pointer(a + _NEXT) != b or _pointer(last.as_pointer() + _NEXT) is not None
                or ctypes.c_int32.from_address(a + _COUNT).value != counts[0]
                or ctypes.c_int32.from_address(b + _COUNT).value != counts[1]
                or _pointer(a + _POINTS) != first.points[0].as_pointer()
                or _pointer(b + _POINTS) != second.points[0].as_pointer()):
            return None
        layout = bridge.SegmentList(_NEXT, _COUNT, _POINTS, size)

        def read(name, width):
            out = []
            for s in splines:
                buf = array.array("f", bytes(4 * width * len(s.points)))
                s.points.foreach_get(name, buf)
                out.append(buf)
            return out

        rest = [read(name, 1) for name in ("radius", "tilt", "weight_softbody")]
        inst.points_to_list(layout, a)
        want = inst.points_xyzw(result)
        got = array.array("f")
        for buf in read("co", 4):
            got.extend(buf)
        if got != want or rest != [read(name, 1) for name in ("radius", "tilt", "weight_softbody")]:
            return None
        xyz = array.array("f", bytes(12 * sum(counts)))
        plugin.points_from_list(layout, a, array.array("i", counts), xyz)
        del want[3::4]
        if xyz != want:
            return None
        return layout
    except (bridge.BridgeError, ValueError, IndexError):
        return None
    finally:
        if cu is not None:
            bpy.data.curves.remove(cu)
        if inst is not None:
            inst.close()


def layout(plugin):
    """The checked layout of the running Blender's splines, or None; checked once."""
    global _layout, _checked
    if not _checked:
        if bpy.app.is_job_running("RENDER"):
            return None  # no data is made while a render runs; checked after it
        try:
            _layout = _probe(plugin)
        except AttributeError:  # bpy.data is restricted here (add-on start-up): check later
            return None
        _checked = True
        if _layout is None:
            print("Korrand: Blender's splines are not laid out as expected; the result is "
                  "written through the Python API, one call per spline", file=sys.stderr)
    return _layout


def write(plugin, inst, splines):
    """Writes the points of inst's last dash into splines when their structure matches it.
    False when it does not, or when the caller must write through the Python API."""
    if not hook.direct_memory:
        return False
    found = layout(plugin)
    if found is None:
        return False
    try:
        first = splines[0].as_pointer()
    except IndexError:
        first = None  # no splines: right only for a result without segments
    try:
        inst.points_to_list(found, first)
    except bridge.BridgeError:
        return False  # a different structure; nothing was written
    return True


def read(plugin, splines, counts, into=None):
    """The x, y, z of every point of splines (whose point counts are counts) in one array of
    'f', and whether any differs from what into held; into, when given, holds 3 floats per
    point and is refilled. None when the caller must read through the Python API."""
    if not hook.direct_memory or len(counts) == 0:
        return None
    found = layout(plugin)
    if found is None:
        return None
    xyz = into if into is not None else array.array("f", bytes(12 * sum(counts)))
    try:
        moved = plugin.points_from_list(found, splines[0].as_pointer(), counts, xyz)
    except bridge.BridgeError:
        return None
    return xyz, moved or into is None
