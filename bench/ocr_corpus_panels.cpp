#include "ocr_corpus_panels.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QLabel *styledLabel(const QString &text, const QString &style)
{
    auto *label = new QLabel(text);
    label->setStyleSheet(style);
    return label;
}

QPlainTextEdit *plainPane(const QString &style)
{
    auto *pane = new QPlainTextEdit;
    pane->setLineWrapMode(QPlainTextEdit::NoWrap);
    pane->setReadOnly(true);
    pane->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    pane->setStyleSheet(style);
    return pane;
}

// Lays the window out at its size so that the panes know how many lines they show.
void layOut(QWidget &window, QSize size)
{
    window.resize(size);
    window.show();
    QApplication::processEvents();
}

// A chat window: a saturated purple sidebar of channels and people beside a light message pane.
CorpusWindow chatWindow(const QStringList &text, QSize size)
{
    QWidget window;
    auto *layout = new QHBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *sidebar = new QWidget;
    sidebar->setObjectName(QStringLiteral("sidebar"));
    sidebar->setStyleSheet(QStringLiteral("#sidebar { background: #3f0e40; }"));
    sidebar->setFixedWidth(240);
    auto *side = new QVBoxLayout(sidebar);
    const QString workspace = QStringLiteral("Northwind Labs");
    side->addWidget(styledLabel(workspace, QStringLiteral("color: white; font-weight: bold; padding: 8px;")));
    auto *channels = new QListWidget;
    channels->setStyleSheet(QStringLiteral("QListWidget { background: #3f0e40; color: #cfc3cf; border: none; }"
                                           "QListWidget::item { padding: 3px; }"
                                           "QListWidget::item:selected { background: #1164a3; color: white; }"));
    const QStringList rows { QStringLiteral("Channels"), QStringLiteral("# general"), QStringLiteral("# design-review"),
        QStringLiteral("# incident-4471"), QStringLiteral("# releases"), QStringLiteral("# random"),
        QStringLiteral("# support-escalations"), QStringLiteral("Direct messages"), QStringLiteral("Alice Martin"),
        QStringLiteral("Bongani Dlamini"), QStringLiteral("Chen Wei"), QStringLiteral("Dana Kowalski"),
        QStringLiteral("Esteban Ruiz") };
    channels->addItems(rows);
    for (int header : { 0, 7 }) {
        QFont bold = channels->font();
        bold.setBold(true);
        channels->item(header)->setFont(bold);
        channels->item(header)->setFlags(Qt::ItemIsEnabled);
    }
    channels->setCurrentRow(2);
    side->addWidget(channels, 1);
    layout->addWidget(sidebar);

    auto *main = new QVBoxLayout;
    main->setContentsMargins(8, 8, 8, 8);
    const QString channel = QStringLiteral("# design-review");
    main->addWidget(styledLabel(channel, QStringLiteral("font-weight: bold;")));
    const QString topic = QStringLiteral("Mockups for the onboarding flow, due Thursday");
    main->addWidget(styledLabel(topic, QStringLiteral("color: #616061;")));
    QPlainTextEdit *messages = plainPane(QStringLiteral("background: white; color: #1d1c1d;"));
    main->addWidget(messages, 1);
    auto *input = new QLineEdit(QStringLiteral("Message design-review"));
    main->addWidget(input);
    layout->addLayout(main, 1);

    layOut(window, size);
    const QStringList shown = showFittingLines(*messages, text);
    QStringList truth { workspace };
    truth << rows << channel << topic << shown << input->text();
    return { window.grab().toImage(), truth };
}

