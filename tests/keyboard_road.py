"""The voter's road with the keyboard alone, read over AT-SPI as Orca reads it.

Run by keyboard_road.sh inside a private D-Bus session on a virtual display:
    keyboard_road.py PROGRAM ELECTION_FILE
Prints, step by step, what has the focus (what a screen reader announces), and
fails on the first thing a blind voter could not hear or do.
"""
import os
import sqlite3
import subprocess
import sys
import time

import pyatspi

program, election = sys.argv[1], sys.argv[2]
CODES = {"PRES", "VP", "SEC", "C001", "C002", "C003", "C004", "C005", "C006"}


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(what, probe, timeout=30):
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
    return [acc.getChildAtIndex(i) for i in range(acc.childCount)]


def descendants(acc):
    for child in children(acc):
        if child is not None:
            yield child
            yield from descendants(child)


def label_of(acc):
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return ""


def actions(acc):
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i).lower() for i in range(action.nActions)]


def spoken(acc):
    """Roughly what Orca says for an object: its label, name and role."""
    words = [label_of(acc), acc.name, acc.getRoleName()]
    if acc.description:
        words.append(acc.description)
    return " / ".join(w for w in words if w)


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in children(desktop):
        if app is not None and app.name.lower() == "pollaris":
            return app
    return None


def window(app, role, name):
    """The showing top-level window of that role and name."""
    for w in children(app):
        if w is not None and w.getRoleName() == role and w.name == name and has(w, pyatspi.STATE_SHOWING):
            return w
    return None


def focused(app):
    """The object with the keyboard focus. A list marks its current entry as
    focused even while the focus is elsewhere; that entry counts only while its
    list has the focus, and then stands for the list."""
    found = []
    for w in children(app):
        if w is not None and has(w, pyatspi.STATE_SHOWING):
            found += [acc for acc in descendants(w) if has(acc, pyatspi.STATE_FOCUSED)]
    entries = [acc for acc in found if acc.getRoleName() == "list item" and acc.parent in found]
    if entries:
        return entries[0]
    others = [acc for acc in found if acc.getRoleName() != "list item"]
    return others[0] if others else None


def dump(acc, depth=0):
    print("    " + "  " * depth + spoken(acc) + (" [actions: %s]" % ", ".join(actions(acc)) if actions(acc) else ""))
    for child in children(acc):
        if child is not None and child.getRoleName() != "list item":
            dump(child, depth + 1)


def xdo(*args):
    subprocess.run(["xdotool", *args], check=True, stdout=subprocess.DEVNULL)


def keys(caption, *names):
    """Real key presses into the showing window of that caption."""
    ids = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % caption],
                         capture_output=True, text=True).stdout.split()
    check(ids, "no visible window '%s'" % caption)
    xdo("windowfocus", "--sync", ids[-1])
    for name in names:
        if name.startswith("type:"):
            xdo("type", "--delay", "40", name[5:])
        else:
            xdo("key", "--clearmodifiers", name)


def expect_focus(app, role, name, step):
    def probe():
        acc = focused(app)
        return acc if acc is not None and acc.getRoleName() == role and acc.name == name else None
    try:
        acc = wait_for("the focus on %s '%s'" % (role, name), probe)
    except Failure as failure:
        now = focused(app)
        raise Failure("%s after '%s'; the focus is on %s" % (failure, step, spoken(now) if now else "nothing"))
    print("%-40s Orca: %s" % (step, spoken(acc)))
    return acc


def by(root, role, name=None, label=None):
    for acc in descendants(root):
        if acc.getRoleName() == role and (name is None or acc.name == name) and (
                label is None or label_of(acc) == label):
            return acc
    return None


