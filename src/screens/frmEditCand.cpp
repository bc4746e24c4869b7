#include "frmEditCand.h"

#include "PositionDataLoad.h"
#include "frmMainAdmin.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/RecordCursor.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

frmEditCand::frmEditCand() : Screen(QStringLiteral("Edit Candidate Details"), 4680, 4290)
{
    lblName = Look::label(this, QStringLiteral("lblName"), QStringLiteral("Name"), Look::boldArial());
    Look::place(lblName, 240, 330, 1320, 285);
    txtName = Look::textField(this, QStringLiteral("txtName"), 50);
    Look::place(txtName, 1680, 300, 2760, 345);

    lblStudentID = Look::label(this, QStringLiteral("lblStudentID"), QStringLiteral("Student ID"), Look::boldArial());
    Look::place(lblStudentID, 240, 960, 1320, 285);
    txtStudentID = Look::textField(this, QStringLiteral("txtStudentID"), 20);
    Look::place(txtStudentID, 1680, 930, 2760, 345);

    lblCandID = Look::label(this, QStringLiteral("lblCandID"), QStringLiteral("CandidateID"), Look::boldArial());
    Look::place(lblCandID, 240, 1590, 1320, 285);
    lblCandidateID = Look::label(this, QStringLiteral("lblCandidateID"), QString(), Look::boldArial());
    Look::place(lblCandidateID, 1680, 1590, 2760, 285);

    lblPosition = Look::label(this, QStringLiteral("lblPosition"), QStringLiteral("Position"), Look::boldArial());
    Look::place(lblPosition, 240, 2220, 1320, 285);
    cmbbxPosition = Look::choice(this, QStringLiteral("cmbbxPosition"));
    Look::place(cmbbxPosition, 1680, 2190, 2760, 345);
    lstPosID = Look::codeList(this, QStringLiteral("lstPosID"));

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 600, 3540, 1335, 435);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"));
    Look::place(cmdCancel, 2745, 3540, 1335, 435);

    Look::caption(lblName, txtName);
    Look::caption(lblStudentID, txtStudentID);
    Look::caption(lblCandID, lblCandidateID);
    Look::caption(lblPosition, cmbbxPosition);

    dcCandInfo = new store::RecordCursor(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), this);
    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCheckPos = new store::RecordCursor(QStringLiteral("dcCheckPos"), QStringLiteral("Positions"), this);

    lstPosID->setFocusPolicy(Qt::NoFocus);
    QWidget::setTabOrder(cmdOK, cmdCancel);
    QWidget::setTabOrder(cmdCancel, cmbbxPosition);
    QWidget::setTabOrder(cmbbxPosition, txtStudentID);
    QWidget::setTabOrder(txtStudentID, txtName);
    cmdOK->setFocus();

    Shell::Connect(cmbbxPosition, &QComboBox::currentIndexChanged, this, &frmEditCand::cmbbxPosition_Click);
    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmEditCand::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmEditCand::cmdCancel_Click);
}

void frmEditCand::Form_Load()
{
    const QString path = DatabasePath();
    dcPos->setDatabaseName(path);
    dcCandInfo->setDatabaseName(path);
    dcCheckPos->setDatabaseName(path);
}

void frmEditCand::ShowCandDetails(const QString &CandName, const QString &StudID, const QString &CandPos,
                                  const QString &CandID)
{
    Look::showWhole(txtName, CandName, 50);
    Look::showWhole(txtStudentID, StudID, 20);
    lblCandidateID->setText(CandID);
    m_shownName = CandName;
    m_shownStudID = StudID;
    m_shownPos = CandPos;
    PositionDataLoad();
    for (int i = 0; i < lstPosID->count(); ++i) {
        if (lstPosID->item(i)->text() == CandPos) {
            lstPosID->setCurrentRow(i);
            cmbbxPosition->setCurrentIndex(i);
        }
    }
}

void frmEditCand::PositionDataLoad() { ::PositionDataLoad(dcPos, cmbbxPosition, lstPosID); }

void frmEditCand::cmbbxPosition_Click(int index)
{
    if (index != -1)
        lstPosID->setCurrentRow(index);
}

void frmEditCand::cmdOK_Click()
{
    if (txtName->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a name!"));
        return;
    }
    if (txtStudentID->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a student ID!"));
        return;
    }
    if (cmbbxPosition->currentIndex() == -1) {
        Msg::Refusal(QStringLiteral("Please select a position."));
        return;
    }
    const QString posId = lstPosID->item(cmbbxPosition->currentIndex())->text();
    QString refusal;
    bool positionGone = false;
    {
        // The checks and the change are one unit: nothing another station writes gets
        // in between.
        store::Transaction tx(dcCandInfo->connection());
        dcCandInfo->setRecordSource(QStringLiteral("Select * From CandInfo Where CandID ='") + lblCandidateID->text() +
                                    QStringLiteral("'"));
        dcCandInfo->Refresh();
        // Deleted since the dialog was opened: there is nothing left to change, and the
        // administrator must not believe it was saved. Changed at another station
        // meanwhile: saving would undo that change unseen. Back on the panel,
        // reloaded, the candidate shows as it is now. The position shown is the
        // position's own code, which the candidate's row may hold in another letter
        // case: codes are compared as the store compares them.
        if (dcCandInfo->EOF_())
            refusal = QStringLiteral("\" is no longer in the election file. Nothing was saved.");
        else if (dcCandInfo->FieldText(QStringLiteral("CandName")) != m_shownName ||
                 dcCandInfo->FieldText(QStringLiteral("StudentNum")) != m_shownStudID ||
                 store::TextKey(dcCandInfo->FieldText(QStringLiteral("PosID"))) != store::TextKey(m_shownPos))
            refusal = QStringLiteral("\" was changed at another station while you were editing it. Nothing was "
                                     "saved: please look at it again.");
        // The position chosen may have been deleted at another station since the list
        // was read: the candidate would be left on no position.
        if (refusal.isEmpty()) {
            dcCheckPos->setRecordSource(QStringLiteral("Select * from Positions where PosID ='") + posId +
                                        QStringLiteral("'"));
            dcCheckPos->Refresh();
            positionGone = dcCheckPos->EOF_();
        }
        if (refusal.isEmpty() && !positionGone) {
            dcCandInfo->Edit();
            dcCandInfo->SetField(QStringLiteral("CandName"), txtName->text());
            dcCandInfo->SetField(QStringLiteral("StudentNum"), txtStudentID->text());
            dcCandInfo->SetField(QStringLiteral("PosID"), posId);
            dcCandInfo->Update();
            tx.Commit();
        }
    }
    if (!refusal.isEmpty()) {
        Msg::Refusal(QStringLiteral("The candidate \"") + lblCandidateID->text() + refusal, QStringLiteral("Error!"));
        ReturnToPanel();
        return;
    }
    if (positionGone) {
        // The dialog stays, with what was typed, and lists the positions there are.
        Msg::Refusal(QStringLiteral("The position \"") + cmbbxPosition->currentText() +
                         QStringLiteral("\" is no longer in the election file. Nothing was saved."),
                     QStringLiteral("Error!"));
        PositionDataLoad();
        for (int i = 0; i < lstPosID->count(); ++i)
            if (store::TextKey(lstPosID->item(i)->text()) == store::TextKey(m_shownPos)) {
                lstPosID->setCurrentRow(i);
                cmbbxPosition->setCurrentIndex(i);
            }
        return;
    }
    ReturnToPanel();
}

void frmEditCand::cmdCancel_Click() { ReturnToPanel(); }

void frmEditCand::ReturnToPanel()
{
    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}
