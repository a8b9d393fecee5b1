#pragma once

#include "records/datasource.h"

#include <QPointer>
#include <QWidget>
#include <optional>

class QColor;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class QWindow;

namespace kestrella {

class ProgramListModel;

// The main window: the program list and its type filter on the left, the chosen record on the right,
// the commands along the top. Controls carry their names as object names.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(const QString& applicationFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    // Points the data source at the data file and lists every program. False when the file could not
    // be opened; the failure has been shown by then.
    bool Form_Load();
    // Runs when the window becomes active again from another window of the program.
    void Form_Activate();
    // The About box's way of handing the activation back when it closes.
    void aboutBoxClosed();

    // The view state (both false), adding (pending only) and editing (both).
    bool changePending() const { return ChangePending; }
    bool editingExisting() const { return EditingExisting; }

    DataSource& datProgram() { return *m_datProgram; }
    const ProgramListModel& programList() const { return *m_programList; }

    // The record fields' colours for the editing and the view state.
    void SetEditColors();
    void SetNormalColors();

    // Pages on the home site.
    static const QString HelpPage;
    static const QString MasterListPage;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Selects a filter entry from code, matching its text without regard to case; a change of entry runs
    // cboSort_Click at once, as a user's choice does.
    void setSortText(const QString& text);

    // Event routines, run by the controls they are named after, and the filter's fill of the list.
    void cboSort_Click();
    void lstPrograms_Click();
    void FillProgramList();
    void cmdAdd_Click();
    void cmdSave_Click();
    void cmdModify_Click();
    void cmdCancel_Click();
    void cmdDelete_Click();
    void cmdLoginOpen_Click();
    void cmdRefOpen_Click();
    void cmdStartOpen_Click();
    void cmdHelp_Click();
    void cmdCheckList_Click();
    void cmdResetLogin_Click();
    void cmdAbout_Click();
    void cmdExit_Click();

    // Form-level values.
    bool ChangePending = false;
    bool EditingExisting = false;
    std::optional<Bookmark> BookmarkBeforeAdd;

    void createControls();
    void placeControls();
    void setTabOrder();
    void bindFields();
    void connectHandlers();
    void trackActivation(QWindow* focusWindow);

    void paintRecordFields(const QColor& colour);
    void paintDesignColours();
    void setRecordBoxesLocked(bool locked);
    void showChoosers(bool show);
    // The controls that an addition and an edit switch alike on entering, and Save and Cancel on leaving.
    void enterEditingControls();
    void leaveEditingControls();
    void setOpenButtonsFromRecord();
    void carryChooserPicks();
    void addToCount(int delta);
    int selectedRow() const;
    void removeSelectedEntry();
    void selectEntryOfShownRecord();
    void showPendingChangeMessage();
    void onListSelectionChanged();
    void onListClicked();
    template <typename Button>
    void onClick(Button* button, void (frmMain::*handler)());

    // The wait cursor, while a step may wait for a file that another program holds locked.
    class WaitCursor
    {
    public:
        WaitCursor();
        ~WaitCursor();
        WaitCursor(const WaitCursor&) = delete;
        WaitCursor& operator=(const WaitCursor&) = delete;
    };

    QString m_applicationFolder;
    DataSource* m_datProgram;
    ProgramListModel* m_programList;
    bool m_changingListSelection = false;
    bool m_selectionChangedByPress = false;
    bool m_activatedOnce = false;
    int m_listedFilter = -1; // the filter entry whose set the list shows
    QPointer<QWindow> m_otherWindowOfOurs;
    QPointer<QWidget> m_aboutBox;

    // Controls, by their names.
    QToolButton* cmdAdd;
    QToolButton* cmdDelete;
    QToolButton* cmdSave;
    QToolButton* cmdCancel;
    QToolButton* cmdModify;
    QToolButton* cmdAbout;
    QToolButton* cmdCheckList;
    QToolButton* cmdHelp;
    QToolButton* cmdExit;
    QGroupBox* frmList;
    QListView* lstPrograms;
    QLabel* Label1;
    QLabel* lblCount;
    QComboBox* cboSort;
    QGroupBox* Frame1;
    QLabel* lblProName;
    QLabel* lblUserName;
    QLabel* lblPassword;
    QLabel* lblLoginUrl;
    QLabel* lblRefUrl;
    QLabel* lblStart;
    QLabel* lblRatings;
    QLabel* lblType;
    QLabel* lblComments;
    QLabel* lblLastLogin;
    QLineEdit* txtProName;
    QLineEdit* txtProUserName;
    QLineEdit* txtProPassword;
    QLineEdit* txtProLogin;
    QLineEdit* txtProUrlReferral;
    QLineEdit* txtStart;
    QLineEdit* txtRateit;
    QLineEdit* txtType;
    QPlainTextEdit* txtComments;
    QLineEdit* txtLastLogin;
    QComboBox* cboRateit;
    QComboBox* cboType;
    QPushButton* cmdLoginOpen;
    QPushButton* cmdRefOpen;
    QPushButton* cmdStartOpen;
    QPushButton* cmdResetLogin;
};

} // namespace kestrella
