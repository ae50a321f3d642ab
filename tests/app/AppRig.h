#pragma once

#include "support/CapturePipeline.h"
#include "ui/MainViewModel.h"

namespace pellux::test {

// The capture pipeline with a fixed ten-second interval, for the model and the tray: the pauses
// they would sleep are recorded instead (`onSleep` runs at each, with its count).
struct AppRig {
    AppRig()
    {
        pipeline.home.saveFixedInterval(10.0);
        pipeline.makeService();
    }

    // A window showing its text.
    void addWindow(quint32 id, const QString &text = QStringLiteral("notes"))
    {
        pipeline.backend.addWindow(
            FakeCaptureBackend::window(id, QRectF(0, 0, 640, 200), text), CapturePipeline::textFrame(text));
    }

    MainViewModel::Sleep recordedSleep()
    {
        return [this](std::chrono::milliseconds delay) -> QCoro::Task<> {
            sleeps.push_back(delay);
            if (onSleep)
                onSleep(int(sleeps.size()));
            co_return;
        };
    }

    // A model over the pipeline; its pauses are recorded when `recorded`, else skipped.
    std::unique_ptr<MainViewModel> newModel(bool recorded = true)
    {
        return std::make_unique<MainViewModel>(MainViewModel::Components { pipeline.service.get(), &pipeline.backend,
            recorded ? recordedSleep() : [](std::chrono::milliseconds) -> QCoro::Task<> { co_return; } });
    }

    // Lets a start-up check run to the end.
    static void settle()
    {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
    }

    CapturePipeline pipeline;
    std::vector<std::chrono::milliseconds> sleeps;
    std::function<void(int)> onSleep;
};

} // namespace pellux::test
