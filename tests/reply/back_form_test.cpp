#include "addressbook/friend_form.h"
#include "compose/editor_commands.h"
#include "mail/mail_library.h"
#include "reply/back_form.h"
#include "store/records.h"
#include "store/text_codec.h"
#include "support/accessible_names.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "support/mail_servers.h"
#include "support/received_file.h"
#include "support/sending_mail_library.h"
#include "ui/geometry.h"
#include "ui/picture_button.h"
#include "viewer/tyaku_form.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::fileOf;
using lumora::test::MailServers;
using lumora::test::SendingMailLibrary;

namespace {

MailRecord mail(const QString& subject, const QString& body,
                const QString& from = QStringLiteral("  花子 <hanako@example.jp>  "))
{
    return MailRecord::received(subject, from, QStringLiteral("Mon, 7 Dec 2026 10:00:00 +0900"),
                                body);
}

// A program whose received-mail file holds the mails, with the viewer open
// and a mail library that records every send.
struct Reply {
    explicit Reply(const QList<MailRecord>& records, MailLibrary* library = nullptr)
    {
        app.writeCompleteAccount();
        app.library = library ? library : &mail;
        app.writeData(QStringLiteral("krddata2.data"), fileOf(records));
    }
    TyakuForm* viewer()
    {
        if (!app.mainForm) {
            app.start();
            QTest::mouseClick(app.mainForm->Picture5, Qt::LeftButton);
        }
        return app.windows->existing<TyakuForm>();
    }
    void clickRow(int row)
    {
        QTreeView* list = viewer()->MailListView;
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    // Clicks the row and "   返事を書く".
    BackForm* replyTo(int row)
    {
        clickRow(row);
        viewer()->Command5->click();
        return app.windows->existing<BackForm>();
    }
    static void settle(QPointer<BackForm> form)
    {
        for (int i = 0; i < 20000 && form && form->sending(); ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(1);
        }
        QCoreApplication::processEvents();
        AppFixture::settle();
    }
    QString lastMessage() const
    {
        return app.ui.messages.isEmpty() ? QString() : app.ui.messages.last().text;
    }

    SendingMailLibrary mail;
    AppFixture app;
};

void expectNear(int pixels, int twips)
{
    QVERIFY2(qAbs(pixels - ui::twips(twips)) <= 1,
             qPrintable(QStringLiteral("%1 px, not %2 twips").arg(pixels).arg(twips)));
}

} // namespace

class BackFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theViewerHandsTheShownMailOn();
    void theWindowHasItsControlsAndFollowsItsSize();
    void thePasteSetsTheClipboardAboveTheReceivedText();
    void aFailedReplyStaysASentOneCloses();
    void endingTheProgramDuringAReplyAsksFirst();
    void everyControlHasAName();
    void repliesThroughTheRealServer();
    void tabGoesInReadingOrderAndCtrlTabLeavesTheBody();
};

