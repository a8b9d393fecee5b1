// The windows under a dark desktop theme and a large desktop font: every text reads on its background, and
// every caption and typical value fits its control.
#include "about_box/frmabout.h"
#include "mainwindowfixture.h"
#include "shutdown/frmclosing.h"

#include <QHash>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <cmath>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor& colour)
{
    auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What shows behind a widget that does not fill its own background.
QColor backgroundBehind(const QWidget* widget)
{
    while (!widget->autoFillBackground() && !widget->isWindow())
        widget = widget->parentWidget();
    return widget->palette().color(widget->backgroundRole());
}

// The strongest contrast of any pixel in the area against the area's commonest colour, its background.
double strongestContrast(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y)];
    QRgb background = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        if (it.value() > counts.value(background))
            background = it.key();
    double strongest = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        strongest = std::max(strongest, contrast(QColor(it.key()), QColor(background)));
    return strongest;
}

// Where a control draws one line of text, inside its frame and margins.
QRect textArea(const QWidget* control)
{
    const QStyle* style = control->style();
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
    if (auto* combo = qobject_cast<const QComboBox*>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.frame = combo->hasFrame();
        return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    }
    if (qobject_cast<const QAbstractButton*>(control)) {
        const int side = frame + (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control) + 1) / 2;
        return control->rect().adjusted(side, frame, -side, -frame);
    }
    if (qobject_cast<const QLineEdit*>(control)) {
        const int lineEditMargin = 2; // QLineEdit's own space either side of its text
        return control->rect().adjusted(frame + lineEditMargin, frame + 1, -frame - lineEditMargin, -frame - 1);
    }
    auto* label = qobject_cast<const QLabel*>(control);
    if (label && label->buddy()) // a label sizes itself to its text: it must end before its field begins
        return QRect(0, 0, label->buddy()->x() - label->x(), label->height());
    return control->rect();
}

// The windows are built after the theme is set, as the desktop would have it before the program starts.
class Windows
{
public:
    QWidget* open(const QString& name)
    {
        if (name == QLatin1String("frmAbout"))
            return frmAbout::showInstance();
        if (name == QLatin1String("frmClosing")) {
            m_closing = std::make_unique<frmClosing>(m_main.dir.path());
            return m_closing.get();
        }
        if (!m_main.start({{"Zeta Surf", "Surf Exchange", "Excellent"}}))
            qFatal("the main window did not start");
        return m_main.window.get();
    }

private:
    MainWindowFixture m_main;
    std::unique_ptr<frmClosing> m_closing;
};

} // namespace

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QPalette dark = QApplication::palette();
        dark.setColor(QPalette::Window, QColor(0x45, 0x45, 0x48));
        dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
        dark.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(0x50, 0x50, 0x54));
        dark.setColor(QPalette::ButtonText, Qt::white);
        QApplication::setPalette(dark);
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
    }

    void cleanup()
    {
        if (frmAbout* box = frmAbout::instance())
            box->close();
        QTRY_VERIFY(!frmAbout::instance());
    }

    void labelsReadOnTheirBackground_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("only"); // empty: every label with text but the red count
        QTest::addColumn<double>("minimum");
        const std::tuple<const char*, const char*, double> rows[] = {
            {"frmMain", "", 4.5}, {"frmMain", "lblCount", 3.0}, {"frmAbout", "", 4.5}, {"frmClosing", "", 4.5}};
        for (const auto& [window, only, minimum] : rows)
            QTest::addRow("%s %s", window, *only ? only : "labels") << window << only << minimum;
    }
    void labelsReadOnTheirBackground()
    {
        QFETCH(QString, window);
        QFETCH(QString, only);
        QFETCH(double, minimum);
        Windows windows;
        for (const QLabel* label : windows.open(window)->findChildren<QLabel*>()) {
            const bool isCount = label->objectName() == QLatin1String("lblCount");
            if (label->text().isEmpty() || (only.isEmpty() ? isCount : label->objectName() != only))
                continue;
            const double ratio = contrast(label->palette().color(label->foregroundRole()), backgroundBehind(label));
            QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1 at %2:1").arg(label->objectName()).arg(ratio)));
        }
    }

    void paintedFieldsShowTheirText_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("field");
        const char* const rows[][2] = {
            {"start", "txtProName"}, {"adding", "txtProUserName"}, {"adding", "cboType"}, {"saved", "txtStart"}};
        for (const auto& [stage, field] : rows)
            QTest::addRow("%s %s", field, stage) << stage << field;
    }
    void paintedFieldsShowTheirText()
    {
        QFETCH(QString, stage);
        QFETCH(QString, field);
        MainWindowFixture f;
        QVERIFY(f.start({{"Zeta Surf"}}));
        if (stage != QLatin1String("start")) {
            f.click("cmdAdd");
            f.type("txtProName", "Zeta Two");
            f.type("txtProUserName", "ZEE TEE");
            f.type("txtStart", "ZETA.EXAMPLE");
            f.chooser("cboType")->setCurrentIndex(f.chooser("cboType")->findText(QStringLiteral("Exit Exchange")));
        }
        if (stage == QLatin1String("saved"))
            f.click("cmdSave");
        QWidget* shown = f.control<QWidget>(qPrintable(field));
        QVERIFY(shown->isVisible());
        const double ratio = strongestContrast(shown->grab().toImage(), textArea(shown));
        QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1:1").arg(ratio)));
    }

    void captionsAndValuesFitTheirControls_data()
    {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("value"); // empty: the control's own caption
        const char* const rows[][3] = {
            {"frmMain", "cmdRefOpen", ""},
            {"frmMain", "cmdCheckList", ""},
            {"frmMain", "cmdResetLogin", ""},
            {"frmMain", "txtLastLogin", "12/31/26"},
            {"frmMain", "txtType", "Traffic Exchange"},
            {"frmMain", "cboRateit", "Excellent"},
            {"frmMain", "lblProName", ""},
            {"frmAbout", "cmdSysInfo", ""},
            {"frmAbout", "lblDescription", ""},
            {"frmAbout", "lblDisclaimer", ""},
        };
        for (const auto& [window, control, value] : rows)
            QTest::addRow("%s %s", control, *value ? value : "caption") << window << control << value;
    }
    void captionsAndValuesFitTheirControls()
    {
        QFETCH(QString, window);
        QFETCH(QString, control);
        QFETCH(QString, value);
        Windows windows;
        const QWidget* shown = windows.open(window)->findChild<QWidget*>(control);
        QVERIFY(shown);
        if (auto* label = qobject_cast<const QLabel*>(shown); label && label->wordWrap()) {
            QVERIFY2(label->heightForWidth(label->width()) <= label->height(), "the text runs out of its box");
            return;
        }
        if (value.isEmpty())
            value = shown->property("text").toString();
        const int needed = shown->fontMetrics().horizontalAdvance(value);
        const int room = textArea(shown).width();
        QVERIFY2(needed <= room, qPrintable(QStringLiteral("%1 px needed, %2 px there").arg(needed).arg(room)));
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
