// Applies SQL text the way D1's query endpoint does: several statements separated by ";",
// run as one batch. Miniflare's D1Database.exec reads one statement per line, so the text is
// split here, minding comments and quoted text.

export function splitSql(sql) {
    const statements = [];
    let current = "";
    const end = () => {
        if (current.trim()) statements.push(current.trim());
        current = "";
    };
    // A comment, quoted text (quotes doubled inside), the end of a statement, or anything else.
    for (const [token] of sql.matchAll(
        /--[^\n]*\n?|\/\*[\s\S]*?(?:\*\/|$)|'(?:[^']|'')*'?|"(?:[^"]|"")*"?|`(?:[^`]|``)*`?|;|[^-/'"`;]+|[\s\S]/g,
    )) {
        if (token === ";") end();
        else current += token.startsWith("--") ? "\n" : token.startsWith("/*") ? " " : token;
    }
    end();
    return statements;
}

export async function applySql(db, sql) {
    const statements = splitSql(sql);
    if (statements.length === 0) return [];
    return db.batch(statements.map((s) => db.prepare(s)));
}
