#include "PositionDataLoad.h"

#include "store/RecordCursor.h"

#include <QComboBox>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStringList>

void PositionDataLoad(store::RecordCursor *dcPos, QComboBox *cmbbxPosition, QListWidget *lstPosID)
{
    dcPos->setRecordSource(QStringLiteral("Select * from Positions"));
    dcPos->Refresh();
    if (dcPos->BOF())
        return;
    dcPos->MoveLast();
    // A full-width count: a 16-bit one would drop positions beyond 32,767.
    const qint32 n = dcPos->RecordCount();
    dcPos->MoveFirst();

    QStringList names, codes;
    names.reserve(n);
    codes.reserve(n);
    for (qint32 i = 0; i < n; ++i) {
        names.append(dcPos->FieldText(QStringLiteral("PosName")));
        codes.append(dcPos->FieldText(QStringLiteral("PosID")));
        dcPos->MoveNext();
    }
    {
        // Adding the first entry would choose it by itself.
        const QSignalBlocker blocker(cmbbxPosition);
        cmbbxPosition->clear();
        lstPosID->clear();
        cmbbxPosition->addItems(names);
        lstPosID->addItems(codes);
        cmbbxPosition->setCurrentIndex(-1);
    }
    lstPosID->setCurrentRow(-1);
}
