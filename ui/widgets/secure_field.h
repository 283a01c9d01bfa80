#pragma once

#include <QLineEdit>

namespace quillmere {

// A single-line field for a secret (an access key, an API token): the text is masked, cannot
// be copied or dragged out, and is kept from input-method prediction and history.
class SecureField : public QLineEdit {
    Q_OBJECT

public:
    explicit SecureField(const QString& placeholder = {}, QWidget* parent = nullptr);
};

} // namespace quillmere
