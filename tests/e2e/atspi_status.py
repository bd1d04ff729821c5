#!/usr/bin/python3
"""The program's status line as a screen reader sees it, through AT-SPI.

listen SECONDS OUT: writes every accessible-name change of a label to OUT,
one line with the label's name each, and every value of a progress bar, a
line "progress N" each, for SECONDS seconds.
tree: prints the status line's name and description and the label of the
focused control, one per line.
press NAME...: runs the accessible action of each enabled push button so
named, as a screen reader's "activate" does.
"""
import sys
import time

import pyatspi


def program():
    # The program joins the bus once it sees it, a moment after its start.
    for _ in range(100):
        names = []
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None:
                if app.name.lower() == "tarvelo":
                    return app
                names.append(app.name)
        time.sleep(0.1)
    sys.exit("the program is not on the accessibility bus (found: %s)" % ", ".join(names))


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def listen(seconds, out):
    from gi.repository import GLib

    with open(out, "w", encoding="utf-8") as sink:

        # The event names its source; the name is read from it at once.
        def changed(event):
            if event.source.getRoleName() == "label":
                sink.write(event.source.name + "\n")
                sink.flush()

        def moved(event):
            if event.source.getRole() == pyatspi.ROLE_PROGRESS_BAR:
                sink.write("progress %d\n" % event.source.queryValue().currentValue)
                sink.flush()

        # Registered before the program starts, which asks the registry at
        # its start which events anybody listens to.
        pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name")
        pyatspi.Registry.registerEventListener(moved, "object:property-change:accessible-value")
        sink.write("registered\n")
        sink.flush()
        program()
        sink.write("listening\n")
        sink.flush()
        GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
        pyatspi.Registry.start()


def tree():
    status = None
    focused = ""
    for node in walk(program()):
        if node.description == "Estado" and node.getRoleName() == "label":
            status = node
        if node.getState().contains(pyatspi.STATE_FOCUSED):
            # A control is named by its label through the labelled-by relation
            # (an editable list's own name is its text).
            for relation in node.getRelationSet():
                if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
                    focused = relation.getTarget(0).name
                    break
    if status is None:
        sys.exit("no label described as Estado")
    print(status.name)
    print(status.description)
    print(focused)


def press(names):
    # Each button is looked up afresh: a press may renew the tree's objects.
    for name in names:
        app = program()
        # The window was taken off the screen and put back: the objects
        # cached for it are gone on the program's side.
        app.clear_cache()
        # By role, not its name: newer AT-SPI names it "button".
        buttons = {n.name: n for n in walk(app) if n.getRole() == pyatspi.ROLE_PUSH_BUTTON}
        if name not in buttons:
            sys.exit("no button named %s (found: %s)" % (name, ", ".join(buttons)))
        # A disabled button has no action to run (Qt answers an error).
        if buttons[name].getState().contains(pyatspi.STATE_ENABLED):
            buttons[name].queryAction().doAction(0)


if __name__ == "__main__":
    if sys.argv[1] == "listen":
        listen(float(sys.argv[2]), sys.argv[3])
    elif sys.argv[1] == "press":
        press(sys.argv[2:])
    else:
        tree()
