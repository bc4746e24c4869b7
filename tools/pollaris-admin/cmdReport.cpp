// The results report: the sheet an election committee prints at the close of
// polls, checks against the turnout, signs and posts; before the polls open, the
// same sheet with every tally at 0 (the zero report) shows the ballot box empty.

#include "Commands.h"
#include "Console.h"
#include "ElectionSnapshot.h"
#include "PageText.h"
#include "Target.h"
#include "store/Connection.h"
#include "store/StoreError.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QImage>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QRegularExpression>
#include <QTextLayout>
#include <QTimeZone>
#include <cstdlib>
#include <cstring>

namespace Commands {

namespace {

const QColor kInk(0x1a, 0x1a, 0x1a);
const QColor kGrey(0x66, 0x66, 0x66);
const QColor kRule(0xb0, 0xb0, 0xb0);
const QColor kTrack(0xe8, 0xe8, 0xe8);
const QColor kBar(0x1f, 0x3a, 0x7a);

QString count(qint64 n) { return QLocale(QLocale::English, QLocale::UnitedStates).toString(n); }

QString share(qint64 part, qint64 whole)
{
    if (whole <= 0)
        return QStringLiteral("–");
    return QString::number(100.0 * double(part) / double(whole), 'f', 1) + QLatin1Char('%');
}

// A text of the election set into a sentence of the report: isolated, so that a
// name in a right-to-left script does not carry the words around it along.
QString isolated(const QString &text) { return QChar(0x2068) + text + QChar(0x2069); }

// Lays out and draws the pages. It runs twice over the same content: first
// without painting, to learn how many pages there are, then painting, so that
// each page can say "page N of M".
class Sheet {
public:
    Sheet(QPdfWriter &writer, QPainter *painter, int pageCount, const QString &footer)
        : m_writer(writer), m_painter(painter), m_pageCount(pageCount), m_footer(footer)
    {
        const QRect area = writer.pageLayout().paintRectPixels(writer.resolution());
        m_width = area.width();
        m_bottom = area.height() - mm(12); // the footer's band
        m_sans.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Noto Naskh Arabic"),
                            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Color Emoji"),
                            QStringLiteral("DejaVu Sans")});
        m_sans.setPointSizeF(9.5);
        m_mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono")});
        m_mono.setPointSizeF(8.5);
    }

    qreal mm(qreal v) const { return v * m_writer.resolution() / 25.4; }
    qreal width() const { return m_width; }
    qreal y() const { return m_y; }
    qreal room() const { return m_bottom - m_y; }
    qreal pageRoom() const { return m_bottom; }
    void skip(qreal dy) { m_y += dy; }
    int pages() const { return m_page; }
    // The same sheet at the same place, which only measures.
    Sheet measuring() const
    {
        Sheet copy = *this;
        copy.m_painter = nullptr;
        return copy;
    }

    QFont font(qreal points, bool bold = false) const
    {
        QFont f = m_sans;
        f.setPointSizeF(points);
        f.setBold(bold);
        return f;
    }
    const QFont &mono() const { return m_mono; }

    void newPage()
    {
        finishPage();
        if (m_painter)
            m_writer.newPage();
        ++m_page;
        m_y = 0;
    }
    void finishPage()
    {
        if (!m_painter || m_finished == m_page)
            return;
        m_finished = m_page;
        const qreal top = m_bottom + mm(5);
        line(0, top - mm(2), m_width, kRule);
        text(QPointF(0, top), m_width * 0.75, m_footer, font(7.5), kGrey);
        text(QPointF(m_width * 0.75, top), m_width * 0.25, QStringLiteral("page %1 of %2").arg(m_page).arg(m_pageCount),
             font(7.5), kGrey, Qt::AlignRight);
    }

    // A text in a column, drawn when painting; its height (see pageText).
    qreal text(QPointF at, qreal columnWidth, const QString &content, const QFont &f, const QColor &colour = kInk,
               Qt::Alignment align = Qt::AlignLeft) const
    {
        return pageText(&m_writer, m_painter, at, columnWidth, content, f, colour, align);
    }

