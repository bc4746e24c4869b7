#include "frmMainAdmin.h"

#include "frmAddCandidate.h"
#include "frmAddPos.h"
#include "frmAdminStart.h"
#include "frmCountVotes.h"
#include "frmEditCand.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "shell/ParallelList.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QHash>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

frmMainAdmin::frmMainAdmin() : Screen(QStringLiteral("Administrator's Panel - Candidates and Positions"), 8880, 7245)
{
    // Bands first, so that they lie behind the buttons they hold.
    lblDesignPanel1 = Look::band(this, QStringLiteral("lblDesignPanel1"));
    Look::place(lblDesignPanel1, 0, 0, 8880, 615);
    lblDesignPanel3 = Look::band(this, QStringLiteral("lblDesignPanel3"));
    Look::place(lblDesignPanel3, 0, 1740, 4680, 660);
    lblDesignPanel2 = Look::band(this, QStringLiteral("lblDesignPanel2"));
    Look::place(lblDesignPanel2, 0, 5760, 8880, 1485);

    lblPosition = Look::label(this, QStringLiteral("lblPosition"), QStringLiteral("Position"), Look::boldArial());
    Look::place(lblPosition, 240, 840, 1500, 285);
    cmbbxPosition = Look::choice(this, QStringLiteral("cmbbxPosition"));
    Look::place(cmbbxPosition, 240, 1155, 3000, 345);

    // The codes are shown here, but follow the position choice only: a click
    // in this list selects nothing, so Count Votes always opens the chosen position.
    lstPosID = Look::list(this, QStringLiteral("lstPosID"));
    Look::place(lstPosID, 3420, 780, 1260, 900);
    lstPosID->setFocusPolicy(Qt::NoFocus);
    lstPosID->setAttribute(Qt::WA_TransparentForMouseEvents);

    lblListofCand =
        Look::label(this, QStringLiteral("lblListofCand"), QStringLiteral("List of Candidates"), Look::boldArial());
    Look::place(lblListofCand, 4920, 840, 3000, 285);
    lstCandidate = Look::list(this, QStringLiteral("lstCandidate"));
    Look::place(lstCandidate, 4920, 1155, 3720, 4380);
    lstCandID = Look::codeList(this, QStringLiteral("lstCandID"));

    cmdAddPos = Look::button(this, QStringLiteral("cmdAddPos"), QStringLiteral("Add Position"));
    Look::place(cmdAddPos, 240, 1845, 1935, 450);
    cmdDelPos = Look::button(this, QStringLiteral("cmdDelPos"), QStringLiteral("Delete Position"));
    Look::place(cmdDelPos, 2505, 1845, 1935, 450);

    lblCanDetails =
        Look::label(this, QStringLiteral("lblCanDetails"), QStringLiteral("Candidate Details"), Look::boldArial());
    Look::place(lblCanDetails, 240, 2580, 3000, 285);
    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::arial(9.0));
    Look::place(lblName, 240, 3000, 3000, 255);
    lblCandName = Look::valueLabel(this, QStringLiteral("lblCandName"));
    Look::place(lblCandName, 240, 3270, 4200, 345);
    lblStudentID = Look::label(this, QStringLiteral("lblStudentID"), QStringLiteral("Student ID"), Look::arial(9.0));
    Look::place(lblStudentID, 240, 3780, 3000, 255);
    lblCandStudID = Look::valueLabel(this, QStringLiteral("lblCandStudID"));
    Look::place(lblCandStudID, 240, 4050, 4200, 345);
    lblCPosition =
        Look::label(this, QStringLiteral("lblCPosition"), QStringLiteral("Position Running for:"), Look::arial(9.0));
    Look::place(lblCPosition, 240, 4560, 3000, 255);
    lblCandPosition = Look::valueLabel(this, QStringLiteral("lblCandPosition"));
    Look::place(lblCandPosition, 240, 4830, 4200, 345);

    cmdNewCand = Look::button(this, QStringLiteral("cmdNewCand"), QStringLiteral("Add Candidate"));
    Look::place(cmdNewCand, 240, 5925, 2000, 495);
    cmdDelCand = Look::button(this, QStringLiteral("cmdDelCand"), QStringLiteral("Delete Candidate"));
    Look::place(cmdDelCand, 2400, 5925, 2000, 495);
    cmdCount = Look::button(this, QStringLiteral("cmdCount"), QStringLiteral("Count Votes"));
    Look::place(cmdCount, 6640, 5925, 2000, 495);
    cmdEditCand = Look::button(this, QStringLiteral("cmdEditCand"), QStringLiteral("Edit Candidate Details"));
    Look::place(cmdEditCand, 240, 6585, 4160, 495);
    cmdBack = Look::button(this, QStringLiteral("cmdBack"), QStringLiteral("Back to Main"));
    Look::place(cmdBack, 6640, 6585, 2000, 495);

    Look::caption(lblPosition, cmbbxPosition);
    Look::caption(lblListofCand, lstCandidate);
    lstPosID->setAccessibleName(QStringLiteral("Position ID"));
    Look::caption(lblName, lblCandName);
    Look::caption(lblStudentID, lblCandStudID);
    Look::caption(lblCPosition, lblCandPosition);

    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCandInfo = new store::RecordCursor(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), this);
    dcCandInfo2 = new store::RecordCursor(QStringLiteral("dcCandInfo2"), QStringLiteral("CandInfo"), this);
    dcPos2 = new store::RecordCursor(QStringLiteral("dcPos2"), QStringLiteral("Positions"), this);
    dcCandVote = new store::RecordCursor(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), this);

    QWidget::setTabOrder(cmbbxPosition, lstCandidate);
    QWidget::setTabOrder(lstCandidate, cmdNewCand);
    QWidget::setTabOrder(cmdNewCand, cmdEditCand);
    QWidget::setTabOrder(cmdEditCand, cmdCount);
    QWidget::setTabOrder(cmdCount, cmdBack);
    QWidget::setTabOrder(cmdBack, cmdDelCand);
    QWidget::setTabOrder(cmdDelCand, cmdAddPos);
    QWidget::setTabOrder(cmdAddPos, cmdDelPos);
    cmbbxPosition->setFocus();

    Shell::Connect(cmbbxPosition, &QComboBox::currentIndexChanged, this, &frmMainAdmin::cmbbxPosition_Click);
    Shell::Connect(lstCandidate, &QListWidget::currentRowChanged, this, &frmMainAdmin::lstCandidate_Click);
    Shell::Connect(cmdAddPos, &QPushButton::clicked, this, &frmMainAdmin::cmdAddPos_Click);
    Shell::Connect(cmdDelPos, &QPushButton::clicked, this, &frmMainAdmin::cmdDelPos_Click);
    Shell::Connect(cmdNewCand, &QPushButton::clicked, this, &frmMainAdmin::cmdNewCand_Click);
    Shell::Connect(cmdDelCand, &QPushButton::clicked, this, &frmMainAdmin::cmdDelCand_Click);
    Shell::Connect(cmdEditCand, &QPushButton::clicked, this, &frmMainAdmin::cmdEditCand_Click);
    Shell::Connect(cmdCount, &QPushButton::clicked, this, &frmMainAdmin::cmdCount_Click);
    Shell::Connect(cmdBack, &QPushButton::clicked, this, &frmMainAdmin::cmdBack_Click);
}

