#include "main_window/frmmain.h"

#include "about_box/frmabout.h"
#include "app/controls.h"
#include "app/errors.h"
#include "main_window/boundtext.h"
#include "main_window/programlistmodel.h"
#include "main_window/uniformlistview.h"
#include "records/program.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QToolButton>
#include <QWindow>

namespace kestrella {
namespace {

struct TopButton
{
    QToolButton* frmMain::*member;
    const char* name;
    const char* caption;
    const char* toolTip;
    const char* icon;
    int left;
    int width;
};

// Row labels size themselves to their text.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top)
{
    QLabel* label = kestrella::makeLabel(parent, name, caption);
    label->adjustSize();
    label->move(twipsToPixels(left), twipsToPixels(top));
    return label;
}

// The choosers keep the form's narrow widths, where the style's margins around the text would clip the longest
// type ("Traffic Exchange"); the text may also use the blank the style leaves before the arrow.
class ChooserStyle : public QProxyStyle
{
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl part,
                         const QWidget* widget) const override
    {
        QRect rect = QProxyStyle::subControlRect(control, option, part, widget);
        if (control == CC_ComboBox && part == SC_ComboBoxEditField)
            rect.adjust(-1, 0, 3, 0);
        return rect;
    }
};

QComboBox* makeChooser(QWidget* parent, const char* name, const QStringList& entries)
{
    static ChooserStyle* const style = new ChooserStyle; // shared by every chooser, for the program's lifetime
    auto* chooser = makeControl<QComboBox>(parent, name);
    chooser->setStyle(style);
    chooser->addItems(entries);
    chooser->setCurrentIndex(-1); // nothing picked until the user or an Edit picks
    chooser->setMaxVisibleItems(int(entries.size()));
    return chooser;
}

} // namespace

frmMain::frmMain(const QString& applicationFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_applicationFolder(applicationFolder)
    , m_datProgram(new DataSource(this))
    , m_programList(new ProgramListModel(this))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Kestrella - Keep Track of all of your important referral information !"));
    setWindowIcon(programIcon());
    setFont(controlFont());
    setFixedSize(twipsToPixels(10080), twipsToPixels(6330));
    m_datProgram->setObjectName(QStringLiteral("datProgram"));
    m_datProgram->setPrefetchedField(ProgramFields::Name);
    createControls();
    placeControls();
    setTabOrder();
    bindFields();
    connectHandlers();
    centreOnScreen(this, screen());
    connect(qApp, &QGuiApplication::focusWindowChanged, this, &frmMain::trackActivation);
}

frmMain::~frmMain() = default;

