#include "mail/receive_cycle.h"
#include "search/mail_search.h"
#include "settings/id_pass_form.h"
#include "settings/set_form.h"
#include "store/records.h"
#include "support/app_fixture.h"
#include "support/received_file.h"
#include "support/scripted_mailbox.h"
#include "ui/picture_button.h"
#include "viewer/tyaku_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::ScriptedMailbox;

namespace {

// A program with a complete account whose server holds the scripted mails.
struct Receiving {
    explicit Receiving(const QByteArray& ini = {})
    {
        app.library = &box;
        app.writeCompleteAccount();
        if (!ini.isEmpty()) {
            app.writeData(QStringLiteral("ini.ini"), "[EXEINI]\r\n" + ini);
        }
    }
    bool start() { return app.start(); }
    MainForm* form() { return app.mainForm.get(); }

    // Lets a running cycle end and its report reach the window.
    void settle()
    {
        for (int i = 0; i < 5000 && form()->receiving(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
    }
    void receive()
    {
        QTest::mouseClick(form()->Picture4, Qt::LeftButton);
        settle();
    }
    QList<MailRecord> records() const
    {
        return test::recordsIn(app.readData(QStringLiteral("krddata2.data")));
    }
    int connects() const { return static_cast<int>(box.calls().count(QStringLiteral("connect"))); }

    ScriptedMailbox box;
    AppFixture app;
};

ScriptedMailbox::Mail mail(const QString& subject, const QString& body = QStringLiteral("本文"),
                           const QString& uid = {})
{
    return {subject, QStringLiteral("太郎 <taro@example.jp>"),
            QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"), body, uid};
}

} // namespace

class ReceiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void threeMailsAreStoredAndDeletedInServerOrder();
    void keepOnServerWithAndWithoutUniqueIds();
    void aMailStoredBeforeIsDeletedNotStoredAgain();
    void attachmentNoticeAndDecodingMessages();
    void aLongBodyIsStoredCutButShownWhole();
    void failuresAreReported();
    void aSecondReceiveWhileOneRunsIsNotStarted();
    void credentialsNotKeptOnDiskServeTheRun();
    void theFileLimitLeavesTheRestOnTheServer();
    void intervalOfOneMinuteReceivesEvery61Seconds();
    void anExplanationRestartsTheMinuteCount();
    void intervalOffLettersAndFractions();
    void theIntervalNeverStacksErrorBoxes();
    void endingWritesTheSettingsAndGivesUpAStalledReceive();
    void newMailIsNoticedOnTheDesktopOnlyWhileTheUserIsElsewhere();
};

void ReceiveTest::threeMailsAreStoredAndDeletedInServerOrder()
{
    Receiving r;
    r.box.mails = {mail(QStringLiteral("一")), mail(QStringLiteral(" 二 ")),
                   mail(QStringLiteral("三"))};
    QVERIFY(r.start());
    QSignalSpy shown(r.form(), &MainForm::mailReceived);
    r.receive();
    const QList<MailRecord> records = r.records();
    QCOMPARE(records.size(), 3);
    QCOMPARE(records[0].subject().trimmed(), QStringLiteral("一"));
    QCOMPARE(records[1].subject().left(2), QStringLiteral("二 ")); // trimmed when stored
    QCOMPARE(records[2].from().trimmed(), QStringLiteral("太郎 <taro@example.jp>"));
    QCOMPARE(r.box.deleted(), (QList<int>{1, 2, 3}));
    QCOMPARE(r.box.calls().last(), QStringLiteral("close"));
    QCOMPARE(r.form()->Text3->text(), QStringLiteral("新着メール有り。"));
    QCOMPARE(r.form()->Text6->text(), QStringLiteral("3"));
    QCOMPARE(r.form()->Text1->toPlainText(), QStringLiteral("メールのチェックをしています。"));
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown[1][0].toString(), QStringLiteral(" 二 ")); // the viewer's fields are not trimmed
    QVERIFY(!r.app.windows->existing<TyakuForm>());           // no window is made only for them
    // With the viewer open, mails coming faster than its fields are redrawn:
    // the last one stays.
    QMetaObject::invokeMethod(r.form(), "viewMail");
    TyakuForm* viewer = r.app.windows->existing<TyakuForm>();
    QVERIFY(viewer && viewer->isVisible());
    r.box.mails = {mail(QStringLiteral("四")), mail(QStringLiteral("五"))};
    r.receive();
    QCOMPARE(viewer->Text7->text(), QStringLiteral("五"));
    QCOMPARE(r.box.lastId, QStringLiteral("taro"));
    QCOMPARE(r.box.lastApop, 0);
    QVERIFY(r.app.ui.messages.isEmpty());
    QVERIFY(!QFile::exists(r.app.paths.attachmentFolder() + QStringLiteral("/0.txt")));
}

void ReceiveTest::keepOnServerWithAndWithoutUniqueIds()
{
    for (const bool withIds : {false, true}) {
        Receiving r("NUMBER3=1\r\n");
        r.box.mails = {mail(QStringLiteral("a"), QStringLiteral("x"),
                            withIds ? QStringLiteral("u1") : QString()),
                       mail(QStringLiteral("b"), QStringLiteral("x"),
                            withIds ? QStringLiteral("u2") : QString()),
                       mail(QStringLiteral("c"), QStringLiteral("x"),
                            withIds ? QStringLiteral("u3") : QString())};
        QVERIFY(r.start());
        QVERIFY(r.form()->Check3->isChecked());
        r.receive();
        r.receive();
        QVERIFY(r.box.deleted().isEmpty());
        // Without IDs the same mails come again, as they always did; with
        // them the second cycle finds nothing new.
        QCOMPARE(r.records().size(), withIds ? 3 : 6);
        QCOMPARE(r.form()->Text6->text(), withIds ? QStringLiteral("0") : QStringLiteral("3"));
        QCOMPARE(r.form()->Text3->text(),
                 withIds ? QStringLiteral("新着メール無し。") : QStringLiteral("新着メール有り。"));
    }
}

void ReceiveTest::aMailStoredBeforeIsDeletedNotStoredAgain()
{
    Receiving r("NUMBER3=1\r\n");
    r.box.mails = {mail(QStringLiteral("a"), QStringLiteral("x"), QStringLiteral("u1")),
                   mail(QStringLiteral("b"), QStringLiteral("x"), QStringLiteral("u2"))};
    QVERIFY(r.start());
    r.receive();
    r.form()->Check3->setChecked(false);
    r.box.mails.append(mail(QStringLiteral("c"), QStringLiteral("x"), QStringLiteral("u3")));
    r.receive();
    QCOMPARE(r.records().size(), 3);
    QCOMPARE(r.records()[2].subject().trimmed(), QStringLiteral("c"));
    QCOMPARE(r.box.deleted(), (QList<int>{1, 2, 3}));
    QCOMPARE(r.form()->Text6->text(), QStringLiteral("1"));
}

void ReceiveTest::attachmentNoticeAndDecodingMessages()
{
    Receiving r;
    r.box.mails = {mail(QStringLiteral("a"), QStringLiteral("Content-Disposition: attachment;")),
                   mail(QStringLiteral("b"), QStringLiteral("Content-Disposition: Attachment;")),
                   mail(QStringLiteral("c")), mail(QStringLiteral("d"))};
    r.box.mails[2].decodeResult = -5;
    r.box.mails[3].decodeResult = -6;
    QVERIFY(r.start());
    r.receive();
    const QList<MailRecord> records = r.records();
    QCOMPARE(records.size(), 4); // stored whatever decoding said
    QVERIFY(records[0].body().trimmed().endsWith(QStringLiteral("\r\n") + kAttachmentNotice));
    QVERIFY(!records[1].body().contains(kAttachmentNotice));
    QCOMPARE(r.app.ui.messages.size(), 2);
    QCOMPARE(r.app.ui.messages[0].text, QStringLiteral("添付ファイルをオープンできません"));
    QCOMPARE(r.app.ui.messages[0].title, kAppTitle);
    QCOMPARE(r.app.ui.messages[1].text, QStringLiteral("分割されたメールが全て揃っていません"));
}

void ReceiveTest::aLongBodyIsStoredCutButShownWhole()
{
    Receiving r;
    const QString body = QString(20000, QChar(u'長'));
    r.box.mails = {mail(QStringLiteral("long"), body)};
    QVERIFY(r.start());
    QSignalSpy shown(r.form(), &MainForm::mailReceived);
    r.receive();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0][3].toString(), body);
    QCOMPARE(r.records()[0].body(), QString(16000, QChar(u'長')));
}

