#pragma once

#include <QString>

class QComboBox;
class QListWidget;
namespace store {
class RecordCursor;
}

// A shown list (a choice or a list box) with a list of codes kept parallel to it:
// entry i of the codes is the code of the row shown as entry i.
//
// FillParallel runs the list pattern on a refreshed cursor that is not at BOF:
// MoveLast, take the full RecordCount, MoveFirst, then each row's shown field and
// code appended in the order received. Each list is filled in one call (a position
// may have thousands of candidates, a register 100,000 voters); afterwards nothing
// is chosen or selected.
namespace ParallelList {

void FillParallel(store::RecordCursor *dc, const QString &shownField, QComboBox *shown, const QString &codeField,
                  QListWidget *codes);
void FillParallel(store::RecordCursor *dc, const QString &shownField, QListWidget *shown, const QString &codeField,
                  QListWidget *codes);

} // namespace ParallelList
