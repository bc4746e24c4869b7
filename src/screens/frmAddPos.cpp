#include "frmAddPos.h"

#include "frmMainAdmin.h"
#include "shell/Look.h"
#include "shell/MessageBox.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"

#include <QLineEdit>
#include <QPushButton>

frmAddPos::frmAddPos() : Screen(QStringLiteral("Add New Position"), 4680, 3195)
{
    lbl1 = Look::label(this, QStringLiteral("lbl1"), QStringLiteral("Position Name"), Look::boldArial());
    Look::place(lbl1, 240, 240, 3000, 285);
    txtPosName = Look::textField(this, QStringLiteral("txtPosName"), 50);
    Look::place(txtPosName, 240, 555, 4200, 345);

    lbl2 = Look::label(this, QStringLiteral("lbl2"), QStringLiteral("Position ID"), Look::boldArial());
    Look::place(lbl2, 240, 1140, 1320, 285);
    lbl3 = Look::label(this, QStringLiteral("lbl3"), QStringLiteral("Please enter a 1-5 character code "), QFont());
    Look::place(lbl3, 1680, 1155, 2760, 285);
    txtPosID = Look::textField(this, QStringLiteral("txtPosID"), 5);
    Look::place(txtPosID, 240, 1455, 1560, 345);

    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 600, 2400, 1335, 435);
    cmdCancel = Look::button(this, QStringLiteral("cmdCancel"), QStringLiteral("&Cancel"));
    Look::place(cmdCancel, 2745, 2400, 1335, 435);

    Look::caption(lbl1, txtPosName);
    Look::caption(lbl2, txtPosID);
    txtPosID->setAccessibleDescription(lbl3->text());

    dcCheckPosID = new store::RecordCursor(QStringLiteral("dcCheckPosID"), QStringLiteral("Positions"), this);
    dcAddPos = new store::RecordCursor(QStringLiteral("dcAddPos"), QStringLiteral("Positions"), this);

    QWidget::setTabOrder(txtPosName, txtPosID);
    QWidget::setTabOrder(txtPosID, cmdOK);
    QWidget::setTabOrder(cmdOK, cmdCancel);
    txtPosName->setFocus();

    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmAddPos::cmdOK_Click);
    Shell::Connect(cmdCancel, &QPushButton::clicked, this, &frmAddPos::cmdCancel_Click);
}

void frmAddPos::Form_Load()
{
    const QString path = DatabasePath();
    dcAddPos->setDatabaseName(path);
    dcCheckPosID->setDatabaseName(path);
}

void frmAddPos::cmdOK_Click()
{
    if (txtPosName->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a position name!"));
        return;
    }
    if (txtPosID->text().isEmpty()) {
        Msg::Refusal(QStringLiteral("Please enter a position ID!"));
        return;
    }
    bool duplicate = false;
    {
        // The duplicate test and the append are one unit: a station adding the
        // same code at the same moment waits, and then finds it taken.
        store::Transaction tx(dcCheckPosID->connection());
        dcCheckPosID->setRecordSource(QStringLiteral("Select * from Positions where PosID ='") + txtPosID->text() +
                                      QStringLiteral("'"));
        dcCheckPosID->Refresh();
        if (!dcCheckPosID->EOF_())
            dcCheckPosID->MoveLast();
        duplicate = dcCheckPosID->RecordCount() != 0;
        if (!duplicate) {
            if (!dcAddPos->BOF()) {
                dcAddPos->MoveLast();
                dcAddPos->MoveNext();
            }
            dcAddPos->AddNew();
            dcAddPos->SetField(QStringLiteral("PosName"), txtPosName->text());
            dcAddPos->SetField(QStringLiteral("PosID"), txtPosID->text());
            dcAddPos->Update();
            tx.Commit();
        }
    }
    if (duplicate) {
        Msg::Refusal(QStringLiteral("Duplicate Position ID Found!"), QStringLiteral("Error!"));
        return;
    }

    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}

void frmAddPos::cmdCancel_Click()
{
    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}
