#include "ParallelList.h"

#include "store/RecordCursor.h"

#include <QComboBox>
#include <QListWidget>
#include <QSignalBlocker>
#include <QStringList>

namespace ParallelList {

namespace {

void readRows(store::RecordCursor *dc, const QString &shownField, const QString &codeField, QStringList &shown,
              QStringList &codes)
{
    dc->MoveLast();
    // The full count: one cut to 16 bits would silently leave rows out.
    const qint32 n = dc->RecordCount();
    dc->MoveFirst();
    shown.reserve(n);
    codes.reserve(n);
    // Rows another station deletes between the count and the reading end the list early.
    for (qint32 i = 0; i < n && !dc->EOF_(); ++i) {
        shown.append(dc->FieldText(shownField));
        codes.append(dc->FieldText(codeField));
        dc->MoveNext();
    }
}

void addCodes(QListWidget *codes, const QStringList &texts)
{
    codes->addItems(texts);
    codes->setCurrentRow(-1);
}

} // namespace

void FillParallel(store::RecordCursor *dc, const QString &shownField, QComboBox *shown, const QString &codeField,
                  QListWidget *codes)
{
    QStringList shownTexts, codeTexts;
    readRows(dc, shownField, codeField, shownTexts, codeTexts);
    {
        // Adding the first entry to an empty choice would choose it by itself.
        const QSignalBlocker blocker(shown);
        shown->addItems(shownTexts);
        shown->setCurrentIndex(-1);
    }
    addCodes(codes, codeTexts);
}

void FillParallel(store::RecordCursor *dc, const QString &shownField, QListWidget *shown, const QString &codeField,
                  QListWidget *codes)
{
    QStringList shownTexts, codeTexts;
    readRows(dc, shownField, codeField, shownTexts, codeTexts);
    shown->addItems(shownTexts);
    addCodes(codes, codeTexts);
}

} // namespace ParallelList
