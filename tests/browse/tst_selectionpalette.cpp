// Selected rows stay readable: every text colour drawn on the selection (and the snippet grey on
// the plain white rows) reaches 4.5:1, and the views use the one palette.

#include "browse/SelectionPalette.h"

#include <QTreeWidget>
#include <QtTest>

class SelectionPaletteTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void contrastRatio_data();
    void contrastRatio();
    void textsOnRowsAreReadable_data();
    void textsOnRowsAreReadable();
    void viewTakesThePalette();
};

void SelectionPaletteTest::contrastRatio_data()
{
    QTest::addColumn<QColor>("a");
    QTest::addColumn<QColor>("b");
    QTest::addColumn<double>("ratio");
    QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
    QTest::newRow("same colour") << QColor(56, 117, 215) << QColor(56, 117, 215) << 1.0;
    QTest::newRow("order does not matter") << QColor(Qt::white) << QColor(118, 118, 118) << 4.54;
    QTest::newRow("white on the old pale blue") << QColor(Qt::white) << QColor(239, 244, 252) << 1.1;
}

void SelectionPaletteTest::contrastRatio()
{
    QFETCH(QColor, a);
    QFETCH(QColor, b);
    QFETCH(double, ratio);
    QVERIFY2(qAbs(ContrastRatio(a, b) - ratio) < 0.01, qPrintable(QString::number(ContrastRatio(a, b))));
}

void SelectionPaletteTest::textsOnRowsAreReadable_data()
{
    QTest::addColumn<QColor>("text");
    QTest::addColumn<QColor>("background");
    QTest::newRow("selected text") << SelectionText() << SelectionBackground();
    QTest::newRow("mail row name and date on the selection") << QColor(Qt::black) << SelectionBackground();
    QTest::newRow("snippet on the selection") << SnippetTextColour() << SelectionBackground();
    QTest::newRow("snippet on a plain row") << SnippetTextColour() << QColor(Qt::white);
}

void SelectionPaletteTest::textsOnRowsAreReadable()
{
    QFETCH(QColor, text);
    QFETCH(QColor, background);
    QVERIFY2(ContrastRatio(text, background) >= 4.5, qPrintable(QString::number(ContrastRatio(text, background))));
}

void SelectionPaletteTest::viewTakesThePalette()
{
    QTreeWidget view;
    ApplySelectionPalette(&view);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        QCOMPARE(view.palette().color(group, QPalette::Highlight), SelectionBackground());
        QCOMPARE(view.palette().color(group, QPalette::HighlightedText), SelectionText());
    }
    QVERIFY(SelectionStyle().contains(SelectionBackground().name()));
    QVERIFY(SelectionStyle().contains(SelectionText().name()));
}

QTEST_MAIN(SelectionPaletteTest)
#include "tst_selectionpalette.moc"
