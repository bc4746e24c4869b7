#include "frmAdminStart.h"

#include "frmAdminUsers.h"
#include "frmChangeAdminPW.h"
#include "frmMain.h"
#include "frmMainAdmin.h"
#include "shell/Look.h"
#include "store/RecordCursor.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

frmAdminStart::frmAdminStart() : Screen(QStringLiteral("Pollaris Administrator's Panel"), 7770, 5115)
{
    // The band first, so that the greeting is drawn over it.
    Label2 = Look::band(this, QStringLiteral("Label2"));
    Look::place(Label2, 0, 0, 7815, 855);
    const QFont bold = Look::boldArial();
    lblWelcome = Look::label(this, QStringLiteral("lblWelcome"), QStringLiteral("Welcome, Administrator"), bold);
    Look::place(lblWelcome, 240, 360, 2415, 255);
    QPalette onBand = lblWelcome->palette();
    onBand.setColor(QPalette::WindowText, Qt::white);
    lblWelcome->setPalette(onBand);
    lblCS = Look::label(this, QStringLiteral("lblCS"), QStringLiteral("Current System Statistics:"), bold);
    Look::place(lblCS, 240, 960, 2415, 255);
    lblText1 = Look::label(this, QStringLiteral("lblText1"), QStringLiteral("Total Number of Positions:"), bold);
    Look::place(lblText1, 1320, 1440, 2535, 255);
    lblText2 = Look::label(this, QStringLiteral("lblText2"), QStringLiteral("Total Number of Candidates:"), bold);
    Look::place(lblText2, 1320, 2040, 2775, 255);
    lblText3 =
        Look::label(this, QStringLiteral("lblText3"), QStringLiteral("Total Number of Voters Registered:"), bold);
    Look::place(lblText3, 1320, 2640, 3375, 255);
    cmdCandPos = Look::button(this, QStringLiteral("cmdCandPos"), QStringLiteral("Cand/Positions Panel"));
    Look::place(cmdCandPos, 3120, 4440, 1695, 375);
    cmdUsers = Look::button(this, QStringLiteral("cmdUsers"), QStringLiteral("Users Panel"));
    Look::place(cmdUsers, 3120, 3840, 1695, 375);
    lblPos = Look::label(this, QStringLiteral("lblPos"), QString(), bold);
    Look::place(lblPos, 5160, 1440, 2295, 375);
    lblCand = Look::label(this, QStringLiteral("lblCand"), QString(), bold);
    Look::place(lblCand, 5160, 2040, 2295, 375);
    lblUser = Look::label(this, QStringLiteral("lblUser"), QString(), bold);
    Look::place(lblUser, 5160, 2640, 2295, 375);
    cmdLogOut = Look::button(this, QStringLiteral("cmdLogOut"), QStringLiteral("Log Out"));
    Look::place(cmdLogOut, 5760, 4440, 1695, 375);
    cmdEditProf = Look::button(this, QStringLiteral("cmdEditProf"), QStringLiteral("Change Admin Password"));
    Look::place(cmdEditProf, 240, 4440, 1695, 435);
    Look::caption(lblText1, lblPos);
    Look::caption(lblText2, lblCand);
    Look::caption(lblText3, lblUser);
    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCand = new store::RecordCursor(QStringLiteral("dcCand"), QStringLiteral("CandInfo"), this);
    dcUser = new store::RecordCursor(QStringLiteral("dcUser"), QStringLiteral("Users"), this);

    setTabOrder(cmdCandPos, cmdUsers);
    setTabOrder(cmdUsers, cmdLogOut);
    setTabOrder(cmdLogOut, cmdEditProf);

    Shell::Connect(cmdCandPos, &QPushButton::clicked, this, &frmAdminStart::cmdCandPos_Click);
    Shell::Connect(cmdUsers, &QPushButton::clicked, this, &frmAdminStart::cmdUsers_Click);
    Shell::Connect(cmdEditProf, &QPushButton::clicked, this, &frmAdminStart::cmdEditProf_Click);
    Shell::Connect(cmdLogOut, &QPushButton::clicked, this, &frmAdminStart::cmdLogOut_Click);
}

void frmAdminStart::Form_Load()
{
    const QString path = DatabasePath();
    dcPos->setDatabaseName(path);
    dcCand->setDatabaseName(path);
    dcUser->setDatabaseName(path);
    AdminStartDataLoad();
}

void frmAdminStart::CountInto(store::RecordCursor *cursor, const QString &query, QLabel *figure)
{
    cursor->setRecordSource(query);
    cursor->Refresh();
    if (!(cursor->BOF() && cursor->EOF_()))
        cursor->MoveLast();
    // The place of the sign, then the digits.
    figure->setText(QLatin1Char(' ') + QString::number(cursor->RecordCount()));
}

void frmAdminStart::AdminStartDataLoad()
{
    CountInto(dcPos, QStringLiteral("Select * From Positions"), lblPos);
    CountInto(dcCand, QStringLiteral("Select * From CandInfo"), lblCand);
    CountInto(dcUser, QStringLiteral("Select * From Users"), lblUser);
}

void frmAdminStart::cmdCandPos_Click()
{
    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}

void frmAdminStart::cmdUsers_Click()
{
    Hide();
    Shell::Show<frmAdminUsers>();
    Shell::Get<frmAdminUsers>().AdminUserDataLoad();
}

void frmAdminStart::cmdEditProf_Click()
{
    frmChangeAdminPW &dialog = Shell::Show<frmChangeAdminPW>();
    dialog.AdminEditLoad();
    Hide();
    dialog.txtPassword1->setText(QString());
    dialog.txtPassword2->setText(QString());
}

void frmAdminStart::cmdLogOut_Click()
{
    Hide();
    Shell::Show<frmMain>();
}
