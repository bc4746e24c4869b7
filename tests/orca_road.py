"""What the screen reader Orca says on the voter's whole road and on the
administrator's candidates' panel, a position's results and the voters'
accounts, read from Orca's own debug log.

Run by orca_road.sh inside a private D-Bus session on a virtual display:
    orca_road.py PROGRAM ELECTION_FILE
Fills the election, starts Orca and then the program, and drives the screens
with real key presses, waiting over AT-SPI for each screen and focus and for
Orca to fall quiet. Each step lists what Orca must say in it, in order, and
what it must not; also checked over the whole log: no code a screen hides, no
password but as the account's detail, and a password is typed unheard.
"""
import json
import os
import re
import sqlite3
import subprocess
import sys
import time
from types import SimpleNamespace

from atspi_road import (Failure, check, descendants, find, focus_on, focused, on_bus, press, reach, stop, wait_for,
                        window)

program, election = sys.argv[1], sys.argv[2]
work = os.path.dirname(election)
orca_log, orca_prefs = os.path.join(work, "orca-debug.log"), os.path.join(work, "orca-prefs")

# Codes nobody could mistake for words, so that any code said is found, and
# names and passwords said nowhere else.
POSITIONS = [("PX1", "Class President"), ("PX2", "Treasurer"), ("PX3", "Auditor")]
CANDIDATES = [("CX1", "Ada Lovelace", "2024-1815", "PX1"), ("CX2", "Grace Hopper", "2024-1906", "PX1"),
              ("CX3", "Alan Turing", "2024-1912", "PX2"), ("CX4", "Katherine Johnson", "2024-1918", "PX2"),
              ("CX5", "Edsger Dijkstra", "2024-1930", "PX3"), ("CX6", "Barbara Liskov", "2024-1939", "PX3")]
ACCOUNTS = [("Test Voter", "v7001", "pw7001"), ("Mary Jackson", "v7002", "qk5530"),
            ("Dorothy Vaughan", "v7003", "zr8812")]
VOTER, ADMIN = ACCOUNTS[0], ("admin", "admin")
# Votes before the road, different within each position: the results have one order.
TALLY = {"CX1": 3, "CX2": 0, "CX3": 1, "CX4": 12, "CX5": 0, "CX6": 5}
COUNTED = "Treasurer"
# The voter's votes: the keys from the candidates' list or Vote to the position
# choice, the position, the candidate.
VOTES = [([("shift+Tab", "the position choice")], "Class President", "Grace Hopper"),
         ([("Tab", "the candidates"), ("Tab", "the position choice")], "Auditor", "Edsger Dijkstra")]
RUNNING = {name: [c[1] for c in CANDIDATES if c[3] == code] for code, name in POSITIONS}
POSITION_CODES, CANDIDATE_CODES = [p[0] for p in POSITIONS], [c[0] for c in CANDIDATES]
CODE = re.compile(r"(?<![A-Za-z0-9])(%s)(?![A-Za-z0-9])" % "|".join(POSITION_CODES + CANDIDATE_CODES), re.I)
WARNING, THANKS = "Warning! Users can only login once", "Thank you for voting!"
PANEL, START, USERS = ("Administrator's Panel - Candidates and Positions", "Pollaris Administrator's Panel",
                       "Administrator's Panel (Users)")

# /usr/bin/orca itself, but its debug log is written line by line, so that it
# can be followed while Orca runs, and another Orca of the same user is neither
# refused nor killed, as --replace would.
ORCA_LAUNCHER = r'''
import sys
path = "/usr/bin/orca"
scope = {"__name__": "orca_road", "__file__": path}
exec(compile(open(path).read(), path, "exec"), scope)
scope["open"] = lambda name, mode="r": open(name, mode, buffering=1)
scope["otherOrcas"] = lambda: []
sys.exit(scope["main"]())
'''


