#include "app/commands/Commands.h"

#include "app/AppComponents.h"
#include "imaging/ImageFileReader.h"
#include "ocr/OCRProcessor.h"
#include "ocr/RecognizedText.h"
#include "runtime/CompletionFuture.h"
#include "runtime/Log.h"

#include <QCoreApplication>

#include <cstdio>

namespace pellux::commands {

namespace {

Recognition recognized(OCRProcessor &processor, const QImage &image)
{
    auto [fragments, completion] = completionFuture(
        Recognition(RecognitionFailure { RecognitionFailure::Kind::image, QStringLiteral("no answer") }));
    processor.processImage(image, std::nullopt, std::move(completion));
    return fragments.result();
}

} // namespace

int ocr(const CommandArguments &arguments)
{
    if (arguments.args.isEmpty()) {
        std::fprintf(stderr, "Usage: pellux ocr IMAGE...\n");
        return kExitUsage;
    }
    int argc = arguments.argc;
    QCoreApplication app(argc, arguments.argv);

    // Standard output carries the recognised text; log lines go to standard error.
    log::setStream(stderr);
    // Only the recogniser: no capture backend, store or database.
    AppComponents components;
    OCRProcessor &processor = components.textRecognition();
    if (!processor.isRecognizerReady())
        return kExitFailure;
    const bool several = arguments.args.size() > 1;
    bool anyFailed = false;
    bool anyText = false;
    for (const QString &path : arguments.args) {
        QString error;
        const QImage image = readImageFile(path, &error);
        if (image.isNull()) {
            std::fprintf(stderr, "pellux ocr: cannot read %s: %s\n", qPrintable(path), qPrintable(error));
            anyFailed = true;
            continue;
        }
        const Recognition fragments = recognized(processor, image);
        if (!fragments) {
            std::fprintf(stderr, "pellux ocr: cannot recognise the text of %s: %s\n", qPrintable(path),
                qPrintable(fragments.failure().reason));
            anyFailed = true;
            continue;
        }
        const QString text = joinRecognizedText(fragments.value());
        if (several)
            std::printf("==> %s <==\n", qPrintable(path));
        if (text.isEmpty()) {
            std::fprintf(stderr, "pellux ocr: no text found in %s (nothing would be stored)\n", qPrintable(path));
            if (several)
                std::printf("\n");
        } else {
            anyText = true;
            std::printf("%s\n", text.toUtf8().constData());
        }
        std::fflush(stdout);
    }
    if (anyFailed)
        return kExitFailure;
    return anyText ? kExitSuccess : kExitNoResults;
}

} // namespace pellux::commands
