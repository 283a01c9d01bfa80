#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace quillmere::HTTPText {

// RFC 9110 token characters: what a method or header name may hold.
bool isToken(QStringView text);

// A value with a line break or NUL would let its text smuggle further headers onto the wire.
bool isSafeHeaderValue(QStringView text);

// Header bytes are usually ASCII; UTF-8 when they decode as such, Latin-1 otherwise, so no
// byte is ever lost.
QString headerText(const QByteArray& bytes);

} // namespace quillmere::HTTPText
