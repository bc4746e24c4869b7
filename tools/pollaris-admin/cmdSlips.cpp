// Password slips: one small sheet per voter with the user name and password to
// log in with and where to vote, eight to a page, to cut apart and hand out.
// The PDF holds every password it prints: it is made for its owner's eyes only.

#include "Commands.h"
#include "Console.h"
#include "NewFile.h"
#include "PageText.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QCollator>
#include <QCommandLineParser>
#include <QFile>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QObject>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QTextLayout>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace Commands {

namespace {

const QColor kInk(0x1a, 0x1a, 0x1a);
const QColor kGrey(0x66, 0x66, 0x66);
const QColor kCut(0x88, 0x88, 0x88);

// Eight slips to an A4 page, two across and four down: each 95 by 69 mm, room
// for a name of 50 characters on two lines and the rest at a size read at arm's length.
constexpr int kAcross = 2;
constexpr int kDown = 4;
constexpr int kPerPage = kAcross * kDown;
constexpr qreal kMarginMm = 10;
constexpr qreal kPaddingMm = 6;
constexpr int kMaxWhere = 160;

struct Voter {
    QString name, username, password;
};

// The fonts of the report: a name in any script finds its letters.
QFont sans(qreal points, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Naskh Arabic"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("Noto Color Emoji"), QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// User names and passwords in a typewriter face that keeps 0 and O, 1, l and I
// apart, should the register bring such characters.
QFont mono(qreal points, bool bold = false)
{
    QFont f;
    f.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"), QStringLiteral("Noto Sans"),
                   QStringLiteral("Noto Naskh Arabic"), QStringLiteral("Noto Sans CJK SC"),
                   QStringLiteral("DejaVu Sans")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

class SlipSheet {
public:
    SlipSheet(QPdfWriter &writer, QPainter &painter) : m_writer(writer), m_painter(painter) {}

    qreal mm(qreal v) const { return v * m_writer.resolution() / 25.4; }

    // A text in a column, drawn while painting; its height (see pageText).
    qreal text(QPointF at, qreal width, const QString &content, const QFont &f, const QColor &colour = kInk)
    {
        return pageText(&m_writer, m_painting ? &m_painter : nullptr, at, width, content, f, colour);
    }

    // A dashed line to cut along.
    void cut(QPointF from, QPointF to)
    {
        QPen pen(kCut, mm(0.25), Qt::CustomDashLine);
        pen.setDashPattern({8, 5});
        m_painter.setPen(pen);
        m_painter.drawLine(from, to);
    }

    QPainter &painter() { return m_painter; }
    // Texts are only measured while painting is off.
    void setPainting(bool on) { m_painting = on; }

private:
    QPdfWriter &m_writer;
    QPainter &m_painter;
    bool m_painting = true;
};

struct SlipText {
    QString title, where;
};

// Draws one slip in its cell, or only measures it: returns where its last text
// ends. The place to vote is set at wherePoints; the advice at the foot is left
// out when asked.
qreal slip(SlipSheet &s, const QRectF &cell, const Voter &v, const SlipText &t, qreal wherePoints, bool advice)
{
    const qreal x = cell.left() + s.mm(kPaddingMm), w = cell.width() - 2 * s.mm(kPaddingMm);
    qreal y = cell.top() + s.mm(kPaddingMm - 1);
    y += s.text({x, y}, w, t.title, sans(8.5, true), kGrey) + s.mm(1);
    y += s.text({x, y}, w, v.name, sans(13.5, true)) + s.mm(2.5);
    const auto field = [&](const QString &label, const QString &value, const QFont &f) {
        y += s.text({x, y}, w, label, sans(7.5), kGrey);
        y += s.text({x, y}, w, value, f);
    };
    field(QStringLiteral("Student ID (your user name)"), v.username, mono(14, true));
    y += s.mm(1.8);
    field(QStringLiteral("Password"), v.password, mono(17, true));
    y += s.mm(1.8);
    field(QStringLiteral("Where to vote"), t.where, sans(wherePoints));
    if (advice) {
        const QString text = QStringLiteral("Type both exactly as printed. Keep this slip to yourself.");
        const qreal top = std::max(y + s.mm(1), cell.bottom() - s.mm(kPaddingMm + 2));
        y = top + s.text({x, top}, w, text, sans(7), kGrey);
    }
    return y;
}

// A slip whose texts all fit in its cell: the place to vote in smaller type when
// it is long, and without the advice at the foot as a last resort; whatever is
// still too long is cut at the slip's edge rather than run onto the next.
void drawSlip(SlipSheet &s, const QRectF &cell, const Voter &v, const SlipText &t)
{
    const qreal room = cell.bottom() - s.mm(kPaddingMm - 2);
    qreal points = 9.5;
    bool advice = true;
    s.setPainting(false);
    while (slip(s, cell, v, t, points, advice) > room) {
        if (points > 7)
            points -= 0.5;
        else if (advice)
            advice = false;
        else
            break;
    }
    s.setPainting(true);
    QPainter &p = s.painter();
    p.save();
    p.setClipRect(cell);
    slip(s, cell, v, t, points, advice);
    p.restore();
}

// Lays out every slip, eight to a page, with the cut lines around each.
void layOut(QPdfWriter &writer, QPainter &painter, const QVector<Voter> &voters, const SlipText &t)
{
    SlipSheet s(writer, painter);
    const QRectF page = writer.pageLayout().fullRectPixels(writer.resolution());
    const qreal margin = s.mm(kMarginMm);
    const qreal cellW = (page.width() - 2 * margin) / kAcross, cellH = (page.height() - 2 * margin) / kDown;
    const int pages = int((voters.size() + kPerPage - 1) / kPerPage);
    for (int pageIndex = 0; pageIndex < pages; ++pageIndex) {
        if (pageIndex > 0)
            writer.newPage();
        const qsizetype first = qsizetype(pageIndex) * kPerPage;
        const int onPage = int(std::min<qsizetype>(kPerPage, voters.size() - first));
        const auto used = [&](int row, int col) {
            return row >= 0 && col >= 0 && row < kDown && col < kAcross && row * kAcross + col < onPage;
        };
        for (int i = 0; i < onPage; ++i) {
            const int row = i / kAcross, col = i % kAcross;
            const QRectF cell(margin + col * cellW, margin + row * cellH, cellW, cellH);
            drawSlip(s, cell, voters.at(first + i), t);
            // Each edge once: the top and left of every slip, the right and the
            // bottom where no slip follows.
            s.cut(cell.topLeft(), cell.topRight());
            s.cut(cell.topLeft(), cell.bottomLeft());
            if (!used(row, col + 1))
                s.cut(cell.topRight(), cell.bottomRight());
            if (!used(row + 1, col))
                s.cut(cell.bottomLeft(), cell.bottomRight());
        }
        s.text({margin, page.height() - margin + s.mm(3)}, page.width() - 2 * margin,
               QStringLiteral("Password slips · cut along the dashed lines · page %1 of %2 · hand each slip to its "
                              "voter alone and destroy the ones left over")
                   .arg(pageIndex + 1)
                   .arg(pages),
               sans(7), kGrey);
    }
}

// Writes the slips into the empty file at path; returns what went wrong, or an empty text.
QString writeSlips(const QString &path, const QVector<Voter> &voters, const SlipText &t)
{
    QFile pdf(path);
    if (!pdf.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1: %2").arg(path, pdf.errorString());
    {
        QPdfWriter writer(&pdf);
        writer.setTitle(QStringLiteral("Password slips"));
        writer.setCreator(QStringLiteral("pollaris-admin slips"));
        writer.setResolution(600);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0),
                                         QPageLayout::Millimeter));
        QPainter painter;
        if (!painter.begin(&writer))
            return QStringLiteral("cannot write %1").arg(path);
        layOut(writer, painter, voters, t);
        painter.end();
    }
    if (!pdf.flush() || pdf.error() != QFileDevice::NoError)
        return QStringLiteral("cannot write %1: %2").arg(path, pdf.errorString());
    // On the disk before it takes its name: a crash leaves no half file at the place.
    if (::fsync(pdf.handle()) != 0)
        return QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    pdf.close();
    return QString();
}

} // namespace

