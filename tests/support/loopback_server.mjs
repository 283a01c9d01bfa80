// The small HTTP servers the tests start on loopback share this: listen on a free port, print
// {"url": "http://127.0.0.1:PORT"} once listening, stop when standard input closes or on a signal.
import http from "node:http";

export function readBody(stream) {
    return new Promise((resolve, reject) => {
        const chunks = [];
        stream.on("data", (chunk) => chunks.push(chunk));
        stream.on("end", () => resolve(Buffer.concat(chunks)));
        stream.on("error", reject);
    });
}

// `handle(request, response, body)` may be async; `onStop` (may be async) runs before the
// process exits; `describe(url)` is the line printed once listening.
export function serve(handle, onStop = () => {}, describe = (url) => ({ url })) {
    const server = http.createServer(async (request, response) => {
        await handle(request, response, await readBody(request));
    });
    server.keepAliveTimeout = 60000;
    server.listen(0, "127.0.0.1", () => {
        process.stdout.write(`${JSON.stringify(describe(`http://127.0.0.1:${server.address().port}`))}\n`);
    });
    stopWhenToldTo(async () => {
        server.close();
        await onStop();
    });
    return server;
}

// A test's peer ends when the test closes its standard input (or dies), or on a signal: `stop`
// (may be async) runs once, then the process exits.
export function stopWhenToldTo(stop) {
    let stopping = false;
    const once = async () => {
        if (stopping) return;
        stopping = true;
        await stop();
        process.exit(0);
    };
    process.stdin.on("end", once);
    process.stdin.on("error", once);
    process.stdin.resume();
    process.on("SIGTERM", once);
    process.on("SIGINT", once);
}
