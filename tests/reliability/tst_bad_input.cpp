// Any character pasted into any field is stored and shown again exactly; only the name loses its apostrophes, and
// the comments their kinds of line break.
#include "mainwindowfixture.h"

#include <QClipboard>

using namespace kestrella;
using namespace kestrella::test;

namespace {

// In table order: the one-line boxes, then the comments.
const char* const Boxes[] = {"txtProName",        "txtProUserName", "txtProPassword", "txtProLogin",
                             "txtProUrlReferral", "txtStart",       "txtComments"};

// A multi-line box keeps lines, not the characters that broke them: any break is stored as a line feed.
QString asCommentsBoxHoldsIt(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void everyCharacterIsStoredAndShownAgainExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("storedName");
        QString controls;
        for (char16_t c = 1; c < 0x20; ++c)
            controls += QChar(c);
        const auto row = [](const char* what, const QString& text, const QString& name = {}) {
            QTest::newRow(what) << text << (name.isNull() ? text : name);
        };
        row("quotes and SQL text", "Robert'); DROP TABLE \"Programs\";--", "Robert`); DROP TABLE \"Programs\";--");
        row("NUL", QStringLiteral("nul") + QChar(0) + QStringLiteral("inside"));
        row("leading byte order mark", QStringView(u"\uFEFFleading BOM").toString());
        row("line and paragraph separators", QStringView(u"line\u2028separator\u2029paragraph").toString());
        row("no-break spaces", QStringView(u"\u00A0no-break\u00A0space").toString());
        row("CR, LF and CR LF", QStringLiteral("CR\ronly LF\nonly CR LF\r\nend\n"));
        row("control characters", QStringLiteral("ctl") + controls + QChar(0x7f));
        row("non-Latin scripts", QStringView(u"\u05E2\u05D1\u05E8\u05D9\u05EA \u65E5\u672C\u8A9E").toString());
        row("astral characters", QStringView(u"\U0001F468\u200D\U0001F469 \U0001D518\U0010FFFD").toString());
        row("combining marks", QStringView(u"e\u0301\u0327 combining").toString());
        row("10,000-character name", QStringLiteral("Name 123 ").repeated(1112).left(10000));
        row("100,000-character comment", QStringLiteral("comment ").repeated(12500));
    }
    void everyCharacterIsStoredAndShownAgainExactly()
    {
        QFETCH(QString, text);
        QFETCH(QString, storedName);
        MainWindowFixture f;
        QVERIFY(f.start({{"Other record"}}));
        f.click("cmdAdd");
        QGuiApplication::clipboard()->setText(text);
        for (const char* name : Boxes) { // as a user pastes: everything selected, then replaced
            QWidget* box = f.control<QWidget>(name);
            box->setFocus();
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        }
        f.click("cmdSave");

        const StoredRow expected{storedName, text, text, text, text, text, {}, {}, {}, asCommentsBoxHoldsIt(text)};
        f.window.reset(); // shown again by a new start, picked from the list
        QVERIFY(f.startOnExistingFile());
        f.pick(storedName);
        const StoredRow stored = findRow(f.dataFile(), storedName).value_or(StoredRow(expected.size()));
        for (size_t column = Col::Name; column <= Col::Start; ++column)
            QVERIFY2(stored[column] == expected[column] && f.box(Boxes[column])->text() == expected[column],
                     Boxes[column]);
        const QString commentsShown = f.control<QPlainTextEdit>("txtComments")->document()->toRawText();
        QVERIFY(stored[Col::Comments] == expected[Col::Comments] &&
                asCommentsBoxHoldsIt(commentsShown) == expected[Col::Comments]);
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_bad_input.moc"
