"""The add-on's one store of per-curve state between updates.

A Record is made when a dashed curve is first seen, updated by each update, and forgotten when
the dash goes (switched off, the curve deleted, joined into another or converted), on undo,
redo and when a file is loaded; Blender replaces every data-block then, so objects are held
by name and looked up on use. Each record carries one set, todo, of what must be redone:

    READ  the curve's shape must be read again (points, hooks, shape keys, edit mode)
    LOOK  its look must be compared again (bevel, extrude, fill, taper, materials)
    DASH  the plug-in must dash it again
    CHECK its settings must be compared with those its dashes were made from (a frame, an
          animated or driven setting, a transform in dash-length mode)

Property updates only add to a todo set (see note); the handlers do the work.
"""

READ, LOOK, DASH, CHECK = "read", "look", "dash", "check"
EVERYTHING = frozenset((READ, LOOK, DASH))


class Record:
    def __init__(self, uid, curve):
        self.uid = uid
        self.curve = curve      # the curve object's name
        self.todo = set(EVERYTHING)
        self.form = None        # the line form last read
        self.channels = None    # radius and normal of each point of form, when a profile needs them
        self.reversed = None    # flags of form's splines Blender sweeps from their end (channels)
        self.swept = None       # what channels were swept from besides the points (line_form)
        self.tapered = True     # channels hold the taper (not so when it is mapped between factors)
        self.trim = None        # (the start and end settings, the part of form drawn): live._update
        self.look = None        # the look last given to the dashes (see live._look_of)
        self.stored = None      # digest of the curve's data at its last read, if known (frames)
        self.reading = None     # the digest the next read will see (live._edited)
        self.key = None         # what the dashes shown were made from
        self.echo = False       # the dashes were just written: the curve's next update is ours
        self.written = None     # the point counts of the dashes' mesh as last built
        self.early = False      # dashed before this update's evaluation (live._on_depsgraph_pre)
        self.status = ""        # shown in the panel
        self.estimate = 0       # points the current settings would make
        self.allowed = 0        # points the artist agreed to beyond the limit

    def forget_reads(self):
        """Everything read from Blender is unknown again (undo, redo, load)."""
        self.form = self.channels = self.look = self.key = self.written = self.trim = None
        self.reversed = self.swept = self.stored = self.reading = None
        self.todo = set(EVERYTHING)


class Registry:
    def __init__(self):
        self.records = {}      # uid -> Record
        self.notices = {}      # curve name -> why it is not dashed (a refusal), for its panel
        self.survey = True     # the objects must be looked through again
        self.object_count = -1
        self.behind = False    # updates were skipped (a render job): caught up at the next chance
        self.graphs = set()    # depsgraphs evaluated since the last undo, redo or load

    def settled(self, depsgraph):
        """Whether depsgraph was evaluated since the last undo, redo or load. Undo keeps each
        view layer's depsgraph; the first evaluation of one that was not shown lists in its
        updates data the undo freed, and Blender 3.4 crashes when they are read. (By the
        depsgraph itself: a render's own would not tell of the view layer's.)"""
        return depsgraph.as_pointer() in self.graphs

    def settle(self, depsgraph):
        """Notes that depsgraph was evaluated; returns whether it was settled before."""
        was = self.settled(depsgraph)
        self.graphs.add(depsgraph.as_pointer())
        return was

    def of(self, ob):
        """ob's record, or None."""
        g = ob.get("korrand")
        uid = g.get("uid") if g is not None else None
        r = self.records.get(uid) if uid is not None else None
        return r if r is not None and r.curve == ob.name else None

    def note(self, ob, *todo):
        """Something of ob changed: its record redoes todo at the next update. A curve without
        a record (switched on or off) makes the next update look through the objects."""
        self.notices.pop(ob.name, None)
        r = self.of(ob)
        if r is None:
            self.survey = True
        else:
            r.todo.update(todo)

    def forget(self):
        """A file is being loaded: nothing is known any more."""
        self.records = {}
        self.notices.clear()
        self.survey = True
        self.behind = False
        self.graphs.clear()

    def reload(self):
        """Undo, redo or a load replaced every data-block: records stay, their reads go."""
        for r in self.records.values():
            r.forget_reads()
        self.survey = True
        self.graphs.clear()
