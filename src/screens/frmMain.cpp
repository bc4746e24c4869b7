#include "frmMain.h"

#include "frmAdminLogIn.h"
#include "frmVoterLogIn.h"
#include "shell/Look.h"

#include <QPixmap>

frmMain::frmMain() : Screen(QStringLiteral("Pollaris"), 7095, 3795)
{
    picTitleBar = new QLabel(this);
    picTitleBar->setObjectName(QStringLiteral("picTitleBar"));
    picTitleBar->setPixmap(QPixmap(QStringLiteral(":/title.png")));
    picTitleBar->setScaledContents(true);
    Look::place(picTitleBar, -120, -240, 10215, 2295);
    picTitleBar->setAccessibleName(QStringLiteral("Pollaris, Student Election System"));

    lblLogUser = new ClickableLabel(this, QStringLiteral("lblLogUser"), QStringLiteral("Voter Log In"));
    Look::place(lblLogUser, 120, 2640, 1695, 375);
    lblLogAdmin = new ClickableLabel(this, QStringLiteral("lblLogAdmin"), QStringLiteral("Administrator Log In"));
    Look::place(lblLogAdmin, 4680, 2640, 2295, 375);
    lblExit = new ClickableLabel(this, QStringLiteral("lblExit"), QStringLiteral("Exit"));
    Look::place(lblExit, 3120, 3360, 375, 375);

    Shell::Connect(lblLogUser, &ClickableLabel::clicked, this, &frmMain::lblLogUser_Click);
    Shell::Connect(lblLogAdmin, &ClickableLabel::clicked, this, &frmMain::lblLogAdmin_Click);
    Shell::Connect(lblExit, &ClickableLabel::clicked, this, &frmMain::lblExit_Click);
}

void frmMain::lblLogUser_Click()
{
    Shell::Show<frmVoterLogIn>();
    Hide();
    Shell::Get<frmVoterLogIn>().VoterTextClear();
}

void frmMain::lblLogAdmin_Click()
{
    Shell::Show<frmAdminLogIn>();
    Hide();
    Shell::Get<frmAdminLogIn>().TextClear();
}

void frmMain::lblExit_Click() { Shell::End(0); }
