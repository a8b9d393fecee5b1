// The program list and its type filter.
#include "app/errors.h"
#include "app/messages.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/program.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QToolButton>

namespace kestrella {
namespace {

// The number a drop-down list raises for a text that none of its entries holds.
constexpr int TextNotAnEntryError = 383;

} // namespace

void frmMain::setSortText(const QString& text)
{
    const int index = cboSort->findText(text, Qt::MatchFixedString); // without regard to case
    if (index < 0)
        throw AppError(TextNotAnEntryError, QStringLiteral("'%1' is not an entry of the filter.").arg(text));
    if (index == cboSort->currentIndex())
        return;
    cboSort->setCurrentIndex(index);
    cboSort_Click();
}

void frmMain::cboSort_Click()
{
    cmdModify->setEnabled(false);
    cmdDelete->setEnabled(false);
    if (cboSort->currentText() == ListAllEntry) {
        m_datProgram->setRecordSource(selectAllStatement());
        m_datProgram->refresh();
        FillProgramList();
        m_listedFilter = cboSort->currentIndex();
    }
    if (cboSort->currentText() != ListAllEntry && !ChangePending) {
        m_datProgram->setRecordSource(selectByTypeStatement(cboSort->currentText()));
        m_datProgram->refresh();
        FillProgramList();
        m_listedFilter = cboSort->currentIndex();
    }
    if (ChangePending)
        showPendingChangeMessage();
}

void frmMain::FillProgramList()
{
    // The refresh and the walk each move the record on show; the fields catch up once, at the end.
    DataSource::DisplayFreeze freeze(*m_datProgram);
    Recordset& rs = m_datProgram->recordset();
    if (!ChangePending) {
        resumeNext([&] { m_datProgram->refresh(); });
        resumeNext([&] { m_datProgram->updateControls(); });
    }
    m_changingListSelection = true;
    m_programList->clear();
    m_changingListSelection = false;
    PackedTexts names;
    resumeNext([&] { names = rs.walkInListOrder(ProgramFields::Name); });
    qint64 count = 0;
    resumeNext([&] { count = rs.recordCount(); });
    m_programList->setNames(std::move(names));
    lblCount->setText(QString::number(count));
    lblCount->adjustSize();
}

void frmMain::lstPrograms_Click()
{
    if (!ChangePending) {
        // A pick that cannot be shown (the file locked or gone) is said, not passed over, and leaves the
        // selection, the commands and the set with the record the fields still show.
        const QString source = m_datProgram->recordSource();
        const bool shown = runReported(this, [&] {
            const int row = selectedRow();
            if (row < 0)
                return;
            WaitCursor wait;
            m_datProgram->setRecordSource(selectByNameStatement(m_programList->at(row)));
            m_datProgram->refresh();
        });
        if (!shown) {
            m_datProgram->setRecordSource(source);
            selectEntryOfShownRecord();
            return;
        }
    } else {
        showPendingChangeMessage();
    }
    setOpenButtonsFromRecord();
    cmdModify->setEnabled(true);
    cmdResetLogin->setEnabled(true);
    cmdDelete->setEnabled(true);
}

void frmMain::setOpenButtonsFromRecord()
{
    const std::pair<QPushButton*, QString> opens[] = {
        {cmdLoginOpen, ProgramFields::UrlLogin},
        {cmdRefOpen, ProgramFields::Referral},
        {cmdStartOpen, ProgramFields::Start},
    };
    for (const auto& [button, field] : opens)
        button->setEnabled(false);
    for (const auto& [button, field] : opens) {
        resumeNext([&] {
            const FieldValue address = m_datProgram->recordset().fields(field).value();
            if (address && !address->isEmpty())
                button->setEnabled(true);
        });
    }
}

void frmMain::showPendingChangeMessage()
{
    showNotice(this,
               QStringLiteral("You are adding a record.. Either Save or Cancel your selection to select a new record"));
}

int frmMain::selectedRow() const
{
    const QModelIndexList selected = lstPrograms->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void frmMain::removeSelectedEntry()
{
    const int row = selectedRow();
    m_changingListSelection = true;
    m_programList->removeAt(row);
    lstPrograms->selectionModel()->clear();
    m_changingListSelection = false;
}

void frmMain::selectEntryOfShownRecord()
{
    FieldValue name;
    resumeNext([&] { name = m_datProgram->recordset().fields(ProgramFields::Name).value(); });
    const int selected = selectedRow();
    if (name && selected >= 0 && m_programList->at(selected) == *name)
        return; // of two equal names, the one selected stays
    const int row = name ? m_programList->rowOf(*name) : -1;
    m_changingListSelection = true;
    if (row < 0)
        lstPrograms->selectionModel()->clear();
    else
        lstPrograms->selectionModel()->setCurrentIndex(m_programList->index(row), QItemSelectionModel::ClearAndSelect);
    m_changingListSelection = false;
}

void frmMain::onListSelectionChanged()
{
    if (m_changingListSelection || selectedRow() < 0)
        return;
    m_selectionChangedByPress = QApplication::mouseButtons() != Qt::NoButton;
    runReported(this, [this] { lstPrograms_Click(); });
}

void frmMain::onListClicked()
{
    // A click on the entry that is already selected is still a pick (it enables the record commands).
    if (!std::exchange(m_selectionChangedByPress, false))
        runReported(this, [this] { lstPrograms_Click(); });
}

void frmMain::addToCount(int delta)
{
    bool isNumber = false;
    const qint64 count = lblCount->text().toLongLong(&isNumber);
    if (!isNumber)
        return;
    lblCount->setText(QString::number(count + delta));
    lblCount->adjustSize();
}

} // namespace kestrella