// An editor: a dark file tree beside a dark code pane, a dark tab row and a blue status bar.
CorpusWindow editorWindow(const QStringList &text, QSize size)
{
    QWidget window;
    window.setObjectName(QStringLiteral("editor"));
    window.setStyleSheet(QStringLiteral("#editor { background: #333333; }"));
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto *body = new QHBoxLayout;
    body->setSpacing(0);

    auto *tree = new QTreeWidget;
    tree->setHeaderHidden(true);
    tree->setFixedWidth(230);
    tree->setStyleSheet(QStringLiteral("QTreeWidget { background: #252526; color: #cccccc; border: none; }"
                                       "QTreeWidget::item:selected { background: #094771; color: white; }"));
    const QString project = QStringLiteral("library-tools");
    auto *root = new QTreeWidgetItem(tree, { project });
    const std::pair<QString, QStringList> folders[] = {
        { QStringLiteral("docs"), { QStringLiteral("changelog.md"), QStringLiteral("usage.md") } },
        { QStringLiteral("source"),
            { QStringLiteral("textwrap.py"), QStringLiteral("decoder.py"), QStringLiteral("shutil.py"),
                QStringLiteral("argparse.py") } },
        { QStringLiteral("tests"), { QStringLiteral("test_wrapping.py"), QStringLiteral("test_decoder.py") } },
    };
    QStringList treeRows { project };
    QTreeWidgetItem *selected = nullptr;
    for (const auto &[folder, files] : folders) {
        auto *item = new QTreeWidgetItem(root, { folder });
        treeRows << folder;
        for (const QString &file : files) {
            auto *leaf = new QTreeWidgetItem(item, { file });
            treeRows << file;
            if (file == QStringLiteral("textwrap.py"))
                selected = leaf;
        }
    }
    for (const QString &file : { QStringLiteral("README.md"), QStringLiteral("pyproject.toml") }) {
        new QTreeWidgetItem(root, { file });
        treeRows << file;
    }
    tree->expandAll();
    tree->setCurrentItem(selected);
    body->addWidget(tree);

    auto *editor = new QVBoxLayout;
    editor->setSpacing(0);
    auto *tabs = new QTabBar;
    tabs->setStyleSheet(QStringLiteral("QTabBar::tab { background: #2d2d2d; color: #969696; padding: 6px 14px; }"
                                       "QTabBar::tab:selected { background: #1e1e1e; color: white; }"));
    const QStringList tabNames { QStringLiteral("textwrap.py"), QStringLiteral("decoder.py"),
        QStringLiteral("changelog.md") };
    for (const QString &name : tabNames)
        tabs->addTab(name);
    editor->addWidget(tabs);
    QPlainTextEdit *code = plainPane(QStringLiteral("background: #1e1e1e; color: #d4d4d4; border: none;"));
    code->setFont(QFont(QStringLiteral("DejaVu Sans Mono"), QApplication::font().pointSize()));
    editor->addWidget(code, 1);
    body->addLayout(editor, 1);
    layout->addLayout(body, 1);
    const QString status = QStringLiteral("main   Ln 12, Col 4   Spaces: 4   UTF-8   Python");
    layout->addWidget(styledLabel(status, QStringLiteral("background: #007acc; color: white; padding: 3px;")));

    layOut(window, size);
    const QStringList shown = showFittingLines(*code, text);
    QStringList truth = treeRows;
    truth << tabNames.join(QLatin1Char(' ')) << shown << status;
    return { window.grab().toImage(), truth };
}

