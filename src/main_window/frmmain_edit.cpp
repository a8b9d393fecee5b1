// Adding, saving, editing, cancelling and deleting records.
#include "app/clock.h"
#include "app/controls.h"
#include "app/errors.h"
#include "app/messages.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/program.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

namespace kestrella {
namespace {

const QColor EditColor(255, 255, 192);
const QColor ViewColor(255, 255, 255);
// Both field colours are light, so their text is dark whatever the desktop's theme.
const QColor FieldTextColor(Qt::black);

void paint(QWidget* field, const QColor& colour)
{
    setColours(field, colour, FieldTextColor);
}

// Picks the entry that matches the stored value without regard to case (another tool may have stored it in other
// case); anything else leaves nothing picked.
void pickStoredEntry(QComboBox* chooser, const FieldValue& stored)
{
    chooser->setCurrentIndex(stored ? chooser->findText(*stored, Qt::MatchFixedString) : -1);
}

} // namespace

void frmMain::paintRecordFields(const QColor& colour)
{
    // The hidden text boxes or choosers are painted too, so whichever shows next is right already.
    for (QWidget* field :
         std::initializer_list<QWidget*>{txtProName, txtProUserName, txtProPassword, txtProLogin, txtProUrlReferral,
                                         txtStart, txtRateit, txtType, txtComments, cboRateit, cboType})
        paint(field, colour);
}

void frmMain::paintDesignColours()
{
    // Only the name box is white at start; the other fields follow the desktop until the first painting.
    paint(txtProName, ViewColor);
}

void frmMain::SetEditColors()
{
    paintRecordFields(EditColor);
}

void frmMain::SetNormalColors()
{
    paintRecordFields(ViewColor);
}

void frmMain::setRecordBoxesLocked(bool locked)
{
    for (QLineEdit* box : {txtProName, txtProUserName, txtProPassword, txtProLogin, txtProUrlReferral, txtStart})
        box->setReadOnly(locked);
    txtComments->setReadOnly(locked);
}

void frmMain::showChoosers(bool show)
{
    cboRateit->setVisible(show);
    cboType->setVisible(show);
    txtRateit->setVisible(!show);
    txtType->setVisible(!show);
    lblRatings->setBuddy(show ? static_cast<QWidget*>(cboRateit) : txtRateit);
    lblType->setBuddy(show ? static_cast<QWidget*>(cboType) : txtType);
}

void frmMain::enterEditingControls()
{
    showChoosers(true);
    cmdSave->setEnabled(true);
    // Cancel is offered, so an addition started by mistake can be given up.
    cmdCancel->setEnabled(true);
    for (QToolButton* off : {cmdDelete, cmdModify, cmdAdd})
        off->setEnabled(false);
    txtProName->setFocus();
    setRecordBoxesLocked(false);
    cmdResetLogin->setEnabled(false);
    lstPrograms->setEnabled(false);
    cboSort->setEnabled(false);
    SetEditColors();
}

void frmMain::leaveEditingControls()
{
    showChoosers(false);
    cmdAdd->setEnabled(true);
    cmdSave->setEnabled(false);
    cmdCancel->setEnabled(false);
    setRecordBoxesLocked(true);
    lstPrograms->setEnabled(true);
    cboSort->setEnabled(true);
    SetNormalColors();
    cmdAdd->setFocus(); // the boxes are read-only again
}

void frmMain::cmdAdd_Click()
{
    Recordset& rs = m_datProgram->recordset();
    resumeNext([&] { BookmarkBeforeAdd = rs.bookmark(); });
    // Without a new record a later Save would write over the record on show: stay put and say why.
    if (!runReported(this, [&] { rs.addNew(); }))
        return;
    ChangePending = true;
    enterEditingControls();
    txtLastLogin->setText(lastLoginText(Clock::current().today()));
    // A new record has no addresses yet; an edit keeps the Open buttons its pick gave.
    for (QPushButton* open : {cmdStartOpen, cmdRefOpen, cmdLoginOpen})
        open->setEnabled(false);
}

void frmMain::carryChooserPicks()
{
    // An addition takes what the choosers show, picked or not; an edit changes a field only when its
    // chooser has an entry picked, so a value the user never saw picked is never written.
    const std::pair<QComboBox*, QLineEdit*> pairs[] = {{cboRateit, txtRateit}, {cboType, txtType}};
    for (const auto& [chooser, box] : pairs) {
        if (!EditingExisting || chooser->currentIndex() >= 0) {
            box->setText(chooser->currentText());
            box->home(false);
        }
    }
}

void frmMain::cmdSave_Click()
{
    const QString cleaned = cleanProgramName(txtProName->text());
    if (cleaned != txtProName->text())
        txtProName->setText(cleaned);
    if (txtProName->text().isEmpty()) {
        showNotice(this, QStringLiteral(" Please Enter A Program Name ! "));
        txtProName->setFocus();
        return;
    }
    if (!ChangePending)
        return;
    carryChooserPicks();
    // Stored at once, so a crash right after Save loses nothing; a refused write keeps everything typed.
    if (!runReported(this, [this] {
            WaitCursor wait;
            m_datProgram->recordset().update();
        }))
        return;

    ChangePending = false;
    leaveEditingControls();
    // Neither acts on the saved record until it is picked again.
    cmdDelete->setEnabled(false);
    cmdModify->setEnabled(false);
    m_changingListSelection = true;
    m_programList->insertSorted(txtProName->text());
    m_changingListSelection = false;
    addToCount(+1);
    if (EditingExisting) {
        if (selectedRow() >= 0)
            removeSelectedEntry();
        EditingExisting = false;
        addToCount(-1);
    }
}

void frmMain::cmdModify_Click()
{
    if (txtProName->text().isEmpty()) {
        showNotice(this, QStringLiteral("Sorry! Nothing to Edit!"));
        return;
    }
    ChangePending = true;
    EditingExisting = true;
    enterEditingControls();
    Recordset& rs = m_datProgram->recordset();
    pickStoredEntry(cboType, std::nullopt);
    pickStoredEntry(cboRateit, std::nullopt);
    resumeNext([&] { pickStoredEntry(cboType, rs.fields(ProgramFields::Type).value()); });
    resumeNext([&] { pickStoredEntry(cboRateit, rs.fields(ProgramFields::Rate).value()); });
}

void frmMain::cmdCancel_Click()
{
    if (askDestructive(this, QStringLiteral("Are you Sure you want to Cancel ?"),
                       QStringLiteral("Cancel this Record?")) != MessageAnswer::Yes)
        return;
    if (EditingExisting) {
        m_datProgram->updateControls(); // what was typed is dropped, so no later move can store it
        leaveEditingControls();
        cmdModify->setEnabled(true);
    } else if (ChangePending) {
        // An addition given up: the new record vanishes and the one shown before comes back.
        Recordset& rs = m_datProgram->recordset();
        resumeNext([&] { rs.deleteCurrent(); });
        resumeNext([&] {
            if (BookmarkBeforeAdd)
                rs.setBookmark(*BookmarkBeforeAdd);
        });
        runReported(this, [this] { m_datProgram->refresh(); });
        leaveEditingControls();
        // Edit waits for a pick; Delete is offered for the record now on show, and the list follows it so that a
        // deletion takes its entry.
        cmdModify->setEnabled(false);
        selectEntryOfShownRecord();
    } else {
        return;
    }
    cmdDelete->setEnabled(true);
    ChangePending = false;
    EditingExisting = false;
}

void frmMain::cmdDelete_Click()
{
    Recordset& rs = m_datProgram->recordset();
    QString name;
    // With no current record there is nothing to name, so nothing is asked and nothing happens.
    if (!resumeNext([&] { name = rs.fields(ProgramFields::Name).value().value_or(QString()); }))
        return;
    if (askDestructive(this, QStringLiteral("Are you sure you want to delete this record for %1 ?").arg(name),
                       QStringLiteral("Delete this Record?")) != MessageAnswer::Yes)
        return;
    // A refused deletion is shown, and the list and the count stay as they were.
    if (!runReported(this, [&] { rs.deleteCurrent(); }))
        return;
    ChangePending = false;
    // A record without a name has no entry, but it was counted.
    if (selectedRow() >= 0)
        removeSelectedEntry();
    addToCount(-1);
    SetNormalColors();
    runReported(this, [this] { m_datProgram->refresh(); });
    cmdModify->setEnabled(false);
    cmdDelete->setEnabled(false);
    cmdAdd->setFocus();
}

} // namespace kestrella
