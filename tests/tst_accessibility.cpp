// What a screen reader is told about every screen, and the keyboard's way through them.

#include "TestSupport.h"

#include "screens/frmAddCandidate.h"
#include "screens/frmAddPos.h"
#include "screens/frmAddUser.h"
#include "screens/frmAdminLogIn.h"
#include "screens/frmAdminStart.h"
#include "screens/frmAdminUsers.h"
#include "screens/frmChangeAdminPW.h"
#include "screens/frmCountVotes.h"
#include "screens/frmEditCand.h"
#include "screens/frmEditUser.h"
#include "screens/frmMain.h"
#include "screens/frmMainAdmin.h"
#include "screens/frmVoter.h"
#include "screens/frmVoterLogIn.h"
#include "shell/Look.h"
#include "shell/modGlobalVar.h"

#include <QAccessible>
#include <QtWidgets>
#include <memory>

namespace {

QAccessibleInterface *iface(QObject *object) { return QAccessible::queryAccessibleInterface(object); }

QString name(QAccessibleInterface *i) { return i ? i->text(QAccessible::Name) : QString(); }

QString role(QAccessibleInterface *i)
{
    if (i->role() == QAccessible::EditableText)
        return i->state().passwordEdit ? "password" : "field";
    static const QHash<int, QString> names{{QAccessible::Window, "frame"},   {QAccessible::StaticText, "label"},
                                           {QAccessible::List, "list"},      {QAccessible::ComboBox, "choice"},
                                           {QAccessible::Button, "button"},  {QAccessible::Link, "link"},
                                           {QAccessible::Graphic, "picture"}};
    return names.value(i->role(), QString::number(i->role()));
}

QString labelledBy(QAccessibleInterface *i)
{
    const auto labels = i->relations(QAccessible::Label);
    return labels.isEmpty() ? QString() : name(labels.first().first);
}

QStringList allNames(QAccessibleInterface *i)
{
    QStringList names;
    for (int c = 0; c < i->childCount(); ++c) {
        QAccessibleInterface *child = i->child(c);
        names << name(child) << allNames(child);
    }
    return names;
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ElectionFolder> db;

    // The frame, then each visible control as "role name [actions]", with notes on naming faults.
    QStringList read(Screen &screen)
    {
        QAccessibleInterface *frame = iface(&screen);
        QStringList out;
        out << role(frame) + u' ' + name(frame);
        for (int c = 0; c < frame->childCount(); ++c) {
            QAccessibleInterface *child = frame->child(c);
            QString line = role(child) + u' ' + name(child);
            if (child->role() == QAccessible::Button || child->role() == QAccessible::Link)
                line += QStringLiteral(" [%1]").arg(child->actionInterface()->actionNames().join(u','));
            out << line;
            // Fields and lists are named by their caption; a choice names its entry and is captioned.
            const QString caption = labelledBy(child);
            if ((child->role() == QAccessible::EditableText || child->role() == QAccessible::List) &&
                !caption.isEmpty() && name(child) != caption)
                out << QStringLiteral("  named '%1', captioned '%2'").arg(name(child), caption);
            if (child->role() == QAccessible::ComboBox && caption.isEmpty())
                out << QStringLiteral("  no caption");
            if (name(child).isEmpty())
                out << QStringLiteral("  no name");
        }
        return out;
    }
    template <class T> QStringList readShown(const std::function<void(T &)> &fill = {})
    {
        T &screen = Shell::Show<T>();
        if (fill)
            fill(screen);
        const QStringList out = read(screen);
        screen.Hide();
        return out;
    }

private slots:
    void init()
    {
        db = std::make_unique<ElectionFolder>();
        startProgramIn(db->folder());
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C001','Maria Santos','2023-0141','PRES'),"
                 "('C002','John Reyes','2023-0458','PRES'),('C003','Ana Cruz','2024-0012','VP');"
                 "INSERT INTO CandVote VALUES ('C001',12),('C002',1),('C003',0);"
                 "INSERT INTO Users VALUES ('Carla Villanueva','2026001','vote1',0)");
        modGlobalVar::AdminUser = QStringLiteral("admin");
    }
    void cleanup()
    {
        QCOMPARE(shownBoxes(), QStringList());
        Shell::reset();
    }

