#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace quillmere::MediaReference {

// Images of issues live in the library folder as media/<name>, where the name is the first 16
// hex digits of the SHA-256 of the file's bytes and the extension of its type. Emails and the
// archive point at the copy the worker hosts under the same name.

// The largest file the worker can host (one D1 row holds at most 2 MB).
constexpr qsizetype maxHostedBytes = 1'800'000;

// "0123456789abcdef.png": 16 lower-case hex digits and jpg, png, gif or webp.
bool isName(QStringView name);
// The name of "media/<name>", when an image destination is exactly that.
std::optional<QString> nameOfDestination(QStringView destination);
// The name bytes of a given extension are stored under.
QString nameFor(const QByteArray& bytes, const QString& extension);
// "image/png" for "x.png"; empty for anything not hosted.
QString contentType(QStringView name);

// The distinct media names an issue's Markdown shows as images, sorted (a destination inside
// code is no image).
QStringList names(const QString& markdown);

// Where media/<name> images point: the worker base without trailing "/", or a local folder's
// file URL for the preview. Empty means "nowhere": such images show their description only.
QString workerMediaBase(const QString& workerBaseURL);

} // namespace quillmere::MediaReference
