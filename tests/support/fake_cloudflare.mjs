#!/usr/bin/env node
// A local stand-in for the part of the Cloudflare v4 API that a deployment uses, on loopback.
// It answers like Cloudflare (the {success, errors, messages, result} envelope, its error codes
// for a bad token and unknown routes), records every request, runs the SQL sent to a D1
// database's query endpoint on a real D1 database (Miniflare, persisted in a folder), and on a
// script upload serves the uploaded module in Miniflare with the uploaded bindings, on its own
// loopback port. So a test can prove that what was deployed serves the API with the secrets
// that were passed.
//
//   node fake_cloudflare.mjs '{"token": "...", "accountId": "...", "accountName": "...",
//                              "subdomain": "...", "limitedTokens": {"<token>": {"status":
//                              "disabled", "accounts": []}}}'
// prints {"api": "http://127.0.0.1:PORT/client/v4", "control": "http://127.0.0.1:PORT/__fake"}
// and stops when its standard input closes. Control endpoints: GET /__fake/requests (every API
// request: method, path, query, headers, body in base64), GET /__fake/scripts/<name> (where the
// script is served and with which bindings). A script that does not compile is refused as
// Cloudflare refuses it (400, code 10021) and the one deployed before keeps serving; secrets
// can be replaced one at a time (PUT .../workers/scripts/<name>/secrets).

import { execFileSync } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

import { Miniflare } from "miniflare";

import { applySql } from "./d1_sql.mjs";
import { serve } from "./loopback_server.mjs";

const config = { token: "test-token", accountId: "0123456789abcdef0123456789abcdef", accountName: "Writer's account",
    subdomain: "quill-writer", ...JSON.parse(process.argv[2] ?? "{}") };

const persistDir = fs.mkdtempSync(path.join(os.tmpdir(), "quillmere-fake-cloudflare-"));
const requests = [];
const databases = new Map(); // uuid -> { uuid, name, created_at }
const databaseRuntimes = new Map(); // uuid -> Miniflare that only holds the database
const scripts = new Map(); // name -> { mf, url, bindings, metadata, routeEnabled }

const envelope = (status, result) => ({ status, body: { success: true, errors: [], messages: [], result } });
const failure = (status, code, message) => ({ status,
    body: { success: false, errors: [{ code, message }], messages: [], result: null } });
// How Cloudflare refuses an upload or a request it cannot read.
const refused = (message) => failure(400, 10021, message);

// A database is served by the script bound to it when there is one, so the two never open the
// same files at once; otherwise by a Miniflare of its own.
async function d1For(uuid) {
    for (const script of scripts.values()) {
        if (script.databaseId === uuid) return script.mf.getD1Database(script.databaseBinding);
    }
    let mf = databaseRuntimes.get(uuid);
    if (!mf) {
        mf = new Miniflare({ modules: true, compatibilityDate: "2025-09-01", d1Databases: { DB: uuid },
            script: "export default { fetch() { return new Response(null, { status: 404 }); } }", d1Persist: persistDir,
            host: "127.0.0.1", port: 0 });
        databaseRuntimes.set(uuid, mf);
    }
    return mf.getD1Database("DB");
}

async function uploadScript(name, request, bodyBytes) {
    const type = request.headers["content-type"] ?? "";
    if (!type.startsWith("multipart/form-data")) return refused("Expected a multipart/form-data upload");
    let form;
    try {
        form = await new Response(bodyBytes, { headers: { "Content-Type": type } }).formData();
    } catch (error) {
        return refused(`Could not parse the multipart body: ${error.message}`);
    }
    let metadata;
    try {
        const part = form.get("metadata");
        metadata = JSON.parse(typeof part === "string" ? part : await part.text());
    } catch {
        return refused("The metadata part is missing or not JSON");
    }
    const mainPart = form.get(metadata.main_module);
    if (!metadata.main_module || !mainPart || typeof mainPart === "string") {
        return refused(`No module named ${metadata.main_module} was uploaded`);
    }
    if (mainPart.type !== "application/javascript+module") {
        return refused(`The main module has content type ${mainPart.type}`);
    }
    const source = await mainPart.text();
    const previous = scripts.get(name);
    const [plain, secrets, d1] = [{}, {}, {}];
    const byType = { d1, plain_text: plain, secret_text: secrets };
    for (const { type, name, id, text } of metadata.bindings ?? []) {
        if (!byType[type]) return refused(`unsupported binding type ${type}`);
        if (type === "d1" && !databases.has(id)) {
            return refused(`binding ${name} refers to an unknown D1 database ${id}`);
        }
        byType[type][name] = type === "d1" ? id : text;
    }
    if ((metadata.keep_bindings ?? []).includes("secret_text") && previous) {
        Object.assign(secrets, { ...previous.secrets, ...secrets });
    }
    // Cloudflare refuses a script that does not compile, and the one deployed before stays.
    const syntax = syntaxError(source);
    if (syntax) return refused(`Uncaught ${syntax} at ${metadata.main_module}`);
    const [databaseBinding, databaseId] = Object.entries(d1)[0] ?? [];
    // Hand the database over from whoever serves it now to the new script.
    if (previous) {
        scripts.delete(name);
        await previous.mf.dispose();
    }
    if (databaseId && databaseRuntimes.has(databaseId)) {
        await databaseRuntimes.get(databaseId).dispose();
        databaseRuntimes.delete(databaseId);
    }
    const started = await serveScript({ name, source, metadata, plain, secrets, d1, databaseBinding, databaseId,
        routeEnabled: previous?.routeEnabled ?? false });
    if (!started) {
        if (previous) await serveScript(previous);
        return refused(`Uncaught error while starting ${metadata.main_module}`);
    }
    return envelope(200, { id: name, etag: crypto.createHash("sha256").update(source).digest("hex"),
        handlers: ["fetch"], compatibility_date: metadata.compatibility_date, modified_on: new Date().toISOString() });
}

