"""Korrand Dash for Blender: the Korrand spline dash modifier, live under a curve object.

Blender holds the scene and the user interface; the plug-in is loaded through the host model
by the korrand_bridge library beside this file, and its description resource decides which
settings exist, with their labels, defaults and limits.
"""

bl_info = {
    "name": "Korrand Dash",
    "author": "Korrand",
    "version": (1, 0, 0),
    "blender": (3, 4, 0),
    "location": "Properties > Object > Korrand Dash",
    "description": "Dashes curves live with the Korrand modifier plug-in",
    "category": "Object",
}

import os
import sys

import bpy

from . import bridge, live

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_PREFIX_SKIP = "_RESERVED_"  # stored for compatibility only; nothing to show or set

state = live.state


def _value_parameters():
    return [p for p in state.parameters if p.type != bridge.TYPE_BUTTON]


def _on_enabled(self, context):
    live.set_enabled(self.id_data, self.enabled, context)


def _on_parameter(self, context):
    ob = self.id_data
    if self.enabled and not live.is_busy():
        live.refresh(ob, context.evaluated_depsgraph_get())


def _property_for(p):
    common = {"name": p.label, "update": _on_parameter}
    if p.type == bridge.TYPE_BOOL:
        return bpy.props.BoolProperty(default=bool(p.default), **common)
    if p.type == bridge.TYPE_LONG:
        limits = {}
        if p.min is not None:
            limits["min"] = limits["soft_min"] = int(p.min)
        if p.max is not None:
            limits["max"] = limits["soft_max"] = int(p.max)
        return bpy.props.IntProperty(default=int(p.default or 0), **limits, **common)
    limits = {}
    if p.min is not None:
        limits["min"] = limits["soft_min"] = p.min
    if p.max is not None:
        limits["max"] = limits["soft_max"] = p.max
    return bpy.props.FloatProperty(default=p.default or 0.0, precision=3, step=1, **limits,
                                   **common)


def _settings_class():
    annotations = {
        "enabled": bpy.props.BoolProperty(name="Enabled", default=False, update=_on_enabled,
                                          description="Show the curve dashed"),
        "result": bpy.props.PointerProperty(type=bpy.types.Object, name="Result"),
        "source": bpy.props.PointerProperty(type=bpy.types.Object, name="Source"),
    }
    for p in _value_parameters():
        annotations[p.key] = _property_for(p)
    return type("KorrandSettings", (bpy.types.PropertyGroup,), {"__annotations__": annotations})


def _open_url(url):
    bpy.ops.wm.url_open(url=url)


class KORRAND_OT_command(bpy.types.Operator):
    """Press a button of the plug-in's description"""

    bl_idname = "korrand.command"
    bl_label = "Korrand Button"
    bl_options = {"INTERNAL"}

    element: bpy.props.IntProperty()

    def execute(self, context):
        if state.instance is None:
            self.report({"ERROR"}, state.error or "Korrand is not loaded")
            return {"CANCELLED"}
        try:
            opened = state.instance.command(self.element)
        except bridge.BridgeError as e:
            self.report({"ERROR"}, str(e))
            return {"CANCELLED"}
        for address in opened:
            sys.modules[__name__]._open_url(address)
        return {"FINISHED"}


class KORRAND_OT_report(bpy.types.Operator):
    """Report a Korrand error in Blender's report"""

    bl_idname = "korrand.report"
    bl_label = "Korrand Report"
    bl_options = {"INTERNAL"}

    message: bpy.props.StringProperty()

    def execute(self, context):
        self.report({"ERROR"}, self.message)
        return {"FINISHED"}


class KORRAND_PT_dash(bpy.types.Panel):
    bl_label = "Korrand Dash"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "object"

    @classmethod
    def poll(cls, context):
        return context.object is not None and context.object.type == "CURVE"

    def draw_header(self, context):
        if context.object.korrand.source is None:
            self.layout.prop(context.object.korrand, "enabled", text="")

    def draw(self, context):
        layout = self.layout
        ob = context.object
        if state.error:
            layout.label(text=state.error, icon="ERROR")
            return
        if ob.korrand.source is not None:
            layout.label(text=f"The dashes of {ob.korrand.source.name}", icon="INFO")
            return
        message = live.status(ob)
        if message:
            layout.label(text=message, icon="ERROR")
        column = layout.column()
        column.enabled = ob.korrand.enabled
        for p in _value_parameters():
            column.prop(ob.korrand, p.key)
        for p in state.parameters:
            if p.type == bridge.TYPE_BUTTON:
                layout.operator(KORRAND_OT_command.bl_idname, text=p.label,
                                icon="URL").element = p.id


_classes = [KORRAND_OT_command, KORRAND_OT_report, KORRAND_PT_dash]


def bridge_error():
    """Why the plug-in could not be loaded, or "" when it is loaded."""
    return state.error


def register():
    try:
        state.plugin = bridge.open_beside(_PACKAGE_DIR)
        state.parameters = [p for p in state.plugin.parameters if _PREFIX_SKIP not in p.name]
        state.instance = state.plugin.instance()
        state.error = ""
    except (bridge.BridgeError, OSError) as e:
        state.plugin = state.instance = None
        state.parameters = []
        state.error = str(e)
        print(f"Korrand: {e}", file=sys.stderr)
    state.settings = _settings_class()
    bpy.utils.register_class(state.settings)
    for c in _classes:
        bpy.utils.register_class(c)
    bpy.types.Object.korrand = bpy.props.PointerProperty(type=state.settings)
    live.install_handlers()


def unregister():
    live.remove_handlers()
    del bpy.types.Object.korrand
    for c in reversed(_classes):
        bpy.utils.unregister_class(c)
    bpy.utils.unregister_class(state.settings)
    if state.plugin is not None:
        state.plugin.close()
    state.plugin = state.instance = None
    state.parameters = []
