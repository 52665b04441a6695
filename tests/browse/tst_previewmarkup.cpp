// Filtered mail markup made to show as a browser shows it: empty paragraphs keep their line,
// quotes with a left border draw it.

#include "browse/PreviewMarkup.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QtTest>

class PreviewMarkupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyParagraphs_data();
    void emptyParagraphs();
    void quoteBorders_data();
    void quoteBorders();
    void documentShowsThem();
};

void PreviewMarkupTest::emptyParagraphs_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QByteArray>("kept");
    QTest::newRow("word's empty line") << QByteArray("<p class=\"MsoNormal\">a</p><p class=\"MsoNormal\"> </p><p>b</p>")
                                      << QByteArray("<p class=\"MsoNormal\">a</p><p class=\"MsoNormal\">&nbsp;</p><p>b</p>");
    QTest::newRow("no-break space and line end") << QByteArray("<P>\xc2\xa0\n</P>") << QByteArray("<P>&nbsp;</P>");
    QTest::newRow("two in a row") << QByteArray("<p> </p><p>\t</p>") << QByteArray("<p>&nbsp;</p><p>&nbsp;</p>");
    QTest::newRow("nothing inside stays empty") << QByteArray("<p></p>") << QByteArray("<p></p>");
    QTest::newRow("text inside") << QByteArray("<p> x </p>") << QByteArray("<p> x </p>");
    QTest::newRow("pre is no paragraph") << QByteArray("<pre> </pre>") << QByteArray("<pre> </pre>");
    QTest::newRow("cut at the end") << QByteArray("<p> ") << QByteArray("<p> ");
}

void PreviewMarkupTest::emptyParagraphs()
{
    QFETCH(QByteArray, markup);
    QTEST(WithEmptyParagraphsKept(markup), "kept");
}

void PreviewMarkupTest::quoteBorders_data()
{
    QTest::addColumn<QByteArray>("markup");
    QTest::addColumn<QByteArray>("border");  // the cell's border-left, empty: no table
    QTest::addColumn<int>("tables");
    QTest::newRow("blockquote") << QByteArray("<blockquote style=\"border-left:2px solid #1010FF;padding-left:5px\"><p>q</p></blockquote>")
                                << QByteArray("2px solid #1010ff") << 1;
    QTest::newRow("word's quote block") << QByteArray("<div style=\"border:none;border-left:solid #0000FF 1.5pt;padding:0cm\"><div><p>q</p></div></div><p>after</p>")
                                        << QByteArray("solid #0000ff 1.5pt") << 1;
    QTest::newRow("nested") << QByteArray("<blockquote style=\"border-left:1px solid red\"><blockquote style=\"border-left:1px solid red\">q</blockquote></blockquote>")
                            << QByteArray("1px solid red") << 2;
    QTest::newRow("border none") << QByteArray("<blockquote style=\"border-left:none\">q</blockquote>") << QByteArray() << 0;
    QTest::newRow("no style") << QByteArray("<blockquote type=\"cite\">q</blockquote>") << QByteArray() << 0;
    QTest::newRow("never closed") << QByteArray("<div style=\"border-left:1px solid red\">q") << QByteArray("1px solid red") << 1;
    QTest::newRow("quotes kept out of the style") << QByteArray("<div style=\"border-left:1px solid red&quot;x\">q</div>")
                                                  << QByteArray("1px solid red") << 1;
}

void PreviewMarkupTest::quoteBorders()
{
    QFETCH(QByteArray, markup);
    QFETCH(QByteArray, border);
    QFETCH(int, tables);
    const QByteArray drawn = WithQuoteBordersDrawn(markup);
    QCOMPARE(drawn.count("<table"), tables);
    QCOMPARE(drawn.count("</table>"), tables);
    if (tables == 0)
        QCOMPARE(drawn, markup);
    else
        QVERIFY2(drawn.contains("border-left:" + border + "\">"), drawn.constData());
    // What the markup held is all still there, in order.
    QByteArray left = drawn;
    left.replace(QByteArray("<table cellspacing=\"0\" cellpadding=\"0\" style=\"border-collapse:collapse\"><tr><td style=\"padding-left:6px; border-left:") + border + "\">", "");
    left.replace("</td></tr></table>", "");
    QCOMPARE(left, markup);
}

// The toolkit reads the result as meant: a line for the empty paragraph, a drawn left border.
void PreviewMarkupTest::documentShowsThem()
{
    const QByteArray markup = "<p>a</p><p> </p><p>b</p><blockquote style=\"border-left:2px solid #1010FF\"><p>q</p></blockquote>";
    QTextDocument plain;
    plain.setHtml(QString::fromUtf8(markup));
    QTextDocument shown;
    shown.setHtml(QString::fromUtf8(WithQuoteBordersDrawn(WithEmptyParagraphsKept(markup))));
    // The toolkit gives its no-break spaces back as blanks.
    QVERIFY2(shown.toPlainText().startsWith(QStringLiteral("a\n \nb")), qPrintable(shown.toPlainText()));
    QVERIFY(!plain.toPlainText().startsWith(QStringLiteral("a\n \nb")));
    QTextTable *table = nullptr;
    for (QTextFrame *frame : shown.rootFrame()->childFrames())
        table = table ? table : qobject_cast<QTextTable *>(frame);
    QVERIFY(table);
    const QTextTableCellFormat cell = table->cellAt(0, 0).format().toTableCellFormat();
    QCOMPARE(cell.leftBorder(), 2.0);
    QCOMPARE(cell.leftBorderBrush().color(), QColor(0x10, 0x10, 0xff));
    QCOMPARE(table->cellAt(0, 0).firstCursorPosition().block().text(), QStringLiteral("q"));
    QVERIFY(plain.rootFrame()->childFrames().isEmpty());
}

QTEST_MAIN(PreviewMarkupTest)
#include "tst_previewmarkup.moc"
