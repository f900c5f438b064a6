"""The panel and the operators of Korrand Dash."""

import bpy

from . import bridge, live
from .test_hook import hook

state = live.state


def _open_url(url):
    if hook.open_url is not None:
        hook.open_url(url)
    else:
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
            _open_url(address)
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


def _source(context):
    ob = context.object
    if ob is None:
        return None
    return live.source_of(ob) if live.is_result(ob) else ob


class KORRAND_OT_apply(bpy.types.Operator):
    """Keep the dashes as the curve's own data and switch the dash off, as a modifier's Apply
    does"""

    bl_idname = "korrand.apply"
    bl_label = "Apply Dashes"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        src = _source(context)
        return src is not None and live.result_of(src) is not None

    def execute(self, context):
        src = _source(context)
        message = live.apply(src, context.evaluated_depsgraph_get())
        if message and not message.startswith("\t"):
            self.report({"ERROR"}, message)
            return {"CANCELLED"}
        if message:
            self.report({"WARNING"}, f"{src.name}: {message.strip()}")
        context.view_layer.objects.active = src
        return {"FINISHED"}


class KORRAND_OT_select_source(bpy.types.Operator):
    """Select the curve these dashes follow, to move or edit it (it shows while selected)"""

    bl_idname = "korrand.select_source"
    bl_label = "Select Curve"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        message = live.select_source(context.object, context)
        if message:
            self.report({"ERROR"}, message)
            return {"CANCELLED"}
        return {"FINISHED"}


class KORRAND_OT_allow(bpy.types.Operator):
    """Dash with these settings although they make millions of points"""

    bl_idname = "korrand.allow"
    bl_label = "Dash Anyway"
    bl_options = {"REGISTER", "UNDO"}

    def execute(self, context):
        live.allow(context.object, context.evaluated_depsgraph_get())
        return {"FINISHED"}


def _dashes_panel(layout, res):
    src = live.source_of(res)
    if src is None:
        layout.label(text="Dashes whose curve is gone", icon="INFO")
        return
    row = layout.row()
    row.label(text=f"The dashes of {src.name}", icon="OUTLINER_OB_CURVE")
    row.operator(KORRAND_OT_select_source.bl_idname, text="Select", icon="RESTRICT_SELECT_OFF")
    layout.prop(src.korrand, "enabled", text="Dashed")
    layout.label(text="Move, edit and animate the curve: the dashes follow it", icon="INFO")
    layout.operator(KORRAND_OT_apply.bl_idname)


class KORRAND_PT_dash(bpy.types.Panel):
    bl_label = "Korrand Dash"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "object"

    @classmethod
    def poll(cls, context):
        ob = context.object
        return ob is not None and (ob.type == "CURVE" or live.is_result(ob))

    def draw_header(self, context):
        if not live.is_result(context.object):
            self.layout.prop(context.object.korrand, "enabled", text="")

    def draw(self, context):
        layout = self.layout
        ob = context.object
        if state.error:
            layout.label(text=state.error, icon="ERROR")
            return
        if live.is_result(ob):
            _dashes_panel(layout, ob)
            return
        k = ob.korrand
        message = live.status(ob)
        if message:
            layout.label(text=message, icon="ERROR")
            d = live.dash_of(ob)
            if d is not None and d.estimate > max(d.allowed, live.POINT_LIMIT):
                layout.operator(KORRAND_OT_allow.bl_idname)
        column = layout.column()
        column.enabled = k.enabled
        column.prop(k, "follow_cyclic")
        column.label(text="Each spline measured as drawn: cyclic closed, open open"
                     if k.follow_cyclic else "Every spline measured as Closed says",
                     icon="INFO")
        by_period = k.period > 0
        for p in state.parameters:
            if p.type == bridge.TYPE_BUTTON:
                continue
            row = column.row()
            if (p.key == "closed" and k.follow_cyclic) or (
                    by_period and p.key in ("count", "relative")):
                row.enabled = False  # not in force: the panel says what decides instead
            row.prop(k, p.key)
        column.prop(k, "period")
        if k.enabled:
            layout.operator(KORRAND_OT_apply.bl_idname)
        for p in state.parameters:
            if p.type == bridge.TYPE_BUTTON:
                layout.operator(KORRAND_OT_command.bl_idname, text=p.label,
                                icon="URL").element = p.id


_classes = [KORRAND_OT_command, KORRAND_OT_report, KORRAND_OT_apply, KORRAND_OT_select_source,
            KORRAND_OT_allow, KORRAND_PT_dash]


def register():
    for c in _classes:
        bpy.utils.register_class(c)


def unregister():
    for c in reversed(_classes):
        bpy.utils.unregister_class(c)
