#!/usr/bin/env node
// CPU time of the signup worker per request, in Miniflare (workerd with D1), and signups per
// second with the caps on.
//
// How CPU is measured: workerd runs the worker, Miniflare's D1 (a Durable Object around SQLite)
// and the HTTP plumbing on one thread, so the on-CPU time of the workerd process
// (/proc/<pid>/task/*/schedstat, nanoseconds, not inflated by a busy machine) over requests run
// one after another gives, first, an upper bound that includes SQLite. The worker's own share is
// then measured in the same runtime with D1 taken out: a second worker imports worker.js and
// calls it with a stand-in database that answers every statement at once from memory (a pull
// page's 5000 rows as D1 hands them over, a push's counts). What remains per request is our
// JavaScript: routing, the bearer check, validation, JSON, page building. The D1 binding's own
// decoding of a page's rows also runs in the worker's isolate on Cloudflare (awaiting D1 is not
// CPU time, parsing its answer is); it is measured by parsing a saved copy of D1's answer for a
// page the way the binding does. An empty request's cost is subtracted throughout.
// (V8's sampling profiler through workerd's inspector was tried first: it ticks by the wall
// clock and, on a shared machine, counts time the thread waited for a core.)
//
//   node bench/worker_cpu/worker_cpu.mjs [--readers N] [--signups N] [--clients N]

import crypto from "node:crypto";
import fs from "node:fs";
import { parseArgs } from "node:util";

import { Miniflare } from "miniflare";

import { applySql } from "../../tests/support/d1_sql.mjs";
import { defaultBindings, Outbound, SCHEMA_SQL, WORKER_JS } from "../../tests/worker/harness.mjs";

const { values: options } = parseArgs({
    options: {
        readers: { type: "string", default: "100000" },
        signups: { type: "string", default: "2000" },
        clients: { type: "string", default: "20" },
    },
});
const readers = Number(options.readers);
// As WorkerClient::pushBatchSize.
const PUSH_BATCH = 500;

// Replays the worker's pull statements (given in the request body), or parses a saved D1 answer
// as the binding does (columns and rows into objects), or does nothing.
const CONTROL_JS = `
let saved = null;
export default {
    async fetch(request, env) {
        const mode = new URL(request.url).pathname.slice(1);
        if (mode === "empty") return new Response("");
        if (mode === "save") { saved = await request.text(); return new Response(""); }
        if (mode === "decode") {
            const answer = JSON.parse(saved);
            const objects = new Array(answer.rows.length);
            for (let i = 0; i < answer.rows.length; i++) {
                const row = answer.rows[i];
                const object = {};
                for (let k = 0; k < answer.columns.length; k++) object[answer.columns[k]] = row[k];
                objects[i] = object;
            }
            return new Response(String(objects.length));
        }
        const { sql, params } = await request.json();
        const results = await env.DB.batch([env.DB.prepare("SELECT 1 AS now"), env.DB.prepare(sql).bind(...params)]);
        if (mode === "raw") return Response.json({ columns: Object.keys(results[1].results[0] ?? {}),
            rows: results[1].results.map((r) => Object.values(r)) });
        return new Response("");
    },
};`;

// worker.js with its database replaced by an instant stand-in (see above).
const STUB_JS = `
import worker from "./worker.js";
let rows = [];
const statement = (sql) => ({
    sql,
    bind() { return this; },
    async all() { return { results: [] }; },
    async first() { return null; },
    async run() { return { meta: { changes: 1 } }; },
});
const db = {
    prepare: statement,
    async batch(statements) {
        return statements.map((s) => s.sql.includes(" AS now") ? { results: [{ now: Date.now() }] }
            : s.sql.trimStart().startsWith("SELECT") ? { results: rows.slice() } : { meta: { changes: 500 } });
    },
};
export default {
    async fetch(request, env, ctx) {
        const path = new URL(request.url).pathname;
        if (path === "/__rows") { rows = await request.json(); return new Response(""); }
        if (path === "/__empty") return new Response("");
        return worker.fetch(request, { ...env, DB: db }, ctx);
    },
};`;

function workerdCpuNs() {
    let total = 0;
    for (const pid of fs.readdirSync("/proc").filter((p) => /^\d+$/.test(p))) {
        let stat;
        try {
            stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
        } catch {
            continue;
        }
        if (!stat.includes("(workerd)")
            || Number(stat.slice(stat.lastIndexOf(")") + 2).split(" ")[1]) !== process.pid)
        {
            continue;
        }
        for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
            try {
                total += Number(fs.readFileSync(`/proc/${pid}/task/${task}/schedstat`, "utf8").split(" ")[0]);
            } catch {
                // a thread that ended meanwhile
            }
        }
    }
    return total;
}

