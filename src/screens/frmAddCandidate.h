#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
namespace store {
class RecordCursor;
}

// Registers one candidate for a chosen position, with a tally of no votes.
class frmAddCandidate final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAddCandidate;
    frmAddCandidate();

    QLabel *lblName;
    QLineEdit *txtName;
    QLabel *lblStudentID;
    QLineEdit *txtStudentID;
    QLabel *lblCandID;
    QLineEdit *txtCandID;
    QLabel *Label2;
    QLabel *lblPosition;
    QComboBox *cmbbxPosition;
    QListWidget *lstPosID; // hidden, parallel to cmbbxPosition
    QPushButton *cmdOK;
    QPushButton *cmdCancel;

    store::RecordCursor *dcCheckCand;
    store::RecordCursor *dcAddCand;
    store::RecordCursor *dcAddCandVote;
    store::RecordCursor *dcPos;
    store::RecordCursor *dcCheckPos;

    void PositionDataLoad();
    void cmbbxPosition_Click(int index);
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
