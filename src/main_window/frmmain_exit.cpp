// Exit: label an unsaved addition, store what is pending, and hand over to the closing window.
#include "app/errors.h"
#include "main_window/frmmain.h"
#include "shutdown/exitcheck.h"
#include "shutdown/frmclosing.h"

namespace kestrella {

void frmMain::cmdExit_Click()
{
    Recordset& rs = m_datProgram->recordset();
    if (ChangePending) {
        // The one reason not to leave: what is pending cannot be stored, and leaving would lose it.
        if (!runReported(this, [&] {
                WaitCursor wait;
                if (EditingExisting)
                    rs.update();
                else
                    storeLabelledAddition(rs);
            }))
            return;
        runReported(this, [this] {
            WaitCursor wait;
            m_datProgram->refresh();
        });
    }
    resumeNext([this] { (new frmClosing(m_applicationFolder))->show(); });
    close();
}

} // namespace kestrella
