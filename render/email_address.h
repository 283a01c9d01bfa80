#pragma once

#include <QString>

#include <optional>

namespace quillmere::EmailAddress {

// The one address check of the system: a plain local part of the usual characters and an
// ASCII domain of at least two labels ending in letters. Surrounding white space is ignored.
bool isValid(QStringView address);

// The form an address is stored, compared and signed in: trimmed and lower-cased.
QString normalised(const QString& address);

// A domain as the writer typed it (a sending domain), in the form SES is asked about and From
// addresses are checked against: without surrounding white space of any kind, lower-cased.
QString normalisedDomain(QStringView typed);

// The lower-cased part after "@", when the trimmed text splits into exactly two non-empty pieces.
std::optional<QString> domain(QStringView address);

} // namespace quillmere::EmailAddress
