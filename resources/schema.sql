-- Database of the signup worker. Applied on every deployment, so every statement must be safe
-- to run again on a database that already holds readers and issues, including one made by an
-- earlier version of this file.
-- Times are milliseconds since 1970 (UTC); the API writes them as whole-second ISO 8601 text.

CREATE TABLE IF NOT EXISTS subscribers (
    email TEXT PRIMARY KEY NOT NULL,
    id TEXT NOT NULL,
    name TEXT NOT NULL DEFAULT '',
    status TEXT NOT NULL DEFAULT 'pending'
        CHECK (status IN ('pending', 'active', 'unsubscribed', 'bounced', 'complained')),
    source TEXT NOT NULL DEFAULT 'signup-form',
    created_at INTEGER NOT NULL,
    updated_at INTEGER NOT NULL
);

-- Pulls read changes in (updated_at, email) order from a given instant.
CREATE INDEX IF NOT EXISTS subscribers_by_update ON subscribers (updated_at, email);

-- Earlier versions took pushed dates as they came: a record dated in the future would never
-- change again. Such dates become now.
UPDATE subscribers SET updated_at = CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)
WHERE updated_at > CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER);

CREATE TABLE IF NOT EXISTS issues (
    slug TEXT PRIMARY KEY NOT NULL,
    subject TEXT NOT NULL,
    html TEXT NOT NULL,
    published_at INTEGER NOT NULL,
    updated_at INTEGER NOT NULL
);

CREATE INDEX IF NOT EXISTS issues_by_date ON issues (published_at, slug);

-- Signups of the last hour, by client address and mailbox, for the caps on confirmation mail.
CREATE TABLE IF NOT EXISTS signup_log (
    at INTEGER NOT NULL,
    client TEXT NOT NULL,
    mailbox TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS signup_log_by_time ON signup_log (at);
CREATE INDEX IF NOT EXISTS signup_log_by_client ON signup_log (client, at);
CREATE INDEX IF NOT EXISTS signup_log_by_mailbox ON signup_log (mailbox, at);

-- When an address last asked for a confirmation link; the link works for seven days after.
CREATE TABLE IF NOT EXISTS signup_requests (
    email TEXT PRIMARY KEY NOT NULL,
    requested_at INTEGER NOT NULL
);

-- SNS messages already handled, so a retried or replayed one changes nothing.
CREATE TABLE IF NOT EXISTS sns_messages (
    message_id TEXT PRIMARY KEY NOT NULL,
    handled_at INTEGER NOT NULL,
    attempt TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS sns_messages_by_time ON sns_messages (handled_at);

-- The last failed confirmation mail ("mail") and SNS handling ("sns"), for the writer.
CREATE TABLE IF NOT EXISTS worker_failures (
    kind TEXT PRIMARY KEY NOT NULL,
    at INTEGER NOT NULL,
    message TEXT NOT NULL
);

-- No longer used; kept because the previous worker version may still serve a few requests
-- while a deployment replaces it.
CREATE TABLE IF NOT EXISTS confirmation_mail (
    email TEXT PRIMARY KEY NOT NULL,
    sent_at INTEGER NOT NULL
);

-- Images of issues, served at /media/<name>; the name is derived from the bytes, so rows are
-- only ever added.
CREATE TABLE IF NOT EXISTS media (
    name TEXT PRIMARY KEY NOT NULL,
    type TEXT NOT NULL,
    bytes BLOB NOT NULL,
    created_at INTEGER NOT NULL
);
