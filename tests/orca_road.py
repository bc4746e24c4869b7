"""What the screen reader Orca says on the voter's whole road and on the
administrator's screens a keyboard reaches (the candidates' panel, the results of
a position, the voters' accounts), read from Orca's own debug log.

Run by orca_road.sh inside a private D-Bus session on a virtual display:
    orca_road.py PROGRAM ELECTION_FILE
Fills the election with positions and candidates of its own, starts Orca and
then the program, drives the screens with real key presses (waiting over AT-SPI
for each screen and each focus, and for Orca to have had its say), then prints
all Orca said, step by step, with the event that made it speak. It fails when a
name the voter needs is not said, when a code the voter never sees is said, when
a line of the results is not said as it reads, when a password is said where the
screen does not show it, or when things are said in the wrong order.
"""
import json
import os
import re
import signal
import sqlite3
import subprocess
import sys
import time

import pyatspi

from atspi_road import Failure, check, children, descendants, find, focused, has, press, wait_for, window

program, election = sys.argv[1], sys.argv[2]
work = os.path.dirname(election)
orca_log = os.path.join(work, "orca-debug.log")
orca_prefs = os.path.join(work, "orca-prefs")

# The election: codes nobody could mistake for words, so that any code Orca
# says is found, and names that are said nowhere else.
POSITIONS = [("PX1", "Class President"), ("PX2", "Treasurer"), ("PX3", "Auditor")]
CANDIDATES = [
    ("CX1", "Ada Lovelace", "2024-1815", "PX1"),
    ("CX2", "Grace Hopper", "2024-1906", "PX1"),
    ("CX3", "Alan Turing", "2024-1912", "PX2"),
    ("CX4", "Katherine Johnson", "2024-1918", "PX2"),
    ("CX5", "Edsger Dijkstra", "2024-1930", "PX3"),
    ("CX6", "Barbara Liskov", "2024-1939", "PX3"),
]
# The voters' accounts (name, user name, password); the first one votes. The
# passwords are texts said nowhere else, so that any password Orca says is found.
ACCOUNTS = [("Test Voter", "v7001", "pw7001"), ("Mary Jackson", "v7002", "qk5530"),
            ("Dorothy Vaughan", "v7003", "zr8812")]
VOTER = ACCOUNTS[0]
ADMIN = ("admin", "admin")
# The votes each candidate has before the voter's own, different within each
# position, so that the results have one order; and the position counted.
TALLY = {"CX1": 3, "CX2": 0, "CX3": 1, "CX4": 12, "CX5": 0, "CX6": 5}
COUNTED = "Treasurer"
POSITION_NAME = dict(POSITIONS)
CANDIDATE = {name: (code, student, POSITION_NAME[pos]) for code, name, student, pos in CANDIDATES}
CANDIDATE_CODES = [c[0] for c in CANDIDATES]
POSITION_CODES = [p[0] for p in POSITIONS]

# What the voter is to hear right after pressing Vote. Only the names are asked
# for so far: whom the vote went to, for which position, and every position still
# to vote on. Once the program's own wording is settled, write it here; the texts
# must be heard in this order, within what Orca says after Vote. {candidate} and
# {position} are the vote just cast; {left} stands for each position still open.
AFTER_VOTE = ["{candidate}", "{position}", "{left}"]

# /usr/bin/orca itself, with two changes that only concern the test: its debug
# log is written line by line, so that the test can follow it while Orca runs,
# and an Orca the same user runs elsewhere (their own screen reader, another
# run of this test) is neither refused nor killed, as --replace would.
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
        db.executemany("INSERT INTO CandVote (CandID, NumVotes) VALUES (?, ?)",
                       [(c[0], TALLY[c[0]]) for c in CANDIDATES])
        db.executemany("INSERT INTO Users (Name, Username, Password, HasVoted) VALUES (?, ?, ?, 0)", ACCOUNTS)


# ---- Orca --------------------------------------------------------------------

