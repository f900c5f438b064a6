"""The one way tests (and the benchmark) reach inside the add-on. Nothing else in the package
is meant to be replaced or read from outside; the add-on reads the settings below on every
use, so a test sets one, does what it checks and sets it back.

    from korrand.test_hook import hook
    hook.open_url = opened.append   # the web-page button calls this instead of Blender's
                                    # URL operator
    hook.direct_memory = False      # read curves through Blender's Python API only (both ways
                                    # must give the same dashes)
    hook.early = False              # dash only after Blender evaluated an update, never before
                                    # it (see live._on_depsgraph_pre): the add-on as it was
    hook.render_job = True          # act as if a render job ran with the interface unlocked:
                                    # nothing is written until it is set back to None and the
                                    # next update comes
    hook.timings                    # the phases of the last update that dashed, in seconds:
                                    # read, compare, plugin, build; rebuilt (bool)
    hook.reads                      # the curves read since the list was last emptied, by name
    hook.dashed                     # the curves dashed (the plug-in called) since, by name

and, to look inside without changing anything:

    hook.parameters                 # the plug-in's parameters as the panel shows them
    hook.plugin                     # the loaded plug-in (korrand.bridge.Plugin)
    hook.todo(ob)                   # what ob's record must redo (a set), None without one
    hook.redo(ob, *what)            # adds to it ("read", "look", "dash")
    hook.rebuild(ob)                # ob's dashes' mesh is made anew at the next update
    hook.line_form(ob)              # ob's line form as the add-on reads it
    hook.spline_counts(n, edges)    # the splines of a wire mesh
    hook.chains(mesh)               # the point counts and first points of a dashes' mesh
    hook.forget()                   # what undo does to the records: every read forgotten
    hook.run()                      # one round of updates, as the depsgraph handler runs it
    hook.modifier(ob)               # ob's Korrand Dash modifier, or None
    hook.block(ob)                  # True for an object the add-on owns for a curve (dashes,
                                    # profile, bake)
    hook.held(ob)                   # True when a dashed curve holds the add-on's object ob
    hook.ours(ob)                   # ... or any object of the add-on's (its scratch object too,
                                    # which is used by nothing, so never saved)
    hook.direct_layout()            # True when curves are read straight from Blender's memory
    hook.bake_state(ob)             # what the panel says of ob's bake ("" when not baked)
    hook.error                      # why the plug-in is not loaded ("" when it is); settable
    hook.BUTTON, hook.BOOL, ...     # the kinds of hook.parameters' .type
"""

import bpy


class _Hook:
    LONG, BOOL, REAL, BUTTON = 1, 2, 3, 4  # as korrand_bridge.h numbers them

    def __init__(self):
        self.open_url = None
        self.direct_memory = True
        self.early = True
        self.render_job = None
        self.timings = {}
        self.reads = []
        self.dashed = []

    @property
    def parameters(self):
        from . import live
        return live.state.parameters

    @property
    def plugin(self):
        from . import live
        return live.state.plugin

    def todo(self, ob):
        from . import live
        r = live.registry.of(ob)
        return None if r is None else set(r.todo)

    def redo(self, ob, *what):
        from . import live
        live.registry.note(ob, *what)

    def rebuild(self, ob):
        from . import live
        r = live.registry.of(ob)
        if r is not None:
            r.written = b"another structure"
            r.todo.add("dash")

    def line_form(self, ob, depsgraph=None):
        from . import line_form, live
        return line_form.read(live.state.plugin, ob,
                              depsgraph or bpy.context.evaluated_depsgraph_get())

    def spline_counts(self, n, edges):
        from . import line_form
        return line_form.spline_counts(n, edges)

    def chains(self, edges, n):
        from . import live
        return live._chains(edges, n)

    def forget(self):
        from . import live
        live.registry.reload()

    def run(self):
        from . import live
        live.run(bpy.context.evaluated_depsgraph_get())

    def modifier(self, ob):
        from . import line_form
        return line_form.korrand_modifier(ob)

    def block(self, ob):
        from . import live
        return live.is_block(ob)

    def held(self, ob):
        from . import live
        return live.is_held(ob)

    def ours(self, ob):
        from . import live
        return live.is_own(ob)

    def bake_state(self, ob):
        from . import live
        return live.bake_state(ob)

    def render_warnings(self):
        from . import live
        return live.render_warnings()

    def direct_layout(self):
        from . import live, spline_memory
        return spline_memory.layout(live.state.plugin) is not None

    @property
    def error(self):
        from . import live
        return live.state.error

    @error.setter
    def error(self, message):
        from . import live
        live.state.error = message


hook = _Hook()
