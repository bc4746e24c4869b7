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

// The candidates and positions panel: the ballot's positions and candidates,
// with the buttons that add, edit and delete them and open the results.
class frmMainAdmin final : public Screen {
    Q_OBJECT
public:
    static constexpr Shell::Slot kSlot = Shell::Slot::frmMainAdmin;
    frmMainAdmin();

    QLabel *lblDesignPanel1;
    QLabel *lblPosition;
    QComboBox *cmbbxPosition;
    QListWidget *lstPosID; // shown: the codes of the positions, parallel to cmbbxPosition
    QLabel *lblListofCand;
    QListWidget *lstCandidate;
    QListWidget *lstCandID; // hidden, parallel to lstCandidate
    QLabel *lblDesignPanel3;
    QPushButton *cmdAddPos;
    QPushButton *cmdDelPos;
    QLabel *lblCanDetails;
    QLabel *lblName;
    QLabel *lblCandName;
    QLabel *lblStudentID;
    QLabel *lblCandStudID;
    QLabel *lblCPosition;
    QLabel *lblCandPosition;
    QLabel *lblDesignPanel2;
    QPushButton *cmdNewCand;
    QPushButton *cmdDelCand;
    QPushButton *cmdCount;
    QPushButton *cmdEditCand;
    QPushButton *cmdBack;

    store::RecordCursor *dcPos;
    store::RecordCursor *dcCandInfo;
    store::RecordCursor *dcCandInfo2;
    store::RecordCursor *dcPos2;
    store::RecordCursor *dcCandVote;

    // Reloads the panel: every position, nothing chosen, nothing listed.
    void MainAdminDataLoad(int unused = 0);

    void cmbbxPosition_Click(int index);
    void lstCandidate_Click(int row);
    void cmdAddPos_Click();
    void cmdDelPos_Click();
    void cmdNewCand_Click();
    void cmdDelCand_Click();
    void cmdEditCand_Click();
    void cmdCount_Click();
    void cmdBack_Click();

protected:
    void Form_Load() override;
    void Form_GotFocus();
    void focusInEvent(QFocusEvent *event) override;

private:
    void RemoveRow(store::RecordCursor *cursor, const QString &query, const QString &code);
    void RemoveFirstRows(store::RecordCursor *cursor, const QString &table, const QStringList &codes);
};
