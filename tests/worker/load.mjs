#!/usr/bin/env node
// Load on the signup worker in Miniflare (workerd with D1), over real HTTP on loopback: a list
// of readers is pushed, then many concurrent clients unsubscribe them with one click and sign
// new addresses up (double opt-in, so each signup also sends a confirmation mail through the
// mocked SES), while the application pushes its stale copy of the same list again and again.
// Passes when no request failed and the final pull holds exactly the expected statuses: every
// one-click unsubscribe survived the concurrent stale pushes, every signup is pending.
// Prints the figures; exits 1 on any failure.
//
//   node tests/worker/load.mjs [--unsubscribes N] [--signups N] [--clients N]
//
// Defaults: 20000 unsubscribes, 5000 signups, 50 clients. QUILLMERE_CLI, when set, checks the
// tokens made here against the application's own.

import crypto from "node:crypto";
import { parseArgs } from "node:util";

import { cliToken, defaultBindings, fastToken as token, pullAll, startWorker } from "./harness.mjs";

const { values } = parseArgs({
    options: { unsubscribes: { type: "string", default: "20000" }, signups: { type: "string", default: "5000" },
        clients: { type: "string", default: "50" } },
});
const [unsubscribes, signups, clients] = [values.unsubscribes, values.signups, values.clients].map(Number);
const failures = [];

// The signup caps are far above this load (defaultBindings): here every signup must be mailed.
const bindings = defaultBindings({ DOUBLE_OPT_IN: "true" });
const worker = await startWorker({ bindings });
const api = { Authorization: `Bearer ${bindings.API_TOKEN}`, "Content-Type": "application/json" };
const form = { "Content-Type": "application/x-www-form-urlencoded" };
// One connection per request, as Miniflare's own dispatch does: workerd closes a connection
// after five idle seconds without saying so, and on a loaded machine fetch's keep-alive pool
// reused such a socket just as it closed (ECONNRESET, "other side closed").
async function post(path, headers, body) {
    const response = await fetch(`${worker.base}${path}`, { method: "POST",
        headers: { ...headers, Connection: "close" }, body });
    return { status: response.status, text: await response.text() };
}
try {
    const sample = "reader0@load.example";
    const ours = token("unsubscribe", sample, bindings.SIGNING_SECRET);
    if (process.env.QUILLMERE_CLI && cliToken("unsubscribe", sample, bindings.SIGNING_SECRET) !== ours) {
        throw new Error("the load test's tokens differ from the application's");
    }

    // The list as the application last synced it, an hour ago.
    const syncedAt = new Date(Math.floor(Date.now() / 1000) * 1000 - 3600 * 1000).toISOString().replace(/\.\d{3}Z$/,
        "Z");
    const readers = Array.from({ length: unsubscribes },
        (_, i) => ({ id: crypto.randomUUID(), email: `reader${i}@load.example`, name: `Reader ${i}`, status: "active",
            source: "import:generic", created_at: syncedAt, updated_at: syncedAt }));
    const batches = Array.from({ length: Math.ceil(readers.length / 2000) },
        (_, k) => JSON.stringify({ subscribers: readers.slice(k * 2000, k * 2000 + 2000) }));
    const seedStarted = performance.now();
    for (const body of batches) {
        const response = await post("/api/subscribers", api, body);
        if (response.status !== 200) throw new Error(`seeding: ${response.status} ${response.text}`);
    }
    const seedSeconds = (performance.now() - seedStarted) / 1000;

    // The jobs, interleaved so unsubscribes and signups run side by side.
    const jobs = [];
    for (let i = 0, j = 0; i < unsubscribes || j < signups;) {
        if (i < unsubscribes) jobs.push({ kind: "unsubscribe", email: readers[i++].email });
        if ((i % 4 === 0 || i >= unsubscribes) && j < signups) {
            jobs.push({ kind: "signup", email: `new${j++}@signup.example` });
        }
    }
    const latencies = [];
    async function client() {
        for (let job; (job = jobs.shift());) {
            const started = performance.now();
            try {
                const response = job.kind === "unsubscribe"
                    ? await post(`/unsubscribe?t=${token("unsubscribe", job.email, bindings.SIGNING_SECRET)}`, form,
                        "List-Unsubscribe=One-Click")
                    : await post("/", form, new URLSearchParams({ email: job.email, website: "" }).toString());
                if (response.status !== 200) failures.push(`${job.kind} ${job.email}: ${response.status}`);
            } catch (error) {
                const cause = error.cause?.code ?? error.cause?.message ?? "no cause";
                failures.push(`${job.kind} ${job.email}: ${error.message} (${cause})`);
            }
            latencies.push(performance.now() - started);
        }
    }
    // Meanwhile the application pushes its stale copy of the list now and then: it must not undo anything.
    let stalePushes = 0;
    let loadRunning = true;
    async function staleSync() {
        for (let k = 0; loadRunning; k = (k + 1) % batches.length, stalePushes++) {
            const response = await post("/api/subscribers", api, batches[k]);
            if (response.status !== 200) failures.push(`stale push: ${response.status}`);
            await new Promise((resolve) => setTimeout(resolve, 250));
        }
    }

    const requests = jobs.length;
    const started = performance.now();
    const syncing = staleSync();
    await Promise.all(Array.from({ length: clients }, client));
    const seconds = (performance.now() - started) / 1000;
    loadRunning = false;
    await syncing;

    // Confirmation mails go out after each answer; wait for the last ones.
    for (const deadline = Date.now() + 60000; worker.outbound.sesMails().length < signups && Date.now() < deadline;) {
        await new Promise((resolve) => setTimeout(resolve, 50));
    }

    // The final pull, page by page as the application makes it.
    const subscribers = (await pullAll(worker)).flatMap((page) => page.subscribers);
    const statuses = new Map(subscribers.map((s) => [s.email, s.status]));
    const newcomers = Array.from({ length: signups }, (_, j) => `new${j}@signup.example`);
    const wrong = readers.filter((r) => statuses.get(r.email) !== "unsubscribed").length
        + newcomers.filter((email) => statuses.get(email) !== "pending").length;
    const mails = worker.outbound.sesMails().length;

    latencies.sort((a, b) => a - b);
    const at = (q) => latencies[Math.min(latencies.length - 1, Math.floor(q * latencies.length))].toFixed(1);
    console.log(`seeded ${unsubscribes} readers in ${seedSeconds.toFixed(2)} s`);
    const latency = `latency p50 ${at(0.5)} ms, p99 ${at(0.99)} ms, max ${at(1)} ms`;
    console.log(`${requests} requests (${unsubscribes} one-click unsubscribes, ${signups} signups) from ${clients} `
        + `clients in ${seconds.toFixed(2)} s: ${(requests / seconds).toFixed(0)} requests/s; ${latency}`);
    console.log(`${stalePushes} stale pushes of 2000 readers ran alongside`);
    console.log(`confirmation mails sent: ${mails}`);
    console.log(`final pull: ${subscribers.length} readers, ${wrong} with the wrong status`);
    const problems = [
        failures.length > 0 && `${failures.length} requests failed, first: ${failures.slice(0, 5).join("; ")}`,
        (wrong > 0 || statuses.size !== unsubscribes + signups)
        && `lost updates: ${wrong} wrong statuses, ${statuses.size} readers in the pull`,
        mails !== signups && `${mails} confirmation mails for ${signups} signups`,
    ].filter(Boolean);
    for (const problem of problems) console.error(`FAIL: ${problem}`);
    process.exitCode = problems.length > 0 ? 1 : 0;
} finally {
    await worker.close();
}
