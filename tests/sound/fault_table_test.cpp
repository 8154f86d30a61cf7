// Every way the game's sound can go wrong, one row each: how the fault is made, what the
// player is told, and that the game still works afterwards. Each row builds the real window
// with the real sound layer (SDL's dummy driver) in a folder of its own, as the game starts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <SDL_mixer.h>
#include <QApplication>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/board_frame.h"
#include "app/form1.h"
#include "modal_closer.h"
#include "sound/audio_output.h"
#include "sound/sound_effect.h"
#include "sound/synth_music_device.h"
#include "sound_files.h"

namespace koma::sound {
namespace {

using ::testing::AllOf;
using testing::Bytes;
using ::testing::EndsWith;
using ::testing::Matcher;
using ::testing::StartsWith;
using testing::TempDir;

constexpr char kDummyDriver[] = "dummy";

Bytes RandomBytes(std::size_t count) {
    std::mt19937 random(7);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

Bytes TruncatedMidi() {
    Bytes midi = testing::OneNoteMidi();
    midi.erase(midi.end() - 6, midi.end());  // cut into the last event
    return midi;
}

// The folder the game starts in and what it starts with; a row changes what it needs.
struct Folder {
    explicit Folder(const TempDir& folder) : dir(folder) {
        dir.Write("koma.mid", testing::OneNoteMidi(4 * testing::kTicksPerQuarter));
        dir.Write("一等賞.wav", testing::ToneWav(1.0));
    }
    void Remove(const std::string& name) const { std::filesystem::remove_all(dir.Path(name)); }
    void MakeFolder(const std::string& name) const {
        Remove(name);
        std::filesystem::create_directory(dir.Path(name));
    }

    const TempDir& dir;
    std::string driver = kDummyDriver;
    std::string soundfont;  // empty: the default one
};

struct Fault {
    std::string name;
    std::function<void(Folder&)> make;
    // The error box before the window opens; nullptr when there is none.
    std::function<Matcher<std::string>(const Folder&)> message;
    // Whether the fanfare sounds when the player completes the game with sound on.
    bool fanfare;
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

Matcher<std::string> Is(const std::string& text) {
    return ::testing::Eq(text);
}

const Fault kFaults[] = {
    {"NothingWrong", [](Folder&) {}, nullptr, true},
    {"NoMusicFile", [](Folder& s) { s.Remove("koma.mid"); },
     [](const Folder&) { return Is("音楽ファイル「koma.mid」が見つかりません."); }, true},
    {"EmptyMusicFile", [](Folder& s) { s.dir.Write("koma.mid", {}); },
     [](const Folder&) { return Is("「koma.mid」は MIDI ファイルではありません."); }, true},
    {"RandomBytes", [](Folder& s) { s.dir.Write("koma.mid", RandomBytes(4000)); },
     [](const Folder&) { return Is("「koma.mid」は MIDI ファイルではありません."); }, true},
    {"WavNamedKomaMid", [](Folder& s) { s.dir.Write("koma.mid", testing::ToneWav()); },
     [](const Folder&) { return Is("「koma.mid」は MIDI ファイルではありません."); }, true},
    {"TruncatedMidi", [](Folder& s) { s.dir.Write("koma.mid", TruncatedMidi()); },
     [](const Folder&) { return Is("「koma.mid」は壊れた MIDI ファイルです (曲の長さが 0 です)"); },
     true},
    {"MidiWithoutNotes", [](Folder& s) { s.dir.Write("koma.mid", testing::EmptyPieceMidi()); },
     [](const Folder&) { return Is("「koma.mid」は壊れた MIDI ファイルです (曲の長さが 0 です)"); },
     true},
    {"FolderNamedKomaMid", [](Folder& s) { s.MakeFolder("koma.mid"); },
     [](const Folder&) { return Is("「koma.mid」はフォルダーで、音楽ファイルではありません."); },
     true},
    // Not files at all: a pipe would block the start-up forever, a device would never end.
    {"PipeNamedKomaMid",
     [](Folder& s) {
         s.Remove("koma.mid");
         ASSERT_EQ(mkfifo(s.dir.Path("koma.mid").c_str(), 0600), 0);
     },
     [](const Folder&) { return Is("「koma.mid」は MIDI ファイルではありません."); }, true},
    {"DeviceNamedKomaMid",
     [](Folder& s) {
         s.Remove("koma.mid");
         std::filesystem::create_symlink("/dev/zero", s.dir.Path("koma.mid"));
     },
     [](const Folder&) { return Is("「koma.mid」は MIDI ファイルではありません."); }, true},
    {"NoSoundfont", [](Folder& s) { s.soundfont = s.dir.Path("none.sf2"); },
     [](const Folder& s) { return Is("音色ファイル「" + s.soundfont + "」が見つかりません."); },
     true},
    {"BrokenSoundfont",
     [](Folder& s) { s.soundfont = s.dir.Write("broken.sf2", RandomBytes(2000)); },
     [](const Folder& s) {
         // FluidSynth's own reason goes in the brackets.
         return Matcher<std::string>(AllOf(
             StartsWith("音色ファイル「" + s.soundfont + "」を読み込めません ("), EndsWith(")")));
     },
     true},
    {"NoAudioOutput", [](Folder& s) { s.driver = "koma-no-such-driver"; },
     [](const Folder&) {
         // SDL's reason goes in the brackets.
         return Matcher<std::string>(
             AllOf(StartsWith("音楽を鳴らせません: 音声出力を開けません ("), EndsWith(")")));
     },
     false},
    {"NoFanfareFile", [](Folder& s) { s.Remove("一等賞.wav"); }, nullptr, false},
    {"EmptyFanfareFile", [](Folder& s) { s.dir.Write("一等賞.wav", {}); }, nullptr, false},
    {"BrokenFanfareFile", [](Folder& s) { s.dir.Write("一等賞.wav", RandomBytes(3000)); }, nullptr,
     false},
    {"FolderNamedLikeTheFanfare", [](Folder& s) { s.MakeFolder("一等賞.wav"); }, nullptr, false},
    {"PipeNamedLikeTheFanfare",
     [](Folder& s) {
         s.Remove("一等賞.wav");
         ASSERT_EQ(mkfifo(s.dir.Path("一等賞.wav").c_str(), 0600), 0);
     },
     nullptr, false},
    {"DeviceNamedLikeTheFanfare",
     [](Folder& s) {
         s.Remove("一等賞.wav");
         std::filesystem::create_symlink("/dev/zero", s.dir.Path("一等賞.wav"));
     },
     nullptr, false},
};

// The game as main() builds it, started in the row's folder.
class Game {
  public:
    explicit Game(const Folder& setup)
        : previous_dir_(std::filesystem::current_path()),
          driver_(setup.driver),
          output_(std::make_unique<AudioOutput>()),
          effect_(*output_) {
        std::filesystem::current_path(setup.dir.Path(""));
        app::FormOptions options;
        options.pause = Pause::kOff;
        options.music = [this, soundfont = setup.soundfont] {
            return MakeSynthMusicDevice(*output_, soundfont);
        };
        options.play_effect = [this](const std::string& file) { effect_.Play(file); };
        form_ = std::make_unique<app::TForm1>(std::move(options));
    }
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;
    ~Game() {
        form_.reset();
        std::filesystem::current_path(previous_dir_);
    }

    app::TForm1& form() { return *form_; }

  private:
    // Chooses SDL's audio driver before the output opens.
    struct Driver {
        explicit Driver(const std::string& name) { setenv("SDL_AUDIODRIVER", name.c_str(), 1); }
    };

    std::filesystem::path previous_dir_;
    Driver driver_;
    std::unique_ptr<AudioOutput> output_;
    SoundEffect effect_;
    std::unique_ptr<app::TForm1> form_;
};

class SoundFaultTest : public ::testing::TestWithParam<Fault> {
  protected:
    TempDir dir;
};

TEST_P(SoundFaultTest, ThePlayerIsToldOnceAndTheGameStillWorks) {
    const Fault& fault = GetParam();
    Folder setup(dir);
    fault.make(setup);

    app::testing::ModalCloser closer;
    Game game(setup);
    app::TForm1& form = game.form();

    // What the player is told before the window opens.
    if (fault.message) {
        ASSERT_EQ(closer.seen.size(), 1U);
        EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
        EXPECT_THAT(closer.seen[0].text.toStdString(), fault.message(setup));
        EXPECT_FALSE(form.MediaPlayer1().IsOpen());
    } else {
        EXPECT_TRUE(closer.seen.empty());
        EXPECT_TRUE(form.MediaPlayer1().IsOpen());
    }
    form.show();

    // Sound on: without music the player hears of it once more, and the switch stays on.
    closer.seen.clear();
    QTest::mouseClick(form.RadioButton2(), Qt::LeftButton);
    EXPECT_TRUE(form.IsSoundOn());
    if (fault.message) {
        ASSERT_EQ(closer.seen.size(), 1U);
        EXPECT_EQ(closer.seen[0].text, "MCI デバイスがありません.");
    } else {
        EXPECT_TRUE(closer.seen.empty());
    }

    // The game plays: the computer solves it, and after a restart the player completes it.
    closer.seen.clear();
    QTest::mouseClick(form.Button1(), Qt::LeftButton);
    EXPECT_EQ(form.puzzle().cells(), GoalLayout);
    QTest::mouseClick(form.Button3(), Qt::LeftButton);
    EXPECT_EQ(form.puzzle().cells(), StartLayout);
    Grid one_short = GoalLayout;
    std::swap(one_short[0][1], one_short[1][1]);  // the blank beside its goal cell
    form.puzzle().SetCells(one_short);
    const QPoint blank_cell(CellLeft(0) + 30, CellTop(1) + 30);  // client coordinates
    QTest::mouseClick(form.Shape1(), Qt::LeftButton, {}, blank_cell - form.Shape1()->pos());
    EXPECT_EQ(form.puzzle().cells(), GoalLayout);
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    // Mix_Playing may only be asked while an output is open.
    const bool output_open = Mix_QuerySpec(nullptr, nullptr, nullptr) != 0;
    const int fanfares = output_open ? Mix_Playing(-1) : 0;
    EXPECT_EQ(fanfares, fault.fanfare ? 1 : 0) << "channels playing the fanfare";
}

INSTANTIATE_TEST_SUITE_P(EachFault, SoundFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return row.param.name; });

}  // namespace
}  // namespace koma::sound
