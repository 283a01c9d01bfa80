// The worker's public pages: signup in both opt-in modes with the confirmation mail sent through
// SES, confirm and unsubscribe with tokens made by the C++ code, and the archive.

import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { after, test } from "node:test";

import { cli, cliToken, health, postForm, ROOT, startWorker, unsubscribe, withWorker } from "./harness.mjs";

const DAY = 24 * 3600 * 1000;

const worker = await startWorker();
after(() => worker.close());

const signup = (w, fields, options) => postForm(w, "/", fields, options);

// Mails go out after the answer; where none may go, give it a moment.
async function mailsTo(w, email) {
    await new Promise((resolve) => setTimeout(resolve, 150));
    return w.outbound.sesMails(email);
}

function confirmLink(mail) {
    const text = JSON.parse(mail.body).Content.Simple.Body.Text.Data;
    const match = /(http:\/\/\S+\/confirm\?t=\S+)/.exec(text);
    assert.ok(match, `no confirm link in: ${text}`);
    return new URL(match[1]);
}

// Signup form.
test("the form names the publication, escaped, and has an email field and a hidden honeypot", async () => {
    const response = await worker.fetch("/");
    assert.match(response.headers.get("content-security-policy"), /default-src 'none'/);
    assert.equal(response.headers.get("referrer-policy"), "no-referrer");
    const html = await response.text();
    assert.ok(html.includes("The Quill &amp; &lt;Ink&gt; Weekly"));
    assert.ok(!html.includes("<Ink>"));
    assert.match(html, /<div class="hp" aria-hidden="true">[\s\S]*name="website"[^>]*tabindex="-1"/);
    assert.ok(!/<script/i.test(html));
});

test("invalid input gets the form again with a message, the value escaped", async () => {
    const cases = [["", ""], ["not-an-address", "not-an-address"], ["a@b", "a@b"], ['"><script>alert(1)</script>@x.com',
        "&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;@x.com"]];
    for (const [value, shown] of cases) {
        const response = await signup(worker, { email: value });
        assert.equal(response.status, 400);
        const html = await response.text();
        assert.match(html, /<p id="email-error" class="error" role="alert">/);
        assert.ok(!html.includes("<script>") && html.includes(`value="${shown}"`), value);
    }
});

// The shared list of addresses (tests/render/tst_email_address.cpp reads it too): the worker
// accepts what the application accepts and nothing else.
test("every address of the shared list is accepted or refused with the form, as the application does", async () => {
    const lists = JSON.parse(fs.readFileSync(path.join(ROOT, "tests/data/addresses.json"), "utf8"));
    assert.ok(lists.valid.length > 5 && lists.invalid.length > 5);
    const wrong = [];
    for (const { address, why, valid } of [...lists.valid.map((e) => ({ ...e, valid: true })), ...lists.invalid]) {
        const response = await signup(worker, { email: address });
        const formAgain = (await response.text()).includes('id="email-error"');
        if (response.status !== (valid ? 200 : 400) || formAgain === Boolean(valid)) {
            wrong.push(`${JSON.stringify(address)} ${why ?? ""}: ${response.status}`);
        }
    }
    assert.deepEqual(wrong, []);
});

test("a filled honeypot gets the usual answer and changes nothing", async () => {
    const response = await signup(worker, { email: "bot@spam.example", website: "http://spam.example" });
    assert.match(await response.text(), /Check your inbox/);
    assert.equal(await worker.row("bot@spam.example"), null);
    assert.equal((await mailsTo(worker, "bot@spam.example")).length, 0);
});

