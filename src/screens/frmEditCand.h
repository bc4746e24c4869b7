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

// Changes a candidate's name, student ID and position; the code stays.
class frmEditCand final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmEditCand;
    frmEditCand();

    QLabel *lblName;
    QLineEdit *txtName;
    QLabel *lblStudentID;
    QLineEdit *txtStudentID;
    QLabel *lblCandID;
    QLabel *lblCandidateID; // the code of the candidate being edited
    QLabel *lblPosition;
    QComboBox *cmbbxPosition;
    QListWidget *lstPosID; // hidden, parallel to cmbbxPosition
    QPushButton *cmdOK;
    QPushButton *cmdCancel;

    store::RecordCursor *dcCandInfo;
    store::RecordCursor *dcPos;
    store::RecordCursor *dcCheckPos; // the chosen position, still there as the change is saved

    // CandPos is the code of the candidate's position, not its name.
    void ShowCandDetails(const QString &CandName, const QString &StudID, const QString &CandPos, const QString &CandID);
    void PositionDataLoad();
    void cmbbxPosition_Click(int index);
    void cmdOK_Click();
    void cmdCancel_Click();

protected:
    void Form_Load() override;

private:
    // Back to the candidates panel, read afresh.
    void ReturnToPanel();
    // The candidate as it was shown when the dialog opened; the position by its own code.
    QString m_shownName, m_shownStudID, m_shownPos;
};
