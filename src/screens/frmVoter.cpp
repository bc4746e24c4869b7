#include "frmVoter.h"

#include "frmMain.h"
#include "shell/Accessibility.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "shell/ParallelList.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <limits>

frmVoter::frmVoter() : Screen(QStringLiteral("Pollaris"), 8820, 7335)
{
    lblDesignPanel1 = Look::band(this, QStringLiteral("lblDesignPanel1"));
    Look::place(lblDesignPanel1, 0, 0, 8820, 615);
    lblWelcome = Look::label(this, QStringLiteral("lblWelcome"), QString(), Look::boldArial());
    // Light text, so that the greeting reads on the dark band.
    QPalette welcome = lblWelcome->palette();
    welcome.setColor(QPalette::WindowText, Qt::white);
    lblWelcome->setPalette(welcome);
    Look::place(lblWelcome, 240, 165, 8340, 330);

    lblPosition = Look::label(this, QStringLiteral("lblPosition"), QStringLiteral("Position"), Look::boldArial());
    Look::place(lblPosition, 240, 840, 3000, 285);
    cmbbxPosition = Look::choice(this, QStringLiteral("cmbbxPosition"));
    Look::place(cmbbxPosition, 240, 1155, 4200, 345);

    lblListofCand =
        Look::label(this, QStringLiteral("lblListofCand"), QStringLiteral("List of Candidates"), Look::boldArial());
    Look::place(lblListofCand, 4920, 840, 3000, 285);
    lstCandidate = Look::list(this, QStringLiteral("lstCandidate"));
    Look::place(lstCandidate, 4920, 1155, 3660, 4380);

    lblDesignPanel3 = Look::band(this, QStringLiteral("lblDesignPanel3"));
    Look::place(lblDesignPanel3, 0, 1800, 4680, 180);

    lblCanDetails =
        Look::label(this, QStringLiteral("lblCanDetails"), QStringLiteral("Candidate Details"), Look::boldArial());
    Look::place(lblCanDetails, 240, 2160, 3000, 285);

    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::arial(9.0));
    Look::place(lblName, 240, 2640, 3000, 255);
    lblCandName = Look::valueLabel(this, QStringLiteral("lblCandName"));
    Look::place(lblCandName, 240, 2910, 4200, 345);

    lblStudentID = Look::label(this, QStringLiteral("lblStudentID"), QStringLiteral("Student ID"), Look::arial(9.0));
    Look::place(lblStudentID, 240, 3480, 3000, 255);
    lblCandStudID = Look::valueLabel(this, QStringLiteral("lblCandStudID"));
    Look::place(lblCandStudID, 240, 3750, 4200, 345);

    lblCPosition =
        Look::label(this, QStringLiteral("lblCPosition"), QStringLiteral("Position Running for:"), Look::arial(9.0));
    Look::place(lblCPosition, 240, 4320, 3000, 255);
    lblCandPosition = Look::valueLabel(this, QStringLiteral("lblCandPosition"));
    Look::place(lblCandPosition, 240, 4590, 4200, 345);

    lblDesignPanel2 = Look::band(this, QStringLiteral("lblDesignPanel2"));
    Look::place(lblDesignPanel2, 0, 5760, 8820, 1575);
    cmdVote = Look::button(this, QStringLiteral("cmdVote"), QStringLiteral("Vote"));
    Look::place(cmdVote, 6960, 5925, 1620, 495);
    cmdDone = Look::button(this, QStringLiteral("cmdDone"), QStringLiteral("Done"));
    Look::place(cmdDone, 6960, 6585, 1620, 495);

    lstPosID = Look::codeList(this, QStringLiteral("lstPosID"));
    lstCandID = Look::codeList(this, QStringLiteral("lstCandID"));

    Look::caption(lblPosition, cmbbxPosition);
    Look::caption(lblListofCand, lstCandidate);
    Look::caption(lblName, lblCandName);
    Look::caption(lblStudentID, lblCandStudID);
    Look::caption(lblCPosition, lblCandPosition);

    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCandInfo = new store::RecordCursor(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), this);
    dcCandInfo2 = new store::RecordCursor(QStringLiteral("dcCandInfo2"), QStringLiteral("CandInfo"), this);
    dcPos2 = new store::RecordCursor(QStringLiteral("dcPos2"), QStringLiteral("Positions"), this);
    dcCandVote = new store::RecordCursor(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), this);

    QWidget::setTabOrder(cmdDone, cmdVote);
    QWidget::setTabOrder(cmdVote, lstCandidate);
    QWidget::setTabOrder(lstCandidate, cmbbxPosition);
    cmdDone->setFocus();

    Shell::Connect(cmbbxPosition, &QComboBox::currentIndexChanged, this, &frmVoter::cmbbxPosition_Click);
    Shell::Connect(lstCandidate, &QListWidget::currentRowChanged, this, &frmVoter::lstCandidate_Click);
    Shell::Connect(cmdVote, &QPushButton::clicked, this, &frmVoter::cmdVote_Click);
    Shell::Connect(cmdDone, &QPushButton::clicked, this, &frmVoter::cmdDone_Click);
}