def fill_election():
    with sqlite3.connect(election) as db:
        for table in ("Positions", "CandInfo", "CandVote", "Users"):
            db.execute("DELETE FROM " + table)
        db.executemany("INSERT INTO Positions (PosID, PosName) VALUES (?, ?)", POSITIONS)
        db.executemany("INSERT INTO CandInfo (CandID, CandName, StudentNum, PosID) VALUES (?, ?, ?, ?)", CANDIDATES)
        db.executemany("INSERT INTO CandVote (CandID, NumVotes) VALUES (?, ?)", TALLY.items())
        db.executemany("INSERT INTO Users (Name, Username, Password, HasVoted) VALUES (?, ?, ?, 0)", ACCOUNTS)


class Orca:
    """Orca with a debug log and settings of its own: no speech synthesizer (what
    it would say is logged all the same), no braille, no sounds."""

    def __init__(self):
        os.makedirs(orca_prefs, exist_ok=True)
        with open(os.path.join(orca_prefs, "user-settings.conf"), "w") as f:
            json.dump({"general": {"speechServerFactory": "", "enableBraille": False, "enableSound": False},
                       "profiles": {"default": {"profile": ["Default", "default"], "pronunciations": {},
                                                "keybindings": {}}},
                       "pronunciations": {}, "keybindings": {}}, f)
        self.output = open(os.path.join(work, "orca.out"), "w+")
        self.process = subprocess.Popen(
            [sys.executable, "-c", ORCA_LAUNCHER, "--user-prefs", orca_prefs, "--debug-file", orca_log],
            stdout=self.output, stderr=subprocess.STDOUT)
        wait_for("Orca to start", lambda: self.running() and b"ORCA: Starting ATSPI registry." in self.log())
        self.settle()

    def running(self):
        if self.process.poll() is not None:
            self.output.seek(0)
            raise Failure("Orca ended with status %s:\n%s" % (self.process.returncode, self.output.read()))
        return True

    def log(self):
        with open(orca_log, "rb") as f:
            return f.read()

    def size(self):
        return os.path.getsize(orca_log) if os.path.exists(orca_log) else 0

    def settle(self, quiet=1.5, timeout=30):
        """Waits until Orca has written nothing for a while: it has dealt with
        every event the last key caused."""
        end, last, since = time.monotonic() + timeout, self.size(), time.monotonic()
        while time.monotonic() < end:
            time.sleep(0.1)
            self.running()
            if self.size() != last:
                last, since = self.size(), time.monotonic()
            elif time.monotonic() - since >= quiet:
                return
        print("(Orca was still busy after %d s; going on)" % timeout)


SPEECH = re.compile(r"^\S+ - SPEECH OUTPUT: '(.*?)'(?: voice=\w+)? ?(?:\{.*\})?$")
EVENT = re.compile(r"^(?:vvvvv PROCESS (.*) vvvvv|\S+ - OBJECT EVENT: (.*))$")


def utterances(log):
    """Everything Orca said, in order, with its place in the log and the key or
    object event Orca was dealing with."""
    found, cause, offset = [], None, 0
    for raw in log.splitlines(keepends=True):
        line = raw.decode(errors="replace").rstrip("\n")
        event, speech = EVENT.match(line), SPEECH.match(line)
        if line.startswith("^^^^^ PROCESS"):
            cause = None
        elif event and (event.group(1) or cause):
            cause = event.group(1) or event.group(2)
        elif speech:
            found.append(SimpleNamespace(offset=offset, text=speech.group(1), cause=cause or "Orca's own", step=None))
        offset += len(raw)
    return found


# ---- The road: each step with where Orca's log stood before and after it ----

