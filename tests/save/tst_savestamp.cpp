// The save's stamp names folders and log files: English month names whatever the locale.

#include "save/SaveFlow.h"

#include <QtTest>

class SaveStampTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stampIsEnglish_data();
    void stampIsEnglish();
};

void SaveStampTest::stampIsEnglish_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("stamp");
    QTest::newRow("one-digit day, morning") << QDateTime(QDate(2026, 12, 6), QTime(6, 34, 39))
                                            << QStringLiteral("(6 Dec 2026,06-34-39)");
    QTest::newRow("two-digit day, afternoon") << QDateTime(QDate(2025, 3, 31), QTime(23, 5, 0))
                                              << QStringLiteral("(31 Mar 2025,23-05-00)");
    QTest::newRow("May, midnight") << QDateTime(QDate(2024, 5, 1), QTime(0, 0, 9))
                                   << QStringLiteral("(1 May 2024,00-00-09)");
}

void SaveStampTest::stampIsEnglish()
{
    QFETCH(QDateTime, when);
    QFETCH(QString, stamp);
    // The environment below makes the system locale German; the default locale is French.
    QVERIFY(QLocale::system().toString(QDate(2026, 12, 6), QStringLiteral("MMM")) != QLatin1String("Dec"));
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QCOMPARE(MakeSaveTimeStamp(when), stamp);
    QLocale::setDefault(QLocale::c());
}

int main(int argc, char **argv)
{
    qunsetenv("LC_ALL");
    qputenv("LC_TIME", "de_DE.UTF-8");
    qputenv("LANG", "de_DE.UTF-8");
    QCoreApplication app(argc, argv);
    SaveStampTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_savestamp.moc"
