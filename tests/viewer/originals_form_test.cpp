// The viewer's originals, export and import, and the address book's
// exchange, through their menus with scripted answers.
#include "addressbook/address_book.h"
#include "addressbook/friend_form.h"
#include "mail/mail_library.h"
#include "store/originals.h"
#include "store/records.h"
#include "support/app_fixture.h"
#include "support/keyboard_walk.h"
#include "support/mail_samples.h"
#include "support/received_file.h"
#include "ui/picture_button.h"
#include "viewer/original_form.h"
#include "viewer/tyaku_form.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace lumora;
using lumora::test::AppFixture;
using lumora::test::subjectsIn;

namespace {

bool writeSamples(const QString& folder)
{
    return lumora::test::mailSamples({QStringLiteral("samples"), folder}).has_value();
}

void clickRow(TyakuForm* form, int row)
{
    QTreeView* list = form->MailListView;
    const QRect rect = list->visualRect(list->model()->index(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

} // namespace

class OriginalsFormTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void importShowSaveExportAndReply();
    void addressBookReadsAndWritesOtherProgramsFiles();
    void endingTheProgramStopsAnImportFirst();
    void theOriginalsWindowClosesWithEscapeAndTabLeavesItsText();
};

void OriginalsFormTest::importShowSaveExportAndReply()
{
    AppFixture app;
    const std::unique_ptr<MailLibrary> library = createMailLibrary({});
    app.library = library.get();
    app.writeCompleteAccount();
    const QString samples = app.root.file(QStringLiteral("samples"));
    QVERIFY(writeSamples(samples));
    QVERIFY(app.start());
    QTest::mouseClick(app.mainForm->Picture5, Qt::LeftButton);
    TyakuForm* form = app.windows->existing<TyakuForm>();
    QVERIFY(form);

    // In from a folder of .eml files, with a count at the end; a second
    // import of the same folder finds nothing new.
    app.ui.choices = {1, 1};
    app.ui.files = {samples, samples};
    form->mimport->trigger();
    QCOMPARE(app.ui.messages.last().text, QStringLiteral("4 件のメールを読み込みました。"));
    QCOMPARE(form->Text2->text(), QStringLiteral("4"));
    form->mimport->trigger();
    QCOMPARE(
        app.ui.messages.last().text,
        QStringLiteral("0 件のメールを読み込みました。\n4 件は読み込み済みのため飛ばしました。"));
    QCOMPARE(subjectsIn(app.readData(QStringLiteral("krddata2.data"))).size(), 4);

    // What cannot be a mail is named in the summary; a file without mail and
    // an mbox that is a pipe say so.
    const QString traps = app.root.file(QStringLiteral("traps"));
    QVERIFY(QDir().mkpath(traps));
    QVERIFY(::mkfifo(QFile::encodeName(traps + QStringLiteral("/pipe.eml")).constData(), 0600) ==
            0);
    QVERIFY(QFile::link(QStringLiteral("/etc/passwd"), traps + QStringLiteral("/passwd.eml")));
    app.root.write(QStringLiteral("plain.mbox"), "no mail here\n");
    app.ui.choices = {1, 0, 0};
    app.ui.files = {traps, app.root.file(QStringLiteral("plain.mbox")),
                    traps + QStringLiteral("/pipe.eml")};
    form->mimport->trigger();
    QVERIFY(app.ui.messages.last().text.startsWith(
        QStringLiteral("0 件のメールを読み込みました。\n次の 2 件は読み込みませんでした。")));
    QVERIFY(app.ui.messages.last().text.contains(QStringLiteral("passwd.eml: フォルダの外")));
    QVERIFY(app.ui.messages.last().text.contains(QStringLiteral("pipe.eml: 通常のファイルでは")));
    form->mimport->trigger();
    QVERIFY(
        app.ui.messages.last().text.startsWith(QStringLiteral("メールが見つかりませんでした。")));
    form->mimport->trigger();
    QVERIFY(app.ui.messages.last().text.contains(QStringLiteral("通常のファイルではありません")));

    // The mail full of characters the record cannot hold: the status bar
    // says so, and its original shows them all.
    clickRow(form, 1);
    QCOMPARE(form->Text7->text(), QStringLiteral("Cafe 〓 〓 Muller"));
    QTRY_COMPARE(form->StatusBar1->currentMessage(), QStringLiteral("※元のメールを表示"));
    QVERIFY(form->StatusBar1->accessibleDescription().contains(QStringLiteral(
        "このメールの件名と本文は一部が切れているか、文字が置き換えられています。")));
    form->moriginal->trigger();
    auto* original = form->findChild<OriginalForm*>();
    QVERIFY(original && original->isVisible());
    QVERIFY(original->txtOriginal->isReadOnly());
    QVERIFY(original->txtOriginal->toPlainText().contains(
        QStringLiteral("Subject: Café ☕ 🎉 Müller\n\nGrüße aus Köln, naïve café")));
    QVERIFY(original->txtOriginal->toPlainText().contains(QStringLiteral("résumé 🎉.txt")));
    QCOMPARE(original->txtOriginal->accessibleName(), QStringLiteral("元のメール"));

    const QString saved = app.root.file(QStringLiteral("saved.eml"));
    app.ui.files = {saved};
    form->msaveoriginal->trigger();
    QCOMPARE(app.root.read(QStringLiteral("saved.eml")),
             app.root.read(QStringLiteral("samples/02.eml")));

    // The reply to it carries its thread.
    QSignalSpy replies(form, &TyakuForm::replyRequested);
    clickRow(form, 1);
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies.first().at(3).toString(),
             QStringLiteral("In-Reply-To: <emoji.2@example.com>\r\n"
                            "References: <start.0@example.com> <emoji.2@example.com>\r\n"));

    // A mail that fits its record says nothing.
    clickRow(form, 3);
    QTest::qWait(200); // the original is read off the window's thread
    QCOMPARE(form->StatusBar1->currentMessage(), QString());

    // Out: every mail to an mbox, the shown one to a folder.
    app.ui.choices = {0, 3};
    app.ui.files = {app.root.file(QStringLiteral("all.mbox")),
                    app.root.file(QStringLiteral("one"))};
    form->mexport->trigger();
    QVERIFY(
        app.ui.messages.last().text.startsWith(QStringLiteral("4 件のメールを書き出しました。")));
    QCOMPARE(app.root.read(QStringLiteral("all.mbox")).count("\nFrom ") + 1, 4);
    form->mexport->trigger();
    QCOMPARE(QDir(app.root.file(QStringLiteral("one"))).entryList(QDir::Files),
             QStringList{QStringLiteral("0001 From lines.eml")});

    // A mail stored before originals were kept has none to show.
    clickRow(form, 0);
    const Originals originals(app.paths.originalsFolder());
    QSet<QString> others = originals.names();
    others.remove(originals.entryFor(1, app.context->recordBuffer.get().bytes())->name());
    originals.removeAllBut(others);
    form->moriginal->trigger();
    QVERIFY(app.ui.messages.last().text.startsWith(
        QStringLiteral("このメールには元のメールが保存されていません。")));
    QVERIFY(app.ui.unscripted.isEmpty());
}

void OriginalsFormTest::addressBookReadsAndWritesOtherProgramsFiles()
{
    AppFixture app;
    QVERIFY(app.start());
    FriendForm* book = app.windows->show<FriendForm>();
    QVERIFY(book->MailListView->actions().contains(book->mimportaddresses));
    QCOMPARE(book->MailListView->contextMenuPolicy(), Qt::ActionsContextMenu);
    app.root.write(
        QStringLiteral("cards.vcf"),
        "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:山田 太郎\r\nEMAIL:taro@example.jp\r\n"
        "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nFN:José\r\nEMAIL:jose@example.com\r\n"
        "END:VCARD\r\n");
    app.ui.files = {app.root.file(QStringLiteral("cards.vcf")),
                    app.root.file(QStringLiteral("cards.vcf"))};
    book->mimportaddresses->trigger();
    QCOMPARE(app.ui.messages.last().text, QStringLiteral("2 件を登録しました。"));
    QCOMPARE(book->MailListView->topLevelItemCount(), 2);
    QCOMPARE(book->Text3->text(), QStringLiteral("2"));
    book->mimportaddresses->trigger();
    QCOMPARE(
        app.ui.messages.last().text,
        QStringLiteral("0 件を登録しました。\n2 件は登録済みか、アドレスがないため飛ばしました。"));

    app.ui.choices = {1};
    app.ui.files = {app.root.file(QStringLiteral("book.csv"))};
    book->mexportaddresses->trigger();
    QCOMPARE(app.root.read(QStringLiteral("book.csv")),
             QByteArray("\xEF\xBB\xBF") +
                 QStringLiteral("Display Name,E-mail Address\r\n山田 太郎,taro@example.jp\r\n"
                                "Jose,jose@example.com\r\n")
                     .toUtf8());
    QVERIFY(app.ui.unscripted.isEmpty());
}

void OriginalsFormTest::endingTheProgramStopsAnImportFirst()
{
    AppFixture app;
    const std::unique_ptr<MailLibrary> library = createMailLibrary({});
    app.library = library.get();
    app.writeCompleteAccount();
    const QString folder = app.root.file(QStringLiteral("many"));
    QDir().mkpath(folder);
    for (int i = 0; i < 400; ++i) {
        app.root.write(QStringLiteral("many/%1.eml").arg(i, 4, 10, QLatin1Char('0')),
                       QStringLiteral("Subject: 第%1便\r\nFrom: a@example.jp\r\n\r\n%2\r\n")
                           .arg(i)
                           .arg(QString(2000, u'本'))
                           .toUtf8());
    }
    QVERIFY(app.start());
    QTest::mouseClick(app.mainForm->Picture5, Qt::LeftButton);
    const QPointer<TyakuForm> form = app.windows->existing<TyakuForm>();
    app.ui.choices = {1};
    app.ui.files = {folder};
    app.ui.answers = {true}; // yes, stop and end
    // A message box runs an event loop of its own, under the viewer: the
    // program's end must wait for it, not take the viewer away under it.
    bool viewerGoneUnderItsMessage = false;
    app.ui.onInform = [&](const QString&) {
        QCoreApplication::processEvents();
        viewerGoneUnderItsMessage = viewerGoneUnderItsMessage || !form;
    };
    app.mainForm->show();
    QTimer::singleShot(0, app.mainForm.get(), [&app] { app.mainForm->close(); });
    form->mimport->trigger();
    // The close came while the import ran: asked, the import stopped, the
    // viewer told how far it got; then the program ends.
    QVERIFY(app.ui.messages.size() >= 2);
    QVERIFY(app.ui.messages[0].text.startsWith(QStringLiteral("メールの読み込みか書き出し")));
    QVERIFY(app.ui.messages.last().text.contains(QStringLiteral("途中で中止しました")));
    const qint64 stored =
        app.readData(QStringLiteral("krddata2.data")).size() / MailRecord::kLength;
    QVERIFY(stored < 400);
    QVERIFY(app.ui.messages.last().text.startsWith(
        QStringLiteral("%1 件のメールを読み込みました。").arg(stored)));
    QVERIFY(!viewerGoneUnderItsMessage);
    QTRY_VERIFY(!app.mainForm->isVisible());
    QVERIFY(!form); // ended with the program
}

void OriginalsFormTest::theOriginalsWindowClosesWithEscapeAndTabLeavesItsText()
{
    using namespace lumora::test;
    OriginalForm original;
    original.showMail(QStringLiteral("件名"), QStringLiteral("Subject: 件名\n\n本文"));
    QVERIFY(activate(&original));
    QCOMPARE(tabChain(original.txtOriginal), objectNames({"txtOriginal", "cmdClose"}));
    QTest::keyClick(original.txtOriginal, Qt::Key_Escape);
    QVERIFY(!original.isVisible());
}

QTEST_MAIN(OriginalsFormTest)
#include "originals_form_test.moc"
