#pragma once

class QComboBox;
class QListWidget;
namespace store {
class RecordCursor;
}

// Fills a position choice and its parallel code list from Positions, the same
// for both candidate dialogs. With no position at all both are left as they
// are; afterwards no position is chosen.
void PositionDataLoad(store::RecordCursor *dcPos, QComboBox *cmbbxPosition, QListWidget *lstPosID);
