"""Seeded random sequences of the everyday actions an artist takes on dashed curves, with what
must hold checked after every step:

- nothing raised;
- each dashed curve shows its dashes, exactly once, in every view layer (the mesh it shows is
  its dashes' mesh, plus its fill when it keeps one);
- no object of the add-on's is left without the curve that holds it;
- the add-on's updates leave the artist's curve data as it was.

Used by test_sequences.py (a few short sequences) and blender/scripts/action_sequences.py (a
longer run that prints how many steps held).
"""

import os
import random
import tempfile

import addon_utils
import bpy

import support

SETTINGS = {
    "count": lambda rng: rng.randint(2, 24),
    "offset": lambda rng: round(rng.uniform(-1, 1), 3),
    "subdivision": lambda rng: rng.randint(0, 4),
    "jitter": lambda rng: rng.choice((0.0, 0.4)),
    "relative": lambda rng: rng.random() < 0.3,
    "follow_cyclic": lambda rng: rng.random() < 0.8,
    "period": lambda rng: rng.choice((0.0, 0.0, 0.7)),
}


class Failed(AssertionError):
    pass


def _curves():
    return [ob for ob in bpy.data.objects if ob.type == "CURVE" and not support.hook.ours(ob)
            and ob.library is None]


def _digest(cu):
    """What the artist made of a curve's data, to compare."""
    out = [cu.dimensions, round(cu.bevel_depth, 6), round(cu.extrude, 6), cu.fill_mode,
           tuple(m.name if m else "" for m in cu.materials), len(cu.splines)]
    for s in cu.splines:
        pts = s.bezier_points if s.type == "BEZIER" else s.points
        width = 3 if s.type == "BEZIER" else 4
        co = support.array.array("f", bytes(4 * width * len(pts)))
        pts.foreach_get("co", co)
        out.append((s.type, s.use_cyclic_u, s.material_index, co.tobytes()))
    return out


def _start_scene():
    scene = bpy.context.scene
    scene.view_layers.new("Second")
    scene.frame_start, scene.frame_end = 1, 4
    ring = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2)
    ring.name = "ring"
    ring.data.bevel_depth = 0.05
    line = support.poly_curve("line", [[(0, 0, 0), (3, 1, 0), (5, 0, 1)],
                                       [(0, 3, 0), (2, 4, 0), (0, 5, 0)]], cyclic=(1,))
    square = support.poly_curve("square", [[(4, 4, 0), (6, 4, 0), (6, 6, 0), (4, 6, 0)]],
                                dimensions="2D", cyclic=(0,))
    square.data.fill_mode = "BOTH"
    for ob in (ring, line):
        ob.korrand.enabled = True
    support.update()
    bpy.ops.ed.undo_push(message="start")


def _select(*obs):
    for o in bpy.context.selected_objects:
        o.select_set(False)
    for o in obs:
        o.select_set(True)
    bpy.context.view_layer.objects.active = obs[0]


