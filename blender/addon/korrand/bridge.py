"""The plug-in through the korrand_bridge library, called with ctypes (standard library only)."""

import array
import ctypes
import os
import sys

BRIDGE_VERSION = 12  # the KORRAND_BRIDGE_VERSION this module was written for

TYPE_LONG, TYPE_BOOL, TYPE_REAL, TYPE_BUTTON = 1, 2, 3, 4


class BridgeError(Exception):
    pass


class _Parameter(ctypes.Structure):
    _fields_ = [
        ("id", ctypes.c_int32),
        ("type", ctypes.c_int32),
        ("name", ctypes.c_char_p),
        ("label", ctypes.c_char_p),
        ("has_default", ctypes.c_int32),
        ("has_min", ctypes.c_int32),
        ("has_max", ctypes.c_int32),
        ("default_value", ctypes.c_double),
        ("min", ctypes.c_double),
        ("max", ctypes.c_double),
        ("key", ctypes.c_char_p),
        ("help", ctypes.c_char_p),
        ("off", ctypes.c_char_p),
        ("hidden", ctypes.c_int32),
    ]


class _Line(ctypes.Structure):
    _fields_ = [
        ("points", ctypes.POINTER(ctypes.c_double)),
        ("point_count", ctypes.c_int64),
        ("counts", ctypes.POINTER(ctypes.c_int32)),
        ("segment_count", ctypes.c_int32),
        ("result", ctypes.c_int32),
    ]


class SegmentList(ctypes.Structure):
    """How a host keeps a curve's segments in memory (korrand_points_from_list)."""
    _fields_ = [
        ("next_offset", ctypes.c_int32),
        ("count_offset", ctypes.c_int32),
        ("points_offset", ctypes.c_int32),
        ("point_size", ctypes.c_int32),
    ]


class _LineObject(ctypes.Structure):
    _fields_ = [
        ("first_segment", ctypes.c_int32),
        ("segment_count", ctypes.c_int32),
        ("first_setting", ctypes.c_int32),
        ("setting_count", ctypes.c_int32),
    ]


class Parameter:
    """One parameter of the plug-in's description resource, named by its host-side key."""

    def __init__(self, p):
        self.id = p.id
        self.type = p.type
        self.name = p.name.decode()
        self.key = p.key.decode()
        self.label = p.label.decode()
        self.help = p.help.decode()
        self.off = p.off.decode()  # a boolean's name for false ("open"), or ""
        self.hidden = p.hidden == 1
        self.default = p.default_value if p.has_default else None
        self.min = p.min if p.has_min else None
        self.max = p.max if p.has_max else None


def _library_name():
    if sys.platform == "win32":
        return "korrand_bridge.dll"
    if sys.platform == "darwin":
        return "libkorrand_bridge.dylib"
    return "libkorrand_bridge.so"


