// Draws an application-like Qt window offscreen and saves it with the exact text it shows, for
// the text-recognition corpus (scripts/make-ocr-corpus.sh).
//   ocr_corpus_window OUTPUT_BASE TEXT_FILE FONT_FAMILY POINT_SIZE LOOK WIDTHxHEIGHT
// writes OUTPUT_BASE.png and OUTPUT_BASE.txt. LOOK "light" or "dark" draws a mail-like window
// (tool buttons, a search field, a folder list with one selected row, a text pane and a status
// line) in that palette; "chat", "editor" and "settings" draw text on dark and coloured panels
// (ocr_corpus_panels.cpp). Only lines that fit whole are shown and written.
#include "ocr_corpus_panels.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTextStream>
#include <QVBoxLayout>

#include <cstdio>

namespace {

QPalette darkPalette()
{
    QPalette palette;
    const auto set = [&](QPalette::ColorRole role, const char *colour) {
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
            palette.setColor(group, role, QColor(colour));
    };
    set(QPalette::Window, "#2b2b2b");
    set(QPalette::WindowText, "#dcdcdc");
    set(QPalette::Base, "#1e1e1e");
    set(QPalette::AlternateBase, "#262626");
    set(QPalette::Text, "#d4d4d4");
    set(QPalette::Button, "#3c3f41");
    set(QPalette::ButtonText, "#e0e0e0");
    set(QPalette::Highlight, "#2f65ca");
    set(QPalette::HighlightedText, "#ffffff");
    return palette;
}

// The selection looks the same whether or not the (offscreen) window is active.
void keepSelectionVisible(QPalette &palette)
{
    for (auto role : { QPalette::Highlight, QPalette::HighlightedText })
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
}

// A mail-like window in the application palette.
CorpusWindow mailWindow(const QStringList &source, QSize size)
{
    QWidget window;
    window.resize(size);
    auto *layout = new QVBoxLayout(&window);
    auto *tools = new QHBoxLayout;
    const QStringList buttons { QStringLiteral("Open"), QStringLiteral("Save"), QStringLiteral("Reply"),
        QStringLiteral("Forward"), QStringLiteral("Settings") };
    for (const QString &label : buttons)
        tools->addWidget(new QPushButton(label));
    auto *search = new QLineEdit(QStringLiteral("quarterly budget review"));
    tools->addWidget(search, 1);
    layout->addLayout(tools);

    auto *body = new QHBoxLayout;
    auto *folders = new QListWidget;
    const QStringList folderNames { QStringLiteral("Inbox"), QStringLiteral("Drafts"), QStringLiteral("Archive"),
        QStringLiteral("Projects"), QStringLiteral("Invoices"), QStringLiteral("Holidays"),
        QStringLiteral("Receipts") };
    folders->addItems(folderNames);
    folders->setCurrentRow(3);
    folders->setMaximumWidth(window.width() / 5);
    body->addWidget(folders);
    auto *pane = new QPlainTextEdit;
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane->setReadOnly(true);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body->addWidget(pane, 1);
    layout->addLayout(body, 1);
    const QString statusText = QStringLiteral("Connected to mail server, messages synchronised");
    layout->addWidget(new QLabel(statusText));

    window.show();
    QApplication::processEvents();

    const QStringList shown = showFittingLines(*pane, source);
    QStringList truth { buttons.join(QLatin1Char(' ')) + QLatin1Char(' ') + search->text() };
    truth << folderNames << shown << statusText;
    return { window.grab().toImage(), truth };
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s OUTPUT_BASE TEXT_FILE FONT_FAMILY POINT_SIZE LOOK WIDTHxHEIGHT\n", argv[0]);
        return 2;
    }
    const QString base = QString::fromLocal8Bit(argv[1]);
    QFile textFile(QString::fromLocal8Bit(argv[2]));
    if (!textFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return 2;
    const QStringList source = QString::fromUtf8(textFile.readAll()).split(QLatin1Char('\n'));
    const QStringList sizeParts = QString::fromLatin1(argv[6]).split(QLatin1Char('x'));
    const QSize size(sizeParts.value(0).toInt(), sizeParts.value(1).toInt());
    const QString look = QString::fromLatin1(argv[5]);

    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette palette = look == QLatin1String("dark") ? darkPalette() : QApplication::style()->standardPalette();
    keepSelectionVisible(palette);
    QApplication::setPalette(palette);
    QApplication::setFont(QFont(QString::fromLocal8Bit(argv[3]), QString::fromLatin1(argv[4]).toInt()));

    const bool mail = look == QLatin1String("light") || look == QLatin1String("dark");
    const CorpusWindow window = mail ? mailWindow(source, size) : drawPanelWindow(look, source, size);
    if (window.image.isNull()) {
        std::fprintf(stderr, "%s: unknown look %s\n", argv[0], argv[5]);
        return 2;
    }
    if (!window.image.save(base + QStringLiteral(".png")))
        return 3;
    QFile truth(base + QStringLiteral(".txt"));
    if (!truth.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return 3;
    QTextStream(&truth) << window.truth.join(QLatin1Char('\n')) << '\n';
    return 0;
}
