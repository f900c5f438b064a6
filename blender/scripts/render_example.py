"""Renders docs/blender-dashed.png: a scene an artist would make with the add-on, built here
from Blender's own curves (Shift+A), bevelled and dashed live by the add-on from the build
tree at a subdivision that keeps each dash smooth, and rendered by Cycles on the CPU.

Run: blender -b --factory-startup --python blender/scripts/render_example.py -- BUILD_DIR OUT.png
"""

import math
import os
import sys

import addon_utils
import bpy

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
build = os.path.abspath(args[0] if args else "build")
out = os.path.abspath(args[1] if len(args) > 1 else "docs/blender-dashed.png")
sys.path.insert(0, os.path.join(build, "blender"))
addon_utils.enable("korrand", default_set=True)
import korrand  # noqa: E402

assert korrand.bridge_error() == "", korrand.bridge_error()
bpy.ops.wm.read_homefile(use_empty=True)
scene = bpy.context.scene


def material(name, rgb, roughness=0.3, emission=0.0):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    bsdf = m.node_tree.nodes["Principled BSDF"]
    bsdf.inputs["Base Color"].default_value = (*rgb, 1)
    bsdf.inputs["Roughness"].default_value = roughness
    if emission:
        bsdf.inputs["Emission"].default_value = (*rgb, 1)
        bsdf.inputs["Emission Strength"].default_value = emission
    return m


def look(ob, mat, bevel):
    """What an artist sets on the curve itself: a round bevel with caps and a material. The
    dashes copy it; the curve keeps it."""
    ob.data.bevel_depth = bevel
    ob.data.bevel_resolution = 4
    ob.data.use_fill_caps = True
    ob.data.materials.append(mat)


def dash(ob, **settings):
    for k, v in settings.items():
        setattr(ob.korrand, k, v)
    ob.korrand.enabled = True


# A Bezier circle lying on the floor, its dashes one per 0.45 of its length.
bpy.ops.curve.primitive_bezier_circle_add(radius=3.2, location=(0, 0, -1.9))
ring = bpy.context.object
look(ring, material("Orange", (0.95, 0.33, 0.04)), 0.07)
dash(ring, period=0.45, subdivision=12)

# A Bezier curve arching over the ring, its points placed with automatic handles.
bpy.ops.curve.primitive_bezier_curve_add(location=(0, 0, 0))
swing = bpy.context.object
points = swing.data.splines[0].bezier_points
points.add(1)
for p, co in zip(points, [(-3.6, -0.6, -1.9), (0.2, 0.6, 1.3), (3.8, 1.4, -1.9)]):
    p.handle_left_type = p.handle_right_type = "AUTO"
    p.co = co
look(swing, material("Teal", (0.03, 0.55, 0.6)), 0.07)
dash(swing, count=26, subdivision=16, offset=0.02)

# A helix drawn as a NURBS path, thin and bright.
bpy.ops.curve.primitive_nurbs_path_add(location=(-4.6, 2.6, -0.4))
helix = bpy.context.object
spline = helix.data.splines[0]
turns = [(0.8 * math.cos(t / 4), 0.8 * math.sin(t / 4), t / 30 - 1.4, 1) for t in range(76)]
spline.points.add(len(turns) - len(spline.points))
for p, co in zip(spline.points, turns):
    p.co = co
look(helix, material("Gold", (0.95, 0.7, 0.12), emission=0.4), 0.035)
dash(helix, count=70, subdivision=10)

# An arrow of two splines, an open shaft and a cyclic head: each measured as drawn, so the
# shaft gets no dashes along a chord back to its tail and the head's closing side is dashed.
arrow = bpy.data.curves.new("Arrow", "CURVE")
arrow.dimensions = "3D"
for pts, cyclic in (([(-1.8, 0, 0), (-0.6, 0, 0.25), (0.6, 0, 0.1), (1.5, 0, 0)], False),
                    ([(1.5, 0.35, 0), (2.2, 0, 0), (1.5, -0.35, 0)], True)):
    s = arrow.splines.new("POLY")
    s.points.add(len(pts) - 1)
    for p, xyz in zip(s.points, pts):
        p.co = (*xyz, 1)
    s.use_cyclic_u = cyclic
arrow_ob = bpy.data.objects.new("Arrow", arrow)
scene.collection.objects.link(arrow_ob)
arrow_ob.location, arrow_ob.rotation_euler = (2.3, -3.9, -1.7), (0, 0, 0.25)
look(arrow_ob, material("Blue", (0.1, 0.2, 0.8)), 0.05)
dash(arrow_ob, count=9, subdivision=12)
bpy.context.view_layer.update()  # the add-on dashes them all here
for ob in (ring, swing, helix, arrow_ob):
    assert ob.korrand.result is not None and ob.data.bevel_depth > 0, ob.name

# A floor, a camera and light.
bpy.ops.mesh.primitive_plane_add(size=40, location=(0, 0, -2))
bpy.context.object.data.materials.append(material("Floor", (0.82, 0.82, 0.84), 0.6))
cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
scene.collection.objects.link(cam)
cam.location = (0.6, -13.5, 6.0)
cam.data.lens = 40
target = bpy.data.objects.new("Target", None)
target.location = (0, 0.2, -1.0)
scene.collection.objects.link(target)
cam.constraints.new("TRACK_TO").target = target
scene.camera = cam
sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", "SUN"))
sun.data.energy, sun.data.angle = 3.0, math.radians(8)
sun.rotation_euler = (math.radians(35), math.radians(10), math.radians(40))
scene.collection.objects.link(sun)
scene.world = bpy.data.worlds.new("World")
scene.world.color = (0.32, 0.34, 0.38)

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 32
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 800, 450
scene.render.resolution_percentage = 100
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
print(f"rendered {out}")