    void line(qreal x1, qreal y, qreal x2, const QColor &colour, qreal thickness = 0) const
    {
        if (!m_painter)
            return;
        m_painter->setPen(QPen(colour, thickness > 0 ? thickness : mm(0.2)));
        m_painter->drawLine(QPointF(x1, y), QPointF(x2, y));
    }
    void box(const QRectF &r, const QColor &colour) const
    {
        if (m_painter && r.width() > 0)
            m_painter->fillRect(r, colour);
    }

private:
    QPdfWriter &m_writer;
    QPainter *m_painter;
    int m_pageCount;
    QString m_footer;
    qreal m_width = 0;
    qreal m_bottom = 0;
    qreal m_y = 0;
    int m_page = 1;
    int m_finished = 0;
    QFont m_sans, m_mono;
};

struct ReportText {
    QString title;
    QString kind; // "Results report" or "Zero report"
    QString madeAt;
};

// The columns of a position's table, as fractions of the width.
// The code's column takes a candidate code of 8 wide letters (WWWWWWWW) on one line.
struct Columns {
    qreal rank, name, code, votes, share, bar, end;
    explicit Columns(qreal w)
        : rank(0), name(w * 0.07), code(w * 0.41), votes(w * 0.58), share(w * 0.69), bar(w * 0.79), end(w)
    {}
};

qreal rowHeight(const Sheet &sheet, const Columns &c, const CandidateCount &cand)
{
    const Sheet s = sheet.measuring();
    const qreal nameHeight = s.text({}, c.code - c.name - s.mm(2), cand.name, s.font(9.5));
    const qreal codeHeight = s.text({}, c.votes - c.code - s.mm(2), cand.candId, s.font(9.5));
    return std::max({nameHeight, codeHeight, s.mm(5)}) + s.mm(1.5);
}

void columnHeads(Sheet &s, const Columns &c)
{
    const QFont f = s.font(7.5, true);
    const qreal y = s.y();
    s.text({c.rank, y}, c.name - c.rank, QStringLiteral("Rank"), f, kGrey);
    s.text({c.name, y}, c.code - c.name, QStringLiteral("Candidate"), f, kGrey);
    s.text({c.code, y}, c.votes - c.code, QStringLiteral("Code"), f, kGrey);
    s.text({c.votes, y}, c.share - c.votes - s.mm(2), QStringLiteral("Votes"), f, kGrey, Qt::AlignRight);
    s.text({c.share, y}, c.bar - c.share - s.mm(2), QStringLiteral("Share"), f, kGrey, Qt::AlignRight);
    const qreal h = s.text({c.bar, y}, c.end - c.bar, QStringLiteral("0 to 100% of the votes"), f, kGrey);
    s.skip(h + s.mm(0.8));
    s.line(0, s.y(), s.width(), kRule);
    s.skip(s.mm(1));
}

// The position's name and code, how many votes were cast in it and whether the
// top is tied. Returns the height it takes (drawn when painting).
qreal positionHeading(Sheet &s, const PositionCount &p, bool continued)
{
    const qreal top = s.y();
    const QString name = continued ? isolated(p.name) + QStringLiteral(" (continued)") : p.name;
    const qreal nameHeight = s.text({0, top}, s.width() * 0.72, name, s.font(12, true));
    s.text({s.width() * 0.72, top + s.mm(0.8)}, s.width() * 0.28, QStringLiteral("Code: ") + p.posId, s.font(9.5),
           kGrey, Qt::AlignRight);
    s.skip(nameHeight + s.mm(0.5));
    if (!continued) {
        s.skip(s.text({0, s.y()}, s.width(), QStringLiteral("Votes cast in this position: %1").arg(count(p.total)),
                      s.font(9.5)));
        if (p.tiedAtTop()) {
            QStringList tied;
            for (const CandidateCount &c : p.ranked)
                if (c.votes == p.ranked.first().votes)
                    tied << isolated(c.name);
            s.skip(s.text({0, s.y()}, s.width(),
                          QStringLiteral("Tie at the top: %1 candidates have %2 votes each (%3).")
                              .arg(tied.size())
                              .arg(count(p.ranked.first().votes))
                              .arg(tied.join(QStringLiteral(", "))),
                          s.font(9.5, true)));
        }
        if (p.ranked.isEmpty())
            s.skip(s.text({0, s.y()}, s.width(), QStringLiteral("No candidate stands for this position."), s.font(9.5),
                          kGrey));
    }
    s.skip(s.mm(1.5));
    return s.y() - top;
}

