"""The one way tests (and the benchmark) reach inside the add-on. Nothing else in the package
is meant to be replaced or read from outside; the add-on reads these on every use, so a test
sets one, does what it checks and sets it back.

    from korrand.test_hook import hook
    hook.open_url = opened.append   # the web-page button calls this instead of Blender's
                                    # URL operator
    hook.direct_memory = False      # read and write splines through Blender's Python API
                                    # only (both ways must give the same dashes)
    hook.render_job = True          # act as if a render job ran: nothing is written until
                                    # it is set back to None and the next update comes
    hook.timings                    # the phases of the last update that dashed, in seconds:
                                    # read, compare, plugin, build; rebuilt (bool)
"""


class _Hook:
    def __init__(self):
        self.open_url = None
        self.direct_memory = True
        self.render_job = None
        self.timings = {}


hook = _Hook()
