// The voter's road: log-in, ballot, Done, against a real election in a file and on a server.

#include "TestSupport.h"

#include "screens/frmMain.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Guessing.h"
#include "shell/Look.h"
#include "shell/ServerWait.h"
#include "shell/modGlobalVar.h"
#include "store/Connection.h"

#include <QtWidgets>

namespace {

const QString kNoUser = box(Msg::Icon::Critical, "Error!", "Incorrect Username!");
const QString kNoPass = box(Msg::Icon::Critical, "Error!", "Incorrect Password!");
const QString kVoted = box(Msg::Icon::Critical, "Error!", "User has already voted!");
const QString kOnce = box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once");
const QString kThanks = box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!");

QStringList L(const char *items) { return QString::fromUtf8(items).split(u',', Qt::SkipEmptyParts); }

// The positions on the ballot: their names, then their codes.
QStringList positions(const frmVoter &v)
{
    QStringList names;
    for (int i = 0; i < v.cmbbxPosition->count(); ++i)
        names << v.cmbbxPosition->itemText(i);
    return names + entries(v.lstPosID);
}

// Chooses a position (none: the one shown), then clicks a candidate's entry.
void choose(frmVoter &v, int position, int candidate)
{
    if (position >= 0)
        v.cmbbxPosition->setCurrentIndex(position);
    QTest::mouseClick(v.lstCandidate->viewport(), Qt::LeftButton, {},
                      v.lstCandidate->visualItemRect(v.lstCandidate->item(candidate)).center());
}

bool noChoice(const frmVoter &v)
{
    return v.cmbbxPosition->currentIndex() == -1 && v.lstCandidate->count() == 0 && v.lblCandName->text().isEmpty() &&
           v.lblCandStudID->text().isEmpty() && v.lblCandPosition->text().isEmpty();
}

// The one box shown, which starts with the given text.
bool oneBox(const QStringList &shown, const QString &start)
{
    return shown.size() == 1 && shown[0].startsWith(box(Msg::Icon::Critical, "Pollaris", start));
}

} // namespace

class VotingTest : public ScreenTest {
    Q_OBJECT

