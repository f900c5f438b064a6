"""The installable korrand.zip, installed as Blender's preferences install it, in a fresh
user folder: it enables and dashes a curve."""

import os
import sys
import tempfile

import addon_utils
import bpy

sys.path.insert(0, os.path.dirname(__file__))
import support  # noqa: E402


def case_installed_from_the_zip():
    with tempfile.TemporaryDirectory() as user:
        env = dict(os.environ, BLENDER_USER_SCRIPTS=user)
        env.pop("KORRAND_PLUGIN_FOLDER", None)
        support.child(__file__, "install", env=env)


def child_install():
    bpy.ops.preferences.addon_install(filepath=os.path.join(support.BUILD, "blender",
                                                             "korrand.zip"))
    installed = os.path.join(bpy.utils.user_resource("SCRIPTS", path="addons"), "korrand")
    assert os.path.isdir(os.path.join(installed, "plugins", "KorrandModifier", "res")), installed
    assert addon_utils.enable("korrand", default_set=True) is not None
    import korrand
    assert os.path.dirname(korrand.__file__) == installed, korrand.__file__
    assert korrand.bridge_error() == "", korrand.bridge_error()
    from korrand.test_hook import hook
    support.hook = hook
    ob = support.poly_curve("line", [[(0, 0, 0), (4, 0, 0), (4, 4, 0)]])
    support.dash(ob, count=5)
    counts, _ = support.result_line(ob)
    assert len(counts) == 5
    print("installed from the zip: dashes")


support.main(globals())
