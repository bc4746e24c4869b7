"""What the keyboard and screen-reader roads share: reading the real program's
screens over AT-SPI and pressing real keys into its windows."""
import re
import subprocess
import time

import pyatspi


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(what, probe, timeout=45):
    """Polls until probe() gives something, or fails after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        try:
            found = probe()
        except Exception:  # an object that went away while it was read
            found = None
        if found:
            return found
        if time.monotonic() > end:
            raise Failure("gave up waiting for " + what)
        time.sleep(0.1)


def has(acc, state):
    return acc.getState().contains(state)


def children(acc):
    return [c for c in (acc.getChildAtIndex(i) for i in range(acc.childCount)) if c is not None]


def descendants(acc):
    for child in children(acc):
        yield child
        yield from descendants(child)


def label_of(acc):
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return ""


def find(root, role, name=None, label=None):
    return next((acc for acc in descendants(root) if acc.getRoleName() == role and name in (None, acc.name) and
                 label in (None, label_of(acc))), None)


def window(app, role, name, holding=None):
    """The showing top-level window of that role and name (holding that text)."""
    return next((w for w in children(app) if w.getRoleName() == role and w.name == name and
                 has(w, pyatspi.STATE_SHOWING) and (holding is None or any(
                     acc.name == holding for acc in descendants(w)))), None)


def focused(app):
    """The object with the keyboard focus. A list marks its current entry as
    focused even while the focus is elsewhere; the entry counts only while its
    list has the focus, and then stands for the list."""
    found = [acc for w in children(app) if has(w, pyatspi.STATE_SHOWING) for acc in descendants(w)
             if has(acc, pyatspi.STATE_FOCUSED)]
    entries = [acc for acc in found if acc.getRoleName() == "list item" and acc.parent in found]
    others = [acc for acc in found if acc.getRoleName() != "list item"]
    return (entries + others + [None])[0]


def focus_on(app, role, name):
    """A probe: the focused object, when it has that role and name."""
    def probe():
        acc = focused(app)
        return acc if acc is not None and acc.getRoleName() == role and acc.name == name else None
    return probe


def reach(app, what, probe, after):
    """wait_for; a failure tells after what, and where the focus is instead."""
    try:
        return wait_for(what, probe)
    except Failure as failure:
        try:
            now = focused(app)
            now = "%s '%s'" % (now.getRoleName(), now.name) if now else "nothing"
        except Exception:
            now = "something that cannot be read"
        raise Failure("%s: %s; the focus is on %s" % (after, failure, now))


def press(caption, *keys):
    """Real key presses into the showing window of that caption."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(caption)],
                         capture_output=True, text=True).stdout.split()
    check(ids, "no visible window '%s'" % caption)
    subprocess.run(["xdotool", "windowfocus", "--sync", ids[-1]], check=True)
    for key in keys:
        command = ["type", "--delay", "60", key[5:]] if key.startswith("type:") else ["key", "--clearmodifiers", key]
        subprocess.run(["xdotool", *command], check=True)


def on_bus():
    return wait_for("the program on the accessibility bus", lambda: next(
        (a for a in children(pyatspi.Registry.getDesktop(0)) if a.name.lower() == "pollaris"), None))


def stop(process):
    if process is not None and process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
