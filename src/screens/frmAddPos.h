#pragma once

#include "shell/Screen.h"
#include "shell/Shell.h"

class QLabel;
class QLineEdit;
class QPushButton;
namespace store {
class RecordCursor;
}

// Creates one elective position: a name and a code of one to five characters.
class frmAddPos final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmAddPos;
    frmAddPos();

    QLabel *lbl1;
    QLineEdit *txtPosName;
    QLabel *lbl2;
    QLabel *lbl3;
    QLineEdit *txtPosID;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;

    store::RecordCursor *dcCheckPosID;
    store::RecordCursor *dcAddPos;

    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;
};
