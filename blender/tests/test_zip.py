"""The installable korrand.zip, installed as Blender's preferences install it, in a fresh
user folder: it enables and dashes a curve."""

import os
import subprocess
import sys
import tempfile

import addon_utils
import bpy

args = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
build = os.environ["KORRAND_BUILD_DIR"]

if not args:
    with tempfile.TemporaryDirectory() as user:
        env = dict(os.environ, BLENDER_USER_SCRIPTS=user)
        env.pop("KORRAND_PLUGIN_FOLDER", None)
        subprocess.run([bpy.app.binary_path, "-b", "--factory-startup", "--python-exit-code",
                        "1", "--python", __file__, "--", "install"], check=True, env=env)
    print("test_zip: all passed")
    sys.exit(0)

bpy.ops.preferences.addon_install(filepath=os.path.join(build, "blender", "korrand.zip"))
installed = os.path.join(bpy.utils.user_resource("SCRIPTS", path="addons"), "korrand")
assert os.path.isdir(os.path.join(installed, "plugins", "KorrandModifier", "res")), installed
assert addon_utils.enable("korrand", default_set=True) is not None
import korrand  # noqa: E402

assert os.path.dirname(korrand.__file__) == installed, korrand.__file__
assert korrand.bridge_error() == "", korrand.bridge_error()
cu = bpy.data.curves.new("line", "CURVE")
s = cu.splines.new("POLY")
s.points.add(2)
s.points.foreach_set("co", (0, 0, 0, 1, 4, 0, 0, 1, 4, 4, 0, 1))
ob = bpy.data.objects.new("line", cu)
bpy.context.scene.collection.objects.link(ob)
ob.korrand.count = 5
ob.korrand.enabled = True
assert len(ob.korrand.result.data.splines) == 5
print("installed from the zip: dashes")