test("double opt-in: pending, one signed confirmation mail, a link that GET shows and POST confirms", async () => {
    const email = "new.reader@example.org";
    assert.equal((await signup(worker, { email: "  New.Reader@Example.ORG " })).status, 200);
    const row = await worker.row(email);
    assert.deepEqual([row.status, row.source], ["pending", "signup-form"]);

    const mail = await worker.outbound.mailTo(email);
    assert.equal((await mailsTo(worker, email)).length, 1);
    assert.equal(mail.url, "https://email.eu-west-1.amazonaws.com/v2/email/outbound-emails");
    const sent = JSON.parse(mail.body);
    assert.deepEqual(sent.Destination, { ToAddresses: [email] });
    assert.equal(sent.FromEmailAddress, '"The Quill & <Ink> Weekly" <letters@quill.example>');
    assert.match(sent.Content.Simple.Subject.Data, /Confirm your subscription to The Quill & <Ink> Weekly/);
    assert.ok(sent.Content.Simple.Body.Html.Data.includes("The Quill &amp; &lt;Ink&gt; Weekly"));

    // Signature Version 4, as botocore computes it for the same request, given only the headers
    // it says it signed (botocore adds host and the date itself).
    const names = /SignedHeaders=([^,]+)/.exec(mail.headers.authorization)[1].split(";");
    const headers = names.filter((h) => h !== "host" && h !== "x-amz-date").map((h) => [h, mail.headers[h]]);
    const request = { method: mail.method, url: mail.url, query: [], headers: Object.fromEntries(headers),
        body: Buffer.from(mail.body).toString("base64"), amzDate: mail.headers["x-amz-date"], region: "eu-west-1",
        service: "ses", accessKeyID: worker.bindings.AWS_ACCESS_KEY_ID,
        secretAccessKey: worker.bindings.AWS_SECRET_ACCESS_KEY };
    const botocore = path.join(ROOT, "tests/support/botocore_sigv4.py");
    const input = JSON.stringify([request]);
    const [reference] = JSON.parse(execFileSync("/usr/bin/python3", [botocore], { encoding: "utf8", input }));
    assert.equal(mail.headers.authorization, reference);
    assert.match(reference, /SignedHeaders=content-type;host;x-amz-date,/);

    // The link carries exactly the token the application makes.
    const link = confirmLink(mail);
    const token = link.searchParams.get("t");
    assert.equal(token, cliToken("confirm", email, worker.bindings.SIGNING_SECRET));
    assert.equal(cli("verify", "--purpose", "confirm", "--token", token, "--secret", worker.bindings.SIGNING_SECRET),
        email);
    assert.equal(link.origin, worker.base);

    const page = await worker.fetch(link.pathname + link.search);
    assert.match(await page.text(), /<form method="post" action="\/confirm\?t=[^"]+">/);
    assert.equal((await worker.row(email)).status, "pending", "a GET confirms nobody");

    assert.match(await (await postForm(worker, link.pathname + link.search, {})).text(), /You are subscribed/);
    const confirmed = await worker.row(email);
    assert.equal(confirmed.status, "active");
    assert.ok(confirmed.updated_at > row.updated_at);
    // Idempotent.
    assert.equal((await postForm(worker, link.pathname + link.search, {})).status, 200);
    assert.equal((await worker.row(email)).updated_at, confirmed.updated_at);
});

test("signing up again never downgrades, never tells who is on the list, and never floods an inbox", async () => {
    const fresh = await (await signup(worker, { email: "fresh-one@example.org" })).text();
    // Active: same page, nothing sent, still active.
    const active = "already-active@example.org";
    await worker.add(active);
    assert.equal(await (await signup(worker, { email: active })).text(), fresh);
    assert.equal((await worker.row(active)).status, "active");
    assert.equal((await mailsTo(worker, active)).length, 0);
    // Pending again: the same page.
    assert.equal(await (await signup(worker, { email: "fresh-one@example.org" })).text(), fresh);
    // Unsubscribed: stays unsubscribed until the owner confirms, and gets a mail to do so.
    const left = "came-back@example.org";
    await unsubscribe(worker, left, { fields: {} });
    assert.equal(await (await signup(worker, { email: left })).text(), fresh);
    assert.equal((await worker.row(left)).status, "unsubscribed");
    const link = confirmLink(await worker.outbound.mailTo(left));
    await postForm(worker, link.pathname + link.search, {});
    assert.equal((await worker.row(left)).status, "active");
    // Bounced: nothing is sent to an address that bounced.
    await worker.add("gone@example.org", "bounced", "sns", 1);
    assert.equal(await (await signup(worker, { email: "gone@example.org" })).text(), fresh);
    assert.equal((await worker.row("gone@example.org")).status, "bounced");
    assert.equal((await mailsTo(worker, "gone@example.org")).length, 0);
});