void ReceiveTest::failuresAreReported()
{
    { // a refused log-in: the library's text captioned "エラー", no new mail
        Receiving r;
        r.box.mails = {mail(QStringLiteral("a"))};
        r.box.loginResult = -3;
        r.box.error = QStringLiteral("IDまたはパスワードが正しくありません。");
        QVERIFY(r.start());
        r.receive();
        QCOMPARE(r.app.ui.messages.size(), 1);
        QCOMPARE(r.app.ui.messages[0].title, QStringLiteral("エラー"));
        QCOMPARE(r.app.ui.messages[0].text, r.box.error);
        QCOMPARE(r.form()->Text6->text(), QStringLiteral("0")); // no error code as a count
        QCOMPARE(r.form()->Text3->text(), QStringLiteral("新着メール無し。"));
        QCOMPARE(r.box.calls().last(), QStringLiteral("close"));
        QVERIFY(r.records().isEmpty());
        // The ID and password dialog opens to mend them.
        QVERIFY(r.app.windows->existing<IdPassForm>()->isVisible());
    }
    { // any other failure after connecting does not open it
        Receiving r;
        r.box.loginResult = -2;
        r.box.error = QStringLiteral("サーバーとの接続が切れました。");
        QVERIFY(r.start());
        r.receive();
        QCOMPARE(r.form()->Text6->text(), QStringLiteral("0"));
        QVERIFY(!r.app.windows->existing<IdPassForm>()->isVisible());
    }
    { // a failed connection is an error too, not "no new mail" in silence
        Receiving r;
        r.box.connects = false;
        r.box.error = QStringLiteral("サーバーに接続できません。");
        QVERIFY(r.start());
        r.receive();
        QCOMPARE(r.app.ui.messages.size(), 1);
        QCOMPARE(r.app.ui.messages[0].title, QStringLiteral("エラー"));
        QCOMPARE(r.form()->Text6->text(), QStringLiteral("0"));
        QVERIFY(!r.box.calls().contains(QStringLiteral("close")));
    }
    { // no password: the dialog opens, nobody logs in
        Receiving r;
        r.app.writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=taro\r\n");
        QVERIFY(r.start());
        r.app.windows->window<IdPassForm>()->hide();
        r.receive();
        QVERIFY(r.app.windows->existing<IdPassForm>()->isVisible());
        QCOMPARE(r.app.windows->existing<IdPassForm>()->IdText->text(), QStringLiteral("taro"));
        QCOMPARE(r.box.calls(), (QStringList{QStringLiteral("connect"), QStringLiteral("close")}));
        QCOMPARE(r.form()->Text6->text(), QStringLiteral("0"));
    }
    { // no server: only the report
        Receiving r;
        r.app.writeServerFile("SMTP=s\r\nPOP3=\r\nMAIL=m\r\nAPOP=1\r\n");
        QVERIFY(r.start());
        r.receive();
        QVERIFY(r.box.calls().isEmpty());
        QCOMPARE(r.form()->Text3->text(), QStringLiteral("新着メール無し。"));
        QCOMPARE(r.form()->Text6->text(), QStringLiteral("0"));
    }
}