void candidateRow(Sheet &s, const Columns &c, const PositionCount &p, int rank, const CandidateCount &cand, qreal h)
{
    const qreal y = s.y();
    const QFont f = s.font(9.5);
    s.text({c.rank, y}, c.name - c.rank, QString::number(rank), f);
    s.text({c.name, y}, c.code - c.name - s.mm(2), cand.name, f);
    s.text({c.code, y}, c.votes - c.code - s.mm(2), cand.candId, f);
    s.text({c.votes, y}, c.share - c.votes - s.mm(2), count(cand.votes), f, kInk, Qt::AlignRight);
    s.text({c.share, y}, c.bar - c.share - s.mm(2), share(cand.votes, p.total), f, kInk, Qt::AlignRight);
    const qreal barTop = y + s.mm(0.9), barHeight = s.mm(3.2), full = c.end - c.bar;
    s.box(QRectF(c.bar, barTop, full, barHeight), kTrack);
    if (p.total > 0 && cand.votes > 0)
        s.box(QRectF(c.bar, barTop, full * double(cand.votes) / double(p.total), barHeight), kBar);
    s.skip(h);
}

void totalRow(Sheet &s, const Columns &c, const PositionCount &p)
{
    s.line(0, s.y(), s.width(), kRule);
    s.skip(s.mm(1));
    const qreal y = s.y();
    const QFont f = s.font(9.5, true);
    s.text({c.name, y}, c.votes - c.name, QStringLiteral("Total"), f);
    s.text({c.votes, y}, c.share - c.votes - s.mm(2), count(p.total), f, kInk, Qt::AlignRight);
    const qreal h = s.text({c.share, y}, c.bar - c.share - s.mm(2),
                           p.total > 0 ? QStringLiteral("100.0%") : share(0, 0), f, kInk, Qt::AlignRight);
    s.skip(h + s.mm(1));
    // The voters let in who left this position blank; more votes than voters let in
    // would be a count to question, and is said so.
    const qreal y2 = s.y();
    s.text({c.name, y2}, c.votes - c.name,
           p.noVote >= 0 ? QStringLiteral("Logged in, no vote here") : QStringLiteral("Votes beyond the log-ins"),
           s.font(9), p.noVote >= 0 ? kGrey : kInk);
    s.skip(s.text({c.votes, y2}, c.share - c.votes - s.mm(2), count(std::abs(p.noVote)), s.font(9),
                  p.noVote >= 0 ? kGrey : kInk, Qt::AlignRight) +
           s.mm(6));
}

// The heights of a position's parts, measured before it is laid out.
struct PositionParts {
    qreal heading = 0, heads = 0, total = 0;
    QVector<qreal> rows;
};

template <class F> qreal measured(const Sheet &s, F &&part)
{
    Sheet probe = s.measuring();
    const qreal top = probe.y();
    part(probe);
    return probe.y() - top;
}

void layPosition(Sheet &s, const Columns &c, const PositionCount &p, const PositionParts &h)
{
    // The heading never stands alone at the foot of a page: the column heads and
    // the first candidate (with the total, when it is the only one) go with it.
    const qreal first = p.ranked.isEmpty() ? 0 : h.heads + h.rows.first() + (p.ranked.size() == 1 ? h.total : 0);
    if (h.heading + first > s.room())
        s.newPage();
    positionHeading(s, p, false);
    if (p.ranked.isEmpty()) {
        s.skip(s.mm(4));
        return;
    }
    columnHeads(s, c);
    int rank = 0;
    for (int i = 0; i < p.ranked.size(); ++i) {
        const CandidateCount &cand = p.ranked.at(i);
        if (i == 0 || cand.votes != p.ranked.at(i - 1).votes)
            rank = i + 1; // equal tallies share a rank
        const bool last = i + 1 == p.ranked.size();
        if (h.rows.at(i) + (last ? h.total : 0) > s.room()) {
            s.newPage();
            positionHeading(s, p, true);
            columnHeads(s, c);
        }
        candidateRow(s, c, p, rank, cand, h.rows.at(i));
    }
    totalRow(s, c, p);
}

