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
#include <functional>

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

// The frame, then each visible control as "role name [actions] {entries} (description)", with
// notes on naming faults.
QStringList read(Screen &screen)
{
    QAccessibleInterface *frame = iface(&screen);
    QStringList out{role(frame) + u' ' + name(frame)};
    for (int c = 0; c < frame->childCount(); ++c) {
        QAccessibleInterface *child = frame->child(c);
        QString line = role(child) + u' ' + name(child);
        if (child->role() == QAccessible::Button || child->role() == QAccessible::Link)
            line += QStringLiteral(" [%1]").arg(child->actionInterface()->actionNames().join(u','));
        if (child->role() == QAccessible::List)
            line += QStringLiteral(" {%1}").arg(allNames(child).join(u';'));
        if (const QString description = child->text(QAccessible::Description); !description.isEmpty())
            line += QStringLiteral(" (%1)").arg(description);
        out << line;
        // Fields and lists are named by their caption; a choice names its entry and is captioned.
        const QString caption = labelledBy(child);
        if ((child->role() == QAccessible::EditableText || child->role() == QAccessible::List) && !caption.isEmpty() &&
            name(child) != caption)
            out << QStringLiteral("  named '%1', captioned '%2'").arg(name(child), caption);
        if (child->role() == QAccessible::ComboBox && caption.isEmpty())
            out << QStringLiteral("  no caption");
        if (name(child).isEmpty())
            out << QStringLiteral("  no name");
    }
    return out;
}

// Shows a screen and fills it as the screen that opens it does.
using Opener = std::function<Screen &()>;
template <class T> Opener opened(const std::function<void(T &)> &fill = {})
{
    return [fill]() -> Screen & {
        T &screen = Shell::Show<T>();
        if (fill)
            fill(screen);
        return screen;
    };
}

} // namespace

Q_DECLARE_METATYPE(Opener)

class AccessibilityTest : public ScreenTest {
    Q_OBJECT

private slots:
    void init()
    {
        ScreenTest::init();
        db->exec("INSERT INTO Positions VALUES ('PRES','President'),('VP','Vice President');"
                 "INSERT INTO CandInfo VALUES ('C001','Maria Santos','2023-0141','PRES'),"
                 "('C002','John Reyes','2023-0458','PRES'),('C003','Ana Cruz','2024-0012','VP');"
                 "INSERT INTO CandVote VALUES ('C001',12),('C002',1),('C003',0);"
                 "INSERT INTO Users VALUES ('Carla Villanueva','2026001','vote1',0)");
        modGlobalVar::AdminUser = QStringLiteral("admin");
    }

    // Each screen: how many lines read() gives, with no note among them, and lines it must give, in order.
    void everyScreenIsAFrameOfNamedControls_data()
    {
        QTest::addColumn<Opener>("open");
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("holds");
        const auto row = [](const Opener &open, int count, const QStringList &holds) {
            QTest::newRow(qPrintable(holds.first())) << open << count << holds;
        };
        row(opened<frmMain>(), 5,
            {"frame Pollaris", "picture Pollaris, Student Election System", "link Voter Log In [Press,SetFocus]",
             "link Administrator Log In [Press,SetFocus]", "link Exit [Press,SetFocus]"});
        row(opened<frmVoterLogIn>(), 7,
            {"frame Voter's Login", "label Username", "field Username", "label Password", "password Password",
             "button OK [Press,SetFocus]", "button Cancel [Press,SetFocus]"});
        row(opened<frmAdminLogIn>(), 7, {"frame Administrator Log In", "field Username", "password Password"});
        row(opened<frmAdminStart>(), 13,
            {"frame Pollaris Administrator's Panel", "label Total Number of Positions: 2",
             "label Total Number of Voters Registered: 1", "button Change Admin Password [Press,SetFocus]"});
        row(opened<frmChangeAdminPW>([](frmChangeAdminPW &c) { c.AdminEditLoad(); }), 9,
            {"frame Change Admin Password", "label Username: admin", "password New Password",
             "password Repeat the Password"});
        row(opened<frmMainAdmin>(), 20,
            {"frame Administrator's Panel - Candidates and Positions", "choice Position", "list Position ID {PRES;VP}",
             "list List of Candidates {}", "label Position Running for:"});
        row(opened<frmAddPos>(), 8,
            {"frame Add New Position", "field Position Name",
             "field Position ID (Please enter a 1-5 character code )"});
        row(opened<frmAddCandidate>(), 12,
            {"frame Add New Candidate", "field Name", "field Student ID",
             "field CandidateID (Please use a unique character code with a max of 8 characters. Take note that this "
             "unique ID is FINAL.)",
             "choice Position"});
        row(opened<frmEditCand>([](frmEditCand &e) { e.ShowCandDetails("Ana Cruz", "2024-0012", "VP", "C003"); }), 11,
            {"frame Edit Candidate Details", "label CandidateID: C003", "choice Vice President",
             "button Cancel [Press,SetFocus]"});
        row(opened<frmAdminUsers>(), 14,
            {"frame Administrator's Panel (Users)", "label Name", "list List of Users {2026001}",
             "button Delete User [Press,SetFocus]"});
        row(opened<frmAddUser>(), 11,
            {"frame Add User", "field Student ID/Username (Please take note that the username is the student ID)",
             "field Password (at max 20 characters only)"});
        row(opened<frmEditUser>([](frmEditUser &e) { e.ShowUserDetails("Carla", "2026001", "vote1"); }), 11,
            {"frame Edit User Details", "field Name", "label Student ID/Username: 2026001",
             "field Password (at max 20 characters only)"});
        row(opened<frmCountVotes>([](frmCountVotes &r) { r.GetnDisplay("PRES"); }), 4,
            {"frame Voting Results", "list Voting Results for President {Maria Santos, 12 votes;John Reyes, 1 vote}",
             "button OK [Press,SetFocus]"});
    }
    void everyScreenIsAFrameOfNamedControls()
    {
        QFETCH(Opener, open);
        QFETCH(int, count);
        QFETCH(QStringList, holds);
        Screen &screen = open();
        const QStringList lines = read(screen);
        screen.Hide();
        const QString all = lines.join("\n  ");
        QVERIFY2(lines.size() == count && !all.contains("\n    "), qPrintable(all));
        qsizetype at = 0;
        for (const QString &line : holds)
            QVERIFY2((at = lines.indexOf(line, at) + 1) > 0, qPrintable(line + " not in order in:\n  " + all));
    }

