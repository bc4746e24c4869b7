#pragma once

#include <QWidget>

// One screen of the program: a top-level window with exactly one object for the
// life of the program, shown and hidden rather than opened and closed. Its load
// handler runs once, at its first Show; afterwards every record cursor of the
// screen is refreshed once with the record source it then holds.
class Screen : public QWidget {
    Q_OBJECT
public:
    Screen(const QString &caption, int clientWidthTwips, int clientHeightTwips);
    // Destroying a screen's object ends the program.
    ~Screen() override;

    void Show();
    void Hide();
    bool IsLoaded() const { return m_loaded; }

    // The election: the file in the program's folder, or the server named on the
    // command line.
    static QString DatabasePath();

protected:
    virtual void Form_Load() {}
    void Form_Terminate();
    // Closing any window with the frame's close control ends the program.
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_loaded = false;
    // In a kiosk, the frameless full-screen window the screen sits in, centred.
    QWidget *m_kioskFrame = nullptr;
};