void frmVoter::Form_Load()
{
    const QString path = DatabasePath();
    dcPos->setDatabaseName(path);
    dcPos2->setDatabaseName(path);
    dcCandInfo->setDatabaseName(path);
    dcCandInfo2->setDatabaseName(path);
    dcCandVote->setDatabaseName(path);
    MainVoterDataLoad(0);
}

void frmVoter::MainVoterDataLoad(int)
{
    cmbbxPosition->clear();
    lstPosID->clear();
    lstCandidate->clear();
    lstCandID->clear();
    lblCandName->setText(QString());
    lblCandStudID->setText(QString());
    lblCandPosition->setText(QString());

    dcPos->setRecordSource(QStringLiteral("Select * from Positions"));
    dcPos->Refresh();
    if (dcPos->BOF())
        return;
    ParallelList::FillParallel(dcPos, QStringLiteral("PosName"), cmbbxPosition, QStringLiteral("PosID"), lstPosID);
}

void frmVoter::cmbbxPosition_Click(int index)
{
    if (index == -1)
        return;
    lstPosID->setCurrentRow(index);
    const QString posId = lstPosID->item(index)->text();

    lstCandidate->clear();
    lstCandID->clear();
    lblCandName->setText(QString());
    lblCandStudID->setText(QString());
    lblCandPosition->setText(QString());

    dcCandInfo->setRecordSource(QStringLiteral("Select * from CandInfo where PosID ='") + posId + QStringLiteral("'"));
    dcCandInfo->Refresh();
    if (dcCandInfo->BOF())
        return;
    ParallelList::FillParallel(dcCandInfo, QStringLiteral("CandName"), lstCandidate, QStringLiteral("CandID"),
                               lstCandID);
}

void frmVoter::lstCandidate_Click(int row)
{
    if (row == -1)
        return;
    const QString candId = lstCandID->item(row)->text();

    dcCandInfo2->setRecordSource(QStringLiteral("Select * from CandInfo where CandID ='") + candId +
                                 QStringLiteral("'"));
    dcCandInfo2->Refresh();
    // Deleted at another station since the list was read: the list is read again.
    if (dcCandInfo2->EOF_()) {
        Msg::Refusal(QStringLiteral(
            "This candidate has just been taken off the ballot at another station. Please choose again."));
        cmbbxPosition_Click(cmbbxPosition->currentIndex());
        return;
    }
    lblCandName->setText(dcCandInfo2->FieldText(QStringLiteral("CandName")));
    lblCandStudID->setText(dcCandInfo2->FieldText(QStringLiteral("StudentNum")));
    const QString posId = dcCandInfo2->FieldText(QStringLiteral("PosID"));

    dcPos2->setRecordSource(QStringLiteral("Select * from Positions where PosID ='") + posId + QStringLiteral("'"));
    dcPos2->Refresh();
    lblCandPosition->setText(dcPos2->FieldText(QStringLiteral("PosName")));

    for (int i = 0; i < lstCandID->count(); ++i) {
        if (lstCandID->item(i)->text() == candId)
            lstCandID->setCurrentRow(i);
    }
}