void frmMain::createControls()
{
    static const TopButton buttons[] = {
        {&frmMain::cmdAdd, "cmdAdd", "Add", "Add A New Program", "add", 0, 1000},
        {&frmMain::cmdDelete, "cmdDelete", "Delete", "Delete The Current Program", "delete", 990, 1000},
        {&frmMain::cmdSave, "cmdSave", "Save", "Save The Program", "save", 1980, 1000},
        {&frmMain::cmdCancel, "cmdCancel", "Cancel", "Cancel This Program", "cancel", 2970, 1000},
        {&frmMain::cmdModify, "cmdModify", "Edit", "Modify A Program", "edit", 3960, 1000},
        {&frmMain::cmdAbout, "cmdAbout", "About", "About This Program", "about", 6100, 1005},
        {&frmMain::cmdCheckList, "cmdCheckList", "Check List", "Check Master Referral List", "checklist", 7090, 1000},
        {&frmMain::cmdHelp, "cmdHelp", "Help", "Get Help on this program", "help", 8080, 1000},
        {&frmMain::cmdExit, "cmdExit", "Exit", "Exit This Program", "exit", 9080, 1000},
    };
    for (const TopButton& b : buttons) {
        QToolButton* button = makeControl<QToolButton>(this, b.name);
        button->setText(QString::fromLatin1(b.caption));
        button->setToolTip(QString::fromLatin1(b.toolTip));
        button->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(QLatin1String(b.icon))));
        button->setIconSize(QSize(32, 32));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setGeometry(twipsRect(b.left, 0, b.width, 855));
        this->*b.member = button;
    }
    for (QToolButton* disabled : {cmdDelete, cmdSave, cmdCancel, cmdModify})
        disabled->setEnabled(false);

    frmList = makeControl<QGroupBox>(this, "frmList");
    frmList->setTitle(QStringLiteral("Select A Program"));
    frmList->setToolTip(QStringLiteral("Select a Program from the list"));
    lstPrograms = makeControl<UniformListView>(frmList, "lstPrograms");
    lstPrograms->setToolTip(QStringLiteral("Alpha List Of Programs"));
    lstPrograms->setModel(m_programList);
    lstPrograms->setSelectionMode(QAbstractItemView::SingleSelection);
    lstPrograms->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstPrograms->setAccessibleName(QStringLiteral("Programs"));
    Label1 = makeLabel(frmList, "Label1", QStringLiteral("Items Listed:"), 120, 4440);
    lblCount = makeLabel(frmList, "lblCount", QStringLiteral("0"), 1440, 4440);
    // Pure red reads at 3:1 only on a light background, so the count brings its own.
    setColours(lblCount, Qt::white, QColor(255, 0, 0));
    cboSort = makeChooser(frmList, "cboSort", sortFilterEntries());
    cboSort->setToolTip(QStringLiteral("Sort By"));
    cboSort->setAccessibleName(QStringLiteral("Sort By"));

    Frame1 = makeControl<QGroupBox>(this, "Frame1");
    Frame1->setTitle(QStringLiteral("Programs"));
    lblProName = makeLabel(Frame1, "lblProName", QStringLiteral("Program Name :"), 120, 360);
    lblUserName = makeLabel(Frame1, "lblUserName", QStringLiteral("UserName :"), 600, 840);
    lblPassword = makeLabel(Frame1, "lblPassword", QStringLiteral("Password :"), 3480, 840);
    lblLoginUrl = makeLabel(Frame1, "lblLoginUrl", QStringLiteral("Login Url :"), 720, 1320);
    lblRefUrl = makeLabel(Frame1, "lblRefUrl", QStringLiteral("Referral Url :"), 480, 1800);
    lblStart = makeLabel(Frame1, "lblStart", QStringLiteral("Start Page :"), 600, 2280);
    lblRatings = makeLabel(Frame1, "lblRatings", QStringLiteral("Rating :"), 960, 2760);
    lblType = makeLabel(Frame1, "lblType", QStringLiteral("Type :"), 3480, 2760);
    lblComments = makeLabel(Frame1, "lblComments", QStringLiteral("Comments :"), 600, 3240);
    lblLastLogin = makeLabel(Frame1, "lblLastLogin", QStringLiteral("Last Login :"), 600, 4560);

    txtProName = makeControl<QLineEdit>(Frame1, "txtProName");
    txtProUserName = makeControl<QLineEdit>(Frame1, "txtProUserName");
    txtProPassword = makeControl<QLineEdit>(Frame1, "txtProPassword");
    txtProLogin = makeControl<QLineEdit>(Frame1, "txtProLogin");
    txtProUrlReferral = makeControl<QLineEdit>(Frame1, "txtProUrlReferral");
    txtStart = makeControl<QLineEdit>(Frame1, "txtStart");
    txtRateit = makeControl<QLineEdit>(Frame1, "txtRateit");
    txtType = makeControl<QLineEdit>(Frame1, "txtType");
    txtComments = makeControl<QPlainTextEdit>(Frame1, "txtComments");
    txtComments->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtComments->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtComments->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtComments->setTabChangesFocus(true);
    txtLastLogin = makeControl<QLineEdit>(Frame1, "txtLastLogin");
    for (QLineEdit* box : {txtProName, txtProUserName, txtProPassword, txtProLogin, txtProUrlReferral, txtStart,
                           txtRateit, txtType, txtLastLogin})
        box->setReadOnly(true);
    txtComments->setReadOnly(true);
    paintDesignColours();

    cboRateit = makeChooser(Frame1, "cboRateit", programRatings());
    cboType = makeChooser(Frame1, "cboType", programTypes());
    cboRateit->hide();
    cboType->hide();

    auto makeButton = [this](const char* name, const QString& caption, const QString& accessibleName) {
        QPushButton* button = makeControl<QPushButton>(Frame1, name);
        button->setText(caption);
        button->setAccessibleName(accessibleName);
        return button;
    };
    cmdLoginOpen = makeButton("cmdLoginOpen", QStringLiteral("Open"), QStringLiteral("Open Login Url"));
    cmdRefOpen = makeButton("cmdRefOpen", QStringLiteral("Open"), QStringLiteral("Open Referral Url"));
    cmdStartOpen = makeButton("cmdStartOpen", QStringLiteral("Open"), QStringLiteral("Open Start Page"));
    cmdResetLogin = makeButton("cmdResetLogin", QStringLiteral("Reset Last Login"), QStringLiteral("Reset Last Login"));
    for (QPushButton* open : {cmdLoginOpen, cmdRefOpen, cmdStartOpen})
        open->setEnabled(false);
    for (QPushButton* button : {cmdLoginOpen, cmdRefOpen, cmdStartOpen, cmdResetLogin})
        button->setAutoDefault(false);

    // Screen readers announce each box by its row label.
    const std::pair<QLabel*, QWidget*> rows[] = {
        {lblProName, txtProName},       {lblUserName, txtProUserName},
        {lblPassword, txtProPassword},  {lblLoginUrl, txtProLogin},
        {lblRefUrl, txtProUrlReferral}, {lblStart, txtStart},
        {lblRatings, txtRateit},        {lblType, txtType},
        {lblComments, txtComments},     {lblLastLogin, txtLastLogin},
        {lblRatings, cboRateit},        {lblType, cboType},
    };
    for (const auto& [label, field] : rows) {
        label->setBuddy(field);
        field->setAccessibleName(label->text().remove(QStringLiteral(" :")));
    }
    lblRatings->setBuddy(txtRateit);
    lblType->setBuddy(txtType);
}

