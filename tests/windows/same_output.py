"""Compares what korrand (Linux) and korrand.exe (Windows, under Wine) wrote for one run.

    same_output.py LINUX_FILE WINDOWS_FILE LINUX_FOLDER WINDOWS_FOLDER

Exit 0: byte for byte the same once each side's own folder (where the program and its plug-in
folder lie, which `info` and `--help` print) is written alike. Exit 1: any other difference, of
which the first is shown.
"""
import re
import sys


def normalised(data, folder, windows):
    if windows:
        forms = ["Z:" + folder.replace("/", "\\\\"), "Z:" + folder.replace("/", "\\")]
    else:
        forms = [folder]
    for form in forms:
        data = data.replace(form.encode(), b"<folder>")
    # Within such a path, Windows' separators (doubled in JSON) become '/'.
    data = re.sub(rb'<folder>[^\s"]*', lambda m: re.sub(rb"\\\\|\\", b"/", m.group(0)), data)
    return data.replace(b"<folder>/korrand.exe", b"<folder>/korrand")


def main():
    a_path, b_path, a_folder, b_folder = sys.argv[1:5]
    a = normalised(open(a_path, "rb").read(), a_folder, False)
    b = normalised(open(b_path, "rb").read(), b_folder, True)
    if a == b:
        return 0
    at = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    print("first difference at byte %d: %r against %r" % (at, a[max(0, at - 30):at + 30],
                                                        b[max(0, at - 30):at + 30]),
          file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
