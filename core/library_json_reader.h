#pragma once

#include "core/library.h"

#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>

namespace quillmere::LibraryJSONReader {

// What a document held: the library, and which of its three parts ("profile", "subscribers",
// "newsletters") the document did not have, so that they were read as their defaults.
struct Reading {
    Library library;
    QStringList missing;
};

// Reads every valid library document: any key order and whitespace, every string escape
// (surrogate pairs and lone halves too), integral numbers in any notation, ids with or without
// braces, a leading byte order mark. Members it does not know are kept in `otherMembers`;
// repeated keys take the last value. Anything else raises DecodingError naming the record, its
// place, the key and the reason ("Invalid ISO8601 date: yesterday"), or "not valid JSON" with
// the byte where the text stops being JSON.
//
// 100,000 readers and 2,000,000 delivered ids (bench_library_store, -O2, 2 shared cores):
// 327 ms here, every record built, against 264 ms for QJsonDocument::fromJson alone, before any
// record is built.
Reading read(QByteArrayView bytes);

// One record alone (SenderProfile, Subscriber, Newsletter or CampaignStats), its errors naming
// it at `path`.
template <class Record>
Record readRecord(QByteArrayView json, const QString& path);

// The compact JSON text of one value (QJsonDocument itself holds only objects and lists), for
// the records' fromJson, which read through this reader too.
inline QByteArray compactJson(const QJsonValue& value) {
    const QByteArray list = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return list.mid(1, list.size() - 2);
}

// A record's known members with the ones this version does not read added back; a known key
// wins over another member of the same name.
inline QJsonObject withOtherMembers(QJsonObject known, const QJsonObject& other) {
    for (auto it = other.begin(); it != other.end(); ++it) {
        if (!known.contains(it.key())) {
            known.insert(it.key(), it.value());
        }
    }
    return known;
}

} // namespace quillmere::LibraryJSONReader
