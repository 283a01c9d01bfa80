#include "ses/network_transport.h"
#include "ui_fixture.h"

// The window against the SES v2 emulator on the loopback interface: the account it reports
// and a real test send.

namespace {

QJsonArray storedMessages(const QUrl& emulator) {
    const HTTPRequest request{u"GET"_s, emulator.resolved(QUrl(u"/store"_s)), {}, {}};
    const HTTPResponse store = test::runTask(NetworkTransport().send(request));
    return QJsonDocument::fromJson(store.body).object().value(u"emails"_s).toArray();
}

} // namespace

class TestSESPeer : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    std::unique_ptr<SESEmulator> m_emulator;
private Q_SLOTS:
    void initTestCase() {
        m_emulator = startSES(sesAccount(true, 14, 50000, 12));
        QVERIFY2(m_emulator->isRunning(), qPrintable(m_emulator->error()));
    }

    void init() {
        f = std::make_unique<UIFixture>();
        f->onboarded();
        f->writeLibrary(SampleData::library());
        f->credentials->set(u"AKIDEXAMPLE"_s, CredentialStore::Key::awsAccessKeyID);
        f->credentials->set(u"wJalrXUtnFEMI/K7MDENG"_s, CredentialStore::Key::awsSecretAccessKey);
    }
    void cleanup() { f.reset(); }

    void accountOnTheBadgeAndTheSheet() {
        MainWindow& window = f->open();
        QTRY_VERIFY_WITH_TIMEOUT(f->model->account() || f->model->sesError(), 10000);
        QVERIFY2(f->model->account(), qPrintable(f->model->sesError().value_or(QString())));
        QCOMPARE(window.sidebar()->badge()->headline(), u"SES production"_s);
        QCOMPARE(window.sidebar()->badge()->detail(), u"12 of 50000 today, 14/s"_s);
        auto* view = f->screen<NewslettersView>(AppSection::newsletters);
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        view->editor()->openSendSheet();
        QCOMPARE(view->editor()->sendSheet()->rateLabel()->text(),
                 u"Throttled to 80% of your SES rate (11.2 per second)"_s);
    }

    void sendTest() {
        f->open();
        auto* view = f->screen<NewslettersView>(AppSection::newsletters);
        NewsletterEditor* editor = view->editor();
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        const int before = storedMessages(m_emulator->url()).size();
        QTest::keyClicks(editor->testAddressField(), u"Proof.Reader@example.org"_s);
        QTest::mouseClick(editor->sendTestButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->statusMessage().has_value(), 20000);
        QVERIFY2(f->model->statusMessage()->startsWith(
                     u"Test sent to proof.reader@example.org (message "_s),
                 qPrintable(*f->model->statusMessage()));
        QVERIFY(editor->sendTestButton()->isEnabled());
        const QJsonArray messages = storedMessages(m_emulator->url());
        QCOMPARE(messages.size(), before + 1);
        QVERIFY(messages.last()
                    .toObject()
                    .value(u"subject"_s)
                    .toString()
                    .startsWith(u"[Test] Issue 14"_s));
        // A test send changes nothing in the library.
        QCOMPARE(f->model->selectedNewsletter()->stats.sent, 0);
    }
};

QUILLMERE_UI_TEST_MAIN(TestSESPeer)
#include "tst_ses_peer.moc"
