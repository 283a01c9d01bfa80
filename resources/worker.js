// Quillmere's signup worker: one ES module, uploaded as it stands (no build step, no imports).
//
// Public pages: the signup form ("/"), double opt-in confirmation ("/confirm?t="), unsubscribe
// ("/unsubscribe?t=", also the RFC 8058 one-click POST), the archive ("/archive",
// "/archive/<slug>") and Amazon SNS bounce and complaint notifications ("/sns"). The desktop
// application syncs through the bearer-token API under "/api/".
//
// Bindings: DB (D1); PUBLICATION_NAME, FROM_EMAIL, AWS_REGION, DOUBLE_OPT_IN ("true"/"false"),
// AWS_ACCOUNT_ID (the writer's AWS account; SNS is accepted from its topics only) and the signup
// caps SIGNUPS_PER_CLIENT_PER_HOUR, SIGNUPS_PER_MAILBOX_PER_10_MINUTES, SIGNUPS_PER_HOUR; secrets
// API_TOKEN, SIGNING_SECRET and, when the writer stored AWS keys, AWS_ACCESS_KEY_ID and
// AWS_SECRET_ACCESS_KEY (used to send confirmation mail through SES).
//
// Everything that arrives from the internet is untrusted: bodies are size-limited, every value
// shown in a page is escaped, every statement is prepared, tokens and the bearer are compared
// in constant time, and links that act (confirm, unsubscribe) act only on POST, because mail
// scanners fetch every GET link they see.
//
// Times of subscriber changes come from the database's clock inside the statement that makes
// them, and a pull reads that clock in the same transaction as its rows: a change the pull did
// not see is stamped at or after the time the pull reports, whatever the workers' clocks say.

const STATUSES = ["pending", "active", "unsubscribed", "bounced", "complained"];
// The reader's own choices and the mail system's verdicts; only the reader brings them back.
const FINAL_STATUSES = ["unsubscribed", "bounced", "complained"];

const LIMITS = {
    formBytes: 8 * 1024,
    snsBytes: 512 * 1024,
    apiBytes: 32 * 1024 * 1024,
    issueHtmlBytes: 1_800_000, // a D1 row holds at most 2 MB
    certificateBytes: 64 * 1024,
    token: 2048,
    name: 1000,
    source: 200,
    subject: 1000,
    failureMessage: 500,
};

const HOUR_MS = 3600 * 1000;
const MAILBOX_WINDOW_MS = 10 * 60 * 1000;
const SIGNUP_CAPS = [
    // binding, default, what it counts
    { binding: "SIGNUPS_PER_CLIENT_PER_HOUR", fallback: 5 },
    { binding: "SIGNUPS_PER_MAILBOX_PER_10_MINUTES", fallback: 1 },
    { binding: "SIGNUPS_PER_HOUR", fallback: 200 },
];
const TOO_MANY_SIGNUPS = "Too many signups right now. Please try again later.";
const CONFIRMATION_VALID_MS = 7 * 24 * HOUR_MS;
// SNS retries for at most an hour (its longest HTTP delivery policy); five minutes for clocks.
const SNS_CLOCK_SKEW_MS = 5 * 60 * 1000;
const SNS_MAX_AGE_MS = HOUR_MS + SNS_CLOCK_SKEW_MS;
// Handled message ids outlive every message that could still be accepted.
const SNS_IDS_KEPT_MS = 24 * HOUR_MS;
// Rows per pull answer, and records per statement when upserting a push.
const PULL_PAGE_ROWS = 5000;
const PUSH_CHUNK_RECORDS = 400;
const ARCHIVE_LIST_LIMIT = 1000;

// Milliseconds since 1970 by the database's clock, fixed for the whole statement.
const DB_NOW = "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)";

const SLUG_PATTERN = /^[a-z0-9][a-z0-9-]{0,199}$/;
const UUID_PATTERN = /^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$/;
const REGION_PATTERN = /^[a-z]{2}(?:-[a-z]+)+-\d{1,2}$/;
const ACCOUNT_PATTERN = /^\d{12}$/;
const SNS_HOST_PATTERN = /^sns\.([a-z]{2}(?:-[a-z]+)+-\d{1,2})\.amazonaws\.com$/;
const TOPIC_ARN_PATTERN = /^arn:aws:sns:([a-z]{2}(?:-[a-z]+)+-\d{1,2}):(\d{12}):[A-Za-z0-9_-]{1,256}(?:\.fifo)?$/;

const encoder = new TextEncoder();

export default {
    async fetch(request, env, ctx) {
        const url = new URL(request.url);
        const api = url.pathname === "/api" || url.pathname.startsWith("/api/");
        try {
            return await route({ request, env, ctx, url }, api ? API_ROUTES : PAGE_ROUTES, api);
        } catch (error) {
            if (error instanceof HttpError) {
                return api
                    ? jsonResponse(error.status, { error: error.message })
                    : errorPage(env, error.status, error.message);
            }
            console.error("unhandled error", error && error.stack ? error.stack : error);
            return api
                ? jsonResponse(500, { error: "Internal error in the worker." })
                : errorPage(env, 500, "Something went wrong on our side. Please try again later.");
        }
    },
};

class HttpError extends Error {
    constructor(status, message) {
        super(message);
        this.status = status;
    }
}

// ---------------------------------------------------------------------------------------------
// Routes: an exact path, or a prefix whose rest goes to the handler. Each route names its
// handlers by method; HEAD is answered by GET without the body. A handler gets the request
// context { request, env, ctx, url } and, for a prefix, the rest of the path.

const PAGE_ROUTES = [
    { path: "/", GET: (c) => signupPage(c.env, {}), POST: handleSignup },
    { path: "/confirm", GET: (c) => tokenLandingPage(c, "confirm"), POST: (c) => handleTokenPost(c, "confirm") },
    { path: "/unsubscribe", GET: (c) => tokenLandingPage(c, "unsubscribe"),
        POST: (c) => handleTokenPost(c, "unsubscribe") },
    { path: "/archive", GET: (c) => archiveListPage(c.env) },
    { prefix: "/archive/", GET: (c, rest) => (rest === "" ? archiveListPage(c.env) : archiveIssuePage(c.env, rest)) },
    { path: "/sns", POST: handleSns },
    { path: "/robots.txt", GET: robotsTxt },
    { prefix: "/media/", GET: (c, rest) => serveMedia(c.env, rest) },
];

const API_ROUTES = [
    { path: "/api/health", GET: health },
    { path: "/api/subscribers", GET: pullSubscribers, POST: pushSubscribers },
    { path: "/api/issues", POST: publishIssue },
    { prefix: "/api/media/", PUT: (c, rest) => storeMedia(c.request, c.env, rest) },
];

async function route(c, routes, api) {
    if (api) {
        const refusal = await checkBearer(c.request, c.env);
        if (refusal) {
            return refusal;
        }
    }
    const path = c.url.pathname;
    for (const entry of routes) {
        let rest = null;
        if (entry.path === path) {
            rest = "";
        } else if (entry.prefix && path.startsWith(entry.prefix)) {
            rest = path.slice(entry.prefix.length);
        }
        if (rest === null) {
            continue;
        }
        const method = c.request.method;
        const head = method === "HEAD" && !api;
        const handler = entry[head ? "GET" : method];
        if (!handler) {
            const allow = ["GET", "POST", "PUT", "DELETE"].filter((m) => entry[m])
                .flatMap((m) => (m === "GET" && !api ? ["GET", "HEAD"] : [m])).join(", ");
            return api
                ? jsonResponse(405, { error: `Method not allowed; use ${allow}.` }, { Allow: allow })
                : methodNotAllowed(c.env, allow);
        }
        const response = await handler(c, rest);
        return head ? new Response(null, { status: response.status, headers: response.headers }) : response;
    }
    return api
        ? jsonResponse(404, { error: `No API endpoint ${path}.` })
        : errorPage(c.env, 404, "There is nothing at this address.");
}

function robotsTxt() {
    return new Response("User-agent: *\nDisallow: /confirm\nDisallow: /unsubscribe\nDisallow: /api/\nDisallow: /sns\n",
        { headers: { "Content-Type": "text/plain; charset=utf-8" } });
}

// ---------------------------------------------------------------------------------------------
// Public pages

const PAGE_HEADERS = {
    "Content-Type": "text/html; charset=utf-8",
    "Content-Security-Policy":
        "default-src 'none'; style-src 'unsafe-inline'; img-src 'self' data:; form-action 'self'; "
        + "frame-ancestors 'none'; base-uri 'none'",
    "X-Content-Type-Options": "nosniff",
    "X-Frame-Options": "DENY",
    // Token links must never leak to other sites through the Referer header.
    "Referrer-Policy": "no-referrer",
    "Cache-Control": "no-store",
};

