// The settings file reader: XML property lists through QSettings, read afresh each time, and
// harmless on files that are missing, foreign or broken.

#include "platform/PlistSettings.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return QString();
    return path;
}

} // namespace

class PlistSettingsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readsString_data();
    void readsString();
    void missingFileReadsEmpty();
    void rereadsChangedFile();
    void writesWhatPlistlibReads();
};

void PlistSettingsTest::readsString_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");

    const QByteArray settings = QByteArray(kHeader)
        + "<plist version=\"1.0\">\n<dict>\n"
          "\t<key>SupportName_EN</key>\n\t<string>Support &amp; Help</string>\n"
          "\t<key>SupportLink_EN</key>\n\t<string>https://support.corvask.invalid/?a=1&amp;b=2</string>\n"
          "\t<key>Nested</key>\n\t<dict>\n\t\t<key>KBLink</key>\n\t\t<string>inner</string>\n\t</dict>\n"
          "\t<key>List</key>\n\t<array><string>one</string><string>two</string></array>\n"
          "\t<key>KBLink</key>\n\t<string>https://kb.corvask.invalid/Ünïcode</string>\n"
          "\t<key>Empty</key>\n\t<string/>\n"
          "\t<key>Count</key>\n\t<integer>42</integer>\n"
          "\t<key>Cdata</key>\n\t<string><![CDATA[<b>kept</b>]]></string>\n"
          "</dict>\n</plist>\n";
    QTest::newRow("escaped ampersand in a name") << settings << "SupportName_EN" << "Support & Help";
    QTest::newRow("address with a query") << settings << "SupportLink_EN"
                                          << "https://support.corvask.invalid/?a=1&b=2";
    QTest::newRow("key after a nested dict and an array is the top-level one")
        << settings << "KBLink" << QStringLiteral("https://kb.corvask.invalid/Ünïcode");
    QTest::newRow("empty string element") << settings << "Empty" << "";
    QTest::newRow("integer reads as its text") << settings << "Count" << "42";
    QTest::newRow("CDATA kept as text") << settings << "Cdata" << "<b>kept</b>";
    QTest::newRow("missing key") << settings << "UpdateLink_EN" << "";
    QTest::newRow("container value is no string") << settings << "Nested" << "";

    const QByteArray good = QByteArray(kHeader)
        + "<plist version=\"1.0\"><dict><key>KBLink</key><string>x</string></dict></plist>";
    QTest::newRow("well-formed control") << good << "KBLink" << "x";
    QTest::newRow("cut off mid-file") << good.left(good.size() - 20) << "KBLink" << "";
    QTest::newRow("unclosed string element")
        << QByteArray("<plist><dict><key>KBLink</key><string>x</dict></plist>") << "KBLink" << "";
    QTest::newRow("garbage after the plist")
        << (good + "<plist><oops") << "KBLink" << "";
    QTest::newRow("not a property list")
        << QByteArray("<dict><key>KBLink</key><string>x</string></dict>") << "KBLink" << "";
    QTest::newRow("INI text") << QByteArray("[General]\nKBLink=x\n") << "KBLink" << "";
    QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe<\x01plist", 9) << "KBLink" << "";
    QTest::newRow("empty file") << QByteArray() << "KBLink" << "";
    QTest::newRow("key without a value before another key")
        << QByteArray("<plist><dict><key>Lost</key><key>KBLink</key><string>x</string></dict></plist>")
        << "KBLink" << "x";
    QTest::newRow("a value without key is ignored")
        << QByteArray("<plist><dict><string>stray</string><key>KBLink</key><string>x</string></dict></plist>")
        << "KBLink" << "x";
}

void PlistSettingsTest::readsString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("Corvask.plist"), content);
    QVERIFY(!path.isEmpty());
    QCOMPARE(ReadPlistString(path, key), expected);
    // Reading never rewrites the user's file.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

void PlistSettingsTest::missingFileReadsEmpty()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("absent.plist"));
    QCOMPARE(ReadPlistString(path, QStringLiteral("KBLink")), QString());
    QCOMPARE(ReadPlistString(QString(), QStringLiteral("KBLink")), QString());
    QVERIFY(!QFile::exists(path));
}

void PlistSettingsTest::rereadsChangedFile()
{
    QTemporaryDir dir;
    auto plist = [](const QByteArray &value) {
        return QByteArray(kHeader) + "<plist><dict><key>KBLink</key><string>" + value + "</string></dict></plist>";
    };
    const QString path = writeFile(dir, QStringLiteral("Corvask.plist"), plist("first"));
    QCOMPARE(ReadPlistString(path, QStringLiteral("KBLink")), QStringLiteral("first"));
    QVERIFY(!writeFile(dir, QStringLiteral("Corvask.plist"), plist("the second value")).isEmpty());
    QCOMPARE(ReadPlistString(path, QStringLiteral("KBLink")), QStringLiteral("the second value"));
    QVERIFY(QFile::remove(path));
    QCOMPARE(ReadPlistString(path, QStringLiteral("KBLink")), QString());
}

void PlistSettingsTest::writesWhatPlistlibReads()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("written.plist"));
    const QString awkward = QStringLiteral("a <b> & \"c\" Ünïcode");
    {
        QSettings settings(path, PlistFormat());
        settings.setValue(QStringLiteral("KBLink"), awkward);
        settings.setValue(QStringLiteral("EmailToSupport"), QStringLiteral("help@corvask.invalid"));
        settings.sync();
        QCOMPARE(settings.status(), QSettings::NoError);
    }
    QProcess reader;
    reader.start(python, {QStringLiteral("-c"),
                          QStringLiteral("import plistlib,sys,json;"
                                         "print(json.dumps(plistlib.load(open(sys.argv[1],'rb'))))"),
                          path});
    QVERIFY(reader.waitForFinished(30000));
    QCOMPARE(reader.exitCode(), 0);
    const QJsonObject parsed = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    QCOMPARE(parsed.value(QStringLiteral("KBLink")).toString(), awkward);
    QCOMPARE(parsed.value(QStringLiteral("EmailToSupport")).toString(), QStringLiteral("help@corvask.invalid"));
    QCOMPARE(ReadPlistString(path, QStringLiteral("KBLink")), awkward);
}

QTEST_GUILESS_MAIN(PlistSettingsTest)
#include "tst_plistsettings.moc"
