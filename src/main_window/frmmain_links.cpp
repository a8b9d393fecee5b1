// The buttons that open pages, stamp the last login and show the About box.
#include "about_box/frmabout.h"
#include "app/appinfo.h"
#include "app/clock.h"
#include "app/errors.h"
#include "main_window/frmmain.h"
#include "web_open/webopen.h"

#include <QLineEdit>

namespace kestrella {

const QString frmMain::HelpPage = QStringLiteral("/kestrella/index.html");
const QString frmMain::MasterListPage = QStringLiteral("/zv/mylist/software.php");

// The Open buttons hand over what the box shows now, typed text of an edit included.
void frmMain::cmdLoginOpen_Click()
{
    OpenWebPage(this, txtProLogin->text(), true);
}

void frmMain::cmdRefOpen_Click()
{
    OpenWebPage(this, txtProUrlReferral->text(), true);
}

void frmMain::cmdStartOpen_Click()
{
    OpenWebPage(this, txtStart->text(), true);
}

void frmMain::cmdHelp_Click()
{
    OpenWebPage(this, HomeSiteAddress + HelpPage, true);
}

void frmMain::cmdCheckList_Click()
{
    OpenWebPage(this, HomeSiteAddress + MasterListPage, true);
}

void frmMain::cmdResetLogin_Click()
{
    // With no record on show there is nothing to stamp: a date in the blank box would claim a stamp never made.
    if (!m_datProgram->recordset().hasCurrentRecord())
        return;
    resumeNext([this] { txtLastLogin->setText(lastLoginText(Clock::current().today())); });
    // Stored at once; a write the file refuses is shown rather than passed over.
    runReported(this, [this] { m_datProgram->recordset().update(); });
}

void frmMain::cmdAbout_Click()
{
    resumeNext([this] {
        frmAbout* about = frmAbout::showInstance(this);
        if (about != m_aboutBox) {
            m_aboutBox = about;
            connect(about, &QObject::destroyed, this, &frmMain::aboutBoxClosed);
        }
    });
}

} // namespace kestrella
