// Amazon SNS notifications: only messages whose signature verifies against a certificate from
// sns.<region>.amazonaws.com (served here through the outbound mock) change anything.

import assert from "node:assert/strict";
import crypto from "node:crypto";
import { after, test } from "node:test";

import { health, makeCertificate, startWorker, TEST_ACCOUNT, withWorker } from "./harness.mjs";

const REGION = "eu-west-1";
const TOPIC = `arn:aws:sns:${REGION}:${TEST_ACCOUNT}:quillmere-ses-events`;
const FOREIGN_TOPIC = `arn:aws:sns:${REGION}:999999999999:attacker`;
const CERT_URL = `https://sns.${REGION}.amazonaws.com/SimpleNotificationService-0000000000000000000000.pem`;
const SUBSCRIBE_URL = `https://sns.${REGION}.amazonaws.com/?Action=ConfirmSubscription&TopicArn=${
    encodeURIComponent(TOPIC)
}&Token=2336412f37`;

const amazon = makeCertificate(); // the certificate the worker should trust
const attacker = makeCertificate(); // a key pair of somebody else's
const served = new Map([[CERT_URL, amazon.certPem]]);

const worker = await startWorker();
after(() => worker.close());
worker.outbound.on((url) => served.has(url.href), (record) => new Response(served.get(record.url)));
worker.outbound.on((url) => url.href.startsWith(`https://sns.${REGION}.amazonaws.com/?Action=ConfirmSubscription`),
    () => new Response("<ConfirmSubscriptionResponse/>", { headers: { "Content-Type": "text/xml" } }));

// The text Amazon signs, written from its documentation independently of the worker.
function stringToSign(m) {
    const keys = m.Type === "Notification"
        ? ["Message", "MessageId", "Subject", "Timestamp", "TopicArn", "Type"]
        : ["Message", "MessageId", "SubscribeURL", "Timestamp", "Token", "TopicArn", "Type"];
    return keys.filter((k) => m[k] !== undefined).map((k) => `${k}\n${m[k]}\n`).join("");
}

function sign(message, { key = amazon.keyPem, version = "2", certUrl = CERT_URL } = {}, fields = {}) {
    const m = { ...message, ...fields, SignatureVersion: version, SigningCertURL: certUrl };
    const algorithm = version === "1" ? "sha1" : "sha256";
    m.Signature = crypto.sign(algorithm, Buffer.from(stringToSign(m)), key).toString("base64");
    return m;
}

function notification(ses, extra = {}) {
    return { Type: "Notification", MessageId: crypto.randomUUID(), TopicArn: TOPIC, Message: JSON.stringify(ses),
        Timestamp: new Date().toISOString(), UnsubscribeURL: `https://sns.${REGION}.amazonaws.com/?Action=Unsubscribe`,
        ...extra };
}

const recipients = (emails) => emails.map((emailAddress) => ({ emailAddress }));
const bounce = (emails, bounceType = "Permanent") =>
    notification({ notificationType: "Bounce",
        bounce: { bounceType, bounceSubType: "General", bouncedRecipients: recipients(emails) },
        mail: { destination: emails } });
const complaint = (emails) =>
    notification({ notificationType: "Complaint",
        complaint: { complainedRecipients: recipients(emails), complaintFeedbackType: "abuse" },
        mail: { destination: emails } });

function post(message, headers = {}) {
    return worker.fetch("/sns", { method: "POST", body: JSON.stringify(message),
        headers: { "Content-Type": "text/plain; charset=UTF-8",
            "x-amz-sns-message-type": message.Type ?? "Notification", ...headers } });
}

async function addActive(...emails) {
    for (const email of emails) await worker.add(email);
}

const snapshot = async () => (await worker.db.prepare("SELECT * FROM subscribers ORDER BY email").all()).results;

