#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QComboBox;
class QFocusEvent;
class QLabel;
class QListWidget;
class QPushButton;
namespace store {
class RecordCursor;
}

// The ballot: the voter picks a position, then a candidate, and votes; each
// position can be voted on once per log-in.
class frmVoter final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmVoter;
    frmVoter();

    QLabel *lblDesignPanel1;
    QLabel *lblWelcome; // the greeting, written by the voter log-in
    QLabel *lblPosition;
    QComboBox *cmbbxPosition;
    QLabel *lblListofCand;
    QListWidget *lstCandidate;
    QLabel *lblDesignPanel3;
    QLabel *lblCanDetails;
    QLabel *lblName;
    QLabel *lblCandName;
    QLabel *lblStudentID;
    QLabel *lblCandStudID;
    QLabel *lblCPosition;
    QLabel *lblCandPosition;
    QLabel *lblDesignPanel2;
    QPushButton *cmdVote;
    QPushButton *cmdDone;
    // Hidden code lists, parallel to cmbbxPosition and lstCandidate.
    QListWidget *lstPosID;
    QListWidget *lstCandID;

    store::RecordCursor *dcPos;
    store::RecordCursor *dcCandInfo;
    store::RecordCursor *dcCandInfo2;
    store::RecordCursor *dcPos2;
    store::RecordCursor *dcCandVote;

    // Reloads the whole ballot: every position, nothing chosen, nothing listed.
    void MainVoterDataLoad(int unused = 0);

    void cmbbxPosition_Click(int index);
    void lstCandidate_Click(int row);
    void cmdVote_Click();
    bool CandidateGone(const QString &candId);
    void cmdDone_Click();

protected:
    void Form_Load() override;
    void Form_GotFocus();
    void focusInEvent(QFocusEvent *event) override;
};