test("a publication name with other scripts or line breaks reaches the mail as encoded words, never as headers", async () => {
    await withWorker({ PUBLICATION_NAME: "Café Zürich — 日本語の手紙\r\nBcc: x@evil.example" }, async (named) => {
        await signup(named, { email: "encoded@example.org" });
        const mail = await named.outbound.mailTo("encoded@example.org");
        const from = JSON.parse(mail.body).FromEmailAddress;
        assert.doesNotMatch(from, /[\r\n]/);
        const match = /^((?:=\?UTF-8\?B\?[A-Za-z0-9+/=]+\?= ?)+) <letters@quill\.example>$/.exec(from);
        assert.ok(match, from);
        const words = match[1].trim().split(" ");
        assert.ok(words.every((w) => w.length <= 75), "each encoded word within RFC 2047's 75 characters");
        const decoded = Buffer.concat(words.map((w) => Buffer.from(w.slice(10, -2), "base64"))).toString("utf8");
        assert.equal(decoded, "Café Zürich — 日本語の手紙 Bcc: x@evil.example");
    });
});

test("a failed SES send is reported to the writer and gives the signup's place back", async () => {
    const email = "ses-down@example.org";
    await withWorker({ SIGNUPS_PER_MAILBOX_PER_10_MINUTES: undefined }, async (capped) => {
        let calls = 0;
        capped.outbound.on((url, r) => url.host.startsWith("email.") && r.body.includes(email), () =>
            ++calls === 1
                ? Response.json({ message: "Account is paused" }, { status: 403 })
                : Response.json({ MessageId: "x" }));
        await signup(capped, { email });
        let failure;
        for (const deadline = Date.now() + 20000; !(failure = (await health(capped)).mailFailure);) {
            assert.ok(Date.now() < deadline, "the failure was not recorded");
        }
        assert.match(failure.message, /ses-down@example\.org failed\. SES answered 403: .*Account is paused/);
        assert.ok(Math.abs(Date.parse(failure.at) - Date.now()) < 60000);
        // One mail per mailbox per ten minutes, but the failed one does not count.
        assert.equal((await signup(capped, { email })).status, 200);
        const second = (r) => r.url.includes("outbound-emails") && r.body.includes(email) && calls === 2;
        await capped.outbound.waitFor(second, "the second mail");
    });
});

test("double opt-in without AWS keys stores pending and says confirmation mail is not configured", async () => {
    await withWorker({ AWS_ACCESS_KEY_ID: undefined, AWS_SECRET_ACCESS_KEY: undefined }, async (bare) => {
        assert.match(await (await signup(bare, { email: "no-mail@example.org" })).text(),
            /confirmation mail is not configured/);
        assert.equal((await bare.row("no-mail@example.org")).status, "pending");
        assert.equal((await mailsTo(bare, "no-mail@example.org")).length + bare.outbound.requests.length, 0);
    });
});

test("single opt-in stores active, brings back the unsubscribed, leaves bounced alone, sends nothing", async () => {
    await withWorker({ DOUBLE_OPT_IN: "false" }, async (single) => {
        assert.match(await (await signup(single, { email: "direct@example.org" })).text(), /recorded/);
        assert.equal((await single.row("direct@example.org")).status, "active");
        await single.add("was-gone@example.org", "unsubscribed", "x", 1);
        await single.add("hard@example.org", "bounced", "x", 1);
        await signup(single, { email: "was-gone@example.org" });
        await signup(single, { email: "hard@example.org" });
        assert.equal((await single.row("was-gone@example.org")).status, "active");
        assert.equal((await single.row("hard@example.org")).status, "bounced");
        await new Promise((resolve) => setTimeout(resolve, 150));
        assert.equal(single.outbound.requests.length, 0);
    });
});

test("an oversized form is refused", async () => {
    const response = await signup(worker, { email: "big@example.org", website: "", filler: "x".repeat(20000) });
    assert.equal(response.status, 413);
    assert.equal(await worker.row("big@example.org"), null);
});

