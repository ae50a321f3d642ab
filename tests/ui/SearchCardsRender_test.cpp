// The result cards rendered offscreen: matched lines with the query in bold, a collapsed "+N"
// card and its expanded state, the exact time on hover; application names, titles and text written
// as markup are shown as written and never fetch anything.
#include "WindowRender.h"
#include "support/ImageEncoder.h"
#include "ui/SearchModel.h"
#include "ui/SearchWindow.h"

#include <QFileInfo>
#include <QQuickItem>
#include <QTcpServer>

#include <algorithm>
#include <functional>

namespace pellux::test {
namespace {

class SearchCardsRender : public WindowTest {
protected:
    SearchCardsRender() { start(); }

    void store(int age_s, const QString &app, const QString &title, const QString &text)
    {
        Recording r;
        r.id = QUuid::createUuid();
        r.timestamp = pipeline.clock.now() - std::chrono::seconds(age_s);
        const QString path = pipeline.home.pelluxFolder() + QStringLiteral("/Screenshots/%1.webp").arg(age_s);
        QDir().mkpath(QFileInfo(path).path());
        const std::optional<QByteArray> webp
            = imageEncoder().convertToWebP(CapturePipeline::textFrame(text.left(40), 960, 600), 0.8);
        ASSERT_TRUE(webp && writeAll(path, *webp));
        r.filePath = QUrl::fromLocalFile(path);
        r.appName = app;
        r.windowTitle = title;
        pipeline.database->saveRecordingWithDeltaFrame(r, QString::number(age_s), webp->size(), false, {}, {});
        pipeline.database->saveOCRText(r.id, text, r.timestamp);
    }

    QList<QQuickItem *> shownTexts() const
    {
        QList<QQuickItem *> texts;
        const std::function<void(QQuickItem *)> collect = [&](QQuickItem *item) {
            if (!item->isVisible())
                return;
            if (item->inherits("QQuickText"))
                texts << item;
            for (QQuickItem *child : item->childItems())
                collect(child);
        };
        collect(window->window()->contentItem());
        return texts;
    }

    std::unique_ptr<SearchWindow> window;
};

TEST_F(SearchCardsRender, SnippetsCollapsedRepeatsAndTheExactTime)
{
    // Markup in a title or a text must not load this address.
    QTcpServer trap;
    ASSERT_TRUE(trap.listen(QHostAddress::LocalHost));
    const QString image = QStringLiteral("<img src=\"http://127.0.0.1:%1/x.png\">").arg(trap.serverPort());

    const QString log = QStringLiteral("cargo build\nerror: the reconcile_segments database is locked\nexit 101");
    for (int age = 30; age <= 50; age += 10)
        store(age, QStringLiteral("Terminal"), QStringLiteral("~/pellux"), log);
    // A web page sets its own window title, and any program its class.
    store(70, QStringLiteral("<b>Cls</b>") + image, QStringLiteral("<b>x</b> notes ") + image,
        QStringLiteral("TODO\nmove the ") + image
            + QStringLiteral(" <b>Reconcile Segments</b> step into the database"));
    store(3600, QStringLiteral("Browser"), QStringLiteral("Reconcile segments - docs"), QStringLiteral("nothing"));
    pipeline.database->waitUntilIdle();

    window = std::make_unique<SearchWindow>(SearchWindow::Components {
        nullptr, pipeline.storage.get(), pipeline.database.get(), nullptr, &pipeline.clock, std::nullopt });
    ASSERT_TRUE(window->build());
    window->window()->resize(1000, 700);
    window->window()->show();
    SearchModel &model = *window->searchModel();
    QSignalSpy shown(&model, &SearchModel::resultsShown);
    model.setSearchText(QStringLiteral("reconcile segments"));
    ASSERT_TRUE(received(shown));
    ASSERT_EQ(model.results()->count(), 3);
    renderWindow(window->window(), QStringLiteral("cards-snippets"), { { 1000, 700 } });

    QStringList snippets;
    int markupShown = 0;
    for (QQuickItem *text : shownTexts()) {
        const QString shownText = text->property("text").toString();
        if (text->objectName() == QLatin1String("snippet"))
            snippets << shownText;
        // A title or an application name is never read as markup.
        if (shownText.contains(QLatin1String("<b>x</b>")) || shownText.contains(QLatin1String("<b>Cls"))) {
            EXPECT_EQ(text->property("textFormat").toInt(), int(Qt::PlainText)) << shownText.toStdString();
            ++markupShown;
        }
    }
    snippets.sort();
    EXPECT_GE(markupShown, 2); // the card's title and application name at least
    EXPECT_EQ(snippets,
        QStringList({ "error: the <b>reconcile_segments</b> database is locked",
            "move the &lt;img src=&quot;http://127.0.0.1:" + QString::number(trap.serverPort())
                + "/x.png&quot;&gt; &lt;b&gt;<b>Reconcile Segments</b>&lt;/b&gt; step into the database" }));

    model.toggleSimilar(0);
    EXPECT_EQ(model.results()->count(), 5);
    renderWindow(window->window(), QStringLiteral("cards-expanded"), { { 1000, 700 } });

    // The exact time of the first card on hovering its "30 sec. ago".
    model.toggleSimilar(0);
    QQuickItem *time = nullptr;
    for (QQuickItem *text : shownTexts()) {
        if (!time && text->objectName() == QLatin1String("relativeTime"))
            time = text;
    }
    ASSERT_TRUE(time);
    const QString exact = RecordingListModel::absoluteTime(QDateTime::fromMSecsSinceEpoch(
        qint64(secondsSince1970(pipeline.clock.now() - std::chrono::seconds(30)) * 1000)));
    QTest::mouseMove(window->window(), time->mapToScene(QPointF(4, 4)).toPoint());
    EXPECT_TRUE(runEventsUntil([&] {
        const QList<QQuickItem *> texts = shownTexts();
        return std::any_of(texts.begin(), texts.end(), [&](QQuickItem *t) { return t->property("text") == exact; });
    }));
    const QImage withTip = window->window()->grabWindow();
    EXPECT_TRUE(withTip.save(QStringLiteral(PELLUX_BINARY_DIR "/ui-renders/cards-time-tooltip.png")));

    EXPECT_FALSE(trap.hasPendingConnections() || trap.waitForNewConnection(300));
}

} // namespace
} // namespace pellux::test