    // The voter's road by keyboard: Tab, Space and Enter work the menu and the buttons, a screen
    // reader's press clicks, the focus is framed on every kind of control from a screen's first
    // moment, and the ballot reads as it should.
    void theVotersRoadWorksFromTheKeyboardAndReadsAsItShould()
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
        QTRY_COMPARE(QApplication::focusWidget(), menu.lblLogUser);
        QVERIFY(iface(menu.lblLogUser)->state().focused);
        QTest::keyClick(&menu, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), menu.lblLogAdmin);
        QTest::keyClick(&menu, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), menu.lblExit);
        QCOMPARE(framed(menu.lblExit, menu.lblLogUser), QString());

        // Space on an action acts; Enter (keypad too) presses a focused button.
        menu.lblLogAdmin->setFocus();
        QTest::keyClick(menu.lblLogAdmin, Qt::Key_Space);
        frmAdminLogIn &admin = Shell::Get<frmAdminLogIn>();
        QVERIFY(admin.isVisible() && !menu.isVisible());
        QTest::keyClick(admin.cmdCancel, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(menu.isVisible() && !admin.isVisible());

        QTest::keyClick(menu.lblLogUser, Qt::Key_Return);
        frmVoterLogIn &login = Shell::Get<frmVoterLogIn>();
        QApplication::setActiveWindow(&login);
        QTRY_VERIFY(login.cmdCancel->hasFocus());
        const int shown = black(login.cmdCancel);
        login.cmdOK->setFocus();
        QVERIFY(black(login.cmdCancel) < shown - 40);
        QCOMPARE(framed(login.txtUsername, login.cmdOK), QString());
        type(login.txtUsername, "2026001");
        type(login.txtPassword, "vote1");
        QTest::keyClick(login.cmdOK, Qt::Key_Return);
        QCOMPARE(shownBoxes(),
                 QStringList{box(Msg::Icon::Exclamation, "Pollaris", "Warning! Users can only login once")});
        frmVoter &ballot = Shell::Get<frmVoter>();
        QApplication::setActiveWindow(&ballot);
        QCOMPARE(framed(ballot.lstCandidate, ballot.cmdDone), QString());
        QCOMPARE(framed(ballot.cmbbxPosition, ballot.cmdDone), QString());
        QCOMPARE(framed(ballot.cmdVote, ballot.cmbbxPosition), QString());

        // The ballot reads names, details and greeting but never a code: the hidden code lists are
        // unreachable, as children or by their entries.
        ballot.cmbbxPosition->setCurrentIndex(0);
        ballot.lstCandidate->setCurrentRow(0);
        QCOMPARE(read(ballot),
                 QStringList({"frame Pollaris", "label Welcome, 2026001", "label Position", "choice President",
                              "label List of Candidates", "list List of Candidates {Maria Santos;John Reyes}",
                              "label Candidate Details", "label Name", "label Name: Maria Santos", "label Student ID",
                              "label Student ID: 2023-0141",
                              "label Position Running for:", "label Position Running for: President",
                              "button Vote [Press,SetFocus]", "button Done [Press,SetFocus]"}));
        QCOMPARE(labelledBy(iface(ballot.cmbbxPosition)), "Position");
        const QStringList names = allNames(iface(&ballot));
        for (const char *code : {"PRES", "VP", "C001", "C002"})
            QVERIFY2(!names.contains(code), code);
        QVERIFY(names.contains("Vice President"));
        QCOMPARE(iface(&ballot)->indexOfChild(iface(ballot.lstCandID)), -1);
        QCOMPARE(iface(&ballot)->indexOfChild(iface(ballot.lstPosID)), -1);
        QTest::keyClick(ballot.cmdDone, Qt::Key_Return);
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
};

POLLARIS_TEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