const STYLE = `
:root { color-scheme: light dark; --fg: #1d1d1f; --bg: #fbfaf7; --muted: #5b5b60; --accent: #1f5fbf; --error: #b3261e; }
@media (prefers-color-scheme: dark) { :root { --fg: #ececef; --bg: #17171a; --muted: #a8a8b0; --accent: #8ab4ff; --error: #ffb4ab; } }
* { box-sizing: border-box; }
body { margin: 0; background: var(--bg); color: var(--fg); font: 1.0625rem/1.55 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 34rem; margin: 0 auto; padding: 3rem 1.25rem; }
.publication { margin: 0 0 .25rem; color: var(--muted); font-size: .95rem; letter-spacing: .02em; }
h1 { margin: 0 0 1rem; font-size: 1.75rem; line-height: 1.25; }
a { color: var(--accent); }
label { display: block; font-weight: 600; margin-bottom: .35rem; }
input[type=email] { width: 100%; padding: .65rem .75rem; font: inherit; color: inherit; background: transparent; border: 1px solid var(--muted); border-radius: .4rem; }
input[aria-invalid=true] { border-color: var(--error); border-width: 2px; }
button { margin-top: 1rem; padding: .65rem 1.2rem; font: inherit; font-weight: 600; color: #fff; background: var(--accent); border: 0; border-radius: .4rem; cursor: pointer; }
@media (prefers-color-scheme: dark) { button { color: #0b1a33; } }
:focus-visible { outline: 3px solid var(--accent); outline-offset: 2px; }
.error { color: var(--error); font-weight: 600; margin: .5rem 0 0; }
.note { color: var(--muted); font-size: .95rem; }
.hp { position: absolute; left: -10000px; width: 1px; height: 1px; overflow: hidden; }
ol.issues { list-style: none; padding: 0; }
ol.issues li { padding: .6rem 0; border-bottom: 1px solid color-mix(in srgb, var(--muted) 35%, transparent); }
ol.issues time { display: block; color: var(--muted); font-size: .9rem; }
`;

// Control characters never reach a page title or a mail header.
function publicationName(env) {
    const name = typeof env.PUBLICATION_NAME === "string"
        ? env.PUBLICATION_NAME.replace(/[\u0000-\u001f\u007f]+/g, " ").trim()
        : "";
    return name || "Newsletter";
}