// A position goes whole onto one page when it can; a longer one starts where its
// heading and first candidate fit, and each page it runs on to begins with its
// name again.
void position(Sheet &s, const PositionCount &p)
{
    const Columns c(s.width());
    PositionParts h;
    h.heading = measured(s, [&](Sheet &probe) { positionHeading(probe, p, false); });
    h.heads = measured(s, [&](Sheet &probe) { columnHeads(probe, c); });
    h.total = measured(s, [&](Sheet &probe) { totalRow(probe, c, p); });
    qreal whole = h.heading + (p.ranked.isEmpty() ? s.mm(4) : h.heads + h.total);
    for (const CandidateCount &cand : p.ranked) {
        h.rows << rowHeight(s, c, cand);
        whole += h.rows.back();
    }
    if (whole > s.room() && whole <= s.pageRoom())
        s.newPage();
    layPosition(s, c, p, h);
}

void heading(Sheet &s, const ElectionSnapshot &e, const ReportText &t)
{
    s.skip(s.text({0, s.y()}, s.width(), t.title, s.font(20, true)));
    s.skip(s.text({0, s.y()}, s.width(), t.kind, s.font(14, true), kBar) + s.mm(1));
    if (e.nothingCast())
        s.skip(s.text({0, s.y()}, s.width(),
                      QStringLiteral("No account has logged in to vote and every tally is 0: the ballot box is empty."),
                      s.font(9.5)) +
               s.mm(1));
    const qreal label = s.mm(32);
    auto field = [&](const QString &name, const QString &value, const QFont &f) {
        const qreal y = s.y();
        s.text({0, y}, label, name, s.font(9.5), kGrey);
        s.skip(std::max(s.text({label, y}, s.width() - label, value, f), s.mm(4.5)));
    };
    field(QStringLiteral("Made on"), t.madeAt, s.font(9.5));
    if (e.onServer) {
        field(QStringLiteral("Election server"), e.file, s.font(9.5));
    } else {
        field(QStringLiteral("Election file"), e.file, s.font(9.5));
        field(QStringLiteral("SHA-256"), QString::fromLatin1(e.sha256), s.mono());
    }
    // What was counted, as any copy of the election gives it again.
    field(QStringLiteral("Counted"), QString::fromLatin1(e.digest), s.mono());
    s.skip(s.mm(5));

    s.skip(s.text({0, s.y()}, s.width(), QStringLiteral("Turnout"), s.font(12, true)) + s.mm(1));
    auto turnout = [&](const QString &name, qint64 n, bool withShare) {
        const qreal y = s.y();
        s.text({0, y}, s.width() * 0.55, name, s.font(9.5));
        s.text({s.width() * 0.55, y}, s.width() * 0.2, count(n), s.font(9.5), kInk, Qt::AlignRight);
        s.skip(std::max(s.text({s.width() * 0.75, y}, s.width() * 0.12, withShare ? share(n, e.accounts) : QString(),
                               s.font(9.5), kInk, Qt::AlignRight),
                        s.mm(5)));
    };
    turnout(QStringLiteral("Accounts registered"), e.accounts, false);
    turnout(QStringLiteral("Accounts that have logged in to vote"), e.loggedIn, true);
    turnout(QStringLiteral("Accounts not yet logged in"), e.accounts - e.loggedIn, true);
    s.skip(s.mm(8));
}

// What the election's record holds since the zero report: every change to the
// ballot or the register, failed administrator log-ins, stations stopped by a failure.
void afterZeroReport(Sheet &s, const ElectionSnapshot &e)
{
    if (e.nothingCast())
        return;
    s.skip(s.text({0, s.y()}, s.width(), QStringLiteral("After the zero report"), s.font(12, true)) + s.mm(1));
    QStringList lines;
    qsizetype from = -1;
    for (qsizetype i = 0; i < e.record.size(); ++i)
        if (e.record[i].what.startsWith(QLatin1String("zero report written")))
            from = i;
    if (!e.hasRecord || from < 0) {
        lines << QStringLiteral("No zero report of this election is on its record.");
    } else {
        static const QRegularExpression noted(
            QStringLiteral("^((Positions|CandInfo|CandVote|Users|Administrators) |administrator log-in failed|"
                           "station stopped by a failure)"));
        for (qsizetype i = from + 1; i < e.record.size(); ++i)
            if (noted.match(e.record[i].what).hasMatch())
                lines << QStringLiteral("%1  %2  %3").arg(e.record[i].at, e.record[i].station, e.record[i].what);
        if (lines.isEmpty())
            lines << QStringLiteral("None");
    }
    lines << QStringLiteral("Failed log-ins in all: %1 administrator, %2 voter")
                 .arg(count(e.failedAdminLogIns), count(e.failedVoterLogIns));
    for (const QString &line : lines)
        s.skip(std::max(s.text({0, s.y()}, s.width(), line, s.font(8.5)), s.mm(4)));
    s.skip(s.mm(6));
}