def _load(path):
    lib = ctypes.CDLL(path)
    # Asked before anything else is bound: an older or incompatible bridge may lack entries.
    try:
        compatible = lib.korrand_bridge_version_is_compatible
    except AttributeError:
        raise BridgeError(f"{path}: a bridge older than version {BRIDGE_VERSION}") from None
    compatible.restype, compatible.argtypes = ctypes.c_int32, [ctypes.c_int32]
    if compatible(BRIDGE_VERSION) != 1:
        lib.korrand_bridge_version.restype = ctypes.c_int32
        raise BridgeError(f"{path}: bridge version {lib.korrand_bridge_version()} does not "
                          f"serve this add-on, written for version {BRIDGE_VERSION}")
    lib.korrand_last_error.restype, lib.korrand_last_error.argtypes = ctypes.c_char_p, []

    def check(status, function, args):
        # Every entry that answers a KorrandStatus: a failure becomes a BridgeError with the
        # bridge's own one-line reason.
        if status != 0:
            raise BridgeError(lib.korrand_last_error().decode() or
                              f"{function.__name__}: error {status}")
        return status

    P, I = ctypes.c_void_p, ctypes.c_void_p
    status = "status"  # an int32 KorrandStatus, checked
    sig = {
        "korrand_bridge_version": (ctypes.c_int32, []),
        "korrand_open": (status, [ctypes.c_char_p, ctypes.POINTER(P)]),
        "korrand_close": (None, [P]),
        "korrand_plugin_id": (ctypes.c_int32, [P]),
        "korrand_plugin_name": (ctypes.c_char_p, [P]),
        "korrand_parameter_count": (ctypes.c_int32, [P]),
        "korrand_parameter": (status, [P, ctypes.c_int32, ctypes.POINTER(_Parameter)]),
        "korrand_set_block_limit": (None, [ctypes.c_int64]),
        "korrand_host_alive": (None, [ctypes.POINTER(ctypes.c_int64)] * 2),
        "korrand_instance_create": (status, [P, ctypes.POINTER(I)]),
        "korrand_instance_destroy": (None, [I]),
        "korrand_set": (status, [I, ctypes.c_int32, ctypes.c_double]),
        "korrand_get": (status, [I, ctypes.c_int32, ctypes.POINTER(ctypes.c_double)]),
        "korrand_command": (status, [I, ctypes.c_int32, ctypes.POINTER(ctypes.c_char_p)]),
        "korrand_dash_objects": (status, [I, ctypes.c_void_p, ctypes.c_int32, ctypes.c_void_p,
                                          ctypes.c_int32, ctypes.c_void_p,
                                          ctypes.POINTER(_LineObject), ctypes.c_int32,
                                          ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                                          ctypes.POINTER(_Line)]),
        "korrand_set_traced": (None, [I, ctypes.c_int32]),
        "korrand_period_count": (ctypes.c_int32, [ctypes.c_double, ctypes.c_double]),
        "korrand_segment_lengths": (status, [ctypes.c_void_p, ctypes.c_int32, ctypes.c_void_p,
                                             ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p,
                                             ctypes.c_void_p]),
        "korrand_group_segments": (status, [I, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32,
                                            ctypes.c_void_p, ctypes.POINTER(_LineObject),
                                            ctypes.c_void_p, ctypes.c_void_p,
                                            ctypes.POINTER(ctypes.c_int32)]),
        "korrand_result_xyz": (status, [I, ctypes.c_void_p, ctypes.c_int64]),
        "korrand_result_edges": (status, [I, ctypes.c_void_p, ctypes.c_int64]),
        "korrand_result_sources": (status, [I, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p,
                                            ctypes.c_int64]),
        "korrand_result_carry": (status, [I, ctypes.c_void_p, ctypes.c_int32, ctypes.c_int64,
                                          ctypes.c_void_p, ctypes.c_int64]),
        "korrand_result_in_segment_order": (status, [I, ctypes.POINTER(_Line)]),
        "korrand_result_trim": (status, [I, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int32,
                                         ctypes.POINTER(_Line)]),
        "korrand_result_reverse": (status, [I, ctypes.c_void_p, ctypes.c_int32,
                                            ctypes.POINTER(_Line)]),
        "korrand_result_join_seams": (status, [I, ctypes.c_void_p, ctypes.c_int32,
                                               ctypes.POINTER(_Line)]),
        "korrand_points_from_list": (status, [ctypes.POINTER(SegmentList), ctypes.c_void_p,
                                              ctypes.c_void_p, ctypes.c_int32,
                                              ctypes.c_void_p, ctypes.c_int64,
                                              ctypes.POINTER(ctypes.c_int32)]),
        "korrand_ring_channels": (status, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64,
                                           ctypes.c_void_p, ctypes.c_int32, ctypes.c_void_p,
                                           ctypes.c_void_p, ctypes.POINTER(ctypes.c_int32)]),
    }
    for name, (res, args) in sig.items():
        f = getattr(lib, name)
        f.restype, f.argtypes = (ctypes.c_int32 if res == status else res), args
        if res == status:
            f.errcheck = check
    return lib


