#include "about_box/frmabout.h"

#include "app/appinfo.h"
#include "app/controls.h"
#include "web_open/webopen.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

// Outside any namespace, as Qt's resource macro requires.
static void initAboutResources()
{
    Q_INIT_RESOURCE(about);
}

namespace kestrella {
namespace {

QPointer<frmAbout> openBox;

// A long run of blanks, not a line break, sets the second paragraph apart.
const QString Description = QStringLiteral(
    "Kestrella is entirely free. I wrote it for myself, because I had signed up with so many traffic exchanges, "
    "banner swaps and start-page programs that I could no longer remember where I had joined, which user name and "
    "password I had used, or when I had last logged in. Once it kept all of that in one place, I thought others "
    "might find it just as handy, so I put it on my website for anyone to download. If you would like it to do "
    "more, please send me your suggestions by e-mail through the home site: I read every one."
    "                                                                                                    "
    "If Kestrella helps you, please pass it on to your friends, your family and the members of your own programs. "
    "Paid programs do the same job, but nobody should have to pay for this one. When you pass it on, please offer "
    "it from your own website rather than linking to mine: that saves my bandwidth and keeps every future update "
    "free. Every copy you share helps someone else keep their programs in order.");

const QString Disclaimer = QStringLiteral("NOTICE :  This program is free !  It comes with no warranty of any "
                                          "kind: you use it at your own risk.");

// Its texts are black, so the whole box brings a light window of its own, whatever the desktop's theme.
const QColor BoxColor(240, 240, 240);
const QColor TextColor(Qt::black);

// Small enough for the whole note to fit its box.
const int TextPixels = 11;
const int TitlePixels = 21;

QLabel* makeText(QWidget* parent, const char* name, const QString& text = {})
{
    QLabel* label = makeLabel(parent, name, text);
    label->setFont(arialFont(TextPixels));
    return label;
}

} // namespace

frmAbout* frmAbout::showInstance(QWidget* owner)
{
    if (!openBox) {
        openBox = new frmAbout;
        centreOnScreen(openBox, owner ? owner->screen() : QGuiApplication::primaryScreen());
    }
    openBox->show();
    openBox->raise();
    openBox->activateWindow();
    return openBox;
}

frmAbout* frmAbout::instance()
{
    return openBox;
}

frmAbout::frmAbout()
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    initAboutResources();
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setFixedSize(twipsToPixels(7335), twipsToPixels(4875));
    setWindowIcon(programIcon());
    setFont(controlFont());
    setColours(this, BoxColor, TextColor);
    createControls();
    placeControls();
    setTabOrder();
    connectHandlers();
}

void frmAbout::createControls()
{
    Picture1 = makeControl<QLabel>(this, "Picture1");
    Picture1->setPixmap(QPixmap(QStringLiteral(":/about/picture1.jpg")));

    lblTitle = makeText(this, "lblTitle");
    lblTitle->setFont(arialFont(TitlePixels, true));
    lblVersion = makeText(this, "lblVersion");
    lblDescription = makeText(this, "lblDescription", Description);
    lblDescription->setWordWrap(true);
    lblDisclaimer = makeText(this, "lblDisclaimer", Disclaimer);
    lblDisclaimer->setWordWrap(true);

    Line1 = makeControl<QFrame>(this, "Line1");
    Line1->setFrameShape(QFrame::HLine);
    Line1->setFrameShadow(QFrame::Sunken);

    cmdOK = makeControl<QPushButton>(this, "cmdOK");
    cmdOK->setText(QStringLiteral("OK"));
    cmdOK->setDefault(true);
    cmdSysInfo = makeControl<QPushButton>(this, "cmdSysInfo");
    cmdSysInfo->setText(QStringLiteral("Visit My Site"));
}

void frmAbout::placeControls()
{
    placeInTwips({
        {Picture1, 120, 240, 1575, 4575},
        {lblTitle, 1920, 120, 3885, 480},
        {lblVersion, 1920, 600, 3885, 225},
        {lblDescription, 1920, 885, 5085, 2850},
        {lblDisclaimer, 1920, 3960, 3750, 825},
        {cmdOK, 6000, 3960, 1260, 345},
        {cmdSysInfo, 6000, 4440, 1245, 345},
    });
    // The rule runs from (1920, 3840) to (7080, 3840); the frame centres its line in a box three pixels high.
    Line1->setGeometry(twipsToPixels(1920), twipsToPixels(3840) - 1, twipsToPixels(7080 - 1920), 3);
}

void frmAbout::setTabOrder()
{
    QWidget::setTabOrder(cmdOK, cmdSysInfo);
    cmdOK->setFocus();
}

void frmAbout::connectHandlers()
{
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    // Every way of closing ends here, before the deferred deletion: a box on its way out is never shown again.
    connect(this, &QDialog::finished, this, [] { openBox = nullptr; });
}

void frmAbout::showEvent(QShowEvent* event)
{
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QDialog::showEvent(event);
}

void frmAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + AppInfo::title());
    lblVersion->setText(AppInfo::versionText());
    lblTitle->setText(AppInfo::title());
}

void frmAbout::cmdOK_Click()
{
    close();
}

void frmAbout::cmdSysInfo_Click()
{
    OpenWebPage(this, HomeSiteAddress, true);
}

} // namespace kestrella
