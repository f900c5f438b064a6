"""Reads a curve's points from Blender's splines straight: one bridge call for the whole curve,
where Blender's Python API takes one call per spline, and a large curve has thousands. Called
on Blender's thread of the add-on's handlers, never during evaluation. Blender does not
publish where it keeps splines, so the layout below is checked on the running Blender before
it is used, and the bridge checks each list whole before it reads; where either check fails,
the caller goes through the Python API."""

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
    """Lays a small curve out through the Python API, checks its records' pointers and counts
    against what the API reports, and reads its points the fast way. The checked SegmentList,
    or None when anything disagrees."""
    if ctypes.sizeof(ctypes.c_void_p) != 8:
        return None
    cu = None
    try:
        cu = bpy.data.curves.new("Korrand layout check", "CURVE")
        shapes = [[(0, 0, 0), (1, 0.5, 0), (2, 0, 1)], [(0, 1, 0), (3, 1, 0)]]
        for pts in shapes:
            s = cu.splines.new("POLY")
            s.points.add(len(pts) - 1)
            for p, xyz in zip(s.points, pts):
                p.co = (*xyz, 1.0)
        splines = cu.splines
        first, second = splines[0], splines[1]
        size = first.points[1].as_pointer() - first.points[0].as_pointer()
        a, b = first.as_pointer(), second.as_pointer()
        if (_pointer(a + _NEXT) != b or _pointer(b + _NEXT) is not None
                or ctypes.c_int32.from_address(a + _COUNT).value != 3
                or ctypes.c_int32.from_address(b + _COUNT).value != 2
                or _pointer(a + _POINTS) != first.points[0].as_pointer()
                or _pointer(b + _POINTS) != second.points[0].as_pointer()):
            return None
        layout = bridge.SegmentList(_NEXT, _COUNT, _POINTS, size)
        xyz = array.array("f", bytes(12 * 5))
        plugin.points_from_list(layout, a, array.array("i", [3, 2]), xyz)
        if xyz != array.array("f", [v for pts in shapes for p in pts for v in p]):
            return None
        return layout
    except (bridge.BridgeError, ValueError, IndexError):
        return None
    finally:
        if cu is not None:
            bpy.data.curves.remove(cu)


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