function escapeHtml(value) {
    return String(value).replace(/[&<>"']/g,
        (c) => c === "&" ? "&amp;" : c === "<" ? "&lt;" : c === ">" ? "&gt;" : c === '"' ? "&quot;" : "&#39;");
}

function htmlPage(env, { title, body, status = 200, noindex = false, extraHeaders = {} }) {
    const name = publicationName(env);
    const html = `<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
${noindex ? '<meta name="robots" content="noindex, nofollow">\n' : ""}<title>${escapeHtml(title)} · ${
    escapeHtml(name)
}</title>
<style>${STYLE}</style>
</head>
<body>
<main>
<p class="publication">${escapeHtml(name)}</p>
<h1>${escapeHtml(title)}</h1>
${body}
</main>
</body>
</html>
`;
    return new Response(html, { status, headers: { ...PAGE_HEADERS, ...extraHeaders } });
}

function errorPage(env, status, message) {
    const titles = { 400: "This link does not work", 404: "Not found", 405: "Not allowed", 413: "Too large",
        415: "Not supported", 429: "Too many signups" };
    return htmlPage(env, {
        status,
        noindex: true,
        title: titles[status] || "Something went wrong",
        body: `<p>${escapeHtml(message)}</p>\n<p><a href="/">Back to the signup page</a></p>`,
    });
}

function methodNotAllowed(env, allow) {
    const response = errorPage(env, 405, "This address does not accept that kind of request.");
    response.headers.set("Allow", allow);
    return response;
}

// The signup form; `intro` replaces the usual first line, `title` the usual heading.
function signupPage(env, { value = "", error = "", status = 200, title = "", intro = "", extraHeaders = {} }) {
    const name = publicationName(env);
    const invalid = error ? ' aria-invalid="true" aria-describedby="email-error"' : "";
    const message = error ? `\n<p id="email-error" class="error" role="alert">${escapeHtml(error)}</p>` : "";
    const body = `<p>${intro ? escapeHtml(intro) : `Get every new issue of ${escapeHtml(name)} in your inbox.`}</p>
<form method="post" action="/">
<label for="email">Email address</label>
<input id="email" name="email" type="email" inputmode="email" autocomplete="email" required maxlength="254" value="${
    escapeHtml(value)
}"${invalid}>${message}
<div class="hp" aria-hidden="true">
<label for="website">Leave this field empty</label>
<input id="website" name="website" type="text" tabindex="-1" autocomplete="off">
</div>
<button type="submit">Subscribe</button>
</form>
<p class="note">You can unsubscribe at any time with the link at the end of every email.</p>
<p class="note"><a href="/archive">Read past issues</a></p>`;
    return htmlPage(env, { status, extraHeaders, body,
        title: title || (error ? "Please check your address" : `Subscribe to ${name}`) });
}

function signupDonePage(env, outcome) {
    const name = publicationName(env);
    if (outcome === "subscribed") {
        return htmlPage(env, {
            title: "Thank you",
            body: `<p>Your subscription to ${escapeHtml(name)} is recorded. New issues will arrive in your inbox.</p>
<p class="note"><a href="/archive">Read past issues</a></p>`,
        });
    }
    if (outcome === "mail-not-configured") {
        return htmlPage(env, {
            title: "Thank you",
            body: `<p>Your signup is saved, but confirmation mail is not configured for ${
                escapeHtml(name)
            } yet, so no confirmation link was sent.</p>
<p class="note">The writer can confirm your subscription once it is set up.</p>`,
        });
    }
    // The same words whether the address was new, pending or already subscribed: the page must
    // not tell anybody who is on the list.
    return htmlPage(env, {
        title: "Check your inbox",
        body: `<p>If this address can be added to ${
            escapeHtml(name)
        }, a message with a confirmation link is on its way to it. Open it and press the button to finish signing up.</p>
<p class="note">Nothing arrived after a few minutes? Look in your spam folder. If you are already subscribed, there is nothing more to do.</p>`,
    });
}

async function handleSignup(c) {
    const { request, env, ctx, url } = c;
    const form = await readForm(request);
    const value = String(form.get("email") ?? "");
    // Bots fill every field; people never see this one. They get the ordinary answer and
    // nothing happens.
    if (String(form.get("website") ?? "") !== "") {
        return signupDonePage(env, env.DOUBLE_OPT_IN === "true" ? "check-inbox" : "subscribed");
    }
    const email = normaliseAddress(value);
    // Checked before lower-casing, which turns some non-ASCII letters (the Kelvin sign) into ASCII.
    if (!isValidAddress(value)) {
        return signupPage(env, {
            status: 400,
            value: value.slice(0, 254),
            error: email === ""
                ? "Please enter your email address."
                : "That does not look like an email address. Please check it and try again, for example name@example.com.",
        });
    }
    const db = database(env);
    // Every valid signup counts against the caps, whether it sends a mail or not: caps that
    // counted only mails would tell a stranger which addresses are already on the list.
    const claim = await claimSignup(db, env, clientKey(request), mailboxKey(email));
    if (claim === null) {
        const response = errorPage(env, 429, TOO_MANY_SIGNUPS);
        response.headers.set("Retry-After", "600");
        return response;
    }
    if (env.DOUBLE_OPT_IN !== "true") {
        // Single opt-in: the form subscribes at once, and brings back a reader who left;
        // bounced and complained addresses stay as they are.
        await db.prepare(
            `INSERT INTO subscribers (email, id, name, status, source, created_at, updated_at)
             VALUES (?1, ?2, '', 'active', 'signup-form', ${DB_NOW}, ${DB_NOW})
             ON CONFLICT (email) DO UPDATE SET status = 'active',
                 updated_at = MAX(${DB_NOW}, subscribers.updated_at + 1)
             WHERE subscribers.status IN ('pending', 'unsubscribed')`,
        ).bind(email, crypto.randomUUID()).run();
        return signupDonePage(env, "subscribed");
    }
    // Double opt-in: a new address waits as pending. An existing record keeps its status until
    // the owner of the mailbox confirms, so nobody else can change it through the form. The
    // time of the request is what a confirmation link is judged by.
    const mail = mailSettings(env);
    const statements = [
        db.prepare(
            `INSERT INTO subscribers (email, id, name, status, source, created_at, updated_at)
             VALUES (?1, ?2, '', 'pending', 'signup-form', ${DB_NOW}, ${DB_NOW})
             ON CONFLICT (email) DO NOTHING`,
        ).bind(email, crypto.randomUUID()),
        db.prepare(
            `INSERT INTO signup_requests (email, requested_at)
             SELECT ?1, ${DB_NOW} WHERE EXISTS (
                 SELECT 1 FROM subscribers WHERE email = ?1 AND status IN ('pending', 'unsubscribed'))
             ON CONFLICT (email) DO UPDATE SET requested_at = excluded.requested_at`,
        ).bind(email),
    ];
    const [, requested] = await db.batch(statements);
    if (!mail) {
        return signupDonePage(env, "mail-not-configured");
    }
    if (requested.meta && requested.meta.changes === 1) {
        // Sent after the answer, so the answer takes the same time whatever the address is.
        ctx.waitUntil(sendConfirmation(env, mail, email, url.origin, claim).catch((error) => {
            console.error("confirmation mail failed", error && error.message ? error.message : error);
        }));
    }
    return signupDonePage(env, "check-inbox");
}

// A plain-text binding holding a positive whole number, or the default.
function signupCap(env, { binding, fallback }) {
    const text = typeof env[binding] === "string" ? env[binding].trim() : "";
    return /^[1-9]\d{0,8}$/.test(text) ? Number(text) : fallback;
}

// Exact counts in D1 over sliding windows: one statement checks the three caps and records the
// signup, so two signups at the same moment cannot both take the last place. The id of the
// recorded signup, or null when a cap is reached.
async function claimSignup(db, env, client, mailbox) {
    const [perClient, perMailbox, perHour] = SIGNUP_CAPS.map((cap) => signupCap(env, cap));
    const now = Date.now();
    const [, claim] = await db.batch([
        db.prepare("DELETE FROM signup_log WHERE at <= ?1").bind(now - HOUR_MS),
        db.prepare(
            `INSERT INTO signup_log (at, client, mailbox) SELECT ?1, ?2, ?3
             WHERE (SELECT count(*) FROM signup_log WHERE client = ?2 AND at > ?1 - ?7) < ?4
               AND (SELECT count(*) FROM signup_log WHERE mailbox = ?3 AND at > ?1 - ?8) < ?5
               AND (SELECT count(*) FROM signup_log WHERE at > ?1 - ?7) < ?6`,
        ).bind(now, client, mailbox, perClient, perMailbox, perHour, HOUR_MS, MAILBOX_WINDOW_MS),
    ]);
    return claim.meta && claim.meta.changes === 1 ? claim.meta.last_row_id : null;
}

// The client as Cloudflare saw it. An IPv6 client usually holds a whole /64, so that is what
// is counted.
function clientKey(request) {
    const ip = (request.headers.get("CF-Connecting-IP") ?? "").trim().toLowerCase();
    if (!ip.includes(":")) {
        return ip || "unknown";
    }
    const [head, tail = ""] = ip.split("::");
    const headGroups = head ? head.split(":") : [];
    const tailGroups = tail ? tail.split(":") : [];
    const missing = Math.max(0, 8 - headGroups.length - tailGroups.length);
    const groups = [...headGroups, ...Array(missing).fill("0"), ...tailGroups];
    return `${groups.slice(0, 4).map((g) => g.replace(/^0+(?=.)/, "")).join(":")}::/64`;
}

// One mailbox however it is written: lower case, without a "+tag".
function mailboxKey(email) {
    const at = email.lastIndexOf("@");
    return `${email.slice(0, at).split("+")[0]}@${email.slice(at + 1)}`;
}

const TOKEN_PAGES = {
    confirm: {
        invalid:
            "This confirmation link is not valid. It may have been cut short or changed. Please copy the whole link from the email, or sign up again.",
        askTitle: "Confirm your subscription",
        ask: (name, email) =>
            `<p>Press the button to start receiving ${escapeHtml(name)} at <strong>${escapeHtml(email)}</strong>.</p>`,
        button: "Confirm my subscription",
        doneTitle: "You are subscribed",
        done: (name,
            email) => `<p>Thank you. ${escapeHtml(email)} will receive every new issue of ${escapeHtml(name)}.</p>
<p class="note"><a href="/archive">Read past issues</a></p>`,
    },
    unsubscribe: {
        invalid:
            "This unsubscribe link is not valid. It may have been cut short or changed. Please copy the whole link from the email.",
        askTitle: "Unsubscribe",
        ask: (name, email) =>
            `<p>Press the button to stop receiving ${escapeHtml(name)} at <strong>${escapeHtml(email)}</strong>.</p>`,
        button: "Unsubscribe",
        doneTitle: "You are unsubscribed",
        done: (name, email) => `<p>${escapeHtml(email)} will not receive ${escapeHtml(name)} any more.</p>
<p class="note">Changed your mind? You can sign up again on <a href="/">the signup page</a>.</p>`,
    },
};

// Whether a confirmation link for the address still works: "active" when there is nothing
// left to confirm, "valid" within seven days of the signup it answers, "expired" otherwise.
// Mails sent before signups were recorded are judged by the pending record's time. Bounced and
// complained readers, and readers who left with no signup since, are never confirmed.
async function confirmationState(db, email) {
    const row = await db.prepare(
        `SELECT s.status, s.updated_at, r.requested_at, ${DB_NOW} AS now
         FROM subscribers AS s LEFT JOIN signup_requests AS r ON r.email = s.email WHERE s.email = ?1`,
    ).bind(email).first();
    if (row && row.status === "active") {
        return "active";
    }
    const since = !row ? null : row.requested_at ?? (row.status === "pending" ? row.updated_at : null);
    const waiting = row && (row.status === "pending" || row.status === "unsubscribed");
    return waiting && since !== null && row.now - since <= CONFIRMATION_VALID_MS ? "valid" : "expired";
}

function expiredConfirmationPage(env, email) {
    return signupPage(env, {
        status: 410,
        value: email,
        title: "This link has expired",
        intro: "Confirmation links work for seven days after signing up. Sign up again and we will send you a new one.",
    });
}

// A GET only shows a button: mail scanners and link previews fetch every link they see, and
// must not confirm or unsubscribe anybody.
async function tokenLandingPage(c, purpose) {
    const { env, url } = c;
    const words = TOKEN_PAGES[purpose];
    const token = url.searchParams.get("t") ?? "";
    const email = await verifyToken(token, purpose, env.SIGNING_SECRET);
    if (!email) {
        return errorPage(env, 400, words.invalid);
    }
    if (purpose === "confirm" && (await confirmationState(database(env), email)) === "expired") {
        return expiredConfirmationPage(env, email);
    }
    const action = `/${purpose}?t=${encodeURIComponent(token)}`;
    const oneClick = purpose === "unsubscribe"
        ? '\n<input type="hidden" name="List-Unsubscribe" value="One-Click">'
        : "";
    return htmlPage(env, {
        noindex: true,
        title: words.askTitle,
        body: `${words.ask(publicationName(env), email)}
<form method="post" action="${escapeHtml(action)}">${oneClick}
<button type="submit">${escapeHtml(words.button)}</button>
</form>`,
    });
}

// The POST acts: from the page's button, or (unsubscribe) the RFC 8058 one-click POST a mail
// provider sends with the body "List-Unsubscribe=One-Click". The signed token is the
// authority, so the body is not required. Both are idempotent.
async function handleTokenPost(c, purpose) {
    const { request, env, url } = c;
    const words = TOKEN_PAGES[purpose];
    let token = url.searchParams.get("t");
    const form = await readForm(request);
    if (token === null) {
        token = String(form.get("t") ?? "");
    }
    const email = await verifyToken(token, purpose, env.SIGNING_SECRET);
    if (!email) {
        return errorPage(env, 400, words.invalid);
    }
    const db = database(env);
    if (purpose === "confirm") {
        // The token reached this mailbox only, so pressing the button is the owner's consent.
        const state = await confirmationState(db, email);
        if (state === "expired") {
            return expiredConfirmationPage(env, email);
        }
        if (state === "valid") {
            await db.batch([
                db.prepare(
                    `UPDATE subscribers SET status = 'active', updated_at = MAX(${DB_NOW}, updated_at + 1)
                     WHERE email = ?1 AND status IN ('pending', 'unsubscribed')`,
                ).bind(email),
                db.prepare("DELETE FROM signup_requests WHERE email = ?1").bind(email),
            ]);
        }
    } else {
        // A reader the worker has not heard of yet (not synced) is recorded too, so the next
        // pull brings the unsubscribe home. Bounced and complained stay as they are.
        await db.prepare(
            `INSERT INTO subscribers (email, id, name, status, source, created_at, updated_at)
             VALUES (?1, ?2, '', 'unsubscribed', 'unsubscribe-link', ${DB_NOW}, ${DB_NOW})
             ON CONFLICT (email) DO UPDATE SET status = 'unsubscribed',
                 updated_at = MAX(${DB_NOW}, subscribers.updated_at + 1)
             WHERE subscribers.status IN ('pending', 'active')`,
        ).bind(email, crypto.randomUUID()).run();
    }
    return htmlPage(env, { noindex: true, title: words.doneTitle, body: words.done(publicationName(env), email) });
}

async function archiveListPage(env) {
    const { results } = await database(env).prepare(
        `SELECT slug, subject, published_at FROM issues ORDER BY published_at DESC, slug DESC LIMIT ?1`,
    ).bind(ARCHIVE_LIST_LIMIT).all();
    const items = results.map((row) => {
        const date = new Date(Number(row.published_at));
        const day = isNaN(date.getTime()) ? "" : date.toISOString().slice(0, 10);
        return `<li><a href="/archive/${encodeURIComponent(row.slug)}">${escapeHtml(row.subject)}</a>`
            + `<time datetime="${escapeHtml(wireDate(row.published_at))}">${escapeHtml(day)}</time></li>`;
    });
    const body = items.length
        ? `<ol class="issues">\n${items.join("\n")}\n</ol>`
        : "<p>No issues have been published yet.</p>";
    const response = htmlPage(env, { title: "Archive",
        body: `${body}\n<p class="note"><a href="/">Subscribe</a></p>` });
    response.headers.set("Cache-Control", "public, max-age=60");
    return response;
}

async function archiveIssuePage(env, slug) {
    if (!SLUG_PATTERN.test(slug)) {
        return errorPage(env, 404, "There is no issue at this address.");
    }
    const row = await database(env).prepare("SELECT html FROM issues WHERE slug = ?1").bind(slug).first();
    if (!row) {
        return errorPage(env, 404, "There is no issue at this address.");
    }
    // The writer's own rendered email. The sandbox keeps any script or form inside it inert,
    // should an issue ever carry one.
    return new Response(row.html, {
        headers: {
            "Content-Type": "text/html; charset=utf-8",
            "Content-Security-Policy": "sandbox allow-popups allow-popups-to-escape-sandbox; default-src 'none'; "
                + "img-src https: http: data:; style-src 'unsafe-inline' https:; font-src https: data:; "
                + "frame-ancestors 'none'; base-uri 'none'; form-action 'none'",
            "X-Content-Type-Options": "nosniff",
            "Referrer-Policy": "no-referrer",
            "Cache-Control": "public, max-age=300",
        },
    });
}

// ---------------------------------------------------------------------------------------------
// Token-protected API

function jsonResponse(status, value, extraHeaders = {}) {
    return jsonTextResponse(status, JSON.stringify(value), extraHeaders);
}

function jsonTextResponse(status, text, extraHeaders = {}) {
    return new Response(text, {
        status,
        headers: { "Content-Type": "application/json; charset=utf-8", "Cache-Control": "no-store",
            "X-Content-Type-Options": "nosniff", ...extraHeaders },
    });
}

// A refusal, or null when the bearer is the API token.
async function checkBearer(request, env) {
    if (typeof env.API_TOKEN !== "string" || env.API_TOKEN === "") {
        return jsonResponse(503, { error: "The worker has no API token configured." });
    }
    const header = request.headers.get("Authorization") ?? "";
    const given = /^Bearer /i.test(header) ? header.slice(7) : "";
    if (!(await sameSecret(given, env.API_TOKEN))) {
        return jsonResponse(401, { error: "The API token is missing or wrong." }, {
            "WWW-Authenticate": 'Bearer realm="api"',
        });
    }
    return null;
}

// Up, and what the writer should know: the last failed confirmation mail and SNS handling,
// the AWS account whose notifications are accepted, and whether confirmation mail can be sent.
async function health(c) {
    const { results } = await database(c.env).prepare("SELECT kind, at, message FROM worker_failures").all();
    const failure = (kind) => {
        const row = results.find((r) => r.kind === kind);
        return row ? { at: wireDate(row.at), message: row.message } : null;
    };
    return jsonResponse(200, {
        ok: true,
        awsAccountId: awsAccountId(c.env),
        mailConfigured: mailSettings(c.env) !== null,
        mailFailure: failure("mail"),
        snsFailure: failure("sns"),
    });
}

// Remembered for the writer's health check, in one transaction with the statements alongside;
// never fails the caller.
async function recordFailure(env, kind, message, ...alongside) {
    const db = database(env);
    try {
        await db.batch([db.prepare(
            `INSERT INTO worker_failures (kind, at, message) VALUES (?1, ?2, ?3)
             ON CONFLICT (kind) DO UPDATE SET at = excluded.at, message = excluded.message`,
        ).bind(kind, Date.now(), String(message).slice(0, LIMITS.failureMessage)), ...alongside]);
    } catch (error) {
        console.error("could not record a failure", error && error.message ? error.message : error);
    }
}

function awsAccountId(env) {
    const id = typeof env.AWS_ACCOUNT_ID === "string" ? env.AWS_ACCOUNT_ID.trim() : "";
    return ACCOUNT_PATTERN.test(id) ? id : null;
}

// The page position after a row: where the next page starts, and the "since" it belongs to.
function pageToken(since, row) {
    return bytesToBase64(encoder.encode(JSON.stringify([since, row.updated_at, row.email])))
        .replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

function readPageToken(text) {
    try {
        let padded = text.replace(/-/g, "+").replace(/_/g, "/");
        while (padded.length % 4 !== 0) {
            padded += "=";
        }
        const [since, updatedAt, email] = JSON.parse(
            new TextDecoder("utf-8", { fatal: true }).decode(base64ToBytes(padded)),
        );
        if (Number.isSafeInteger(since) && Number.isSafeInteger(updatedAt) && typeof email === "string") {
            return { since, updatedAt, email };
        }
    } catch {
        // falls through to the refusal
    }
    throw new HttpError(400, 'The query "next" is not a page position this worker gave.');
}

// Each row as its wire JSON, made by SQLite: the worker only joins the texts, so a page of 5000
// readers costs little CPU here (awaiting D1 is not CPU time; JSON work in the worker is).
const PULL_COLUMNS = `json_object('id', id, 'email', email, 'name', name, 'status', status, 'source', source,
    'created_at', strftime('%Y-%m-%dT%H:%M:%SZ', created_at / 1000, 'unixepoch'),
    'updated_at', strftime('%Y-%m-%dT%H:%M:%SZ', updated_at / 1000, 'unixepoch')) AS wire, updated_at, email`;

// Records changed at or after "since", one page of at most PULL_PAGE_ROWS in (updated_at,
// email) order, with "next" when more remain. "syncedAt" is the database's clock read in the
// same transaction as the rows, so every later change is stamped at or after it. A record
// changed while a client pages may come twice, never not at all.
async function pullSubscribers(c) {
    const { env, url } = c;
    let since = Number.MIN_SAFE_INTEGER;
    let after = null;
    const nextText = url.searchParams.get("next");
    const sinceText = url.searchParams.get("since");
    if (nextText !== null) {
        after = readPageToken(nextText);
        since = after.since;
    } else if (sinceText !== null) {
        const parsed = parseIsoDate(sinceText);
        if (parsed === null) {
            throw new HttpError(400,
                'The query "since" must be an ISO 8601 date-time, for example 2025-03-01T09:30:00Z.');
        }
        since = parsed;
    }
    const db = database(env);
    // One row more than a page tells whether another page follows.
    const page = after === null
        ? db.prepare(`SELECT ${PULL_COLUMNS} FROM subscribers WHERE updated_at >= ?1
                      ORDER BY updated_at, email LIMIT ?2`).bind(since, PULL_PAGE_ROWS + 1)
        : db.prepare(`SELECT ${PULL_COLUMNS} FROM subscribers WHERE (updated_at, email) > (?1, ?2)
                      ORDER BY updated_at, email LIMIT ?3`).bind(after.updatedAt, after.email, PULL_PAGE_ROWS + 1);
    const [clock, rows] = await db.batch([db.prepare(`SELECT ${DB_NOW} AS now`), page]);
    const results = rows.results;
    const more = results.length > PULL_PAGE_ROWS;
    if (more) {
        results.length = PULL_PAGE_ROWS;
    }
    let text = '{"subscribers":[';
    for (let i = 0; i < results.length; i++) {
        text += i === 0 ? results[i].wire : `,${results[i].wire}`;
    }
    text += `],"syncedAt":"${wireDate(clock.results[0].now)}"`;
    if (more) {
        text += `,"next":"${pageToken(since, results[results.length - 1])}"`;
    }
    return jsonTextResponse(200, `${text}}`);
}

function wireRecord(value, index) {
    const where = `subscribers[${index}]`;
    if (!isPlainObject(value)) {
        throw new HttpError(400, `${where} is not an object.`);
    }
    const email = typeof value.email === "string" ? normaliseAddress(value.email) : "";
    if (email === "" || email.length > 320 || !email.includes("@") || /[\s\u0000-\u001f\u007f]/.test(email)) {
        throw new HttpError(400, `${where}: "email" must be an email address.`);
    }
    const id = typeof value.id === "string" ? value.id.toLowerCase() : "";
    if (!UUID_PATTERN.test(id)) {
        throw new HttpError(400, `${where}: "id" must be a UUID.`);
    }
    if (!STATUSES.includes(value.status)) {
        throw new HttpError(400, `${where}: "status" must be one of ${STATUSES.join(", ")}.`);
    }
    const name = optionalText(value.name, "", LIMITS.name, where, "name");
    const source = optionalText(value.source, "app", LIMITS.source, where, "source");
    const createdAt = typeof value.created_at === "string" ? parseIsoDate(value.created_at) : null;
    const updatedAt = typeof value.updated_at === "string" ? parseIsoDate(value.updated_at) : null;
    if (createdAt === null || updatedAt === null) {
        throw new HttpError(400, `${where}: "created_at" and "updated_at" must be ISO 8601 date-times.`);
    }
    return { email, id, name, status: value.status, source, created_at: createdAt, updated_at: updatedAt };
}

function optionalText(value, fallback, limit, where, key) {
    if (value === undefined || value === null) {
        return fallback;
    }
    if (typeof value !== "string" || value.length > limit) {
        throw new HttpError(400, `${where}: "${key}" must be text of at most ${limit} characters.`);
    }
    return value;
}

// A pushed record replaces the worker's only when it is at least as recent, so an unsubscribe
// or bounce recorded here after the application's last sync is never overwritten by an older
// local copy; a date beyond the worker's clock counts as now, so no push can freeze a record.
// The reader's own choice outranks the desktop: a push never makes an unsubscribed, bounced or
// complained record active or pending again; it may still rename it, and then the record is
// stamped now so the next pull tells the application its status. The worker's own id for an
// address stays; creation keeps the earlier date.
const UPSERT_SQL = `
INSERT INTO subscribers (email, id, name, status, source, created_at, updated_at)
SELECT json_extract(value, '$.email'), json_extract(value, '$.id'), json_extract(value, '$.name'),
       json_extract(value, '$.status'), json_extract(value, '$.source'),
       MIN(json_extract(value, '$.created_at'), ${DB_NOW}), MIN(json_extract(value, '$.updated_at'), ${DB_NOW})
FROM json_each(?1) WHERE true
ON CONFLICT (email) DO UPDATE SET
    name = excluded.name,
    source = excluded.source,
    created_at = MIN(subscribers.created_at, excluded.created_at),
    status = CASE WHEN subscribers.status IN ${sqlList(FINAL_STATUSES)} AND excluded.status IN ('active', 'pending')
                  THEN subscribers.status ELSE excluded.status END,
    updated_at = CASE WHEN subscribers.status IN ${sqlList(FINAL_STATUSES)} AND excluded.status IN ('active', 'pending')
                      THEN MAX(${DB_NOW}, subscribers.updated_at + 1) ELSE excluded.updated_at END
WHERE excluded.updated_at >= subscribers.updated_at`;

function sqlList(values) {
    return `(${values.map((v) => `'${v}'`).join(", ")})`;
}

async function pushSubscribers(c) {
    const body = await readJson(c.request, LIMITS.apiBytes);
    if (!isPlainObject(body) || !Array.isArray(body.subscribers)) {
        throw new HttpError(400, 'Expected a JSON object {"subscribers": [...]}.');
    }
    const records = body.subscribers.map(wireRecord);
    // Rows travel as one JSON parameter per statement: far fewer statements than one per row,
    // and well under D1's limits (a validated record is at most about 4 KB of UTF-8, so a chunk
    // stays far below the 2 MB a value may hold).
    const chunks = [];
    for (let i = 0; i < records.length; i += PUSH_CHUNK_RECORDS) {
        chunks.push(JSON.stringify(records.slice(i, i + PUSH_CHUNK_RECORDS)));
    }
    let upserted = 0;
    if (chunks.length > 0) {
        const db = database(c.env);
        const statement = db.prepare(UPSERT_SQL);
        // One batch is one transaction: a push lands entirely or not at all.
        const results = await db.batch(chunks.map((rows) => statement.bind(rows)));
        for (const result of results) {
            upserted += Number(result.meta && result.meta.changes) || 0;
        }
    }
    return jsonResponse(200, { upserted });
}

async function publishIssue(c) {
    const { request, env, url } = c;
    const body = await readJson(request, LIMITS.apiBytes);
    if (!isPlainObject(body)) {
        throw new HttpError(400, 'Expected a JSON object {"slug", "subject", "html", "published_at"}.');
    }
    const { slug, subject, html } = body;
    if (typeof slug !== "string" || !SLUG_PATTERN.test(slug)) {
        throw new HttpError(400,
            '"slug" must be 1 to 200 characters of a-z, 0-9 and "-", starting with a letter or digit.');
    }
    if (typeof subject !== "string" || subject.length > LIMITS.subject) {
        throw new HttpError(400, `"subject" must be text of at most ${LIMITS.subject} characters.`);
    }
    if (typeof html !== "string") {
        throw new HttpError(400, '"html" must be text.');
    }
    if (encoder.encode(html).length > LIMITS.issueHtmlBytes) {
        throw new HttpError(413, `"html" is larger than ${LIMITS.issueHtmlBytes} bytes.`);
    }
    const publishedAt = typeof body.published_at === "string" ? parseIsoDate(body.published_at) : null;
    if (publishedAt === null) {
        throw new HttpError(400, '"published_at" must be an ISO 8601 date-time.');
    }
    await database(env).prepare(
        `INSERT INTO issues (slug, subject, html, published_at, updated_at) VALUES (?1, ?2, ?3, ?4, ?5)
         ON CONFLICT (slug) DO UPDATE SET subject = excluded.subject, html = excluded.html,
             published_at = excluded.published_at, updated_at = excluded.updated_at`,
    ).bind(slug, subject, html, publishedAt, Date.now()).run();
    return jsonResponse(200, { ok: true, slug, url: `${url.origin}/archive/${slug}` });
}

// ---------------------------------------------------------------------------------------------
// Amazon SNS: bounce and complaint notifications of SES

async function handleSns(c) {
    const { request, env } = c;
    const bytes = await readBody(request, LIMITS.snsBytes);
    let message;
    try {
        message = JSON.parse(new TextDecoder("utf-8", { fatal: true }).decode(bytes));
    } catch {
        return plainResponse(400, "Bad Request");
    }
    if (!isPlainObject(message)) {
        return plainResponse(400, "Bad Request");
    }
    const declaredType = request.headers.get("x-amz-sns-message-type");
    if (declaredType !== null && declaredType !== message.Type) {
        return plainResponse(403, "Forbidden");
    }
    const topic = typeof message.TopicArn === "string" ? TOPIC_ARN_PATTERN.exec(message.TopicArn) : null;
    if (!topic) {
        return plainResponse(403, "Forbidden");
    }
    try {
        // A valid signature only proves that SNS sent the message: anybody can create a topic,
        // subscribe this address to it and publish a made-up bounce. Only topics of the writer's
        // account, given at deployment, are accepted; without it, none.
        const account = awsAccountId(env);
        if (account === null) {
            if (await verifySnsMessage(message)) {
                await recordFailure(env, "sns",
                    `Refused an SNS message from ${message.TopicArn}: the worker does not know `
                        + "your AWS account. Store your AWS keys in the app and deploy the worker again.");
            }
            return plainResponse(403, "Forbidden");
        }
        if (topic[2] !== account || !(await verifySnsMessage(message))) {
            return plainResponse(403, "Forbidden");
        }
        // SNS keeps the Timestamp on its retries: anything older than its longest retry policy is
        // a replay.
        const sent = typeof message.Timestamp === "string" ? parseIsoDate(message.Timestamp) : null;
        const now = Date.now();
        if (sent === null || now - sent > SNS_MAX_AGE_MS || sent - now > SNS_CLOCK_SKEW_MS) {
            return plainResponse(403, "Forbidden");
        }
        switch (message.Type) {
            case "SubscriptionConfirmation": {
                const subscribeUrl = snsUrl(message.SubscribeURL, topic[1]);
                if (!subscribeUrl) {
                    return plainResponse(403, "Forbidden");
                }
                const answer = await fetch(subscribeUrl, { redirect: "manual" });
                if (!answer.ok) {
                    await recordFailure(env, "sns",
                        `Confirming the SNS subscription of ${message.TopicArn} failed: Amazon answered ${answer.status}.`);
                    return plainResponse(502, "Subscription confirmation failed");
                }
                return plainResponse(200, "Subscribed");
            }
            case "UnsubscribeConfirmation":
                return plainResponse(200, "OK");
            case "Notification":
                await applySesNotification(env, message);
                return plainResponse(200, "OK");
            default:
                return plainResponse(400, "Bad Request");
        }
    } catch (error) {
        await recordFailure(env, "sns", `Handling an SNS message from ${message.TopicArn} failed: `
            + (error && error.message ? error.message : String(error)));
        throw error;
    }
}

function plainResponse(status, text) {
    return new Response(text, { status,
        headers: { "Content-Type": "text/plain; charset=utf-8", "X-Content-Type-Options": "nosniff" } });
}

// An https URL on sns.<region>.amazonaws.com (no port, no user), in the topic's region.
function snsUrl(text, region) {
    if (typeof text !== "string") {
        return null;
    }
    let url;
    try {
        url = new URL(text);
    } catch {
        return null;
    }
    const host = SNS_HOST_PATTERN.exec(url.hostname);
    if (url.protocol !== "https:" || url.port !== "" || url.username !== "" || url.password !== ""
        || !host || host[1] !== region)
    {
        return null;
    }
    return url.href;
}

const SNS_SIGNED_KEYS = {
    Notification: ["Message", "MessageId", "Subject", "Timestamp", "TopicArn", "Type"],
    SubscriptionConfirmation: ["Message", "MessageId", "SubscribeURL", "Timestamp", "Token", "TopicArn", "Type"],
    UnsubscribeConfirmation: ["Message", "MessageId", "SubscribeURL", "Timestamp", "Token", "TopicArn", "Type"],
};

// The canonical text Amazon signs: each key and value on its own line, in this order;
// a Notification's Subject only when it has one.
function snsStringToSign(message) {
    const keys = SNS_SIGNED_KEYS[message.Type];
    if (!keys) {
        return null;
    }
    let text = "";
    for (const key of keys) {
        const value = message[key];
        if (key === "Subject" && (value === undefined || value === null)) {
            continue;
        }
        if (typeof value !== "string") {
            return null;
        }
        text += `${key}\n${value}\n`;
    }
    return text;
}

async function verifySnsMessage(message) {
    try {
        const hash = message.SignatureVersion === "1" ? "SHA-1" : message.SignatureVersion === "2" ? "SHA-256" : null;
        const topic = typeof message.TopicArn === "string" ? TOPIC_ARN_PATTERN.exec(message.TopicArn) : null;
        const text = snsStringToSign(message);
        if (!hash || !topic || text === null || typeof message.Signature !== "string") {
            return false;
        }
        const certificateUrl = snsUrl(message.SigningCertURL, topic[1]);
        if (!certificateUrl || !new URL(certificateUrl).pathname.endsWith(".pem")) {
            return false;
        }
        const signature = base64ToBytes(message.Signature);
        const key = await certificateKey(certificateUrl, hash);
        return await crypto.subtle.verify("RSASSA-PKCS1-v1_5", key, signature, encoder.encode(text));
    } catch (error) {
        if (error instanceof HttpError) {
            throw error;
        }
        console.error("SNS verification failed", error && error.message ? error.message : error);
        return false;
    }
}

// Public keys of signing certificates by URL, for the life of the isolate. A failed fetch is
// not kept, so the next message tries again.
const certificateCache = new Map();

async function certificateKey(url, hash) {
    let entry = certificateCache.get(url);
    if (!entry) {
        entry = loadCertificate(url);
        if (certificateCache.size >= 32) {
            certificateCache.delete(certificateCache.keys().next().value);
        }
        certificateCache.set(url, entry);
        entry.catch(() => certificateCache.delete(url));
    }
    const { spki, notBefore, notAfter } = await entry;
    const now = Date.now();
    if (now < notBefore || now > notAfter) {
        throw new Error("certificate is outside its validity period");
    }
    return crypto.subtle.importKey("spki", spki, { name: "RSASSA-PKCS1-v1_5", hash }, false, ["verify"]);
}

async function loadCertificate(url) {
    // Amazon unreachable: 503, so that SNS delivers the message again later. Any answer but
    // the certificate: the message is refused.
    let response;
    try {
        response = await fetch(url, { redirect: "manual" });
    } catch {
        throw new HttpError(503, "The signing certificate could not be fetched.");
    }
    if (response.status >= 500) {
        throw new HttpError(503, "The signing certificate could not be fetched.");
    }
    if (response.status !== 200) {
        throw new Error(`certificate fetch answered ${response.status}`);
    }
    const pem = new TextDecoder().decode(await readLimited(response.body, LIMITS.certificateBytes));
    const match = /-----BEGIN CERTIFICATE-----([A-Za-z0-9+/=\s]+)-----END CERTIFICATE-----/.exec(pem);
    if (!match) {
        throw new Error("certificate is not PEM");
    }
    return parseCertificate(base64ToBytes(match[1].replace(/\s+/g, "")));
}

// Just enough DER to find the validity and SubjectPublicKeyInfo of an X.509 certificate:
// Certificate ::= SEQUENCE { tbsCertificate SEQUENCE { [0] version OPTIONAL, serialNumber,
// signature, issuer, validity, subject, subjectPublicKeyInfo, ... }, ... }
function derElement(bytes, offset, limit) {
    if (offset + 2 > limit) {
        throw new Error("truncated DER");
    }
    const tag = bytes[offset];
    if ((tag & 0x1f) === 0x1f) {
        throw new Error("unsupported DER tag");
    }
    let length = bytes[offset + 1];
    let start = offset + 2;
    if (length & 0x80) {
        const count = length & 0x7f;
        if (count === 0 || count > 4 || start + count > limit) {
            throw new Error("bad DER length");
        }
        length = 0;
        for (let i = 0; i < count; i++) {
            length = length * 256 + bytes[start + i];
        }
        start += count;
    }
    const end = start + length;
    if (end > limit) {
        throw new Error("truncated DER");
    }
    return { tag, offset, start, end };
}

function derChildren(bytes, element) {
    const children = [];
    for (let offset = element.start; offset < element.end;) {
        const child = derElement(bytes, offset, element.end);
        children.push(child);
        offset = child.end;
    }
    return children;
}

function derTime(bytes, element) {
    const text = new TextDecoder().decode(bytes.subarray(element.start, element.end));
    let match;
    if (element.tag === 0x17 && (match = /^(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})Z$/.exec(text))) {
        const year = Number(match[1]) < 50 ? 2000 + Number(match[1]) : 1900 + Number(match[1]);
        return Date.UTC(year, match[2] - 1, match[3], match[4], match[5], match[6]);
    }
    if (element.tag === 0x18 && (match = /^(\d{4})(\d{2})(\d{2})(\d{2})(\d{2})(\d{2})Z$/.exec(text))) {
        return Date.UTC(Number(match[1]), match[2] - 1, match[3], match[4], match[5], match[6]);
    }
    throw new Error("bad certificate time");
}

function parseCertificate(der) {
    const certificate = derElement(der, 0, der.length);
    if (certificate.tag !== 0x30) {
        throw new Error("certificate is not a SEQUENCE");
    }
    const tbs = derChildren(der, certificate)[0];
    if (!tbs || tbs.tag !== 0x30) {
        throw new Error("certificate has no tbsCertificate");
    }
    const fields = derChildren(der, tbs);
    const first = fields[0] && fields[0].tag === 0xa0 ? 1 : 0;
    const validity = fields[first + 3];
    const spki = fields[first + 5];
    if (!validity || validity.tag !== 0x30 || !spki || spki.tag !== 0x30) {
        throw new Error("certificate fields are missing");
    }
    const [notBefore, notAfter] = derChildren(der, validity);
    return {
        spki: der.slice(spki.offset, spki.end),
        notBefore: derTime(der, notBefore),
        notAfter: derTime(der, notAfter),
    };
}

// SES notifications (and SES event publishing, which names the type "eventType"): a permanent
// bounce marks its recipients bounced, a complaint complained; anything else changes nothing.
// The MessageId is recorded in the same transaction as the changes, and the changes apply only
// when this attempt recorded it: a message SNS delivers twice, or anybody replays, acts once.
async function applySesNotification(env, message) {
    let notification;
    try {
        notification = JSON.parse(message.Message);
    } catch {
        return;
    }
    if (!isPlainObject(notification)) {
        return;
    }
    const type = notification.notificationType ?? notification.eventType;
    let status = null;
    let recipients = [];
    if (type === "Bounce" && isPlainObject(notification.bounce) && notification.bounce.bounceType === "Permanent") {
        status = "bounced";
        recipients = notification.bounce.bouncedRecipients;
    } else if (type === "Complaint" && isPlainObject(notification.complaint)) {
        status = "complained";
        recipients = notification.complaint.complainedRecipients;
    }
    if (!status || !Array.isArray(recipients)) {
        return;
    }
    const addresses = new Set();
    for (const recipient of recipients.slice(0, 100)) {
        const email = isPlainObject(recipient) && typeof recipient.emailAddress === "string"
            ? normaliseAddress(recipientAddress(recipient.emailAddress))
            : "";
        if (email.includes("@") && email.length <= 320 && !/[\s\u0000-\u001f\u007f]/.test(email)) {
            addresses.add(email);
        }
    }
    if (addresses.size === 0 || typeof message.MessageId !== "string" || message.MessageId.length > 256) {
        return;
    }
    const db = database(env);
    const now = Date.now();
    const attempt = crypto.randomUUID();
    // Recorded also for addresses the worker has not heard of, so the application learns of
    // them at the next pull. A complaint is never turned back into a bounce.
    const statement = db.prepare(
        `INSERT INTO subscribers (email, id, name, status, source, created_at, updated_at)
         SELECT ?1, ?2, '', ?3, 'sns', ${DB_NOW}, ${DB_NOW}
         WHERE EXISTS (SELECT 1 FROM sns_messages WHERE message_id = ?4 AND attempt = ?5)
         ON CONFLICT (email) DO UPDATE SET status = ?3,
             updated_at = MAX(${DB_NOW}, subscribers.updated_at + 1)
         WHERE subscribers.status NOT IN (?3, 'complained')`,
    );
    await db.batch([
        db.prepare("DELETE FROM sns_messages WHERE handled_at < ?1").bind(now - SNS_IDS_KEPT_MS),
        db.prepare(
            "INSERT INTO sns_messages (message_id, handled_at, attempt) VALUES (?1, ?2, ?3) ON CONFLICT DO NOTHING",
        )
            .bind(message.MessageId, now, attempt),
        ...[...addresses].map((email) =>
            statement.bind(email, crypto.randomUUID(), status, message.MessageId, attempt)
        ),
    ]);
}

// "Name <a@b>" or "a@b".
function recipientAddress(text) {
    const angle = /<([^<>]*)>\s*$/.exec(text);
    return angle ? angle[1] : text;
}

// ---------------------------------------------------------------------------------------------
// Mail through Amazon SES (v2 API, Signature Version 4 computed here with WebCrypto)

function mailSettings(env) {
    const region = typeof env.AWS_REGION === "string" ? env.AWS_REGION.trim() : "";
    const from = typeof env.FROM_EMAIL === "string" ? env.FROM_EMAIL.trim() : "";
    const accessKeyId = typeof env.AWS_ACCESS_KEY_ID === "string" ? env.AWS_ACCESS_KEY_ID.trim() : "";
    const secretAccessKey = typeof env.AWS_SECRET_ACCESS_KEY === "string" ? env.AWS_SECRET_ACCESS_KEY.trim() : "";
    if (!REGION_PATTERN.test(region) || !isValidAddress(from) || !accessKeyId || !secretAccessKey) {
        return null;
    }
    return { region, from, credentials: { accessKeyId, secretAccessKey } };
}

// A failure is remembered for the writer's health check and gives the signup's place under the
// caps back, so the reader can ask again at once.
async function sendConfirmation(env, mail, email, origin, claim) {
    try {
        const name = publicationName(env);
        const link = `${origin}/confirm?t=${encodeURIComponent(await makeToken("confirm", email, env.SIGNING_SECRET))}`;
        const subject = `Confirm your subscription to ${name}`;
        const text = `Please confirm that you want to receive ${name} at ${email}.\n\n`
            + `Open this link and press the button to confirm:\n${link}\n\n`
            + "The link works for seven days. If you did not sign up, ignore this message: you will not hear from us again.\n";
        const html =
            `<!doctype html><html lang="en"><head><meta charset="utf-8"><title>${escapeHtml(subject)}</title></head>`
            + `<body style="font-family: system-ui, sans-serif; line-height: 1.5">`
            + `<p>Please confirm that you want to receive ${escapeHtml(name)} at ${escapeHtml(email)}.</p>`
            + `<p><a href="${escapeHtml(link)}">Confirm my subscription</a></p>`
            + `<p style="color:#555">The link works for seven days. If you did not sign up, ignore this message: you will not hear from us again.</p>`
            + `</body></html>`;
        const body = JSON.stringify({
            Content: {
                Simple: {
                    Body: { Html: { Charset: "UTF-8", Data: html }, Text: { Charset: "UTF-8", Data: text } },
                    Subject: { Charset: "UTF-8", Data: subject },
                },
            },
            Destination: { ToAddresses: [email] },
            FromEmailAddress: fromHeader(name, mail.from),
        });
        let response;
        try {
            response = await awsRequest({
                url: `https://email.${mail.region}.amazonaws.com/v2/email/outbound-emails`,
                service: "ses",
                region: mail.region,
                credentials: mail.credentials,
                contentType: "application/json",
                body,
            });
        } catch (error) {
            throw new Error(`SES could not be reached: ${error && error.message ? error.message : error}`);
        }
        if (!response.ok) {
            throw new Error(
                `SES answered ${response.status}: ${(await response.text()).slice(0, LIMITS.failureMessage)}`,
            );
        }
    } catch (error) {
        // Once the writer can see the failure, the reader may already ask again.
        await recordFailure(env, "mail", `The confirmation mail to ${email} failed. ${error.message}`,
            database(env).prepare("DELETE FROM signup_log WHERE rowid = ?1").bind(claim));
        throw error;
    }
}

// The display name as RFC 2047 encoded words when it is not plain ASCII, so SES accepts it.
function fromHeader(name, address) {
    if (/^[\x20-\x7e]*$/.test(name)) {
        return `"${name.replace(/["\\]/g, (c) => `\\${c}`)}" <${address}>`;
    }
    const words = [];
    let chunk = "";
    for (const character of name) {
        if (encoder.encode(chunk + character).length > 45) {
            words.push(chunk);
            chunk = "";
        }
        chunk += character;
    }
    if (chunk) {
        words.push(chunk);
    }
    return `${words.map((word) => `=?UTF-8?B?${bytesToBase64(encoder.encode(word))}?=`).join(" ")} <${address}>`;
}

async function awsRequest({ url, service, region, credentials, contentType, body, now = new Date() }) {
    const target = new URL(url);
    const amzDate = now.toISOString().replace(/\.\d{3}Z$/, "Z").replace(/[-:]/g, "");
    const day = amzDate.slice(0, 8);
    const payload = encoder.encode(body);
    const headers = { "content-type": contentType, host: target.host, "x-amz-date": amzDate };
    const names = Object.keys(headers).sort();
    const signedHeaders = names.join(";");
    const canonicalRequest = [
        "POST",
        target.pathname,
        target.search.slice(1),
        names.map((name) => `${name}:${headers[name]}\n`).join(""),
        signedHeaders,
        hex(await crypto.subtle.digest("SHA-256", payload)),
    ].join("\n");
    const scope = `${day}/${region}/${service}/aws4_request`;
    const stringToSign = ["AWS4-HMAC-SHA256", amzDate, scope,
        hex(await crypto.subtle.digest("SHA-256", encoder.encode(canonicalRequest)))].join("\n");
    let key = encoder.encode(`AWS4${credentials.secretAccessKey}`);
    for (const part of [day, region, service, "aws4_request"]) {
        key = await hmacSha256(key, part);
    }
    const signature = hex(await hmacSha256(key, stringToSign));
    return fetch(target.href, {
        method: "POST",
        redirect: "manual",
        headers: {
            "Content-Type": contentType,
            "X-Amz-Date": amzDate,
            Authorization:
                `AWS4-HMAC-SHA256 Credential=${credentials.accessKeyId}/${scope}, SignedHeaders=${signedHeaders}, Signature=${signature}`,
        },
        body: payload,
    });
}

// ---------------------------------------------------------------------------------------------
// Reader-link tokens: base64url(address) "." hex(HMAC-SHA-256(secret, purpose ":" address)),
// the same tokens the desktop application puts into every email.

// The white space the application trims (Qt's): JavaScript's trim() also takes a byte order
// mark but leaves U+0085, and an address must mean the same text on both sides.
const SPACE = "[\\t-\\r \\u0085\\u00a0\\u1680\\u2000-\\u200a\\u2028\\u2029\\u202f\\u205f\\u3000]";
const EDGE_SPACE = new RegExp(`^${SPACE}+|${SPACE}+$`, "g");

function trimSpace(text) {
    return String(text).replace(EDGE_SPACE, "");
}

function normaliseAddress(text) {
    return trimSpace(text).toLowerCase();
}

async function makeToken(purpose, email, secret) {
    const address = normaliseAddress(email);
    const code = await hmacSha256(encoder.encode(secret), `${purpose}:${address}`);
    const encoded = bytesToBase64(encoder.encode(address)).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
    return `${encoded}.${hex(code)}`;
}

// The address the token was made for, or null.
async function verifyToken(token, purpose, secret) {
    if (typeof secret !== "string" || secret === "" || typeof token !== "string" || token.length > LIMITS.token) {
        return null;
    }
    const parts = token.split(".");
    if (parts.length !== 2 || !/^[A-Za-z0-9_-]*$/.test(parts[0])) {
        return null;
    }
    let padded = parts[0].replace(/-/g, "+").replace(/_/g, "/");
    while (padded.length % 4 !== 0) {
        padded += "=";
    }
    let address;
    try {
        address = new TextDecoder("utf-8", { fatal: true }).decode(base64ToBytes(padded));
    } catch {
        return null;
    }
    const expected = await makeToken(purpose, address, secret);
    return constantTimeEqual(encoder.encode(expected), encoder.encode(token)) ? normaliseAddress(address) : null;
}

// Digests first, so neither the length nor the content of the secret shows in the timing.
async function sameSecret(given, expected) {
    const [a, b] = await Promise.all([
        crypto.subtle.digest("SHA-256", encoder.encode(given)),
        crypto.subtle.digest("SHA-256", encoder.encode(expected)),
    ]);
    return constantTimeEqual(new Uint8Array(a), new Uint8Array(b)) && given.length > 0;
}

function constantTimeEqual(a, b) {
    if (a.length !== b.length) {
        return false;
    }
    let difference = 0;
    for (let i = 0; i < a.length; i++) {
        difference |= a[i] ^ b[i];
    }
    return difference === 0;
}

// The one address check of the system: ASCII local part and domain, a dotted domain whose last
// label is letters only.
function isValidAddress(text) {
    const s = trimSpace(text);
    if (s.length > 254) {
        return false;
    }
    const parts = s.split("@");
    if (parts.length !== 2) {
        return false;
    }
    const [local, domain] = parts;
    if (local.length < 1 || local.length > 64 || !/^[A-Za-z0-9.!#$%&'*+/=?^_`{|}~-]+$/.test(local)
        || local.startsWith(".") || local.endsWith(".") || local.includes(".."))
    {
        return false;
    }
    const labels = domain.split(".");
    if (labels.length < 2) {
        return false;
    }
    for (const label of labels) {
        if (!/^[A-Za-z0-9-]{1,63}$/.test(label) || label.startsWith("-") || label.endsWith("-")) {
            return false;
        }
    }
    return /^[A-Za-z]{2,}$/.test(labels[labels.length - 1]);
}

// ---------------------------------------------------------------------------------------------
// Small helpers

function database(env) {
    if (!env.DB) {
        throw new Error("the D1 binding DB is missing");
    }
    return env.DB;
}

function isPlainObject(value) {
    return typeof value === "object" && value !== null && !Array.isArray(value);
}

// "2025-03-01T09:30:00Z", with optional fraction and a "Z" or numeric offset; milliseconds
// since 1970, or null.
function parseIsoDate(text) {
    // The wire form ("2025-03-01T09:30:00Z") read without a regular expression: pushes carry
    // two per reader, thousands per request.
    if (text.length === 20 && text[4] === "-" && text[7] === "-" && text[10] === "T" && text[13] === ":"
        && text[16] === ":" && text[19] === "Z")
    {
        const n = (from, to) => {
            let value = 0;
            for (let i = from; i < to; i++) {
                const digit = text.charCodeAt(i) - 48;
                if (digit < 0 || digit > 9) {
                    return -1;
                }
                value = value * 10 + digit;
            }
            return value;
        };
        const [year, month, day, hour, minute, second] = [n(0, 4), n(5, 7), n(8, 10), n(11, 13), n(14, 16), n(17, 19)];
        const lastDay = month === 2
            ? (year % 4 === 0 && (year % 100 !== 0 || year % 400 === 0) ? 29 : 28)
            : [4, 6, 9, 11].includes(month)
            ? 30
            : 31;
        if (year < 0 || month < 1 || month > 12 || day < 1 || day > lastDay || hour < 0 || hour > 23
            || minute < 0 || minute > 59 || second < 0 || second > 59)
        {
            return null;
        }
        return utcTime(year, month, day, hour, minute, second);
    }
    const match = /^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d+)?(Z|[+-]\d{2}:?\d{2})$/.exec(text);
    if (!match) {
        return null;
    }
    const [, year, month, day, hour, minute, second, fraction, zone] = match;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return null;
    }
    let ms = utcTime(Number(year), Number(month), Number(day), Number(hour), Number(minute), Number(second));
    if (new Date(ms).getUTCDate() !== Number(day)) {
        return null; // 31 April and the like
    }
    if (fraction) {
        ms += Math.floor(Number(`0${fraction}`) * 1000);
    }
    if (zone !== "Z") {
        const sign = zone[0] === "-" ? -1 : 1;
        const digits = zone.slice(1).replace(":", "");
        const hours = Number(digits.slice(0, 2));
        const minutes = Number(digits.slice(2));
        if (hours > 23 || minutes > 59) {
            return null;
        }
        ms -= sign * (hours * 60 + minutes) * 60 * 1000;
    }
    return ms;
}

