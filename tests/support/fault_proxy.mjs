#!/usr/bin/env node
// An HTTP proxy in front of a real peer (the SES emulator) that adds the faults a network and a
// busy service produce, so tests and benchmarks see how a client behaves when they happen.
//
//   node fault_proxy.mjs UPSTREAM_URL
//
// Prints {"url": "http://127.0.0.1:PORT"} once it listens; stops when its standard input closes.
// Everything is forwarded as it is, except what the current plan says. The plan is set with
// PUT /__faults (a JSON body, replacing the previous plan) and applies to requests whose path
// starts with `path` (default: "/v2/email/outbound-emails"):
//   {"latencyMs": 50,                     added before each matching request is forwarded
//    "faults": [{"kind": K, "every": 3, "offset": 0, "limit": N, ...}]}
// A fault hits matching request n (counting from 0) when n >= offset and (n - offset) % every
// is 0, at most `limit` times. With "counting": "accepted", n is instead the number of messages
// the upstream has taken so far (forwarded and not refused): retries of requests that never
// reached it do not move it, so {"offset": 10, "counting": "accepted"} lets exactly ten messages
// through whatever is retried on the way. Kinds:
//   status          answer `status` (429, 503...) without forwarding; `type`, `message` and
//                   `retryAfter` (seconds) shape the answer as SES shapes its errors
//   drop            read the request, then close the connection without forwarding it
//   acceptThenDrop  forward it (the peer acts on it), then close without answering
//   hang            read the request and never answer
// GET /__stats answers {"matching": n, "forwarded": n, "accepted": n, "faulted": {kind: n}};
// both control paths answer at once whatever the plan.
import http from "node:http";
import { readBody, serve } from "./loopback_server.mjs";

const upstream = new URL(process.argv[2] ?? "http://127.0.0.1:9");
const agent = new http.Agent({ keepAlive: true, maxSockets: 64 });

let plan = { path: "/v2/email/outbound-emails", latencyMs: 0, faults: [] };
const freshStats = () => ({ matching: 0, forwarded: 0, accepted: 0, faulted: {} });
let stats = freshStats();
const hung = new Set();

function faultFor(index) {
    for (const fault of plan.faults) {
        const n = fault.counting === "accepted" ? stats.accepted : index;
        const [offset, every] = [fault.offset ?? 0, Math.max(1, fault.every ?? 1)];
        fault.hits ??= 0;
        if (n >= offset && (n - offset) % every === 0 && (fault.limit === undefined || fault.hits < fault.limit)) {
            fault.hits += 1;
            return fault;
        }
    }
    return null;
}

function forward(request, body) {
    return new Promise((resolve, reject) => {
        const out = http.request({ agent, host: upstream.hostname, port: upstream.port, method: request.method,
            path: request.url, headers: { ...request.headers, host: upstream.host } },
            (answer) => readBody(answer).then((data) => resolve({ answer, data }), reject));
        out.on("error", reject);
        out.end(body);
    });
}

function answerWithStatus(response, fault) {
    const type = fault.type ?? (fault.status === 429 ? "TooManyRequestsException" : "ServiceUnavailable");
    const headers = { "content-type": "application/json", "x-amzn-errortype": `${type}:` };
    if (fault.retryAfter !== undefined) headers["retry-after"] = String(fault.retryAfter);
    response.writeHead(fault.status ?? 503, headers);
    response.end(JSON.stringify({ message: fault.message ?? "Injected by the fault proxy" }));
}

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

serve(async (request, response, body) => {
    let taken = false;
    try {
        if (request.url === "/__faults" && request.method === "PUT") {
            plan = { path: "/v2/email/outbound-emails", latencyMs: 0, faults: [],
                ...JSON.parse(body.toString() || "{}") };
            stats = freshStats();
            response.writeHead(204).end();
            return;
        }
        if (request.url === "/__stats") {
            response.writeHead(200, { "content-type": "application/json" }).end(JSON.stringify(stats));
            return;
        }
        const matching = request.url.startsWith(plan.path);
        let fault = null;
        if (matching) {
            fault = faultFor(stats.matching);
            stats.matching += 1;
            if (plan.latencyMs > 0) await delay(plan.latencyMs);
        }
        if (fault) stats.faulted[fault.kind] = (stats.faulted[fault.kind] ?? 0) + 1;
        taken = matching && (!fault || fault.kind === "acceptThenDrop");
        stats.accepted += taken ? 1 : 0;
        if (fault?.kind === "status") return answerWithStatus(response, fault);
        if (fault?.kind === "drop") return request.socket.destroy();
        if (fault?.kind === "hang") {
            hung.add(request.socket);
            request.socket.on("close", () => hung.delete(request.socket));
            return;
        }
        const { answer, data } = await forward(request, body);
        stats.forwarded += matching ? 1 : 0;
        if (taken && (answer.statusCode < 200 || answer.statusCode > 299)) {
            taken = false;
            stats.accepted -= 1;
        }
        if (fault?.kind === "acceptThenDrop") return request.socket.destroy();
        const headers = { ...answer.headers, "content-length": String(data.length) };
        delete headers["transfer-encoding"];
        response.writeHead(answer.statusCode, headers);
        response.end(data);
    } catch (error) {
        stats.accepted -= taken ? 1 : 0;
        if (!response.headersSent) response.writeHead(502, { "content-type": "text/plain" });
        response.end(`fault proxy: ${error.message}`);
    }
}, () => {
    for (const socket of hung) socket.destroy();
});
