"""The panel and the operators of Korrand Dash."""

import bpy

from . import bridge, line_form, live
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
        if not any(p.id == self.element and p.type == bridge.TYPE_BUTTON
                   for p in state.parameters):
            self.report({"ERROR"}, "Korrand has no button %d" % self.element)
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


def _dashed(context):
    ob = context.object
    return ob is not None and ob.type == "CURVE" and ob.korrand.enabled


class KORRAND_OT_apply(bpy.types.Operator):
    """Keep the dashes as the curve's own curve data and switch the dash off, as a modifier's
    Apply does"""

    bl_idname = "korrand.apply"
    bl_label = "Apply Dashes"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        return _dashed(context)

    def execute(self, context):
        ob = context.object
        message = live.apply(ob, context.evaluated_depsgraph_get())
        if message and not message.startswith("\t"):
            self.report({"ERROR"}, message)
            return {"CANCELLED"}
        if message:
            self.report({"WARNING"}, f"{ob.name}: {message.strip()}")
        return {"FINISHED"}


class KORRAND_OT_bake(bpy.types.Operator):
    """Store the dashes of a frame range in the file, so that a Blender without the add-on
    (a render farm, a colleague) plays and renders them"""

    bl_idname = "korrand.bake"
    bl_label = "Bake Dashes"
    bl_options = {"REGISTER", "UNDO"}

    frame_start: bpy.props.IntProperty(name="Start", description="First frame baked "
                                       "(default: the scene's)", default=-(1 << 30))
    frame_end: bpy.props.IntProperty(name="End", description="Last frame baked (default: "
                                     "the scene's)", default=-(1 << 30))

    @classmethod
    def poll(cls, context):
        return _dashed(context)

    def execute(self, context):
        unset = -(1 << 30)
        message = live.bake(context.object,
                            None if self.frame_start == unset else self.frame_start,
                            None if self.frame_end == unset else self.frame_end)
        if message:
            self.report({"ERROR"}, message)
            return {"CANCELLED"}
        return {"FINISHED"}


class KORRAND_OT_free_bake(bpy.types.Operator):
    """Remove the baked dashes: the curve shows its live dashes again"""

    bl_idname = "korrand.free_bake"
    bl_label = "Free Bake"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        return _dashed(context) and live.baked(context.object) is not None

    def execute(self, context):
        message = live.free_bake(context.object)
        if message:
            self.report({"ERROR"}, message)
            return {"CANCELLED"}
        return {"FINISHED"}


class KORRAND_OT_allow(bpy.types.Operator):
    """Dash with these settings although they make millions of points"""

    bl_idname = "korrand.allow"
    bl_label = "Dash Anyway"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        return _dashed(context)

    def execute(self, context):
        live.allow(context.object, context.evaluated_depsgraph_get())
        return {"FINISHED"}


def _has_profile(cu):
    return cu.bevel_depth > 0 or cu.extrude > 0 or (
        cu.bevel_mode == "OBJECT" and cu.bevel_object is not None)


class KORRAND_PT_dash(bpy.types.Panel):
    bl_label = "Korrand Dash"
    bl_space_type = "PROPERTIES"
    bl_region_type = "WINDOW"
    bl_context = "object"

    @classmethod
    def poll(cls, context):
        ob = context.object
        return ob is not None and ob.type == "CURVE"

    def draw_header(self, context):
        self.layout.prop(context.object.korrand, "enabled", text="")

    def draw(self, context):
        layout = self.layout
        ob = context.object
        if state.error:
            layout.label(text=state.error, icon="ERROR")
            return
        k = ob.korrand
        message = live.status(ob)
        if message:
            layout.label(text=message, icon="ERROR")
            r = live.record_of(ob)
            if r is not None and r.estimate > max(r.allowed, live.POINT_LIMIT):
                layout.operator(KORRAND_OT_allow.bl_idname)
        if k.enabled:
            for name in line_form.unfollowed(ob):
                layout.label(text=f"{name} comes before the dash and acts on what Blender draws "
                             "of the curve: move it below Korrand Dash, or apply it on the spline",
                             icon="INFO")
            for scene in ob.users_scene:
                if scene.get("korrand_locked") and scene.render.use_lock_interface:
                    layout.label(text="Render > Lock Interface is on, so that an animation "
                                 "render gets each frame's dashes", icon="INFO")
                elif not scene.render.use_lock_interface:
                    layout.label(text="Render > Lock Interface is off: an animation render "
                                 "shows the dashes of the frame it starts at; bake them, or "
                                 "lock the interface", icon="ERROR")
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
        row = column.row()
        row.enabled = not _has_profile(ob.data)  # the curve's own profile is used when it has one
        row.prop(k, "thickness")
        if k.enabled:
            text = live.bake_state(ob)
            box = layout.box()
            box.label(text=text or "Live: the dashes follow every change; bake them for a "
                      "render without the add-on", icon="FILE_CACHE" if text else "INFO")
            row = box.row()
            row.operator(KORRAND_OT_bake.bl_idname)
            row.operator(KORRAND_OT_free_bake.bl_idname)
            layout.operator(KORRAND_OT_apply.bl_idname)
        for p in state.parameters:
            if p.type == bridge.TYPE_BUTTON:
                layout.operator(KORRAND_OT_command.bl_idname, text=p.label,
                                icon="URL").element = p.id


_classes = [KORRAND_OT_command, KORRAND_OT_report, KORRAND_OT_apply, KORRAND_OT_bake,
            KORRAND_OT_free_bake, KORRAND_OT_allow, KORRAND_PT_dash]


def register():
    for c in _classes:
        bpy.utils.register_class(c)


def unregister():
    for c in reversed(_classes):
        bpy.utils.unregister_class(c)