void BackFormTest::theViewerHandsTheShownMailOn()
{
    Reply r({mail(QStringLiteral("  お見積りの件 "),
                  QStringLiteral("  お世話になります。\r\n二行目  ")),
             mail(QStringLiteral("Re: 会議"), QString(), QString(70, u'x'))});
    TyakuForm* viewer = r.viewer();
    // Without a clicked row both refuse, and nothing opens.
    viewer->Text5->clear();
    viewer->Command5->click();
    viewer->Command4->click();
    QCOMPARE(r.app.ui.messages.size(), 2);
    QCOMPARE(r.lastMessage(), QStringLiteral("データが選択されていません"));
    QVERIFY(!r.app.windows->existing<BackForm>());
    QVERIFY(!r.app.windows->existing<FriendForm>());

    QPointer<BackForm> form = r.replyTo(0);
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  お見積りの件"));
    QCOMPARE(form->ToText->text(), QStringLiteral("花子 <hanako@example.jp>"));
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("お世話になります。\n二行目"));
    QVERIFY(viewer->Text5->text().isEmpty()); // the marker is used up
    viewer->Command5->click();
    QCOMPARE(r.lastMessage(), QStringLiteral("データが選択されていません"));

    // A second reply replaces the three fields only; an empty body gives an
    // empty one, and a subject that is a reply already gets the prefix again.
    // A file attached to the reply in hand is the user's: asked first (No,
    // the default, keeps the reply).
    r.app.root.write(QStringLiteral("a.txt"), "a");
    r.app.ui.files = {r.app.root.file(QStringLiteral("a.txt"))};
    form->AttachCommand->click();
    r.app.ui.answers = {false};
    QCOMPARE(r.replyTo(1), form.data());
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  お見積りの件"));
    QCOMPARE(r.app.ui.messages.last().byDefault, DefaultAnswer::No);
    r.app.ui.answers = {true};
    QCOMPARE(r.replyTo(1), form.data());
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  Re: 会議"));
    QVERIFY(form->BodyText->toPlainText().isEmpty());
    QCOMPARE(form->attachments(), QStringList{r.app.root.file(QStringLiteral("a.txt"))});

    // After a save as text the body holds the header block, and the reply takes it.
    r.clickRow(0);
    r.app.ui.files = {r.app.root.file(QStringLiteral("保存.txt"))};
    viewer->msave->trigger();
    const QString block = viewer->rtfEd->toPlainText();
    QVERIFY(block.contains(QStringLiteral("お見積りの件")));
    viewer->Command5->click();
    QCOMPARE(form->BodyText->toPlainText(), text::trimSpaces(block));

    // The sender into the address book, cut to the box's 60 characters.
    r.clickRow(1);
    viewer->Command4->click();
    FriendForm* book = r.app.windows->existing<FriendForm>();
    QVERIFY(book && book->isVisible());
    QCOMPARE(book->Text4->text(), QString(60, u'x'));
    QVERIFY(viewer->Text5->text().isEmpty());
    const qsizetype before = r.app.ui.messages.size();
    viewer->Command4->click();
    QCOMPARE(r.app.ui.messages.size(), before + 1);
    QCOMPARE(r.lastMessage(), QStringLiteral("データが選択されていません"));
}

void BackFormTest::theWindowHasItsControlsAndFollowsItsSize()
{
    Reply r({mail(QStringLiteral("件名"), QStringLiteral("本文"))});
    QPointer<BackForm> form = r.replyTo(0);
    QCOMPARE(form->windowTitle(), QStringLiteral("返事を書く"));
    QCOMPARE(form->Command2->text(), QStringLiteral("    送信"));
    QCOMPARE(form->Command3->text(), QStringLiteral("     送信中止"));
    QCOMPARE(form->Command4->text(), QStringLiteral("     本文に貼付"));
    QCOMPARE(form->AttachCommand->text(), QStringLiteral("添付"));
    QCOMPARE(form->Command9->text(), QStringLiteral("追加"));
    QCOMPARE(form->Command10->text(), QStringLiteral("取り消し"));
    QCOMPARE(form->Label3->text(), QStringLiteral("添付File"));
    QCOMPARE(form->BodyText->font().family(),
             ui::fontFamily(QStringLiteral("ＭＳ Ｐゴシック")).family());
    QVERIFY(!form->List2->isVisibleTo(form));

    form->resize(ui::twips(10000), ui::twips(8000));
    QCoreApplication::processEvents();
    const int w = ui::pixelsToTwips(form->width());
    const int h = ui::pixelsToTwips(form->height());
    expectNear(form->AttachText->width(), w * 4 / 10);
    expectNear(form->AttachText->width(), 4000);
    expectNear(form->AttachCommand->x(), 5240);
    expectNear(form->Command9->x(), 6060);
    expectNear(form->Command10->x(), 6940);
    expectNear(form->ToText->width(), 7000);
    expectNear(form->SubjectText->width(), 7000);
    expectNear(form->BodyText->width(), 9900);
    expectNear(form->BodyText->height(), static_cast<int>(h * 0.74));
    // The body ends above the status bar, inside the window.
    QVERIFY(form->BodyText->mapTo(form, QPoint(0, form->BodyText->height())).y() <=
            form->StatusBar1->mapTo(form, QPoint(0, 0)).y());
    QVERIFY(form->StatusBar1->isVisible());

    // The attachment buttons are the compose window's: "追加" shows the list,
    // "取り消し" empties it and turns itself off until "添付" is used again.
    r.app.root.write(QStringLiteral("見積書.txt"), "a");
    r.app.root.write(QStringLiteral("b.txt"), "b");
    r.app.ui.files = {r.app.root.file(QStringLiteral("見積書.txt")),
                      r.app.root.file(QStringLiteral("b.txt"))};
    form->AttachCommand->click();
    QVERIFY(!form->AttachCommand->isEnabled());
    form->Command9->click();
    QVERIFY(form->List2->isVisibleTo(form));
    QCOMPARE(form->List2->count(), 2);
    QCOMPARE(form->List2->item(0)->text(), QStringLiteral("見積書.txt"));
    QCOMPARE(form->AttachText->text(), r.app.root.file(QStringLiteral("見積書.txt")) + u',' +
                                           r.app.root.file(QStringLiteral("b.txt")));
    form->Command10->click();
    QVERIFY(form->AttachText->text().isEmpty());
    QVERIFY(!form->Command10->isEnabled() && !form->Command9->isEnabled());
    QVERIFY(form->AttachCommand->isEnabled());

    // "     送信中止" closes without a send, asking first for what was
    // written; the body is emptied on the way and the next reply window
    // starts afresh.
    form->BodyText->setPlainText(QStringLiteral("書きかけ"));
    r.app.ui.answers = {false};
    form->Command3->click();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("書きかけ"));
    r.app.ui.answers = {true};
    QTextEdit* body = form->BodyText;
    QString bodyAtClose = QStringLiteral("not closed");
    connect(form, &QObject::destroyed, this, [&] { bodyAtClose.clear(); });
    QObject::connect(body, &QTextEdit::textChanged, body,
                     [&] { bodyAtClose = body->toPlainText(); });
    form->Command3->click();
    QVERIFY(bodyAtClose.isEmpty());
    Reply::settle(form);
    QVERIFY(!form);
    QVERIFY(r.mail.snapshot().isEmpty());
    form = r.replyTo(0);
    QVERIFY(form->Command10->isEnabled());
}