def _address(buf):
    return buf.buffer_info()[0] if len(buf) else None


class Result:
    """A dashed line form: counts (array of int32) and the number of points; its points, edges
    and sources are read from the instance (xyz, edges, sources, carry) until its next dash."""

    def __init__(self, counts, point_count):
        self.counts = counts
        self.point_count = point_count


class Instance:
    """One modifier instance of the plug-in. Not for use from two threads at once."""

    def __init__(self, plugin):
        self._plugin = plugin
        self._lib = plugin._lib
        handle = ctypes.c_void_p()
        self._lib.korrand_instance_create(plugin._handle, ctypes.byref(handle))
        self._handle = handle
        self._points = 0
        plugin._instances.add(self)

    def close(self):
        if self._handle:
            self._lib.korrand_instance_destroy(self._handle)
            self._handle = None
            self._plugin._instances.discard(self)

    def set(self, parameter_id, value):
        self._lib.korrand_set(self._handle, parameter_id, float(value))

    def get(self, parameter_id):
        v = ctypes.c_double()
        self._lib.korrand_get(self._handle, parameter_id, ctypes.byref(v))
        return v.value

    def command(self, element_id):
        """Presses a description button; returns the addresses the plug-in asked to open."""
        opened = ctypes.c_char_p()
        self._lib.korrand_command(self._handle, element_id, ctypes.byref(opened))
        text = opened.value.decode() if opened.value else ""
        return [a for a in text.split("\n") if a]

    def group_segments(self, closed, own_counts=False):
        """The line objects a curve of len(closed) splines is handed over as, by the rule every
        host follows: closed an array of 'i' (1 for a cyclic spline) or, for a curve whose
        splines all follow the instance's Closed, an int count of splines. A list of (spline
        indices, settings of its own)."""
        n = closed if isinstance(closed, int) else len(closed)
        segments = array.array("i", bytes(4 * n))
        table = (_LineObject * max(1, n))()
        ids, values = array.array("i", bytes(4 * n)), array.array("d", bytes(8 * n))
        count = ctypes.c_int32()
        given = None if isinstance(closed, int) else _address(closed)
        self._lib.korrand_group_segments(self._handle, given, n, 1 if own_counts else 0,
                                         _address(segments), table, _address(ids),
                                         _address(values), ctypes.byref(count))
        out = []
        for o in table[:count.value]:
            own = {ids[o.first_setting + i]: values[o.first_setting + i]
                   for i in range(o.setting_count)}
            out.append((list(segments[o.first_segment:o.first_segment + o.segment_count]), own))
        return out

    def dash_objects(self, points, counts, stride, objects, traced=True):
        """Dashes a line form (points an array of 'f', x, y, z at every stride floats; counts an
        array of 'i') as several line objects: objects is a list of (segments, settings), the
        indices of the input segments each object holds, in order, and a dict of parameter id
        to value set for it alone. Returns the Result of all of them, object after object, and
        an array of 'i' of how many segments each object came out with. traced: where each
        point lies is recorded for sources, carry and in_segment_order (at a cost in every
        sample); untraced, those answer None."""
        if counts.itemsize != 4 or points.typecode != "f":
            raise BridgeError("points must be an array of 'f', counts of 32-bit ints")
        order = array.array("i")
        ids, values = array.array("i"), array.array("d")
        table = (_LineObject * len(objects))()
        for k, (segments, settings) in enumerate(objects):
            table[k] = _LineObject(len(order), len(segments), len(ids), len(settings))
            order.extend(segments)
            for pid, value in settings.items():
                ids.append(pid)
                values.append(value)
        dashes = array.array("i", bytes(4 * len(objects)))
        line = _Line()
        self._lib.korrand_set_traced(self._handle, 1 if traced else 0)
        self._lib.korrand_dash_objects(self._handle, _address(points), stride, _address(counts),
                                       len(counts), _address(order), table, len(objects),
                                       _address(ids), _address(values), _address(dashes),
                                       ctypes.byref(line))
        self._points = len(points) // stride
        return self._result(line), dashes

    def _result(self, line):
        if line.result != 1:
            # The modifier answered failure: what it left in the line object is no result.
            raise BridgeError("the plug-in's modify operation reported a failure")
        out = array.array("i", bytes(4 * line.segment_count))
        if line.segment_count:
            ctypes.memmove(out.buffer_info()[0], line.counts, 4 * line.segment_count)
        return Result(out, line.point_count)

    def xyz(self, result, reuse=None):
        """The result's points as x, y, z floats, each coordinate rounded once; into reuse when
        it is an array of the right size."""
        n = 3 * result.point_count
        out = reuse if reuse is not None and len(reuse) == n else array.array("f", bytes(4 * n))
        self._lib.korrand_result_xyz(self._handle, _address(out), len(out))
        return out

    def edges(self, result):
        """The result's dashes as edges between consecutive points, pairs of indices."""
        out = array.array("i", bytes(8 * (result.point_count - len(result.counts))))
        self._lib.korrand_result_edges(self._handle, _address(out), len(out))
        return out

    def sources(self, result):
        """Where each point of the result lies on the input: (segment, an array of 'i';
        uniform, position, arrays of 'd'; see korrand_result_sources), or None when that is not
        known."""
        n = result.point_count
        segment = array.array("i", bytes(4 * n))
        uniform, position = array.array("d", bytes(8 * n)), array.array("d", bytes(8 * n))
        try:
            self._lib.korrand_result_sources(self._handle, _address(segment), _address(uniform),
                                             _address(position), n)
        except BridgeError:
            return None
        return segment, uniform, position

    def carry(self, result, values, width):
        """values (an array of 'f', width per point of the last input) at each point of the
        result, interpolated where it lies; None when that is not known."""
        out = array.array("f", bytes(4 * width * result.point_count))
        try:
            self._lib.korrand_result_carry(self._handle, _address(values), width, self._points,
                                           _address(out), len(out))
        except BridgeError:
            return None
        return out

    def in_segment_order(self):
        """Puts the last result's dashes in the order of the input segments they lie on;
        returns the Result as it now is, or None when their segments are not known."""
        line = _Line()
        line.result = 1
        try:
            self._lib.korrand_result_in_segment_order(self._handle, ctypes.byref(line))
        except BridgeError:
            return None
        return self._result(line)

    def reverse(self, flags):
        """Turns round the dashes of the last result that lie on a segment flagged in flags (an
        array of 'i', one per input segment); returns the Result as it now is."""
        line = _Line()
        line.result = 1
        self._lib.korrand_result_reverse(self._handle, _address(flags), len(flags),
                                         ctypes.byref(line))
        return self._result(line)

    def join_seams(self, seams):
        """Joins the dash cut in two at the start of each segment measured closed back into
        one (seams: an array of 'f', x, y, z of each input segment's first point, NaN for one
        not measured closed), from a traced result; returns the Result as it now is."""
        line = _Line()
        line.result = 1
        self._lib.korrand_result_join_seams(self._handle, _address(seams), len(seams) // 3,
                                            ctypes.byref(line))
        return self._result(line)

    def trim(self, start, end):
        """Keeps of the last result what lies from start[i] to end[i] of each input segment i
        (arrays of 'd' of positions, as sources gives them), as a curve drawn from a start to
        an end factor shows; returns the Result as it now is."""
        if len(start) != len(end) or start.typecode != "d" or end.typecode != "d":
            raise BridgeError("start and end must be arrays of 'd' of one length")
        line = _Line()
        line.result = 1
        self._lib.korrand_result_trim(self._handle, _address(start), _address(end), len(start),
                                      ctypes.byref(line))
        return self._result(line)


