"""Renders docs/blender-dashed.png: a scene an artist would make with the add-on, built here
from Blender's own curves and dashed live by the add-on from the build tree, rendered by Cycles
on the CPU. Each dash is the curve's own geometry: a tapered curve dashed along its whole
length, a ring whose Array modifier after the dash repeats its dashes, and a filled text
shape that keeps its fill, its outline dashed.

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


def material(name, rgb, roughness=0.35, emission=0.0):
    m = bpy.data.materials.new(name)
    m.use_nodes = True
    bsdf = m.node_tree.nodes["Principled BSDF"]
    bsdf.inputs["Base Color"].default_value = (*rgb, 1)
    bsdf.inputs["Roughness"].default_value = roughness
    if emission:
        bsdf.inputs["Emission"].default_value = (*rgb, 1)
        bsdf.inputs["Emission Strength"].default_value = emission
    return m


def dash(ob, **settings):
    for k, v in settings.items():
        setattr(ob.korrand, k, v)
    ob.korrand.enabled = True


# A Bezier curve sweeping over the scene with a round bevel, thinned by a taper object from
# thick to a point along its whole length: each dash is as thick as the curve is there.
bpy.ops.curve.primitive_bezier_curve_add(location=(0, 0, 0))
swoop = bpy.context.object
points = swoop.data.splines[0].bezier_points
points.add(2)
for p, co in zip(points, [(-4.6, 0.6, -1.6), (-2.0, 2.2, 0.9), (1.6, 1.0, 1.6),
                          (4.8, 2.6, -0.2)]):
    p.handle_left_type = p.handle_right_type = "AUTO"
    p.co = co
taper = bpy.data.curves.new("Taper", "CURVE")
spline = taper.splines.new("BEZIER")
spline.bezier_points.add(2)
for p, co in zip(spline.bezier_points, [(0, 1.0, 0), (0.55, 0.7, 0), (1, 0.08, 0)]):
    p.handle_left_type = p.handle_right_type = "AUTO"
    p.co = co
swoop.data.taper_object = bpy.data.objects.new("Taper", taper)
swoop.data.bevel_depth, swoop.data.bevel_resolution = 0.2, 5
swoop.data.use_fill_caps = True
swoop.data.materials.append(material("Teal", (0.03, 0.5, 0.58)))
dash(swoop, count=22, subdivision=14)

# A ring lying on the floor, its dashes repeated by an Array modifier after the dash in its
# stack: three rings, one curve.
bpy.ops.curve.primitive_bezier_circle_add(radius=1.0, location=(-4.0, -1.6, -1.9))
ring = bpy.context.object
ring.data.bevel_depth, ring.data.bevel_resolution = 0.06, 3
ring.data.use_fill_caps = True
ring.data.materials.append(material("Orange", (0.95, 0.33, 0.04)))
dash(ring, period=0.4, subdivision=10)
array = ring.modifiers.new("Array", "ARRAY")
array.count = 3
array.relative_offset_displace = (1.1, 0, 0)

# A filled shape: a text made a curve, lying on the floor. It keeps its fill; its outline,
# which has no bevel, is dashed with the thickness the add-on offers for it.
bpy.ops.object.text_add(location=(-1.2, -4.2, -1.99))
text = bpy.context.object
text.data.body = "Korrand"
text.data.size = 1.6
bpy.ops.object.convert(target="CURVE")
shape = bpy.context.object
shape.data.materials.clear()
shape.data.materials.append(material("Cream", (0.86, 0.8, 0.62), 0.5))
dash(shape, period=0.09, subdivision=2, thickness=0.045)

bpy.context.view_layer.update()  # the add-on dashes them all here
for ob in (swoop, ring, shape):
    assert ob.korrand.result is not None and ob.korrand.status == "", (ob.name, ob.korrand.status)

# A floor, a camera and light.
bpy.ops.mesh.primitive_plane_add(size=40, location=(0, 0, -2))
bpy.context.object.data.materials.append(material("Floor", (0.3, 0.32, 0.36), 0.7))
cam = bpy.data.objects.new("Camera", bpy.data.cameras.new("Camera"))
scene.collection.objects.link(cam)
cam.location = (0.3, -14.0, 6.2)
cam.data.lens = 36
target = bpy.data.objects.new("Target", None)
target.location = (0.2, -0.9, -0.9)
scene.collection.objects.link(target)
cam.constraints.new("TRACK_TO").target = target
scene.camera = cam
sun = bpy.data.objects.new("Sun", bpy.data.lights.new("Sun", "SUN"))
sun.data.energy, sun.data.angle = 3.2, math.radians(8)
sun.rotation_euler = (math.radians(38), math.radians(12), math.radians(35))
scene.collection.objects.link(sun)
scene.world = bpy.data.worlds.new("World")
scene.world.color = (0.3, 0.32, 0.36)

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 32
scene.cycles.use_denoising = False
scene.render.resolution_x, scene.render.resolution_y = 800, 450
scene.render.resolution_percentage = int(os.environ.get("KORRAND_PICTURE_PERCENT", "100"))
scene.render.filepath = out
bpy.ops.render.render(write_still=True)
print(f"rendered {out}")