void BackFormTest::thePasteSetsTheClipboardAboveTheReceivedText()
{
    Reply r({mail(QStringLiteral("一"), QStringLiteral("  Q  ")),
             mail(QStringLiteral("二"), QStringLiteral("別のメール"))});
    QPointer<BackForm> form = r.replyTo(0);
    form->BodyText->setPlainText(QStringLiteral("書いていた返事"));
    r.app.ui.clipboard = QStringLiteral("R");
    form->Command4->click();
    // The lone CR of the seven characters is a line break in the editor, and
    // what goes on the clipboard is the editor's text.
    const QString once = QStringLiteral("R\r\n\r\n\r\n\r\nQ");
    QCOMPARE(editorText(form->BodyText), once);
    QCOMPARE(r.app.ui.clipboard, once);
    // Pressed again, the first press's result is what gets pasted.
    form->Command4->click();
    QCOMPARE(editorText(form->BodyText), once + QStringLiteral("\r\n\r\n\r\n\r\nQ"));
    QCOMPARE(r.app.ui.clipboard, editorText(form->BodyText));

    // A click in the viewer while the reply is open changes the mail pasted.
    r.clickRow(1);
    r.app.ui.clipboard = QStringLiteral("  R  ");
    form->Command4->click();
    // Spaces go at both ends of the whole only.
    QCOMPARE(editorText(form->BodyText), QStringLiteral("R  \r\n\r\n\r\n\r\n別のメール"));
    QCOMPARE(r.app.ui.clipboard, QStringLiteral("  R  \r\n\r\n\r\n\r\n別のメール"));
    // The reply's own fields are left as they were.
    QCOMPARE(form->SubjectText->text(), QStringLiteral("Re:  一"));
}

