// The real program ends cleanly however it is closed: with exit status 0, promptly, and with
// nothing left running. Under the sanitizers a leak at exit would also change the status.
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include <unistd.h>

#include "support/disk_audio.h"
#include "x_session.h"

namespace koma::xtest {
namespace {

const QPoint kSoundOn(208 + 10, 432 + 8);  // "BGMや効果音を出す"
const QPoint kSolverButton(437, 380);      // "PCにやらせる"
constexpr int kPromptlyMs = 10000;         // generous for the sanitizer and valgrind builds

const QString kTitle = QStringLiteral("KOMA");

void ClickClient(const XServer& x, QPoint at) {
    x.Click(kClientLeft + at.x(), kClientTop + at.y());
}

class CleanExit : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(x.ok()) << "Xvfb did not start"; }

    // Waits for the game to end after a close and checks that it ended well.
    static void ExpectCleanExit(QProcess& game, int timeout_ms = kPromptlyMs) {
        ASSERT_TRUE(game.waitForFinished(timeout_ms)) << "the game did not end";
        EXPECT_EQ(game.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(game.exitCode(), 0) << game.readAllStandardError().toStdString();
    }

    // Waits for the game's window, switches sound on and lets the music play for `play_ms`;
    // empty if no window came.
    QString SoundOnFor(int play_ms) const {
        const QString window = x.WaitForWindow(kTitle, 15000);
        if (!window.isEmpty()) {
            ClickClient(x, kSoundOn);
            QThread::msleep(static_cast<unsigned long>(play_ms));
        }
        return window;
    }

    // Once the start-up error box `box` is gone, the game's own window opens and closes cleanly.
    void ExpectTheGameToOpenAfter(Game& game, const QString& box) {
        const QString window = x.WaitForAnotherWindow(box, 15000);
        ASSERT_FALSE(window.isEmpty()) << "the game did not open after the box";
        ASSERT_EQ(game.process().state(), QProcess::Running);
        ASSERT_TRUE(x.RequestClose(window));
        ExpectCleanExit(game.process());
    }

    XServer x;
};

TEST_F(CleanExit, ClosingTheWindowWhileTheMusicPlays) {
    Game game(
        x, {}, true,
        {QStringLiteral("SDL_AUDIODRIVER=disk"), QStringLiteral("SDL_DISKAUDIOFILE=sound.raw")});
    const QString window = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(window.isEmpty());
    ClickClient(x, kSoundOn);
    QThread::msleep(2500);
    ASSERT_EQ(game.process().state(), QProcess::Running);

    ASSERT_TRUE(x.RequestClose(window));
    ExpectCleanExit(game.process());
    EXPECT_GT(koma::testing::CountLoud(
                  koma::testing::ReadDiskAudio(game.folder().toStdString() + "/sound.raw")),
              1000U)
        << "the music was not playing when the window closed";
}

TEST_F(CleanExit, ClosingTheWindowRightAfterACompletedGame) {
    Game game(x);
    const QString window = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(window.isEmpty());
    ClickClient(x, kSoundOn);  // the fanfare plays too

    x.Run(QStringLiteral("xdotool"), ClicksToSolveFromTheStart({kClientLeft, kClientTop}));
    const QString notice = x.WaitForAnotherWindow(window, 15000);
    ASSERT_FALSE(notice.isEmpty()) << "no \"できた!!!!\" after the last slide";
    ASSERT_TRUE(x.RequestClose(notice));
    ASSERT_TRUE(x.WaitUntilGone(notice, 5000));

    ASSERT_TRUE(x.RequestClose(window));
    ExpectCleanExit(game.process());
}

TEST_F(CleanExit, ACloseDuringTheComputerSolveWaitsForItsEnd) {
    Game game(x);
    const QString window = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(window.isEmpty());
    ClickClient(x, kSoundOn);
    ClickClient(x, kSolverButton);
    QThread::msleep(1500);
    ASSERT_TRUE(x.RequestClose(window));

    // The solve keeps the program busy; the close is handled once it has returned.
    EXPECT_FALSE(game.process().waitForFinished(3000)) << "the close cut the solve short";
    ExpectCleanExit(game.process(), 240000);
}

TEST_F(CleanExit, ClosingTheStartUpErrorBoxByItsFrameOpensTheGame) {
    Game game(x, {}, /*with_music=*/false);
    const QString box = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(box.isEmpty()) << "no error box for the missing koma.mid";
    QThread::msleep(300);
    ASSERT_EQ(x.Windows(kTitle), QStringList{box}) << "the window opened before the box closed";

    ASSERT_TRUE(x.RequestClose(box));
    ExpectTheGameToOpenAfter(game, box);
}

// `xdotool windowclose` destroys a window outright instead of asking it to close; the game
// must treat that as a close rather than run on without a window.
TEST_F(CleanExit, DestroyingTheWindowFromOutsideEndsTheGame) {
    Game game(x);
    const QString window = SoundOnFor(1000);
    ASSERT_FALSE(window.isEmpty());

    x.Run(QStringLiteral("xdotool"), {QStringLiteral("windowclose"), window});
    ExpectCleanExit(game.process());
}

TEST_F(CleanExit, DestroyingTheStartUpErrorBoxFromOutsideOpensTheGame) {
    Game game(x, {}, /*with_music=*/false);
    const QString box = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(box.isEmpty()) << "no error box for the missing koma.mid";

    x.Run(QStringLiteral("xdotool"), {QStringLiteral("windowclose"), box});
    ExpectTheGameToOpenAfter(game, box);
}

TEST_F(CleanExit, SigtermAfterTheMusicHasPlayedEndsTheProgram) {
    Game game(x);
    const QString window = SoundOnFor(1500);
    ASSERT_FALSE(window.isEmpty());

    // SDL would turn the signal into a quit event that nobody reads, and the game would go on.
    game.process().terminate();
    ASSERT_TRUE(game.process().waitForFinished(kPromptlyMs)) << "SIGTERM did not end the game";
    EXPECT_EQ(game.process().exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(game.process().exitCode(), SIGTERM);
}

// A desktop session that says "wayland" but has an X server (XWayland) still gets the X11
// window, which keeps its fixed place.
TEST_F(CleanExit, AnXServerIsPreferredToWayland) {
    Game game(x, {}, true,
              {QStringLiteral("XDG_SESSION_TYPE=wayland"),
               QStringLiteral("WAYLAND_DISPLAY=koma-test-no-compositor")});
    const QString window = x.WaitForWindow(kTitle, 15000);
    ASSERT_FALSE(window.isEmpty()) << game.process().readAllStandardError().toStdString();
    ASSERT_TRUE(x.RequestClose(window));
    ExpectCleanExit(game.process());
}

// The game started under a limit that prlimit sets ("--nproc=4", "--as=BYTES"), in a folder of
// its own with the two sound files. A limit on processes does not hold for root: the game then
// runs as nobody, from a copy in that folder (the build may lie where nobody may enter, such as
// root's home), with its sound module, which it finds beside itself.
class LimitedStart {
  public:
    explicit LimitedStart(const QString& limit) {
        QFile::setPermissions(folder_.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ExeOwner | QFile::ReadOther |
                                                  QFile::ExeOther);
        for (const char* name : {"koma.mid", "一等賞.wav"}) {
            const QString file = QString::fromUtf8(name);
            ok_ = ok_ &&
                  QFile::copy(QStringLiteral(KOMA_ASSETS_DIR "/") + file, folder_.filePath(file));
        }
        QString binary = QStringLiteral(KOMA_BINARY);
        if (geteuid() == 0 && limit.startsWith(QLatin1String("--nproc"))) {
            program_ = QStringLiteral("setpriv");
            arguments_ << QStringLiteral("--reuid=65534") << QStringLiteral("--regid=65534")
                       << QStringLiteral("--clear-groups") << QStringLiteral("prlimit");
            const QFileInfo built(binary);
            for (const QString& name : {built.fileName(), QStringLiteral("koma-sound.so")}) {
                ok_ = ok_ && QFile::copy(built.dir().filePath(name), folder_.filePath(name));
                QFile::setPermissions(folder_.filePath(name), QFile::ReadOwner | QFile::ExeOwner |
                                                                  QFile::ReadOther |
                                                                  QFile::ExeOther);
            }
            binary = folder_.filePath(built.fileName());
        }
        arguments_ << limit << QStringLiteral("--") << binary;
    }

    bool ok() const { return ok_ && folder_.isValid(); }
    void Start(QProcess& game) const {
        game.setWorkingDirectory(folder_.path());
        game.start(program_, arguments_);
    }

  private:
    QTemporaryDir folder_;
    bool ok_ = true;
    QString program_ = QStringLiteral("prlimit");
    QStringList arguments_;
};

// A user allowed four processes: starting the synthesiser must not need threads it cannot have
// (OpenMP ended the whole game when it could not start one).
TEST_F(CleanExit, SoundOnUnderAProcessLimitKeepsTheGameGoing) {
    const LimitedStart start(QStringLiteral("--nproc=4"));
    ASSERT_TRUE(start.ok());
    QProcess game;
    game.setProcessEnvironment(GameEnvironment(x));
    start.Start(game);
    ASSERT_TRUE(game.waitForStarted(5000));

    const QString window = SoundOnFor(0);
    ASSERT_FALSE(window.isEmpty()) << game.readAllStandardError().toStdString();
    ASSERT_FALSE(game.waitForFinished(4000)) << game.readAllStandardError().toStdString();
    ASSERT_TRUE(x.RequestClose(window));
    ExpectCleanExit(game);
}

// The game ends, without opening a window, in one line naming `named` and status 1, not with
// Qt's abort and a core dump. `environment` starts from the caller's, with no display in it.
// `start`, when given, starts the game instead, under its limit.
void ExpectOneLineAndStatusOne(const QStringList& environment, const QString& named,
                               const LimitedStart* start = nullptr) {
    const QTemporaryDir runtime;  // no Wayland socket in it
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":9876"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    for (const QString& setting : environment) {
        env.insert(setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1));
    }
    QProcess game;
    game.setProcessEnvironment(env);
    if (start != nullptr) {
        start->Start(game);
    } else {
        game.start(QStringLiteral(KOMA_BINARY), {});
    }
    ASSERT_TRUE(game.waitForFinished(kPromptlyMs)) << "the game waits for ever";
    EXPECT_EQ(game.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(game.exitCode(), 1);
    const QByteArray said = game.readAllStandardError();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(named.toUtf8())) << said.toStdString();
}

TEST(StartUp, WithoutAnyDisplayEndsWithOneLineAndStatusOne) {
    ExpectOneLineAndStatusOne({}, QStringLiteral(":9876"));
}

// A QT_QPA_PLATFORM that cannot start ends the same way: Wayland on a desktop with X alone, and
// a platform Qt does not have (Qt's own complaints, and its locale warning, are not passed on).
TEST(StartUp, APlatformThatCannotStartEndsWithOneLineAndStatusOne) {
    const XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    const QString display = QStringLiteral("DISPLAY=") + x.display();
    ExpectOneLineAndStatusOne({display, QStringLiteral("QT_QPA_PLATFORM=wayland")},
                              QStringLiteral("WAYLAND_DISPLAY"));
    ExpectOneLineAndStatusOne({display, QStringLiteral("QT_QPA_PLATFORM=koma-no-such-platform"),
                               QStringLiteral("LC_ALL=C")},
                              QStringLiteral("\"koma-no-such-platform\""));
}

// Without the memory, the stack, the open files or the threads Qt needs for the window (an
// address-space limit of 100 MiB, a 64 KiB stack, eight open files, a user allowed two
// processes) the game ends the same way, instead of waiting for ever or crashing.
TEST(StartUp, WithoutRoomForTheWindowEndsWithOneLineAndStatusOne) {
    const XServer x;
    ASSERT_TRUE(x.ok()) << "Xvfb did not start";
    const QStringList display{QStringLiteral("DISPLAY=") + x.display()};
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator cannot work under such a limit
    const LimitedStart small_memory(QStringLiteral("--as=%1").arg(100 << 20));
    ASSERT_TRUE(small_memory.ok());
    ExpectOneLineAndStatusOne(display, QStringLiteral("memory"), &small_memory);
#endif
    const LimitedStart small_stack(QStringLiteral("--stack=65536"));
    ASSERT_TRUE(small_stack.ok());
    ExpectOneLineAndStatusOne(display, QStringLiteral("stack"), &small_stack);
    const LimitedStart few_files(QStringLiteral("--nofile=8"));
    ASSERT_TRUE(few_files.ok());
    ExpectOneLineAndStatusOne(display, QStringLiteral("open files"), &few_files);
    const LimitedStart two_processes(QStringLiteral("--nproc=2"));
    ASSERT_TRUE(two_processes.ok());
    ExpectOneLineAndStatusOne(display, QStringLiteral("threads"), &two_processes);
}

}  // namespace
}  // namespace koma::xtest