    void everyScreenIsAFrameOfNamedControls()
    {
        QCOMPARE(readShown<frmMain>(),
                 QStringList({"frame Pollaris", "picture Pollaris, Student Election System",
                              "link Voter Log In [Press,SetFocus]", "link Administrator Log In [Press,SetFocus]",
                              "link Exit [Press,SetFocus]"}));
        QCOMPARE(readShown<frmVoterLogIn>(),
                 QStringList({"frame Voter's Login", "label Username", "field Username", "label Password",
                              "password Password", "button OK [Press,SetFocus]", "button Cancel [Press,SetFocus]"}));

        // Every other screen: no note from read(), and the lines it must hold.
        QStringList resultLines;
        const QList<QStringList> screens = {
            readShown<frmAdminLogIn>(),
            readShown<frmAdminStart>(),
            readShown<frmChangeAdminPW>([](frmChangeAdminPW &c) { c.AdminEditLoad(); }),
            readShown<frmMainAdmin>(),
            readShown<frmAddPos>(),
            readShown<frmAddCandidate>(),
            readShown<frmEditCand>([](frmEditCand &e) { e.ShowCandDetails("Ana Cruz", "2024-0012", "VP", "C003"); }),
            readShown<frmAdminUsers>(),
            readShown<frmAddUser>(),
            readShown<frmEditUser>([](frmEditUser &e) { e.ShowUserDetails("Carla", "2026001", "vote1"); }),
            readShown<frmCountVotes>([&](frmCountVotes &r) {
                r.GetnDisplay("PRES");
                for (int i = 0; i < iface(r.lstResults)->childCount(); ++i)
                    resultLines << name(iface(r.lstResults)->child(i));
            }),
        };
        const QList<QStringList> holds = {
            {"frame Administrator Log In", "field Username", "password Password"},
            {"frame Pollaris Administrator's Panel", "label Total Number of Positions: 2",
             "label Total Number of Voters Registered: 1", "button Change Admin Password [Press,SetFocus]"},
            {"frame Change Admin Password", "label Username: admin", "password New Password",
             "password Repeat the Password"},
            {"frame Administrator's Panel - Candidates and Positions", "choice Position", "list Position ID",
             "list List of Candidates", "label Position Running for:"},
            {"frame Add New Position", "field Position Name", "field Position ID"},
            {"frame Add New Candidate", "field Name", "field Student ID", "field CandidateID", "choice Position"},
            {"frame Edit Candidate Details", "label CandidateID: C003", "choice Vice President",
             "button Cancel [Press,SetFocus]"},
            {"frame Administrator's Panel (Users)", "list List of Users", "label Name",
             "button Delete User [Press,SetFocus]"},
            {"frame Add User", "field Student ID/Username", "field Password"},
            {"frame Edit User Details", "label Student ID/Username: 2026001", "field Name", "field Password"},
            {"frame Voting Results", "list Voting Results for President", "button OK [Press,SetFocus]"},
        };
        for (int i = 0; i < screens.size(); ++i) {
            const QString all = screens[i].join("\n  ");
            QVERIFY2(screens[i].first() == holds[i].first(), qPrintable(all));
            QVERIFY2(!all.contains("\n    "), qPrintable(all));
            for (const QString &line : holds[i])
                QVERIFY2(screens[i].contains(line), qPrintable(line + " not in:\n  " + all));
        }

        QCOMPARE(resultLines, QStringList({"Maria Santos, 12 votes", "John Reyes, 1 vote"}));

        QCOMPARE(Shell::Get<frmAddPos>().txtPosID->accessibleDescription(), "Please enter a 1-5 character code ");
        QVERIFY(iface(Shell::Get<frmAddCandidate>().txtCandID)
                    ->text(QAccessible::Description)
                    .endsWith("this unique ID is FINAL."));
    }

    void theBallotReadsNamesDetailsAndGreetingButNeverACode()
    {
        logIn<frmVoterLogIn>(Shell::Show<frmMain>().lblLogUser, "2026001", "vote1");
        QCOMPARE(shownBoxes().size(), 1);
        frmVoter &v = Shell::Get<frmVoter>();
        v.cmbbxPosition->setCurrentIndex(0);
        v.lstCandidate->setCurrentRow(0);

        QCOMPARE(read(v), QStringList({"frame Pollaris", "label Welcome, 2026001", "label Position", "choice President",
                                       "label List of Candidates", "list List of Candidates", "label Candidate Details",
                                       "label Name", "label Name: Maria Santos", "label Student ID",
                                       "label Student ID: 2023-0141",
                                       "label Position Running for:", "label Position Running for: President",
                                       "button Vote [Press,SetFocus]", "button Done [Press,SetFocus]"}));
        QCOMPARE(labelledBy(iface(v.cmbbxPosition)), "Position");
        QCOMPARE(name(iface(v.lstCandidate)->child(1)), "John Reyes");

        // The hidden code lists are unreachable, as children or by their entries.
        const QStringList names = allNames(iface(&v));
        for (const char *code : {"PRES", "VP", "C001", "C002"})
            QVERIFY2(!names.contains(code), code);
        QVERIFY(names.contains("Maria Santos") && names.contains("Vice President"));
        QCOMPARE(iface(&v)->indexOfChild(iface(v.lstCandID)), -1);
        QCOMPARE(iface(&v)->indexOfChild(iface(v.lstPosID)), -1);
    }

