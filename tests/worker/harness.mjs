// Runs resources/worker.js in Miniflare (the workerd runtime) with a real D1 database made from
// resources/schema.sql, and captures every fetch the worker makes to the outside (SES, STS,
// SNS certificates and subscription URLs) so tests can answer and inspect them.

import { execFileSync } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

import { Miniflare } from "miniflare";

import { applySql } from "../support/d1_sql.mjs";

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
export const WORKER_JS = fs.readFileSync(path.join(ROOT, "resources/worker.js"), "utf8");
export const SCHEMA_SQL = fs.readFileSync(path.join(ROOT, "resources/schema.sql"), "utf8");

export const randomHex = (bytes = 32) => crypto.randomBytes(bytes).toString("hex");

// A real image and the name the application gives it (first 16 hex digits of its SHA-256).
export const PIXEL_PNG = Buffer.from(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==",
    "base64",
);
export const mediaName = (bytes, ext) =>
    `${crypto.createHash("sha256").update(bytes).digest("hex").slice(0, 16)}.${ext}`;

export const TEST_ACCOUNT = "123456789012";

// An override of undefined leaves the binding out. The signup caps are far above what a test
// sends, except where a test sets them (or leaves them out, for the defaults).
export function defaultBindings(overrides = {}) {
    const bindings = { PUBLICATION_NAME: "The Quill & <Ink> Weekly", FROM_EMAIL: "letters@quill.example",
        AWS_REGION: "eu-west-1", AWS_ACCOUNT_ID: TEST_ACCOUNT, DOUBLE_OPT_IN: "true", API_TOKEN: randomHex(),
        SIGNING_SECRET: randomHex(), AWS_ACCESS_KEY_ID: "AKIDQUILLMERETEST",
        AWS_SECRET_ACCESS_KEY: "wJalrXUtnFEMI/K7MDENG/bPxRfiCYQUILLMERE", SIGNUPS_PER_CLIENT_PER_HOUR: "100000",
        SIGNUPS_PER_MAILBOX_PER_10_MINUTES: "100000", SIGNUPS_PER_HOUR: "100000", ...overrides };
    return Object.fromEntries(Object.entries(bindings).filter(([, v]) => v !== undefined));
}

const isSES = (url) => /^email\.[a-z0-9-]+\.amazonaws\.com$/.test(new URL(url).host);
const isMail = (r, to) => isSES(r.url) && (to === undefined || JSON.parse(r.body).Destination.ToAddresses.includes(to));

// Every outbound request is recorded; the newest matching handler answers it.
export class Outbound {
    constructor() {
        this.requests = [];
        this.handlers = [];
        this.on((url) => isSES(url), () => Response.json({ MessageId: `0100-${randomHex(8)}` }));
    }

    on(match, respond) {
        this.handlers.push({ match, respond });
    }

    async handle(request) {
        const hasBody = request.method !== "GET" && request.method !== "HEAD";
        const record = { url: request.url, method: request.method, headers: Object.fromEntries(request.headers),
            body: hasBody ? await request.text() : "" };
        this.requests.push(record);
        const url = new URL(request.url);
        for (let i = this.handlers.length - 1; i >= 0; i--) {
            if (this.handlers[i].match(url, record)) return this.handlers[i].respond(record, url);
        }
        return new Response(`no outbound mock for ${request.url}`, { status: 502 });
    }

    sesMails(to) {
        return this.requests.filter((r) => isMail(r, to));
    }

    // Mails are sent after the answer (waitUntil).
    async mailTo(email) {
        return (await this.waitFor((r) => isMail(r, email), `a mail to ${email}`))[0];
    }

    async waitFor(predicate, what, timeoutMs = 20000) {
        const deadline = Date.now() + timeoutMs;
        for (let found = [];; await new Promise((resolve) => setTimeout(resolve, 20))) {
            if ((found = this.requests.filter(predicate)).length > 0) return found;
            if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
        }
    }
}

