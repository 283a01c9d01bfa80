#!/usr/bin/env node
// A stand-in for AWS STS on loopback: GetCallerIdentity answers the account of the access key
// the request was signed with (Signature Version 4 for service "sts"), as STS does, and refuses
// unknown keys with InvalidClientTokenId.
//
//   node sts_stub.mjs '{"<access key id>": "<12-digit account>", ...}'
// prints {"url": "http://127.0.0.1:PORT"} and stops when its standard input closes.

import { serve } from "./loopback_server.mjs";

const accounts = JSON.parse(process.argv[2] ?? "{}");

function xml(status, body) {
    return { status, body: `<?xml version="1.0" encoding="UTF-8"?>\n${body}\n` };
}

function answer(request, body) {
    const credential =
        /^AWS4-HMAC-SHA256 Credential=([^/]+)\/\d{8}\/[a-z0-9-]+\/sts\/aws4_request, SignedHeaders=[^,]+, Signature=[0-9a-f]{64}$/
            .exec(request.headers.authorization ?? "");
    const form = new URLSearchParams(body);
    if (request.method !== "POST" || form.get("Action") !== "GetCallerIdentity" || !credential) {
        return xml(400, '<ErrorResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/"><Error><Type>Sender</Type>'
            + "<Code>InvalidAction</Code><Message>Could not find operation for this request</Message></Error></ErrorResponse>");
    }
    const account = accounts[credential[1]];
    if (!account) {
        return xml(403, '<ErrorResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/"><Error><Type>Sender</Type>'
            + "<Code>InvalidClientTokenId</Code><Message>The security token included in the request is invalid.</Message>"
            + "</Error><RequestId>00000000-0000-0000-0000-000000000000</RequestId></ErrorResponse>");
    }
    return xml(200,
        '<GetCallerIdentityResponse xmlns="https://sts.amazonaws.com/doc/2011-06-15/"><GetCallerIdentityResult>'
            + `<Arn>arn:aws:iam::${account}:user/newsletter</Arn><UserId>AIDA${account}</UserId><Account>${account}</Account>`
            + "</GetCallerIdentityResult><ResponseMetadata><RequestId>00000000-0000-0000-0000-000000000000</RequestId>"
            + "</ResponseMetadata></GetCallerIdentityResponse>");
}

serve((request, response, body) => {
    const { status, body: text } = answer(request, body.toString("utf8"));
    response.writeHead(status, { "Content-Type": "text/xml", "Content-Length": Buffer.byteLength(text) });
    response.end(text);
});