    void theMainMenuAndTheButtonsWorkFromTheKeyboard()
    {
        frmMain &menu = Shell::Show<frmMain>();
        QApplication::setActiveWindow(&menu);
        QTRY_COMPARE(QApplication::focusWidget(), menu.lblLogUser);
        QVERIFY(iface(menu.lblLogUser)->state().focused);
        QTest::keyClick(&menu, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), menu.lblLogAdmin);
        QTest::keyClick(&menu, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), menu.lblExit);

        // Space on an action acts; Enter (keypad too) presses a focused button.
        menu.lblLogAdmin->setFocus();
        QTest::keyClick(menu.lblLogAdmin, Qt::Key_Space);
        frmAdminLogIn &admin = Shell::Get<frmAdminLogIn>();
        QVERIFY(admin.isVisible() && !menu.isVisible());
        QTest::keyClick(admin.cmdCancel, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(menu.isVisible() && !admin.isVisible());

        QTest::keyClick(menu.lblLogUser, Qt::Key_Return);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        QVERIFY(login.isVisible());
        type(login.txtUsername, "2026001");
        type(login.txtPassword, "vote1");
        QTest::keyClick(login.cmdOK, Qt::Key_Return);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        QTest::keyClick(Shell::Get<frmVoter>().cmdDone, Qt::Key_Return);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Information, "Your vote has been added", "Thank you for voting!")});
        QVERIFY(menu.isVisible());

        // A screen reader's press on a link is a click on it.
        iface(menu.lblLogUser)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(login.isVisible() && !menu.isVisible());
        QCOMPARE(login.txtUsername->text(), QString());
        iface(login.cmdCancel)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        iface(menu.lblExit)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(Shell::endedWith(), std::optional<int>(0));
    }

    void theFocusIsFramedOnEveryKindOfControl()
    {
        auto black = [](QWidget *w) {
            const QImage image = w->window()->grab().toImage();
            const QRect area = QRect(w->mapTo(w->window(), QPoint(0, 0)), w->size()).adjusted(-4, -4, 4, 4);
            int n = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    n += image.valid(x, y) && image.pixelColor(x, y) == QColor(Qt::black);
            return n;
        };
        auto framed = [&](QWidget *control, QWidget *other) {
            other->setFocus();
            const int before = black(control);
            control->setFocus();
            const int after = black(control);
            return after - before > 40
                       ? QString()
                       : QStringLiteral("%1: %2 -> %3").arg(control->objectName()).arg(before).arg(after);
        };
        frmMain &menu = Shell::Show<frmMain>();
        QApplication::setActiveWindow(&menu);
        QTRY_VERIFY(menu.lblLogUser->hasFocus());
        QCOMPARE(framed(menu.lblExit, menu.lblLogUser), QString());
        // The first focus shows before any key is pressed.
        frmVoterLogIn &login = Shell::Show<frmVoterLogIn>();
        QApplication::setActiveWindow(&login);
        QTRY_VERIFY(login.cmdCancel->hasFocus());
        const int shown = black(login.cmdCancel);
        login.cmdOK->setFocus();
        QVERIFY(black(login.cmdCancel) < shown - 40);
        QCOMPARE(framed(login.txtUsername, login.cmdOK), QString());
        frmVoter &ballot = Shell::Show<frmVoter>();
        QApplication::setActiveWindow(&ballot);
        QCOMPARE(framed(ballot.lstCandidate, ballot.cmdDone), QString());
        QCOMPARE(framed(ballot.cmbbxPosition, ballot.cmdDone), QString());
        QCOMPARE(framed(ballot.cmdVote, ballot.cmbbxPosition), QString());
    }
};

POLLARIS_TEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