// A settings page: a dark header bar, white text on coloured badges and buttons, a light form.
CorpusWindow settingsWindow(const QStringList &text, QSize size)
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *header = new QWidget;
    header->setObjectName(QStringLiteral("header"));
    header->setStyleSheet(QStringLiteral("#header { background: #1f2937; }"));
    auto *bar = new QHBoxLayout(header);
    const QString title = QStringLiteral("Workspace settings");
    bar->addWidget(styledLabel(title, QStringLiteral("color: white; font-weight: bold; padding: 6px;")));
    const QStringList sections { QStringLiteral("General"), QStringLiteral("Members"), QStringLiteral("Billing"),
        QStringLiteral("Integrations") };
    for (const QString &section : sections)
        bar->addWidget(styledLabel(section, QStringLiteral("color: #d1d5db; padding: 6px;")));
    bar->addStretch(1);
    layout->addWidget(header);

    auto *page = new QVBoxLayout;
    page->setContentsMargins(16, 8, 16, 8);
    auto *badges = new QHBoxLayout;
    const std::pair<QString, const char *> badgeColours[]
        = { { QStringLiteral("Administrator"), "#7c3aed" }, { QStringLiteral("Verified"), "#059669" },
              { QStringLiteral("Beta"), "#f59e0b" }, { QStringLiteral("Trial ends Friday"), "#ea580c" } };
    QStringList badgeTexts;
    for (const auto &[badge, colour] : badgeColours) {
        badges->addWidget(styledLabel(
            badge, QStringLiteral("background: %1; color: white; border-radius: 4px; padding: 3px 8px;").arg(colour)));
        badgeTexts << badge;
    }
    badges->addStretch(1);
    page->addLayout(badges);

    auto *form = new QFormLayout;
    const std::pair<QString, QString> fields[] = { { QStringLiteral("Display name"), QStringLiteral("Alice Martin") },
        { QStringLiteral("Email address"), QStringLiteral("alice@northwind.example") },
        { QStringLiteral("Time zone"), QStringLiteral("Europe/Berlin") } };
    QStringList formRows;
    for (const auto &[label, value] : fields) {
        form->addRow(label, new QLineEdit(value));
        formRows << label + QLatin1Char(' ') + value;
    }
    auto *language = new QComboBox;
    language->addItem(QStringLiteral("English (United Kingdom)"));
    form->addRow(QStringLiteral("Language"), language);
    formRows << QStringLiteral("Language ") + language->currentText();
    page->addLayout(form);
    const QStringList checks { QStringLiteral("Send a weekly summary by email"),
        QStringLiteral("Require two-factor sign-in for members") };
    for (const QString &check : checks)
        page->addWidget(new QCheckBox(check));
    const QString about = QStringLiteral("About this workspace");
    page->addWidget(styledLabel(about, QStringLiteral("font-weight: bold;")));
    QPlainTextEdit *description = plainPane(QString());
    page->addWidget(description, 1);

    auto *buttons = new QHBoxLayout;
    const std::pair<QString, const char *> buttonColours[] = { { QStringLiteral("Save changes"), "#2563eb" },
        { QStringLiteral("Invite members"), "#16a34a" }, { QStringLiteral("Delete workspace"), "#dc2626" } };
    QStringList buttonTexts;
    for (const auto &[label, colour] : buttonColours) {
        auto *button = new QPushButton(label);
        button->setStyleSheet(
            QStringLiteral("background: %1; color: white; border-radius: 4px; padding: 6px 14px;").arg(colour));
        buttons->addWidget(button);
        buttonTexts << label;
    }
    buttons->addWidget(new QPushButton(QStringLiteral("Cancel")));
    buttonTexts << QStringLiteral("Cancel");
    buttons->addStretch(1);
    page->addLayout(buttons);
    layout->addLayout(page, 1);

    layOut(window, size);
    // The read-only pane holds the focus, so no field shows a text cursor.
    description->setFocus();
    const QStringList shown = showFittingLines(*description, text);
    QStringList truth { title + QLatin1Char(' ') + sections.join(QLatin1Char(' ')), badgeTexts.join(QLatin1Char(' ')) };
    truth << formRows << checks << about << shown << buttonTexts.join(QLatin1Char(' '));
    return { window.grab().toImage(), truth };
}

} // namespace

QString fitLine(const QString &line, const QFontMetrics &metrics, int width)
{
    QString fitted = line;
    while (!fitted.isEmpty() && metrics.horizontalAdvance(fitted) > width) {
        const qsizetype space = fitted.lastIndexOf(QLatin1Char(' '));
        fitted = space > 0 ? fitted.left(space).trimmed() : QString();
    }
    return fitted;
}

QStringList showFittingLines(QPlainTextEdit &pane, const QStringList &source)
{
    const QFontMetrics metrics(pane.font());
    const int margin = static_cast<int>(pane.document()->documentMargin()) + 2;
    const int usableWidth = pane.viewport()->width() - 2 * margin - metrics.averageCharWidth();
    const int maxLines = (pane.viewport()->height() - 2 * margin) / metrics.lineSpacing();
    QStringList shown;
    for (const QString &line : source) {
        if (shown.size() >= maxLines)
            break;
        shown.append(fitLine(line, metrics, usableWidth));
    }
    while (!shown.isEmpty() && shown.last().isEmpty())
        shown.removeLast();
    pane.setPlainText(shown.join(QLatin1Char('\n')));
    QApplication::processEvents();
    return shown;
}

CorpusWindow drawPanelWindow(const QString &look, const QStringList &text, QSize size)
{
    if (look == QLatin1String("chat"))
        return chatWindow(text, size);
    if (look == QLatin1String("editor"))
        return editorWindow(text, size);
    if (look == QLatin1String("settings"))
        return settingsWindow(text, size);
    return {};
}
