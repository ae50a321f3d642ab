#pragma once

#include "persistence/Recording.h"

#include <QPainter>
#include <QRegularExpression>

namespace pellux::test {

// A terminal window drawn with a monospace font, typed into line by line: the frames a capture
// of someone working in a shell would store.
class TerminalWindow {
public:
    explicit TerminalWindow(int rows = 30, int columns = 100, double points = 10.0)
        : m_rows(rows)
        , m_font(QStringLiteral("DejaVu Sans Mono"))
    {
        m_font.setPixelSize(qRound(points * 96.0 / 72.0));
        m_font.setHintingPreference(QFont::PreferFullHinting);
        const QFontMetrics metrics(m_font);
        m_lineSpacing = metrics.lineSpacing();
        m_size = QSize(
            columns * metrics.horizontalAdvance(QLatin1Char('M')) + 2 * kMargin, rows * m_lineSpacing + 2 * kMargin);
    }

    void print(const QString &line) { m_lines.append(line); }
    // Appends to the last line (a prompt is always printed first).
    void type(const QString &characters) { m_lines.last() += characters; }
    int lineSpacing() const { return m_lineSpacing; }

    // The window as shown: the last `rows` lines, light text on a dark ground like most terminals.
    QImage render() const
    {
        QImage image(m_size, QImage::Format_RGB32);
        image.fill(QColor(0x1e, 0x1e, 0x1e));
        QPainter painter(&image);
        painter.setFont(m_font);
        painter.setPen(QColor(0xe0, 0xe0, 0xe0));
        const QFontMetrics metrics(m_font);
        int baseline = kMargin + metrics.ascent();
        for (qsizetype i = std::max<qsizetype>(0, m_lines.size() - m_rows); i < m_lines.size();
             ++i, baseline += m_lineSpacing)
            painter.drawText(kMargin, baseline, m_lines[i]);
        return image;
    }

private:
    static constexpr int kMargin = 4;
    int m_rows;
    QFont m_font;
    int m_lineSpacing = 0;
    QSize m_size;
    QStringList m_lines;
};

// A shell session of about thirty frames: commands typed a few characters per frame, their
// output, and one scroll once the screen is full.
inline std::vector<QImage> typingSession(int rows = 30)
{
    TerminalWindow terminal(rows);
    const QString prompt = QStringLiteral("dana@workstation:~/projects/pellux$ ");
    const QStringList history { "total 64", "drwxr-xr-x  9 dana dana  4096 Mar 14 09:12 bench",
        "-rw-r--r--  1 dana dana  5120 Mar 14 09:12 CMakeLists.txt", "drwxr-xr-x  4 dana dana  4096 Mar 14 09:12 docs",
        "drwxr-xr-x  3 dana dana  4096 Mar 14 09:12 scripts", "drwxr-xr-x 12 dana dana  4096 Mar 14 09:12 src",
        "drwxr-xr-x 14 dana dana  4096 Mar 14 09:12 tests" };
    terminal.print(prompt + "ls -l");
    for (const QString &line : history)
        terminal.print(line);
    terminal.print(prompt);

    std::vector<QImage> frames { terminal.render() };
    // Types `command` a few characters per frame, then runs it.
    auto runCommand = [&](const QString &command, const QStringList &output) {
        for (qsizetype at = 0; at < command.size(); at += 6) {
            terminal.type(command.mid(at, 6));
            frames.push_back(terminal.render());
        }
        for (const QString &line : output)
            terminal.print(line);
        terminal.print(prompt);
        frames.push_back(terminal.render());
    };
    runCommand("git status --short",
        { " M src/capture/ScreenshotService.cpp", " M src/ocr/OCRProcessor.cpp", "?? notes/meeting-thursday.txt" });
    runCommand("grep -rn maxPendingRecognitions src",
        { "src/capture/ScreenshotService.h:49:    static constexpr int maxPendingRecognitions = 3;",
            QStringLiteral("src/capture/ScreenshotService.cpp:412:    while (m_pendingRecognitions >= "
                           "maxPendingRecognitions) {") });
    runCommand("cat notes/meeting-thursday.txt",
        { "Agenda for the planning meeting on Thursday", "1. Review the quarterly budget figures with finance",
            "2. Decide the release date for the search window", "3. Summer holidays: who covers the support rota" });
    runCommand("make test 2>&1 | tail -n 12",
        { "[ 97%] Built target test_ocr", "[100%] Built target test_capture", "Running tests...",
            "Test project /home/dana/projects/pellux/build", "      Start  1: ChangedLines.BandsCoverWholeLines",
            " 1/42 Test  #1: ChangedLines.BandsCoverWholeLines ......   Passed    0.02 sec",
            "      Start  2: OCRProcessor.RecognisesScreenText",
            " 2/42 Test  #2: OCRProcessor.RecognisesScreenText ......   Passed    1.31 sec",
            "100% tests passed, 0 tests failed out of 42", "Total Test time (real) =  48.17 sec" });
    runCommand("echo finished", { "finished" });
    return frames;
}

// A terminal following a log (`tail -f`): full from the start, two new lines a frame, so that
// every frame after the first is the previous one scrolled up by two lines.
inline std::vector<QImage> scrollingSession(int frameCount = 12, int rows = 16)
{
    TerminalWindow terminal(rows);
    const QStringList events {
        "GET /api/orders/%1 200 12ms user=frieda region=eu-west",
        "payment %1 captured amount=49.90 EUR card=visa",
        "WARN slow query on invoices (%1 ms): select * from invoices where due < now()",
        "worker-%1 picked job resize-thumbnail queue=images attempt=1",
        "POST /api/sessions %1 201 user=gunnar agent=firefox",
    };
    int n = 0;
    auto nextLine = [&] {
        const int i = n++;
        return events[i % events.size()].arg(1000 + 37 * i);
    };
    for (int i = 0; i < rows; ++i)
        terminal.print(nextLine());
    std::vector<QImage> frames { terminal.render() };
    while (static_cast<int>(frames.size()) < frameCount) {
        terminal.print(nextLine());
        terminal.print(nextLine());
        frames.push_back(terminal.render());
    }
    return frames;
}

// The words of a recognised text (letters and digits, lower case) with their counts.
inline std::map<QString, int> wordCounts(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\w]+"));
    std::map<QString, int> counts;
    for (const QString &word : text.toLower().split(separators, Qt::SkipEmptyParts))
        ++counts[word];
    return counts;
}

// How many of the reference's words (counted with repetition) the other text has.
inline int wordsFound(const std::map<QString, int> &reference, const std::map<QString, int> &other)
{
    int found = 0;
    for (const auto &[word, count] : reference) {
        const auto it = other.find(word);
        if (it != other.end())
            found += std::min(count, it->second);
    }
    return found;
}

inline int wordTotal(const std::map<QString, int> &counts) { return wordsFound(counts, counts); }

} // namespace pellux::test