// Serves a script in Miniflare and records it; false when the runtime would not start it.
async function serveScript(script) {
    const mf = new Miniflare({ modulesRoot: persistDir, compatibilityDate: script.metadata.compatibility_date,
        modules: [{ type: "ESModule", path: path.join(persistDir, script.metadata.main_module),
            contents: script.source }], d1Databases: script.d1, d1Persist: persistDir,
        bindings: { ...script.plain, ...script.secrets },
        // Only loopback in tests: the deployed worker reaches nothing outside.
        outboundService: () => new Response("no network in tests", { status: 502 }), host: "127.0.0.1", port: 0 });
    try {
        const url = (await mf.ready).href.replace(/\/$/, "");
        scripts.set(script.name, { ...script, mf, url });
        return true;
    } catch {
        await mf.dispose().catch(() => {});
        return false;
    }
}

// The syntax error of an ES module as node reports it ("SyntaxError: ..."), or null.
function syntaxError(source) {
    const file = path.join(persistDir, `check-${crypto.randomUUID()}.mjs`);
    fs.writeFileSync(file, source);
    try {
        execFileSync(process.execPath, ["--check", file], { stdio: ["ignore", "ignore", "pipe"] });
        return null;
    } catch (error) {
        return String(error.stderr).split("\n").find((l) => /^\w*Error:/.test(l)) ?? "SyntaxError";
    } finally {
        fs.rmSync(file, { force: true });
    }
}

