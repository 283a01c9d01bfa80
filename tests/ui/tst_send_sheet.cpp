#include "ui_fixture.h"

class TestSendSheet : public QObject {
    Q_OBJECT

    std::unique_ptr<UIFixture> f;

    NewsletterEditor* editor() const {
        return f->screen<NewslettersView>(AppSection::newsletters)->editor();
    }

    // Selects a sample issue and opens its sheet with "Send to List".
    SendSheet* openSheet(int sampleNumber) {
        f->model->setSelectedNewsletterID(SampleData::sampleID(sampleNumber));
        QTest::mouseClick(editor()->sendToListButton(), Qt::LeftButton);
        SendSheet* sheet = editor()->sendSheet();
        if (sheet && !QTest::qWaitForWindowExposed(sheet)) {
            qWarning("the send sheet did not show");
        }
        return sheet;
    }

private Q_SLOTS:
    void init() { f = std::make_unique<UIFixture>(); }
    void cleanup() { f.reset(); }

    // Asked for at launch, the sheet opens on the issue chosen at start.
    void content() {
        f->open({u"-demo"_s, u"-showSend"_s});
        QTRY_VERIFY(editor()->sendSheet());
        QCOMPARE(editor()->sendSheet()->issueID(), SampleData::sampleID(103));
        QVERIFY(!f->model->showSendOnLaunch());
        SendSheet* sheet = editor()->sendSheet();
        QTRY_VERIFY(sheet->isVisible());
        QCOMPARE(sheet->titleLabel()->text(),
                 u"Send “Issue 14: A field guide to calm interfaces”"_s);
        QCOMPARE(sheet->audienceLabel()->text(),
                 u"16 active subscribers will receive this issue. Pending, unsubscribed, bounced "
                 "and complained addresses are skipped."_s);
        const QList<QPair<QString, bool>> lines{
            {"Unsubscribe link and List-Unsubscribe one-click headers in every email", true},
            {"Postal address in footer", true},
            {"Bounce guard halts above 5% bounces or 0.1% complaints", true}};
        QCOMPARE(sheet->complianceLines(), lines);
        QVERIFY(!sheet->progressBar()->isVisible());
        QCOMPARE(sheet->actionButton()->text(), u"Start Sending"_s);
        QVERIFY(sheet->actionButton()->isEnabled());

        // The sheet follows the model: no postal address turns its line red and blocks.
        SenderProfile profile = f->model->library().profile;
        profile.postalAddress.clear();
        f->model->setProfile(profile);
        QCOMPARE(sheet->complianceLines().at(1).second, false);
        QVERIFY(!sheet->actionButton()->isEnabled());

        // What the account allows: the demo account is in the sandbox with 197 of its 200 daily
        // messages left; 214 readers are more than that.
        QCOMPARE(sheet->durationLabel()->text(), u"Sending to 16 readers takes under a minute."_s);
        QCOMPARE(sheet->quotaLabel()->text(),
                 u"Amazon SES lets you send 197 more messages today."_s);
        QVERIFY(!sheet->quotaWarningLabel()->isVisible());
        QVERIFY(shownText(sheet->sandboxLabel()).contains(u"only addresses you have verified"_s));
        QVERIFY(!sheet->resultLabel()->isVisible() && !sheet->retryFailedButton()->isVisible());
        for (int i = 0; i < 198; ++i) {
            f->model->addSubscriber(u"more%1@example.org"_s.arg(i), QString());
        }
        f->model->setStatus(SubscriberStatus::active, f->everyone());
        QVERIFY(shownText(sheet->quotaWarningLabel()).startsWith(u"That is fewer than the 2"_s));

        QTest::mouseClick(sheet->closeButton(), Qt::LeftButton);
        QTRY_VERIFY(!editor()->sendSheet());
    }

    void blockedWithoutReadersOrByAFinding() {
        f->open({u"-demo"_s});
        // A blocking finding (no subject) disables sending though all three lines are green.
        f->model->setSelectedNewsletterID(SampleData::sampleID(103));
        Newsletter draft = *f->model->selectedNewsletter();
        draft.subject.clear();
        f->model->updateIssue(draft);
        SendSheet* sheet = openSheet(103);
        QVERIFY(
            std::ranges::all_of(sheet->complianceLines(), [](auto line) { return line.second; }));
        QVERIFY(!sheet->actionButton()->isEnabled());
        // ... and says why, under the checks and on the button.
        QCOMPARE(shownText(sheet->blockersLabel()), u"✕ Write a subject line."_s);
        QCOMPARE(sheet->actionButton()->toolTip(), u"Write a subject line."_s);
        draft.subject = u"Back again"_s;
        f->model->updateIssue(draft);
        QVERIFY(sheet->actionButton()->isEnabled());
        QVERIFY(!sheet->blockersLabel()->isVisible());

        // Nobody active: nothing to start.
        const QSet<QUuid> everyone = f->everyone();
        f->model->setStatus(SubscriberStatus::unsubscribed, everyone);
        const auto audience = [sheet] { return sheet->audienceLabel()->text(); };
        QVERIFY(audience().startsWith(u"0 active subscribers will receive this issue."_s));
        QVERIFY(!sheet->actionButton()->isEnabled());
        // One reads as one.
        f->model->setStatus(SubscriberStatus::active, {*everyone.cbegin()});
        QVERIFY(audience().startsWith(u"1 active subscriber will receive this issue."_s));
    }

