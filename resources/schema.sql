-- Database of the signup worker. Applied on every deployment, so every statement must be safe
-- to run again on a database that already holds readers and issues.
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

CREATE TABLE IF NOT EXISTS issues (
    slug TEXT PRIMARY KEY NOT NULL,
    subject TEXT NOT NULL,
    html TEXT NOT NULL,
    published_at INTEGER NOT NULL,
    updated_at INTEGER NOT NULL
);

CREATE INDEX IF NOT EXISTS issues_by_date ON issues (published_at, slug);

-- When a confirmation mail last went to an address, so the public form cannot be used to
-- flood someone's inbox.
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
