#pragma once

#include <QFontMetrics>
#include <QImage>
#include <QString>
#include <QStringList>

// A drawn window and the exact text it shows, line by line in reading order.
struct CorpusWindow {
    QImage image;
    QStringList truth;
};

// The longest prefix of `line`, cut at a space, that is at most `width` pixels wide.
QString fitLine(const QString &line, const QFontMetrics &metrics, int width);

class QPlainTextEdit;
// Shows in the (laid out) pane the lines of `source` that fit whole, each cut to the pane's width,
// and returns them: what is on screen is exactly the truth.
QStringList showFittingLines(QPlainTextEdit &pane, const QStringList &source);

// Windows whose text sits on dark or saturated panels beside light ones, as chat, editor and
// settings windows draw them: `look` is "chat", "editor" or "settings"; `text` fills the message,
// code or description pane. An unknown look gives a null image.
CorpusWindow drawPanelWindow(const QString &look, const QStringList &text, QSize size);
