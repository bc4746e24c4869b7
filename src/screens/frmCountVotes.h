#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QListWidget;
class QPushButton;
namespace store {
class RecordCursor;
}

// The ranked vote count of one position.
class frmCountVotes final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmCountVotes;
    frmCountVotes();

    QLabel *lblPanel;
    QLabel *lblTitle;
    QListWidget *lstResults;
    QPushButton *cmdOK;
    store::RecordCursor *dcPos;
    store::RecordCursor *dcCandInfo;
    store::RecordCursor *dcCandVote;

    void GetnDisplay(const QString &CandPosID);
    void cmdOK_Click();

    // One line of the results: the name, dashes to fill up to 70 less the name's
    // length less the tally, and the tally with the place of its sign.
    static QString ResultLine(const QString &name, qint64 votes);
    // The same line as a screen reader reads it: "Maria Santos, 12 votes".
    static QString SpokenLine(const QString &name, qint64 votes);

protected:
    void Form_Load() override;
};