void frmMainAdmin::Form_Load()
{
    const QString path = DatabasePath();
    dcPos->setDatabaseName(path);
    dcPos2->setDatabaseName(path);
    dcCandInfo->setDatabaseName(path);
    dcCandInfo2->setDatabaseName(path);
    dcCandVote->setDatabaseName(path);
    MainAdminDataLoad(0);
}

void frmMainAdmin::MainAdminDataLoad(int)
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

void frmMainAdmin::cmbbxPosition_Click(int index)
{
    if (index == -1)
        return;
    lstCandidate->clear();
    lstCandID->clear();
    lblCandName->setText(QString());
    lblCandStudID->setText(QString());
    lblCandPosition->setText(QString());

    lstPosID->setCurrentRow(index);
    const QString posId = lstPosID->item(index)->text();

    dcCandInfo->setRecordSource(QStringLiteral("Select * from CandInfo where PosID ='") + posId + QStringLiteral("'"));
    dcCandInfo->Refresh();
    if (dcCandInfo->BOF())
        return;
    ParallelList::FillParallel(dcCandInfo, QStringLiteral("CandName"), lstCandidate, QStringLiteral("CandID"),
                               lstCandID);
}

void frmMainAdmin::lstCandidate_Click(int row)
{
    if (row == -1)
        return;
    const QString candId = lstCandID->item(row)->text();

    dcCandInfo2->setRecordSource(QStringLiteral("Select * from CandInfo where CandID ='") + candId +
                                 QStringLiteral("'"));
    dcCandInfo2->Refresh();
    // Deleted at another station since the list was read: the list is read again.
    if (dcCandInfo2->EOF_()) {
        Msg::Refusal(QStringLiteral("This candidate has just been deleted at another station."));
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

void frmMainAdmin::cmdAddPos_Click()
{
    frmAddPos &dialog = Shell::Show<frmAddPos>();
    dialog.txtPosID->setText(QString());
    dialog.txtPosName->setText(QString());
    Hide();
}

// The remove pattern: the first row the query returns is deleted.
void frmMainAdmin::RemoveRow(store::RecordCursor *cursor, const QString &query, const QString &code)
{
    cursor->setRecordSource(query + code + QStringLiteral("'"));
    cursor->Refresh();
    // Deleted at another station meanwhile: there is nothing left to delete.
    if (cursor->EOF_())
        return;
    cursor->Edit();
    cursor->Delete();
}

// For each code, the first row of the table whose CandID equals it, as the remove
// pattern's query by that code would find it. A code with no row is the same
// failure as in the remove pattern. The table is read once for all the codes: a
// query per code would read it once per candidate of the position.
void frmMainAdmin::RemoveFirstRows(store::RecordCursor *cursor, const QString &table, const QStringList &codes)
{
    QHash<QString, int> due;
    for (const QString &code : codes)
        ++due[store::TextKey(code)];
    qsizetype left = codes.size();
    cursor->setRecordSource(table);
    cursor->Refresh();
    while (left > 0 && !cursor->EOF_()) {
        const QVariant code = cursor->Field(QStringLiteral("CandID"));
        auto it = code.isNull() ? due.end() : due.find(store::TextKey(code.toString()));
        if (it != due.end() && it.value() > 0) {
            --it.value();
            --left;
            cursor->Edit();
            cursor->Delete();
        }
        cursor->MoveNext();
    }
    if (left > 0)
        throw store::StoreError(store::NoCurrentRow,
                                QStringLiteral("No current record (%1)").arg(cursor->objectName()));
}

void frmMainAdmin::cmdDelPos_Click()
{
    if (cmbbxPosition->currentIndex() == -1) {
        Msg::Refusal(QStringLiteral("Please choose a position!"));
        return;
    }
    if (!Msg::Confirmation(QStringLiteral("Warning! Deleting a position will also delete all candidate records "
                                          "running for this position. Proceed with deletion?"),
                           QStringLiteral("Warning!")))
        return;

    const QString posId = lstPosID->item(cmbbxPosition->currentIndex())->text();
    {
        // The whole cascade is one unit: a failure part-way leaves the position,
        // its candidates and their tallies all as they were. The candidates are
        // read inside it, not taken from the list: one added at another station
        // since the list was read goes too, rather than being left on no position,
        // and one deleted or moved meanwhile is not looked for.
        store::Transaction tx(dcCandInfo->connection());
        QStringList codes;
        dcCandInfo->setRecordSource(QStringLiteral("Select * from CandInfo where PosID ='") + posId +
                                    QStringLiteral("'"));
        dcCandInfo->Refresh();
        while (!dcCandInfo->EOF_()) {
            codes << dcCandInfo->FieldText(QStringLiteral("CandID"));
            dcCandInfo->Edit();
            dcCandInfo->Delete();
            dcCandInfo->MoveNext();
        }
        RemoveFirstRows(dcCandVote, QStringLiteral("CandVote"), codes);
        RemoveRow(dcPos, QStringLiteral("Select * from Positions where PosID ='"), posId);
        tx.Commit();
    }
    MainAdminDataLoad(0);
}

void frmMainAdmin::cmdNewCand_Click()
{
    frmAddCandidate &dialog = Shell::Show<frmAddCandidate>();
    dialog.txtCandID->setText(QString());
    dialog.txtName->setText(QString());
    dialog.txtStudentID->setText(QString());
    dialog.cmbbxPosition->clear();
    dialog.lstPosID->clear();
    Hide();
    dialog.PositionDataLoad();
}

void frmMainAdmin::cmdDelCand_Click()
{
    if (lstCandidate->currentRow() == -1)
        return;
    if (!Msg::Confirmation(QStringLiteral("Are you sure?"), QStringLiteral("Delete Candidate?")))
        return;

    const QString c = lstCandID->item(lstCandidate->currentRow())->text();
    {
        // A candidate and its tally go together or not at all.
        store::Transaction tx(dcCandInfo->connection());
        RemoveRow(dcCandInfo, QStringLiteral("Select * From CandInfo where CandID ='"), c);
        RemoveRow(dcCandVote, QStringLiteral("Select * From CandVote where CandID ='"), c);
        tx.Commit();
    }
    MainAdminDataLoad(0);
}

void frmMainAdmin::cmdEditCand_Click()
{
    if (lstCandidate->currentRow() == -1) {
        Msg::Warning(QStringLiteral("Select a Candidate!"));
        return;
    }
    const QString name = lblCandName->text();
    const QString studId = lblCandStudID->text();
    const QString candId = lstCandID->item(lstCandidate->currentRow())->text();
    const QString posId = lstPosID->item(cmbbxPosition->currentIndex())->text();

    Hide();
    Shell::Show<frmEditCand>().ShowCandDetails(name, studId, posId, candId);
}

void frmMainAdmin::cmdCount_Click()
{
    if (lstPosID->currentRow() == -1) {
        Msg::Refusal(QStringLiteral("Choose a position!"));
        return;
    }
    const QString posId = lstPosID->currentItem()->text();
    Hide();
    Shell::Show<frmCountVotes>().GetnDisplay(posId);
}

void frmMainAdmin::cmdBack_Click()
{
    Hide();
    Shell::Show<frmAdminStart>();
    Shell::Get<frmAdminStart>().AdminStartDataLoad();
}

void frmMainAdmin::Form_GotFocus() { MainAdminDataLoad(0); }

void frmMainAdmin::focusInEvent(QFocusEvent *event)
{
    Screen::focusInEvent(event);
    // Only the window itself taking the focus counts; it never does while any of
    // its controls can take it, so activating the window does not reload it.
    Shell::Handle([this] { Form_GotFocus(); });
}