void ReceiveTest::credentialsNotKeptOnDiskServeTheRun()
{
    Receiving r;
    QVERIFY(r.start());
    IdPassForm* form = r.app.windows->show<IdPassForm>();
    QVERIFY(form->Check1->isChecked()); // a password is stored
    form->IdText->setText(QStringLiteral("jiro"));
    form->PassText->setText(QStringLiteral("new"));
    form->Check1->setChecked(false);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    AppFixture::settle();
    const QByteArray file = r.app.readData(QStringLiteral("iniIdPass.ini"));
    QVERIFY2(!file.contains("NAME2") && file.contains("NAME3=0\r\n"), file.constData());
    for (int i = 0; i < 2; ++i) { // every receive of the run, not only the first
        r.receive();
        QCOMPARE(r.box.lastId, QStringLiteral("jiro"));
        QCOMPARE(r.box.lastPassword, QStringLiteral("new"));
    }
    // Opened again, the dialog shows them, with the box unchecked.
    r.app.windows->show<IdPassForm>();
    form = r.app.windows->existing<IdPassForm>();
    QCOMPARE(form->PassText->text(), QStringLiteral("new"));
    QVERIFY(!form->Check1->isChecked());
    // Kept on disk after all: the file decides again.
    form->Check1->setChecked(true);
    QTest::mouseClick(form->OKCommand, Qt::LeftButton);
    r.app.writeData(QStringLiteral("iniIdPass.ini"), "[EXEINI]\r\nNAME=saburo\r\nNAME2=pw3\r\n");
    r.receive();
    QCOMPARE(r.box.lastId, QStringLiteral("saburo"));
}

