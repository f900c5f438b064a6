"""Real Inkscape running the extension, headless: a fresh profile with korrand-inkscape.zip
unpacked into its extensions folder, the dialog's settings stored as Inkscape stores them, and a
run of Korrand Dash on a selection under Xvfb. Used by the tests and by the README's picture."""
import os
import subprocess
import zipfile

# Inkscape runs an extension with the python3 it finds first on PATH; Debian's has inkex's
# modules (a python3 of one's own, as pyenv installs, may not).
ENV = dict(os.environ, PATH="/usr/bin:/bin:" + os.environ.get("PATH", ""))


def install(zip_path, profile):
    """Unpacks the zip into PROFILE/extensions as an unzip tool would, permissions kept."""
    extensions = os.path.join(profile, "extensions")
    os.makedirs(extensions, exist_ok=True)
    with zipfile.ZipFile(zip_path) as z:
        for info in z.infolist():
            path = z.extract(info, extensions)
            mode = info.external_attr >> 16
            if mode:
                os.chmod(path, mode & 0o7777)
    return os.path.join(extensions, "korrand")


def store_settings(profile, settings):
    """The dialog's values, where Inkscape keeps the last ones used."""
    stored = " ".join('org.korrand.dash.%s="%s"' % (k, v) for k, v in settings.items())
    with open(os.path.join(profile, "preferences.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="UTF-8" standalone="no"?>\n'
                '<inkscape xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" '
                'version="1">\n  <group id="extensions" %s />\n</inkscape>\n' % stored)


def run(profile, source, ids, output, timeout=180):
    """Opens SOURCE, selects IDS, applies Korrand Dash with the stored settings, saves OUTPUT."""
    actions = "select-by-id:%s;org.korrand.dash.noprefs;export-filename:%s;export-do" % (
        ",".join(ids), output)
    env = dict(ENV, INKSCAPE_PROFILE_DIR=profile)
    return subprocess.run(["xvfb-run", "-a", "inkscape", "--with-gui", "--batch-process",
                           "--actions=" + actions, source],
                          capture_output=True, text=True, env=env, timeout=timeout)


def export_png(source, output, width):
    """Inkscape's own rendering of SOURCE."""
    return subprocess.run(["inkscape", source, "--export-type=png", "--export-width=%d" % width,
                           "--export-background=white", "--export-filename=" + output],
                          capture_output=True, text=True, env=ENV, timeout=180)
