// The token-protected API of the worker (sync, issues, images), in workerd with a real D1 database.

import assert from "node:assert/strict";
import crypto from "node:crypto";
import net from "node:net";
import { after, test } from "node:test";

import { applySql } from "../support/d1_sql.mjs";
import { fastToken, mediaName, PIXEL_PNG, pullAll, randomHex, SCHEMA_SQL, startWorker, TEST_ACCOUNT, unsubscribe,
    withWorker } from "./harness.mjs";

const worker = await startWorker();
after(() => worker.close());

function subscriber(email, overrides = {}) {
    return { id: crypto.randomUUID(), email, name: "", status: "active", source: "manual",
        created_at: "2025-03-01T09:30:00Z", updated_at: "2025-03-01T09:30:00Z", ...overrides };
}

async function push(list, w = worker) {
    const response = await w.api("/api/subscribers", { method: "POST", headers: { "Content-Type": "application/json" },
        body: JSON.stringify({ subscribers: list }) });
    return { status: response.status, body: await response.json() };
}

async function pull(since) {
    const query = since === undefined ? "" : `?since=${encodeURIComponent(since)}`;
    const response = await worker.api(`/api/subscribers${query}`);
    return { status: response.status, type: response.headers.get("content-type"), body: await response.json() };
}

// Authentication.
test("every endpoint refuses a missing, wrong or differently shaped token with 401 and a text error", async () => {
    const token = worker.bindings.API_TOKEN;
    const attempts = [undefined, `Bearer ${randomHex()}`, `Bearer ${token}x`, `Bearer ${token.slice(0, -1)}`,
        `Basic ${token}`, "Bearer "];
    for (const path of ["/api/health", "/api/subscribers", "/api/issues", "/api/nothing"]) {
        for (const authorization of attempts) {
            const response = await worker.fetch(path, {
                headers: authorization ? { Authorization: authorization } : {},
            });
            assert.equal(response.status, 401, `${path} ${authorization}`);
            assert.match((await response.json()).error, /token/);
        }
    }
});

test("a worker deployed without an API token answers 503 rather than accept an empty bearer", async () => {
    await withWorker({ API_TOKEN: "" }, async (bare) => {
        assert.equal((await bare.fetch("/api/health", { headers: { Authorization: "Bearer " } })).status, 503);
    });
});

test("with the right token: health, and JSON errors for unknown endpoints and wrong methods", async () => {
    assert.deepEqual(await (await worker.api("/api/health")).json(), { ok: true, awsAccountId: TEST_ACCOUNT,
        mailConfigured: true, mailFailure: null, snsFailure: null });
    const cases = [["/api/elsewhere", "GET", 404], ["/api/subscribers", "DELETE", 405], ["/api/issues", "GET", 405]];
    for (const [path, method, status] of cases) {
        const response = await worker.api(path, { method });
        assert.equal(response.status, status, path);
        assert.equal(typeof (await response.json()).error, "string");
    }
    assert.equal((await worker.api("/api/subscribers", { method: "DELETE" })).headers.get("allow"), "GET, POST");
});

// Push and pull.
test("pushed records come back in the wire form: lower-case ids, normalised addresses, whole-second dates", async () => {
    const id = crypto.randomUUID().toUpperCase();
    const wire = subscriber("  Wire.Form@Example.COM ", { id, name: "Ada", status: "pending", source: "import:substack",
        created_at: "2025-03-01T09:30:00.750Z", updated_at: "2025-03-02T11:00:00+02:00" });
    assert.deepEqual(await push([wire]), { status: 200, body: { upserted: 1 } });
    const { status, type, body } = await pull("2025-03-02T09:00:00Z");
    assert.equal(status, 200);
    assert.match(type, /^application\/json/);
    const record = body.subscribers.find((s) => s.email === "wire.form@example.com");
    assert.deepEqual(record, { id: id.toLowerCase(), email: "wire.form@example.com", name: "Ada", status: "pending",
        source: "import:substack", created_at: "2025-03-01T09:30:00Z", updated_at: "2025-03-02T09:00:00Z" });
    // Pushed again under another id and a later creation date: the worker's id and the earlier date stay.
    await push([
        subscriber("wire.form@example.com", { created_at: "2025-04-01T00:00:00Z", updated_at: "2025-04-02T00:00:00Z",
            name: "New" }),
    ]);
    const row = await worker.row("wire.form@example.com");
    assert.deepEqual([row.id, row.name, row.created_at], [id.toLowerCase(), "New",
        Date.parse("2025-03-01T09:30:00.750Z")]);
});