// Signup caps.
test("over a cap nothing is stored or mailed and the page says so with 429; caps count per client, mailbox and in all", async () => {
    await withWorker({ SIGNUPS_PER_CLIENT_PER_HOUR: undefined, SIGNUPS_PER_MAILBOX_PER_10_MINUTES: undefined,
        SIGNUPS_PER_HOUR: "8" }, async (capped) => {
        // [address, client, accepted]: five per client an hour (an IPv6 /64 is one client), one per
        // mailbox in ten minutes whatever its +tag or case, eight in all (set here; 200 by default).
        const attempts = [
            ["a0@caps.example", "2001:db8:1:2::1", true],
            ["a1@caps.example", "2001:db8:1:2::1", true],
            ["a2@caps.example", "2001:0db8:0001:0002:ffff::9", true],
            ["a3@caps.example", "2001:db8:1:2::1", true],
            ["a4@caps.example", "2001:db8:1:2::1", true],
            ["a5@caps.example", "2001:db8:1:2:aaaa::1", false],
            ["a6@caps.example", "2001:db8:1:3::1", true],
            ["victim+1@caps.example", "198.51.100.1", true],
            ["Victim+2@Caps.example", "198.51.100.2", false],
            ["victim@caps.example", "198.51.100.3", false],
            ["b0@caps.example", "198.51.100.4", true],
            ["b1@caps.example", "198.51.100.5", false],
        ];
        for (const [email, client, accepted] of attempts) {
            const response = await signup(capped, { email }, { client });
            assert.equal(response.status, accepted ? 200 : 429, `${email} from ${client}`);
            const html = await response.text();
            assert.equal(html.includes("Too many signups right now. Please try again later."), !accepted, email);
            assert.equal((await capped.row(email.toLowerCase())) !== null, accepted, email);
        }
        const mailed = await capped.outbound.waitFor(() => capped.outbound.sesMails().length >= 8, "eight mails");
        assert.equal(mailed.length, capped.outbound.requests.length);
        const mailedTo = capped.outbound.sesMails().map((r) => JSON.parse(r.body).Destination.ToAddresses[0]);
        assert.deepEqual(mailedTo.sort(), attempts.filter(([, , ok]) => ok).map(([email]) => email).sort());
    });
});

// Confirmations.
test("never activate a bounced or complained reader; a link works for seven days after the signup it answers", async () => {
    const secret = worker.bindings.SIGNING_SECRET;
    const now = Date.now();
    // [address, status, record age, signup request age or null, status after, answer]
    const cases = [
        ["c-bounced@example.org", "bounced", DAY, DAY, "bounced", 410],
        ["c-complained@example.org", "complained", DAY, DAY, "complained", 410],
        ["c-recent@example.org", "pending", 6 * DAY, 6 * DAY, "active", 200],
        ["c-stale@example.org", "pending", 8 * DAY, 8 * DAY, "pending", 410],
        ["c-resigned@example.org", "pending", 20 * DAY, DAY, "active", 200],
        ["c-old-mail@example.org", "pending", 6 * DAY, null, "active", 200],
        ["c-old-stale@example.org", "pending", 8 * DAY, null, "pending", 410],
        ["c-left@example.org", "unsubscribed", DAY, null, "unsubscribed", 410],
        ["c-rejoins@example.org", "unsubscribed", 30 * DAY, DAY, "active", 200],
    ];
    for (const [email, status, age, requested] of cases) {
        await worker.add(email, status, "x", now - age);
        const request = worker.db.prepare("INSERT INTO signup_requests VALUES (?1, ?2)").bind(email, now - requested);
        if (requested !== null) await request.run();
    }
    for (const [email, , , , after, answer] of cases) {
        const link = `/confirm?t=${cliToken("confirm", email, secret)}`;
        assert.equal((await worker.fetch(link)).status, answer, `GET ${email}`);
        const response = await postForm(worker, link, {});
        assert.equal(response.status, answer, email);
        assert.equal((await worker.row(email)).status, after, email);
        if (answer === 410) {
            // The page offers to sign up again, the address filled in.
            const html = await response.text();
            assert.match(html, /This link has expired/);
            assert.ok(html.includes(`<form method="post" action="/">`) && html.includes(`value="${email}"`), email);
        }
    }
});

// Confirm and unsubscribe links.
test("invalid, tampered, wrong-purpose and wrong-secret tokens get a 400 page on GET and POST", async () => {
    const email = "tamper@example.org";
    const secret = worker.bindings.SIGNING_SECRET;
    const good = cliToken("confirm", email, secret);
    const [encoded, code] = good.split(".");
    const flipped = code.slice(0, -1) + (code.endsWith("0") ? "1" : "0");
    const tokens = ["", "garbage", `${encoded}.${flipped}`,
        `${Buffer.from("other@example.org").toString("base64url")}.${code}`, `${encoded}.${code}.${code}`,
        cliToken("unsubscribe", email, secret), cliToken("confirm", email, "another-secret"),
        `${encoded}.${code.toUpperCase()}`, `${encoded}=.${code}`];
    for (const token of tokens) {
        const get = await worker.fetch(`/confirm?t=${encodeURIComponent(token)}`);
        assert.equal(get.status, 400, token);
        assert.match(await get.text(), /not valid/);
        assert.equal((await postForm(worker, `/confirm?t=${encodeURIComponent(token)}`, {})).status, 400, token);
    }
    assert.equal((await postForm(worker, `/unsubscribe?t=${good}`, { "List-Unsubscribe": "One-Click" })).status, 400);
    assert.equal(await worker.row(email), null);
    assert.equal((await worker.fetch("/confirm")).status, 400);
});

