// The voter's road: log-in, ballot, Done, against a real election file.

#include "TestSupport.h"

#include "screens/frmMain.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "shell/modGlobalVar.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

namespace {

const QString kIncorrectUser = box(Msg::Icon::Critical, QStringLiteral("Error!"), QStringLiteral("Incorrect Username!"));
const QString kIncorrectPass = box(Msg::Icon::Critical, QStringLiteral("Error!"), QStringLiteral("Incorrect Password!"));
const QString kHasVoted = box(Msg::Icon::Critical, QStringLiteral("Error!"), QStringLiteral("User has already voted!"));
const QString kOnce = box(Msg::Icon::Exclamation, QStringLiteral("Pollaris"),
                          QStringLiteral("Warning! Users can only login once"));
const QString kSelect = box(Msg::Icon::Critical, QStringLiteral("Pollaris"), QStringLiteral("Select a Candidate!"));
const QString kThanks = box(Msg::Icon::Information, QStringLiteral("Your vote has been added"),
                            QStringLiteral("Thank you for voting!"));

QStringList entries(const QComboBox *c)
{
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

QStringList entries(const QListWidget *l)
{
    QStringList out;
    for (int i = 0; i < l->count(); ++i)
        out << l->item(i)->text();
    return out;
}

// Clicks entry i of a visible list as the voter would.
void clickEntry(QListWidget *list, int i)
{
    QListWidgetItem *item = list->item(i);
    QVERIFY(item);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

// The focus when the window becomes active, then after each press of Tab.
QList<QWidget *> tabbing(QWidget *window, int stops)
{
    QList<QWidget *> seen;
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return seen;
    for (int i = 0; i < stops; ++i) {
        seen << QApplication::focusWidget();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    return seen;
}

} // namespace

class VotingTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    frmVoterLogIn &openLogIn()
    {
        click(Shell::Show<frmMain>().lblLogUser);
        return Shell::Get<frmVoterLogIn>();
    }
    void logIn(const QString &user, const QString &pass)
    {
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        type(login.txtUsername, user);
        type(login.txtPassword, pass);
        click(login.cmdOK);
    }
    // From the main menu to the ballot; the warning is the only box.
    frmVoter &enterBallot(const QString &user, const QString &pass)
    {
        openLogIn();
        logIn(user, pass);
        const QStringList boxes = shownBoxes();
        if (boxes != QStringList{kOnce})
            qWarning() << "unexpected boxes at log-in" << boxes;
        return Shell::Get<frmVoter>();
    }
    QStringList tallies() const
    {
        return db->rows(QStringLiteral("SELECT CandID, NumVotes FROM CandVote ORDER BY rowid"));
    }
    void addCandidate(const QString &id, const QString &name, const QString &stud, const QString &pos,
                      const QString &votes)
    {
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('%1','%2','%3','%4')").arg(id, name, stud, pos));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('%1',%2)").arg(id, votes));
    }
    void seedBallot()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President'),"
                                "('SEC','Secretary')"));
        addCandidate(QStringLiteral("C1"), QStringLiteral("Maria Santos"), QStringLiteral("2023-0141"),
                     QStringLiteral("PRES"), QStringLiteral("0"));
        addCandidate(QStringLiteral("C2"), QStringLiteral("John Reyes"), QStringLiteral("2023-0458"),
                     QStringLiteral("PRES"), QStringLiteral("41"));
        addCandidate(QStringLiteral("C3"), QStringLiteral("Ana Cruz"), QStringLiteral("2024-0012"),
                     QStringLiteral("VP"), QStringLiteral("7"));
        addCandidate(QStringLiteral("C4"), QStringLiteral("Paolo Garcia"), QStringLiteral("2024-0377"),
                     QStringLiteral("VP"), QStringLiteral("3"));
        addCandidate(QStringLiteral("C5"), QStringLiteral("Liza Mendoza"), QStringLiteral("2025-0220"),
                     QStringLiteral("SEC"), QStringLiteral("12"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','2026001','vote1',0),('Daniel','2026002','vote2',0)"));
    }
    static void checkBallotEmptyBelowChoice(frmVoter &v)
    {
        QCOMPARE(v.lstCandidate->count(), 0);
        QCOMPARE(v.lstCandID->count(), 0);
        QCOMPARE(v.lblCandName->text(), QString());
        QCOMPARE(v.lblCandStudID->text(), QString());
        QCOMPARE(v.lblCandPosition->text(), QString());
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
        modGlobalVar::VoterUser = QStringLiteral("previous");
        modGlobalVar::VoterPass = QStringLiteral("previous-pass");
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        QVERIFY(!Shell::endedWith());
        Shell::reset();
    }

    void logInScreenHasItsControlsLimitsAndFocusOrder()
    {
        frmVoterLogIn &login = openLogIn();
        QCOMPARE(login.windowTitle(), QStringLiteral("Voter's Login"));
        QVERIFY(!Shell::Get<frmMain>().isVisible());
        QCOMPARE(login.lblUsername->text(), QStringLiteral("Username"));
        QCOMPARE(login.lblPassword->text(), QStringLiteral("Password"));
        QCOMPARE(login.cmdOK->text(), QStringLiteral("&OK"));
        QCOMPARE(login.cmdCancel->text(), QStringLiteral("C&ancel"));
        QVERIFY(!login.cmdOK->isDefault() && !login.cmdOK->autoDefault());
        QVERIFY(!login.cmdCancel->isDefault() && !login.cmdCancel->autoDefault());
        QCOMPARE(login.txtPassword->echoMode(), QLineEdit::Password);
        type(login.txtUsername, QStringLiteral("123456789012345678901234"));
        type(login.txtPassword, QStringLiteral("abcdefghijklmnopqrstuvwx"));
        QCOMPARE(login.txtUsername->text(), QStringLiteral("12345678901234567890"));
        QCOMPARE(login.txtPassword->text(), QStringLiteral("abcdefghijklmnopqrst"));
        QCOMPARE(tabbing(&login, 5),
                 (QList<QWidget *>{login.cmdCancel, login.cmdOK, login.txtPassword, login.txtUsername, login.cmdCancel}));

        // Cancel empties both fields and goes home without touching anything.
        click(login.cmdCancel);
        QVERIFY(!login.isVisible());
        QVERIFY(Shell::Get<frmMain>().isVisible());
        QCOMPARE(login.txtUsername->text(), QString());
        QCOMPARE(login.txtPassword->text(), QString());
        QCOMPARE(modGlobalVar::VoterUser, QStringLiteral("previous"));

        // Whatever was left typed, the main menu opens the screen empty.
        type(login.txtUsername, QStringLiteral("left over"));
        openLogIn();
        QCOMPARE(login.txtUsername->text(), QString());
    }

    void refusalsComeInOrderAndChangeNothing()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Ann','2026001','vote1',0),('Bob','2026002','Vote2',1)"));
        const QStringList before = db->rows(QStringLiteral("SELECT * FROM Users"));
        frmVoterLogIn &login = openLogIn();

        struct Attempt {
            QString user, pass, expected;
        };
        const Attempt attempts[] = {
            {QStringLiteral("2026009"), QStringLiteral("vote1"), kIncorrectUser}, // password not looked at
            {QString(), QString(), kIncorrectUser},
            {QStringLiteral(" 2026001"), QStringLiteral("vote1"), kIncorrectUser},
            {QStringLiteral("2026001"), QStringLiteral("VOTE1"), kIncorrectPass},
            {QStringLiteral("2026001"), QStringLiteral("vote1 "), kIncorrectPass},
            {QStringLiteral("2026001"), QString(), kIncorrectPass},
            {QStringLiteral("2026002"), QStringLiteral("vote2"), kIncorrectPass}, // before the voted check
            {QStringLiteral("2026002"), QStringLiteral("Vote2"), kHasVoted},
        };
        for (const Attempt &a : attempts) {
            logIn(a.user, a.pass);
            QCOMPARE(shownBoxes(), QStringList{a.expected});
            QVERIFY(login.isVisible());
            QCOMPARE(login.txtUsername->text(), a.user);
            QCOMPARE(login.txtPassword->text(), a.pass);
        }
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Users")), before);
        QVERIFY(!Shell::Exists(Shell::Slot::frmVoter));
        QCOMPARE(modGlobalVar::VoterUser, QStringLiteral("previous"));
        QCOMPARE(modGlobalVar::VoterPass, QStringLiteral("previous-pass"));
    }

    void anAdmittedAccountIsMarkedBeforeTheWarningAndOnlyOnce()
    {
        seedBallot();
        frmVoterLogIn &login = openLogIn();
        QVariant flagDuringWarning;
        bool ballotVisibleDuringWarning = true;
        Msg::setOnShow([&](const Msg::Shown &) {
            flagDuringWarning = db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='2026001'"));
            ballotVisibleDuringWarning = Shell::Exists(Shell::Slot::frmVoter) && Shell::Get<frmVoter>().isVisible();
        });
        logIn(QStringLiteral("2026001"), QStringLiteral("vote1"));
        Msg::setOnShow(nullptr);
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(flagDuringWarning.toInt(), 1);
        QVERIFY(!ballotVisibleDuringWarning);
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='2026002'")).toInt(), 0);

        QCOMPARE(modGlobalVar::VoterUser, QStringLiteral("2026001"));
        QCOMPARE(modGlobalVar::VoterPass, QStringLiteral("vote1"));
        QVERIFY(!login.isVisible());
        QCOMPARE(login.txtUsername->text(), QString());
        QCOMPARE(login.txtPassword->text(), QString());
        frmVoter &ballot = Shell::Get<frmVoter>();
        QVERIFY(ballot.isVisible());
        QCOMPARE(ballot.lblWelcome->text(), QStringLiteral("Welcome, 2026001"));
        // Loaded twice (load handler, then the log-in), each position once.
        QCOMPARE(entries(ballot.cmbbxPosition),
                 (QStringList{QStringLiteral("President"), QStringLiteral("Vice President"), QStringLiteral("Secretary")}));

        // Leaving without a vote does not give the account back.
        click(ballot.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        openLogIn();
        logIn(QStringLiteral("2026001"), QStringLiteral("vote1"));
        QCOMPARE(shownBoxes(), QStringList{kHasVoted});
        QCOMPARE(modGlobalVar::VoterUser, QStringLiteral("2026001"));
    }

    void userNamesAreFoundByTheStoresEqualityNeverAsSql()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('A','abc123','Secret',0),('O','O''Brien','pw',0),"
                                "('X','x'' OR ''1''=''1','inj',0),('E','élise','fr',0)"));
        openLogIn();

        // Other letter case finds the account; the greeting shows what was typed.
        logIn(QStringLiteral("ABC123"), QStringLiteral("Secret"));
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(Shell::Get<frmVoter>().lblWelcome->text(), QStringLiteral("Welcome, ABC123"));
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='abc123'")).toInt(), 1);
        click(Shell::Get<frmVoter>().cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});

        openLogIn();
        logIn(QStringLiteral("ÉLISE"), QStringLiteral("fr"));
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        click(Shell::Get<frmVoter>().cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});

        // A quote inside the name is part of the name.
        openLogIn();
        logIn(QStringLiteral("o'brien"), QStringLiteral("pw"));
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(Shell::Get<frmVoter>().lblWelcome->text(), QStringLiteral("Welcome, o'brien"));
        click(Shell::Get<frmVoter>().cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});

        // An injection-looking name finds only the account of exactly that name.
        openLogIn();
        logIn(QStringLiteral("nobody' OR '1'='1"), QStringLiteral("Secret"));
        QCOMPARE(shownBoxes(), QStringList{kIncorrectUser});
        logIn(QStringLiteral("x' OR '1'='1"), QStringLiteral("Secret"));
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
        logIn(QStringLiteral("X' or '1'='1"), QStringLiteral("inj"));
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(db->rows(QStringLiteral("SELECT Username, HasVoted FROM Users ORDER BY rowid")),
                 (QStringList{QStringLiteral("abc123|1"), QStringLiteral("O'Brien|1"),
                              QStringLiteral("x' OR '1'='1|1"), QStringLiteral("élise|1")}));
    }

    void accountsWithMissingValuesDoNotBreakTheLogIn()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('N','nopass',NULL,0),('F','noflag','pw',NULL)"));
        frmVoterLogIn &login = openLogIn();
        // No password at all never matches, not even an empty entry.
        logIn(QStringLiteral("nopass"), QString());
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
        logIn(QStringLiteral("nopass"), QStringLiteral("anything"));
        QCOMPARE(shownBoxes(), QStringList{kIncorrectPass});
        QVERIFY(login.isVisible());
        QVERIFY(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='nopass'")).toInt() == 0);

        // A flag with no value counts as not voted, and is set by the log-in.
        logIn(QStringLiteral("noflag"), QStringLiteral("pw"));
        QCOMPARE(shownBoxes(), QStringList{kOnce});
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username='noflag'")).toInt(), 1);
        QVERIFY(Shell::Get<frmVoter>().isVisible());
    }

    void ballotHasItsControlsAndFocusOrder()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        QCOMPARE(v.windowTitle(), QStringLiteral("Pollaris"));
        QCOMPARE(v.lblPosition->text(), QStringLiteral("Position"));
        QCOMPARE(v.lblListofCand->text(), QStringLiteral("List of Candidates"));
        QCOMPARE(v.lblCanDetails->text(), QStringLiteral("Candidate Details"));
        QCOMPARE(v.lblName->text(), QStringLiteral("Name"));
        QCOMPARE(v.lblStudentID->text(), QStringLiteral("Student ID"));
        QCOMPARE(v.lblCPosition->text(), QStringLiteral("Position Running for:"));
        QCOMPARE(v.cmdVote->text(), QStringLiteral("Vote"));
        QCOMPARE(v.cmdDone->text(), QStringLiteral("Done"));
        QVERIFY(!v.cmbbxPosition->isEditable());
        QVERIFY(!v.lstPosID->isVisible() && !v.lstCandID->isVisible());
        QVERIFY(!v.cmdVote->isDefault() && !v.cmdDone->isDefault());
        QCOMPARE(tabbing(&v, 5),
                 (QList<QWidget *>{v.cmdDone, v.cmdVote, v.lstCandidate, v.cmbbxPosition, v.cmdDone}));
        QCOMPARE(v.cmbbxPosition->currentIndex(), -1);
        QCOMPARE(entries(v.lstPosID), (QStringList{QStringLiteral("PRES"), QStringLiteral("VP"), QStringLiteral("SEC")}));
        QCOMPARE(v.lstPosID->currentRow(), -1);
        checkBallotEmptyBelowChoice(v);
    }

    void aVoteAddsOneToThatTallyAndTakesThePositionOff()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        const QStringList others = db->rows(QStringLiteral("SELECT * FROM CandInfo UNION ALL SELECT *,'','' FROM Positions"));

        v.cmbbxPosition->setCurrentIndex(0);
        QCOMPARE(v.lstPosID->currentRow(), 0);
        QCOMPARE(entries(v.lstCandidate), (QStringList{QStringLiteral("Maria Santos"), QStringLiteral("John Reyes")}));
        QCOMPARE(entries(v.lstCandID), (QStringList{QStringLiteral("C1"), QStringLiteral("C2")}));
        QCOMPARE(v.lstCandidate->currentRow(), -1);
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("Maria Santos"));
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("2023-0141"));
        QCOMPARE(v.lblCandPosition->text(), QStringLiteral("President"));
        QCOMPARE(v.lstCandID->currentRow(), 0);
        click(v.cmdVote);

        QCOMPARE(tallies(), (QStringList{QStringLiteral("C1|1"), QStringLiteral("C2|41"), QStringLiteral("C3|7"),
                                         QStringLiteral("C4|3"), QStringLiteral("C5|12")}));
        QCOMPARE(entries(v.cmbbxPosition), (QStringList{QStringLiteral("Vice President"), QStringLiteral("Secretary")}));
        QCOMPARE(entries(v.lstPosID), (QStringList{QStringLiteral("VP"), QStringLiteral("SEC")}));
        QCOMPARE(v.cmbbxPosition->currentIndex(), -1);
        QCOMPARE(v.lstPosID->currentRow(), -1);
        checkBallotEmptyBelowChoice(v);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});

        // A position added since is on the next ballot too.
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('TRES','Treasurer')"));
        QStringList othersAfter = others;
        othersAfter << QStringLiteral("TRES|Treasurer||");
        click(v.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        QVERIFY(!v.isVisible());
        QVERIFY(Shell::Get<frmMain>().isVisible());

        // The next voter sees every position again.
        enterBallot(QStringLiteral("2026002"), QStringLiteral("vote2"));
        QCOMPARE(v.lblWelcome->text(), QStringLiteral("Welcome, 2026002"));
        QCOMPARE(entries(v.cmbbxPosition), (QStringList{QStringLiteral("President"), QStringLiteral("Vice President"),
                                                        QStringLiteral("Secretary"), QStringLiteral("Treasurer")}));
        QCOMPARE(v.cmbbxPosition->currentIndex(), -1);
        checkBallotEmptyBelowChoice(v);
        // The middle entry goes, and the rest stay parallel.
        v.cmbbxPosition->setCurrentIndex(1);
        clickEntry(v.lstCandidate, 1);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("Paolo Garcia"));
        click(v.cmdVote);
        QCOMPARE(entries(v.cmbbxPosition), (QStringList{QStringLiteral("President"), QStringLiteral("Secretary"),
                                                        QStringLiteral("Treasurer")}));
        QCOMPARE(entries(v.lstPosID), (QStringList{QStringLiteral("PRES"), QStringLiteral("SEC"), QStringLiteral("TRES")}));
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        click(v.cmdVote);
        QCOMPARE(tallies(), (QStringList{QStringLiteral("C1|1"), QStringLiteral("C2|42"), QStringLiteral("C3|7"),
                                         QStringLiteral("C4|4"), QStringLiteral("C5|12")}));
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandInfo UNION ALL SELECT *,'','' FROM Positions")),
                 othersAfter);
    }

    void choosingAnotherPositionEmptiesCandidatesAndDetails()
    {
        seedBallot();
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('AUD','Auditor')"));
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        const QStringList before = tallies();

        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 1);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("John Reyes"));
        v.cmbbxPosition->setCurrentIndex(1);
        QCOMPARE(entries(v.lstCandidate), (QStringList{QStringLiteral("Ana Cruz"), QStringLiteral("Paolo Garcia")}));
        QCOMPARE(v.lstCandidate->currentRow(), -1);
        QCOMPARE(v.lstCandID->currentRow(), -1);
        QCOMPARE(v.lstPosID->currentRow(), 1);
        QCOMPARE(v.lblCandName->text(), QString());
        QCOMPARE(v.lblCandStudID->text(), QString());
        QCOMPARE(v.lblCandPosition->text(), QString());
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});

        // A position without candidates: nothing listed, nothing to vote for.
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("Ana Cruz"));
        v.cmbbxPosition->setCurrentIndex(3);
        checkBallotEmptyBelowChoice(v);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});
        QCOMPARE(v.cmbbxPosition->count(), 4);
        QCOMPARE(v.cmbbxPosition->currentText(), QStringLiteral("Auditor"));
        QCOMPARE(tallies(), before);
    }

    void enterAndEscapeInAFieldDoNothing()
    {
        seedBallot();
        frmVoterLogIn &login = openLogIn();
        QApplication::setActiveWindow(&login);
        type(login.txtUsername, QStringLiteral("2026001"));
        type(login.txtPassword, QStringLiteral("vote1"));
        for (QLineEdit *field : {login.txtUsername, login.txtPassword}) {
            QTest::keyClick(field, Qt::Key_Return);
            QTest::keyClick(field, Qt::Key_Enter);
            QTest::keyClick(field, Qt::Key_Escape);
        }
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(login.isVisible());
        QCOMPARE(login.txtPassword->text(), QStringLiteral("vote1"));
        QCOMPARE(db->value(QStringLiteral("SELECT HasVoted FROM Users WHERE Username = '2026001'")).toInt(), 0);
        click(login.cmdCancel);
    }

    void onlyAPickedCandidateCanBeVotedFor()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        const QStringList before = tallies();
        v.cmbbxPosition->setCurrentIndex(0);
        QApplication::setActiveWindow(&v);

        // Tabbing into the list picks nobody.
        v.lstCandidate->setFocus(Qt::TabFocusReason);
        QVERIFY(v.lstCandidate->hasFocus());
        QCOMPARE(v.lstCandidate->currentRow(), -1);
        QVERIFY(v.lblCandName->text().isEmpty());
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});

        // Neither a click below the entries nor Ctrl+click takes a pick back:
        // the candidate shown is the one highlighted, and the one Vote counts.
        clickEntry(v.lstCandidate, 1);
        const QPoint below(5, v.lstCandidate->viewport()->height() - 5);
        QTest::mouseClick(v.lstCandidate->viewport(), Qt::LeftButton, {}, below);
        const QPoint picked = v.lstCandidate->visualItemRect(v.lstCandidate->item(1)).center();
        QTest::mouseClick(v.lstCandidate->viewport(), Qt::LeftButton, Qt::ControlModifier, picked);
        QVERIFY(v.lstCandidate->item(1)->isSelected());
        QCOMPARE(v.lblCandName->text(), QStringLiteral("John Reyes"));
        QCOMPARE(tallies(), before);
        click(v.cmdVote);
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote WHERE CandID = 'C2'")).toLongLong(), 42);

        // Markup in a name is shown as the text it is.
        QCOMPARE(v.lblCandName->textFormat(), Qt::PlainText);
        QCOMPARE(v.lblWelcome->textFormat(), Qt::PlainText);
    }

    void votingInEveryPositionEmptiesTheChoice()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        while (v.cmbbxPosition->count() > 0) {
            v.cmbbxPosition->setCurrentIndex(v.cmbbxPosition->count() - 1);
            clickEntry(v.lstCandidate, 0);
            click(v.cmdVote);
            QCOMPARE(v.lstPosID->count(), v.cmbbxPosition->count());
        }
        QCOMPARE(v.lstPosID->count(), 0);
        QCOMPARE(v.cmbbxPosition->currentIndex(), -1);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});
        QCOMPARE(tallies(), (QStringList{QStringLiteral("C1|1"), QStringLiteral("C2|41"), QStringLiteral("C3|8"),
                                         QStringLiteral("C4|3"), QStringLiteral("C5|13")}));
        click(v.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        QVERIFY(Shell::Get<frmMain>().isVisible());
    }

    void anEmptyBallotStillThanksTheVoter()
    {
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','2026001','vote1',0)"));
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        QCOMPARE(v.cmbbxPosition->count(), 0);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});
        click(v.cmdDone);
        QCOMPARE(shownBoxes(), QStringList{kThanks});
        QVERIFY(!v.isVisible());
        QVERIFY(Shell::Get<frmMain>().isVisible());
        QCOMPARE(db->count(QStringLiteral("CandVote")), 0);
    }

    void candidatesOfTheSameNameAreToldApartByCode()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President')"));
        addCandidate(QStringLiteral("A1"), QStringLiteral("Alex Lim"), QStringLiteral("2023-0001"),
                     QStringLiteral("PRES"), QStringLiteral("5"));
        addCandidate(QStringLiteral("A2"), QStringLiteral("Alex Lim"), QStringLiteral("2024-0002"),
                     QStringLiteral("PRES"), QStringLiteral("9"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','2026001','vote1',0)"));
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        v.cmbbxPosition->setCurrentIndex(0);
        QCOMPARE(entries(v.lstCandidate), (QStringList{QStringLiteral("Alex Lim"), QStringLiteral("Alex Lim")}));
        clickEntry(v.lstCandidate, 1);
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("2024-0002"));
        QCOMPARE(v.lstCandID->currentRow(), 1);
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("2023-0001"));
        QCOMPARE(v.lstCandID->currentRow(), 0);
        click(v.cmdVote);
        QCOMPARE(tallies(), (QStringList{QStringLiteral("A1|6"), QStringLiteral("A2|9")}));
    }

    void theDetailsAreReadFromTheFileAtTheClick()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        v.cmbbxPosition->setCurrentIndex(0);
        db->exec(QStringLiteral("UPDATE CandInfo SET CandName='Maria S. Santos', StudentNum='X-1' WHERE CandID='C1'"));
        clickEntry(v.lstCandidate, 0);
        QCOMPARE(v.lstCandidate->item(0)->text(), QStringLiteral("Maria Santos"));
        QCOMPARE(v.lblCandName->text(), QStringLiteral("Maria S. Santos"));
        QCOMPARE(v.lblCandStudID->text(), QStringLiteral("X-1"));
    }

    void aVotedPositionNeverComesBack()
    {
        seedBallot();
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 0);
        click(v.cmdVote);
        const QStringList left{QStringLiteral("Vice President"), QStringLiteral("Secretary")};
        QCOMPARE(entries(v.cmbbxPosition), left);

        // A box closed over the ballot.
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{kSelect});
        QCOMPARE(entries(v.cmbbxPosition), left);

        // The window brought to the front and activated again, the focus moving
        // between its controls, a click on its background.
        Shell::Show<frmVoter>();
        v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
        v.cmbbxPosition->setFocus();
        v.cmdDone->setFocus();
        QTest::mouseClick(&v, Qt::LeftButton, {}, QPoint(20, 380));
        v.hide();
        v.show();
        v.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&v));
        QCOMPARE(entries(v.cmbbxPosition), left);
        QCOMPARE(entries(v.lstPosID), (QStringList{QStringLiteral("VP"), QStringLiteral("SEC")}));
    }

    void aFullTallyIsRefusedAndNothingChanges()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President')"));
        addCandidate(QStringLiteral("C1"), QStringLiteral("Maria Santos"), QStringLiteral("1"),
                     QStringLiteral("PRES"), QStringLiteral("2147483647"));
        addCandidate(QStringLiteral("C2"), QStringLiteral("John Reyes"), QStringLiteral("2"),
                     QStringLiteral("PRES"), QStringLiteral("2147483646"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','2026001','vote1',0),('Dan','2026002','vote2',0)"));
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 0);
        click(v.cmdVote);
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("Critical|Pollaris|")));
        QVERIFY(boxes[0].contains(QStringLiteral("2147483647")));
        QCOMPARE(tallies(), (QStringList{QStringLiteral("C1|2147483647"), QStringLiteral("C2|2147483646")}));
        // The ballot stays as it was: the position open, the candidate selected.
        QCOMPARE(v.cmbbxPosition->count(), 1);
        QCOMPARE(v.lstCandID->currentRow(), 0);
        QCOMPARE(v.lblCandName->text(), QStringLiteral("Maria Santos"));

        // One below the limit still counts, up to the limit itself.
        clickEntry(v.lstCandidate, 1);
        click(v.cmdVote);
        QCOMPARE(tallies(), (QStringList{QStringLiteral("C1|2147483647"), QStringLiteral("C2|2147483647")}));
        QCOMPARE(v.cmbbxPosition->count(), 0);
    }

    void aMissingTallyEndsTheProgramWithoutWriting()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('PRES','President')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Maria','1','PRES'),('C2','John','2','PRES')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1',NULL)"));
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Carla','2026001','vote1',0)"));
        frmVoter &v = enterBallot(QStringLiteral("2026001"), QStringLiteral("vote1"));
        v.cmbbxPosition->setCurrentIndex(0);
        clickEntry(v.lstCandidate, 0);
        click(v.cmdVote);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, QStringLiteral("Pollaris"),
                                                QStringLiteral("Error 94: Invalid use of Null"))});
        QVERIFY(Shell::endedWith().has_value());
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandVote")), QStringList{QStringLiteral("C1|NULL")});
        QCOMPARE(v.cmbbxPosition->count(), 1);
        Shell::reset();

        // No tally row at all: the same, through the store's own failure.
        startProgramIn(db->folder());
        db->exec(QStringLiteral("INSERT INTO Users VALUES ('Dan','2026002','vote2',0)"));
        frmVoter &w = enterBallot(QStringLiteral("2026002"), QStringLiteral("vote2"));
        w.cmbbxPosition->setCurrentIndex(0);
        clickEntry(w.lstCandidate, 1);
        click(w.cmdVote);
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("Critical|Pollaris|Error 3021:")));
        QVERIFY(Shell::endedWith().has_value());
        QCOMPARE(db->count(QStringLiteral("CandVote")), 1);
        Shell::reset();
    }
};

POLLARIS_TEST_MAIN(VotingTest)
#include "tst_voting.moc"