async function api(method, parts, query, request, bodyBytes) {
    const authorised = request.headers.authorization === `Bearer ${config.token}`;
    const route = parts.join("/");
    const unrouted = failure(404, 7003, `Could not route to /${route}, perhaps your object identifier is invalid?`);
    // Tokens Cloudflare knows but that cannot deploy: not active, or seeing fewer accounts.
    const bearer = (request.headers.authorization ?? "").replace(/^Bearer /, "");
    const limited = Object.hasOwn(config.limitedTokens ?? {}, bearer) ? config.limitedTokens[bearer] : null;
    if (limited && method === "GET" && route === "user/tokens/verify") {
        return envelope(200, { id: "fake-limited-token", status: limited.status ?? "active" });
    }
    if (limited && method === "GET" && route === "accounts") return envelope(200, limited.accounts ?? []);
    if (method === "GET" && route === "user/tokens/verify") {
        return authorised
            ? envelope(200, { id: "fake-token-id", status: "active" })
            : failure(401, 1000, "Invalid API Token");
    }
    if (!authorised) return failure(403, 10000, "Authentication error");
    if (method === "GET" && route === "accounts") {
        return envelope(200, [{ id: config.accountId, name: config.accountName, type: "standard" }]);
    }
    if (parts[0] !== "accounts" || parts[1] !== config.accountId) return unrouted;
    const rest = parts.slice(2);
    const json = () => JSON.parse(Buffer.from(bodyBytes).toString("utf8") || "null");
    if (rest[0] === "d1" && rest[1] === "database") {
        if (rest.length === 2 && method === "GET") {
            // Cloudflare's filter matches parts of names too.
            return envelope(200, [...databases.values()].filter((d) => d.name.includes(query.get("name") ?? "")));
        }
        if (rest.length === 2 && method === "POST") {
            const { name } = json() ?? {};
            if (typeof name !== "string" || name === "") {
                return failure(400, 7400, "The request is malformed: name is required");
            }
            if ([...databases.values()].some((d) => d.name === name)) {
                return failure(400, 7502, "A database with that name already exists");
            }
            const database = { uuid: crypto.randomUUID(), name, version: "production",
                created_at: new Date().toISOString() };
            databases.set(database.uuid, database);
            return envelope(200, database);
        }
        if (rest.length === 4 && rest[3] === "query" && method === "POST") {
            if (!databases.has(rest[2])) return failure(404, 7404, `The database ${rest[2]} could not be found`);
            const { sql } = json() ?? {};
            try {
                const results = await applySql(await d1For(rest[2]), sql ?? "");
                return envelope(200,
                    results.map((r) => ({ results: r.results ?? [], success: true, meta: r.meta ?? {} })));
            } catch (error) {
                return failure(400, 7500, String(error.message ?? error));
            }
        }
    }
    if (rest[0] === "workers" && rest[1] === "scripts" && rest.length === 3 && method === "PUT") {
        return uploadScript(rest[2], request, bodyBytes);
    }
    const route4 = rest[0] === "workers" && rest[1] === "scripts" && rest.length === 4 ? `${method} ${rest[3]}` : "";
    const script = scripts.get(rest[2]);
    if (["GET settings", "PUT secrets", "POST subdomain"].includes(route4) && !script) {
        return failure(404, 10007, `This Worker (${rest[2]}) does not exist on your account.`);
    }
    if (route4 === "GET settings") {
        return envelope(200, { compatibility_date: script.metadata.compatibility_date,
            bindings: [...Object.entries(script.d1).map(([name, id]) => ({ name, id, type: "d1" })),
                ...Object.entries(script.plain).map(([name, text]) => ({ name, text, type: "plain_text" })),
                ...Object.keys(script.secrets).map((name) => ({ name, type: "secret_text" }))] });
    }
    if (route4 === "PUT secrets") {
        const { name, text, type } = json() ?? {};
        if (typeof name !== "string" || typeof text !== "string" || type !== "secret_text") {
            return refused("A secret needs a name, a text and the type secret_text");
        }
        // The script restarts with the new secret, on the same database.
        scripts.delete(rest[2]);
        await script.mf.dispose();
        await serveScript({ ...script, secrets: { ...script.secrets, [name]: text } });
        return envelope(200, { name, type });
    }
    if (route4 === "POST subdomain") {
        script.routeEnabled = Boolean((json() ?? {}).enabled);
        return envelope(200, { enabled: script.routeEnabled, previews_enabled: false });
    }
    if (method === "GET" && rest.join("/") === "workers/subdomain") {
        return envelope(200, { subdomain: config.subdomain });
    }
    return unrouted;
}

function control([what, name]) {
    const s = scripts.get(name);
    const body = what === "requests"
        ? requests
        : what === "databases"
        ? [...databases.values()]
        : what === "scripts" && s
        ? { url: s.url, routeEnabled: s.routeEnabled, databaseId: s.databaseId, plain: s.plain, secrets: s.secrets,
            metadata: s.metadata }
        : null;
    return body ? { status: 200, body } : { status: 404, body: { error: "unknown control path" } };
}

// One request at a time, as the deployment makes them; it keeps database hand-overs simple.
let queue = Promise.resolve();

async function answer(request, bodyBytes) {
    const url = new URL(request.url, "http://127.0.0.1");
    try {
        if (url.pathname.startsWith("/__fake/")) {
            return control(url.pathname.slice("/__fake/".length).split("/").map(decodeURIComponent));
        }
        if (!url.pathname.startsWith("/client/v4/")) return failure(404, 7000, "No route for that URI");
        requests.push({ method: request.method, path: url.pathname, query: url.search, headers: request.headers,
            body: bodyBytes.toString("base64") });
        const parts = url.pathname.slice("/client/v4/".length).split("/").map(decodeURIComponent);
        return await api(request.method, parts, url.searchParams, request, bodyBytes);
    } catch (error) {
        return failure(500, 10013, `fake Cloudflare failed: ${error.stack ?? error}`);
    }
}

serve((request, response, bodyBytes) => {
    queue = queue.then(async () => {
        const { status, body } = await answer(request, bodyBytes);
        const text = JSON.stringify(body);
        response.writeHead(status, { "Content-Type": "application/json", "Content-Length": Buffer.byteLength(text) });
        response.end(text);
    });
}, async () => {
    for (const mf of [...[...scripts.values()].map((s) => s.mf), ...databaseRuntimes.values()]) await mf.dispose();
    fs.rmSync(persistDir, { recursive: true, force: true });
}, (url) => ({ api: `${url}/client/v4`, control: `${url}/__fake` }));