class Road:
    def __init__(self, app, orca):
        self.app, self.orca, self.steps, self.codes = app, orca, [], POSITION_CODES + CANDIDATE_CODES

    def __call__(self, title, caption, keys, until, hear=(), deny=(), secret=None):
        """Presses the keys into the window of that caption and waits until the
        focus is on (role, name), or until() gives something. Orca is to say
        the texts (or whole lines that match the patterns) of hear in that
        order, none of deny, none of the codes of the screen and no code before
        the first of hear, nor anything that was typed of the secret."""
        start = self.orca.size()
        press(caption, *keys)
        what = "the focus on %s '%s'" % until if isinstance(until, tuple) else "the screen it leads to"
        reach(self.app, what, focus_on(self.app, *until) if isinstance(until, tuple) else until, title)
        self.orca.settle()
        self.steps.append(SimpleNamespace(title=title, start=start, end=self.orca.size(), hear=hear, deny=deny,
                                          codes=self.codes, secret=secret))

    def focus_in(self, window_title, k):
        """A probe: whether the k-th entry of the focused list of that window has the focus."""
        def probe():
            acc = focused(self.app)
            return window(self.app, "frame", window_title) and acc.getRoleName() == "list item" and \
                acc.getIndexInParent() == k
        return probe


def candidate(name):
    """What is to be heard on reaching a candidate: the name, then the details shown."""
    code, _, student, position = next(c for c in CANDIDATES if c[1] == name)
    return [name, "Name: " + name, "Student ID: " + student, "Position Running for: " + dict(POSITIONS)[position]]


def voter_road(road):
    app = road.app
    road("main menu shown", "Pollaris", [], ("link", "Voter Log In"))
    road("Enter on 'Voter Log In'", "Pollaris", ["Return"], ("push button", "Cancel"))
    road("Shift+Tab to the user name", "Voter's Login", ["shift+Tab"], ("text", "Username"))
    road("typed the user name, Shift+Tab", "Voter's Login", ["type:" + VOTER[1], "shift+Tab"],
         ("password text", "Password"))
    road("typed the password, Shift+Tab", "Voter's Login", ["type:" + VOTER[2], "shift+Tab"], ("push button", "OK"),
         hear=["*"], secret=VOTER[2])
    road("Enter on OK", "Voter's Login", ["Return"], lambda: window(app, "alert", "Pollaris", holding=WARNING),
         hear=[WARNING])
    road("Enter on the warning", "Pollaris", ["Return"], lambda: window(
        app, "frame", "Pollaris", holding="Welcome, " + VOTER[1]) and focused(app).name == "Done")
    ballot = window(app, "frame", "Pollaris", holding="Welcome, " + VOTER[1])
    left = [name for _, name in POSITIONS]
    for keys, position, chosen in VOTES:
        for key, what in keys:
            road("%s to %s" % (key.replace("shift", "Shift"), what), "Pollaris", [key],
                 ("combo box", "Position") if what == "the position choice" else ("list", "List of Candidates"))
        for name in left[:left.index(position) + 1]:
            road("Down in the position choice: " + name, "Pollaris", ["Down"], ("combo box", name), hear=[name],
                 deny=RUNNING[name])
        road("Shift+Tab to the candidates", "Pollaris", ["shift+Tab"], ("list", "List of Candidates"))
        for name in RUNNING[position][:RUNNING[position].index(chosen) + 1]:
            road("Down in the candidates: " + name, "Pollaris", ["Down"], lambda name=name: focus_on(
                app, "list item", name)() and find(ballot, "label", "Position Running for: " + position),
                 hear=candidate(name))
        road("Shift+Tab to Vote", "Pollaris", ["shift+Tab"], ("push button", "Vote"))
        left.remove(position)
        # The vote is cast when the voted position has left the choice.
        road("Enter on Vote: %s for %s" % (chosen, position), "Pollaris", ["Return"], lambda: position not in [
            acc.name for acc in descendants(find(ballot, "combo box")) if acc.getRoleName() == "menu item"],
             hear=[chosen, position] + left)
    road("Shift+Tab to Done", "Pollaris", ["shift+Tab"], ("push button", "Done"))
    road("Enter on Done", "Pollaris", ["Return"],
         lambda: window(app, "alert", "Your vote has been added", holding=THANKS), hear=[THANKS])
    road("Enter on the thanks", "Your vote has been added", ["Return"], ("link", "Voter Log In"))