void ReceiveTest::aSecondReceiveWhileOneRunsIsNotStarted()
{
    Receiving r;
    r.box.mails = {mail(QStringLiteral("a"))};
    QSemaphore entered;
    QSemaphore release;
    r.box.onConnect = [&] {
        entered.release();
        release.acquire();
    };
    QVERIFY(r.start());
    QSignalSpy titles(r.form(), &QWidget::windowTitleChanged);
    QSignalSpy counts(r.form()->Text6, &QLineEdit::textChanged);
    QTest::mouseClick(r.form()->Picture4, Qt::LeftButton);
    QVERIFY(entered.tryAcquire(1, 5000));
    QVERIFY(r.form()->receiving());
    QTest::mouseClick(r.form()->Picture4, Qt::LeftButton);
    // The window answers while the cycle waits.
    r.form()->Check1->setChecked(!r.form()->Check1->isChecked());
    release.release();
    r.settle();
    QCOMPARE(r.connects(), 1);
    QCOMPARE(r.records().size(), 1);
    // Progress shows inside the window while mails come in, not in the
    // title, which the window's width would cut off.
    QVERIFY(titles.isEmpty());
    QCOMPARE(r.form()->windowTitle(), QStringLiteral("ルモラ Ver 1.0"));
    QCOMPARE(counts.size(), 2);
    QCOMPARE(counts[0][0].toString(), QStringLiteral("1/1"));
    QCOMPARE(r.form()->Text6->text(), QStringLiteral("1"));
    QVERIFY(!r.form()->receiveProgressBar->isVisible());
}

