// The candidates and positions panel, its dialogs and the results screen.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAdminStart.h"
#include "screens/frmCountVotes.h"
#include "screens/frmEditCand.h"
#include "screens/frmMainAdmin.h"
#include "store/Connection.h"

#include <QtWidgets>

namespace {

const QString kDeletePosition = box(Msg::Icon::Question, "Warning!",
                                    "Warning! Deleting a position will also delete all candidate records running "
                                    "for this position. Proceed with deletion?");
const QString kDeleteCandidate = box(Msg::Icon::Question, "Delete Candidate?", "Are you sure?");
const QString kChanged = "was changed at another station while you were editing it. Nothing was saved: please look at "
                         "it again.";
const QString kGone = "is no longer in the election file. Nothing was saved.";

QStringList confirmed(QPushButton *button) { return Msg::setNextAnswer(Msg::Answer::Yes), press(button); }
QStringList typed(QWidget *field, const QString &text, QPushButton *ok) { return type(field, text), press(ok); }

void pick(frmMainAdmin &panel, const QString &posId, const QString &candId = {}, QPushButton *then = nullptr)
{
    panel.cmbbxPosition->setCurrentIndex(entries(panel.lstPosID).indexOf(posId));
    panel.lstCandidate->setCurrentRow(entries(panel.lstCandID).indexOf(candId));
    if (then)
        click(then);
}

} // namespace

class BallotSetupTest : public ScreenTest {
    Q_OBJECT