class Orca:
    """Orca with a debug log in the test's folder and settings of its own: no
    speech synthesizer (what it would say is logged all the same, and no speech
    server is started), no braille display, no sounds; everything else as Orca
    comes."""

    def __init__(self):
        os.makedirs(orca_prefs, exist_ok=True)
        settings = {"general": {"speechServerFactory": "", "enableBraille": False, "enableSound": False},
                    "profiles": {"default": {"profile": ["Default", "default"], "pronunciations": {},
                                             "keybindings": {}}},
                    "pronunciations": {}, "keybindings": {}}
        with open(os.path.join(orca_prefs, "user-settings.conf"), "w") as f:
            json.dump(settings, f, indent=4)
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
        try:
            return os.path.getsize(orca_log)
        except OSError:
            return 0

    def settle(self, quiet=1.5, timeout=30):
        """Waits until Orca has written nothing for a while: it has dealt with
        every event the last key caused."""
        end = time.monotonic() + timeout
        last, since = self.size(), time.monotonic()
        while time.monotonic() < end:
            time.sleep(0.1)
            self.running()
            now = self.size()
            if now != last:
                last, since = now, time.monotonic()
            elif time.monotonic() - since >= quiet:
                return
        print("(Orca was still busy after %d s; going on)" % timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


SPEECH = re.compile(r"^\S+ - SPEECH OUTPUT: '(.*?)'(?: voice=\w+)? ?(?:\{.*\})?$")
PROCESS = re.compile(r"^vvvvv PROCESS (.*) vvvvv$")
OBJECT_EVENT = re.compile(r"^\S+ - OBJECT EVENT: (\S+) \((-?\d+), (-?\d+), (.*)\)$")
SOURCE = re.compile(r"^\s+app\.name='.*?' name='(.*)' role='(.*)'$")
DETAIL = re.compile(r"^\s+(states|path)=(.*)$")


class Utterance:
    def __init__(self, offset, text, cause):
        self.offset, self.text, self.cause = offset, text, cause
        self.step = None


def utterances(log):
    """Everything Orca said, in order, each with what made Orca say it: the key
    or the object event it was dealing with, with the event's source (role,
    name, place in the tree: a -1 there is an object its window does not list
    among its children)."""
    found, cause, source, offset = [], None, None, 0
    for raw in log.splitlines(keepends=True):
        line = raw.decode(errors="replace").rstrip("\n")
        if line.startswith("^^^^^ PROCESS"):
            cause = None
        elif PROCESS.match(line):
            cause, source = PROCESS.match(line).group(1), None
        elif OBJECT_EVENT.match(line) and cause:
            kind, detail1, detail2, data = OBJECT_EVENT.match(line).groups()
            cause = "%s (%s, %s, %s)" % (kind, detail1, detail2, data)
            source = {}
        elif source is not None and cause and (SOURCE.match(line) or DETAIL.match(line)):
            # The source's own lines come first; the event's any-data repeats them.
            if SOURCE.match(line) and "name" not in source:
                source["name"], source["role"] = SOURCE.match(line).groups()
                cause += " on %s '%s'" % (source["role"], source["name"])
            elif DETAIL.match(line) and DETAIL.match(line).group(1) not in source:
                key, value = DETAIL.match(line).groups()
                source[key] = value
                if key == "states" and "showing" not in value.split():
                    cause += " [not showing]"
                if key == "path":
                    cause += " at %s%s" % (value, " [not among its window's children]" if re.search(
                        r"(?<!\d)-1(?!\d)", value) else "")
        elif SPEECH.match(line):
            found.append(Utterance(offset, SPEECH.match(line).group(1), cause or "(Orca's own)"))
        offset += len(raw)
    return found


# ---- The program over AT-SPI -------------------------------------------------

def focus_on(app, role, name):
    def probe():
        acc = focused(app)
        return acc is not None and acc.getRoleName() == role and acc.name == name
    return probe


class Road:
    """The steps taken, each with where Orca's log stood before and after it."""

    def __init__(self, app, orca):
        self.app, self.orca, self.steps = app, orca, []

    def step(self, title, caption, keys, until, what):
        start = self.orca.size()
        press(caption, *keys)
        try:
            wait_for(what, until)
        except Failure as failure:
            try:
                now = focused(self.app)
                now = "%s '%s'" % (now.getRoleName(), now.name) if now else "nothing"
            except Exception:
                now = "something that cannot be read"
            raise Failure("%s: %s; the focus is on %s" % (title, failure, now))
        self.orca.settle()
        self.steps.append((title, start, self.orca.size()))

    def focus(self, title, caption, keys, role, name):
        self.step(title, caption, keys, focus_on(self.app, role, name), "the focus on %s '%s'" % (role, name))


def voter_road(road):
    app = road.app
    road.step("main menu shown", "Pollaris", [], focus_on(app, "link", "Voter Log In"),
              "the main menu with the focus on 'Voter Log In'")
    road.step("Enter on 'Voter Log In'", "Pollaris", ["Return"],
              lambda: window(app, "frame", "Voter's Login") and focused(app).name == "Cancel", "the voter log-in")
    road.focus("Shift+Tab to the user name", "Voter's Login", ["shift+Tab"], "text", "Username")
    road.focus("typed the user name, Shift+Tab", "Voter's Login", ["type:" + VOTER[1], "shift+Tab"],
               "password text", "Password")
    road.focus("typed the password, Shift+Tab", "Voter's Login", ["type:" + VOTER[2], "shift+Tab"], "push button", "OK")
    road.step("Enter on OK", "Voter's Login", ["Return"],
              lambda: window(app, "alert", "Pollaris", holding="Warning! Users can only login once"),
              "the warning that users log in only once")
    road.step("Enter on the warning", "Pollaris", ["Return"],
              lambda: window(app, "frame", "Pollaris", holding="Welcome, " + VOTER[1]) and focused(app).name == "Done",
              "the ballot with the focus on Done")
    ballot = window(app, "frame", "Pollaris", holding="Welcome, " + VOTER[1])

    def choose(reach, position, downs, candidate, left):
        for title, key, role, name in reach:
            road.focus(title, "Pollaris", [key], role, name)
        names = list(left)
        for n in range(downs):
            road.focus("Down in the position choice: " + names[n], "Pollaris", ["Down"], "combo box", names[n])
        check(names[downs - 1] == position, "the road is wrong: %s is not %s" % (names[downs - 1], position))
        road.focus("Shift+Tab to the candidates", "Pollaris", ["shift+Tab"], "list", "List of Candidates")
        running = [name for name, (_, _, pos) in CANDIDATE.items() if pos == position]
        for name in running[:running.index(candidate) + 1]:
            road.step("Down in the candidates: " + name, "Pollaris", ["Down"],
                      lambda name=name: focus_on(app, "list item", name)() and find(
                          ballot, "label", "Position Running for: " + position),
                      "the focus on '%s' and its details" % name)
        road.focus("Shift+Tab to Vote", "Pollaris", ["shift+Tab"], "push button", "Vote")
        # The vote is cast when the voted position has left the choice.
        road.step("Enter on Vote: %s for %s" % (candidate, position), "Pollaris", ["Return"],
                  lambda: position not in [acc.name for acc in descendants(find(ballot, "combo box"))
                                           if acc.getRoleName() == "menu item"],
                  "the voted position to leave the choice")
        return [p for p in left if p != position]

    left = [name for _, name in POSITIONS]
    left = choose([("Shift+Tab to the position choice", "shift+Tab", "combo box", "Position")],
                  "Class President", 1, "Grace Hopper", left)
    left = choose([("Tab to the candidates", "Tab", "list", "List of Candidates"),
                   ("Tab to the position choice", "Tab", "combo box", "Position")],
                  "Auditor", 2, "Edsger Dijkstra", left)
    road.focus("Shift+Tab to Done", "Pollaris", ["shift+Tab"], "push button", "Done")
    road.step("Enter on Done", "Pollaris", ["Return"],
              lambda: window(app, "alert", "Your vote has been added", holding="Thank you for voting!"),
              "the thanks")
    road.step("Enter on the thanks", "Your vote has been added", ["Return"],
              lambda: window(app, "frame", "Pollaris", holding="Exit") and focused(app) is not None and
              focused(app).getRoleName() == "link", "the main menu again")
    return [("Grace Hopper", "Class President", ["Treasurer", "Auditor"]),
            ("Edsger Dijkstra", "Auditor", ["Treasurer"])]


def admin_road(road):
    app = road.app
    if focused(app).name != "Administrator Log In":
        road.focus("Tab to 'Administrator Log In'", "Pollaris", ["Tab"], "link", "Administrator Log In")
    road.step("Enter on 'Administrator Log In'", "Pollaris", ["Return"],
              lambda: window(app, "frame", "Administrator Log In") and focused(app).getRoleName() == "text",
              "the administrator's log-in")
    road.focus("typed the user name, Tab", "Administrator Log In", ["type:" + ADMIN[0], "Tab"],
               "password text", "Password")
    road.focus("typed the password, Tab", "Administrator Log In", ["type:" + ADMIN[1], "Tab"], "push button", "OK")
    road.step("Enter on OK", "Administrator Log In", ["Return"],
              lambda: window(app, "frame", "Pollaris Administrator's Panel") and focused(app).getRoleName() ==
              "push button", "the administrator's start")
    start = window(app, "frame", "Pollaris Administrator's Panel")
    if focused(app).name != "Cand/Positions Panel":
        check(find(start, "push button", "Cand/Positions Panel"), "no button 'Cand/Positions Panel'")
        raise Failure("the administrator's start: the focus is on '%s', not on 'Cand/Positions Panel'" %
                      focused(app).name)
    panel_title = "Administrator's Panel - Candidates and Positions"
    road.focus("Enter on 'Cand/Positions Panel'", "Pollaris Administrator's Panel", ["Return"], "combo box",
               "Position")
    road.focus("Down in the position choice: Class President", panel_title, ["Down"], "combo box",
               "Class President")
    road.focus("Tab to the candidates", panel_title, ["Tab"], "list", "List of Candidates")
    for name in ("Ada Lovelace", "Grace Hopper"):
        road.focus("Down in the candidates: " + name, panel_title, ["Down"], "list item", name)
    road.focus("Shift+Tab to the position choice", panel_title, ["shift+Tab"], "combo box", "Class President")
    road.focus("Down in the position choice: Treasurer", panel_title, ["Down"], "combo box", "Treasurer")
    road.focus("Tab to the candidates", panel_title, ["Tab"], "list", "List of Candidates")
    road.focus("Down in the candidates: Alan Turing", panel_title, ["Down"], "list item", "Alan Turing")


def result_rows(votes):
    """The results of the position counted as the screen lists them, best first:
    each candidate's name and tally, the votes before the road and those cast on
    it together."""
    cast = [candidate for candidate, _, _ in votes]
    rows = [(name, TALLY[code] + cast.count(name)) for name, (code, _, position) in CANDIDATE.items()
            if position == COUNTED]
    check(len({tally for _, tally in rows}) == len(rows), "the election is wrong: two candidates for %s have the "
          "same tally, and the results have no one order" % COUNTED)
    return sorted(rows, key=lambda row: -row[1])


def result_line(name, tally):
    """A line of the results as it stands on the screen, for the reports of a
    check: the name, dashes up to 70 characters less the name's length less the
    tally, and the tally after the place of its sign."""
    return name + "-" * max(0, 70 - len(name) - tally) + " " + str(tally)


def entry_focused(app, list_name, k):
    """Whether the k-th entry of the list of that name has the focus."""
    def probe():
        acc = focused(app)
        return (acc is not None and acc.getRoleName() == "list item" and acc.getIndexInParent() == k and
                acc.parent.getRoleName() == "list" and acc.parent.name == list_name)
    return probe


def results_road(road, rows):
    """From the candidates' panel, where the position counted is chosen, to its
    results, and down through their lines. Gives the labels shown there that end
    with the position's name: the title, as the screen shows it."""
    app = road.app
    panel_title = "Administrator's Panel - Candidates and Positions"
    chosen = find(window(app, "frame", panel_title), "combo box")
    check(chosen is not None and chosen.name == COUNTED, "the road is wrong: the position chosen is not " + COUNTED)
    road.focus("Tab, Tab, Tab to 'Count Votes'", panel_title, ["Tab", "Tab", "Tab"], "push button", "Count Votes")
    road.step("Enter on 'Count Votes'", panel_title, ["Return"],
              lambda: window(app, "frame", "Voting Results") and focused(app).getRoleName() == "list" and
              focused(app).childCount == len(rows), "the results with the focus on their list of %d lines" % len(rows))
    results = window(app, "frame", "Voting Results")
    listing = focused(app).name
    titles = [acc.name for acc in descendants(results) if acc.getRoleName() == "label" and acc.name.endswith(
        " " + COUNTED)]
    for k, (name, _) in enumerate(rows):
        road.step("Down in the results: " + name, "Voting Results", ["Down"], entry_focused(app, listing, k),
                  "the focus on line %d of the results" % (k + 1))
    road.step("Tab to OK, Enter", "Voting Results", ["Tab", "Return"],
              lambda: window(app, "frame", panel_title) and focused(app) is not None, "the candidates' panel again")
    return titles


def accounts_road(road):
    """From the candidates' panel back to the administrator's start, on to the
    voters' accounts, and down through the list of them. A step that only leads
    on to another screen presses Tab and Enter at once: what is said on the way
    is not checked, and each step costs Orca's quiet after it."""
    app = road.app
    panel_title = "Administrator's Panel - Candidates and Positions"
    check(focused(app).name == "Count Votes", "the road is wrong: back from the results, the focus is on '%s', not "
          "on 'Count Votes'" % focused(app).name)
    road.focus("Tab to 'Back to Main', Enter", panel_title, ["Tab", "Return"], "push button", "Cand/Positions Panel")
    users_title = "Administrator's Panel (Users)"
    road.step("Tab to 'Users Panel', Enter", "Pollaris Administrator's Panel", ["Tab", "Return"],
              lambda: window(app, "frame", users_title) and focused(app).getRoleName() == "push button",
              "the voters' accounts")
    road.step("Shift+Tab to the accounts", users_title, ["shift+Tab"],
              lambda: focused(app).getRoleName() == "list" and focused(app).childCount == len(ACCOUNTS),
              "the focus on the list of %d accounts" % len(ACCOUNTS))
    listing = focused(app).name
    for k, (_, user, _) in enumerate(ACCOUNTS):
        road.step("Down in the accounts: " + user, users_title, ["Down"], entry_focused(app, listing, k),
                  "the focus on account %d" % (k + 1))


# ---- What Orca said, checked -------------------------------------------------

class Checks:
    def __init__(self):
        self.failed = []
        self.passed = 0

    def expect(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failed.append(what)


def said(texts, words):
    return next((i for i, t in enumerate(texts) if words in t), None)


def code_in(text, codes):
    return [c for c in codes if re.search(r"(?<![A-Za-z0-9])%s(?![A-Za-z0-9])" % re.escape(c), text, re.I)]


def reads_as(text, name, tally):
    """Whether a text reads as the line of the results for that name and tally
    reads on the screen: the name, then the tally, nothing between them but the
    filler (dashes, spaces, a comma), and nothing after but the word for what is
    counted, in the number the tally asks for."""
    unit = "vote" if tally == 1 else "votes"
    return re.fullmatch(r"%s[-\s,;:.]*(?<!\d)%d(?: %s)?\.?" % (re.escape(name), tally, unit), text.strip()) is not None


def check_speech(steps, spoken, votes, voter_steps, rows, results_title):
    checks = Checks()
    by_step = {}
    for u in spoken:
        if u.step is not None:
            by_step.setdefault(u.step, []).append(u.text)

    def step_of(title):
        return next((i for i, s in enumerate(steps) if s[0] == title), None)

    def heard(i):
        return by_step.get(i, [])

    # No code that the voter's screens keep hidden is ever said.
    voter_speech = [u for u in spoken if u.step is not None and u.step < voter_steps]
    panel_speech = [u for u in spoken if u.step is not None and u.step >= voter_steps]
    for u in voter_speech:
        codes = code_in(u.text, CANDIDATE_CODES + POSITION_CODES)
        checks.expect(not codes, "voter's road, '%s': Orca said the hidden code %s: '%s'" % (
            steps[u.step][0], ", ".join(codes), u.text))
    for u in panel_speech:
        codes = code_in(u.text, CANDIDATE_CODES)
        checks.expect(not codes, "candidates' panel, '%s': Orca said the hidden candidate code %s: '%s'" % (
            steps[u.step][0], ", ".join(codes), u.text))

    # The voter's road: each position's name when it is chosen, each candidate's
    # name when the candidate is reached, then the details shown for that candidate.
    for i, (title, _, _) in enumerate(steps[:voter_steps]):
        if title.startswith("Down in the position choice: "):
            name = title.split(": ", 1)[1]
            checks.expect(said(heard(i), name) is not None, "ballot, '%s': Orca did not say the position's name "
                          "'%s'; it said %s" % (title, name, heard(i)))
        if title.startswith("Down in the candidates: "):
            name = title.split(": ", 1)[1]
            _, student, position = CANDIDATE[name]
            texts = heard(i)
            # The name itself, not only within the detail "Name: ...".
            own = next((k for k, t in enumerate(texts) if re.search(r"(?<!Name: )" + re.escape(name), t)), None)
            checks.expect(own is not None, "ballot, '%s': Orca did not say the candidate's name '%s'; it said %s" % (
                title, name, texts))
            for detail in ("Name: " + name, "Student ID: " + student, "Position Running for: " + position):
                k = said(texts, detail)
                checks.expect(k is not None, "ballot, '%s': Orca did not say the detail '%s'; it said %s" % (
                    title, detail, texts))
                if k is not None and own is not None:
                    checks.expect(own < k or (own == k and texts[k].index(name) < texts[k].index(detail)),
                                  "ballot, '%s': the detail '%s' came before the candidate's name" % (title, detail))

    # The order over the whole road: a position's name, as it is chosen, before
    # any of its candidates' names; and the thanks after the last vote.
    texts = [u.text for u in voter_speech]
    for k, u in enumerate(voter_speech):
        title = steps[u.step][0]
        if not title.startswith("Down in the position choice: "):
            continue
        position = title.split(": ", 1)[1]
        if position not in u.text or any(position in v.text for v in voter_speech[:k] if v.step == u.step):
            continue
        names = [n for n, (_, _, pos) in CANDIDATE.items() if pos == position]
        before = [t for t in texts[:k] if any(n in t for n in names)] + [
            t for t in [u.text[:u.text.index(position)]] if any(n in t for n in names)]
        checks.expect(not before, "ballot: a candidate for %s was said before the position's name was said as it "
                      "was chosen: %s" % (position, before))
    done = step_of("Enter on Done")
    thanks = said(heard(done), "Thank you for voting!") if done is not None else None
    checks.expect(thanks is not None, "after Done, Orca did not say 'Thank you for voting!'; it said %s" % (
        heard(done) if done is not None else "nothing"))
    last_vote = max((k for k, u in enumerate(voter_speech) if steps[u.step][0].startswith("Enter on Vote: ")),
                    default=None)
    if thanks is not None and last_vote is not None:
        first_thanks = next(k for k, u in enumerate(voter_speech) if "Thank you for voting!" in u.text)
        checks.expect(first_thanks > last_vote, "the thanks were said before the last vote")

    # After Vote: whom and what the vote was for, and what is left (see AFTER_VOTE).
    for candidate, position, left in votes:
        i = step_of("Enter on Vote: %s for %s" % (candidate, position))
        texts = " | ".join(heard(i))
        wanted = []
        for template in AFTER_VOTE:
            if "{left}" in template:
                wanted += [template.replace("{left}", p) for p in left]
            else:
                wanted.append(template.format(candidate=candidate, position=position))
        at = 0
        for words in wanted:
            k = texts.find(words, at)
            checks.expect(k >= 0, "after Vote for %s as %s, Orca did not say '%s'%s; it said %s" % (
                candidate, position, words, " (in this order)" if texts.find(words) >= 0 else "", heard(i)))
            at = k + len(words) if k >= 0 else at

    # The candidates' panel: the entries said as they read on screen. The
    # position codes are shown there, in a list of their own beside the choice;
    # a chosen position is still its name first.
    for i, (title, _, _) in enumerate(steps[voter_steps:], voter_steps):
        if title.startswith("Down in the position choice: ") or title.startswith("Down in the candidates: "):
            name = title.split(": ", 1)[1]
            k = said(heard(i), name)
            checks.expect(k is not None, "candidates' panel, '%s': Orca did not say '%s'; it said %s" % (
                title, name, heard(i)))
            codes = [j for j, t in enumerate(heard(i)) if code_in(t, POSITION_CODES)]
            if k is not None and codes:
                checks.expect(k < codes[0], "candidates' panel, '%s': Orca said the code '%s' before the name '%s'"
                              % (title, heard(i)[codes[0]], name))

    # The results of the position counted: the title the screen shows as they
    # open; then each line, best first, as the focus reaches it, read as it stands
    # on the screen (the name and the tally, not the dashes that fill the space
    # between), and no other line in its place. No code is shown there, nor on
    # the voters' accounts, and none is said.
    opened = step_of("Enter on 'Count Votes'")
    closed = step_of("Tab to OK, Enter")
    checks.expect(len(results_title) == 1, "results: the screen shows %d labels that end with %s, not one title: %s"
                  % (len(results_title), COUNTED, results_title))
    if results_title:
        checks.expect(said(heard(opened), results_title[0]) is not None, "results, 'Enter on 'Count Votes'': Orca did "
                      "not say the title '%s'; it said %s" % (results_title[0], heard(opened)))
    for name, tally in rows:
        i = step_of("Down in the results: " + name)
        checks.expect(any(reads_as(t, name, tally) for t in heard(i)), "results, 'Down in the results: %s': Orca "
                      "did not say the line '%s' as it reads, %s then %d; it said %s" % (
                          name, result_line(name, tally), name, tally, heard(i)))
        others = [n for n, _ in rows if n != name and said(heard(i), n) is not None]
        checks.expect(not others, "results, 'Down in the results: %s': Orca said the line of %s there; it said %s" % (
            name, " and ".join(others), heard(i)))
    users = step_of("Tab to 'Users Panel', Enter")
    for u in spoken:
        if u.step is not None and (opened <= u.step < closed or u.step >= users):
            codes = code_in(u.text, CANDIDATE_CODES + POSITION_CODES)
            checks.expect(not codes, "%s, '%s': Orca said the hidden code %s: '%s'" % (
                "results" if u.step < closed else "voters' accounts", steps[u.step][0], ", ".join(codes), u.text))

    # The voters' accounts: the list by its caption; then each account by its user
    # name, as the list shows it, and after it the details shown for it, each with
    # its caption, and no other account's.
    i = step_of("Shift+Tab to the accounts")
    checks.expect(said(heard(i), "List of Users") is not None, "voters' accounts, 'Shift+Tab to the accounts': Orca "
                  "did not say the list's caption 'List of Users'; it said %s" % heard(i))
    for name, user, password in ACCOUNTS:
        step_title = "Down in the accounts: " + user
        texts = heard(step_of(step_title))
        # The user name itself, not only within the detail "Username: ...".
        own = next(((k, m.start()) for k, t in enumerate(texts) for m in re.finditer(
            r"(?<!Username: )(?<![A-Za-z0-9])%s(?![A-Za-z0-9])" % re.escape(user), t)), None)
        checks.expect(own is not None, "voters' accounts, '%s': Orca did not say the account '%s'; it said %s" % (
            step_title, user, texts))
        for detail in ("Name: " + name, "Username: " + user, "Password: " + password):
            at = next(((k, t.index(detail)) for k, t in enumerate(texts) if detail in t), None)
            checks.expect(at is not None, "voters' accounts, '%s': Orca did not say the detail '%s'; it said %s" % (
                step_title, detail, texts))
            if at is not None and own is not None:
                checks.expect(own < at, "voters' accounts, '%s': the detail '%s' came before the account '%s'" % (
                    step_title, detail, user))
        others = [other for other, _, _ in ACCOUNTS if other != name and said(texts, "Name: " + other) is not None]
        checks.expect(not others, "voters' accounts, '%s': Orca said the details of %s there; it said %s" % (
            step_title, " and ".join(others), texts))

    # A password is said only where the screen shows it as text: on the voters'
    # accounts, as the detail "Password: ..." of the account the list has reached.
    for u in spoken:
        where = steps[u.step][0] if u.step is not None else "outside the road"
        for _, user, password in ACCOUNTS:
            for m in re.finditer(re.escape(password), u.text):
                checks.expect(where == "Down in the accounts: " + user and u.text[:m.start()].endswith("Password: "),
                              "'%s': Orca said the password of %s other than as the detail 'Password: %s' of that "
                              "account as the screen shows it: '%s'" % (where, user, password, u.text))

    # A password is typed unheard: Orca may say that something was typed, never what.
    for i, (title, _, _) in enumerate(steps):
        if title.startswith("typed the password"):
            password = VOTER[2] if i < voter_steps else ADMIN[1]
            echoed = [t for t in heard(i) if t.strip() and (t.strip() in password or password in t)]
            checks.expect(not echoed, "%s, '%s': Orca said what was typed in the password field: %s" % (
                "voter's log-in" if i < voter_steps else "administrator's log-in", title, echoed))
    return checks


def print_transcript(steps, spoken):
    print("\nWhat Orca said (SPEECH OUTPUT in its debug log), step by step, with the event that made it speak:")
    current = None
    for u in spoken:
        where = u.step if u.step is not None else "before" if not steps or u.offset < steps[0][1] else "after"
        if where != current:
            current = where
            if u.step is not None:
                print("\n  [%d] %s" % (u.step + 1, steps[u.step][0]))
            elif not steps or u.offset < steps[0][1]:
                print("\n  [before the first step]")
            else:
                print("\n  [after the last step]")
        print("      %-45s <- %s" % ("'%s'" % u.text, u.cause))
    silent = [s[0] for i, s in enumerate(steps) if not any(u.step == i for u in spoken)]
    if silent:
        print("\n  Steps after which Orca said nothing: " + "; ".join(silent))


def main():
    fill_election()
    print("The election: positions %s; candidates %s; votes before the road %s; accounts %s, of which %s votes." % (
        ", ".join("%s %s" % p for p in POSITIONS), ", ".join("%s %s (%s, %s)" % c for c in CANDIDATES),
        ", ".join("%s %d" % t for t in TALLY.items()), ", ".join(a[1] for a in ACCOUNTS), VOTER[1]))
    try:
        orca = Orca()
    except Failure as failure:
        print("FAIL:", failure)
        return 1
    # No accessibility forced on: the program is to show itself to the screen
    # reader because one runs.
    env = dict(os.environ, QT_QPA_PLATFORM="xcb")
    log = open(os.path.join(work, "pollaris.log"), "w+")
    process = None
    road = None
    status = 1
    try:
        process = subprocess.Popen([program], env=env, stdout=log, stderr=subprocess.STDOUT)
        app = wait_for("the program on the accessibility bus", lambda: next(
            (a for a in children(pyatspi.Registry.getDesktop(0)) if a.name.lower() == "pollaris"), None))
        wait_for("the main menu", lambda: window(app, "frame", "Pollaris", holding="Exit"))
        road = Road(app, orca)
        votes = voter_road(road)
        voter_steps = len(road.steps)
        admin_road(road)
        rows = result_rows(votes)
        results_title = results_road(road, rows)
        accounts_road(road)
        status = 0
    except Failure as failure:
        log.seek(0)
        print("FAIL: the road could not be driven to its end:", failure, "\nThe program's output:\n" + log.read())
    finally:
        if process is not None and process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        orca.stop()

    # ORCA_ROAD_LOG=FILE keeps a copy of Orca's whole debug log, for a closer look
    # at the events behind what it said.
    if os.environ.get("ORCA_ROAD_LOG"):
        with open(os.environ["ORCA_ROAD_LOG"], "wb") as f:
            f.write(orca.log())
    spoken = utterances(orca.log())
    steps = road.steps if road else []
    for u in spoken:
        u.step = next((i for i, (_, start, end) in enumerate(steps) if start <= u.offset < end), None)
    print_transcript(steps, spoken)
    if status:
        return status

    checks = check_speech(steps, spoken, votes, voter_steps, rows, results_title)
    print()
    if checks.failed:
        print("FAIL: %d of %d checks of what Orca said failed:" % (len(checks.failed),
                                                                  len(checks.failed) + checks.passed))
        for what in checks.failed:
            print("  - " + what)
        return 1
    print("All %d checks of what Orca said passed." % checks.passed)
    return 0


sys.exit(main())
