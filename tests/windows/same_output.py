"""Compares what korrand (Linux) and korrand.exe (Windows, under Wine) wrote for one run.

    same_output.py LINUX_FILE WINDOWS_FILE LINUX_FOLDER WINDOWS_FOLDER

Exit 0: byte for byte the same once each side's own folder (where the program and its plug-in
folder lie, which `info` and `--help` print) is written alike. Exit 3: the same text, but some
numbers differ in their last digits (relative 1e-12 of the larger magnitude, at least 1): values
that went through the C library's sin, cos, atan2 or hypot, whose last bits differ between
glibc and MinGW-w64's C library. Exit 1: any other difference, shown.
"""
import re
import sys

NUMBER = re.compile(rb"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")


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
    a_text, b_text = NUMBER.split(a), NUMBER.split(b)
    a_nums, b_nums = NUMBER.findall(a), NUMBER.findall(b)
    if a_text != b_text or len(a_nums) != len(b_nums):
        print("text differs", file=sys.stderr)
        return 1
    near = 0
    for x, y in zip(a_nums, b_nums):
        if x == y:
            continue
        fx, fy = float(x), float(y)
        if abs(fx - fy) > 1e-12 * max(1.0, abs(fx), abs(fy)):
            print("number differs: %s against %s" % (x.decode(), y.decode()), file=sys.stderr)
            return 1
        near += 1
    print("%d numbers differ in their last digits" % near, file=sys.stderr)
    return 3


if __name__ == "__main__":
    sys.exit(main())
