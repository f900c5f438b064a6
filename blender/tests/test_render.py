"""Every frame rendered is that frame, also where the add-on is not installed: an animation
rendered with -a against each frame rendered alone with -f, and a baked file rendered by a
Blender started with an empty user folder against the live render. Renders are compared
pixel for pixel; each render is a Blender of its own, as on a render farm."""

import math
import os
import sys
import tempfile

import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402

hook = support.enable_addon()
FRAMES = (1, 2, 3)


def animated_scene(path):
    """A bevelled ring whose dash count, offset, bevel and one point move over frames 1 to 3,
    and a ribbon whose tilt does, saved at frame 1."""
    scene = support.render_scene(size=32)
    scene.frame_start, scene.frame_end = FRAMES[0], FRAMES[-1]
    ob = support.operator_curve(bpy.ops.curve.primitive_bezier_circle_add, radius=2.5)
    ob.data.bevel_depth = 0.12
    ob.data.keyframe_insert("bevel_depth", frame=1)
    ob.data.bevel_depth = 0.3
    ob.data.keyframe_insert("bevel_depth", frame=3)
    ob.data.materials.append(support.emissive())
    ob.korrand.count = 8
    ob.korrand.keyframe_insert("count", frame=1)
    ob.korrand.count = 3
    ob.korrand.keyframe_insert("count", frame=3)
    ob.korrand.keyframe_insert("offset", frame=1)
    ob.korrand.offset = 0.3
    ob.korrand.keyframe_insert("offset", frame=3)
    point = ob.data.splines[0].bezier_points[0]
    point.keyframe_insert("co", frame=1)
    point.co.x -= 0.6
    point.keyframe_insert("co", frame=3)
    ob.korrand.enabled = True
    # A POLY ribbon whose points' tilt turns it from edge-on to flat: its curve data is
    # animated, which a render evaluates apart from the stored data.
    ribbon = support.poly_curve("ribbon", [[(x - 1.5, 0, 0) for x in range(4)]])
    ribbon.data.extrude = 0.4
    ribbon.data.materials.append(support.emissive())
    for p in ribbon.data.splines[0].points:
        p.keyframe_insert("tilt", frame=1)
        p.tilt = math.pi / 2
        p.keyframe_insert("tilt", frame=3)
    support.dash(ribbon, count=3, subdivision=2)
    # A bare line whose dash thickness is keyed.
    thin = support.poly_curve("thin", [[(-1, 1.6, 0), (1, 1.6, 0)]])
    thin.data.materials.append(support.emissive())
    thin.korrand.thickness = 0.05
    thin.keyframe_insert("korrand.thickness", frame=1)
    thin.korrand.thickness = 0.4
    thin.keyframe_insert("korrand.thickness", frame=3)
    support.dash(thin, count=2)
    scene.frame_set(1)
    bpy.ops.wm.save_as_mainfile(filepath=path)
    return ob


def lit_where(image, inside, size=32, scale=7):
    """Lit pixels whose place (x, y in scene units, the middle at 0, 0) is inside."""
    lit, row = 0, 3 * size
    for y in range(size):
        for x in range(size):
            px = image[y * row + 3 * x:y * row + 3 * x + 3]
            at = ((x + 0.5) * scale / size - scale / 2, (y + 0.5) * scale / size - scale / 2)
            lit += inside(*at) and max(px) > 60
    return lit


def ring_lit(image):
    """The ring's lit pixels: farther than 2 from the middle."""
    return lit_where(image, lambda x, y: math.hypot(x, y) > 2)


def thin_lit(image):
    """The bare line's: about y = 1.6 (a BMP's rows run upwards), where nothing else is."""
    return lit_where(image, lambda x, y: abs(x) < 1.2 and 1.1 < y < 2)


def render(blend, out, *how, **kw):
    support.blender(blend, "-o", out + "###", "-F", "BMP", *how, **kw)
    return {f: support.pixels(f"{out}{f:03d}.bmp") for f in FRAMES if os.path.exists(
        f"{out}{f:03d}.bmp")}


def case_animation_renders_each_frame():
    with tempfile.TemporaryDirectory() as tmp:
        blend = os.path.join(tmp, "anim.blend")
        animated_scene(blend)
        animation = render(blend, os.path.join(tmp, "a"), "-a")
        alone = {}
        for f in FRAMES:
            alone.update({f: render(blend, os.path.join(tmp, f"f{f}_"), "-f", str(f))[f]})
        assert sorted(animation) == list(FRAMES)
        for f in FRAMES:
            assert animation[f] == alone[f], f"frame {f} of -a differs from -f {f}"
        assert len({animation[f] for f in FRAMES}) == 3, ("the frames do not differ", [support.lit(os.path.join(tmp, "a%03d.bmp" % f)) for f in FRAMES], [animation[f] == animation[1] for f in FRAMES])
        assert support.lit(os.path.join(tmp, "a001.bmp")) > 20
        # The ring's bevel grows from 0.12 to 0.3: a render evaluates it apart from the
        # stored data, which stays at frame 1.
        assert ring_lit(animation[3]) > 1.2 * ring_lit(animation[1]), (
            ring_lit(animation[1]), ring_lit(animation[3]))
        assert thin_lit(animation[3]) > 2 * thin_lit(animation[1]) + 4, (
            thin_lit(animation[1]), thin_lit(animation[3]))


def case_baked_file_renders_without_the_addon():
    with tempfile.TemporaryDirectory() as tmp:
        live = os.path.join(tmp, "live.blend")
        ob = animated_scene(live)
        live_frames = render(live, os.path.join(tmp, "live"), "-a")
        # Opened without the add-on, a live file shows the dashes it was saved with, and its
        # names say what is missing.
        empty = os.path.join(tmp, "empty user")
        os.makedirs(os.path.join(empty, "config"))
        os.makedirs(os.path.join(empty, "scripts"))
        env = dict(os.environ, BLENDER_USER_CONFIG=os.path.join(empty, "config"),
                   BLENDER_USER_SCRIPTS=os.path.join(empty, "scripts"))
        saved = render(live, os.path.join(tmp, "saved"), "-f", "1", env=env, addon=False)
        assert saved[1] == live_frames[1]
        assert "Korrand add-on" in hook.modifier(ob).node_group.name
        assert "Korrand add-on" in ob.korrand.result.name
        # Baked, the file plays every frame by itself.
        assert ob.korrand.bake(1, 3) == ""
        assert bpy.data.objects["ribbon"].korrand.bake(1, 3) == ""
        assert bpy.data.objects["thin"].korrand.bake(1, 3) == ""
        baked = os.path.join(tmp, "baked.blend")
        bpy.ops.wm.save_as_mainfile(filepath=baked)
        without = render(baked, os.path.join(tmp, "without"), "-a", env=env, addon=False)
        for f in FRAMES:
            assert without[f] == live_frames[f], f"baked frame {f} differs from the live render"


support.main(globals())
