#include "frmAddCandidate.h"

#include "PositionDataLoad.h"
#include "frmMainAdmin.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

frmAddCandidate::frmAddCandidate() : Screen(QStringLiteral("Add New Candidate"), 4680, 4290)
{
    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::boldArial());
    Look::place(lblName, 240, 330, 1320, 285);
    txtName = Look::textField(this, QStringLiteral("txtName"), 50);
    Look::place(txtName, 1680, 300, 2760, 345);

    lblStudentID = Look::label(this, QStringLiteral("lblStudentID"), QStringLiteral("Student ID"), Look::boldArial());
    Look::place(lblStudentID, 240, 840, 1320, 285);
    txtStudentID = Look::textField(this, QStringLiteral("txtStudentID"), 20);
    Look::place(txtStudentID, 1680, 810, 2760, 345);

    lblCandID = Look::label(this, QStringLiteral("lblCandID"), QStringLiteral("CandidateID"), Look::boldArial());
    Look::place(lblCandID, 240, 1350, 1320, 285);
    txtCandID = Look::textField(this, QStringLiteral("txtCandID"), 8);
    Look::place(txtCandID, 1680, 1320, 2760, 345);

    Label2 = Look::label(this, QStringLiteral("Label2"),
                         QStringLiteral("Please use a unique character code with a max of 8 characters. "
                                        "Take note that this unique ID is FINAL."),
                         QFont());
    Look::place(Label2, 240, 1800, 4200, 720);

    lblPosition = Look::label(this, QStringLiteral("lblPosition"), QStringLiteral("Position"), Look::boldArial());
    Look::place(lblPosition, 240, 2700, 1320, 285);
    cmbbxPosition = Look::choice(this, QStringLiteral("cmbbxPosition"));
    Look::place(cmbbxPosition, 1680, 2670, 2760, 345);
    lstPosID = Look::codeList(this, QStringLiteral("lstPosID"));

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 600, 3540, 1335, 435);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"));
    Look::place(cmdCancel, 2745, 3540, 1335, 435);

    Look::caption(lblName, txtName);
    Look::caption(lblStudentID, txtStudentID);
    Look::caption(lblCandID, txtCandID);
    txtCandID->setAccessibleDescription(Label2->text());
    Look::caption(lblPosition, cmbbxPosition);

    dcCheckCand = new store::RecordCursor(QStringLiteral("dcCheckCand"), QStringLiteral("CandInfo"), this);
    dcAddCand = new store::RecordCursor(QStringLiteral("dcAddCand"), QStringLiteral("CandInfo"), this);
    dcAddCandVote = new store::RecordCursor(QStringLiteral("dcAddCandVote"), QStringLiteral("CandVote"), this);
    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCheckPos = new store::RecordCursor(QStringLiteral("dcCheckPos"), QStringLiteral("Positions"), this);

    lstPosID->setFocusPolicy(Qt::NoFocus);
    QWidget::setTabOrder(txtName, txtStudentID);
    QWidget::setTabOrder(txtStudentID, txtCandID);
    QWidget::setTabOrder(txtCandID, cmbbxPosition);
    QWidget::setTabOrder(cmbbxPosition, cmdCancel);
    QWidget::setTabOrder(cmdCancel, cmdOK);
    txtName->setFocus();

    Shell::Connect(cmbbxPosition, &QComboBox::currentIndexChanged, this, &frmAddCandidate::cmbbxPosition_Click);
    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmAddCandidate::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmAddCandidate::cmdCancel_Click);
}

void frmAddCandidate::Form_Load()
{
    const QString path = DatabasePath();
    dcAddCandVote->setDatabaseName(path);
    dcCheckCand->setDatabaseName(path);
    dcPos->setDatabaseName(path);
    dcCheckPos->setDatabaseName(path);
    dcAddCand->setDatabaseName(path);
}

void frmAddCandidate::PositionDataLoad() { ::PositionDataLoad(dcPos, cmbbxPosition, lstPosID); }

void frmAddCandidate::cmbbxPosition_Click(int index)
{
    if (index != -1)
        lstPosID->setCurrentRow(index);
}

void frmAddCandidate::cmdOK_Click()
{
    if (txtName->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a name!"));
        return;
    }
    if (txtStudentID->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a student ID!"));
        return;
    }
    if (txtCandID->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a candidate ID!"));
        return;
    }
    if (cmbbxPosition->currentIndex() == -1) {
        Msg::Refusal(QStringLiteral("Please choose a position!"));
        return;
    }
    const QString posId = lstPosID->item(cmbbxPosition->currentIndex())->text();
    bool duplicate = false;
    bool positionGone = false;
    {
        // The duplicate test and both rows are one unit: a station adding the same
        // code at the same moment waits, and then finds it taken; and a candidate
        // without its tally would break the ballot and the results. The position
        // is looked for in the same unit: one deleted at another station since
        // the list was read would leave the candidate on no position.
        store::Transaction tx(dcAddCand->connection());
        dcCheckCand->setRecordSource(QStringLiteral("Select * from CandInfo where CandID ='") + txtCandID->text() +
                                     QStringLiteral("'"));
        dcCheckCand->Refresh();
        if (!dcCheckCand->EOF_())
            dcCheckCand->MoveLast();
        duplicate = dcCheckCand->RecordCount() != 0;
        if (!duplicate) {
            dcCheckPos->setRecordSource(QStringLiteral("Select * from Positions where PosID ='") + posId +
                                        QStringLiteral("'"));
            dcCheckPos->Refresh();
            positionGone = dcCheckPos->EOF_();
        }
        if (!duplicate && !positionGone) {
            if (!dcAddCand->BOF()) {
                dcAddCand->MoveLast();
                dcAddCand->MoveNext();
            }
            dcAddCand->AddNew();
            dcAddCand->SetField(QStringLiteral("CandID"), txtCandID->text());
            dcAddCand->SetField(QStringLiteral("CandName"), txtName->text());
            dcAddCand->SetField(QStringLiteral("StudentNum"), txtStudentID->text());
            dcAddCand->SetField(QStringLiteral("PosID"), posId);
            dcAddCand->Update();

            if (!dcAddCandVote->BOF()) {
                dcAddCandVote->MoveLast();
                dcAddCandVote->MoveNext();
            }
            dcAddCandVote->AddNew();
            dcAddCandVote->SetField(QStringLiteral("CandID"), txtCandID->text());
            dcAddCandVote->SetField(QStringLiteral("NumVotes"), qint32(0));
            dcAddCandVote->Update();
            tx.Commit();
        }
    }
    if (duplicate) {
        Msg::Refusal(QStringLiteral("Duplicate Candidate ID Found!"), QStringLiteral("Error!"));
        return;
    }
    if (positionGone) {
        Msg::Refusal(QStringLiteral("The position \"") + cmbbxPosition->currentText() +
                         QStringLiteral("\" is no longer in the election file. Nothing was saved."),
                     QStringLiteral("Error!"));
        // The choice is read again, without it; what was typed stays.
        cmbbxPosition->clear();
        lstPosID->clear();
        PositionDataLoad();
        return;
    }

    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}

void frmAddCandidate::cmdCancel_Click()
{
    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}
