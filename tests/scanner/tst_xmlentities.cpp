// Every entity form on the same table: which references each undoes, in which order, and what
// it leaves alone.

#include "scanner/XmlEntities.h"

#include <QRandomGenerator>
#include <QtTest>

#include <iterator>

Q_DECLARE_METATYPE(EntityForm)

class XmlEntitiesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void forms_data();
    void forms();
    void orderedFormsMatchPassByPass();
    void caselessLiteral_data();
    void caselessLiteral();
};

void XmlEntitiesTest::forms_data()
{
    QTest::addColumn<EntityForm>("form");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const EntityForm three = EntityForm::Three, four = EntityForm::Four, six = EntityForm::Six,
                     preview = EntityForm::Preview,
                     scanned = EntityForm::Scanned, named = EntityForm::Named;

    QTest::newRow("three: ampersand between letters") << three << "R&amp;D" << "R&D";
    QTest::newRow("three: escaped lt stays an entity") << three << "&amp;lt;" << "&lt;";
    QTest::newRow("three: gt untouched") << three << "a&gt;&amp;b" << "a&gt;&b";
    QTest::newRow("three: escaped nbsp becomes a blank") << three << "&amp;nbsp;" << " ";
    QTest::newRow("three: nbsp alone") << three << "&nbsp;" << " ";
    QTest::newRow("three: upper case untouched") << three << "&AMP;&LT;" << "&AMP;&LT;";

    QTest::newRow("four: escaped gt undone twice") << four << "&amp;gt;" << ">";
    QTest::newRow("four: quotes untouched") << four << "&quot;&apos;" << "&quot;&apos;";

    QTest::newRow("six: escaped gt undone twice") << six << "&amp;gt;" << ">";
    QTest::newRow("six: quotes and apostrophes") << six << "&quot;x&apos;" << "\"x'";

    QTest::newRow("preview: escaped lt stays, escaped gt undone twice") << preview << "&amp;lt;b&amp;gt;" << "&lt;b>";
    QTest::newRow("preview: triply escaped lt") << preview << "&amp;amp;lt;" << "<";
    QTest::newRow("preview: numeric untouched") << preview << "&#65;" << "&#65;";
    QTest::newRow("preview: escaped ampersands one level each") << preview << "&amp;amp;amp;&&amp;&amp;lt"
                                                                << "&amp;amp;&&&lt";
    QTest::newRow("preview: escaped nbsp then gt") << preview << "&amp;nbsp;&amp;gt;&lt;gt;" << " ><gt;";
    QTest::newRow("four: cut entities at the end") << four << "&amp;g&amp;gt" << "&g&gt";
    QTest::newRow("notes: escaped lt and gt stay entities, escaped nbsp is a blank")
        << EntityForm::Notes << "&amp;lt;&amp;gt;&amp;nbsp;&quot;" << "&lt;&gt; &quot;";


    QTest::newRow("scanned: named") << scanned << "a &lt;b&gt; &amp; &quot;c&quot; &apos;d&apos;"
                                    << "a <b> & \"c\" 'd'";
    QTest::newRow("scanned: one pass only") << scanned << "&amp;lt; &amp;nbsp;" << "&lt; &nbsp;";
    QTest::newRow("scanned: nbsp is a space") << scanned << "a&nbsp;b" << "a b";
    QTest::newRow("scanned: numeric") << scanned << "&#65;&#x42;&#x1F600;" << QString::fromUtf8("AB\xF0\x9F\x98\x80");
    QTest::newRow("scanned: invalid references kept")
        << scanned << "&#0; &#xD800; &#xZZ; &#1234567890123; &bogus; & alone &"
        << "&#0; &#xD800; &#xZZ; &#1234567890123; &bogus; & alone &";
    // A reference is only a few characters long: one that never ends is kept as written, and
    // the next one is still read.
    QTest::newRow("scanned: references that never end") << scanned << "&#12345678&#65;&#1 &#x41" << "&#12345678A&#1 &#x41";
    QTest::newRow("numeric: named ones kept") << EntityForm::Numeric << "&amp;&#64;&#x41;&lt;" << "&amp;@A&lt;";

    QTest::newRow("named: one pass only") << named << "&amp;lt;&amp;amp;" << "&lt;&amp;";
    QTest::newRow("named: all six") << named << "&lt;&gt;&amp;&quot;&apos;&nbsp;" << "<>&\"' ";
    QTest::newRow("named: numeric kept") << named << "&#65;&#x42;" << "&#65;&#x42;";
    QTest::newRow("named: upper case kept") << named << "&LT;" << "&LT;";
    QTest::newRow("named: a lone ampersand at the end") << named << "a &" << "a &";
}

void XmlEntitiesTest::forms()
{
    QFETCH(EntityForm, form);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(UnescapeXmlEntities(text, form), expected);
}

// Texts dense in entity pieces give the same as one replace per entity over the whole text, in
// the form's order: the way these forms were always defined.
void XmlEntitiesTest::orderedFormsMatchPassByPass()
{
    const QStringList three{"&lt;", "<", "&amp;", "&", "&nbsp;", " "};
    const QStringList four = three + QStringList{"&gt;", ">"};
    const QStringList six = four + QStringList{"&apos;", "'", "&quot;", "\""};
    const QStringList preview = QStringList{"&quot;", "\"", "&apos;", "'"} + three + QStringList{"&amp;lt;", "<", "&gt;", ">"};
    const QStringList notes{"&lt;", "<", "&gt;", ">", "&amp;", "&", "&nbsp;", " "};
    const struct {
        EntityForm form;
        QStringList passes;
    } forms[] = {{EntityForm::Three, three},
                 {EntityForm::Four, four},
                 {EntityForm::Six, six},
                 {EntityForm::Preview, preview},
                 {EntityForm::Notes, notes}};
    const char *const pieces[] = {"&", "amp;", "lt;", "gt;", "nbsp;", "quot;", "apos;", "l", "t", ";", "x", "&AMP;"};
    QRandomGenerator random(44);
    for (int round = 0; round < 4000; ++round) {
        QString text;
        for (int n = int(random.bounded(12)); n >= 0; --n)
            text += QLatin1String(pieces[random.bounded(int(std::size(pieces)))]);
        for (const auto &f : forms) {
            QString expected = text;
            for (int k = 0; k < f.passes.size(); k += 2)
                expected.replace(f.passes[k], f.passes[k + 1]);
            QCOMPARE(UnescapeXmlEntities(text, f.form), expected);
        }
    }
}

void XmlEntitiesTest::caselessLiteral_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("at");
    QTest::addColumn<bool>("found");
    QTest::newRow("exact") << "x&amp;" << 1 << true;
    QTest::newRow("upper case") << "x&AmP;" << 1 << true;
    QTest::newRow("runs past the end") << "x&am" << 1 << false;
    QTest::newRow("negative position") << "&amp;" << -1 << false;
    QTest::newRow("a non-ASCII letter never folds") << QString::fromUtf8("&\xC3\xA0mp;") << 0 << false;
}

void XmlEntitiesTest::caselessLiteral()
{
    QFETCH(QString, text);
    QFETCH(int, at);
    QFETCH(bool, found);
    QCOMPARE(HasCaselessLiteralAt(text, at, "&amp;"), found);
}

QTEST_APPLESS_MAIN(XmlEntitiesTest)
#include "tst_xmlentities.moc"