export async function startWorker({ bindings = defaultBindings(), outbound = new Outbound() } = {}) {
    const mf = new Miniflare({ name: "quillmere", modules: true, script: WORKER_JS, compatibilityDate: "2025-09-01",
        d1Databases: { DB: "quillmere-test-db" }, bindings, outboundService: (request) => outbound.handle(request),
        host: "127.0.0.1", port: 0 });
    let url, db;
    try {
        url = await mf.ready;
        db = await mf.getD1Database("DB");
        // Deployment applies the schema every time: twice must be as good as once.
        await applySql(db, SCHEMA_SQL);
        await applySql(db, SCHEMA_SQL);
    } catch (error) {
        // Nothing may keep the test process alive after a failed start.
        await mf.dispose();
        throw error;
    }
    const base = url.href.replace(/\/$/, "");
    const api = (pathAndQuery, init = {}) =>
        mf.dispatchFetch(base + pathAndQuery, { ...init,
            headers: { Authorization: `Bearer ${bindings.API_TOKEN}`, Accept: "application/json",
                ...(init.headers ?? {}) } });
    return { mf, base, db, outbound, bindings, api,
        fetch: (pathAndQuery, init) => mf.dispatchFetch(base + pathAndQuery, { redirect: "manual", ...init }),
        publish: (issue) => api("/api/issues", { method: "POST", body: JSON.stringify(issue) }),
        row: (email) => db.prepare("SELECT * FROM subscribers WHERE email = ?1").bind(email).first(),
        close: () => mf.dispose(),
        // A reader put straight into the database, dated `at` (milliseconds).
        add: (email, status = "active", source = "manual", at = 1000) =>
            db.prepare("INSERT INTO subscribers VALUES (?1, ?2, '', ?3, ?4, ?5, ?5)")
                .bind(email, crypto.randomUUID(), status, source, at).run() };
}

// A worker of its own for one test, with these bindings over the defaults.
export async function withWorker(overrides, body) {
    const worker = await startWorker({ bindings: defaultBindings(overrides) });
    try {
        return await body(worker);
    } finally {
        await worker.close();
    }
}

export const health = async (worker) => (await worker.api("/api/health")).json();

// The application's token, made here where a test needs thousands (checked against
// quillmere-cli by the pages test and the load test).
export function fastToken(purpose, email, secret) {
    const code = crypto.createHmac("sha256", secret).update(`${purpose}:${email}`).digest("hex");
    return `${Buffer.from(email, "utf8").toString("base64url")}.${code}`;
}

// `client` is the address Cloudflare reports as CF-Connecting-IP.
export function postForm(worker, pathAndQuery, fields, { multipart = false, client = "192.0.2.1" } = {}) {
    const form = new FormData();
    Object.entries(fields).forEach(([k, v]) => form.append(k, v));
    const urlencoded = multipart ? {} : { "Content-Type": "application/x-www-form-urlencoded" };
    return worker.fetch(pathAndQuery, { method: "POST", headers: { "CF-Connecting-IP": client, ...urlencoded },
        body: multipart ? form : new URLSearchParams(fields).toString() });
}

// Tokens come from the C++ code (quillmere-cli), so the worker and the application provably
// agree on them.
export function cli(...args) {
    const bin = process.env.QUILLMERE_CLI;
    if (!bin || !fs.existsSync(bin)) throw new Error("QUILLMERE_CLI must name the built quillmere-cli (CTest sets it)");
    return execFileSync(bin, args, { encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] }).trim();
}

export const cliToken = (purpose, email, secret) =>
    cli("token", "--purpose", purpose, "--email", email, "--secret", secret);

// The unsubscribe POST for `email` (the one-click one unless other fields are given), with a
// token from quillmere-cli unless `make` makes it.
const ONE_CLICK = { "List-Unsubscribe": "One-Click" };
export function unsubscribe(worker, email, { fields = ONE_CLICK, make = cliToken, ...rest } = {}) {
    const token = make("unsubscribe", email, worker.bindings.SIGNING_SECRET);
    return postForm(worker, `/unsubscribe?t=${token}`, fields, rest);
}

// A throwaway RSA key and self-signed certificate, made by the openssl command line.
export function makeCertificate(commonName = "sns.amazonaws.com") {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), "quillmere-sns-"));
    const [key, cert] = [path.join(dir, "key.pem"), path.join(dir, "cert.pem")];
    try {
        execFileSync("openssl", ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2", "-subj",
            `/CN=${commonName}`, "-keyout", key, "-out", cert], { stdio: "ignore" });
        return { keyPem: fs.readFileSync(key, "utf8"), certPem: fs.readFileSync(cert, "utf8") };
    } finally {
        fs.rmSync(dir, { recursive: true, force: true });
    }
}

// Every page of a pull from `since` (ISO text, or undefined for everything), following "next".
export async function pullAll(worker, since) {
    const pages = [];
    let query = since === undefined ? "" : `?since=${encodeURIComponent(since)}`;
    for (;;) {
        const response = await worker.api(`/api/subscribers${query}`);
        if (response.status !== 200) throw new Error(`pull answered ${response.status}: ${await response.text()}`);
        const page = await response.json();
        pages.push(page);
        if (page.next === undefined) return pages;
        query = `?next=${encodeURIComponent(page.next)}`;
    }
}
