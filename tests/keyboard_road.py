"""The voter's road with the keyboard alone, read over AT-SPI as Orca reads it.

Run by keyboard_road.sh inside a private D-Bus session on a virtual display:
    keyboard_road.py PROGRAM ELECTION_FILE
Prints what has the focus after each key (what a screen reader announces) and
fails on the first thing a blind voter could not hear or do.
"""
import os
import sqlite3
import subprocess
import sys

import pyatspi

from atspi_road import (Failure, check, descendants, find, focus_on, has, label_of, on_bus, press, reach, stop,
                        wait_for, window)

program, election = sys.argv[1], sys.argv[2]


def actions(acc):
    try:
        action = acc.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i).lower() for i in range(action.nActions)]


def spoken(acc):
    """Roughly what Orca says for an object: its label, name, role and description."""
    return " / ".join(w for w in (label_of(acc), acc.name, acc.getRoleName(), acc.description) if w)


def show(title, root):
    print(title)
    for acc in descendants(root):
        if acc.getRoleName() != "list item":
            print("    " + spoken(acc) + ("  [actions: %s]" % ", ".join(actions(acc)) if actions(acc) else ""))


def go(app, caption, keys, role, name):
    """Presses the keys, waits for the focus to reach that object and prints what Orca reads."""
    press(caption, *keys)
    after = ", ".join(k.replace("type:", "typed ") for k in keys) or "shown"
    acc = reach(app, "the focus on %s '%s'" % (role, name), focus_on(app, role, name), after)
    print("%-36s Orca: %s" % (after, spoken(acc)))
    return acc


def alert(app, title, text):
    box = wait_for("the box '%s'" % text, lambda: window(app, "alert", title, holding=text))
    print("%-36s Orca: %s / %s" % ("Enter", spoken(box), text))
    press(title, "Return")


def road(app):
    menu = wait_for("the main menu", lambda: window(app, "frame", "Pollaris", holding="Exit"))
    show("Main menu over AT-SPI:", menu)
    for name in ("Voter Log In", "Administrator Log In", "Exit"):
        link = find(menu, "link", name)
        check(link and "press" in actions(link) and has(link, pyatspi.STATE_FOCUSABLE),
              "main menu: '%s' is no focusable link with a press action" % name)
    go(app, "Pollaris", [], "link", "Voter Log In")
    go(app, "Pollaris", ["Return"], "push button", "Cancel")
    show("Voter log-in over AT-SPI:", window(app, "frame", "Voter's Login"))
    go(app, "Voter's Login", ["shift+Tab"], "text", "Username")
    go(app, "Voter's Login", ["type:2026001", "shift+Tab"], "password text", "Password")
    go(app, "Voter's Login", ["type:vote1", "shift+Tab"], "push button", "OK")
    press("Voter's Login", "Return")
    alert(app, "Pollaris", "Warning! Users can only login once")

    ballot = wait_for("the ballot", lambda: window(app, "frame", "Pollaris", holding="Welcome, 2026001"))
    show("Ballot over AT-SPI:", ballot)
    codes = {"PRES", "VP", "SEC", "C001", "C002", "C003", "C004", "C005", "C006"}
    check(not [acc.name for acc in descendants(ballot) if acc.name in codes], "ballot: hidden codes exposed")
    go(app, "Pollaris", [], "push button", "Done")
    check(label_of(go(app, "Pollaris", ["shift+Tab"], "combo box", "Position")) == "Position",
          "ballot: position choice not labelled by its caption")
    position = go(app, "Pollaris", ["Down"], "combo box", "President").name
    go(app, "Pollaris", ["shift+Tab"], "list", "List of Candidates")
    candidate = go(app, "Pollaris", ["Down"], "list item", "Maria Santos").name
    details = wait_for("the candidate's details", lambda: find(ballot, "label", "Position Running for: " + position))
    for acc in descendants(ballot):
        if acc.getRoleName() == "label" and ": " in acc.name:
            print("%-36s       details: %s" % ("", acc.name))
    go(app, "Pollaris", ["shift+Tab"], "push button", "Vote")
    press("Pollaris", "Return")
    wait_for("the voted position to leave the choice", lambda: details.name == "Position Running for:" and find(
        ballot, "combo box", label="Position").getChildAtIndex(0).childCount == 2)
    go(app, "Pollaris", ["shift+Tab"], "push button", "Done")
    press("Pollaris", "Return")
    alert(app, "Your vote has been added", "Thank you for voting!")
    menu = wait_for("the main menu again", lambda: window(app, "frame", "Pollaris", holding="Exit"))
    print("%-36s Orca: %s" % ("Enter", spoken(menu)))
    return candidate, menu


def main():
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    log = open(os.path.join(os.path.dirname(election), "pollaris.log"), "w+")
    process = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)
    try:
        candidate, menu = road(on_bus())
        with sqlite3.connect(election) as db:
            voted = db.execute("SELECT HasVoted FROM Users WHERE Username='2026001'").fetchone()[0]
            tallies = dict(db.execute("SELECT CandName, NumVotes FROM CandInfo JOIN CandVote USING (CandID)"))
        print("In the file: HasVoted of 2026001 =", voted, "; tallies:", tallies)
        check(voted == 1, "HasVoted not set")
        check(tallies[candidate] == 1 and sum(tallies.values()) == 1, "not exactly the one vote cast")

        # The screen reader's own press on a main menu action works too.
        exit_link = find(menu, "link", "Exit")
        try:
            exit_link.queryAction().doAction(actions(exit_link).index("press"))
        except Exception:  # the program ends before it answers
            pass
        check(process.wait(timeout=30) == 0, "Exit pressed over AT-SPI did not end the program cleanly")
        print("Exit pressed over AT-SPI: the program ended with status 0")
        return 0
    except Failure as failure:
        log.seek(0)
        print("FAIL:", failure, "\nThe program's output:\n" + log.read())
        return 1
    finally:
        stop(process)


sys.exit(main())