// Signed notifications.
test("permanent bounces (SES notifications or event publishing) and complaints mark readers, strangers included; nothing else does", async () => {
    await addActive("bounce-a@example.org", "bounce-b@example.org", "complains@example.org", "soft@example.org",
        "event@example.org");
    const complained = complaint(["complains@example.org"]);
    complained.Subject = "Amazon SES Email Event Notification";
    const soft = ["soft@example.org"];
    const bounced = bounce(["Bounce-A@Example.org", "Someone <bounce-b@example.org>", "stranger@example.org"]);
    const event = notification({ eventType: "Bounce",
        bounce: { bounceType: "Permanent", bouncedRecipients: recipients(["event@example.org"]) } });
    // [signed message, addresses, their status after]
    const cases = [
        [sign(bounced), ["bounce-a@example.org", "bounce-b@example.org", "stranger@example.org"], "bounced"],
        [sign(complained, { version: "1" }), ["complains@example.org"], "complained"],
        [sign(bounce(["complains@example.org"])), ["complains@example.org"], "complained"],
        [sign(event), ["event@example.org"], "bounced"],
        [sign(bounce(soft, "Transient")), soft, "active"],
        [sign(bounce(soft, "Undetermined")), soft, "active"],
        [sign(notification({ notificationType: "Delivery", delivery: { recipients: soft } })), soft, "active"],
        [sign(notification("not json at all")), soft, "active"],
    ];
    for (const [message, emails, status] of cases) {
        assert.equal((await post(message)).status, 200);
        for (const email of emails) {
            const row = await worker.row(email);
            assert.deepEqual([row.status, row.updated_at > 1000], [status, status !== "active"], email);
        }
    }
    // The signing certificate was fetched once and then cached.
    assert.equal(worker.outbound.requests.filter((r) => r.url === CERT_URL).length, 1);
});

const confirmation = () => ({ Type: "SubscriptionConfirmation", MessageId: crypto.randomUUID(), Token: "t",
    TopicArn: TOPIC, Message: `You have chosen to subscribe to the topic ${TOPIC}.`,
    Timestamp: new Date().toISOString() });

// Subscription confirmation.
test("a signed SubscriptionConfirmation is confirmed by fetching its SubscribeURL", async () => {
    const message = sign({ ...confirmation(), Token: "2336412f37", SubscribeURL: SUBSCRIBE_URL }, { version: "1" });
    assert.equal((await post(message)).status, 200);
    assert.equal(worker.outbound.requests.filter((r) => r.url === SUBSCRIBE_URL && r.method === "GET").length, 1);
});

// Refused with 403, nothing changed, nothing fetched from elsewhere.
test("forged, tampered, unsigned, wrong-host and foreign-topic messages", async () => {
    await addActive("victim@example.org");
    const lookalike = "https://sns.eu-west-1.amazonaws.com.evil.example/cert.pem";
    const overHttp = "http://sns.eu-west-1.amazonaws.com/cert.pem";
    const inPath = "https://evil.example/sns.eu-west-1.amazonaws.com/cert.pem";
    const otherRegion = "https://sns.us-east-1.amazonaws.com/elsewhere.pem";
    for (const url of [lookalike, overHttp, inPath, otherRegion]) served.set(url, attacker.certPem);
    const victim = () => bounce(["victim@example.org"]);
    const tampered = sign(victim());
    tampered.Message = tampered.Message.replace("General", "Suppressed");
    const unsigned = { ...victim(), SignatureVersion: "2", SigningCertURL: CERT_URL };
    const versionThree = sign(victim());
    versionThree.SignatureVersion = "3";
    const cases = {
        "signed with another key": sign(victim(), { key: attacker.keyPem }),
        "tampered after signing": tampered,
        "unsigned": unsigned,
        "empty signature": { ...unsigned, Signature: "" },
        "signature version 3": versionThree,
        "certificate on a look-alike host": sign(victim(), { key: attacker.keyPem, certUrl: lookalike }),
        "certificate over http": sign(victim(), { key: attacker.keyPem, certUrl: overHttp }),
        "certificate host only in the path": sign(victim(), { key: attacker.keyPem, certUrl: inPath }),
        "certificate from another region than the topic": sign(victim(), { key: attacker.keyPem,
            certUrl: otherRegion }),
        "certificate with a port": sign(victim(), { certUrl: CERT_URL.replace(".com/", ".com:8443/") }),
        "a topic of another AWS account": sign({ ...victim(), TopicArn: FOREIGN_TOPIC }),
        "header type differs from the body": sign(victim()),
    };
    const before = await snapshot();
    const requestsBefore = worker.outbound.requests.length;
    for (const [name, message] of Object.entries(cases)) {
        const headers = name.startsWith("header") ? { "x-amz-sns-message-type": "SubscriptionConfirmation" } : {};
        assert.equal((await post(message, headers)).status, 403, name);
    }
    assert.deepEqual(await snapshot(), before);
    const contacted = worker.outbound.requests.slice(requestsBefore).map((r) => r.url);
    assert.deepEqual(contacted.filter((u) => !u.startsWith(`https://sns.${REGION}.amazonaws.com/`)), []);
});