def admin_road(road, rows):
    app = road.app
    road("Tab to 'Administrator Log In'", "Pollaris", ["Tab"], ("link", "Administrator Log In"))
    road("Enter on 'Administrator Log In'", "Pollaris", ["Return"], ("text", "Username"))
    road("typed the user name, Tab", "Administrator Log In", ["type:" + ADMIN[0], "Tab"], ("password text", "Password"))
    road("typed the password, Tab", "Administrator Log In", ["type:" + ADMIN[1], "Tab"], ("push button", "OK"),
         hear=["*"], secret=ADMIN[1])
    road("Enter on OK", "Administrator Log In", ["Return"], ("push button", "Cand/Positions Panel"))
    # The candidates' panel shows the position codes, in a list of their own
    # beside the choice; a chosen position is still its name first.
    road.codes = CANDIDATE_CODES
    road("Enter on 'Cand/Positions Panel'", START, ["Return"], ("combo box", "Position"))
    for keys, position, names, back in ((["Down"], "Class President", ["Ada Lovelace", "Grace Hopper"], True),
                                        (["Down"], COUNTED, ["Alan Turing"], False)):
        road("Down in the position choice: " + position, PANEL, keys, ("combo box", position), hear=[position])
        road("Tab to the candidates", PANEL, ["Tab"], ("list", "List of Candidates"))
        for name in names:
            road("Down in the candidates: " + name, PANEL, ["Down"], ("list item", name), hear=candidate(name))
        if back:
            road("Shift+Tab to the position choice", PANEL, ["shift+Tab"], ("combo box", position))
    road.codes = POSITION_CODES + CANDIDATE_CODES
    road("Tab, Tab, Tab to 'Count Votes'", PANEL, ["Tab", "Tab", "Tab"], ("push button", "Count Votes"))
    title = "Voting Results for " + COUNTED
    road("Enter on 'Count Votes'", PANEL, ["Return"], lambda: find(window(app, "frame", "Voting Results"), "label",
         title) and focused(app).getRoleName() == "list" and focused(app).childCount == len(rows), hear=[title])
    # Each line of the results as it reads on the screen, and no other line.
    for k, (name, tally) in enumerate(rows):
        road("Down in the results: " + name, "Voting Results", ["Down"], road.focus_in("Voting Results", k),
             hear=[re.compile(r"^%s, %d %s\.?$" % (re.escape(name), tally, "vote" if tally == 1 else "votes"), re.M)],
             deny=[n for n, _ in rows if n != name])
    road("Tab to OK, Enter", "Voting Results", ["Tab", "Return"], ("push button", "Count Votes"))
    road("Tab to 'Back to Main', Enter", PANEL, ["Tab", "Return"], ("push button", "Cand/Positions Panel"))
    road("Tab to 'Users Panel', Enter", START, ["Tab", "Return"],
         lambda: window(app, "frame", USERS) and focused(app).getRoleName() == "push button")
    road("Shift+Tab to the accounts", USERS, ["shift+Tab"],
         lambda: focused(app).getRoleName() == "list" and focused(app).childCount == len(ACCOUNTS),
         hear=["List of Users"])
    # Each account by its user name, then the details shown for it, no other account's.
    for k, (name, user, password) in enumerate(ACCOUNTS):
        road("Down in the accounts: " + user, USERS, ["Down"], road.focus_in(USERS, k),
             hear=[user, "Name: " + name, "Username: " + user, "Password: " + password],
             deny=["Name: " + other for other, _, _ in ACCOUNTS if other != name])