void signatures(Sheet &s)
{
    const qreal block = s.mm(8 + 3 * 19);
    if (block > s.room())
        s.newPage();
    s.skip(s.mm(2));
    s.skip(s.text({0, s.y()}, s.width(), QStringLiteral("Certified by the election committee"), s.font(12, true)) +
           s.mm(2));
    const qreal w = s.width(), gap = s.mm(6), name = w * 0.40, sig = w * 0.36, date = w - name - sig - 2 * gap;
    for (int i = 1; i <= 3; ++i) {
        s.skip(s.mm(11));
        const qreal y = s.y();
        s.line(0, y, name, kInk);
        s.line(name + gap, y, name + gap + sig, kInk);
        s.line(name + sig + 2 * gap, y, w, kInk);
        s.skip(s.mm(1));
        s.text({0, s.y()}, name, QStringLiteral("Name (member %1)").arg(i), s.font(8), kGrey);
        s.text({name + gap, s.y()}, sig, QStringLiteral("Signature"), s.font(8), kGrey);
        s.text({name + sig + 2 * gap, s.y()}, date, QStringLiteral("Date"), s.font(8), kGrey);
        s.skip(s.mm(7));
    }
}

int layOut(QPdfWriter &writer, QPainter *painter, int pageCount, const ElectionSnapshot &e, const ReportText &t)
{
    const QString counted = e.onServer ? QStringLiteral("server %1").arg(isolated(e.file))
                                       : QStringLiteral("SHA-256 %1…").arg(QString::fromLatin1(e.sha256.left(16)));
    const QString footer = QStringLiteral("%1 · %2 · %3 · %4").arg(t.kind, isolated(t.title), t.madeAt, counted);
    Sheet s(writer, painter, pageCount, footer);
    heading(s, e, t);
    for (const PositionCount &p : e.positions)
        position(s, p);
    afterZeroReport(s, e);
    signatures(s);
    s.finishPage();
    return s.pages();
}

// The commands that draw pages: the report and the password slips.
bool isDrawingCommand(int argc, char **argv)
{
    return argc > 1 && (std::strcmp(argv[1], "report") == 0 || std::strcmp(argv[1], "slips") == 0);
}

// The offscreen platform warns that it has no runtime folder; the report needs none.
QtMessageHandler g_messages = nullptr;
void quietMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.contains(QLatin1String("XDG_RUNTIME_DIR")))
        g_messages(type, context, text);
}

} // namespace

std::unique_ptr<QCoreApplication> makeApplication(int &argc, char **argv)
{
    if (!isDrawingCommand(argc, argv))
        return std::make_unique<QCoreApplication>(argc, argv);
    // The report and the slips draw their pages with the toolkit's painter, which
    // needs a graphical application; it shows nothing, so it needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g_messages = qInstallMessageHandler(quietMessages);
    return std::make_unique<QGuiApplication>(argc, argv);
}

namespace {

// Where the report goes: the file named, or one named after the kind and the time.
QString outFor(const QString &named, bool zero)
{
    static const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!named.isEmpty())
        return named;
    return (zero ? QStringLiteral("zero-report-") : QStringLiteral("results-report-")) + stamp + QStringLiteral(".pdf");
}

} // namespace