test("since returns exactly the records changed at or after the instant, in any offset", async () => {
    const [before, exact, after] = ["since-before@example.com", "since-exact@example.com", "since-after@example.com"];
    await push([
        subscriber(before, { updated_at: "2024-01-01T11:59:59Z" }),
        subscriber(exact, { updated_at: "2024-01-01T12:00:00Z" }),
        subscriber(after, { updated_at: "2024-01-01T12:00:01Z" }),
    ]);
    const emails = (body) => body.subscribers.map((s) => s.email).filter((e) => e.startsWith("since-"));
    assert.deepEqual(emails((await pull("2024-01-01T12:00:00Z")).body), [exact, after]);
    // The client writes "+" as %2B so an offset survives the query.
    assert.deepEqual(emails((await pull("2024-01-01T14:00:00+02:00")).body), [exact, after]);
    assert.deepEqual(emails((await pull("2024-01-01T12:00:00.500Z")).body), [after]);
    assert.deepEqual(emails((await pull()).body), [before, exact, after]);
    const bad = await worker.api("/api/subscribers?since=yesterday");
    assert.equal(bad.status, 400);
    assert.match((await bad.json()).error, /since/);
});

test("a push never brings back a reader who left, bounced or complained; a date beyond the worker's clock is now", async () => {
    const leave = (email) => unsubscribe(worker, email);
    const mark = (status) => (email) =>
        worker.db.prepare("UPDATE subscribers SET status = ?2 WHERE email = ?1").bind(email, status).run();
    const since = new Date(Date.now() - 1000).toISOString();
    const acts = [["unsubscribed", leave], ["bounced", mark("bounced")], ["complained", mark("complained")]];
    for (const [status, act] of acts) {
        for (const pushed of ["active", "pending"]) {
            const email = `final-${status}-${pushed}@example.com`;
            await push([subscriber(email, { updated_at: "2025-01-01T00:00:00Z" })]);
            await act(email);
            // A rename, an import or a status set by hand, dated after the change.
            const renamed = subscriber(email, { status: pushed, name: "Renamed",
                updated_at: new Date().toISOString() });
            assert.equal((await push([renamed])).body.upserted, 1);
            const row = await worker.row(email);
            assert.deepEqual([row.status, row.name], [status, "Renamed"], email);
            assert.equal((await pull(since)).body.subscribers.find((s) => s.email === email).status, status, email);
        }
    }
    // One push dated 2099 does not freeze the record: a later genuine change still lands.
    const email = "dated-2099@example.com";
    await push([subscriber(email, { updated_at: "2099-01-01T00:00:00Z" })]);
    assert.ok((await worker.row(email)).updated_at <= Date.now());
    const later = subscriber(email, { status: "unsubscribed", updated_at: new Date(Date.now() + 1000).toISOString() });
    assert.equal((await push([later])).body.upserted, 1);
    assert.equal((await worker.row(email)).status, "unsubscribed");
    // A database frozen by an earlier worker version thaws when the schema is applied again.
    await worker.db.prepare("UPDATE subscribers SET updated_at = ?2 WHERE email = ?1").bind(email,
        Date.parse("2099-01-01T00:00:00Z")).run();
    await applySql(worker.db, SCHEMA_SQL);
    assert.ok((await worker.row(email)).updated_at <= Date.now());
});

test("an invalid record refuses the whole push with a message naming it, and stores nothing", async () => {
    const bad = [subscriber("bad-status@example.com", { status: "vip" }), subscriber(""),
        subscriber("bad-id@example.com", { id: "x" }),
        subscriber("bad-date@example.com", { updated_at: "2025-03-01 09:30:00" }),
        subscriber("bad-name@example.com", { name: 42 }), "nope"];
    for (const [i, record] of bad.entries()) {
        const result = await push([subscriber(`ok-${i}@example.com`), record]);
        assert.equal(result.status, 400, JSON.stringify(record));
        assert.match(result.body.error, /^subscribers\[1\]/);
        assert.equal(await worker.row(`ok-${i}@example.com`), null);
    }
    for (const body of ["not json", "[]", '{"subscribers": {}}', "{}"]) {
        const response = await worker.api("/api/subscribers", { method: "POST", body });
        assert.equal(response.status, 400, body);
        assert.equal(typeof (await response.json()).error, "string");
    }
});

