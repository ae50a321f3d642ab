// The expanded screenshot viewer over a history the real pipeline captured (real Tesseract, real
// store): its rules, stepping through results and occurrences, the actions and their effects on
// the store, and the viewer rendered offscreen with its highlights on the words.
#include "WindowRender.h"
#include "storage/RecordingTextLoader.h"
#include "support/SampleHistory.h"
#include "ui/ScreenshotLoader.h"
#include "ui/ScreenshotViewerModel.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"
#include "ui/ViewerZoom.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QPainter>

#include <qcorotask.h>

namespace pellux::test {
namespace {

TEST(ScreenshotViewerRules, FitZoomInOnSmallMatchesAndHeaderTexts)
{
    for (const auto &[image, scale] : { std::pair(QSizeF(400, 300), 1.0), { { 1920, 1080 }, 1072.0 / 1920 },
             { { 900, 2000 }, 0.35 }, { { 0, 0 }, 1.0 } })
        EXPECT_DOUBLE_EQ(ViewerZoom::fittedScale(image, QSizeF(1072, 700)), scale) << image.width();

    struct Focus {
        const char *name;
        double startScale; // by wheel notches from 1
        QRectF match;
        double scale;
        bool centred;
    };
    const QSizeF shown(1000, 560);
    for (const Focus &f : { Focus { "small: zoomed and centred", 1, { 100, 500, 40, 7 }, 4.0, true },
             Focus { "readable at fitted size: nothing moves", 1, { 100, 500, 80, 14 }, 1.0, false },
             Focus { "already zoomed: centred at that zoom", 1.25, { 800, 40, 80, 14 }, 1.25, true } }) {
        SCOPED_TRACE(f.name);
        ViewerZoom zoom;
        if (f.startScale > 1)
            zoom.wheel(120);
        zoom.focusOn(f.match, shown);
        EXPECT_DOUBLE_EQ(zoom.scale(), f.scale);
        // Where the match's centre lands, relative to the image's centre.
        const QPointF centre(shown.width() / 2, shown.height() / 2);
        const QPointF landed = (f.match.center() - centre) * zoom.scale() + zoom.offset();
        EXPECT_EQ(landed.manhattanLength() < 0.01, f.centred);
    }

    // Gestures as the viewer hands them over: p<magnification> pinching, P pinch ended, d<x>,<y>
    // dragging, D drag ended, c double click, w<delta>*<times> the wheel.
    const std::tuple<const char *, double, QPointF> gestures[] = {
        { "p2 p4 p8 P", 5, {} }, // the maximum
        { "p0.7 p0.3 p0.1", 0.5, {} }, // the minimum while pinching
        { "d30,40 D p0.6 P", 1, {} }, // released below one: back and centred
        { "d30,40 D p0.6 P d5,5", 1, { 35, 45 } }, // the next drag starts where the last ended
        { "d10,0 D c", 2, { 10, 0 } },
        { "d10,0 D c c d3,4", 1, { 3, 4 } },
        { "w120*20", 5, {} },
        { "w120*20 d50,0 w-120*20", 1, {} },
    };
    for (const auto &[script, scale, offset] : gestures) {
        ViewerZoom zoom;
        for (const QString &token : QString::fromLatin1(script).split(' ')) {
            const QString g = token.section('*', 0, 0);
            const QStringList n = g.mid(1).split(',');
            for (int i = 0; i < token.section('*', 1).toInt() || i == 0; ++i)
                g[0] == 'p'       ? zoom.pinchChanged(n[0].toDouble())
                    : g[0] == 'P' ? zoom.pinchEnded()
                    : g[0] == 'd' ? zoom.dragChanged({ n[0].toDouble(), n.value(1).toDouble() })
                    : g[0] == 'D' ? zoom.dragEnded()
                    : g[0] == 'c' ? zoom.doubleClicked()
                                  : zoom.wheel(n[0].toDouble());
        }
        EXPECT_DOUBLE_EQ(zoom.scale(), scale) << script;
        EXPECT_EQ(zoom.offset(), offset) << script;
    }

    // Seconds are shown: two frames a second apart read apart.
    const TimePoint t = fromSecondsSince1970(1'700'000'000);
    EXPECT_NE(ScreenshotViewerModel::formatCaptureTime(t),
        ScreenshotViewerModel::formatCaptureTime(fromSecondsSince1970(1'700'000'001)));
}

class ScreenshotViewerTest : public WindowTest {
protected:
    ScreenshotViewerTest()
    {
        start();
        captureSampleHistory(pipeline);
        pipeline.backend.addWindow(FakeCaptureBackend::window(7, QRectF(0, 0, 1920, 1080),
                                       QStringLiteral("review.odt <i>draft</i>"), QStringLiteral("Writer")),
            documentFrame(1));
        CapturePipeline::run(pipeline.service->captureTestScreenshot());
        // The first frame of a window is stored in full, the second becomes its reference, the
        // third is a delta.
        for (int revision = 2; revision <= 3; ++revision) {
            pipeline.backend.setFrame(7, documentFrame(revision));
            pipeline.clock.advance(60);
            CapturePipeline::run(pipeline.service->captureTestScreenshot());
        }
        pipeline.settle();
        texts = std::make_unique<RecordingTextLoader>(*pipeline.database, *pipeline.ocr);
        window = std::make_unique<SearchWindow>(SearchWindow::Components { nullptr, pipeline.storage.get(),
            pipeline.database.get(), nullptr, &pipeline.clock, std::nullopt, texts.get() });
        EXPECT_TRUE(window->build());
        window->window()->resize(1200, 800);
        window->window()->show();
        model()->setUrlOpener([this](const QUrl &url) {
            opened << url;
            return true;
        });
    }

    ScreenshotViewerModel *model() const { return window->viewerModel(); }
    SearchModel *search() const { return window->searchModel(); }
    QObject *viewer() const { return find<QObject>(window->window(), "screenshotViewer"); }

    // Opens the viewer on a result and waits for its image and its occurrences.
    void openAt(int row)
    {
        QMetaObject::invokeMethod(find<QObject>(window->window(), "resultsGrid"), "openViewer", Q_ARG(QVariant, row));
        ASSERT_TRUE(runEventsUntil([&] { return viewer()->property("opened").toBool() && model()->textKnown(); }));
        QQuickItem *image = find<QQuickItem>(viewer(), "viewerImage");
        ASSERT_NE(image, nullptr);
        ASSERT_TRUE(runEventsUntil([&] { return image->property("status").toInt() == 1; }))
            << image->property("status").toInt() << image->property("source").toString().toStdString();
    }
    int rowOf(const QString &app) const
    {
        // Rows are the cards shown.
        int row = 0;
        while (row < search()->results()->count() && search()->results()->recordingAt(row).appName != app)
            ++row;
        return row;
    }

    std::unique_ptr<RecordingTextLoader> texts;
    std::unique_ptr<SearchWindow> window;
    QList<QUrl> opened;
};

// Stepping through results and occurrences and copying text; the highlights on the words, in the
// picture; the states a person should look at; then copying, opening, showing and deleting the
// screenshot shown.
TEST_F(ScreenshotViewerTest, StepsShowsCopiesOpensAndDeletes)
{
    QSignalSpy answered(search(), &SearchModel::resultsShown);
    search()->setSearchText(QStringLiteral("budget"));
    ASSERT_TRUE(received(answered));
    const int count = search()->results()->count();
    ASSERT_GE(count, 5);
    openAt(0);
    // Stepping moves the grid's selection and stops at both ends.
    struct Step {
        int key;
        int times;
        int index;
        bool hasPrevious, hasNext;
    };
    for (const Step &s : { Step { Qt::Key_Left, 1, 0, false, true }, Step { Qt::Key_Right, 2, 2, true, true },
             Step { Qt::Key_Right, count + 3, count - 1, true, false },
             Step { Qt::Key_Left, 1, count - 2, true, true } }) {
        for (int i = 0; i < s.times; ++i)
            QTest::keyClick(window->window(), Qt::Key(s.key));
        EXPECT_EQ(std::tuple(model()->currentIndex(), search()->selectedIndex(), model()->hasPrevious(),
                      model()->hasNext(), viewer()->property("visible").toBool()),
            std::tuple(s.index, s.index, s.hasPrevious, s.hasNext, true));
    }

    // The newest frame of the document (a delta frame): three occurrences, Enter and F3 step
    // forward and wrap, Shift steps back.
    model()->setCurrentIndex(rowOf(QStringLiteral("Writer")));
    ASSERT_TRUE(runEventsUntil([&] { return model()->textKnown(); }));
    ASSERT_EQ(model()->matchCount(), 3);
    EXPECT_EQ(model()->matchPosition(), QStringLiteral("1 of 3"));
    EXPECT_TRUE(model()->windowTitle().contains(QStringLiteral("<i>draft</i>")));
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = { { Qt::Key_Return, {} }, { Qt::Key_F3, {} },
        { Qt::Key_Return, {} }, { Qt::Key_Return, Qt::ShiftModifier }, { Qt::Key_F3, Qt::ShiftModifier } };
    const int expected[] = { 1, 2, 0, 2, 1 };
    for (size_t i = 0; i < std::size(keys); ++i) {
        QTest::keyClick(window->window(), keys[i].first, keys[i].second);
        EXPECT_EQ(model()->currentMatch(), expected[i]) << i;
    }
    EXPECT_EQ(find<QQuickItem>(viewer(), "viewerMatchPosition")->property("text"), QStringLiteral("2 of 3"));

    // Copying: the area around an occurrence gives its line's words, an empty area nothing, and
    // without a selection Ctrl+C copies the whole text.
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QRectF line = model()->currentMatchRect().adjusted(-400, -6, 900, 6);
    model()->copyRegion(line);
    EXPECT_EQ(clipboard->text(), QStringLiteral("Marketing asks for a larger budget next year."));
    clipboard->setText(QStringLiteral("unchanged"));
    model()->copyRegion(QRectF(1700, 1000, 100, 50));
    EXPECT_EQ(clipboard->text(), QStringLiteral("unchanged"));
    EXPECT_EQ(model()->status(), QStringLiteral("No text in the selected area"));
    QTest::keyClick(window->window(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), model()->text()->text);
    EXPECT_TRUE(clipboard->text().contains(QStringLiteral("Approved by the board")));

    QTest::keyClick(window->window(), Qt::Key_Escape);
    EXPECT_TRUE(runEventsUntil([&] { return !viewer()->property("visible").toBool(); }));
    EXPECT_TRUE(find<QQuickItem>(window->window(), "resultsGrid")->hasActiveFocus());

    // The highlights lie on the words: in the picture, the ink of the word is inside each one.
    openAt(rowOf(QStringLiteral("Writer")));
    ASSERT_EQ(model()->matchCount(), 3);
    renderWindow(window->window(), QStringLiteral("viewer-1920x1080-highlights"), { { 1200, 800 } });
    const QImage picture = window->window()->grabWindow();
    // Repeater's items are children of the image in the scene only.
    QList<QQuickItem *> highlights;
    for (QQuickItem *item : find<QQuickItem>(viewer(), "viewerImage")->childItems()) {
        if (item->objectName() == QLatin1String("matchHighlight"))
            highlights << item;
    }
    ASSERT_EQ(highlights.size(), 3);
    for (QQuickItem *h : highlights) {
        const QRect r = h->mapRectToScene(QRectF(0, 0, h->width(), h->height())).toRect().adjusted(3, 3, -3, -3);
        int ink = 0;
        for (int y = r.top(); y <= r.bottom(); ++y) {
            for (int x = r.left(); x <= r.right(); ++x)
                ink += qGray(picture.pixel(x, y)) < 90;
        }
        // Glyph strokes take a good part of a word's box; a box beside the word has none.
        EXPECT_GT(ink, r.width() * r.height() / 12) << r.x() << "," << r.y();
    }

    // A window smaller than the viewer shows at its own size, centred; the hint sits below it.
    model()->setCurrentIndex(rowOf(QStringLiteral("XTerm")));
    QQuickItem *image = find<QQuickItem>(viewer(), "viewerImage");
    ASSERT_TRUE(runEventsUntil([&] { return image->property("status").toInt() == 1 && image->width() == 640; }));
    EXPECT_EQ(image->height(), 400);
    const QRectF onScreen = image->mapRectToScene(QRectF(0, 0, image->width(), image->height()));
    QQuickItem *footer = find<QQuickItem>(viewer(), "viewerFooter");
    EXPECT_LE(onScreen.bottom(), footer->mapRectToScene(QRectF(0, 0, 1, 1)).top());
    EXPECT_TRUE(find<QQuickItem>(viewer(), "viewerHint")
                    ->property("text")
                    .toString()
                    .contains(QStringLiteral("Scroll to zoom")));
    renderWindow(window->window(), QStringLiteral("viewer-small-window"), { { 1200, 800 } });

    QTest::keyClick(window->window(), Qt::Key_Escape);
    ASSERT_TRUE(runEventsUntil([&] { return !viewer()->property("visible").toBool(); }));
    QQuickItem *grid = find<QQuickItem>(window->window(), "resultsGrid");
    QQuickItem *card = qobject_cast<QQuickItem *>(grid->property("currentItem").value<QObject *>());
    ASSERT_NE(card, nullptr);
    const QPointF at = card->mapToScene(QPointF(40, 40));
    QTest::mouseClick(window->window(), Qt::RightButton, {}, at.toPoint());
    QObject *menu = find<QObject>(window->window(), "recordingCardMenu");
    ASSERT_TRUE(runEventsUntil([&] { return menu->property("opened").toBool(); }));
    renderWindow(window->window(), QStringLiteral("card-menu"), { { 1200, 800 } });
    QMetaObject::invokeMethod(menu, "close");

    const int writer = rowOf(QStringLiteral("Writer")); // the newest document frame, a delta
    openAt(writer);
    const Recording shown = search()->results()->recordingAt(writer);
    ScreenshotLoader loader(ScreenshotLoader::databaseLookup(*pipeline.database));
    const QImage frame = loader.load(shown.localPath(), QSize());
    ASSERT_EQ(frame.size(), QSize(1920, 1080));

    ASSERT_TRUE(QCoro::waitFor(model()->copyImageTask()));
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), frame);

    // A delta file is no image: a private PNG of the frame is opened; a full frame opens itself.
    ASSERT_TRUE(QCoro::waitFor(model()->openTask()));
    ASSERT_EQ(opened.size(), 1);
    const QString copy = opened[0].toLocalFile();
    EXPECT_TRUE(
        copy.startsWith(model()->openedFramesFolder() + QLatin1Char('/')) && copy.endsWith(QLatin1String(".png")));
    EXPECT_EQ(QImage(copy).convertToFormat(QImage::Format_RGB32), frame);
    EXPECT_EQ(std::pair(modeOf(copy), modeOf(model()->openedFramesFolder())), std::pair(0600, 0700));
    model()->setCurrentIndex(rowOf(QStringLiteral("XTerm")));
    ASSERT_TRUE(QCoro::waitFor(model()->openTask()));
    EXPECT_EQ(opened.value(1), search()->results()->recordingAt(rowOf(QStringLiteral("XTerm"))).filePath);
    model()->showInFolder(); // no file manager on the test's bus: the folder opens
    ASSERT_TRUE(runEventsUntil([&] { return opened.size() == 3; }));
    EXPECT_EQ(opened[2].toLocalFile() + QLatin1Char('/'),
        QFileInfo(opened[1].toLocalFile()).absolutePath() + QLatin1Char('/'));

    // Delete asks first, naming the screenshot; confirmed, the card goes and the result after it
    // is shown; the last one gone, the viewer closes.
    model()->setCurrentIndex(writer);
    QTest::keyClick(window->window(), Qt::Key_Delete);
    QObject *dialog = viewer()->property("deleteDialog").value<QObject *>();
    ASSERT_TRUE(runEventsUntil([&] { return dialog->property("opened").toBool(); }));
    const QString question = dialog->property("question").toString();
    EXPECT_TRUE(question.contains(QStringLiteral("Writer \u201creview.odt <i>draft</i>\u201d"))
        && question.contains(ScreenshotViewerModel::formatCaptureTime(shown.timestamp)))
        << question.toStdString();
    renderWindow(window->window(), QStringLiteral("viewer-delete-confirmation"), { { 1200, 800 } });
    // The two document frames hold the same text, so they share one card: the one left takes it.
    ASSERT_EQ(search()->results()->groupHead(shown.id), shown.id);
    const int before = search()->results()->count();
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(runEventsUntil([&] { return search()->results()->indexOf(shown.id) < 0 && !model()->deleting(); }));
    EXPECT_EQ(
        std::tuple(search()->results()->count(), search()->results()->recordingAt(model()->currentIndex()).appName,
            QFileInfo::exists(shown.localPath()), viewer()->property("visible").toBool()),
        std::tuple(before, std::optional<QString>("Writer"), false, true));

    QSignalSpy closing(model(), &ScreenshotViewerModel::closeRequested);
    while (search()->results()->count() > 0)
        ASSERT_TRUE(QCoro::waitFor(model()->deleteCurrentTask()));
    EXPECT_EQ(closing.count(), 1);
    EXPECT_TRUE(runEventsUntil([&] { return !viewer()->property("visible").toBool(); }));
}

} // namespace
} // namespace pellux::test