void BackFormTest::aFailedReplyStaysASentOneCloses()
{
    Reply r({mail(QStringLiteral("件名"), QStringLiteral("受信した本文"))});
    QPointer<BackForm> form = r.replyTo(0);
    r.app.root.write(QStringLiteral("a.txt"), "a");
    r.app.ui.files = {r.app.root.file(QStringLiteral("a.txt"))};
    form->AttachCommand->click();
    form->ToText->setText(QStringLiteral(" hanako@example.jp "));
    form->BodyText->setPlainText(QStringLiteral("返事です。\n受信した本文"));

    // While the send runs the window takes no input and does not close.
    r.mail.hold = true;
    r.mail.results = {-1};
    r.mail.errorText = QStringLiteral("サーバーが受け付けませんでした");
    form->Command2->click();
    r.mail.started.acquire();
    QVERIFY(form->sending());
    QVERIFY(!form->Command2->isEnabled() && !form->BodyText->isEnabled());
    form->close();
    QVERIFY(form->isVisible());
    QVERIFY(!form->StatusBar1->currentMessage().isEmpty());
    r.mail.proceed.release();
    Reply::settle(form);

    // One box with the library's text; everything is still there.
    QVERIFY(form);
    QCOMPARE(r.app.ui.messages.size(), 1);
    QCOMPARE(r.app.ui.messages[0].title, QStringLiteral("送信エラー"));
    QCOMPARE(r.lastMessage(), QStringLiteral("サーバーが受け付けませんでした"));
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("返事です。\n受信した本文"));
    QCOMPARE(form->attachments(), QStringList{r.app.root.file(QStringLiteral("a.txt"))});
    QVERIFY(form->Command2->isEnabled());
    QVERIFY(!form->AttachCommand->isEnabled()); // the attachment buttons keep their state
    QVERIFY(form->StatusBar1->currentMessage().contains(QStringLiteral("送信されていません")));

    // The call as the compose window's single send makes it, fields untrimmed.
    r.mail.hold = false;
    form->Command2->click();
    Reply::settle(form);
    QVERIFY(!form);
    QCOMPARE(r.app.ui.messages.size(), 1); // no success message
    const QList<SendingMailLibrary::Send> sends = r.mail.snapshot();
    QCOMPARE(sends.size(), 2);
    const SendingMailLibrary::Send& s = sends[1];
    QCOMPARE(s.server, QStringLiteral("smtp.example.jp"));
    QCOMPARE(s.to, QStringLiteral(" hanako@example.jp "));
    QVERIFY(s.cc.isEmpty() && s.bcc.isEmpty() && s.header.isEmpty());
    QCOMPARE(s.from, QStringLiteral("taro@example.jp"));
    QCOMPARE(s.subject, QStringLiteral("Re:  件名"));
    QCOMPARE(s.body, QStringLiteral("返事です。\r\n受信した本文"));
    QCOMPARE(s.attachments, QStringList{r.app.root.file(QStringLiteral("a.txt"))});
    QCOMPARE(s.flag, 0);
}

void BackFormTest::endingTheProgramDuringAReplyAsksFirst()
{
    Reply r({mail(QStringLiteral("件名"), QStringLiteral("本文"))});
    QPointer<BackForm> form = r.replyTo(0);
    r.mail.hold = true;
    form->Command2->click();
    r.mail.started.acquire();
    // A failed check below must not leave the send waiting for ever.
    auto release = qScopeGuard([&r] { r.mail.proceed.release(); });
    r.app.ui.answers = {false};
    QVERIFY(!r.app.mainForm->close());
    QVERIFY(r.lastMessage().contains(QStringLiteral("返事を送信中です")));
    QVERIFY(form && form->sending());
    release.dismiss();
    r.mail.proceed.release();
    Reply::settle(form);
    QVERIFY(!form);
    QCOMPARE(r.mail.snapshot().size(), 1);
}

void BackFormTest::everyControlHasAName()
{
    Reply r({mail(QStringLiteral("件名"), QStringLiteral("本文"))});
    BackForm* form = r.replyTo(0);
    const QStringList problems =
        lumora::test::nameProblems(form, {
                                             {form->ToText, "宛先"},
                                             {form->SubjectText, "題名"},
                                             {form->AttachText, "添付ファイル"},
                                             {form->BodyText, "本文"},
                                             {form->Command2, "送信"},
                                             {form->Command3, "送信中止"},
                                             {form->Command4, "本文に貼付"},
                                             {form->AttachCommand, "添付"},
                                             {form->List2, "添付ファイル一覧"},
                                         });
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
}

