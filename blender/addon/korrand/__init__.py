"""Korrand Dash for Blender: the Korrand spline dash modifier, live under a curve object.

Blender holds the scene and the user interface; the plug-in is loaded through the host model
by the korrand_bridge library beside this file, and its description resource decides which
settings exist, with their labels, defaults, limits and help texts.
"""

bl_info = {
    "name": "Korrand Dash",
    "author": "Korrand",
    "version": (2, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Object > Korrand Dash",
    "description": "Dashes curves live with the Korrand modifier plug-in",
    "category": "Object",
}

import math
import os
import sys

import bpy

from . import bridge, live, ui

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))

state = live.state

# Settings of the Blender host beside the plug-in's own, with what they mean here.
_FOLLOW_HELP = ("Measure each spline as Blender draws it: a cyclic spline as a closed loop, an "
                "open one as an open curve. Off: the plug-in's closed setting decides for every "
                "spline")
_PERIOD_HELP = ("Dash length: each spline gets one dash per this length of it, measured in "
                "world space (at least one dash, at most the largest count). 0 uses the dash "
                "count")
_THICKNESS_HELP = ("Thickness of the dashes of a curve without bevel or extrusion (a filled "
                   "shape, text, an imported drawing), in scene units. 0: they are lines, which "
                   "render nothing, as the curve's outline would")


def _stored(key, default, kind, lo=None, hi=None):
    """A setting kept in the object's own custom properties. Getting and setting it through
    functions keeps Blender from re-evaluating the curve when it changes: its evaluation does
    not read these, only the dashes do."""

    def get(self):
        value = self.get(key)
        return default if value is None else kind(value)

    def put(self, value):
        if kind is float and not math.isfinite(value):
            return  # a number the dash cannot use (NaN, set from Python): the setting stays
        if lo is not None and value < lo:
            value = lo
        if hi is not None and value > hi:
            value = hi
        self[key] = kind(value) if kind is not bool else int(value)

    return get, put


def _on_change(self, context):
    live.note_change(self.id_data)


def _on_look_change(self, context):
    live.note_change(self.id_data, live.LOOK, live.DASH)


def _property_for(p):
    common = {"name": p.label, "update": _on_change,
              "description": p.help or p.label,
              "options": {"ANIMATABLE", "LIBRARY_EDITABLE"},
              "override": {"LIBRARY_OVERRIDABLE"}}
    if p.type == bridge.TYPE_BOOL:
        get, put = _stored(p.key, bool(p.default), bool)
        return bpy.props.BoolProperty(default=bool(p.default), get=get, set=put, **common)
    if p.type == bridge.TYPE_LONG:
        lo = int(p.min) if p.min is not None else None
        hi = int(p.max) if p.max is not None else None
        limits = {k: v for k, v in (("min", lo), ("max", hi), ("soft_min", lo), ("soft_max", hi))
                  if v is not None}
        get, put = _stored(p.key, int(p.default or 0), int, lo, hi)
        return bpy.props.IntProperty(default=int(p.default or 0), get=get, set=put, **limits,
                                     **common)
    limits = {k: v for k, v in (("min", p.min), ("max", p.max), ("soft_min", p.min),
                                ("soft_max", p.max)) if v is not None}
    get, put = _stored(p.key, float(p.default or 0.0), float, p.min, p.max)
    return bpy.props.FloatProperty(default=p.default or 0.0, precision=3, step=1, get=get,
                                   set=put, **limits, **common)


def _settings_class():
    common = {"update": _on_change, "override": {"LIBRARY_OVERRIDABLE"}}
    get, put_stored = _stored("enabled", False, bool)

    def put_enabled(self, value):
        if not (value and live.is_own(self.id_data)):  # said by the update (note_change)
            put_stored(self, value)

    annotations = {
        "enabled": bpy.props.BoolProperty(
            name="Enabled", default=False, get=get, set=put_enabled, options=set(),
            description="Show the curve dashed: a Korrand Dash modifier in its stack shows "
                        "its dashes with its look", **common),
    }
    get, put = _stored("follow_cyclic", True, bool)
    annotations["follow_cyclic"] = bpy.props.BoolProperty(
        name="Follow Cyclic", default=True, get=get, set=put, description=_FOLLOW_HELP,
        options={"ANIMATABLE"}, **common)
    get, put = _stored("period", 0.0, float, 0.0)
    annotations["period"] = bpy.props.FloatProperty(
        name="Dash Length", default=0.0, min=0.0, soft_max=100.0, subtype="DISTANCE",
        unit="LENGTH", precision=3, get=get, set=put, description=_PERIOD_HELP,
        options={"ANIMATABLE"}, **common)
    get, put = _stored("thickness", 0.0, float, 0.0)
    annotations["thickness"] = bpy.props.FloatProperty(
        name="Dash Thickness", default=0.0, min=0.0, soft_max=1.0, subtype="DISTANCE",
        unit="LENGTH", precision=4, get=get, set=put, description=_THICKNESS_HELP,
        options={"ANIMATABLE"}, update=_on_look_change, override={"LIBRARY_OVERRIDABLE"})
    for p in state.parameters:
        if p.type != bridge.TYPE_BUTTON:
            annotations[p.key] = _property_for(p)
    return type("KorrandSettings", (bpy.types.PropertyGroup,), {
        "__annotations__": annotations,
        "result": property(lambda self: live.result_of(self.id_data),
                           doc="The object whose mesh the curve's Korrand Dash modifier shows: "
                               "its dashes, or its bake (None while not dashed)"),
        "baked": property(lambda self: live.baked(self.id_data),
                          doc="The object of the curve's baked dashes, or None"),
        "update": lambda self: live.update_now(self.id_data, read=True) and None,
        "bake": lambda self, frame_start=None, frame_end=None: live.bake(
            self.id_data, frame_start, frame_end),
        "free_bake": lambda self: live.free_bake(self.id_data),
        "apply": lambda self: live.apply(self.id_data),
        "status": property(lambda self: live.status(self.id_data),
                           doc="Why the curve's dashes are not as its settings say, or \"\""),
    })


def bridge_error():
    """Why the plug-in could not be loaded, or "" when it is loaded."""
    return state.error


def register():
    try:
        state.plugin = bridge.open_beside(_PACKAGE_DIR)
        state.parameters = [p for p in state.plugin.parameters if not p.hidden]
        state.instance = state.plugin.instance()
        state.error = ""
    except (bridge.BridgeError, OSError) as e:
        state.plugin = state.instance = None
        state.parameters = []
        state.error = str(e)
        print(f"Korrand: {e}", file=sys.stderr)
    state.settings = _settings_class()
    bpy.utils.register_class(state.settings)
    ui.register()
    bpy.types.Object.korrand = bpy.props.PointerProperty(type=state.settings)
    if state.instance is not None:
        live.start()


def unregister():
    live.stop()
    del bpy.types.Object.korrand
    ui.unregister()
    bpy.utils.unregister_class(state.settings)
    if state.plugin is not None:
        state.plugin.close()
    state.plugin = state.instance = None
    state.parameters = []