    // A log-in from the main menu; the boxes it showed.
    QStringList logIn(const QString &user, const QString &pass)
    {
        ::logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, user, pass);
        return shownBoxes();
    }
    frmVoter &enterBallot(const QString &user, const QString &pass)
    {
        QTest::qVerify(logIn(user, pass) == QStringList{kOnce}, "only the warning", "", __FILE__, __LINE__);
        return Shell::Get<frmVoter>();
    }
    QStringList tallies() const { return db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"); }
    // How the program adds a vote: a polling station's goes through the server's functions.
    QString addVote() const { return db->asStation() ? "SELECT 1 WHERE pollaris_add_vote" : "UPDATE \"CandVote\""; }

private slots:
    void initTestCase_data() { addEngineRows(true); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        startProgramOn(*db);
    }
    void cleanup()
    {
        const bool ended = Shell::endedWith().has_value();
        ScreenTest::cleanup();
        QVERIFY(!ended);
    }

    void logInRefusesInOrderAndFindsNamesByValueInAnyCase()
    {
        db->exec("INSERT INTO Users VALUES ('Ann','2026001','vote1',false),('Bob','2026002','Vote2',true),"
                 "('N','nopass',NULL,false),('A','abc123','Secret',false),('O','O''Brien','pw',false),"
                 "('E','élise','fr',false),('F','noflag','pw',NULL)");
        frmVoterLogIn &login = Shell::Show<frmVoterLogIn>();
        // Name, then password (in its case; none never matches), then the voted flag (none: not voted).
        // Names match in any case, quotes and SQL only as themselves; leaving unvoted spends the account.
        const QList<std::tuple<QString, QString, QString>> attempts = {
            {"2026009", "vote1", kNoUser}, {"2026001", "VOTE1", kNoPass}, {"nopass", "", kNoPass},
            {"2026002", "vote2", kNoPass}, {"2026002", "Vote2", kVoted},  {"ABC123", "Secret", kOnce},
            {"ÉLISE", "fr", kOnce},        {"o'brien", "pw", kOnce},      {"nobody' OR '1'='1", "Secret", kNoUser},
            {"noflag", "pw", kOnce},       {"abc123", "Secret", kVoted}};
        for (const auto &[user, pass, expected] : attempts) {
            QCOMPARE(logIn(user, pass), QStringList{expected});
            if (expected != kOnce)
                continue;
            // Admitted: the name kept as typed and greeted, both fields emptied; Done thanks.
            QCOMPARE(modGlobalVar::VoterUser + login.txtUsername->text() + login.txtPassword->text(), user);
            QCOMPARE(Shell::Get<frmVoter>().lblWelcome->text(), "Welcome, " + user);
            QCOMPARE(press(Shell::Get<frmVoter>().cmdDone), QStringList{kThanks});
        }
        QCOMPARE(db->rows("SELECT Username, HasVoted FROM Users ORDER BY rowid"),
                 L("2026001|0,2026002|1,nopass|0,abc123|1,O'Brien|1,élise|1,noflag|1"));
        // Guessing: five failures in a row go at once, then each attempt waits longer, up to half
        // a minute; an attempt that finds its account, even one that has voted, ends the run.
        QList<int> waits;
        Guessing::setPause([&](int ms) { waits << ms; });
        for (int i = 0; i < 12; ++i)
            QCOMPARE(logIn(i % 2 ? "2026001" : "guess", "guess"), QStringList{i % 2 ? kNoPass : kNoUser});
        QCOMPARE(waits, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
        QCOMPARE(logIn("2026002", "Vote2"), QStringList{kVoted});
        QCOMPARE(logIn("2026001", "guess"), QStringList{kNoPass});
        QCOMPARE(waits.size(), 8); // the attempt that found its account waited its turn; the one after it did not
        // The election keeps how many log-ins failed, and nothing of what was typed.
        QCOMPARE(db->rows("SELECT what, count FROM pollaris_counts"), QStringList{"voter log-ins failed|18"});
        // Cancel empties both fields and goes home.
        click(login.cmdCancel);
        QVERIFY(Shell::Get<frmMain>().isVisible() && (login.txtUsername->text() + login.txtPassword->text()).isEmpty());
    }

    // Two voters' roads over a ballot with two candidates of the same name for Vice President, told
    // apart only by code, while another station writes between this station's read and its write.
    void votesCountOnceAndOnlyForTheCandidateShownAndNothingIsLost()
    {
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President'),('SEC','Secretary');"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','2023-0141','PRES'),"
                 "('C2','John Reyes','2023-0458','PRES'),('C3','Ana Cruz','2024-0012','VP'),"
                 "('C4','Ana Cruz','2024-0377','VP'),('C5','Liza Mendoza','2025-0220','SEC');"
                 "INSERT INTO CandVote VALUES ('C1',0),('C2',41),('C3',7),('C4',3),('C5',12);"
                 "INSERT INTO Users VALUES ('Carla','2026001','vote1',false),('Daniel','2026002','vote2',false),"
                 "('Ella','2026003','vote3',false)");
        // An account spent at another station meanwhile: the log-in runs again and finds it spent.
        modGlobalVar::VoterUser = "before";
        anotherStationBefore(*db, db->asStation() ? "SELECT 1 WHERE pollaris_admit" : "UPDATE \"Users\"",
                             "UPDATE Users SET HasVoted = true WHERE Username = '2026003'");
        QCOMPARE(logIn("2026003", "vote3"), QStringList{kVoted});
        QVERIFY(modGlobalVar::VoterUser == "before" && Shell::Get<frmVoterLogIn>().isVisible());

        // The account is marked before the warning, and the ballot shown only after it.
        QString atWarning;
        Msg::setOnShow([&](const Msg::Shown &) {
            atWarning = db->rows("SELECT HasVoted FROM Users ORDER BY rowid").join(',') +
                        (Shell::Exists(Shell::Slot::frmVoter) && Shell::Get<frmVoter>().isVisible() ? " shown" : "");
        });
        frmVoter &v = enterBallot("2026001", "vote1");
        Msg::setOnShow(nullptr);
        QCOMPARE(atWarning, QStringLiteral("1,0,1"));
        // Loaded twice (load handler, then the log-in), each position once.
        QCOMPARE(positions(v), L("President,Vice President,Secretary,PRES,VP,SEC"));
        QVERIFY(noChoice(v));

        // The middle position, the second of two same-named candidates.
        choose(v, 1, 1);
        QCOMPARE(entries(v.lstCandidate), L("Ana Cruz,Ana Cruz"));
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("2024-0377"));
        click(v.cmdVote);
        QCOMPARE(tallies() + positions(v), L("C1|0,C2|41,C3|7,C4|4,C5|12,President,Secretary,PRES,SEC"));
        QVERIFY(noChoice(v));

        // Another position empties the pick.
        choose(v, 0, 1);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("John Reyes"));
        v.cmbbxPosition->setCurrentIndex(1);
        QCOMPARE(entries(v.lstCandidate), QStringList{"Liza Mendoza"});
        QCOMPARE(press(v.cmdVote), critical("Select a Candidate!"));

        // A pick left unvoted; showing the window again, or a click on it, brings no position back.
        choose(v, 0, 0);
        v.hide(), v.show(), v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
        QTest::mouseClick(&v, Qt::LeftButton, {}, QPoint(20, 380));
        QCOMPARE(positions(v), L("President,Secretary,PRES,SEC"));

        // Done goes home; the next voter sees every position, one added since too, and no old pick.
        db->exec("INSERT INTO Positions VALUES ('TRES','Treasurer')");
        QCOMPARE(press(v.cmdDone), QStringList{kThanks});
        QVERIFY(!v.isVisible() && Shell::Get<frmMain>().isVisible());
        enterBallot("2026002", "vote2");
        QCOMPARE(positions(v), L("President,Vice President,Secretary,Treasurer,PRES,VP,SEC,TRES"));
        QVERIFY(noChoice(v));

        // On the file a vote holds the file from its read to its write, so no other write gets in
        // between; on the server the other station's vote is added first.
        choose(v, 0, 1);
        if (db->onServer())
            anotherStationBefore(*db, addVote(), "UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandID = 'C2'");
        QCOMPARE(press(v.cmdVote), QStringList());
        const QString c2 = db->onServer() ? "C2|43" : "C2|42";
        QCOMPARE(tallies().value(1), c2);

        // Vice President: C4 picked, then taken off the ballot at another station before Vote; then
        // C3 too, before it is clicked.
        choose(v, 0, 1);
        db->exec("DELETE FROM CandInfo WHERE CandID = 'C4'; DELETE FROM CandVote WHERE CandID = 'C4'");
        QCOMPARE(press(v.cmdVote), critical("This candidate has just been taken off the ballot at another station; "
                                            "your vote for this candidate was not added. Please choose again."));
        QCOMPARE(entries(v.lstCandID), QStringList{"C3"});
        db->exec("DELETE FROM CandInfo WHERE CandID = 'C3'; DELETE FROM CandVote WHERE CandID = 'C3'");
        choose(v, -1, 0);
        QCOMPARE(shownBoxes(), critical("This candidate has just been taken off the ballot at another station. "
                                        "Please choose again."));
        QCOMPARE(entries(v.lstCandID), QStringList());
        QCOMPARE(tallies(), (QStringList{"C1|0", c2, "C5|12"}));
    }

    // A save that cannot get the election within the wait is refused as busy, nothing written, the
    // ballot as it was. On a server, one whose answer is lost is neither lost nor counted twice.
    void aBusyOrLostSaveIsNeitherLostNorCountedTwice()
    {
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','PRES'),"
                 "('C3','Ana Cruz','S3','VP');"
                 "INSERT INTO CandVote VALUES ('C1',0),('C2',0),('C3',0);"
                 "INSERT INTO Users VALUES ('Carla','2026001','vote1',false)");
        const int wait = store::Connection::lockWaitMs();
        store::Connection::setLockWaitMs(300);
        startProgramOn(*db); // afresh: the program's connections take the shorter wait
        int waits = 0;
        ServerWait::setOnChange([&](bool waiting, const QString &) { waits += waiting; });
        auto loseAnswerTo = [&](const QString &statement) {
            if (db->onServer())
                store::Connection::loseAnswerTo(statement);
        };

        // The log-in's mark is written but its answer lost: the voter is let in, once.
        loseAnswerTo("COMMIT");
        frmVoter &v = enterBallot("2026001", "vote1");
        QCOMPARE(db->rows("SELECT HasVoted FROM Users"), QStringList{"1"});

        choose(v, 0, 1);
        {
            HeldElection held(*db);
            const QStringList said = press(v.cmdVote);
            QVERIFY2(oneBox(said, "The election is busy: another station has been") &&
                         said[0].contains("Nothing was saved"),
                     qPrintable(said.join('\n')));
        }
        QCOMPARE(tallies() + entries(v.lstPosID), L("C1|0,C2|0,C3|0,PRES,VP"));
        QVERIFY(v.cmbbxPosition->currentIndex() == 0 && v.lblCandName->text() == "John Reyes");

        // Pressed again: written, and its answer lost; counted once.
        loseAnswerTo("COMMIT");
        QCOMPARE(press(v.cmdVote), QStringList());
        QCOMPARE(tallies() + entries(v.lstPosID), L("C1|0,C2|1,C3|0,VP"));

        // Lost in the middle of the vote, before anything was committed: run again, counted once.
        loseAnswerTo(addVote());
        choose(v, 0, 0);
        QCOMPARE(press(v.cmdVote), QStringList());
        QCOMPARE(tallies() + entries(v.lstPosID), L("C1|0,C2|1,C3|1"));
        QCOMPARE(waits, db->onServer() ? 3 : 0);
        ServerWait::setOnChange(nullptr);
        store::Connection::setLockWaitMs(wait);
    }

    // A full tally is refused, the ballot as it was; one without a value, without a row, or no whole
    // number (the file keeps any type) ends the program. Nothing is written.
    void aTallyThatCannotTakeTheVoteIsLeftAsItIs_data()
    {
        QTest::addColumn<QString>("tally"); // of the candidate voted for; none for no row
        QTest::addColumn<QString>("said");  // the start of the one box shown
        const auto row = [](const char *name, const QString &tally, const QString &said) {
            QTest::newRow(name) << tally << said;
        };
        row("full", "2147483647",
            "This candidate's tally has reached the largest number it can hold (2147483647 votes); your vote for "
            "this candidate cannot be added.");
        row("no value", "NULL", "Error 94: Invalid use of Null");
        row("no row", "", "Error 3021:");
        row("text", "'abc'", "Error 13: Type mismatch");
    }
    void aTallyThatCannotTakeTheVoteIsLeftAsItIs()
    {
        QFETCH(QString, tally);
        QFETCH(QString, said);
        if (tally == "'abc'" && db->onServer())
            QSKIP("the server keeps tallies as whole numbers");
        if (tally == "'abc'")
            db->exec("DROP TABLE CandVote; CREATE TABLE CandVote (CandID TEXT, NumVotes)");
        db->exec("INSERT INTO Positions VALUES ('PRES','President');"
                 "INSERT INTO CandInfo VALUES ('C1','Maria','1','PRES'),('C2','John','2','PRES');"
                 "INSERT INTO Users VALUES ('Carla','2026001','vote1',false);"
                 "INSERT INTO CandVote VALUES ('C1',2147483646)" +
                 (tally.isEmpty() ? "" : ",('C2'," + tally + ")"));
        const QStringList before = tallies();
        frmVoter &v = enterBallot("2026001", "vote1");
        choose(v, 0, 1);
        const QStringList shown = press(v.cmdVote);
        QVERIFY2(oneBox(shown, said), qPrintable(shown.join('\n')));
        QCOMPARE(tallies(), before);
        QCOMPARE(Shell::endedWith().has_value(), tally != "2147483647");
        if (Shell::endedWith())
            return Shell::reset();
        QVERIFY(v.cmbbxPosition->count() == 1 && v.lstCandID->currentRow() == 1);
        // One below the limit still counts, up to the limit itself.
        choose(v, -1, 0);
        click(v.cmdVote);
        QCOMPARE(tallies(), L("C1|2147483647,C2|2147483647"));
    }
};

POLLARIS_TEST_MAIN(VotingTest)
#include "tst_voting.moc"
