#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace kestrella {

// The About box: the program's title, version and a note from its author, and a way to the home site.
// Modeless, and at most one exists. OK, Enter and Esc close it and it deletes itself: connect to
// QObject::destroyed to learn that it has gone. It has no parent, so it outlives the main window and keeps the
// program running until it is closed.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    // Shows the About box, creating it the first time; while it is open, later calls show, raise and activate the
    // same one without running its load steps again. A new box is centred on the owner's screen.
    static frmAbout* showInstance(QWidget* owner = nullptr);
    // The open About box, or nullptr.
    static frmAbout* instance();

protected:
    void showEvent(QShowEvent* event) override;

private:
    frmAbout();
    void createControls();
    void placeControls();
    void setTabOrder();
    void connectHandlers();

    // Event routines.
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    bool m_loaded = false;

    // Controls, by their names.
    QLabel* Picture1;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QFrame* Line1;
    QLabel* lblDisclaimer;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
};

} // namespace kestrella
