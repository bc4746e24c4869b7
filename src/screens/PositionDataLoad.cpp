#include "PositionDataLoad.h"

#include "shell/ParallelList.h"
#include "store/RecordCursor.h"

#include <QComboBox>
#include <QListWidget>
#include <QSignalBlocker>

void PositionDataLoad(store::RecordCursor *dcPos, QComboBox *cmbbxPosition, QListWidget *lstPosID)
{
    dcPos->setRecordSource(QStringLiteral("Select * from Positions"));
    dcPos->Refresh();
    if (dcPos->BOF())
        return;
    {
        // Emptying the choice is no choice of the administrator's.
        const QSignalBlocker blocker(cmbbxPosition);
        cmbbxPosition->clear();
    }
    lstPosID->clear();
    ParallelList::FillParallel(dcPos, QStringLiteral("PosName"), cmbbxPosition, QStringLiteral("PosID"), lstPosID);
}