int runSlips(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin slips");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Write a PDF with one slip per voter account: the voter's name, student ID (the user name),\n"
                       "password and where to vote, eight slips to an A4 page with dashed lines to cut along. The\n"
                       "register is read as one moment of the election; it is not changed. The PDF holds every\n"
                       "password it prints: it is written readable by its owner only, and never over an existing\n"
                       "file. Keep it, and the slips, as secret as the register itself."));
    parser.addHelpOption();
    QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("The PDF to write; it must not exist yet."),
                                 QStringLiteral("FILE.pdf"));
    QCommandLineOption sortOption(QStringLiteral("sort"),
                                  QStringLiteral("The order of the slips: by name, or by student ID (default: the "
                                                 "register's order)."),
                                  QStringLiteral("name|id"));
    QCommandLineOption notLoggedInOption(QStringLiteral("not-logged-in"),
                                         QStringLiteral("Only the accounts that have not logged in yet."));
    QCommandLineOption whereOption(
        QStringLiteral("where"),
        QStringLiteral("Where to vote, printed on every slip (at most %1 characters; default: \"%2\").")
            .arg(kMaxWhere)
            .arg(QStringLiteral("Vote at any polling station of the school.")),
        QStringLiteral("TEXT"), QStringLiteral("Vote at any polling station of the school."));
    QCommandLineOption titleOption(QStringLiteral("title"),
                                   QStringLiteral("The line at the top of every slip (default: Student election)."),
                                   QStringLiteral("TEXT"), QStringLiteral("Student election"));
    parser.addOptions({outOption, sortOption, notLoggedInOption, whereOption, titleOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("slips")))
        return *done;
    const QString out = parser.value(outOption);
    if (out.isEmpty()) {
        Console::err(QStringLiteral("%1: name the PDF to write with --out FILE.pdf\n").arg(me));
        return 2;
    }
    const QString sort = parser.value(sortOption);
    if (parser.isSet(sortOption) && sort != QLatin1String("name") && sort != QLatin1String("id")) {
        Console::err(QStringLiteral("%1: --sort takes 'name' or 'id', not '%2'\n").arg(me, sort));
        return 2;
    }
    SlipText text{parser.value(titleOption).simplified(), parser.value(whereOption).simplified()};
    if (text.where.size() > kMaxWhere || text.title.size() > kMaxWhere) {
        Console::err(QStringLiteral("%1: --where and --title take at most %2 characters\n").arg(me).arg(kMaxWhere));
        return 2;
    }
    QString file;
    if (const std::optional<int> wrong = electionToRead(parser, QStringLiteral("slips"), file))
        return *wrong;
    // Told before the register is read: the PDF never goes over anything.
    if (const QString why = NewFile::refusal(out); !why.isEmpty()) {
        Console::err(QStringLiteral("%1: %2\n").arg(me, why));
        return 1;
    }

    const bool notLoggedIn = parser.isSet(notLoggedInOption);
    QVector<Voter> voters;
    qsizetype accounts = 0;
    try {
        QObject owner;
        store::RecordCursor dcUser(QStringLiteral("dcUser"), QStringLiteral("Users"), &owner);
        dcUser.setDatabaseName(file);
        // Every account as it is at one moment, even while stations log voters in.
        store::Transaction snapshot(dcUser.connection());
        dcUser.setRecordSource(QStringLiteral("Select * from Users"));
        dcUser.Refresh();
        for (; !dcUser.EOF_(); dcUser.MoveNext()) {
            ++accounts;
            if (notLoggedIn && dcUser.Field(QStringLiteral("HasVoted")).toBool())
                continue;
            voters.push_back({dcUser.FieldText(QStringLiteral("Name")), dcUser.FieldText(QStringLiteral("Username")),
                              dcUser.FieldText(QStringLiteral("Password"))});
        }
        snapshot.Commit();
    } catch (const store::StoreError &e) {
        Console::err(QStringLiteral("%1: %2: %3 (error %4); nothing was written\n")
                         .arg(me, Target::describe(file), e.text())
                         .arg(e.number()));
        return 1;
    }
    if (voters.isEmpty()) {
        Console::err(QStringLiteral("%1: %2 has %3; nothing was written\n")
                         .arg(me, Target::describe(file),
                              accounts == 0 ? QStringLiteral("no voter account")
                                            : QStringLiteral("no account that has not logged in yet")));
        return 1;
    }

    if (!sort.isEmpty()) {
        // As people read a list: letter case and accents after the letters
        // themselves, and numbers by their value ("Voter 9" before "Voter 10").
        QCollator collator{QLocale(QLocale::English)};
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        collator.setNumericMode(true);
        const bool byName = sort == QLatin1String("name");
        std::stable_sort(voters.begin(), voters.end(), [&](const Voter &a, const Voter &b) {
            const int first = byName ? collator.compare(a.name, b.name) : collator.compare(a.username, b.username);
            return first != 0 ? first < 0 : byName && collator.compare(a.username, b.username) < 0;
        });
    }

    const QString failure =
        NewFile::create(out, [&](const QString &partial) { return writeSlips(partial, voters, text); });
    if (!failure.isEmpty()) {
        Console::err(QStringLiteral("%1: %2; no slips were written\n").arg(me, failure));
        return 1;
    }
    const qsizetype pages = (voters.size() + kPerPage - 1) / kPerPage;
    Console::out(QStringLiteral("Wrote %1 slip(s) on %2 page(s) to %3, readable by you only. It holds the passwords: "
                                "keep it as secret as the register, and destroy the slips left over.\n")
                     .arg(voters.size())
                     .arg(pages)
                     .arg(out));
    return 0;
}

} // namespace Commands