void frmVoter::cmdVote_Click()
{
    if (lstCandID->currentRow() == -1) {
        Msg::Refusal(QStringLiteral("Select a Candidate!"));
        return;
    }
    const QString candId = lstCandID->currentItem()->text();

    bool full = false, gone = false;
    {
        // Reading and writing the tally are one unit: a second copy of the program
        // voting at the same moment waits instead of overwriting this vote.
        store::Transaction tx(dcCandVote->connection());
        dcCandVote->setRecordSource(QStringLiteral("Select * From CandVote where CandID ='") + candId +
                                    QStringLiteral("'"));
        dcCandVote->Refresh();
        // The candidate may have been deleted at another station since the list was read.
        gone = dcCandVote->EOF_() && CandidateGone(candId);
        if (!gone) {
            const QVariant tally = dcCandVote->Field(QStringLiteral("Numvotes"));
            if (tally.isNull())
                throw store::StoreError(store::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
            // Only a whole number is a count: a text, even of digits, or a fraction
            // written by other means would be turned into a tally nobody cast.
            if (tally.typeId() != QMetaType::LongLong)
                throw store::StoreError(store::TypeMismatch, QStringLiteral("Type mismatch"));
            const qint64 v = tally.toLongLong();
            // A full tally must stay as it is rather than wrap round.
            full = v >= std::numeric_limits<qint32>::max();
            if (!full) {
                dcCandVote->Edit();
                dcCandVote->SetField(QStringLiteral("Numvotes"), qint32(v + 1));
                dcCandVote->Update();
                tx.Commit();
            }
        }
    }
    if (gone) {
        Msg::Refusal(QStringLiteral("This candidate has just been taken off the ballot at another station; your vote "
                                    "for this candidate was not added. Please choose again."));
        cmbbxPosition_Click(cmbbxPosition->currentIndex());
        return;
    }
    if (full) {
        Msg::Refusal(QStringLiteral("This candidate's tally has reached the largest number it can "
                                    "hold (2147483647 votes); your vote for this candidate cannot "
                                    "be added."));
        return;
    }

    const QString votedFor = lstCandidate->currentItem()->text();
    lstCandidate->clear();
    lstCandID->clear();

    const int chosen = cmbbxPosition->currentIndex();
    const QString votedAs = cmbbxPosition->itemText(chosen);
    {
        // Removing the chosen entry would choose a neighbour by itself.
        const QSignalBlocker blocker(cmbbxPosition);
        cmbbxPosition->removeItem(chosen);
    }
    cmbbxPosition->setCurrentIndex(-1);

    delete lstPosID->takeItem(lstPosID->currentRow());
    lstPosID->setCurrentRow(-1);

    lblCandName->setText(QString());
    lblCandStudID->setText(QString());
    lblCandPosition->setText(QString());

    // A voter who cannot see the screen hears what was done and what is left.
    QStringList left;
    for (int i = 0; i < cmbbxPosition->count(); ++i)
        left << cmbbxPosition->itemText(i);
    Accessibility::Announce(QStringLiteral("Your vote for %1 as %2 was added. ").arg(votedFor, votedAs) +
                            (left.isEmpty()
                                 ? QStringLiteral("You have voted in every position: press Done.")
                                 : QStringLiteral("Still to vote on: %1.").arg(left.join(QStringLiteral(", ")))));
}

// True when the candidate itself is no longer in the election (deleted at
// another station since the list was read), not merely its tally.
bool frmVoter::CandidateGone(const QString &candId)
{
    dcCandInfo2->setRecordSource(QStringLiteral("Select * from CandInfo where CandID ='") + candId +
                                 QStringLiteral("'"));
    dcCandInfo2->Refresh();
    return dcCandInfo2->EOF_();
}

void frmVoter::cmdDone_Click()
{
    Msg::Notice(QStringLiteral("Thank you for voting!"), QStringLiteral("Your vote has been added"));
    Hide();
    Shell::Show<frmMain>();
}

void frmVoter::Form_GotFocus() { MainVoterDataLoad(0); }

void frmVoter::focusInEvent(QFocusEvent *event)
{
    Screen::focusInEvent(event);
    // Only the window itself taking the focus counts; it never does while any of
    // its controls can take it, so activating the window does not reload it.
    Shell::Handle([this] { Form_GotFocus(); });
}
