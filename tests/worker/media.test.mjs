// Hosted images of issues: the token-protected upload and the public, cacheable download, in
// workerd with a real D1 database.

import assert from "node:assert/strict";
import { after, before, test } from "node:test";

import { defaultBindings, randomHex, startWorker } from "./harness.mjs";
import { PIXEL_PNG, mediaName } from "./media_fixture.mjs";

let worker;
before(async () => {
    worker = await startWorker({ bindings: defaultBindings() });
});
after(async () => {
    await worker?.close();
});

function put(name, body, type, headers = {}) {
    return worker.api(`/api/media/${name}`, { method: "PUT", body, headers: { "Content-Type": type, ...headers } });
}

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
        ["missing token", () => worker.fetch(`/api/media/${name}`, { method: "PUT", body: PIXEL_PNG, headers: { "Content-Type": "image/png" } }), 401],
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
