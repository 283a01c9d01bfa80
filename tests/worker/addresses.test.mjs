// Every address in the shared list through the signup form: the worker accepts what the
// application accepts (tests/render/tst_email_address.cpp reads the same list) and nothing else.

import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";

import { ROOT, defaultBindings, postForm, startWorker } from "./harness.mjs";

const lists = JSON.parse(fs.readFileSync(path.join(ROOT, "tests/data/addresses.json"), "utf8"));

let worker;
before(async () => {
    worker = await startWorker({ bindings: defaultBindings() });
});
after(async () => {
    await worker?.close();
});

for (const [valid, entries] of [[true, lists.valid], [false, lists.invalid]]) {
    test(`${valid ? "valid" : "invalid"} addresses are ${valid ? "accepted" : "refused with the form"}`, async () => {
        assert.ok(entries.length > 5);
        const wrong = [];
        for (const { address, why } of entries) {
            const response = await postForm(worker, "/", { email: address });
            const formAgain = (await response.text()).includes('id="email-error"');
            if (response.status !== (valid ? 200 : 400) || formAgain === valid) {
                wrong.push(`${JSON.stringify(address)} ${why ?? ""}: ${response.status}`);
            }
        }
        assert.deepEqual(wrong, []);
    });
}
