#!/usr/bin/env node
// A tiny authoritative name server on loopback for tests that look records up in DNS. It binds
// UDP port 53 (the port QDnsLookup asks; binding it needs root) on a random address in
// 127.0.0.0/8, so it never meets the system's resolver or another test's server.
//
//   node dns_server.mjs RECORDS.json
// RECORDS.json maps lower-case names (no trailing dot) to their TXT strings:
//   {"example.com": ["v=spf1 include:amazonses.com ~all"], "_dmarc.example.com": [...]}
// and is read again for every query, so a test can change what DNS answers. Prints
// {"address": "127.x.y.z"} when ready, or {"error": "..."}, and stops when standard input closes.

import dgram from "node:dgram";
import fs from "node:fs";

const recordsFile = process.argv[2];

function readName(packet, offset) {
    const labels = [];
    while (offset < packet.length) {
        const length = packet[offset];
        offset += 1;
        if (length === 0) return { name: labels.join(".").toLowerCase(), offset };
        labels.push(packet.subarray(offset, offset + length).toString("latin1"));
        offset += length;
    }
    throw new Error("truncated name");
}

function records() {
    try {
        return JSON.parse(fs.readFileSync(recordsFile, "utf8"));
    } catch {
        return {};
    }
}

function answer(query) {
    const { name, offset } = readName(query, 12);
    const type = query.readUInt16BE(offset);
    const question = query.subarray(12, offset + 4);
    const known = records();
    const exists = Object.hasOwn(known, name);
    const texts = exists && type === 16 ? known[name] : [];
    const answers = texts.map((text) => {
        const bytes = Buffer.from(text, "utf8");
        const chunks = [];
        for (let i = 0; i < bytes.length || i === 0; i += 255) {
            const chunk = bytes.subarray(i, i + 255);
            chunks.push(Buffer.from([chunk.length]), chunk);
        }
        const data = Buffer.concat(chunks);
        // The name (a pointer to the question's), TXT, IN, a TTL of 60 s and the data's length.
        const head = Buffer.from([0xc0, 0x0c, 0, 16, 0, 1, 0, 0, 0, 60, data.length >> 8, data.length & 0xff]);
        return Buffer.concat([head, data]);
    });
    // The query's id; a response, authoritative, with the query's recursion-desired bit; recursion
    // available, NXDOMAIN for unknown names; one question and the answers.
    const header = Buffer.from([query[0], query[1], 0x84 | (query[2] & 0x01), 0x80 | (exists ? 0 : 3), 0, 1,
        answers.length >> 8, answers.length & 0xff, 0, 0, 0, 0]);
    return Buffer.concat([header, question, ...answers]);
}

function tryBind(attempt) {
    const address = `127.${100 + Math.floor(Math.random() * 150)}.${Math.floor(Math.random() * 256)}.${
        1 + Math.floor(Math.random() * 250)
    }`;
    const socket = dgram.createSocket("udp4");
    socket.on("error", (error) => {
        socket.close();
        if (attempt < 10 && error.code === "EADDRINUSE") {
            tryBind(attempt + 1);
        } else {
            console.log(JSON.stringify({ error: `${error.code ?? ""} ${error.message}` }));
            process.exit(0);
        }
    });
    socket.on("message", (message, remote) => {
        try {
            socket.send(answer(message), remote.port, remote.address);
        } catch {
            // A malformed query gets no answer, as from a real server that drops it.
        }
    });
    socket.bind(53, address, () => console.log(JSON.stringify({ address })));
}

process.stdin.on("end", () => process.exit(0));
process.stdin.resume();
tryBind(0);
