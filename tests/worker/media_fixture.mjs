// A real image and the name the application gives it (first 16 hex digits of its SHA-256).

import crypto from "node:crypto";

export const PIXEL_PNG = Buffer.from(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==",
    "base64",
);

export function mediaName(bytes, ext) {
    return `${crypto.createHash("sha256").update(bytes).digest("hex").slice(0, 16)}.${ext}`;
}