// Runs the requests one after another: CPU per request, wall time, worst request.
async function measure(requests) {
    const before = workerdCpuNs();
    const started = performance.now();
    let worst = 0;
    for (const request of requests) {
        const t = performance.now();
        const response = await request();
        await response.arrayBuffer();
        if (response.status >= 400) {
            throw new Error(`answered ${response.status}`);
        }
        worst = Math.max(worst, performance.now() - t);
    }
    const n = Math.max(requests.length, 1);
    return { cpu: (workerdCpuNs() - before) / 1e6 / n, wall: performance.now() - started, worst, n: requests.length };
}

const bindings = defaultBindings({ DOUBLE_OPT_IN: "true" });
const outbound = new Outbound();
const mf = new Miniflare({
    workers: [
        { name: "quillmere", modules: true, script: WORKER_JS, compatibilityDate: "2025-09-01",
            d1Databases: { DB: "bench-db" }, bindings, outboundService: (request) => outbound.handle(request) },
        { name: "control", modules: true, script: CONTROL_JS, compatibilityDate: "2025-09-01",
            d1Databases: { DB: "bench-db" } },
        { name: "stubbed",
            modules: [{ type: "ESModule", path: "stub.js", contents: STUB_JS }, { type: "ESModule", path: "worker.js",
                contents: WORKER_JS }], compatibilityDate: "2025-09-01", bindings },
    ],
    host: "127.0.0.1",
    port: 0,
});
const base = (await mf.ready).href.replace(/\/$/, "");
await applySql(await mf.getD1Database("DB", "quillmere"), SCHEMA_SQL);
const worker = await mf.getWorker("quillmere");
const control = await mf.getWorker("control");
const stubbed = await mf.getWorker("stubbed");
const auth = { Authorization: `Bearer ${bindings.API_TOKEN}`, "Content-Type": "application/json" };
const line = (label, text) => console.log(`${label.padEnd(40)} ${text}`);
const ms = (value) => `${value.toFixed(2)} ms`;