def check_speech(steps, spoken):
    failed, count = [], [0]

    def expect(ok, what):
        count[0] += 1
        if not ok:
            failed.append(what)

    for i, s in enumerate(steps):
        texts = [u.text for u in spoken if u.step == i]
        said, at, first = "\n".join(texts), 0, None
        for want in s.hear:
            found = (want if isinstance(want, re.Pattern) else re.compile(re.escape(want))).search(said, at)
            expect(found, "'%s': Orca did not say %r%s; it said %s" % (s.title, getattr(want, "pattern", want), (
                " in its place" if at else ""), texts))
            at, first = (found.end(), found.start() if first is None else first) if found else (at, first)
        for text in s.deny:
            expect(text not in said, "'%s': Orca said %r there; it said %s" % (s.title, text, texts))
        codes = [m.group() for m in CODE.finditer(said) if m.group().upper() in s.codes or (
            first is not None and m.start() < first)]
        expect(not codes, "'%s': Orca said the hidden code %s; it said %s" % (s.title, ", ".join(codes), texts))
        if s.secret:  # Orca may say that something was typed, never what
            echoed = [t for t in texts if t.strip() and (t.strip() in s.secret or s.secret in t)]
            expect(not echoed, "'%s': Orca said what was typed in the password field: %s" % (s.title, echoed))
    # Said at one step only (and there after that prefix): the thanks, and each password.
    for text, title, prefix in [(THANKS, "Enter on Done", "")] + [
            (password, "Down in the accounts: " + user, "Password: ") for _, user, password in ACCOUNTS]:
        wrong = ["%s: '%s'" % (steps[u.step].title if u.step is not None else "outside the road", u.text)
                 for u in spoken for m in re.finditer(re.escape(text), u.text) if not (
                     u.step is not None and steps[u.step].title == title and u.text[:m.start()].endswith(prefix))]
        expect(not wrong, "Orca said %r other than %r at '%s': %s" % (text, prefix + text, title, wrong))
    return failed, count[0]


def main():
    fill_election()
    process, road, orca, status = None, None, None, 1
    log = open(os.path.join(work, "pollaris.log"), "w+")
    try:
        orca = Orca()
        # No accessibility forced on: the program shows itself because a screen reader runs.
        process = subprocess.Popen([program], env=dict(os.environ, QT_QPA_PLATFORM="xcb"), stdout=log,
                                   stderr=subprocess.STDOUT)
        app = on_bus()
        wait_for("the main menu", lambda: window(app, "frame", "Pollaris", holding="Exit"))
        road = Road(app, orca)
        voter_road(road)
        cast = [chosen for _, _, chosen in VOTES]
        rows = sorted(((c[1], TALLY[c[0]] + cast.count(c[1])) for c in CANDIDATES if c[1] in RUNNING[COUNTED]),
                      key=lambda row: -row[1])
        check(len({tally for _, tally in rows}) == len(rows), "the election is wrong: two tallies are the same")
        admin_road(road, rows)
        status = 0
    except Failure as failure:
        if road:  # what Orca said on the step that failed
            road.steps.append(SimpleNamespace(title="(where the road stopped)", start=road.steps[-1].end if road.steps
                                              else 0, end=float("inf")))
        log.seek(0)
        print("FAIL: the road could not be driven to its end:", failure, "\nThe program's output:\n" + log.read())
    finally:
        stop(process)
        if orca:
            stop(orca.process)
    if orca is None:
        return 1
    if os.environ.get("ORCA_ROAD_LOG"):  # a copy of Orca's whole debug log, for a closer look
        with open(os.environ["ORCA_ROAD_LOG"], "wb") as f:
            f.write(orca.log())
    spoken, steps = utterances(orca.log()), road.steps if road else []
    for u in spoken:
        u.step = next((i for i, s in enumerate(steps) if s.start <= u.offset < s.end), None)
    failed, count = check_speech(steps, spoken) if not status else ([], 0)
    if failed or status:
        print("\nWhat Orca said, step by step, with the event that made it speak:")
        for i, s in enumerate(steps):
            print("  [%d] %s" % (i + 1, s.title))
            for u in spoken:
                if u.step == i:
                    print("      %-40s <- %s" % ("'%s'" % u.text, u.cause[:100]))
    if failed:
        print("\nFAIL: %d of %d checks of what Orca said failed:\n  - " % (len(failed), count) + "\n  - ".join(failed))
    if failed or status:
        return 1
    print("All %d checks of what Orca said passed." % count)
    return 0


sys.exit(main())