// Date.UTC reads the years 0 to 99 as 1900 to 1999; four hundred years later is the same
// calendar, exactly 146097 days on.
function utcTime(year, month, day, hour, minute, second) {
    return year < 100
        ? Date.UTC(year + 400, month - 1, day, hour, minute, second) - 146097 * 86400000
        : Date.UTC(year, month - 1, day, hour, minute, second);
}

// Whole seconds in UTC, "Z" suffix: the wire form of dates.
function wireDate(ms) {
    const date = new Date(Math.floor(Number(ms) / 1000) * 1000);
    return isNaN(date.getTime()) ? "1970-01-01T00:00:00Z" : date.toISOString().replace(/\.\d{3}Z$/, "Z");
}

async function readLimited(stream, limit) {
    if (!stream) {
        return new Uint8Array(0);
    }
    const reader = stream.getReader();
    const chunks = [];
    let total = 0;
    for (;;) {
        const { done, value } = await reader.read();
        if (done) {
            break;
        }
        total += value.byteLength;
        if (total > limit) {
            await reader.cancel();
            throw new HttpError(413, `The request body is larger than ${limit} bytes.`);
        }
        chunks.push(value);
    }
    const bytes = new Uint8Array(total);
    let offset = 0;
    for (const chunk of chunks) {
        bytes.set(chunk, offset);
        offset += chunk.byteLength;
    }
    return bytes;
}

