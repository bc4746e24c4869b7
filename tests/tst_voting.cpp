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
#include <memory>

namespace {

const QString kIncorrectUser = box(Msg::Icon::Critical, "Error!", "Incorrect Username!");
const QString kIncorrectPass = box(Msg::Icon::Critical, "Error!", "Incorrect Password!");
const QString kHasVoted = box(Msg::Icon::Critical, "Error!", "User has already voted!");
const QString kOnce = box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once");
const QString kSelect = box(Msg::Icon::Critical, "Pollaris", "Select a Candidate!");
const QString kThanks = box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!");

QStringList L(const char *items) { return QString::fromUtf8(items).split(u',', Qt::SkipEmptyParts); }

QStringList entries(const QAbstractItemModel *m)
{
    QStringList out;
    for (int i = 0; i < m->rowCount(); ++i)
        out << m->index(i, 0).data().toString();
    return out;
}

void clickEntry(QListWidget *list, int i)
{
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(i)).center());
}

bool noChoice(const frmVoter &v)
{
    return v.cmbbxPosition->currentIndex() == -1 && v.lstCandidate->count() == 0 && v.lblCandName->text().isEmpty() &&
           v.lblCandStudID->text().isEmpty() && v.lblCandPosition->text().isEmpty();
}

} // namespace

class VotingTest : public ScreenTest {
    Q_OBJECT