void frmMain::placeControls()
{
    placeInTwips({
        {frmList, 120, 960, 3015, 5295},        {lstPrograms, 120, 240, 2775, 4125},
        {cboSort, 240, 4800, 2655, 315},        {Frame1, 3240, 960, 6735, 5295},
        {txtProName, 1800, 360, 4095, 350},     {txtProUserName, 1800, 840, 1215, 350},
        {txtProPassword, 4680, 840, 1215, 350}, {txtProLogin, 1800, 1320, 4095, 350},
        {cmdLoginOpen, 6000, 1320, 615, 375},   {txtProUrlReferral, 1800, 1800, 4095, 350},
        {cmdRefOpen, 6000, 1800, 615, 375},     {txtStart, 1800, 2280, 4095, 350},
        {cmdStartOpen, 6000, 2280, 615, 375},   {txtRateit, 1800, 2760, 1455, 350},
        {cboRateit, 1800, 2760, 1455, 315},     {txtType, 4320, 2760, 1575, 350},
        {cboType, 4320, 2760, 1575, 315},       {txtComments, 1800, 3240, 4095, 1095},
        {txtLastLogin, 1920, 4560, 1095, 350},  {cmdResetLogin, 3240, 4560, 2655, 350},
    });
}

void frmMain::setTabOrder()
{
    const QWidget* order[] = {txtProName, txtProUserName, txtProPassword, txtProLogin,  txtProUrlReferral, txtStart,
                              txtRateit,  txtType,        txtComments,    txtLastLogin, cmdResetLogin,     cboRateit,
                              cboType,    cmdAdd,         cmdDelete,      cmdSave,      cmdCancel,         cmdModify,
                              cmdAbout,   cmdCheckList,   cmdHelp,        cmdExit,      lstPrograms,       cmdStartOpen,
                              cmdRefOpen, cmdLoginOpen,   cboSort};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void frmMain::bindFields()
{
    const std::pair<QLineEdit*, QString> boxes[] = {
        {txtProName, ProgramFields::Name},
        {txtProUserName, ProgramFields::UserName},
        {txtProPassword, ProgramFields::Password},
        {txtProLogin, ProgramFields::UrlLogin},
        {txtProUrlReferral, ProgramFields::Referral},
        {txtStart, ProgramFields::Start},
        {txtLastLogin, ProgramFields::LastLogin},
        {txtType, ProgramFields::Type},
        {txtRateit, ProgramFields::Rate},
    };
    for (const auto& [box, field] : boxes)
        bindText(*m_datProgram, box, field);
    bindText(*m_datProgram, txtComments, ProgramFields::Comments);
}

void frmMain::connectHandlers()
{
    onClick(cmdAdd, &frmMain::cmdAdd_Click);
    onClick(cmdSave, &frmMain::cmdSave_Click);
    onClick(cmdModify, &frmMain::cmdModify_Click);
    onClick(cmdCancel, &frmMain::cmdCancel_Click);
    onClick(cmdDelete, &frmMain::cmdDelete_Click);
    onClick(cmdLoginOpen, &frmMain::cmdLoginOpen_Click);
    onClick(cmdRefOpen, &frmMain::cmdRefOpen_Click);
    onClick(cmdStartOpen, &frmMain::cmdStartOpen_Click);
    onClick(cmdHelp, &frmMain::cmdHelp_Click);
    onClick(cmdCheckList, &frmMain::cmdCheckList_Click);
    onClick(cmdResetLogin, &frmMain::cmdResetLogin_Click);
    onClick(cmdAbout, &frmMain::cmdAbout_Click);
    onClick(cmdExit, &frmMain::cmdExit_Click);
    connect(cboSort, &QComboBox::activated, this, [this] {
        // A set that could not be read leaves the list on the old set: the filter goes back to its entry.
        const QString source = m_datProgram->recordSource();
        if (!runReported(this, [this] { cboSort_Click(); })) {
            cboSort->setCurrentIndex(m_listedFilter);
            m_datProgram->setRecordSource(source);
        }
    });
    connect(lstPrograms->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmMain::onListSelectionChanged);
    connect(lstPrograms, &QListView::clicked, this, &frmMain::onListClicked);
}

// No failure may cross the event loop: each handler's own failures are shown and the program goes on.
template <typename Button>
void frmMain::onClick(Button* button, void (frmMain::*handler)())
{
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { runReported(this, [&] { (this->*handler)(); }); });
}