test("pulls come in pages of 5000 that chain by next, each with the worker's clock; all readers once, in update order", async () => {
    await withWorker({}, async (isolated) => {
        const list = Array.from({ length: 12001 }, (_, i) => subscriber(`reader${i}@bulk.example`, {
            // Many readers share a second, so a page may end inside one.
            updated_at: new Date(Date.parse("2025-06-01T10:00:00Z") + Math.floor(i / 7) * 1000).toISOString(),
        }));
        for (let i = 0; i < list.length; i += 2000) {
            assert.equal((await push(list.slice(i, i + 2000), isolated)).body.upserted,
                Math.min(2000, list.length - i));
        }
        const before = Math.floor(Date.now() / 1000) * 1000;
        const pages = await pullAll(isolated);
        assert.deepEqual(pages.map((p) => p.subscribers.length), [5000, 5000, 2001]);
        assert.deepEqual(pages.map((p) => typeof p.next), ["string", "string", "undefined"]);
        for (const page of pages) {
            assert.match(page.syncedAt, /^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z$/);
            assert.ok(Date.parse(page.syncedAt) >= before && Date.parse(page.syncedAt) <= Date.now());
        }
        const all = pages.flatMap((p) => p.subscribers);
        assert.equal(new Set(all.map((s) => s.email)).size, 12001);
        const keys = all.map((s) => `${s.updated_at} ${s.email}`);
        assert.deepEqual(keys, [...keys].sort());
        // A page position keeps the "since" it started with.
        const first = await (await isolated.api("/api/subscribers?since=2025-06-01T10:05:00Z")).json();
        const second = await (await isolated.api(`/api/subscribers?next=${first.next}`)).json();
        assert.ok(second.subscribers.every((s) => s.updated_at >= "2025-06-01T10:05:00Z"));
        const bad = await isolated.api("/api/subscribers?next=not-a-position");
        assert.equal(bad.status, 400);
        assert.match((await bad.json()).error, /next/);
    });
});

test("race: readers leave while the application pushes and pulls; a sync from each syncedAt misses none", async () => {
    await withWorker({}, async (isolated) => {
        const list = Array.from({ length: 800 },
            (_, i) => subscriber(`racer${i}@race.example`, { updated_at: "2025-01-01T00:00:00Z" }));
        await push(list, isolated);
        const known = new Map();
        let cursor;
        const sync = async () => {
            const touched = (s) => ({ ...s, name: "Touched", updated_at: new Date().toISOString() });
            await push(list.slice(0, 200).map(touched), isolated);
            const pages = await pullAll(isolated, cursor);
            cursor = pages[0].syncedAt;
            for (const s of pages.flatMap((p) => p.subscribers)) known.set(s.email, s.status);
        };
        let leaving = true;
        const leave = (async () => {
            for (let i = 0; i < list.length; i += 50) {
                const batch = list.slice(i, i + 50);
                await Promise.all(batch.map((s) => unsubscribe(isolated, s.email, { make: fastToken })));
            }
            leaving = false;
        })();
        let rounds = 0;
        while (leaving) {
            await sync();
            rounds++;
        }
        await leave;
        await sync();
        assert.ok(rounds >= 2, `${rounds} syncs ran alongside`);
        assert.deepEqual(list.filter((s) => known.get(s.email) !== "unsubscribed").map((s) => s.email), []);
    });
});

// Issues.
test("publishing stores the issue; publishing the same slug again replaces it", async () => {
    const publish = async (subject, html) =>
        (await worker.publish({ slug: "api-issue-abc123", subject, html, published_at: "2025-03-01T09:30:00Z" }))
            .status;
    assert.equal(await publish("First", "<p>one</p>"), 200);
    assert.equal(await publish("First, fixed", "<p>two</p>"), 200);
    const stored = await worker.db.prepare("SELECT * FROM issues WHERE slug = ?1").bind("api-issue-abc123").first();
    assert.equal(stored.subject, "First, fixed");
    assert.equal(stored.html, "<p>two</p>");
    assert.equal(stored.published_at, Date.parse("2025-03-01T09:30:00Z"));
});

test("bad issues are refused with a text error", async () => {
    const good = { slug: "fine-abc123", subject: "S", html: "<p>x</p>", published_at: "2025-03-01T09:30:00Z" };
    const cases = [[{ slug: "../etc" }, 400], [{ slug: "Upper-Case" }, 400], [{ slug: "" }, 400], [{ subject: 7 }, 400],
        [{ html: null }, 400], [{ published_at: "soon" }, 400], [{ html: "x".repeat(1_900_000) }, 413]];
    for (const [change, status] of cases) {
        const response = await worker.publish({ ...good, ...change });
        assert.equal(response.status, status, JSON.stringify(change).slice(0, 80));
        assert.equal(typeof (await response.json()).error, "string");
    }
});

