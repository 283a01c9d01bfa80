#!/usr/bin/env node
// Serves resources/worker.js in Miniflare on loopback for the C++ tests, with a fresh D1 database
// made from resources/schema.sql. The bindings arrive as one JSON object in the first argument.
// Prints {"url": "..."} on one line once ready, and stops when its standard input closes.
// The worker may not reach anything outside: every outbound fetch is answered 502.

import { Outbound, startWorker } from "../worker/harness.mjs";
import { stopWhenToldTo } from "./loopback_server.mjs";

const bindings = JSON.parse(process.argv[2] ?? "{}");
const outbound = new Outbound();
outbound.on(() => true, () => new Response("no network in tests", { status: 502 }));

const worker = await startWorker({ bindings, outbound });
process.stdout.write(`${JSON.stringify({ url: worker.base })}\n`);
stopWhenToldTo(() => worker.close());