test("a confirmation whose SubscribeURL is elsewhere, or from a foreign topic, is not followed", async () => {
    const requestsBefore = worker.outbound.requests.length;
    const elsewhere = [
        { SubscribeURL: "https://evil.example/?Action=ConfirmSubscription" },
        { SubscribeURL: "http://sns.eu-west-1.amazonaws.com/?Action=ConfirmSubscription" },
        { TopicArn: FOREIGN_TOPIC, SubscribeURL: SUBSCRIBE_URL },
    ];
    for (const fields of elsewhere) assert.equal((await post(sign({ ...confirmation(), ...fields }))).status, 403);
    const contacted = worker.outbound.requests.slice(requestsBefore).map((r) => r.url);
    assert.ok(!contacted.some((u) => u.includes("ConfirmSubscription")), contacted.join(" "));
});

test("bodies that are not JSON are 400; other methods 405", async () => {
    assert.equal((await worker.fetch("/sns", { method: "POST", body: "{not json" })).status, 400);
    assert.equal((await worker.fetch("/sns")).status, 405);
});

// Replays.
test("a MessageId already handled changes nothing, even after the reader confirmed again", async () => {
    await addActive("replayed@example.org");
    const message = sign(bounce(["replayed@example.org"]));
    assert.equal((await post(message)).status, 200);
    assert.equal((await worker.row("replayed@example.org")).status, "bounced");
    await worker.db.prepare("UPDATE subscribers SET status = 'active' WHERE email = 'replayed@example.org'").run();
    // SNS retries with the same MessageId; a captured message is replayed the same way.
    assert.equal((await post(message)).status, 200);
    assert.equal((await worker.row("replayed@example.org")).status, "active");
});

test("a Timestamp older than an hour and five minutes, or further ahead than five minutes, is refused", async () => {
    const ago = (seconds) => new Date(Date.now() - seconds * 1000).toISOString();
    const cases = [[ago(60 * 86400), 403], [ago(3600 + 330), 403], [ago(-330), 403], [ago(3600 + 270), 200], [ago(-270),
        200]];
    for (const [timestamp, status] of cases) {
        const email = `stamped-${status}-${timestamp.replace(/[^0-9]/g, "")}@example.org`;
        await addActive(email);
        assert.equal((await post(sign(bounce([email]), {}, { Timestamp: timestamp }))).status, status, timestamp);
        assert.equal((await worker.row(email)).status, status === 200 ? "bounced" : "active", timestamp);
    }
});

// Availability.
test("a certificate Amazon cannot serve right now gives 503, so SNS delivers again", async () => {
    const flaky = `https://sns.${REGION}.amazonaws.com/SimpleNotificationService-flaky.pem`;
    let attempts = 0;
    worker.outbound.on((url) => url.href === flaky,
        () => ++attempts === 1 ? new Response("busy", { status: 503 }) : new Response(amazon.certPem));
    await addActive("retry@example.org");
    const message = sign(bounce(["retry@example.org"]), { certUrl: flaky });
    assert.equal((await post(message)).status, 503);
    assert.equal((await worker.row("retry@example.org")).status, "active");
    assert.equal((await post(message)).status, 200);
    assert.equal((await worker.row("retry@example.org")).status, "bounced");
});

test("without AWS_ACCOUNT_ID nothing is accepted, and the writer is told why; STS is never called", async () => {
    await withWorker({ AWS_ACCOUNT_ID: undefined }, async (bare) => {
        bare.outbound.on((url) => url.href === CERT_URL, () => new Response(amazon.certPem));
        assert.equal((await health(bare)).awsAccountId, null);
        const messages = [sign(complaint(["keyless@example.org"])),
            sign({ ...confirmation(), SubscribeURL: SUBSCRIBE_URL })];
        for (const m of messages) {
            assert.equal((await bare.fetch("/sns", { method: "POST", body: JSON.stringify(m) })).status, 403);
        }
        assert.equal(await bare.row("keyless@example.org"), null);
        assert.match((await health(bare)).snsFailure.message, /does not know your AWS account/);
        assert.ok(!bare.outbound.requests.some((r) => r.url.includes("ConfirmSubscription")));
        const requests = [...bare.outbound.requests, ...worker.outbound.requests];
        assert.ok(!requests.some((r) => new URL(r.url).host.startsWith("sts.")));
    });
});