async function readBody(request, limit) {
    const declared = Number(request.headers.get("Content-Length"));
    if (declared > limit) {
        throw new HttpError(413, `The request body is larger than ${limit} bytes.`);
    }
    return readLimited(request.body, limit);
}

async function readJson(request, limit) {
    const bytes = await readBody(request, limit);
    try {
        return JSON.parse(new TextDecoder("utf-8", { fatal: true }).decode(bytes));
    } catch {
        throw new HttpError(400, "The request body is not JSON.");
    }
}

// Form fields of a urlencoded or multipart body; an empty form for anything else.
async function readForm(request) {
    const bytes = await readBody(request, LIMITS.formBytes);
    const type = (request.headers.get("Content-Type") ?? "").toLowerCase();
    if (bytes.length === 0) {
        return new URLSearchParams();
    }
    if (type.startsWith("multipart/form-data")) {
        try {
            return await new Response(bytes, { headers: { "Content-Type": request.headers.get("Content-Type") } })
                .formData();
        } catch {
            return new URLSearchParams();
        }
    }
    return new URLSearchParams(new TextDecoder().decode(bytes));
}

async function hmacSha256(keyBytes, text) {
    const key = await crypto.subtle.importKey("raw", keyBytes, { name: "HMAC", hash: "SHA-256" }, false, ["sign"]);
    return new Uint8Array(await crypto.subtle.sign("HMAC", key, encoder.encode(text)));
}