    frmMainAdmin &openPanel() { return click(Shell::Show<frmAdminStart>().cmdCandPos), Shell::Get<frmMainAdmin>(); }
    // A candidate with its tally, as one row.
    QStringList candidate(const QString &candId) const
    {
        return db->rows("SELECT i.*, NumVotes FROM CandInfo i JOIN CandVote USING (CandID) WHERE CandID = '" + candId +
                        "'");
    }
    // The candidates and tallies that belong to no position there is, as "I|code" and "V|code".
    QStringList strays() const
    {
        return db->rows("SELECT 'I', CandID FROM CandInfo i WHERE NOT EXISTS "
                        "(SELECT 1 FROM Positions p WHERE lower(p.PosID) = lower(i.PosID))") +
               db->rows("SELECT 'V', CandID FROM CandVote v WHERE NOT EXISTS (SELECT 1 FROM CandInfo i JOIN "
                        "Positions p ON lower(p.PosID) = lower(i.PosID) WHERE lower(i.CandID) = lower(v.CandID))");
    }
    QStringList wholeFile() const
    {
        return db->rows("SELECT 'P', * FROM Positions ORDER BY rowid") +
               db->rows("SELECT 'I', * FROM CandInfo ORDER BY rowid") +
               db->rows("SELECT 'V', * FROM CandVote ORDER BY rowid");
    }
    // The candidate's edit dialog opened, the SQL run as another station would, a name typed:
    // OK is refused (the candidate changed, or gone), nothing written, the panel still there.
    void editRefusedAfter(frmMainAdmin &panel, const QString &posId, const QString &candId, const QString &sql,
                          const QString &why)
    {
        pick(panel, posId, candId, panel.cmdEditCand);
        db->exec(sql);
        type(Shell::Get<frmEditCand>().txtName, "Mine");
        const QStringList before = wholeFile();
        QCOMPARE(press(Shell::Get<frmEditCand>().cmdOK), critical("The candidate \"" + candId + "\" " + why, "Error!"));
        QCOMPARE(wholeFile(), before);
        QVERIFY(panel.isVisible() && !Shell::endedWith());
    }

private slots:
    void initTestCase_data() { addEngineRows(); }
    void init()
    {
        FETCH_ENGINE(engine);
        db = std::make_unique<ElectionFolder>(engine);
        startProgramOn(*db);
        db->exec("INSERT INTO Positions VALUES ('P1','President'),('P2','Vice'),('p''3','Empty');"
                 "INSERT INTO CandInfo VALUES "
                 "('C1','Ann','S1','P1'),('C2','Bo','S2','P1'),('C3','Cy','S3','P1'),('c''4','Di','S4','P2');"
                 "INSERT INTO CandVote VALUES ('C1',5),('C2',12),('C3',0),('c''4',7)");
    }
    void addingAndEditingRefuseInOrderKeepTheEntriesAndWriteCandidateAndTallyTogether()
    {
        frmMainAdmin &panel = openPanel();
        QCOMPARE(press(panel.cmdDelPos), critical("Please choose a position!"));
        QCOMPARE(press(panel.cmdCount), critical("Choose a position!"));
        QCOMPARE(press(panel.cmdEditCand), QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Select a Candidate!")});

        // A name another position bears, and a code of blanks, are fine.
        click(panel.cmdAddPos);
        frmAddPos &pos = Shell::Get<frmAddPos>();
        QCOMPARE(press(pos.cmdOK), critical("Please enter a position name!"));
        QCOMPARE(typed(pos.txtPosName, "President", pos.cmdOK), critical("Please enter a position ID!"));
        QCOMPARE(typed(pos.txtPosID, "P'3", pos.cmdOK), critical("Duplicate Position ID Found!", "Error!"));
        QCOMPARE(typed(pos.txtPosID, "  ", pos.cmdOK), QStringList());
        QCOMPARE(db->rows("SELECT * FROM Positions"),
                 (QStringList{"P1|President", "P2|Vice", "p'3|Empty", "  |President"}));

        click(panel.cmdNewCand);
        frmAddCandidate &cand = Shell::Get<frmAddCandidate>();
        QCOMPARE(press(cand.cmdOK), critical("Please enter a name!"));
        QCOMPARE(typed(cand.txtName, "Maria", cand.cmdOK), critical("Please enter a student ID!"));
        QCOMPARE(typed(cand.txtStudentID, "2023-1", cand.cmdOK), critical("Please enter a candidate ID!"));
        QCOMPARE(typed(cand.txtCandID, "C'4", cand.cmdOK), critical("Please choose a position!"));
        cand.cmbbxPosition->setCurrentIndex(2);
        QCOMPARE(press(cand.cmdOK), critical("Duplicate Candidate ID Found!", "Error!"));
        QCOMPARE(typed(cand.txtCandID, "C9", cand.cmdOK), QStringList());
        QCOMPARE(candidate("C9"), QStringList{"C9|Maria|2023-1|p'3|0"});

        // Editing moves a candidate with its votes.
        pick(panel, "P1", "C2", panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        dialog.txtName->clear(), dialog.txtStudentID->clear();
        QCOMPARE(press(dialog.cmdOK), critical("Please enter a name!"));
        QCOMPARE(typed(dialog.txtName, "Bo Renamed", dialog.cmdOK), critical("Please enter a student ID!"));
        type(dialog.txtStudentID, "S2"), dialog.cmbbxPosition->setCurrentIndex(-1);
        QCOMPARE(press(dialog.cmdOK), critical("Please select a position."));
        dialog.cmbbxPosition->setCurrentIndex(1);
        QCOMPARE(press(dialog.cmdOK), QStringList());
        QCOMPARE(candidate("C2"), QStringList{"C2|Bo Renamed|S2|P2|12"});

        // A candidate changed, or removed, at another station while the dialog is open is not
        // written over, nor written back.
        editRefusedAfter(panel, "P2", "C2", "UPDATE CandInfo SET StudentNum = 'S2b' WHERE CandID = 'C2'", kChanged);
        editRefusedAfter(panel, "P2", "c'4", "DELETE FROM CandInfo WHERE CandID = 'c''4'", kGone);

        // A failure on the tally's write takes the candidate's row back with it.
        const QStringList before = wholeFile();
        click(panel.cmdNewCand);
        type(cand.txtName, "X"), type(cand.txtStudentID, "1"), type(cand.txtCandID, "C10");
        cand.cmbbxPosition->setCurrentIndex(0);
        store::Connection::failWriteAfter(2);
        QVERIFY(press(cand.cmdOK).value(0).startsWith("Critical|Pollaris|Error 3999:"));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
        QCOMPARE(wholeFile(), before);
    }

    // On a server, a confirmed deletion whose answer is lost in the middle of it is done once
    // the server answers again, without the question being asked again.
    void deletingRemovesExactlyWhatBelongsTogetherOrNothing()
    {
        db->exec("INSERT INTO Positions VALUES ('P5','Fifth');"
                 "INSERT INTO CandInfo VALUES ('C5','Eve','S5','P5'),('Ä6','Flo','S6','P5');"
                 "INSERT INTO CandVote VALUES ('c5',5),('ä6',7),('C5',8),(NULL,1)");
        QStringList before = wholeFile();
        frmMainAdmin &panel = openPanel();
        pick(panel, "P1", {}, panel.cmdDelPos);
        pick(panel, "P2", "c'4", panel.cmdDelCand);
        QCOMPARE(shownBoxes(), (QStringList{kDeletePosition, kDeleteCandidate}));
        QCOMPARE(wholeFile(), before); // answering No changes nothing
        pick(panel, "P1");
        store::Connection::failWriteAfter(4);
        QVERIFY(confirmed(panel.cmdDelPos).value(1).startsWith("Critical|Pollaris|Error 3999:"));
        QCOMPARE(wholeFile(), before);

        startProgramOn(*db);
        frmMainAdmin &again = openPanel();
        if (db->onServer()) {
            pick(again, "P1", "C2");
            store::Connection::loseAnswerTo("DELETE FROM");
            QCOMPARE(confirmed(again.cmdDelCand), QStringList{kDeleteCandidate});
            before.removeOne("I|C2|Bo|S2|P1"), before.removeOne("V|C2|12");
            QCOMPARE(wholeFile(), before);
            QVERIFY(again.isVisible());
        }
        for (const char *posId : {"P1", "P5"})
            pick(again, posId), confirmed(again.cmdDelPos);
        // Each code takes the first tally row it names, whatever the letter case.
        QCOMPARE(wholeFile(),
                 (QStringList{"P|P2|Vice", "P|p'3|Empty", "I|c'4|Di|S4|P2", "V|c'4|7", "V|C5|8", "V|NULL|1"}));
        // A candidate without a tally is a failure too, and deletes nothing.
        db->exec("DELETE FROM CandVote WHERE CandID = 'c''4'");
        const QStringList broken = wholeFile();
        pick(again, "P2");
        QVERIFY(confirmed(again.cmdDelPos).value(1).startsWith("Critical|Pollaris|Error 3021: No current record"));
        QCOMPARE(wholeFile(), broken);
    }

    // Filed under 'p1' is filed under P1; a move made at another station is still refused.
    void editingACandidateFiledUnderItsPositionInAnotherCase()
    {
        db->exec("UPDATE CandInfo SET PosID = 'p1' WHERE CandID IN ('C2', 'C3')");
        frmMainAdmin &panel = openPanel();
        pick(panel, "P1", "C2", panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        QCOMPARE(dialog.cmbbxPosition->currentText(), QStringLiteral("President"));
        type(dialog.txtName, "Bo Renamed");
        QCOMPARE(press(dialog.cmdOK), QStringList());
        QCOMPARE(candidate("C2"), QStringList{"C2|Bo Renamed|S2|P1|12"});
        QVERIFY(panel.isVisible());
        editRefusedAfter(panel, "P1", "C3", "UPDATE CandInfo SET PosID = 'p2' WHERE CandID = 'C3'", kChanged);
    }

    // Whichever station saves second sees what the first wrote; nothing is left on no position.
    void aSaveSeesWhatAnotherStationWroteJustBeforeIt()
    {
        frmMainAdmin &panel = openPanel();
        // A candidate added to the position after its list was shown goes with it, tally and all.
        pick(panel, "P1");
        anotherStationBefore(
            *db, "BEGIN", "INSERT INTO CandInfo VALUES ('C9','Eve','S9','p1'); INSERT INTO CandVote VALUES ('c9',3)");
        QCOMPARE(confirmed(panel.cmdDelPos), QStringList{kDeletePosition});
        QCOMPARE(wholeFile(), (QStringList{"P|P2|Vice", "P|p'3|Empty", "I|c'4|Di|S4|P2", "V|c'4|7"}));

        // A position deleted after the dialog listed it takes no candidate; the dialog lists those left.
        click(panel.cmdNewCand);
        frmAddCandidate &cand = Shell::Get<frmAddCandidate>();
        type(cand.txtName, "Flo"), type(cand.txtStudentID, "S10"), type(cand.txtCandID, "C10");
        cand.cmbbxPosition->setCurrentIndex(entries(cand.lstPosID).indexOf("P2"));
        anotherStationBefore(*db, "BEGIN",
                             "DELETE FROM CandInfo WHERE PosID = 'P2'; DELETE FROM CandVote WHERE CandID = 'c''4';"
                             "DELETE FROM Positions WHERE PosID = 'P2'");
        QCOMPARE(press(cand.cmdOK), critical("The position \"Vice\" " + kGone, "Error!"));
        QCOMPARE(wholeFile(), QStringList{"P|p'3|Empty"});
        QVERIFY(cand.isVisible() && cand.cmbbxPosition->currentIndex() == -1);
        QCOMPARE(entries(cand.lstPosID), QStringList{"p'3"});
        cand.cmbbxPosition->setCurrentIndex(0);
        QCOMPARE(press(cand.cmdOK), QStringList());
        QCOMPARE(candidate("C10") + strays(), QStringList{"C10|Flo|S10|p'3|0"});

        // Nor one chosen in the edit dialog, which chooses the candidate's own again.
        db->exec("INSERT INTO Positions VALUES ('P5','Fifth')");
        pick(panel, "p'3", "C10", panel.cmdEditCand);
        frmEditCand &edit = Shell::Get<frmEditCand>();
        edit.cmbbxPosition->setCurrentIndex(entries(edit.lstPosID).indexOf("P5"));
        anotherStationBefore(*db, "BEGIN", "DELETE FROM Positions WHERE PosID = 'P5'");
        QCOMPARE(press(edit.cmdOK), critical("The position \"Fifth\" " + kGone, "Error!"));
        QCOMPARE(candidate("C10"), QStringList{"C10|Flo|S10|p'3|0"});
        QVERIFY(edit.isVisible() && edit.cmbbxPosition->currentIndex() == 0);
        QCOMPARE(entries(edit.lstPosID), QStringList{"p'3"});
        click(edit.cmdCancel);
        QCOMPARE(strays(), QStringList());

        // The same code in another case, added meanwhile at another station: one position, this one refused.
        click(panel.cmdAddPos);
        frmAddPos &pos = Shell::Get<frmAddPos>();
        type(pos.txtPosName, "Treasurer"), type(pos.txtPosID, "q1");
        anotherStationBefore(*db, "BEGIN", "INSERT INTO Positions VALUES ('Q1','Auditor')");
        QCOMPARE(press(pos.cmdOK), critical("Duplicate Position ID Found!", "Error!"));
        QCOMPARE(db->rows("SELECT PosID, PosName FROM Positions WHERE lower(PosID) = 'q1'"), QStringList{"Q1|Auditor"});
        QVERIFY(pos.isVisible());
    }

    void resultsAreRankedAndLinedUp()
    {
        if (db->onServer())
            QSKIP("two codes that differ only in letter case, and a tally held as text: only a file holds them");
        db->exec("INSERT INTO Positions VALUES ('P4','Long');"
                 "INSERT INTO CandInfo VALUES ('L1','" +
                 QString(50, 'N') +
                 "','S','P4'),('L2','Nine Char','S','P4'),('L3','Wide','S','P4'),('l3','Case','S','P4');"
                 "INSERT INTO CandVote VALUES ('L1',25),('L2',12),('L3',40000),('', 99),('L2x',1)");
        frmMainAdmin &panel = openPanel();
        frmCountVotes &results = Shell::Get<frmCountVotes>();
        const QList<QStringList> expected{
            {"P1", "President", "Bo" + QString(56, '-') + " 12", "Ann" + QString(62, '-') + " 5",
             "Cy" + QString(68, '-') + " 0"},
            {"p'3", "Empty"},
            {"P4", "Long", "Wide 40000", QString(50, 'N') + " 25", "Nine Char" + QString(49, '-') + " 12"}};
        for (const QStringList &shown : expected) {
            pick(panel, shown[0], {}, panel.cmdCount);
            QCOMPARE(results.lblTitle->text(), "Voting Results for " + shown[1]);
            QCOMPARE(entries(results.lstResults), shown.mid(2));
            click(results.cmdOK);
        }
        // A tally stored as text ends the program and shows no line.
        db->exec("DROP TABLE CandVote; CREATE TABLE CandVote (CandID TEXT, NumVotes);"
                 "INSERT INTO CandVote VALUES ('C1', 7), ('C2', 'abc'), ('C3', 10), ('c''4', 'x')");
        pick(panel, "P1", {}, panel.cmdCount);
        QCOMPARE(shownBoxes(), critical("Error 13: Type mismatch"));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
        QCOMPARE(results.lstResults->count(), 0);
    }
};

POLLARIS_TEST_MAIN(BallotSetupTest)
#include "tst_ballotsetup.moc"
