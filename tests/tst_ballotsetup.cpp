// Ballot set-up and results: the candidates and positions panel with its dialogs
// and the results screen, driven through the real screens against a real file.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAdminStart.h"
#include "screens/frmCountVotes.h"
#include "screens/frmEditCand.h"
#include "screens/frmMainAdmin.h"
#include "store/Connection.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <memory>

class BallotSetupTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    frmMainAdmin &openPanel()
    {
        click(Shell::Show<frmAdminStart>().cmdCandPos);
        return Shell::Get<frmMainAdmin>();
    }

    static int indexOf(QListWidget *codes, const QString &code)
    {
        for (int i = 0; i < codes->count(); ++i)
            if (codes->item(i)->text() == code)
                return i;
        return -1;
    }

    static QStringList entries(QListWidget *list)
    {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    }

    void choose(frmMainAdmin &panel, const QString &posId)
    {
        panel.cmbbxPosition->setCurrentIndex(indexOf(panel.lstPosID, posId));
    }

    void addElection()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President'),('P2','Vice'),('P3','Empty')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Ann','S1','P1'),('C2','Bo','S2','P1'),"
                                "('C3','Cy','S3','P1'),('C4','Di','S4','P2')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C1',5),('C2',12),('C3',0),('C4',7)"));
    }

    QStringList wholeFile() const
    {
        return db->rows(QStringLiteral("SELECT 'P', * FROM Positions")) +
               db->rows(QStringLiteral("SELECT 'I', * FROM CandInfo")) +
               db->rows(QStringLiteral("SELECT 'V', * FROM CandVote"));
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        QVERIFY(!Msg::hasUnusedAnswer());
        store::Connection::failWriteAfter(0);
        Shell::reset();
    }

    void thePanelBrowsesPositionsCandidatesAndDetails()
    {
        addElection();
        frmMainAdmin &panel = openPanel();
        QCOMPARE(panel.windowTitle(), QStringLiteral("Administrator's Panel - Candidates and Positions"));
        QVERIFY(panel.lstPosID->isVisibleTo(&panel));
        QVERIFY(!panel.lstCandID->isVisibleTo(&panel));
        QCOMPARE(entries(panel.lstPosID), (QStringList{"P1", "P2", "P3"}));
        QCOMPARE(panel.cmbbxPosition->currentIndex(), -1);

        choose(panel, QStringLiteral("P1"));
        QCOMPARE(panel.lstPosID->currentRow(), 0);
        QCOMPARE(entries(panel.lstCandidate), (QStringList{"Ann", "Bo", "Cy"}));
        panel.lstCandidate->setCurrentRow(1);
        QCOMPARE(panel.lblCandName->text(), QStringLiteral("Bo"));
        QCOMPARE(panel.lblCandStudID->text(), QStringLiteral("S2"));
        QCOMPARE(panel.lblCandPosition->text(), QStringLiteral("President"));
        QCOMPARE(panel.lstCandID->currentRow(), 1);

        // Another position empties the list and details.
        choose(panel, QStringLiteral("P3"));
        QCOMPARE(panel.lstCandidate->count(), 0);
        QVERIFY(panel.lblCandName->text().isEmpty());

        click(panel.cmdBack);
        QVERIFY(Shell::Get<frmAdminStart>().isVisible());
        QCOMPARE(Shell::Get<frmAdminStart>().lblCand->text(), QStringLiteral(" 4"));
    }

    void nothingChosenIsRefusedByEachButton()
    {
        frmMainAdmin &panel = openPanel();
        click(panel.cmdDelPos);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please choose a position!")});
        click(panel.cmdCount);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Choose a position!")});
        click(panel.cmdEditCand);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Select a Candidate!")});
        click(panel.cmdDelCand); // nothing happens
        QVERIFY(panel.isVisible());
    }

    void addingAPositionRefusesEmptyEntriesAndDuplicates()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('pr','President'),('o''k','Quote')"));
        frmMainAdmin &panel = openPanel();
        click(panel.cmdAddPos);
        frmAddPos &dialog = Shell::Get<frmAddPos>();
        QVERIFY(dialog.isVisible() && !panel.isVisible());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add New Position"));
        QCOMPARE(dialog.lbl3->text(), QStringLiteral("Please enter a 1-5 character code "));
        QCOMPARE(dialog.txtPosID->maxLength(), 5);
        QCOMPARE(dialog.txtPosName->maxLength(), 50);

        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a position name!")});
        type(dialog.txtPosName, QStringLiteral("President"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a position ID!")});
        for (const QString &taken : {QStringLiteral("PR"), QStringLiteral("O'K")}) {
            type(dialog.txtPosID, taken);
            click(dialog.cmdOK);
            QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate Position ID Found!")});
            QCOMPARE(dialog.txtPosID->text(), taken);
        }
        QCOMPARE(dialog.txtPosName->text(), QStringLiteral("President"));
        QCOMPARE(db->count(QStringLiteral("Positions")), 2);

        // A name already borne by another position, and a code of blanks, are fine.
        type(dialog.txtPosID, QStringLiteral("  "));
        click(dialog.cmdOK);
        QVERIFY(panel.isVisible() && !dialog.isVisible());
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM Positions")),
                 (QStringList{"pr|President", "o'k|Quote", "  |President"}));
        QCOMPARE(entries(panel.lstPosID), (QStringList{"pr", "o'k", "  "}));

        click(panel.cmdAddPos);
        QVERIFY(dialog.txtPosID->text().isEmpty() && dialog.txtPosName->text().isEmpty());
        type(dialog.txtPosName, QStringLiteral("Typed"));
        click(dialog.cmdCancel);
        QCOMPARE(db->count(QStringLiteral("Positions")), 3);
    }

    void addingACandidateWritesItsTallyAtOnce()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President'),('P2','Vice')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('c''1','Old','S0','P2')"));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('c''1',3)"));
        frmMainAdmin &panel = openPanel();
        click(panel.cmdNewCand);
        frmAddCandidate &dialog = Shell::Get<frmAddCandidate>();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Add New Candidate"));
        QCOMPARE(dialog.cmbbxPosition->count(), 2);
        QCOMPARE(dialog.cmbbxPosition->currentIndex(), -1);
        QCOMPARE(dialog.txtCandID->maxLength(), 8);
        QCOMPARE(dialog.txtStudentID->maxLength(), 20);

        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a name!")});
        type(dialog.txtName, QStringLiteral("Maria"));
        type(dialog.txtStudentID, QStringLiteral("2023-1"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a candidate ID!")});
        type(dialog.txtCandID, QStringLiteral("C'1"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please choose a position!")});
        dialog.cmbbxPosition->setCurrentIndex(0);
        QCOMPARE(dialog.lstPosID->currentRow(), 0);
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!", "Duplicate Candidate ID Found!")});
        QCOMPARE(db->count(QStringLiteral("CandInfo")), 1);
        QCOMPARE(db->count(QStringLiteral("CandVote")), 1);
        QCOMPARE(dialog.txtCandID->text(), QStringLiteral("C'1"));
        QCOMPARE(dialog.txtName->text(), QStringLiteral("Maria"));
        QCOMPARE(dialog.txtStudentID->text(), QStringLiteral("2023-1"));
        QCOMPARE(dialog.cmbbxPosition->currentIndex(), 0);

        type(dialog.txtCandID, QStringLiteral("C2"));
        click(dialog.cmdOK);
        QVERIFY(panel.isVisible() && !dialog.isVisible());
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandInfo WHERE CandID = 'C2'")), QStringList{"C2|Maria|2023-1|P1"});
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandVote WHERE CandID = 'C2'")), QStringList{"C2|0"});
    }

    void aFailureBetweenCandidateAndTallyLeavesNeither()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President')"));
        frmMainAdmin &panel = openPanel();
        click(panel.cmdNewCand);
        frmAddCandidate &dialog = Shell::Get<frmAddCandidate>();
        type(dialog.txtName, QStringLiteral("Maria"));
        type(dialog.txtStudentID, QStringLiteral("1"));
        type(dialog.txtCandID, QStringLiteral("C1"));
        dialog.cmbbxPosition->setCurrentIndex(0);
        store::Connection::failWriteAfter(2); // the tally's write
        click(dialog.cmdOK);
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first().startsWith(QStringLiteral("Critical|Pollaris|Error 3999:")));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
        QCOMPARE(db->count(QStringLiteral("CandInfo")), 0);
        QCOMPARE(db->count(QStringLiteral("CandVote")), 0);
    }

    void deletingRemovesExactlyWhatBelongsTogether()
    {
        addElection();
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P1"));
        click(panel.cmdDelPos);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Question, "Warning!",
                                               "Warning! Deleting a position will also delete all candidate records "
                                               "running for this position. Proceed with deletion?")});
        QCOMPARE(db->count(QStringLiteral("Positions")), 3); // No changes nothing

        choose(panel, QStringLiteral("P2"));
        panel.lstCandidate->setCurrentRow(0);
        click(panel.cmdDelCand);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Question, "Delete Candidate?", "Are you sure?")});
        QCOMPARE(db->count(QStringLiteral("CandInfo")), 4);

        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelCand);
        shownBoxes();
        QCOMPARE(db->count(QStringLiteral("CandInfo WHERE CandID = 'C4'")), 0);
        QCOMPARE(db->count(QStringLiteral("CandVote WHERE CandID = 'C4'")), 0);
        QCOMPARE(panel.cmbbxPosition->currentIndex(), -1);

        choose(panel, QStringLiteral("P1"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
        shownBoxes();
        QCOMPARE(wholeFile(), (QStringList{"P|P2|Vice", "P|P3|Empty"}));
        QCOMPARE(entries(panel.lstPosID), (QStringList{"P2", "P3"}));
        QCOMPARE(panel.cmbbxPosition->currentIndex(), -1);

        // A position without candidates goes alone.
        choose(panel, QStringLiteral("P3"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
        shownBoxes();
        QCOMPARE(wholeFile(), QStringList{"P|P2|Vice"});
    }

    void aCascadeTakesTheFirstRowEachCodeNamesUnderTheTextEquality()
    {
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P1','President'),('P2','Vice')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('C1','Ann','S1','P1'),('Ä2','Bo','S2','P1'),"
                                "('C9','Other','S9','P2')"));
        // Tallies written by other means: one in other letter cases, one twice.
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('C9',4),('c1',5),('ä2',7),('C1',8),(NULL,1)"));
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P1"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
        shownBoxes();
        QCOMPARE(wholeFile(), (QStringList{"P|P2|Vice", "I|C9|Other|S9|P2", "V|C9|4", "V|C1|8", "V|NULL|1"}));
    }

    void aFailureInTheMiddleOfACascadeLeavesTheFileAsItWas()
    {
        addElection();
        const QStringList before = wholeFile();
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P1"));
        store::Connection::failWriteAfter(4); // after two candidates and one tally
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(panel.cmdDelPos);
        const QStringList boxes = shownBoxes();
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes.at(1).startsWith(QStringLiteral("Critical|Pollaris|Error 3999:")));
        QVERIFY(Shell::endedWith().value_or(0) != 0);
        QCOMPARE(wholeFile(), before);
        // A candidate without a tally is a failure too, and deletes nothing.
        Shell::reset();
        startProgramIn(db->folder());
        db->exec(QStringLiteral("DELETE FROM CandVote WHERE CandID = 'C2'"));
        const QStringList broken = wholeFile();
        frmMainAdmin &again = openPanel();
        choose(again, QStringLiteral("P1"));
        Msg::setNextAnswer(Msg::Answer::Yes);
        click(again.cmdDelPos);
        QCOMPARE(shownBoxes().size(), 2);
        QCOMPARE(wholeFile(), broken);
    }

    void editingMovesACandidateAndItsVotes()
    {
        addElection();
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P1"));
        panel.lstCandidate->setCurrentRow(1);
        click(panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        QVERIFY(dialog.isVisible() && !panel.isVisible());
        QCOMPARE(dialog.txtName->text(), QStringLiteral("Bo"));
        QCOMPARE(dialog.txtStudentID->text(), QStringLiteral("S2"));
        QCOMPARE(dialog.lblCandidateID->text(), QStringLiteral("C2"));
        QCOMPARE(dialog.cmbbxPosition->currentIndex(), 0);
        QCOMPARE(dialog.lstPosID->currentRow(), 0);

        dialog.txtName->clear();
        dialog.txtStudentID->clear();
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a name!")});
        type(dialog.txtName, QStringLiteral("Bo Renamed"));
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please enter a student ID!")});
        type(dialog.txtStudentID, QStringLiteral("S2"));
        dialog.cmbbxPosition->setCurrentIndex(1);
        click(dialog.cmdOK);
        QVERIFY(panel.isVisible());
        QCOMPARE(db->rows(QStringLiteral("SELECT * FROM CandInfo WHERE CandID = 'C2'")), QStringList{"C2|Bo Renamed|S2|P2"});
        QCOMPARE(db->value(QStringLiteral("SELECT NumVotes FROM CandVote WHERE CandID = 'C2'")).toLongLong(), 12);

        // The panel hands over the position chosen there, even when the row was
        // moved by other means after it was listed.
        choose(panel, QStringLiteral("P2"));
        panel.lstCandidate->setCurrentRow(indexOf(panel.lstCandID, QStringLiteral("C4")));
        db->exec(QStringLiteral("UPDATE CandInfo SET PosID = 'P3' WHERE CandID = 'C4'"));
        click(panel.cmdEditCand);
        QCOMPARE(dialog.cmbbxPosition->currentIndex(), indexOf(dialog.lstPosID, QStringLiteral("P2")));
        QCOMPARE(dialog.lstPosID->currentRow(), dialog.cmbbxPosition->currentIndex());

        // A position code matching no position (compared exactly) leaves none chosen,
        // and OK is refused until one is chosen.
        dialog.ShowCandDetails(QStringLiteral("Di"), QStringLiteral("S4"), QStringLiteral("p2"), QStringLiteral("C4"));
        QCOMPARE(dialog.cmbbxPosition->currentIndex(), -1);
        const QStringList before = wholeFile();
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Pollaris", "Please select a position.")});
        QCOMPARE(wholeFile(), before);
        QCOMPARE(dialog.txtName->text(), QStringLiteral("Di"));

        // Cancel writes nothing, and the next opening shows the stored values again.
        type(dialog.txtName, QStringLiteral("Changed"));
        click(dialog.cmdCancel);
        QCOMPARE(wholeFile(), before);
        db->exec(QStringLiteral("UPDATE CandInfo SET PosID = 'P2' WHERE CandID = 'C4'"));
        choose(panel, QStringLiteral("P2"));
        panel.lstCandidate->setCurrentRow(indexOf(panel.lstCandID, QStringLiteral("C4")));
        click(panel.cmdEditCand);
        QCOMPARE(dialog.txtName->text(), QStringLiteral("Di"));
        click(dialog.cmdCancel);
    }

    void anUnchangedEditKeepsLongStoredValuesWhole()
    {
        addElection();
        const QString name = QString(60, QLatin1Char('n'));
        const QString studentNum = QString(25, QLatin1Char('s'));
        db->exec(QStringLiteral("UPDATE CandInfo SET CandName = '%1', StudentNum = '%2' WHERE CandID = 'C4'")
                     .arg(name, studentNum));
        const QStringList before = wholeFile();
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P2"));
        panel.lstCandidate->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        QCOMPARE(dialog.txtName->text(), name);
        QCOMPARE(dialog.txtStudentID->text(), studentNum);
        click(dialog.cmdOK);
        QVERIFY(panel.isVisible());
        QCOMPARE(wholeFile(), before);
    }

    void editingACandidateRemovedMeanwhileWritesNothing()
    {
        addElection();
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P2"));
        panel.lstCandidate->setCurrentRow(0);
        click(panel.cmdEditCand);
        frmEditCand &dialog = Shell::Get<frmEditCand>();
        db->exec(QStringLiteral("DELETE FROM CandInfo WHERE CandID = 'C4'"));
        const QStringList before = wholeFile();
        click(dialog.cmdOK);
        QCOMPARE(shownBoxes(), QStringList{box(Msg::Icon::Critical, "Error!",
                                               "The candidate \"C4\" is no longer in the election file. Nothing was saved.")});
        QCOMPARE(wholeFile(), before);
        QVERIFY(panel.isVisible());
        QCOMPARE(Shell::endedWith(), std::nullopt);
    }

    void resultsAreRankedAndLinedUp()
    {
        addElection();
        db->exec(QStringLiteral("INSERT INTO Positions VALUES ('P4','Long')"));
        db->exec(QStringLiteral("INSERT INTO CandInfo VALUES ('L1','%1','S','P4'),('L2','Nine Char','S','P4'),"
                                "('L3','Wide','S','P4'),('l3','Case','S','P4')")
                     .arg(QString(50, QLatin1Char('N'))));
        db->exec(QStringLiteral("INSERT INTO CandVote VALUES ('L1',25),('L2',12),('L3',40000),('', 99),('L2x',1)"));
        frmMainAdmin &panel = openPanel();
        choose(panel, QStringLiteral("P1"));
        click(panel.cmdCount);
        frmCountVotes &results = Shell::Get<frmCountVotes>();
        QVERIFY(results.isVisible() && !panel.isVisible());
        QCOMPARE(results.windowTitle(), QStringLiteral("Voting Results"));
        QCOMPARE(results.lblTitle->text(), QStringLiteral("Voting Results for President"));
        QCOMPARE(entries(results.lstResults),
                 (QStringList{QStringLiteral("Bo") + QString(56, '-') + " 12", QStringLiteral("Ann") + QString(62, '-') + " 5",
                              QStringLiteral("Cy") + QString(68, '-') + " 0"}));

        // OK returns to the reloaded panel; then another position shows only its own.
        click(results.cmdOK);
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.cmbbxPosition->currentIndex(), -1);
        choose(panel, QStringLiteral("P4"));
        click(panel.cmdCount);
        QCOMPARE(results.lblTitle->text(), QStringLiteral("Voting Results for Long"));
        const QStringList lines = entries(results.lstResults);
        QCOMPARE(lines.size(), 3); // 'l3' has no tally row of its own
        QCOMPARE(lines.at(0), QStringLiteral("Wide 40000"));
        QCOMPARE(lines.at(1), QString(50, QLatin1Char('N')) + QStringLiteral(" 25"));
        QCOMPARE(lines.at(2), QStringLiteral("Nine Char") + QString(49, '-') + " 12");
        QCOMPARE(lines.at(2).size(), 61);

        // A position without candidates shows its title over an empty list.
        click(results.cmdOK);
        choose(panel, QStringLiteral("P3"));
        click(panel.cmdCount);
        QCOMPARE(results.lblTitle->text(), QStringLiteral("Voting Results for Empty"));
        QCOMPARE(results.lstResults->count(), 0);
    }

    void resultLinesFollowTheirRule()
    {
        QCOMPARE(frmCountVotes::ResultLine(QStringLiteral("Nine Char"), 0), QStringLiteral("Nine Char") + QString(61, '-') + " 0");
        QCOMPARE(frmCountVotes::ResultLine(QString(20, 'x'), 60), QString(20, 'x') + " 60");
        QCOMPARE(frmCountVotes::ResultLine(QStringLiteral("a"), 2147483647), QStringLiteral("a 2147483647"));
        QCOMPARE(frmCountVotes::ResultLine(QStringLiteral("neg"), -3), QStringLiteral("neg") + QString(70, '-') + "-3");
    }
};

POLLARIS_TEST_MAIN(BallotSetupTest)
#include "tst_ballotsetup.moc"