class _Run:
    def __init__(self, seed, log):
        self.rng = random.Random(seed)
        self.log = log
        self.tmp = tempfile.mkdtemp()

    def pick(self, dashed=None):
        obs = [o for o in _curves() if dashed is None or bool(o.korrand.enabled) == dashed]
        return self.rng.choice(obs) if obs else None

    # Each action returns a short description of what it did, or None when it could not act.
    def switch_on(self):
        ob = self.pick(False)
        if ob is not None:
            ob.korrand.enabled = True
            return f"switch on {ob.name}"

    def switch_off(self):
        ob = self.pick(True)
        if ob is not None:
            ob.korrand.enabled = False
            return f"switch off {ob.name}"

    def change(self):
        ob = self.pick(True)
        if ob is not None:
            key = self.rng.choice(sorted(SETTINGS))
            value = SETTINGS[key](self.rng)
            setattr(ob.korrand, key, value)
            return f"{ob.name}.{key} = {value}"

    def keyframe(self):
        ob = self.pick(True)
        if ob is not None:
            frame = self.rng.randint(1, 4)
            ob.korrand.count = count = self.rng.randint(3, 12)
            ob.korrand.keyframe_insert("count", frame=frame)
            bpy.context.scene.frame_set(self.rng.randint(1, 4))
            return (f"keyframe {ob.name} count {count} at {frame}, frame "
                    f"{bpy.context.scene.frame_current}")

    def draw_part(self):
        ob = self.pick()
        if ob is not None:
            cu = ob.data
            cu.bevel_factor_start, cu.bevel_factor_end = sorted(
                self.rng.choice((0.0, 1.0, round(self.rng.random(), 3))) for _ in range(2))
            return f"{ob.name} drawn from {cu.bevel_factor_start} to {cu.bevel_factor_end}"

    def frame(self):
        bpy.context.scene.frame_set(self.rng.randint(0, 5))
        return f"frame {bpy.context.scene.frame_current}"

    def duplicate(self, linked):
        ob = self.pick()
        if ob is not None:
            what = f"{'Alt' if linked else 'Shift'}+D {ob.name}"
            _select(ob)
            bpy.ops.object.duplicate(linked=linked)
            return what

    def shift_d(self):
        return self.duplicate(False)

    def alt_d(self):
        return self.duplicate(True)

    def delete(self):
        if len(_curves()) > 2:
            ob = self.pick()
            name = ob.name
            _select(ob)
            bpy.ops.object.delete()
            return f"delete {name}"

    def undo(self):
        if bpy.ops.ed.undo.poll():
            bpy.ops.ed.undo()
            return "undo"

    def redo(self):
        if bpy.ops.ed.redo.poll():
            bpy.ops.ed.redo()
            return "redo"

    def convert(self):
        if len(_curves()) > 2:
            ob = self.pick(True)
            if ob is not None:
                what = f"convert {ob.name} to a mesh"
                _select(ob)
                bpy.ops.object.convert(target="MESH")
                return what

    def apply(self):
        ob = self.pick(True)
        if ob is not None:
            message = ob.korrand.apply()
            return f"apply {ob.name}: {message.strip() or 'applied'}"

    def join(self):
        obs = _curves()
        if len(obs) > 2:
            a, b = self.rng.sample(obs, 2)
            if a.data.dimensions == b.data.dimensions and not a.data.shape_keys and \
                    not b.data.shape_keys:
                what = f"join {b.name} into {a.name}"
                _select(a, b)
                bpy.ops.object.join()
                return what

    def separate(self):
        obs = [o for o in _curves() if len(o.data.splines) > 1 and o.data.users == 1]
        if obs:
            ob = self.rng.choice(obs)
            _select(ob)
            bpy.ops.object.mode_set(mode="EDIT")
            bpy.ops.curve.select_all(action="DESELECT")
            spline = ob.data.splines[0]
            if spline.type == "BEZIER":
                for p in spline.bezier_points:
                    p.select_control_point = True
            else:
                for p in spline.points:
                    p.select = True
            bpy.ops.curve.separate()
            bpy.ops.object.mode_set(mode="OBJECT")
            return f"separate a spline of {ob.name}"

    def bake(self):
        ob = self.pick(True)
        if ob is not None:
            message = ob.korrand.bake(1, 3)
            return f"bake {ob.name}: {message or 'baked'}"

    def free_bake(self):
        obs = [o for o in _curves() if o.korrand.baked is not None]
        if obs:
            ob = self.rng.choice(obs)
            ob.korrand.free_bake()
            return f"free the bake of {ob.name}"

    def addon_off_and_on(self):
        addon_utils.disable("korrand", default_set=True)
        support.enable_addon()
        bpy.context.scene.update_tag()
        return "add-on disabled and enabled"

    def switch_view_layer(self):
        # As the top bar's view layer menu does: the layer shown next may not have been
        # evaluated since an undo made in another.
        window = bpy.context.window
        if window is not None:
            window.view_layer = next(vl for vl in window.scene.view_layers
                                     if vl != window.view_layer)
            return f"view layer {window.view_layer.name} shown"

    def save_and_reopen(self):
        path = os.path.join(self.tmp, "sequence.blend")
        bpy.ops.wm.save_as_mainfile(filepath=path)
        bpy.ops.wm.open_mainfile(filepath=path)
        return "saved and reopened"

    ACTIONS = ("switch_on", "switch_off", "change", "change", "keyframe", "draw_part", "frame",
               "shift_d", "alt_d", "delete", "undo", "redo", "convert", "apply", "join", "separate",
               "bake", "free_bake", "addon_off_and_on", "switch_view_layer",
               "save_and_reopen")

    def check(self, what):
        """What must hold after every step."""
        hook = support.hook
        held = set()
        # Every view layer evaluated as Blender does on a frame change: ViewLayer.update()
        # would make the depsgraph of a layer no window shows an active one, which Blender
        # does not expect (it crashes after undo).
        scene = bpy.context.scene
        scene.frame_set(scene.frame_current, subframe=scene.frame_subframe)
        for ob in _curves():
            if not ob.korrand.enabled:
                continue
            shown = ob.korrand.result
            if shown is None:
                raise Failed(f"after {what}: {ob.name} is switched on but shows no dashes "
                             f"({ob.korrand.status})")
            held.add(shown.name)
            dashes = support.shown(shown)
            for vl in bpy.context.scene.view_layers:
                meshes = [len(i.object.data.vertices) for i in vl.depsgraph.object_instances
                          if i.object.original == ob and i.object.type == "MESH"]
                filled = ob.data.dimensions == "2D" and ob.data.fill_mode != "NONE"
                if len(meshes) != 1 or (meshes[0] < dashes[0] if filled else
                                        meshes[0] != dashes[0]):
                    raise Failed(f"after {what}: {ob.name} shows {meshes} vertices in view "
                                 f"layer {vl.name}, its dashes have {dashes[0]}")
        for ob in bpy.data.objects:
            if hook.block(ob) and not hook.held(ob):
                raise Failed(f"after {what}: {ob.name} is left without its curve")

    def step(self, n):
        name = self.rng.choice(self.ACTIONS)
        what = getattr(self, name)()
        if what is None:
            return None
        before = {cu.name: _digest(cu) for cu in bpy.data.curves
                  if cu.users and not any(support.hook.ours(o) for o in bpy.data.objects
                                          if o.data == cu)}
        support.update()
        for cu in bpy.data.curves:
            if cu.name in before and _digest(cu) != before[cu.name]:
                raise Failed(f"after {what}: the add-on changed the curve data {cu.name}")
        self.check(what)
        bpy.ops.ed.undo_push(message=what)
        self.log(f"step {n}: {what}")
        return what


def run(seed, steps, log=lambda text: None):
    """Runs one sequence of steps from an empty file; raises Failed at the first step after
    which something does not hold. Returns the number of steps taken."""
    bpy.ops.wm.read_homefile(use_empty=True)
    _start_scene()
    r = _Run(seed, log)
    taken = 0
    while taken < steps:
        if r.step(taken) is not None:
            taken += 1
    return taken