void BackFormTest::repliesThroughTheRealServer()
{
    MailServers servers;
    QVERIFY(servers.started());
    MailLibraryOptions options;
    options.caFile = servers.caFile();
    const auto library = createMailLibrary(options);
    Reply r({mail(QStringLiteral("お見積りのお願い"), QStringLiteral("見積書をお送りください。"))},
            library.get());
    r.app.writeServerFile("SMTP=" + servers.smtp().toUtf8() + "\r\nPOP3=" +
                          servers.pop3().toUtf8() + "\r\nMAIL=taro@example.jp\r\nAPOP=0\r\n");
    const QString spool = servers.value(QStringLiteral("LUMORA_SMTP_SPOOL"));
    const auto readSpool = [&] {
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(LUMORA_SPOOL_READER), spool});
        p.waitForFinished(30'000);
        return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
    };
    const QByteArray file = "見積書\r\n" + QByteArray(5000, 'm');
    r.app.root.write(QStringLiteral("見積書.txt"), file);

    // From the viewer, with an attachment and the paste's seven characters.
    QPointer<BackForm> form = r.replyTo(0);
    r.app.ui.files = {r.app.root.file(QStringLiteral("見積書.txt"))};
    form->AttachCommand->click();
    r.app.ui.clipboard = QStringLiteral("お送りします。");
    form->Command4->click();
    form->Command2->click();
    Reply::settle(form);
    QVERIFY2(!form, qPrintable(r.lastMessage()));
    QJsonArray spooled = readSpool();
    QCOMPARE(spooled.size(), 1);
    const QJsonObject m = spooled[0].toObject();
    QCOMPARE(m[u"rcpt"].toArray(), QJsonArray{QStringLiteral("hanako@example.jp")});
    QCOMPARE(m[u"subject"].toString(), QStringLiteral("Re:  お見積りのお願い"));
    QCOMPARE(m[u"body"].toString().replace(QStringLiteral("\r\n"), QStringLiteral("\n")).trimmed(),
             QStringLiteral("お送りします。\n\n\n\n見積書をお送りください。"));
    QVERIFY(!m[u"bare_cr"].toBool());
    const QJsonArray files = m[u"attachments"].toArray();
    QCOMPARE(files.size(), 1);
    QCOMPARE(files[0][u"name"].toString(), QStringLiteral("見積書.txt"));
    QCOMPARE(
        files[0][u"sha256"].toString(),
        QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex()));

    // A server that refuses the mail (too big for it): one box, nothing lost.
    r.app.context->account.SmtpServer =
        QStringLiteral("127.0.0.1:") + servers.value(QStringLiteral("LUMORA_SMTP_SMALL_PORT"));
    QByteArray big;
    for (int i = 0; i < 300 * 1024; ++i) {
        big += char(i * 13 % 256);
    }
    r.app.root.write(QStringLiteral("大きい.bin"), big);
    form = r.replyTo(0);
    r.app.ui.files = {r.app.root.file(QStringLiteral("大きい.bin"))};
    form->AttachCommand->click();
    r.app.ui.messages.clear();
    form->Command2->click();
    Reply::settle(form);
    QVERIFY(form);
    QCOMPARE(r.app.ui.messages.size(), 1);
    QCOMPARE(r.app.ui.messages[0].title, QStringLiteral("送信エラー"));
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("見積書をお送りください。"));
    QCOMPARE(readSpool().size(), 1);
}

void BackFormTest::tabGoesInReadingOrderAndCtrlTabLeavesTheBody()
{
    using namespace lumora::test;
    Reply r({mail(QStringLiteral("件名"), QStringLiteral("本文"))});
    BackForm* form = r.replyTo(0);
    QVERIFY(activate(form));
    QCOMPARE(tabChain(form->Command2),
             objectNames({"Command2", "Command3", "Command4", "ToText", "SubjectText", "AttachText",
                          "AttachCommand", "Command9", "Command10", "BodyText"}));
    QVERIFY2(designNamedControls(form).isEmpty(), qPrintable(designNamedControls(form).join(u',')));
}

QTEST_MAIN(BackFormTest)
#include "back_form_test.moc"
