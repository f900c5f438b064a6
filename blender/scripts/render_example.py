"""Renders docs/blender-dashed.png: a scene of dashed 3D curves, built here, dashed live by
the add-on from the build tree and rendered by Cycles on the CPU.

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
for ob in list(bpy.data.objects):
    bpy.data.objects.remove(ob)
scene = bpy.context.scene


def material(name, rgb, emission=0.0):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    bsdf = m.node_tree.nodes["Principled BSDF"]
    bsdf.inputs["Base Color"].default_value = (*rgb, 1)
    bsdf.inputs["Roughness"].default_value = 0.35
    if emission:
        bsdf.inputs["Emission"].default_value = (*rgb, 1)
        bsdf.inputs["Emission Strength"].default_value = emission
    return m


def poly(name, points, mat, bevel, **settings):
    cu = bpy.data.curves.new(name, "CURVE")
    cu.dimensions = "3D"
    s = cu.splines.new("POLY")
    s.points.add(len(points) - 1)
    for p, xyz in zip(s.points, points):
        p.co = (*xyz, 1)
    cu.bevel_depth = bevel
    cu.bevel_resolution = 3
    cu.use_fill_caps = True
    cu.materials.append(mat)
    ob = bpy.data.objects.new(name, cu)
    scene.collection.objects.link(ob)
    for k, v in settings.items():
        setattr(ob.korrand, k, v)
    ob.korrand.enabled = True
    return ob


# A helix, a torus knot and a wave, each dashed with its own settings.
helix = [(math.cos(t / 20) * 1.2, math.sin(t / 20) * 1.2, t / 90 - 2) for t in range(360)]
poly("Helix", helix, material("Orange", (0.95, 0.35, 0.05)), 0.06, count=60, subdivision=4,
     closed=False).location = (-3.6, 0.5, 0.1)
knot = [((1.4 + 0.55 * math.cos(3 * t)) * math.cos(2 * t),
         (1.4 + 0.55 * math.cos(3 * t)) * math.sin(2 * t), 0.55 * math.sin(3 * t) - 0.9)
        for t in (i * 2 * math.pi / 600 for i in range(600))]
poly("Knot", knot, material("Teal", (0.05, 0.6, 0.65)), 0.07, count=70, subdivision=8,
     jitter=0.4, seed=3).location = (0.4, 0, 0)
wave = [(t / 40 - 4, 2.6 + 0.3 * math.sin(t / 6), 0.5 * math.sin(t / 13) - 1.2) for t in range(320)]
poly("Wave", wave, material("Gold", (0.9, 0.7, 0.1), emission=0.6), 0.05, count=30,
     relative=False, closed=False, start=0.05, end=0.95, offset=0.3).location = (0, -0.5, 0)

# A floor, a camera and light.
bpy.ops.mesh.primitive_plane_add(size=30, location=(0, 0, -2.3))
bpy.context.object.data.materials.append(material("Floor", (0.8, 0.8, 0.82)))
cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
scene.collection.objects.link(cam)
cam.location = (0.0, -12.0, 5.0)
cam.data.lens = 38
target = bpy.data.objects.new("Target", None)
target.location = (-0.6, 0.8, -0.6)
scene.collection.objects.link(target)
track = cam.constraints.new("TRACK_TO")
track.target = target
scene.camera = cam
sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", "SUN"))
sun.data.energy = 3.5
sun.rotation_euler = (math.radians(40), math.radians(15), math.radians(30))
scene.collection.objects.link(sun)
scene.world = bpy.data.worlds.new("World")
scene.world.color = (0.25, 0.27, 0.3)

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 24
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 640, 360
scene.render.resolution_percentage = 100
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
print(f"rendered {out}")
