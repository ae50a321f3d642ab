#include "support/SampleHistory.h"

#include "support/CapturePipeline.h"

namespace pellux::test {

namespace {

// An editor showing the lines, the one with the cursor highlighted as editors do.
QImage editorFrame(const QStringList &lines, int cursorLine)
{
    QImage image(900, 560, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(22);
    painter.setFont(font);
    const int lineHeight = 34;
    for (int i = 0; i < lines.size(); ++i) {
        const QRect row(0, 16 + i * lineHeight, image.width(), lineHeight);
        if (i == cursorLine)
            painter.fillRect(row, QColor(0x1f, 0x3a, 0x68));
        painter.setPen(i == cursorLine ? Qt::white : Qt::black);
        painter.drawText(row.adjusted(16, 0, -16, 0), Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    }
    return image;
}

} // namespace

QImage documentFrame(int revision)
{
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(26);
    painter.setFont(font);
    const QStringList lines = { QStringLiteral("Quarterly budget review"),
        QStringLiteral("The travel section stays within its limits."),
        QStringLiteral("Marketing asks for a larger budget next year."),
        QStringLiteral("Approved by the board on Monday."), QStringLiteral("Final budget figures follow below.") };
    // Each revision highlights another line, as an editor's cursor line.
    const int cursorLine = revision % 4;
    painter.fillRect(QRect(0, 160 + cursorLine * 120 - 38, 1920, 56), QColor(0x1f, 0x3a, 0x68));
    for (int i = 0; i < lines.size(); ++i) {
        painter.setPen(i == cursorLine ? Qt::white : Qt::black);
        painter.drawText(QPoint(120, 160 + i * 120), lines[i]);
    }
    return image;
}

void captureSampleHistory(CapturePipeline &pipeline)
{
    const auto capture = [&] { CapturePipeline::run(pipeline.service->captureTestScreenshot()); };
    QStringList lines;
    for (int i = 0; i < 15; ++i)
        lines << QStringLiteral("line %1 of the quarterly budget report").arg(i + 1);
    pipeline.backend.addWindow(FakeCaptureBackend::window(1, QRectF(0, 0, 900, 560),
                                   QStringLiteral("report.txt - Editor"), QStringLiteral("Editor")),
        editorFrame(lines, 0));
    pipeline.backend.addWindow(
        FakeCaptureBackend::window(2, QRectF(0, 0, 640, 400), QStringLiteral("build log"), QStringLiteral("XTerm")),
        CapturePipeline::textFrame(QStringLiteral("make: budget target is up to date"), 640, 400));
    capture();
    for (int step = 0; step < 3; ++step) {
        lines[step] = QStringLiteral("line %1 was edited: budget approved %2").arg(step + 1).arg(step * 7);
        pipeline.backend.setFrame(1, editorFrame(lines, step + 1));
        pipeline.clock.advance(60 * (step + 1));
        capture();
    }
    pipeline.settle();
}

} // namespace pellux::test