void ReceiveTest::theFileLimitLeavesTheRestOnTheServer()
{
    Receiving r;
    r.box.mails = {mail(QStringLiteral("a"))};
    {
        QFile file(r.app.dataFile(QStringLiteral("krddata2.data")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(kMaxReceivedRecords * MailRecord::kLength)); // sparse
    }
    QVERIFY(r.start());
    r.receive();
    QVERIFY(r.box.deleted().isEmpty());
    QCOMPARE(QFileInfo(r.app.dataFile(QStringLiteral("krddata2.data"))).size(),
             kMaxReceivedRecords * MailRecord::kLength);
    QCOMPARE(r.app.ui.messages.size(), 1);
    QVERIFY(r.app.ui.messages[0].text.contains(QStringLiteral("32767")));
}

void ReceiveTest::intervalOfOneMinuteReceivesEvery61Seconds()
{
    Receiving r("NUMBER4=1\r\n");
    QVERIFY(r.start());
    const auto between = [&] {
        r.settle();
    };
    r.app.clock.advance(20, between);
    QCOMPARE(r.form()->Text7->text(), QStringLiteral("1")); // the dialog was loaded hidden
    QVERIFY(!r.app.windows->existing<SetForm>()->isVisible());
    r.app.clock.advance(60'900, between);
    QCOMPARE(r.connects(), 0);
    r.app.clock.advance(200, between); // the 61st second tick, then the check
    QCOMPARE(r.connects(), 1);
    QCOMPARE(r.form()->Text1->toPlainText(), QStringLiteral("0"));
    QCOMPARE(r.form()->Text9->text(), QStringLiteral("0")); // a receive leaves the seconds alone
    r.app.clock.advance(61'000 * 2, between);
    QCOMPARE(r.connects(), 3);
}

void ReceiveTest::anExplanationRestartsTheMinuteCount()
{
    Receiving r("NUMBER4=2\r\n");
    QVERIFY(r.start());
    const auto between = [&] {
        r.settle();
    };
    r.app.clock.advance(90'000, between);
    QCOMPARE(r.form()->Text1->toPlainText(), QStringLiteral("1"));
    QMouseEvent move(QEvent::MouseMove, QPointF(3, 3), QPointF(3, 3), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(r.form()->Picture4, &move);
    QVERIFY(!r.form()->Text1->toPlainText().isEmpty());
    r.app.clock.advance(92'900, between); // second 182.9
    QCOMPARE(r.connects(), 0);
    r.app.clock.advance(200, between);
    QCOMPARE(r.connects(), 1);
}

void ReceiveTest::intervalOffLettersAndFractions()
{
    for (const QByteArray& value : {QByteArray("0"), QByteArray("abc"), QByteArray("1.5")}) {
        Receiving r("NUMBER4=1\r\n");
        QVERIFY(r.start());
        const auto between = [&] {
            r.settle();
        };
        r.app.clock.advance(5'000, between);
        QCOMPARE(r.form()->Text9->text().toInt() > 0, true);
        // NUMBER4 is read as a number, so the letters and the fraction are
        // typed into the dialog as a user would.
        r.app.windows->existing<SetForm>()->Text2->setText(QString::fromLatin1(value));
        r.app.clock.advance(400'000, between);
        QCOMPARE(r.connects(), 0);
        if (value == "1.5") {
            // The minute count reaches 2, goes back to 0 and never matches 1.5.
            QVERIFY(r.form()->Text1->toPlainText().toDouble() < 2);
            QVERIFY(r.form()->Text9->text() != QStringLiteral("0"));
        } else {
            QCOMPARE(r.form()->Text9->text(), QStringLiteral("0"));
            QCOMPARE(r.form()->Image3->pixmap().toImage(), QImage(r.app.paths.lampFile(false)));
        }
    }
}

// A failing server and a box nobody closes: the next minutes pass while it
// is open (its own event loop runs the timers) and start no receive, so
// boxes never pile up.
void ReceiveTest::theIntervalNeverStacksErrorBoxes()
{
    Receiving r;
    r.box.loginResult = -2;
    r.box.error = QStringLiteral("サーバーとの接続が切れました。");
    QVERIFY(r.start());
    r.app.windows->window<SetForm>()->Text2->setText(QStringLiteral("1"));
    int boxes = 0;
    r.app.ui.onInform = [&](const QString&) {
        ++boxes;
        for (int minute = 0; minute < 3; ++minute) {
            // The failed receive's end reaches the window, as a rule: on a
            // busy machine its thread may end only after this box's event
            // began, and the end is then delivered after the box. Either
            // way no minute may start another receive.
            for (int i = 0; i < 2000 && r.form()->receiving(); ++i) {
                QCoreApplication::processEvents();
                QThread::msleep(1);
            }
            QCoreApplication::processEvents();
            r.form()->Text1->setPlainText(QStringLiteral("1"));
            r.app.clock.advance(40);
            QCOMPARE(r.connects(), 1);
        }
    };
    r.form()->Text1->setPlainText(QStringLiteral("1"));
    r.app.clock.advance(40);
    r.settle();
    QCOMPARE(boxes, 1);
    QCOMPARE(r.connects(), 1);
    QCOMPARE(r.form()->Text6->text(), QStringLiteral("0"));
    // Closed, the next minute tries again.
    r.app.ui.onInform = {};
    r.form()->Text1->setPlainText(QStringLiteral("1"));
    r.app.clock.advance(40);
    r.settle();
    QCOMPARE(r.connects(), 2);
}

// The program ends while a receive waits on a server that sends nothing: the
// settings are written first, and the receive is given up within two
// seconds, its mail left on the server.
void ReceiveTest::endingWritesTheSettingsAndGivesUpAStalledReceive()
{
    Receiving r;
    r.box.mails = {mail(QStringLiteral("一")), mail(QStringLiteral("二"))};
    QSemaphore stalled;
    r.box.onGetMail = [&](int n) {
        if (n == 2) {
            stalled.release();
            r.box.abortRequested.tryAcquire(1, 60'000);
        }
    };
    QVERIFY(r.start());
    r.form()->Check2->setChecked(true);
    QTest::mouseClick(r.form()->Picture4, Qt::LeftButton);
    QVERIFY(stalled.tryAcquire(1, 5000));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(r.form()->close());
    QVERIFY(clock.elapsed() < 2'000);
    QVERIFY(r.box.calls().contains(QStringLiteral("abort")));
    QVERIFY(r.app.readData(QStringLiteral("ini.ini")).contains("NUMBER2=1"));
    QCOMPARE(r.records().size(), 1); // the first mail was stored
}

void ReceiveTest::newMailIsNoticedOnTheDesktopOnlyWhileTheUserIsElsewhere()
{
    Receiving r;
    QVERIFY(r.start());
    // The user is in another program: no window of Lumora is active.
    QVERIFY(!QApplication::activeWindow());
    r.box.mails = {mail(QStringLiteral("一通目")),
                   {QStringLiteral("見積のお願い"),
                    QStringLiteral("花子 <hanako@example.jp>"),
                    QStringLiteral("Mon, 7 Dec 2026 11:00:00 +0900"),
                    QStringLiteral("お見積もりの件です"),
                    {}}};
    QMetaObject::invokeMethod(r.form(), "receiveMail");
    r.settle();
    QCOMPARE(r.app.ui.notices.size(), 1);
    QCOMPARE(r.app.ui.notices[0].summary, QStringLiteral("新着メール 2 通"));
    QCOMPARE(r.app.ui.notices[0].body,
             QStringLiteral("花子 <hanako@example.jp>\n見積のお願い")); // the newest
    // The lamp's texts stay as they were.
    QCOMPARE(r.form()->Text3->text(), QStringLiteral("新着メール有り。"));

    // The search index follows the receive with the viewer closed.
    QTRY_COMPARE(search::MailSearch(r.app.paths).find(QStringLiteral("見積")).value(),
                 QList<int>{1});

    // Activated, it opens the viewer on that mail.
    r.app.ui.notices[0].activate();
    auto* viewer = r.app.windows->existing<TyakuForm>();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->Text7->text(), QStringLiteral("見積のお願い"));

    // Nothing new: no notice.
    r.box.mails.clear();
    QMetaObject::invokeMethod(r.form(), "receiveMail");
    r.settle();
    QCOMPARE(r.app.ui.notices.size(), 1);
    // The user is in Lumora: its own lamp and texts say it, no notice.
    r.form()->show();
    r.form()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(r.form()));
    r.box.mails = {mail(QStringLiteral("三通目"))};
    QMetaObject::invokeMethod(r.form(), "receiveMail");
    r.settle();
    QCOMPARE(r.records().size(), 3);
    QCOMPARE(r.app.ui.notices.size(), 1);
}

QTEST_MAIN(ReceiveTest)
#include "receive_test.moc"