    void logIn(const QString &user, const QString &pass)
    {
        ::logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, user, pass);
    }
    frmVoter &enterBallot(const QString &user, const QString &pass)
    {
        logIn(user, pass);
        QTest::qVerify(shownBoxes() == QStringList{kOnce}, "only the warning", "", __FILE__, __LINE__);
        return Shell::Get<frmVoter>();
    }
    QStringList tallies() const { return db->rows("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"); }
    // The statements by which the program marks an account as having voted and adds a
    // vote: a polling station's go through the server's functions.
    QString markStatement() const { return db->asStation() ? "SELECT 1 WHERE pollaris_admit" : "UPDATE \"Users\""; }
    QString voteStatement() const
    {
        return db->asStation() ? "SELECT 1 WHERE pollaris_add_vote" : "UPDATE \"CandVote\"";
    }

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
        const struct {
            const char *user, *pass;
            QString expected;
        } attempts[] = {
            // A wrong name whatever the password; then a password in any other case, or none
            // at all (even for an account without one), before the voted check.
            {"2026009", "vote1", kIncorrectUser},
            {"2026001", "VOTE1", kIncorrectPass},
            {"nopass", "", kIncorrectPass},
            {"2026002", "vote2", kIncorrectPass},
            {"2026002", "Vote2", kHasVoted},
            // Names in another case, with quotes, or looking like SQL are only ever themselves.
            {"ABC123", "Secret", kOnce},
            {"ÉLISE", "fr", kOnce},
            {"o'brien", "pw", kOnce},
            {"nobody' OR '1'='1", "Secret", kIncorrectUser},
            {"noflag", "pw", kOnce},         // no flag counts as not voted
            {"abc123", "Secret", kHasVoted}, // leaving without a vote does not give the account back
        };
        for (const auto &a : attempts) {
            const QString user = QString::fromUtf8(a.user);
            logIn(user, a.pass);
            QCOMPARE(shownBoxes(), QStringList{a.expected});
            if (a.expected != kOnce)
                continue;
            // Admitted: the name kept as typed, both fields emptied; the greeting shows what was
            // typed; leaving without a vote still thanks the voter.
            QCOMPARE(modGlobalVar::VoterUser + login.txtUsername->text() + login.txtPassword->text(), user);
            frmVoter &v = Shell::Get<frmVoter>();
            QCOMPARE(v.lblWelcome->text(), "Welcome, " + user);
            click(v.cmdDone);
            QCOMPARE(shownBoxes(), QStringList{kThanks});
        }
        QCOMPARE(db->rows("SELECT Username, HasVoted FROM Users ORDER BY rowid"),
                 L("2026001|0,2026002|1,nopass|0,abc123|1,O'Brien|1,élise|1,noflag|1"));
        // Guessing: five failures in a row go at once, then each attempt waits longer, up to half
        // a minute; an attempt that finds its account, even one that has voted, ends the run.
        QList<int> waits;
        Guessing::setPause([&](int ms) { waits << ms; });
        for (int i = 0; i < 12; ++i) {
            logIn(i % 2 ? "2026001" : "guess", "guess");
            QCOMPARE(shownBoxes(), QStringList{i % 2 ? kIncorrectPass : kIncorrectUser});
        }
        QCOMPARE(waits, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
        logIn("2026002", "Vote2");
        QCOMPARE(shownBoxes(), QStringList{kHasVoted});
        logIn("2026001", "guess");
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
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
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President'),('SEC','Secretary')");
        db->exec("INSERT INTO CandInfo VALUES ('C1','Maria Santos','2023-0141','PRES'),"
                 "('C2','John Reyes','2023-0458','PRES'),('C3','Ana Cruz','2024-0012','VP'),"
                 "('C4','Ana Cruz','2024-0377','VP'),('C5','Liza Mendoza','2025-0220','SEC')");
        db->exec("INSERT INTO CandVote VALUES ('C1',0),('C2',41),('C3',7),('C4',3),('C5',12)");
        db->exec("INSERT INTO Users VALUES ('Carla','2026001','vote1',false),('Daniel','2026002','vote2',false),"
                 "('Ella','2026003','vote3',false)");
        // An account spent at another station meanwhile: the log-in runs again and finds it spent.
        modGlobalVar::VoterUser = "before";
        anotherStationBefore(*db, markStatement(), "UPDATE Users SET HasVoted = true WHERE Username = '2026003'");
        logIn("2026003", "vote3");
        QCOMPARE(shownBoxes(), QStringList{kHasVoted});
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
        QCOMPARE(entries(v.cmbbxPosition->model()), L("President,Vice President,Secretary"));
        QVERIFY(noChoice(v));

        // The middle position, the second of two same-named candidates.
        v.cmbbxPosition->setCurrentIndex(1);
        QCOMPARE(entries(v.lstCandidate->model()), L("Ana Cruz,Ana Cruz"));
        clickEntry(v.lstCandidate, 1);
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("2024-0377"));
        click(v.cmdVote);
        QCOMPARE(tallies(), L("C1|0,C2|41,C3|7,C4|4,C5|12"));
        QCOMPARE(entries(v.cmbbxPosition->model()) + entries(v.lstPosID->model()), L("President,Secretary,PRES,SEC"));
        QVERIFY(noChoice(v));

        // Another position empties the pick.
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("John Reyes"));
        v.cmbbxPosition->setCurrentIndex(1);
        QCOMPARE(entries(v.lstCandidate->model()), QStringList{"Liza Mendoza"});
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});

        // A pick left unvoted; showing and activating the window again, or a click on its
        // background, brings no position back.
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 0);
        v.hide();
        v.show();
        v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
        QTest::mouseClick(&v, Qt::LeftButton, {}, QPoint(20, 380));
        QCOMPARE(entries(v.lstPosID->model()), L("PRES,SEC"));

        // Done goes home; the next voter sees every position, one added since too, and nothing
        // of the last voter's pick.
        db->exec("INSERT INTO Positions VALUES ('TRES','Treasurer')");
        click(v.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        QVERIFY(!v.isVisible() && Shell::Get<frmMain>().isVisible());
        enterBallot("2026002", "vote2");
        QCOMPARE(entries(v.cmbbxPosition->model()) + entries(v.lstPosID->model()),
                 L("President,Vice President,Secretary,Treasurer,PRES,VP,SEC,TRES"));
        QVERIFY(noChoice(v));

        // On the file a vote holds the file from its read to its write, so no other write gets in
        // between; on the server the other station's vote is added first.
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        if (db->onServer())
            anotherStationBefore(*db, voteStatement(),
                                 "UPDATE CandVote SET NumVotes = NumVotes + 1 WHERE CandID = 'C2'");
        QCOMPARE(press(v.cmdVote), QStringList());
        const QString c2 = db->onServer() ? "C2|43" : "C2|42";
        QCOMPARE(tallies().value(1), c2);

        // Vice President: C4 picked, then taken off the ballot at another station before Vote; then
        // C3 too, before it is clicked.
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        db->exec("DELETE FROM CandInfo WHERE CandID = 'C4'; DELETE FROM CandVote WHERE CandID = 'C4'");
        QCOMPARE(press(v.cmdVote), critical("This candidate has just been taken off the ballot at another station; "
                                            "your vote for this candidate was not added. Please choose again."));
        QCOMPARE(entries(v.lstCandID), QStringList{"C3"});
        db->exec("DELETE FROM CandInfo WHERE CandID = 'C3'; DELETE FROM CandVote WHERE CandID = 'C3'");
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(shownBoxes(), critical("This candidate has just been taken off the ballot at another station. "
                                        "Please choose again."));
        QCOMPARE(entries(v.lstCandID), QStringList());
        QCOMPARE(tallies(), (QStringList{"C1|0", c2, "C5|12"}));
    }

    // A save that cannot get the election within the wait (another station stuck in the
    // middle of its own) is refused as busy, with nothing written and the ballot as it was;
    // pressed again, it counts. On a server, a save whose answer is lost on the way is
    // neither lost nor counted twice, whether or not the server had written it.
    void aBusyOrLostSaveIsNeitherLostNorCountedTwice()
    {
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C1','Maria Santos','S1','PRES'),('C2','John Reyes','S2','PRES'),"
                 "('C3','Ana Cruz','S3','VP');"
                 "INSERT INTO CandVote VALUES ('C1',0),('C2',0),('C3',0);"
                 "INSERT INTO Users VALUES ('Carla','2026001','vote1',false)");
        const int wait = store::Connection::lockWaitMs();
        store::Connection::setLockWaitMs(300);
        Shell::reset(); // the program's connections take the shorter wait
        startProgramOn(*db);
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

        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        {
            HeldElection held(*db);
            const QStringList said = press(v.cmdVote);
            QVERIFY2(said.size() == 1 && said[0].startsWith(box(Msg::Icon::Critical, "Pollaris",
                                                                "The election is busy: another station has been")),
                     qPrintable(said.join('\n')));
            QVERIFY(said[0].contains("Nothing was saved"));
        }
        QCOMPARE(tallies(), L("C1|0,C2|0,C3|0"));
        QCOMPARE(entries(v.lstPosID->model()), L("PRES,VP"));
        QCOMPARE(v.cmbbxPosition->currentIndex(), 0);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("John Reyes"));

        // Pressed again: written, and its answer lost; counted once.
        loseAnswerTo("COMMIT");
        QCOMPARE(press(v.cmdVote), QStringList());
        QCOMPARE(tallies(), L("C1|0,C2|1,C3|0"));
        QCOMPARE(entries(v.lstPosID->model()), L("VP"));

        // Lost in the middle of the vote, before anything was committed: run again, counted once.
        loseAnswerTo(voteStatement());
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(press(v.cmdVote), QStringList());
        QCOMPARE(tallies(), L("C1|0,C2|1,C3|1"));
        QCOMPARE(entries(v.lstPosID->model()), QStringList());
        QCOMPARE(waits, db->onServer() ? 3 : 0);
        ServerWait::setOnChange(nullptr);
        store::Connection::setLockWaitMs(wait);
    }

    // A tally that cannot take the vote: a full one is refused and the ballot stays as it was; one
    // without a value, without a row, or no whole number (written by other means, in a table that
    // keeps any type) ends the program. Nothing is written.
    void aTallyThatCannotTakeTheVoteIsLeftAsItIs_data()
    {
        QTest::addColumn<QString>("tally"); // of the candidate voted for; none for no row
        QTest::addColumn<QString>("boxStart");
        QTest::newRow("full") << "2147483647"
                              << box(Msg::Icon::Critical, "Pollaris",
                                     "This candidate's tally has reached the largest number it can hold (2147483647 "
                                     "votes); your vote for this candidate cannot be added.");
        QTest::newRow("no value") << "NULL" << box(Msg::Icon::Critical, "Pollaris", "Error 94: Invalid use of Null");
        QTest::newRow("no row") << "" << box(Msg::Icon::Critical, "Pollaris", "Error 3021:");
        QTest::newRow("text") << "'abc'" << box(Msg::Icon::Critical, "Pollaris", "Error 13: Type mismatch");
    }
    void aTallyThatCannotTakeTheVoteIsLeftAsItIs()
    {
        QFETCH(QString, tally);
        QFETCH(QString, boxStart);
        if (boxStart.endsWith("mismatch") && db->onServer())
            QSKIP("the server keeps tallies as whole numbers");
        if (boxStart.endsWith("mismatch"))
            db->exec("DROP TABLE CandVote; CREATE TABLE CandVote (CandID TEXT, NumVotes)");
        db->exec("INSERT INTO Positions VALUES ('PRES','President')");
        db->exec("INSERT INTO CandInfo VALUES ('C1','Maria','1','PRES'),('C2','John','2','PRES')");
        db->exec("INSERT INTO CandVote VALUES ('C1',2147483646)" + (tally.isEmpty() ? "" : ",('C2'," + tally + ")"));
        db->exec("INSERT INTO Users VALUES ('Carla','2026001','vote1',false)");
        const QStringList before = tallies();
        frmVoter &v = enterBallot("2026001", "vote1");
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        const QString boxes = press(v.cmdVote).join('\n');
        QVERIFY2(boxes.startsWith(boxStart) && !boxes.contains('\n'), qPrintable(boxes));
        QCOMPARE(tallies(), before);
        QCOMPARE(Shell::endedWith().has_value(), tally != "2147483647");
        if (Shell::endedWith())
            return Shell::reset();
        QVERIFY(v.cmbbxPosition->count() == 1 && v.lstCandID->currentRow() == 1);
        // One below the limit still counts, up to the limit itself.
        clickEntry(v.lstCandidate, 0);
        click(v.cmdVote);
        QCOMPARE(tallies(), L("C1|2147483647,C2|2147483647"));
    }
};

POLLARIS_TEST_MAIN(VotingTest)
#include "tst_voting.moc"