test("unsubscribe: a GET (a link scanner) changes nothing and shows one button that POSTs, the address escaped", async () => {
    const email = "o'brien+<b>@example.org";
    await worker.add(email);
    const token = cliToken("unsubscribe", email, worker.bindings.SIGNING_SECRET);
    for (let i = 0; i < 2; i++) {
        const page = await worker.fetch(`/unsubscribe?t=${token}`);
        const html = await page.text();
        assert.equal((html.match(/<form /g) || []).length, 1);
        assert.match(html,
            /<form method="post" action="\/unsubscribe\?t=[^"]+">\s*<input type="hidden" name="List-Unsubscribe" value="One-Click">\s*<button type="submit">Unsubscribe<\/button>/);
        assert.ok(html.includes("o&#39;brien+&lt;b&gt;@example.org") && !html.includes("<b>@"));
        assert.equal(page.headers.get("cache-control"), "no-store");
        await worker.fetch(`/unsubscribe?t=${token}`, { method: "HEAD" });
    }
    assert.equal((await worker.row(email)).status, "active");
});

test("unsubscribe: the RFC 8058 one-click POST, urlencoded or multipart, answers 200 and is idempotent", async () => {
    for (const [email, multipart] of [["one-click@example.org", false], ["multi-part@example.org", true]]) {
        await worker.add(email);
        const before = await worker.row(email);
        const response = await unsubscribe(worker, email, { multipart });
        assert.equal(response.status, 200);
        assert.match(await response.text(), /You are unsubscribed/);
        const after = await worker.row(email);
        assert.equal(after.status, "unsubscribed");
        assert.ok(after.updated_at > before.updated_at);
        assert.equal(after.id, before.id);
        assert.equal((await unsubscribe(worker, email, { multipart })).status, 200);
        assert.deepEqual(await worker.row(email), after);
    }
});

test("unsubscribe: a reader the worker never heard of is recorded; bounced and complained stay", async () => {
    assert.equal((await unsubscribe(worker, "Only.Local@Example.org", { fields: {} })).status, 200);
    assert.equal((await worker.row("only.local@example.org")).status, "unsubscribed");
    await worker.add("complainer@example.org", "complained", "sns", 1);
    await unsubscribe(worker, "complainer@example.org", { fields: {} });
    assert.equal((await worker.row("complainer@example.org")).status, "complained");
});

// Archive.
test("lists published issues newest first, serves each issue's HTML, 404 otherwise", async () => {
    const publish = (slug, subject, html, date) => worker.publish({ slug, subject, html, published_at: date });
    let list = await (await worker.fetch("/archive")).text();
    assert.match(list, /No issues have been published yet/);
    await publish("older-aaaaaa", "Older <one>", "<html><body><p>old</p></body></html>", "2025-01-01T08:00:00Z");
    await publish("newer-bbbbbb", "Newer & better", "<html><body><p>new</p></body></html>", "2025-02-01T08:00:00Z");
    list = await (await worker.fetch("/archive")).text();
    const newer = list.indexOf('href="/archive/newer-bbbbbb"');
    const older = list.indexOf('href="/archive/older-aaaaaa"');
    assert.ok(newer > 0 && older > newer, "newest first");
    assert.ok(list.includes("Older &lt;one&gt;") && list.includes("Newer &amp; better"));
    assert.ok(list.includes('<time datetime="2025-02-01T08:00:00Z">2025-02-01</time>'));
    assert.equal((await worker.fetch("/archive/")).status, 200);

    const issue = await worker.fetch("/archive/newer-bbbbbb");
    assert.equal(await issue.text(), "<html><body><p>new</p></body></html>");
    assert.match(issue.headers.get("content-security-policy"), /^sandbox/);
    for (const missing of ["/archive/unknown-cccccc", "/archive/../etc", "/archive/UPPER", "/archive/newer-bbbbbb/x",
        "/nowhere"])
    {
        assert.equal((await worker.fetch(missing)).status, 404, missing);
    }
    assert.equal((await worker.fetch("/archive", { method: "POST" })).status, 405);
});
