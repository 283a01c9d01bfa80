// The public pages in a real browser with JavaScript switched off: Debian's chromium driven by
// playwright-core against the worker served by Miniflare on loopback. A screenshot of every page
// is kept as a test artifact.

import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { after, before, test } from "node:test";

import { chromium } from "playwright-core";

import { cli, cliToken, defaultBindings, mediaName, PIXEL_PNG, ROOT, startWorker } from "./harness.mjs";

const CHROMIUM = process.env.QUILLMERE_CHROMIUM || "/usr/bin/chromium";
const ARTIFACTS = process.env.QUILLMERE_ARTIFACTS || path.join(ROOT, "build/test-artifacts/worker");

const profile = fs.mkdtempSync(path.join(os.tmpdir(), "quillmere-chromium-"));
let worker, context, page;

before(async () => {
    fs.mkdirSync(ARTIFACTS, { recursive: true });
    worker = await startWorker({ bindings: defaultBindings({ PUBLICATION_NAME: "The Quill Weekly" }) });
    // A fresh profile every run; JavaScript off, because the pages must work without it.
    context = await chromium.launchPersistentContext(profile, { executablePath: CHROMIUM, headless: true,
        javaScriptEnabled: false, viewport: { width: 800, height: 640 },
        args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync"] });
    page = await context.newPage();
});

after(async () => {
    await context?.close();
    await worker?.close();
    fs.rmSync(profile, { recursive: true, force: true });
});

const heading = () => page.getByRole("heading", { level: 1 }).textContent();
async function press(button) {
    await page.getByRole("button", { name: button }).click();
    await page.waitForLoadState();
}

async function shoot(name) {
    const file = path.join(ARTIFACTS, `${name}.png`);
    await page.screenshot({ path: file, fullPage: true });
    console.log(`screenshot: ${file}`);
}

test("signup, confirmation and unsubscribe work by keyboard and button alone", async () => {
    await page.goto(`${worker.base}/`);
    assert.equal(await page.title(), "Subscribe to The Quill Weekly · The Quill Weekly");
    await shoot("signup");

    // The honeypot is neither in the accessibility tree nor in the tab order.
    const tree = await page.locator("main").ariaSnapshot();
    assert.match(tree, /textbox "Email address"/);
    assert.doesNotMatch(tree, /Leave this field empty/);
    await page.getByLabel("Email address").focus();
    await page.keyboard.press("Tab");
    assert.equal(await page.evaluate(() => document.activeElement.textContent), "Subscribe");

    // An address the browser accepts but the worker does not: the form comes back with a message.
    await page.getByLabel("Email address").fill("reader@localhost");
    await page.keyboard.press("Enter");
    await page.waitForLoadState();
    assert.match(await page.getByRole("alert").textContent(), /does not look like an email address/);
    assert.equal(await page.getByLabel("Email address").inputValue(), "reader@localhost");
    await shoot("signup-invalid");

    await page.getByLabel("Email address").fill("browser.reader@example.org");
    await press("Subscribe");
    assert.equal(await heading(), "Check your inbox");
    await shoot("signup-done");

    const mail = await worker.outbound.mailTo("browser.reader@example.org");
    const link = /(http:\/\/\S+\/confirm\?t=\S+)/.exec(JSON.parse(mail.body).Content.Simple.Body.Text.Data)[1];
    await page.goto(link);
    assert.equal(await heading(), "Confirm your subscription");
    await shoot("confirm");
    await press("Confirm my subscription");
    assert.equal(await heading(), "You are subscribed");
    await shoot("confirm-done");

    const token = cliToken("unsubscribe", "browser.reader@example.org", worker.bindings.SIGNING_SECRET);
    await page.goto(`${worker.base}/unsubscribe?t=${token}`);
    assert.equal(await heading(), "Unsubscribe");
    await shoot("unsubscribe");
    await press("Unsubscribe");
    assert.equal(await heading(), "You are unsubscribed");
    await shoot("unsubscribe-done");

    await page.goto(`${worker.base}/unsubscribe?t=${token.slice(0, -2)}`);
    assert.equal(await heading(), "This link does not work");
    await shoot("unsubscribe-invalid");
});

test("the archive lists an issue that opens with its image from the worker", async () => {
    const name = mediaName(PIXEL_PNG, "png");
    const stored = await worker.api(`/api/media/${name}`, { method: "PUT", body: PIXEL_PNG,
        headers: { "Content-Type": "image/png" } });
    assert.equal(stored.status, 200);
    // The archive copy as the application renders it, for a library whose worker is this one.
    const library = JSON.parse(fs.readFileSync(path.join(ROOT, "fuzz/corpus/library/full.json"), "utf8"));
    library.profile.workerBaseURL = worker.base;
    library.newsletters = [{ id: "5A3D0000-0000-4000-8000-000000000101", subject: "Pictured", previewText: "",
        markdown: `Hello.\n\n![A pixel](media/${name})\n`, template: "editorial", status: "draft",
        createdAt: "2025-03-01T08:00:00.000Z", deliveredIDs: [],
        stats: { bounced: 0, complained: 0, failed: 0, recipients: 0, sent: 0, unsubscribed: 0 } }];
    const file = path.join(profile, "library.json");
    fs.writeFileSync(file, JSON.stringify(library));
    const html = cli("email", "--library", file, "--issue", "first", "--part", "html");
    await worker.publish({ slug: "pictured-5a3d01", subject: "Pictured", published_at: "2025-03-02T09:30:00Z", html });
    await page.goto(`${worker.base}/archive`);
    await shoot("archive");
    await page.getByRole("link", { name: "Pictured" }).click();
    await page.waitForLoadState();
    assert.equal(new URL(page.url()).pathname, "/archive/pictured-5a3d01");
    const image = page.getByRole("img", { name: "A pixel" });
    assert.equal(await image.getAttribute("src"), `${worker.base}/media/${name}`);
    assert.equal(await image.evaluate((img) => img.complete && img.naturalWidth), 1);
    await shoot("archive-image");
});
