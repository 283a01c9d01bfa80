#include "ui/setup/production_access_view.h"

#include "app/app_model.h"
#include "app/production_access.h"
#include "ui/onboarding/instruction_row.h"
#include "ui/widgets/copy_button.h"
#include "ui/widgets/form_section.h"
#include "ui/widgets/grouped_form.h"
#include "ui/widgets/style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSplitter>
#include <QVBoxLayout>

namespace quillmere {

namespace {
constexpr int minimumPaneWidth = 380;
}

ProductionAccessView::ProductionAccessView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_website(new QLineEdit(this))
    , m_listSource(new QPlainTextEdit(ProductionAccess::defaultListSource, this))
    , m_volume(new QLineEdit(ProductionAccess::defaultVolume, this))
    , m_request(new QLabel(this))
    , m_copy(new CopyButton(
          tr("Copy"), [this] { return requestText(); }, this)) {
    auto* title = new QLabel(tr("Production Access"), this);
    title->setObjectName(QStringLiteral("screenTitle"));
    title->setFont(Style::title(title, 1.3));

    // Left: why, how, and the three answers.
    auto* form = new GroupedForm({}, this);
    form->setMinimumWidth(minimumPaneWidth);
    FormSection* why = form->addSection(tr("Why this matters"));
    auto* intro =
        new QLabel(tr("New SES accounts are in the sandbox. AWS reviews a short written request "
                      "before lifting the limits, and vague requests are often refused. "
                      "Specifics about consent, unsubscribes and bounce handling get approved."),
                   why);
    intro->setWordWrap(true);
    why->addRow(intro);
    const QStringList steps{
        tr("Open the SES console, Account dashboard, Request production access."),
        tr("Mail type: Marketing. Website URL: a live page with your signup form."),
        tr("Paste the use case text on the right. Answer follow-up questions within a "
           "day."),
        tr("Until approved, use test sends to verified addresses (sandbox mode)."),
    };
    for (qsizetype i = 0; i < steps.size(); ++i) {
        why->addRow(new InstructionRow(i + 1, steps.at(i), why));
    }
    FormSection* details = form->addSection(tr("Your details"));
    m_website->setObjectName(QStringLiteral("website"));
    m_website->setPlaceholderText(tr("https://tuesdayletter.com"));
    m_listSource->setObjectName(QStringLiteral("listSource"));
    m_listSource->setTabChangesFocus(true);
    m_listSource->setFixedHeight(m_listSource->fontMetrics().lineSpacing() * 4 + 12);
    m_volume->setObjectName(QStringLiteral("volume"));
    details->setLabelsAbove(true);
    details->addRow(tr("Website"), m_website);
    details->addRow(tr("Where subscribers come from"), m_listSource);
    details->addRow(tr("Expected volume"), m_volume);

    // Right: the request, as it will be pasted.
    auto* right = new QScrollArea(this);
    right->setObjectName(QStringLiteral("requestPane"));
    right->setMinimumWidth(minimumPaneWidth);
    right->setWidgetResizable(true);
    right->setFrameShape(QFrame::NoFrame);
    auto* pane = new QWidget(right);
    auto* heading = new QLabel(tr("Request text"), pane);
    heading->setFont(Style::headline(heading));
    m_copy->setObjectName(QStringLiteral("copyRequest"));
    m_request->setObjectName(QStringLiteral("requestText"));
    m_request->setWordWrap(true);
    m_request->setTextFormat(Qt::PlainText);
    m_request->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_request->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* headingRow = new QHBoxLayout;
    headingRow->addWidget(heading);
    headingRow->addStretch(1);
    headingRow->addWidget(m_copy);
    auto* paneLayout = new QVBoxLayout(pane);
    paneLayout->setContentsMargins(20, 20, 20, 20);
    paneLayout->setSpacing(12);
    paneLayout->addLayout(headingRow);
    paneLayout->addWidget(m_request);
    paneLayout->addStretch(1);
    right->setWidget(pane);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    split->addWidget(form);
    split->addWidget(right);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 16, 0, 0);
    layout->setSpacing(4);
    auto* titleRow = new QHBoxLayout;
    titleRow->setContentsMargins(24, 0, 24, 0);
    titleRow->addWidget(title);
    layout->addLayout(titleRow);
    layout->addWidget(split, 1);

    connect(m_website, &QLineEdit::textChanged, this, &ProductionAccessView::refresh);
    connect(m_listSource, &QPlainTextEdit::textChanged, this, &ProductionAccessView::refresh);
    connect(m_volume, &QLineEdit::textChanged, this, &ProductionAccessView::refresh);
    connect(&m_model, &AppModel::profileChanged, this, &ProductionAccessView::refresh);
    connect(static_cast<CopyButton*>(m_copy), &CopyButton::copied, this,
            [this] { m_model.showStatus(tr("Request copied. Paste it into the SES console.")); });
    refresh();
}

QString ProductionAccessView::requestText() const {
    return ProductionAccess::requestText(m_model.library().profile, m_website->text(),
                                         m_listSource->toPlainText(), m_volume->text());
}

void ProductionAccessView::refresh() {
    m_request->setText(requestText());
}

} // namespace quillmere