int runReport(const QStringList &args)
{
    const QString me = QStringLiteral("pollaris-admin report");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Write the results report as a PDF: turnout, every position in the order of the\n"
                       "ballot with its candidates ranked as on the results screen, their votes, shares and\n"
                       "bars, and lines for three members of the committee to sign. Before any account has\n"
                       "logged in and while every tally is 0 it is the zero report. The report goes on the\n"
                       "election's record first; then the report names the file it counted with its SHA-256, so\n"
                       "the sheet says exactly what it counted."));
    parser.addHelpOption();
    QCommandLineOption outOption(QStringLiteral("out"),
                                 QStringLiteral("The PDF to write; it must not exist yet (default: "
                                                "results-report-DATE-TIME.pdf or zero-report-DATE-TIME.pdf here)."),
                                 QStringLiteral("FILE.pdf"));
    QCommandLineOption titleOption(QStringLiteral("title"),
                                   QStringLiteral("The title at the top of the report (default: Student election)."),
                                   QStringLiteral("TEXT"), QStringLiteral("Student election"));
    QCommandLineOption pageOption(QStringLiteral("page-size"), QStringLiteral("A4 (default) or Letter."),
                                  QStringLiteral("A4|Letter"), QStringLiteral("A4"));
    parser.addOptions({outOption, titleOption, pageOption, Target::serverOption()});
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The election file (default: candpos4.mdb beside this tool)."),
                                 QStringLiteral("[FILE]"));
    if (const std::optional<int> done = parseCommandLine(parser, args, QStringLiteral("report")))
        return *done;
    const QString pageName = parser.value(pageOption);
    QPageSize::PageSizeId pageSize;
    if (pageName.compare(QLatin1String("A4"), Qt::CaseInsensitive) == 0) {
        pageSize = QPageSize::A4;
    } else if (pageName.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0) {
        pageSize = QPageSize::Letter;
    } else {
        Console::err(QStringLiteral("%1: the page size is A4 or Letter, not '%2'\n").arg(me, pageName));
        return 2;
    }
    QString file;
    if (const std::optional<int> wrong = electionToRead(parser, QStringLiteral("report"), file))
        return *wrong;

    // The report goes on the election's record first, so that what it counts (and,
    // of a file, the hash it names) is the election as it stays afterwards.
    std::optional<ElectionSnapshot> read = ElectionSnapshot::readOrReport(me, file, false);
    if (!read)
        return 1;
    try {
        store::Connection::open(file)->appendLog(
            toolStation(), (read->nothingCast() ? QStringLiteral("zero report written to %1")
                                                : QStringLiteral("results report written to %1"))
                               .arg(QFileInfo(outFor(parser.value(outOption), read->nothingCast())).fileName()));
    } catch (const store::StoreError &e) {
        Console::err(
            QStringLiteral("%1: %2: %3 (error %4)\n").arg(me, Target::describe(file), e.text()).arg(e.number()));
        return 1;
    }
    read = ElectionSnapshot::readOrReport(me, file, true);
    if (!read)
        return 1;
    const ElectionSnapshot &election = *read;

    const QDateTime now = QDateTime::currentDateTime();
    ReportText text;
    text.title = parser.value(titleOption);
    text.kind = election.nothingCast() ? QStringLiteral("Zero report") : QStringLiteral("Results report");
    text.madeAt = now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + now.timeZoneAbbreviation();
    const QString out = outFor(parser.value(outOption), election.nothingCast());

    // Never over another file: the report is written only where nothing is yet.
    QFile pdf(out);
    if (!pdf.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        Console::err(QFileInfo::exists(out)
                         ? QStringLiteral("%1: %2 already exists; it was left untouched\n").arg(me, out)
                         : QStringLiteral("%1: cannot write %2: %3\n").arg(me, out, pdf.errorString()));
        return 1;
    }
    int pages = 0;
    {
        QPdfWriter writer(&pdf);
        writer.setTitle(text.title + QStringLiteral(" – ") + text.kind);
        writer.setCreator(QStringLiteral("pollaris-admin report"));
        writer.setResolution(600);
        writer.setPageLayout(QPageLayout(QPageSize(pageSize), QPageLayout::Portrait, QMarginsF(18, 16, 18, 12),
                                         QPageLayout::Millimeter));
        const int pageCount = layOut(writer, nullptr, 0, election, text);
        QPainter painter;
        if (!painter.begin(&writer)) {
            pdf.remove();
            Console::err(QStringLiteral("%1: cannot write %2\n").arg(me, out));
            return 1;
        }
        pages = layOut(writer, &painter, pageCount, election, text);
        painter.end();
    }
    if (!pdf.flush() || pdf.error() != QFileDevice::NoError) {
        Console::err(QStringLiteral("%1: cannot write %2: %3\n").arg(me, out, pdf.errorString()));
        pdf.remove();
        return 1;
    }
    pdf.close();
    Console::out(QStringLiteral("%1 of %2 written to %3 (%4 %5)\n")
                     .arg(text.kind, election.file, out)
                     .arg(pages)
                     .arg(pages == 1 ? QStringLiteral("page") : QStringLiteral("pages")));
    return 0;
}

} // namespace Commands
