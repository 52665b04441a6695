// The general message box, the question and the exit question: their forms, the frameless
// behaviour they share (drag, Escape, fixed size, language change) and the exit answer.

#include "platform/Edition.h"
#include "shell/CloseApplicationDlg.h"
#include "shell/QLicenseAgreement.h"
#include "shell/QParseDatabase.h"
#include "browse/DemoDlgClass.h"
#include "shell/ShellGlobals.h"
#include "shell/StopDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

std::unique_ptr<QDialog> makeDialog(const QString &kind)
{
    if (kind == QLatin1String("message"))
        return std::make_unique<DemoDlgClass>();
    if (kind == QLatin1String("question"))
        return std::make_unique<StopDlg>();
    return std::make_unique<CloseApplicationDlg>();
}

QString widgetText(const QDialog &dialog, const QString &name)
{
    if (auto *label = dialog.findChild<QLabel *>(name))
        return label->text();
    if (auto *button = dialog.findChild<QPushButton *>(name))
        return button->text();
    return QStringLiteral("<no widget %1>").arg(name);
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &local, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class DialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void formTexts_data();
    void formTexts();
    void formGeometry_data();
    void formGeometry();
    void escapeIsSwallowed_data();
    void escapeIsSwallowed();
    void leftButtonDrags_data();
    void leftButtonDrags();
    void languageChangeRestoresDefaults();
    void messageIsPlainText();
    void exitAnswerIsRecorded_data();
    void exitAnswerIsRecorded();
    void buttonsClearOfEdge_data();
    void buttonsClearOfEdge();
    void playSignStartsLikeStart_data();
    void playSignStartsLikeStart();
};

void DialogsTest::init()
{
    senderObjName.clear();
}

void DialogsTest::formTexts_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("expected");

    const QString edition = EditionName();
    QTest::newRow("message title") << "message" << "label_3" << edition;
    QTest::newRow("message starts empty") << "message" << "label_2" << "";
    QTest::newRow("message OK") << "message" << "OkBtn" << "OK";
    QTest::newRow("question title") << "question" << "label_3" << edition;
    QTest::newRow("question line") << "question" << "label_2" << "Do you want to stop the current process?";
    QTest::newRow("question detail ends in a blank")
        << "question" << "label_6" << "You can't resume the process from this point. All the changes will be discarded. ";
    QTest::newRow("question Yes") << "question" << "OkBtn_2" << "Yes";
    QTest::newRow("question No") << "question" << "OkBtn" << "No";
    QTest::newRow("exit title") << "exit" << "label" << "Exit";
    QTest::newRow("exit question") << "exit" << "label_2" << "Are you sure you want to exit?";
    QTest::newRow("exit Yes") << "exit" << "YesBtn" << "Yes";
    QTest::newRow("exit No") << "exit" << "NoBtn" << "No";
}

void DialogsTest::formTexts()
{
    QFETCH(QString, kind);
    QFETCH(QString, widget);
    QFETCH(QString, expected);
    const auto dialog = makeDialog(kind);
    QCOMPARE(widgetText(*dialog, widget), expected);
    QVERIFY(dialog->windowFlags() & Qt::FramelessWindowHint);
}

// The size is the form's and fixed: a frameless dialog has no edge to resize it back with.
void DialogsTest::formGeometry_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("message") << "message";
    QTest::newRow("question") << "question";
    QTest::newRow("exit") << "exit";
}

void DialogsTest::formGeometry()
{
    QFETCH(QString, kind);
    const auto dialog = makeDialog(kind);
    const QSize formSize = dialog->size();
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QVERIFY(!formSize.isEmpty());
    // The form's size is the least; the size the texts need is fixed.
    QVERIFY2(dialog->width() >= formSize.width() && dialog->height() >= formSize.height(),
             qPrintable(QStringLiteral("%1x%2").arg(dialog->width()).arg(dialog->height())));
    QCOMPARE(dialog->minimumSize(), dialog->size());
    QCOMPARE(dialog->maximumSize(), dialog->size());
}

void DialogsTest::escapeIsSwallowed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("message") << "message";
    QTest::newRow("question") << "question";
    QTest::newRow("exit") << "exit";
}

void DialogsTest::escapeIsSwallowed()
{
    QFETCH(QString, kind);
    const auto dialog = makeDialog(kind);
    QSignalSpy rejected(dialog.get(), &QDialog::rejected);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    QTest::keyClick(dialog->findChild<QPushButton *>(), Qt::Key_Escape);   // from a focused button too
    QVERIFY(dialog->isVisible());
    QCOMPARE(rejected.count(), 0);
    // A plain QDialog would have closed: the check above is not vacuous.
    QDialog plain;
    plain.show();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    QTest::keyClick(&plain, Qt::Key_Escape);
    QVERIFY(!plain.isVisible());
}

void DialogsTest::leftButtonDrags_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("expectedShift");
    QTest::newRow("message, left button") << "message" << int(Qt::LeftButton) << QPoint(40, 25);
    QTest::newRow("question, left button") << "question" << int(Qt::LeftButton) << QPoint(40, 25);
    QTest::newRow("exit, left button") << "exit" << int(Qt::LeftButton) << QPoint(40, 25);
    QTest::newRow("message, right button") << "message" << int(Qt::RightButton) << QPoint(0, 0);
}

