// Reads every .eml file in a folder with npm mailparser and prints, as one JSON array, what a
// mail client would take from each: subject, sender, recipients, unsubscribe targets and both
// bodies.
import { simpleParser } from "mailparser";
import { readdirSync, readFileSync } from "node:fs";
import { join } from "node:path";

const folder = process.argv[2];
const out = [];
for (const file of readdirSync(folder).filter((f) => f.endsWith(".eml")).sort()) {
    const mail = await simpleParser(readFileSync(join(folder, file)));
    const from = mail.from?.value?.[0];
    const list = mail.headers.get("list") || {};
    const post = mail.headerLines.find((h) => h.key === "list-unsubscribe-post");
    out.push({
        file,
        defects: [],
        subject: mail.subject ?? null,
        fromName: from?.name ?? null,
        fromAddress: from?.address ?? null,
        to: mail.to?.value?.[0]?.address ?? null,
        replyTo: mail.replyTo?.value?.[0]?.address ?? null,
        // Shaped like the Python reader's list, so both answers compare the same way.
        listUnsubscribe: [
            list.unsubscribe?.url,
            list.unsubscribe?.mail && `mailto:${list.unsubscribe.mail}`,
        ].filter((target) => target),
        listUnsubscribePost: post ? post.line.slice(post.line.indexOf(":") + 1).trim() : "",
        text: mail.text ?? null,
        html: mail.html === false ? null : mail.html,
    });
}
process.stdout.write(JSON.stringify(out));
