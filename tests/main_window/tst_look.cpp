// What a person sees and hears of the windows under a dark desktop theme and a large desktop font: every text reads
// on its background and fits its control, and a screen reader finds every control by a name.
#include "mainwindowfixture.h"

#include <QAccessible>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <cmath>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// WCAG 2 relative luminance.
double luminance(const QColor& colour)
{
    auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

// Where a control draws one line of text, inside its frame and margins.
QRect textArea(const QWidget* control)
{
    const QStyle* style = control->style();
    const int frame = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
    if (auto* combo = qobject_cast<const QComboBox*>(control)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        return style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    }
    if (qobject_cast<const QAbstractButton*>(control)) {
        const int side = frame + (style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control) + 1) / 2;
        return control->rect().adjusted(side, frame, -side, -frame);
    }
    if (qobject_cast<const QLineEdit*>(control)) // QLineEdit keeps 2 pixels either side of its text
        return control->rect().adjusted(frame + 2, frame + 1, -frame - 2, -frame - 1);
    auto* label = qobject_cast<const QLabel*>(control);
    if (label && label->buddy()) // a label sizes itself to its text: it must end before its field begins
        return QRect(0, 0, label->buddy()->x() - label->x(), label->height());
    return control->rect();
}

// A window as a person meets it: the main window at a stage of its use, the About box or the closing window.
QWidget* open(MainWindowFixture& f, const QString& what)
{
    if (what == QLatin1String("frmAbout"))
        return frmAbout::showInstance();
    if (what == QLatin1String("frmClosing"))
        return new frmClosing(f.dir.path()); // never shown, so it neither walks nor ticks
    if (!f.start({{"Zeta Surf", "Traffic Exchange", "Excellent", "http://a.example", "http://b.example", "c.example"}}))
        qFatal("the main window did not start");
    if (what == QLatin1String("editing")) {
        f.pick(QStringLiteral("Zeta Surf"));
        f.click("cmdModify");
    }
    if (what == QLatin1String("adding") || what == QLatin1String("saved")) {
        f.click("cmdAdd");
        f.type("txtProName", "Zeta Two");
        f.chooser("cboType")->setCurrentIndex(f.chooser("cboType")->findText(QStringLiteral("Exit Exchange")));
    }
    if (what == QLatin1String("saved"))
        f.click("cmdSave");
    return f.window.get();
}

// Between the lightest and the darkest pixel where the control draws its text: text that does not read leaves the
// area nearly one colour.
double paintedContrast(QWidget* control)
{
    const QImage image = control->grab().toImage();
    const QRect area = textArea(control) & image.rect();
    double lightest = 0, darkest = 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            lightest = std::max(lightest, luminance(image.pixelColor(x, y)));
            darkest = std::min(darkest, luminance(image.pixelColor(x, y)));
        }
    }
    return area.isEmpty() ? 1 : (lightest + 0.05) / (darkest + 0.05); // the WCAG 2 contrast ratio
}

// The label nearest to the left of a box, in its row.
const QObject* rowLabel(const QWidget* box)
{
    const QLabel* nearest = nullptr;
    for (const QLabel* label : box->parentWidget()->findChildren<QLabel*>()) {
        const QRect r = label->geometry();
        if (r.right() < box->x() && r.top() < box->geometry().bottom() && r.bottom() > box->y() &&
            (!nearest || r.right() > nearest->geometry().right()))
            nearest = label;
    }
    return nearest;
}

// The names of the reachable controls under node that a screen reader would announce without a name, and of the
// text boxes it would not announce by their own row label.
void collectUnnamed(QAccessibleInterface* node, QStringList& unnamed)
{
    for (int i = 0; i < node->childCount(); ++i) {
        QAccessibleInterface* child = node->child(i);
        if (child->state().invisible)
            continue;
        const QString name = child->text(QAccessible::Name);
        const QString what = child->object() ? child->object()->objectName() : QString::number(child->role());
        if (child->state().focusable && name.trimmed().isEmpty())
            unnamed << what;
        if (child->role() == QAccessible::EditableText) {
            const auto labels = child->relations(QAccessible::Label);
            if (labels.isEmpty() || labels[0].first->object() != rowLabel(qobject_cast<QWidget*>(child->object())) ||
                labels[0].first->text(QAccessible::Name) != name + QStringLiteral(" :"))
                unnamed << what + QStringLiteral(" (label)");
        }
        collectUnnamed(child, unnamed);
    }
}

} // namespace

class TestLook : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QApplication::setPalette(QPalette(QColor(0x45, 0x45, 0x48))); // from a dark button: white text on black
        QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 12));
    }

    // Each window at a stage of its use, on the desktop's dark theme and in its large font: each text a person can use
    // reads on its background (disabled text aside) and fits its control, and a screen reader finds every control a
    // person can reach by a name and every text box by its row label.
    void everyControlReadsFitsAndIsNamed_data()
    {
        QTest::addColumn<QString>("window");
        for (const char* window : {"start", "adding", "saved", "editing", "frmAbout", "frmClosing"})
            QTest::newRow(window) << window;
    }
    void everyControlReadsFitsAndIsNamed()
    {
        QFETCH(QString, window);
        MainWindowFixture f;
        QWidget* shown = open(f, window);
        for (QWidget* control : shown->findChildren<QWidget*>()) {
            const QVariant property = control->property("text"); // a combo box has none, but a current text
            const QString text = (property.isValid() ? property : control->property("currentText")).toString();
            if (text.isEmpty() || !control->isVisibleTo(control->window()))
                continue;
            const QByteArray name = control->objectName().toUtf8();
            // The count is red by design, and reads as large text does.
            const double ratio = paintedContrast(control);
            QVERIFY2(!control->isEnabled() || ratio >= (name == "lblCount" ? 3.0 : 4.5),
                     name + " at " + QByteArray::number(ratio) + ":1");
            auto* label = qobject_cast<const QLabel*>(control);
            const bool fits = label && label->wordWrap()
                                  ? label->heightForWidth(label->width()) <= label->height()
                                  : control->fontMetrics().horizontalAdvance(text) <= textArea(control).width();
            QVERIFY2(fits, name + " cuts off " + text.toUtf8());
        }
        QStringList unnamed;
        collectUnnamed(QAccessible::queryAccessibleInterface(shown), unnamed);
        QCOMPARE(unnamed, QStringList());
    }
};

QTEST_MAIN(TestLook)
#include "tst_look.moc"