test("bodies over the API limit are refused, whether declared or streamed", async () => {
    const chunk = new Uint8Array(1024 * 1024).fill(0x20);
    let sent = 0;
    const body = new ReadableStream({
        pull: (controller) => (sent++ < 40 ? controller.enqueue(chunk) : controller.close()),
    });
    // The worker answers before the client has finished streaming; on a busy machine the client
    // may see the connection end instead of the answer. The request after it shows the worker
    // is still up and refusing.
    const response = await worker.api("/api/subscribers", { method: "POST", body, duplex: "half" }).catch((e) => e);
    if (typeof response?.status === "number") {
        assert.equal(response.status, 413);
        assert.match((await response.json()).error, /larger than/);
    } else {
        assert.match(String(response.cause ?? response), /terminated|closed|ECONNRESET|EPIPE/);
    }
    // Declared: the answer comes from the headers alone, before a byte of the body (sending
    // it too ran into the same early close).
    const { hostname, port } = new URL(worker.base);
    const lines = ["POST /api/subscribers HTTP/1.1", `Host: ${hostname}`,
        `Authorization: Bearer ${worker.bindings.API_TOKEN}`, `Content-Length: ${33 * 1024 * 1024}`, "", ""];
    const declared = lines.join("\r\n");
    const head = await new Promise((resolve, reject) => {
        const socket = net.connect(Number(port), hostname, () => socket.write(declared));
        let text = "";
        socket.on("data", (data) => (text += data) && text.includes("\r\n\r\n") && (socket.destroy(), resolve(text)));
        socket.on("error", reject);
        socket.setTimeout(30000, () => reject(new Error("no answer without the body")));
    });
    assert.match(head, /^HTTP\/1\.1 413 /);
});

// Media: hosted images of issues, the token-protected upload and the public, cacheable download.
const put = (name, body, type, send = worker.api) =>
    send(`/api/media/${name}`, { method: "PUT", body, headers: { "Content-Type": type } });

test("an uploaded image is served publicly with its type and immutable caching", async () => {
    const name = mediaName(PIXEL_PNG, "png");
    assert.equal((await worker.fetch(`/media/${name}`, { method: "HEAD" })).status, 404);
    const stored = await put(name, PIXEL_PNG, "image/png");
    assert.equal(stored.status, 200, await stored.clone().text());
    assert.equal((await put(name, PIXEL_PNG, "image/png")).status, 200, "uploading again is harmless");
    for (const method of ["GET", "HEAD"]) {
        const response = await worker.fetch(`/media/${name}`, { method });
        assert.equal(response.status, 200);
        assert.equal(response.headers.get("content-type"), "image/png");
        assert.equal(response.headers.get("cache-control"), "public, max-age=31536000, immutable");
        assert.equal(response.headers.get("x-content-type-options"), "nosniff");
        const body = Buffer.from(await response.arrayBuffer());
        assert.deepEqual(body, method === "GET" ? PIXEL_PNG : Buffer.alloc(0));
    }
    assert.equal((await worker.fetch(`/media/${name}`, { method: "POST" })).status, 405);
});

test("uploads are refused without the token, with a wrong hash, type or name, and over the size limit", async () => {
    const name = mediaName(PIXEL_PNG, "png");
    const svg = Buffer.from('<svg xmlns="http://www.w3.org/2000/svg"><script>alert(1)</script></svg>');
    const big = Buffer.concat([PIXEL_PNG.subarray(0, 8), Buffer.alloc(1_800_001 - 8)]);
    const cases = [
        ["missing token", () => put(name, PIXEL_PNG, "image/png", worker.fetch), 401],
        ["hash of other bytes", () => put(`${randomHex(8)}.png`, PIXEL_PNG, "image/png"), 400],
        ["type not matching the name", () => put(name, PIXEL_PNG, "image/jpeg"), 415],
        ["bytes not matching the type", () => put(mediaName(svg, "png"), svg, "image/png"), 415],
        ["SVG", () => put(`${mediaName(svg, "png").slice(0, 16)}.svg`, svg, "image/svg+xml"), 400],
        ["name with a path", () => put(`..%2f${name}`, PIXEL_PNG, "image/png"), 400],
        ["oversize body", () => put(mediaName(big, "png"), big, "image/png"), 413],
        ["wrong method", () => worker.api(`/api/media/${name}`), 405],
    ];
    for (const [what, attempt, status] of cases) {
        const response = await attempt();
        assert.equal(response.status, status, what);
        assert.equal(typeof (await response.json()).error, "string", what);
    }
    const count = await worker.db.prepare("SELECT COUNT(*) AS n FROM media WHERE name != ?1").bind(name).first();
    assert.equal(count.n, 0, "nothing refused was stored");
});