    void demoSendRunsToTheEnd() {
        f->open({u"-demo"_s});
        // The paused sample issue still has nine active readers to reach.
        SendSheet* sheet = openSheet(102);
        QPushButton* action = sheet->actionButton();
        QCOMPARE(action->text(), u"Start Sending"_s);
        QTest::mouseClick(action, Qt::LeftButton);
        QTRY_VERIFY(sheet->progressBar()->isVisible());
        QCOMPARE(action->text(), u"Pause"_s);
        QCOMPARE(sheet->progressBar()->maximum(), 9);
        QTRY_VERIFY_WITH_TIMEOUT(sheet->progressBar()->value() >= 1, 5000);
        QVERIFY(sheet->progressLabel()->text().startsWith(u"Sending: "_s));

        QTest::mouseClick(action, Qt::LeftButton);
        QTRY_COMPARE(action->text(), u"Resume"_s);
        QVERIFY(sheet->progressLabel()->text().startsWith(u"Paused: "_s));
        QTRY_COMPARE(f->model->selectedNewsletter()->status, CampaignStatus::paused);
        // The message waiting for its slot when the pause came may still go out (the bulk
        // sender checks for a pause before each reader, not after the pacing wait).
        QTest::qWait(1600);
        const int held = sheet->progressBar()->value();
        QTest::qWait(2000);
        QCOMPARE(sheet->progressBar()->value(), held);

        QTest::mouseClick(action, Qt::LeftButton);
        QTRY_COMPARE(action->text(), u"Pause"_s);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->progressLabel()->text(),
                                  u"Finished: 9 sent, 0 failed of 9"_s, 30000);
        QCOMPARE(sheet->progressBar()->value(), 9);
        QCOMPARE(action->text(), u"Start Sending"_s);
        const Newsletter sent = *f->model->selectedNewsletter();
        QCOMPARE(sent.status, CampaignStatus::sent);
        QCOMPARE(sent.stats.sent, 16);

        // Closed and reopened, the sheet shows the same session; the editor reads "Sent".
        QTest::mouseClick(sheet->closeButton(), Qt::LeftButton);
        QTRY_VERIFY(!editor()->sendSheet());
        QCOMPARE(editor()->sendToListButton()->text(), u"Sent"_s);
        QVERIFY(!editor()->sendToListButton()->isEnabled());
        editor()->openSendSheet();
        QVERIFY(editor()->sendSheet()->progressBar()->isVisible());
        QCOMPARE(editor()->sendSheet()->progressLabel()->text(),
                 u"Finished: 9 sent, 0 failed of 9"_s);
    }

    // After a send: what it achieved, who may or may not have it, and the failed tried again.
    void resultUncertainReadersAndRetryFailed() {
        f->open({u"-demo"_s});
        f->model->setSelectedNewsletterID(SampleData::sampleID(102));
        Newsletter issue = *f->model->selectedNewsletter();
        issue.failedIDs = {SampleData::sampleID(8), SampleData::sampleID(9)};
        issue.uncertainIDs = {SampleData::sampleID(10)};
        issue.status = CampaignStatus::sent;
        f->model->updateIssue(issue);
        SendSheet* sheet = openSheet(102);
        QCOMPARE(sheet->resultLabel()->text(), u"Sent to 7 · 2 failed · 1 uncertain"_s);
        const Subscriber uncertain = f->model->uncertainReaders(issue.id).first();
        QVERIFY(sheet->uncertainLabel()->text().contains(u"may or may not"_s));
        QVERIFY(sheet->uncertainLabel()->text().endsWith(uncertain.email));
        QTest::mouseClick(sheet->retryFailedButton(), Qt::LeftButton);
        QCOMPARE(f->model->sendSession()->total, 2);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->sendSession()->isFinished, 10000);
        QTRY_COMPARE(sheet->resultLabel()->text(), u"Sent to 9 · 1 uncertain"_s);
        QVERIFY(!sheet->retryFailedButton()->isVisible());
    }

    // A bounce-guard halt resumes only once the writer confirms.
    void haltedSendResumesAfterConfirmation() {
        f->open({u"-demo"_s});
        f->model->setSelectedNewsletterID(SampleData::sampleID(102));
        Newsletter issue = *f->model->selectedNewsletter();
        issue.stats.sent = 100;
        issue.stats.bounced = 10;
        f->model->updateIssue(issue);
        SendSheet* sheet = openSheet(102);
        QTest::mouseClick(sheet->actionButton(), Qt::LeftButton);
        QTRY_COMPARE(sheet->actionButton()->text(), u"Resume…"_s);
        QVERIFY(sheet->progressLabel()->text().startsWith(u"Halted: Bounce rate "_s));
        QTest::mouseClick(sheet->actionButton(), Qt::LeftButton);
        QMessageBox* question = sheet->haltConfirmation();
        QVERIFY(question && question->isVisible());
        QTest::mouseClick(question->button(QMessageBox::Cancel), Qt::LeftButton);
        QVERIFY(f->model->sendSession()->isHalted);
        QTest::mouseClick(sheet->actionButton(), Qt::LeftButton);
        QTest::mouseClick(sheet->haltConfirmation()->buttons().first(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(f->model->sendSession()->isFinished, 10000);
        QCOMPARE(f->model->sendSession()->sent, 9);
    }
};

QUILLMERE_UI_TEST_MAIN(TestSendSheet)
#include "tst_send_sheet.moc"