def road(app):
    menu = wait_for("the main menu", lambda: window(app, "frame", "Pollaris"))
    print("Main menu, as exposed:")
    dump(menu)
    for name in ("Voter Log In", "Administrator Log In", "Exit"):
        link = by(menu, "link", name)
        check(link is not None, "main menu: no link '%s'" % name)
        check("press" in actions(link), "main menu: link '%s' has no press action" % name)
        check(has(link, pyatspi.STATE_FOCUSABLE), "main menu: link '%s' cannot take the focus" % name)
    check(by(menu, "filler") is None, "main menu: an unnamed filler")

    keys("Pollaris")
    expect_focus(app, "link", "Voter Log In", "main menu shown")
    keys("Pollaris", "Return")

    login = wait_for("the voter log-in", lambda: window(app, "frame", "Voter's Login"))
    print("Voter log-in, as exposed:")
    dump(login)
    check(by(login, "text", "Username") is not None, "log-in: no text field named Username")
    check(by(login, "password text", "Password") is not None, "log-in: no password field named Password")
    expect_focus(app, "push button", "Cancel", "log-in shown")
    keys("Voter's Login", "shift+Tab")
    expect_focus(app, "text", "Username", "Shift+Tab")
    keys("Voter's Login", "type:2026001", "shift+Tab")
    expect_focus(app, "password text", "Password", "typed 2026001, Shift+Tab")
    keys("Voter's Login", "type:vote1", "shift+Tab")
    expect_focus(app, "push button", "OK", "typed the password, Shift+Tab")
    keys("Voter's Login", "Return")

    warning = wait_for("the warning box", lambda: window(app, "alert", "Pollaris"))
    check(by(warning, "label", "Warning! Users can only login once") is not None, "warning box: text not exposed")
    print("%-40s Orca: %s / %s" % ("Enter on OK", spoken(warning), "Warning! Users can only login once"))
    with sqlite3.connect(election) as db:
        check(db.execute("SELECT HasVoted FROM Users WHERE Username='2026001'").fetchone()[0] == 1,
              "HasVoted not set while the warning is open")
    keys("Pollaris", "Return")

    ballot = wait_for("the ballot", lambda: (lambda w: w if w is not None and by(w, "label", "Welcome, 2026001")
                                             else None)(window(app, "frame", "Pollaris")))
    print("Ballot, as exposed:")
    dump(ballot)
    leaked = [acc.name for acc in descendants(ballot) if acc.name in CODES]
    check(not leaked, "ballot: hidden codes exposed: %s" % leaked)
    check(by(ballot, "list", "List of Candidates") is not None, "ballot: candidate list has no name")
    check(by(ballot, "combo box", label="Position") is not None, "ballot: position choice not labelled")
    expect_focus(app, "push button", "Done", "ballot shown")
    keys("Pollaris", "shift+Tab")
    expect_focus(app, "combo box", "Position", "Shift+Tab")
    keys("Pollaris", "Down")
    position = expect_focus(app, "combo box", "President", "Down: a position chosen").name
    keys("Pollaris", "shift+Tab")
    expect_focus(app, "list", "List of Candidates", "Shift+Tab")
    keys("Pollaris", "Down")
    details = wait_for("the candidate's details", lambda: next(
        (acc for acc in descendants(ballot) if acc.getRoleName() == "label" and acc.name.startswith("Name: ")), None))
    entry = expect_focus(app, "list item", details.name[len("Name: "):], "Down: a candidate selected")
    for acc in descendants(ballot):
        if acc.getRoleName() == "label" and ": " in acc.name:
            print("%-40s       (details) %s" % ("", acc.name))
    candidate = entry.name
    check(by(ballot, "label", "Position Running for: " + position) is not None, "ballot: position detail not read")
    keys("Pollaris", "shift+Tab")
    expect_focus(app, "push button", "Vote", "Shift+Tab")
    keys("Pollaris", "Return")
    wait_for("the voted position to leave the choice", lambda: by(ballot, "label", "Name") and by(
        ballot, "combo box", label="Position").getChildAtIndex(0).childCount == 2)
    keys("Pollaris", "shift+Tab")
    expect_focus(app, "push button", "Done", "Enter on Vote, Shift+Tab")
    keys("Pollaris", "Return")

    thanks = wait_for("the thank-you box", lambda: window(app, "alert", "Your vote has been added"))
    check(by(thanks, "label", "Thank you for voting!") is not None, "thank-you box: text not exposed")
    print("%-40s Orca: %s / %s" % ("Enter on Done", spoken(thanks), "Thank you for voting!"))
    keys("Your vote has been added", "Return")
    menu = wait_for("the main menu again", lambda: window(app, "frame", "Pollaris") if window(
        app, "frame", "Pollaris") and by(window(app, "frame", "Pollaris"), "link", "Exit") else None)
    print("%-40s Orca: %s" % ("Enter on OK", spoken(menu)))
    return candidate


def main():
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    log = open(os.path.join(os.path.dirname(election), "pollaris.log"), "w")
    app_process = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        app = wait_for("the program on the accessibility bus", find_app)
        candidate = road(app)

        with sqlite3.connect(election) as db:
            voted = db.execute("SELECT HasVoted FROM Users WHERE Username='2026001'").fetchone()[0]
            tallies = dict(db.execute("SELECT CandName, NumVotes FROM CandInfo JOIN CandVote USING (CandID)"))
        print("In the file: HasVoted of 2026001 =", voted, "; tallies:", tallies)
        check(voted == 1, "HasVoted not set")
        check(tallies.get(candidate) == 1, "the vote for %s was not counted" % candidate)
        check(sum(tallies.values()) == 1, "votes other than the one cast")

        # The main menu's actions work through the screen reader's own action, too.
        pyatspi_exit = by(window(app, "frame", "Pollaris"), "link", "Exit")
        try:
            pyatspi_exit.queryAction().doAction(actions(pyatspi_exit).index("press"))
        except Exception:  # the program ends before it can answer
            pass
        check(app_process.wait(timeout=30) == 0, "Exit through its action did not end the program cleanly")
        print("Exit pressed through AT-SPI: the program ended with status 0")
        return 0
    except Failure as failure:
        print("FAIL:", failure)
        log.flush()
        print(open(log.name).read())
        return 1
    finally:
        if app_process.poll() is None:
            app_process.kill()
            app_process.wait()


sys.exit(main())