bool frmMain::Form_Load()
{
    return runReported(this, [this] {
        m_datProgram->setDatabaseName(QDir(m_applicationFolder).filePath(DataFileName));
        setSortText(QStringLiteral("List All"));
    });
}

void frmMain::Form_Activate()
{
    if (EditingExisting || ChangePending)
        return; // an edit in progress is never disturbed
    Recordset& rs = m_datProgram->recordset();
    resumeNext([&] { rs.moveLast(); });
    resumeNext([&] { rs.moveFirst(); });
    resumeNext([&] { cmdAdd->setFocus(); });
    if (txtProName->text().isEmpty())
        cmdModify->setEnabled(false);
}

void frmMain::aboutBoxClosed()
{
    m_otherWindowOfOurs.clear();
    if (isVisible())
        Form_Activate();
}

void frmMain::trackActivation(QWindow* focusWindow)
{
    if (!focusWindow) {
        m_otherWindowOfOurs.clear(); // another application took over
        return;
    }
    if (focusWindow != windowHandle()) {
        // Only the About box hands the activation back: message boxes, drop-down lists and context menus are
        // part of what the main window is doing, and the closing window never hands back.
        const frmAbout* about = frmAbout::instance();
        m_otherWindowOfOurs = about && about->windowHandle() == focusWindow ? focusWindow : nullptr;
        return;
    }
    if (m_otherWindowOfOurs) {
        m_otherWindowOfOurs.clear();
        Form_Activate();
    }
}

frmMain::WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

frmMain::WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

void frmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!m_activatedOnce) {
        m_activatedOnce = true;
        Form_Activate();
    }
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // Closing through the title bar skips Exit, but what is pending is still stored; if it cannot be,
    // the window stays so nothing typed is lost.
    if (runReported(this, [this] { m_datProgram->close(); }))
        event->accept();
    else
        event->ignore();
}

} // namespace kestrella