function hex(buffer) {
    return Array.from(new Uint8Array(buffer), (b) => b.toString(16).padStart(2, "0")).join("");
}

function bytesToBase64(bytes) {
    let binary = "";
    for (let i = 0; i < bytes.length; i += 0x8000) {
        binary += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    }
    return btoa(binary);
}

function base64ToBytes(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++) {
        bytes[i] = binary.charCodeAt(i);
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Hosted images of issues: content-addressed files the application uploads before a send.
// A name is the first 16 hex digits of the SHA-256 of the bytes and the type's extension, so
// a stored file never changes and may be cached for good. SVG is never accepted: it can carry
// script.

const MEDIA_MAX_BYTES = 1_800_000; // a D1 row holds at most 2 MB
const MEDIA_NAME_PATTERN = /^([0-9a-f]{16})\.(jpg|png|gif|webp)$/;
const MEDIA_TYPES = { jpg: "image/jpeg", png: "image/png", gif: "image/gif", webp: "image/webp" };

// The leading bytes each accepted type must start with (RIFF....WEBP for WebP).
function mediaBytesAre(ext, bytes) {
    const starts = (sig, at = 0) => sig.every((b, i) => bytes[at + i] === b);
    switch (ext) {
        case "jpg":
            return starts([0xff, 0xd8, 0xff]);
        case "png":
            return starts([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
        case "gif":
            return starts([0x47, 0x49, 0x46, 0x38]);
        case "webp":
            return starts([0x52, 0x49, 0x46, 0x46]) && starts([0x57, 0x45, 0x42, 0x50], 8);
        default:
            return false;
    }
}

async function storeMedia(request, env, name) {
    const match = MEDIA_NAME_PATTERN.exec(name);
    if (!match) {
        return jsonResponse(400, { error: "An image name is 16 hex digits and .jpg, .png, .gif or .webp." });
    }
    const [, hash, ext] = match;
    const type = (request.headers.get("Content-Type") ?? "").split(";")[0].trim().toLowerCase();
    if (type !== MEDIA_TYPES[ext]) {
        return jsonResponse(415, {
            error: `Only JPEG, PNG, GIF and WebP images are accepted, as ${MEDIA_TYPES[ext]} for .${ext}.`,
        });
    }
    const bytes = await readBody(request, MEDIA_MAX_BYTES);
    if (!mediaBytesAre(ext, bytes)) {
        return jsonResponse(415, { error: `The bytes are not a ${MEDIA_TYPES[ext]} image.` });
    }
    if (hex(await crypto.subtle.digest("SHA-256", bytes)).slice(0, 16) !== hash) {
        return jsonResponse(400, { error: "The image name does not match its bytes." });
    }
    await database(env).prepare("INSERT INTO media (name, type, bytes, created_at) VALUES (?1, ?2, ?3, ?4) "
        + "ON CONFLICT (name) DO NOTHING").bind(name, type, bytes, Date.now()).run();
    return jsonResponse(200, { stored: name });
}

async function serveMedia(env, name) {
    const missing = () => new Response("There is no image at this address.\n", {
        status: 404,
        headers: { "Content-Type": "text/plain; charset=utf-8", "Cache-Control": "no-store",
            "X-Content-Type-Options": "nosniff" },
    });
    if (!MEDIA_NAME_PATTERN.test(name)) {
        return missing();
    }
    const row = await database(env).prepare("SELECT type, bytes FROM media WHERE name = ?1").bind(name).first();
    if (!row) {
        return missing();
    }
    return new Response(new Uint8Array(row.bytes), {
        headers: {
            "Content-Type": row.type,
            "Cache-Control": "public, max-age=31536000, immutable",
            "X-Content-Type-Options": "nosniff",
            "Content-Security-Policy": "default-src 'none'; sandbox",
        },
    });
}
