#pragma once

#include <QString>

#include <optional>

namespace quillmere::WorkerResources {

// The signup worker's script and database schema, built into the application as Qt resources
// from resources/worker.js and resources/schema.sql. None when a resource is missing or is not
// valid UTF-8.
std::optional<QString> script();
std::optional<QString> schema();

} // namespace quillmere::WorkerResources
