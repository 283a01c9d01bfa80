#include "core/error.h"

namespace quillmere {

Error::Error(QString description)
    : m_description(std::move(description))
    , m_utf8(m_description.toUtf8()) {}

} // namespace quillmere
