// Applies SQL text the way D1's query endpoint does: several statements separated by ";",
// run as one batch. Miniflare's D1Database.exec reads one statement per line, so the text is
// split here, minding comments and quoted text.

export function splitSql(sql) {
    const statements = [];
    let current = "";
    let i = 0;
    while (i < sql.length) {
        const c = sql[i];
        if (c === "-" && sql[i + 1] === "-") {
            const end = sql.indexOf("\n", i);
            i = end < 0 ? sql.length : end + 1;
            current += "\n";
            continue;
        }
        if (c === "/" && sql[i + 1] === "*") {
            const end = sql.indexOf("*/", i + 2);
            i = end < 0 ? sql.length : end + 2;
            current += " ";
            continue;
        }
        if (c === "'" || c === '"' || c === "`") {
            let j = i + 1;
            while (j < sql.length) {
                if (sql[j] === c) {
                    if (sql[j + 1] === c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                j++;
            }
            current += sql.slice(i, j + 1);
            i = j + 1;
            continue;
        }
        if (c === ";") {
            if (current.trim()) {
                statements.push(current.trim());
            }
            current = "";
            i++;
            continue;
        }
        current += c;
        i++;
    }
    if (current.trim()) {
        statements.push(current.trim());
    }
    return statements;
}

export async function applySql(db, sql) {
    const statements = splitSql(sql);
    if (statements.length === 0) {
        return [];
    }
    return db.batch(statements.map((s) => db.prepare(s)));
}
