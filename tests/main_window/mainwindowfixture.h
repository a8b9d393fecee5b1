#pragma once

#include "about_box/frmabout.h"
#include "main_window/frmmain.h"
#include "main_window/programlistmodel.h"
#include "records/program.h"
#include "shutdown/frmclosing.h"
#include "support/testsupport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace kestrella::test {

// A main window started on a fresh data file, with message boxes and the clock under the test's control.
class MainWindowFixture
{
public:
    QTemporaryDir dir;
    ScriptedMessages messages;
    FakeClock clock{QDate(2026, 3, 5)};
    std::unique_ptr<frmMain> window;

    MainWindowFixture() { frmClosing::setTickInterval(10); } // the closing window's walk at test speed

    // A window the test left open would meet the next test.
    ~MainWindowFixture()
    {
        delete topLevelWindow<frmClosing>().data();
        delete frmAbout::instance();
    }

    QString dataFile() const { return dir.filePath(DataFileName); }

    bool start(const QList<SeedRecord>& records)
    {
        createDatabase(dataFile(), records);
        return startOnExistingFile();
    }

    bool startOnExistingFile()
    {
        window = std::make_unique<frmMain>(dir.path());
        if (!window->Form_Load())
            return false;
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }

    template <typename T>
    T* control(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no control %s", name);
        return found;
    }
    QLineEdit* box(const char* name) const { return control<QLineEdit>(name); }
    QToolButton* command(const char* name) const { return control<QToolButton>(name); }
    QComboBox* chooser(const char* name) const { return control<QComboBox>(name); }
    QAbstractItemView* list() const { return control<QAbstractItemView>("lstPrograms"); }
    QString count() const { return control<QLabel>("lblCount")->text(); }

    QStringList listed() const
    {
        QStringList names;
        for (int i = 0; i < window->programList().count(); ++i)
            names << window->programList().at(i);
        return names;
    }

    int selectedRow() const
    {
        const auto rows = list()->selectionModel()->selectedRows();
        return rows.isEmpty() ? -1 : rows.first().row();
    }

    // Clicks the first entry carrying this name, as the user would.
    void pick(const QString& name) { pickRow(int(listed().indexOf(name))); }
    void pickRow(int row)
    {
        const QModelIndex index = window->programList().index(row);
        list()->scrollTo(index);
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, list()->visualRect(index).center());
    }

    void chooseFilter(const QString& entry)
    {
        QComboBox* sort = chooser("cboSort");
        sort->setCurrentIndex(sort->findText(entry));
        emit sort->activated(sort->currentIndex());
    }

    void click(const char* name) { command(name)->click(); }

    // Types as the user would, replacing what the box holds (a line break as Return).
    void type(const char* name, const QString& text)
    {
        QWidget* box = control<QWidget>(name);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClicks(box, QString(text).replace('\n', '\r'));
    }

    QString shownName() const { return box("txtProName")->text(); }
};

} // namespace kestrella::test