void DialogsTest::leftButtonDrags()
{
    QFETCH(QString, kind);
    QFETCH(int, button);
    QFETCH(QPoint, expectedShift);
    const auto dialog = makeDialog(kind);
    dialog->move(100, 100);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    const QPoint start = dialog->pos();
    const auto mouseButton = Qt::MouseButton(button);
    // Grab the dialog's own background, away from labels and buttons; the pointer travels (40, 25).
    const QPoint grab(10, 150);
    const QPoint grabGlobal = dialog->mapToGlobal(grab);
    sendMouse(dialog.get(), QEvent::MouseButtonPress, grab, mouseButton, mouseButton);
    QPoint pointer = grabGlobal;
    for (int step = 1; step <= 5; ++step) {
        pointer = grabGlobal + step * QPoint(8, 5);
        QMouseEvent move(QEvent::MouseMove, dialog->mapFromGlobal(pointer), pointer, Qt::NoButton, mouseButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(dialog.get(), &move);
    }
    QTRY_COMPARE(dialog->pos() - start, expectedShift);
    sendMouse(dialog.get(), QEvent::MouseButtonRelease, dialog->mapFromGlobal(pointer), mouseButton, Qt::NoButton);
    QTest::qWait(20);
    QCOMPARE(dialog->pos() - start, expectedShift);
}

void DialogsTest::languageChangeRestoresDefaults()
{
    DemoDlgClass message;
    message.setText(QStringLiteral("\nSomething to say."));
    StopDlg question;
    question.setTitle(QStringLiteral("Abort"));
    question.setQuestion(QStringLiteral("Do you want to abort the current process?"));
    question.setDetail(QStringLiteral("detail"));
    question.yesButton()->setText(QStringLiteral("changed"));
    CloseApplicationDlg exitQuestion;
    // A button moved after the form placed it goes back to the form's place, grown for the texts
    // as in a question that never left its defaults.
    StopDlg untouched;
    untouched.show();
    question.yesButton()->move(0, 0);
    for (QWidget *dialog : {static_cast<QWidget *>(&message), static_cast<QWidget *>(&question),
                            static_cast<QWidget *>(&exitQuestion)}) {
        QEvent change(QEvent::LanguageChange);
        QCoreApplication::sendEvent(dialog, &change);
    }
    QCOMPARE(message.text(), QString());   // the form's retranslation blanks the caller's message
    QCOMPARE(widgetText(message, QStringLiteral("label_3")), EditionName());
    QCOMPARE(widgetText(message, QStringLiteral("OkBtn")), QStringLiteral("OK"));
    QCOMPARE(question.title(), EditionName());
    QCOMPARE(question.question(), QStringLiteral("Do you want to stop the current process?"));
    QCOMPARE(question.yesButton()->text(), QStringLiteral("Yes"));
    QCOMPARE(widgetText(exitQuestion, QStringLiteral("label_2")), QStringLiteral("Are you sure you want to exit?"));
    // Geometry survives the change too.
    QCOMPARE(question.size(), untouched.size());
    QCOMPARE(question.yesButton()->geometry(), untouched.yesButton()->geometry());
}

void DialogsTest::messageIsPlainText()
{
    // Messages can carry names from an archive; markup in them must show as typed.
    DemoDlgClass message;
    const QString text = QStringLiteral("\n<b>Inbox</b> & <img src=x>");
    message.setText(text);
    auto *label = message.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(label);
    QCOMPARE(label->textFormat(), Qt::PlainText);
    QCOMPARE(message.text(), text);
    StopDlg question;
    auto *detail = question.findChild<QLabel *>(QStringLiteral("label_6"));
    QVERIFY(detail);
    QCOMPARE(detail->textFormat(), Qt::PlainText);
}

void DialogsTest::exitAnswerIsRecorded_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("Yes") << "YesBtn";
    QTest::newRow("No") << "NoBtn";
}

void DialogsTest::exitAnswerIsRecorded()
{
    QFETCH(QString, button);
    CloseApplicationDlg exitQuestion;
    senderObjName = QStringLiteral("OnOpenFile");   // left over from an earlier question
    exitQuestion.show();
    QVERIFY(QTest::qWaitForWindowExposed(&exitQuestion));
    auto *pushButton = exitQuestion.findChild<QPushButton *>(button);
    QVERIFY(pushButton);
    QTest::mouseClick(pushButton, Qt::LeftButton);
    QCOMPARE(senderObjName, button);
    QVERIFY(!exitQuestion.isVisible());
}

// The licence's buttons keep a margin to the dialog's edges, at the default font and a larger one.
void DialogsTest::buttonsClearOfEdge_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::newRow("default font") << 1.0;
    QTest::newRow("font +25%") << 1.25;
}

void DialogsTest::buttonsClearOfEdge()
{
    QFETCH(qreal, scale);
    const QFont before = QApplication::font();
    QFont larger = before;
    larger.setPointSizeF(before.pointSizeF() * scale);
    QApplication::setFont(larger);
    QLicenseAgreement dialog;
    dialog.setWindowModality(Qt::NonModal);
    dialog.show();
    QCoreApplication::processEvents();
    QApplication::setFont(before);
    for (const QPushButton *button : {dialog.AgreeButton, dialog.DisagreeButton}) {
        const QRect inDialog(button->mapTo(&dialog, QPoint(0, 0)), button->size());
        const QRect inner = dialog.rect().adjusted(4, 4, -4, -4);
        QVERIFY2(inner.contains(inDialog), qPrintable(button->text()));
    }
}

// The open sheet's play sign starts the scan as Start does, and only when Start can.
void DialogsTest::playSignStartsLikeStart_data()
{
    QTest::addColumn<bool>("startEnabled");
    QTest::newRow("a file chosen") << true;
    QTest::newRow("no file chosen") << false;
}

void DialogsTest::playSignStartsLikeStart()
{
    QFETCH(bool, startEnabled);
    QParseDatabase sheet;
    sheet.StartButton->setEnabled(startEnabled);
    QSignalSpy started(sheet.StartButton, &QPushButton::clicked);
    QTest::mouseClick(sheet.label_3, Qt::LeftButton);
    QCOMPARE(started.count(), startEnabled ? 1 : 0);
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
