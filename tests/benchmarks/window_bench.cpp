// How long one synchronous repaint of the real window takes (offscreen platform). The solver
// repaints after every step; this must stay far below the pause so the pause sets the pace.
#include <benchmark/benchmark.h>
#include <QApplication>

#include "app/form1.h"
#include "support/fake_music_device.h"

namespace {

void BM_RepaintWindow(benchmark::State& state) {
    koma::sound::testing::FakeMusicBackend music;
    koma::app::FormOptions options;
    options.pause = koma::Pause::kOff;
    options.music = koma::sound::testing::FakeMusicFactory(music);
    koma::app::TForm1 form(std::move(options));
    form.show();
    QApplication::processEvents();
    for (auto _ : state) {
        form.RepaintNow();
    }
}
BENCHMARK(BM_RepaintWindow)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qt_argc = 1;
    QApplication application(qt_argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
