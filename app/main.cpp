// KOMA: a 4 × 4 sliding picture puzzle of a little ballpark.
#include <QApplication>
#include <QIcon>
#include <optional>

#include "app/desktop/lost_window_watch.h"
#include "app/desktop/platform_choice.h"
#include "app/desktop/start_room.h"
#include "app/form1.h"
#include "app/game_sound.h"

int main(int argc, char* argv[]) {
    // The game reads no command line: Qt gets only the program's name, so options such as
    // -reverse or -style cannot change it.
    int qt_argc = argc > 0 ? 1 : 0;
    char* qt_argv[] = {argc > 0 ? argv[0] : nullptr, nullptr};
    // Before Qt starts: without a display Qt would abort with a core dump, and without the
    // memory, the open files or the threads it needs it would wait for ever, and with too small
    // a stack it would crash.
    koma::app::PlatformChoice platform = koma::app::ChoosePlatform();
    if (platform.problem.empty()) {
        platform.problem = koma::app::StartRoomProblem();
    }
    koma::app::ApplyPlatformChoice(platform);
    std::optional<koma::app::PlatformStartGuard> platform_start(std::in_place);
    QApplication application(qt_argc, qt_argv);
    platform_start.reset();  // passes on what Qt said while it started
    QApplication::setApplicationName(QStringLiteral("KOMA"));
    koma::app::SetDesktopIdentity();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/koma.png")));

    // Outlives the window. Nothing of it is loaded, let alone sounds, before the player asks
    // for sound; the fanfare works even when the music file could not be opened.
    koma::app::GameSound sound;

    // Before the window is built: the start-up error box may be the first window lost.
    const koma::app::LostWindowWatch lost_window_watch;

    koma::app::FormOptions options;
    options.pause = koma::Pause::kOn;
    sound.Wire(options);

    koma::app::TForm1 form1(std::move(options));
    form1.show();
    return QApplication::exec();
}
