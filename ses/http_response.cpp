#include "ses/http_response.h"

namespace quillmere {

std::optional<QString> HTTPResponse::headerValue(const QString& name) const {
    const QString wanted = name.toLower();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it) {
        if (it.key().toLower() == wanted) {
            return it.value();
        }
    }
    return std::nullopt;
}

} // namespace quillmere