try {
    const empty = await measure(Array.from({ length: 200 }, () => () => control.fetch("http://control/empty")));

    const start = Date.parse("2025-01-01T00:00:00Z");
    const pushes = [];
    for (let i = 0; i < readers; i += PUSH_BATCH) {
        const batch = [];
        for (let j = i; j < Math.min(readers, i + PUSH_BATCH); j++) {
            const date = new Date(start + j * 1000).toISOString().replace(/\.\d{3}Z$/, "Z");
            batch.push({ id: crypto.randomUUID(), email: `reader${j}@mail${j % 97}.example`, name: `Reader Number ${j}`,
                status: "active", source: "import:substack", created_at: date, updated_at: date });
        }
        pushes.push(JSON.stringify({ subscribers: batch }));
    }
    const push = await measure(
        pushes.map((p) => () => worker.fetch(`${base}/api/subscribers`, { method: "POST", headers: auth, body: p })),
    );
    line(`push ${readers} readers`,
        `${push.n} requests of ${PUSH_BATCH} in ${(push.wall / 1000).toFixed(1)} s, worst request ${
            push.worst.toFixed(0)
        } ms, `
            + `workerd CPU ${ms(push.cpu - empty.cpu)} per request`);
    const stubEmpty = await measure(Array.from({ length: 200 }, () => () => stubbed.fetch("http://stub/__empty")));
    const pushJs = await measure(
        pushes.slice(0, 20).map((p) => () =>
            stubbed.fetch(`${base}/api/subscribers`, { method: "POST", headers: auth, body: p })
        ),
    );
    line("  of which the worker's JavaScript", `${ms(pushJs.cpu - stubEmpty.cpu)} per request (D1 answering at once)`);

    // The positions of every page of a first pull, and what each page's statement is.
    const positions = [""];
    for (;;) {
        const page = await (await worker.fetch(`${base}/api/subscribers${positions.at(-1)}`, { headers: auth })).json();
        if (!page.next) break;
        positions.push(`?next=${page.next}`);
    }
    // Each page several times over, so that a busy machine's noise averages out.
    const rounds = Math.max(1, Math.ceil(40 / positions.length));
    const repeated = Array.from({ length: rounds }, () => positions).flat();
    const pull = await measure(
        repeated.map((p) => () => worker.fetch(`${base}/api/subscribers${p}`, { headers: auth })),
    );
    line(`pull ${readers} readers`,
        `${positions.length} pages in ${(pull.wall / rounds / 1000).toFixed(1)} s, worst page ${
            pull.worst.toFixed(0)
        } ms, `
            + `workerd CPU ${ms(pull.cpu - empty.cpu)} per page`);

    const statement = (position) => {
        const columns = /const PULL_COLUMNS = `([\s\S]*?)`;/.exec(WORKER_JS)[1];
        if (position === "") {
            return {
                sql: `SELECT ${columns} FROM subscribers WHERE updated_at >= ?1 ORDER BY updated_at, email LIMIT ?2`,
                params: [Number.MIN_SAFE_INTEGER, 5001],
            };
        }
        const [, updatedAt, email] = JSON.parse(
            Buffer.from(decodeURIComponent(position.slice(6)), "base64url").toString("utf8"),
        );
        return {
            sql: `SELECT ${columns} FROM subscribers WHERE (updated_at, email) > (?1, ?2) ORDER BY updated_at, email LIMIT ?3`,
            params: [updatedAt, email, 5001],
        };
    };
    const query = await measure(
        repeated.map((p) => () =>
            control.fetch("http://control/query", { method: "POST", body: JSON.stringify(statement(p)) })
        ),
    );
    const answer =
        await (await control.fetch("http://control/raw", { method: "POST", body: JSON.stringify(statement("")) }))
            .text();
    await control.fetch("http://control/save", { method: "POST", body: answer });
    const decode = await measure(Array.from({ length: 100 }, () => () => control.fetch("http://control/decode")));
    line("  of which D1 in Miniflare",
        `${ms(query.cpu - empty.cpu)} per page (SQLite and the D1 object; on Cloudflare, D1's servers)`);
    const parsed = JSON.parse(answer);
    const rows = parsed.rows.map((row) => Object.fromEntries(parsed.columns.map((c, i) => [c, row[i]])));
    await stubbed.fetch("http://stub/__rows", { method: "POST", body: JSON.stringify(rows) });
    const pageJs = await measure(
        Array.from({ length: 40 }, () => () => stubbed.fetch(`${base}/api/subscribers`, { headers: auth })),
    );
    line("  the worker's JavaScript per page", `${ms(pageJs.cpu - stubEmpty.cpu)} (D1 answering at once)`);
    line("  D1 binding decoding a page",
        `${ms(decode.cpu - empty.cpu)} (${(answer.length / 1024).toFixed(0)} KiB of rows)`);
    line("  worker isolate per page",
        `${ms(pageJs.cpu - stubEmpty.cpu + decode.cpu - empty.cpu)} (JavaScript + decoding)`);

    // Signups over HTTP from many clients at once, each from its own address and mailbox, with
    // the caps in place: first under the caps (every signup checked, counted, stored, mailed),
    // then over them (refused with 429).
    const signupRun = async (count, label, expected, caps) => {
        const run = new Miniflare({ modules: true, script: WORKER_JS, compatibilityDate: "2025-09-01",
            d1Databases: { DB: `signups-${label}` },
            bindings: Object.fromEntries(Object.entries({ ...bindings, ...caps }).filter(([, v]) => v !== undefined)),
            outboundService: (request) => outbound.handle(request), host: "127.0.0.1", port: 0 });
        const url = (await run.ready).href;
        await applySql(await run.getD1Database("DB"), SCHEMA_SQL);
        let next = 0;
        const statuses = {};
        const started = performance.now();
        await Promise.all(Array.from({ length: Number(options.clients) }, async () => {
            while (next < count) {
                const i = next++;
                const response = await fetch(url, { method: "POST",
                    headers: { "Content-Type": "application/x-www-form-urlencoded",
                        "CF-Connecting-IP": `10.${(i >> 16) & 255}.${(i >> 8) & 255}.${i & 255}` },
                    body: `email=signup${i}%40${label}.example&website=` });
                await response.arrayBuffer();
                statuses[response.status] = (statuses[response.status] ?? 0) + 1;
            }
        }));
        const seconds = (performance.now() - started) / 1000;
        await run.dispose();
        line(`signups ${label}`,
            `${count} from ${options.clients} clients in ${seconds.toFixed(1)} s: ${
                (count / seconds).toFixed(0)
            } per second; `
                + `answers ${JSON.stringify(statuses)}`);
        if ((statuses[expected] ?? 0) === 0) {
            throw new Error(`no ${expected} answers`);
        }
    };
    const signups = Number(options.signups);
    await signupRun(signups, "under-the-caps", 200, { SIGNUPS_PER_CLIENT_PER_HOUR: "5",
        SIGNUPS_PER_MAILBOX_PER_10_MINUTES: "1", SIGNUPS_PER_HOUR: String(signups) });
    await signupRun(signups, "default-caps", 429, { SIGNUPS_PER_CLIENT_PER_HOUR: undefined,
        SIGNUPS_PER_MAILBOX_PER_10_MINUTES: undefined, SIGNUPS_PER_HOUR: undefined });
} finally {
    await mf.dispose();
}
