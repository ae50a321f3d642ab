#include "ui/AlertDialog.h"

#include "ui/SymbolIcons.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace pellux {

namespace {

// The colours, sizes and radii of the QML Theme and PushButton, so that an alert looks like the
// window it belongs to.
const QString kStyle = QStringLiteral(R"(
QDialog#pelluxAlert { background: #ffffff; }
QLabel { color: rgba(0, 0, 0, 217); font-size: 13px; }
QLabel#alertMessage { font-size: 15px; font-weight: 600; }
QPushButton {
    min-height: 20px; padding: 4px 14px; font-size: 13px;
    color: rgba(0, 0, 0, 217); background: #ffffff;
    border: 1px solid rgba(0, 0, 0, 38); border-radius: 6px;
}
QPushButton:pressed { background: #ebebeb; }
QPushButton:focus { border: 2px solid rgba(0, 122, 255, 128); padding: 3px 13px; }
QPushButton[prominent="true"] { color: #ffffff; background: #007aff; border: 1px solid #007aff; }
QPushButton[prominent="true"]:pressed { background: #006adf; }
QPushButton[destructive="true"] { color: #ff3b30; }
)");

constexpr int kIconSize = 40;
constexpr int kIconGap = 16;
constexpr int kMargin = 20;
// The text column: as wide as the message up to this, then the message wraps too.
constexpr int kMinTextWidth = 320;
constexpr int kMaxTextWidth = 460;
// The window manager draws the message again as the title, beside its own buttons.
constexpr int kTitleBarControls = 140;

QPixmap alertIcon(QMessageBox::Icon icon)
{
    if (icon == QMessageBox::Warning || icon == QMessageBox::Critical) {
        const QImage warning
            = symbolImage(QStringLiteral("exclamationmark.triangle"), QSize(kIconSize, kIconSize), QColor(0xff9500));
        if (!warning.isNull())
            return QPixmap::fromImage(warning);
    }
    return QIcon(QStringLiteral(":/Pellux/images/pellux.svg")).pixmap(kIconSize, kIconSize);
}

QLabel *plainLabel(const QString &text, const char *name)
{
    auto *label = new QLabel(text);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

AlertDialog::AlertDialog(QMessageBox::Icon icon, const QString &message, const QString &informativeText,
    const std::vector<AlertButton> &buttons, int defaultButton, int escapeButton, QWidget *parent)
    : QDialog(parent)
    , m_escape(escapeButton)
{
    setObjectName(QStringLiteral("pelluxAlert"));
    setWindowTitle(message);
    setStyleSheet(kStyle);
    setModal(true);

    m_message = plainLabel(message, "alertMessage");
    m_text = plainLabel(informativeText, "alertText");
    m_text->setVisible(!informativeText.isEmpty());
    auto *iconLabel = new QLabel;
    iconLabel->setObjectName(QStringLiteral("alertIcon"));
    iconLabel->setPixmap(alertIcon(icon));
    iconLabel->setFixedSize(kIconSize, kIconSize);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    texts->addWidget(m_message);
    texts->addWidget(m_text);
    auto *top = new QHBoxLayout;
    top->setSpacing(kIconGap);
    top->addWidget(iconLabel, 0, Qt::AlignTop);
    top->addLayout(texts, 1);

    // Return never destroys: a destructive answer is only ever chosen on purpose.
    m_default = buttons[size_t(defaultButton)].role == QMessageBox::DestructiveRole ? escapeButton : defaultButton;
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    for (size_t i = 0; i < buttons.size(); ++i) {
        auto *button = new QPushButton(buttons[i].title);
        const bool destructive = buttons[i].role == QMessageBox::DestructiveRole;
        button->setProperty("destructive", destructive);
        button->setProperty("prominent", int(i) == m_default);
        button->setAutoDefault(!destructive);
        button->setDefault(int(i) == m_default);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, [this, i] {
            m_chosen = int(i);
            emit answered(m_chosen);
            accept();
        });
        row->addWidget(button);
        m_buttons << button;
    }

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin - 2);
    layout->setSpacing(18);
    layout->addLayout(top);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // Measured in the fonts the style sheet gives them.
    m_message->ensurePolished();
    const int messageWidth = QFontMetrics(m_message->font()).horizontalAdvance(message) + 8;
    const int titleWidth
        = QFontMetrics(font()).horizontalAdvance(message) + kTitleBarControls - kIconSize - kIconGap - 2 * kMargin;
    const int textWidth = std::clamp(std::max(messageWidth, titleWidth), kMinTextWidth, kMaxTextWidth);
    m_message->setFixedWidth(textWidth);
    m_text->setFixedWidth(textWidth);

    m_buttons[m_default]->setFocus();
}

int AlertDialog::run()
{
    m_chosen = -1;
    exec();
    return m_chosen < 0 ? m_escape : m_chosen;
}

QString AlertDialog::message() const { return m_message->text(); }

QString AlertDialog::informativeText() const { return m_text->text(); }

} // namespace pellux