class Plugin:
    """A plug-in folder, loaded and started through the bridge."""

    def __init__(self, library_path, folder):
        self._lib = _load(library_path)
        if not os.path.isdir(folder):
            raise BridgeError(f"the plug-in folder {folder} is missing")
        handle = ctypes.c_void_p()
        self._handle = None
        self._instances = set()
        self._lib.korrand_open(os.fsencode(folder), ctypes.byref(handle))
        self._handle = handle
        self.parameters = []
        for i in range(self._lib.korrand_parameter_count(handle)):
            p = _Parameter()
            self._lib.korrand_parameter(handle, i, ctypes.byref(p))
            self.parameters.append(Parameter(p))

    def close(self):
        for inst in list(self._instances):
            inst.close()
        if self._handle:
            self._lib.korrand_close(self._handle)
            self._handle = None

    def instance(self):
        return Instance(self)

    def points_from_list(self, layout, first, counts, xyz):
        """Copies the points of a host's segment list (see SegmentList) into xyz, an array of
        'f' of 3 floats per point, after checking the list against counts. True when any
        float differs from what xyz held."""
        changed = ctypes.c_int32()
        self._lib.korrand_points_from_list(ctypes.byref(layout), first, _address(counts),
                                           len(counts), _address(xyz), len(xyz),
                                           ctypes.byref(changed))
        return changed.value == 1

    def ring_channels(self, rings, xyz, counts):
        """Each point's radius and unit normal (an array of 'f', 4 floats a point) from the
        rings of a round profile of radius 1 swept with a ring at every point (an array of 'f',
        4 vertices a ring), xyz the points (an array of 'f') and counts the points of each
        spline (an array of 'i'), with the splines swept from their end (an array of 'i' of
        flags, see reverse). None when a spline's rings do not meet its points."""
        n = len(xyz) // 3
        out = array.array("f", bytes(16 * n))
        reversed_ = array.array("i", bytes(4 * len(counts)))
        matched = ctypes.c_int32()
        self._lib.korrand_ring_channels(_address(rings), _address(xyz), n, _address(counts),
                                        len(counts), _address(out), _address(reversed_),
                                        ctypes.byref(matched))
        return (out, reversed_) if matched.value == 1 else None

    def segment_lengths(self, points, counts, stride, closed=None, matrix=None):
        """The length of each segment of a line form (as dash_objects takes it) after matrix,
        16 floats row by row (None: as it is), closed an array of 'i' (1: with the edge back
        to the segment's first point) or None. An array of 'd'."""
        lengths = array.array("d", bytes(8 * len(counts)))
        m = (ctypes.c_double * 16)(*matrix) if matrix is not None else None
        self._lib.korrand_segment_lengths(_address(points), stride, _address(counts),
                                          len(counts),
                                          _address(closed) if closed is not None else None, m,
                                          _address(lengths))
        return lengths

    def period_count(self, length, period):
        """Dashes for a spline of this length in dash-length mode, by the rule every host
        shares: one per period, rounded, at least one."""
        return self._lib.korrand_period_count(float(length), float(period))

    def set_block_limit(self, size):
        """The largest memory block the host grants its plug-ins (korrand_open sets 1 GiB)."""
        self._lib.korrand_set_block_limit(int(size))

    def host_alive(self):
        blocks, objects = ctypes.c_int64(), ctypes.c_int64()
        self._lib.korrand_host_alive(ctypes.byref(blocks), ctypes.byref(objects))
        return blocks.value, objects.value


def open_beside(package_dir):
    """The plug-in folder shipped in the add-on's own folder, through the bridge beside it."""
    folder = os.environ.get("KORRAND_PLUGIN_FOLDER") or os.path.join(
        package_dir, "plugins", "KorrandModifier")
    library = os.path.join(package_dir, _library_name())
    if not os.path.exists(library):
        raise BridgeError(f"the bridge library {library} is missing")
    return Plugin(library, folder)
