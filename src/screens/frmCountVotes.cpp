#include "frmCountVotes.h"

#include "frmMainAdmin.h"
#include "shell/Look.h"
#include "store/RecordCursor.h"
#include "store/StoreError.h"

#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStringList>

frmCountVotes::frmCountVotes() : Screen(QStringLiteral("Voting Results"), 6915, 7080)
{
    lblPanel = Look::band(this, QStringLiteral("lblPanel"));
    Look::place(lblPanel, 0, 0, 6915, 855);
    lblTitle = Look::label(this, QStringLiteral("lblTitle"), QStringLiteral("Vote Results for"), Look::boldArial());
    QPalette onBand = lblTitle->palette();
    onBand.setColor(QPalette::WindowText, Qt::white);
    lblTitle->setPalette(onBand);
    Look::place(lblTitle, 240, 480, 6435, 300);
    lstResults = Look::list(this, QStringLiteral("lstResults"));
    Look::place(lstResults, 240, 1080, 6435, 5160);
    cmdOK = Look::button(this, QStringLiteral("cmdOK"), QStringLiteral("&OK"));
    Look::place(cmdOK, 4980, 6435, 1695, 435);
    dcPos = new store::RecordCursor(QStringLiteral("dcPos"), QStringLiteral("Positions"), this);
    dcCandInfo = new store::RecordCursor(QStringLiteral("dcCandInfo"), QStringLiteral("CandInfo"), this);
    dcCandVote = new store::RecordCursor(QStringLiteral("dcCandVote"), QStringLiteral("CandVote"), this);

    setTabOrder(lstResults, cmdOK);
    Shell::Connect(cmdOK, &QPushButton::clicked, this, &frmCountVotes::cmdOK_Click);
}

void frmCountVotes::Form_Load()
{
    const QString path = DatabasePath();
    dcCandVote->setDatabaseName(path);
    dcPos->setDatabaseName(path);
    dcCandInfo->setDatabaseName(path);
}

QString frmCountVotes::ResultLine(const QString &name, qint64 votes)
{
    // Wide arithmetic: a tally beyond 16 bits must not turn into a wrong filler.
    const qint64 filler = 70 - qint64(name.size()) - votes;
    const QString tally = (votes >= 0 ? QStringLiteral(" ") : QString()) + QString::number(votes);
    return name + QString(filler > 0 ? qsizetype(filler) : 0, QLatin1Char('-')) + tally;
}

QString frmCountVotes::SpokenLine(const QString &name, qint64 votes)
{
    return name + QStringLiteral(", ") + QString::number(votes) +
           (votes == 1 ? QStringLiteral(" vote") : QStringLiteral(" votes"));
}

void frmCountVotes::GetnDisplay(const QString &CandPosID)
{
    dcPos->setRecordSource(QStringLiteral("Select * From Positions where PosID ='") + CandPosID + QStringLiteral("'"));
    dcPos->Refresh();
    lblTitle->setText(QStringLiteral("Voting Results for ") + dcPos->FieldText(QStringLiteral("PosName")));
    lstResults->setAccessibleName(lblTitle->text());
    dcCandInfo->setRecordSource(QStringLiteral("Select * From CandInfo Where PosID ='") + CandPosID +
                                QStringLiteral("'"));
    dcCandInfo->Refresh();
    lstResults->clear();
    dcCandVote->setRecordSource(QStringLiteral("Select * From CandVote Order by Numvotes Desc"));
    dcCandVote->Refresh();
    if (!dcCandVote->EOF_())
        dcCandVote->MoveLast();
    if (!dcCandInfo->EOF_())
        dcCandInfo->MoveLast();
    if (dcCandVote->RecordCount() == 0 || dcCandInfo->RecordCount() == 0)
        return;
    dcCandVote->MoveFirst();
    dcCandInfo->MoveFirst();

    // The position's candidates by code, the first row of a code counting, so
    // that each tally row finds its candidate in one step.
    QHash<QString, QString> nameOf;
    const qint32 candidates = dcCandInfo->RecordCount();
    // Candidates another station deletes between the count and the reading end the list early.
    for (qint32 j = 0; j < candidates && !dcCandInfo->EOF_(); ++j) {
        const QString code = dcCandInfo->FieldText(QStringLiteral("CandID"));
        if (!code.isEmpty() && !nameOf.contains(code))
            nameOf.insert(code, dcCandInfo->FieldText(QStringLiteral("CandName")));
        dcCandInfo->MoveNext();
    }
    // One line for each tally row of the position's candidates, in rank order.
    QStringList lines, spoken;
    const qint32 tallies = dcCandVote->RecordCount();
    for (qint32 i = 0; i < tallies; ++i) {
        const auto found = nameOf.constFind(dcCandVote->FieldText(QStringLiteral("CandID")));
        if (found != nameOf.constEnd()) {
            const QVariant votes = dcCandVote->Field(QStringLiteral("Numvotes"));
            // A tally without a value cannot be shown as any number, and one that the
            // engine holds as text or as a fraction (written by other means) is no
            // count: shown, it would be ranked and lined up wrongly.
            if (votes.isNull())
                throw store::StoreError(store::InvalidUseOfNull, QStringLiteral("Invalid use of Null"));
            if (votes.typeId() != QMetaType::LongLong)
                throw store::StoreError(store::TypeMismatch, QStringLiteral("Type mismatch"));
            lines << ResultLine(found.value(), votes.toLongLong());
            spoken << SpokenLine(found.value(), votes.toLongLong());
        }
        dcCandVote->MoveNext();
    }
    lstResults->setUpdatesEnabled(false);
    lstResults->addItems(lines);
    // A screen reader reads each line as "name, 12 votes", not the dashes.
    for (int i = 0; i < spoken.size(); ++i)
        lstResults->item(i)->setData(Qt::AccessibleTextRole, spoken.at(i));
    lstResults->setUpdatesEnabled(true);
}

void frmCountVotes::cmdOK_Click()
{
    Hide();
    Shell::Show<frmMainAdmin>();
    Shell::Get<frmMainAdmin>().MainAdminDataLoad(0);
}
