// Every way the game's sound can go wrong, one row each: how the fault is made, what the
// player is told, and that the game still works afterwards. Each row builds the real window
// with the real sound layer (SDL's dummy driver) in a folder of its own, as the game starts.
#include <dlfcn.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <SDL_mixer.h>
#include <QApplication>
#include <QMessageBox>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/board_frame.h"
#include "app/form1.h"
#include "app/game_sound.h"
#include "form_probe.h"
#include "modal_closer.h"
#include "sound/checks/music_file.h"
#include "sound/game/module_file.h"
#include "sound/game/sound_module.h"
#include "sound_files.h"

namespace koma::sound {
namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using testing::Bytes;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Matcher;
using ::testing::Not;
using ::testing::StartsWith;
using testing::TempDir;

constexpr char kDummyDriver[] = "dummy";
constexpr char kTooLarge[] = "「koma.mid」は音楽ファイルには大きすぎます (2 MB まで)";
constexpr char kNoOutput[] = "音を出せません (デスクトップのサウンドサーバーは動いていますか?)";

Bytes RandomBytes(std::size_t count) {
    std::mt19937 random(7);
    Bytes bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<unsigned char>(random());
    }
    return bytes;
}

// A Standard MIDI File of one track holding `body`, at 120 bpm.
Bytes TrackMidi(Bytes body) {
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});  // the end of the track
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    for (int shift = 24; shift >= 0; shift -= 8) {
        file.push_back(static_cast<unsigned char>(body.size() >> shift));
    }
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// `notes` notes, each `spacing` ticks after the last, as a hostile file would be written:
// running status, the notes ending together at the end.
Bytes ManyNotesMidi(std::uint32_t notes, std::uint32_t spacing) {
    Bytes body{0x00, 0x90};
    for (std::uint32_t i = 0; i < notes; ++i) {
        if (i > 0) {
            tune::AppendVariableLength(body, spacing);
        }
        body.insert(body.end(), {static_cast<unsigned char>(36 + i % 48), 100});
    }
    body.insert(body.end(), {0x60, 0xB0, 123, 0});  // all notes off
    return TrackMidi(body);
}

// `count` note-ons of one key and then as many note-offs, all at once; the piece goes on for
// four seconds.
Bytes OneKeyCrowdMidi(std::uint32_t count) {
    Bytes body{0x00, 0x90};
    for (std::uint32_t i = 0; i < 2 * count; ++i) {
        if (i == count) {
            body.push_back(0x80);  // after the delta time already written
        }
        body.insert(body.end(), {60, 100});
        body.push_back(0x00);
    }
    body.pop_back();
    tune::AppendVariableLength(body, 8 * testing::kTicksPerQuarter);
    body.insert(body.end(), {0xB0, 7, 100});  // a volume change marks the end
    return TrackMidi(body);
}

// About `bytes` of tempo changes to a microsecond per quarter, all on the first tick of a
// piece one tick long, which the loop replays as fast as it can.
Bytes TempoStormMidi(std::size_t bytes) {
    Bytes body;
    while (body.size() < bytes) {
        body.insert(body.end(), {0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x01});
    }
    body.insert(body.end(), {0x01, 0xB0, 7, 100});  // a volume change ends the tick
    return TrackMidi(body);
}

// `count` notes over fifteen channels and ninety keys, struck on the first tick and released
// on the next: a one-tick piece.
Bytes OneTickCrowdMidi(std::uint32_t count) {
    Bytes body;
    for (std::uint32_t i = 0; i < 2 * count; ++i) {
        const std::uint32_t note = i % count;
        body.insert(body.end(), {static_cast<unsigned char>(i == count),
                                 static_cast<unsigned char>((i < count ? 0x90 : 0x80) | note % 15),
                                 static_cast<unsigned char>(21 + note / 15 % 90), 100});
    }
    return TrackMidi(body);
}

// A file that starts like a MIDI file and goes on for `bytes`, written sparsely.
void HugeFileLikeMidi(const std::string& path, std::uintmax_t bytes) {
    {
        std::ofstream out(path, std::ios::binary);
        const Bytes start = testing::OneNoteMidi();
        out.write(reinterpret_cast<const char*>(start.data()),
                  static_cast<std::streamsize>(start.size()));
    }
    std::filesystem::resize_file(path, bytes);
}

// Makes `path` unreadable. Root reads a file whatever its mode, but not a write-only kernel
// setting, so as root the name becomes a link to one.
void MakeUnreadable(const std::string& path) {
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(path.c_str(), 0), 0);
        return;
    }
    constexpr char kWriteOnly[] = "/proc/sys/vm/compact_memory";
    ASSERT_TRUE(std::filesystem::exists(kWriteOnly));
    std::filesystem::remove(path);
    std::filesystem::create_symlink(kWriteOnly, path);
}

// What the process writes to its standard error while alive, kept off the terminal.
class StderrCapture {
  public:
    explicit StderrCapture(std::string path) : path_(std::move(path)), saved_(dup(STDERR_FILENO)) {
        std::fflush(stderr);
        const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, STDERR_FILENO);
        close(file);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() { Restore(); }

    // Ends the capture and returns what was written.
    std::string Text() {
        Restore();
        std::ifstream in(path_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    void Restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    std::string path_;
    int saved_;
};

// A chunk that is not a track, whose length points back at itself: FluidSynth's loader reads
// it for ever.
Bytes ChunkThatLoopsMidi() {
    Bytes midi = testing::OneNoteMidi();
    const Bytes chunk{'X', 'X', 'X', 'X', 0xFF, 0xFF, 0xFF, 0xFC};
    midi.insert(midi.begin() + 14, chunk.begin(), chunk.end());
    return midi;
}

Bytes TruncatedMidi() {
    Bytes midi = testing::OneNoteMidi();
    midi.erase(midi.end() - 6, midi.end());  // cut into the last event
    return midi;
}

// Lets `user` write `path` through an ACL, its mode bits staying 0775 (as `setfacl -m
// u:USER:rw`): the entries as the kernel keeps them, little-endian, in their order.
void LetAnotherUserWrite(const std::string& path, std::uint32_t user) {
    Bytes acl{2, 0, 0, 0};
    for (const auto& [tag, bits, id] : {std::array<std::uint32_t, 3>{0x01, 7, ~0U},
                                        {0x02, 6, user},
                                        {0x04, 5, ~0U},
                                        {0x10, 7, ~0U},
                                        {0x20, 5, ~0U}}) {
        for (const auto& [value, size] : {std::pair{tag, 2}, {bits, 2}, {id, 4}}) {
            for (int i = 0; i < size; ++i) {
                acl.push_back(static_cast<unsigned char>(value >> (8 * i)));
            }
        }
    }
    if (setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "no ACLs in " << path;
    }
}

std::filesystem::path TestFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
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
    // A copy of the game's module at `name`, with `mode`, cut to `size` bytes if given.
    void CopyModule(const std::string& name, mode_t mode, std::uintmax_t size = 0) {
        module = dir.Path(name);
        std::filesystem::copy_file(KOMA_SOUND_MODULE, module);
        ASSERT_EQ(chmod(module.c_str(), mode), 0);
        if (size > 0) {
            std::filesystem::resize_file(module, size);
        }
    }
    // Puts `planted` where an older game looked first, two folders above its binary, and lets
    // the game choose its module: beside this test, where there is none.
    void PlantTwoFoldersUp(const std::string& planted) {
        const auto up = TestFolder() / "../..";
        ASSERT_FALSE(std::filesystem::exists(up / "lib"));
        planted_ = up / "lib";
        const auto folder = planted_ / KOMA_LIBRARY_ARCHITECTURE / "koma";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(planted, folder / "koma-sound.so");
        module = InstalledModulePath();
    }
    // Adds a user whose primary group is `group` to the user list as this thread sees it (in
    // a mount namespace of its own, so only as root) until the row ends.
    void AddUserWithPrimaryGroup(gid_t group) {
        if (geteuid() != 0 || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "only root lays a user list over /etc/passwd";
        }
        const std::string users = dir.Path("passwd");
        std::filesystem::copy_file("/etc/passwd", users);
        std::ofstream(users, std::ios::app) << "koma-other:x:4242:" << group << "::/:/bin/false\n";
        ASSERT_EQ(mount(users.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr), 0);
        users_laid_ = true;
    }
    // Lowers the limit on open files until the row ends, so that `count` more may be opened.
    void LeaveOpenFiles(rlim_t count) {
        std::vector<rlim_t> open_now;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
            open_now.push_back(std::stoul(entry.path().filename().string()));
        }
        ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit_), 0);
        rlimit lowered = limit_;
        for (lowered.rlim_cur = count;;) {
            const auto below =
                static_cast<rlim_t>(std::count_if(open_now.begin(), open_now.end(), [&](rlim_t fd) {
                    return fd < lowered.rlim_cur;
                }));
            if (lowered.rlim_cur == below + count) {
                break;
            }
            lowered.rlim_cur = below + count;
        }
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    }
    ~Folder() {
        if (!planted_.empty()) {
            std::filesystem::remove_all(planted_);
        }
        if (users_laid_) {
            umount2("/etc/passwd", MNT_DETACH);
        }
        if (limit_.rlim_cur != 0) {
            setrlimit(RLIMIT_NOFILE, &limit_);
        }
    }

    const TempDir& dir;
    std::string driver = kDummyDriver;
    std::string soundfont;  // empty: the default one
    std::string module = KOMA_SOUND_MODULE;

  private:
    std::filesystem::path planted_;
    bool users_laid_ = false;
    rlimit limit_{};
};

using Message = std::function<Matcher<std::string>(const Folder&)>;

struct Fault {
    std::string name;
    std::function<void(Folder&)> make;
    // The error box before the window opens; nullptr when there is none.
    Message message;
    // Whether the fanfare sounds when the player completes the game with sound on.
    bool fanfare;
    // What changes once the window is open, before sound is switched on; nullptr for nothing.
    std::function<void(Folder&)> change = nullptr;
    // The error box when sound is switched on; nullptr: "MCI デバイスがありません." after a box
    // at start, else none.
    Message on_message = nullptr;
    // Whether the music's CPU share and memory growth while it plays are checked.
    bool busy = false;
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.name;
}

Matcher<std::string> Is(const std::string& text) {
    return ::testing::Eq(text);
}

Matcher<std::string> NoModule(const std::string& named) {
    return AllOf(StartsWith("音を出せません (サウンドモジュールを読み込めません: "),
                 HasSubstr(named), EndsWith(")"));
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
    {"ChunkThatLoops", [](Folder& s) { s.dir.Write("koma.mid", ChunkThatLoopsMidi()); },
     [](const Folder&) { return Is("「koma.mid」は壊れた MIDI ファイルです (曲の長さが 0 です)"); },
     true},
    {"UnreadableMusicFile", [](Folder& s) { MakeUnreadable(s.dir.Path("koma.mid")); },
     [](const Folder&) { return Is("音楽ファイル「koma.mid」を読めません."); }, true},
    // Read whole, either would take hundreds of MB before it could be refused.
    {"HugeFileThatStartsLikeMidi",
     [](Folder& s) { HugeFileLikeMidi(s.dir.Path("koma.mid"), std::uintmax_t{200} << 20); },
     [](const Folder&) { return Is(kTooLarge); }, true},
    // Three million notes at one tick: the synthesiser would spend minutes on the first block.
    {"ThreeMillionNotesAtOnce",
     [](Folder& s) { s.dir.Write("koma.mid", ManyNotesMidi(3'000'000, 0)); },
     [](const Folder&) { return Is(kTooLarge); }, true},
    // Still more notes at one tick than can sound: the game plays on, the terminal stays quiet.
    {"DenseChordUnderTheSizeLimit",
     [](Folder& s) { s.dir.Write("koma.mid", ManyNotesMidi(400'000, 0)); }, nullptr, true},
    // More note-offs at once than a buffer takes: none may be lost, or notes hang for ever.
    {"TwoThousandNoteOffsAtOnce", [](Folder& s) { s.dir.Write("koma.mid", OneKeyCrowdMidi(2000)); },
     nullptr, true},
    {"TempoStorm", [](Folder& s) { s.dir.Write("koma.mid", TempoStormMidi(500'000)); }, nullptr,
     true, nullptr, nullptr, true},
    // Each pass, the note-offs past a buffer's room would wait in a queue that grew for ever.
    {"HundredThousandNotesInOneTick",
     [](Folder& s) { s.dir.Write("koma.mid", OneTickCrowdMidi(100'000)); }, nullptr, true, nullptr,
     nullptr, true},
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
    // What an upgrade of the sound font's package can do under a running game.
    {"SoundfontBrokenSinceStart",
     [](Folder& s) {
         s.soundfont = s.dir.Path("font.sf2");
         std::filesystem::copy_file(DefaultSoundfont(), s.soundfont);
     },
     nullptr, true,
     [](Folder& s) {
         std::filesystem::resize_file(s.soundfont, std::filesystem::file_size(s.soundfont) / 2);
     },
     [](const Folder& s) {
         return Matcher<std::string>(
             StartsWith("音色ファイル「" + s.soundfont + "」を読み込めません ("));
     }},
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
    // Known only once the output is opened, when sound is switched on.
    {"NoAudioOutput", [](Folder& s) { s.driver = "koma-no-such-driver"; }, nullptr, false, nullptr,
     [](const Folder&) { return Is(kNoOutput); }},
    // A broken install: the sound module, or a library it needs, is not there. Told when sound
    // is switched on, as a missing output is.
    {"NoSoundModule", [](Folder& s) { s.module = s.dir.Path("koma-sound.so"); }, nullptr, false,
     nullptr, [](const Folder& s) { return NoModule(s.module); }},
    {"SoundModuleLibraryMissing", [](Folder& s) { s.module = KOMA_MODULE_WITHOUT_LIBRARY; },
     nullptr, false, nullptr, [](const Folder&) { return NoModule("libkoma_gone.so"); }},
    // Whoever may write there would run code in the game: it loads its own module only.
    {"ModulePlantedTwoFoldersUp",
     [](Folder& s) { s.PlantTwoFoldersUp(KOMA_MODULE_WITHOUT_LIBRARY); }, nullptr, false, nullptr,
     [](const Folder&) { return NoModule(TestFolder() / "koma-sound.so"); }},
    {"ModuleOthersMayWrite", [](Folder& s) { s.CopyModule("koma-sound.so", 0646); }, nullptr, false,
     nullptr, [](const Folder& s) { return NoModule(s.module); }},
    {"ModuleInAFolderOthersMayWrite",
     [](Folder& s) {
         s.MakeFolder("shared");
         chmod(s.dir.Path("shared").c_str(), 0777);
         s.CopyModule("shared/koma-sound.so", 0644);
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.dir.Path("shared")); }},
    // Mode bits that look safe, and an ACL that lets another user write.
    {"ModuleOthersMayWriteByAnAcl",
     [](Folder& s) {
         s.CopyModule("koma-sound.so", 0755);
         LetAnotherUserWrite(s.module, 65534);
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    // The owner's own group, but also another user's primary group (in the user list alone).
    {"ModuleWritableByAnotherUsersPrimaryGroup",
     [](Folder& s) {
         chmod(s.dir.Path("").c_str(), 0755);
         s.CopyModule("koma-sound.so", 0775);
         s.AddUserWithPrimaryGroup(getegid());
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    // A link is followed only where root or the player made it, through folders checked alike.
    {"ModuleLinkedIntoAFolderOthersMayWrite",
     [](Folder& s) {
         s.MakeFolder("shared");
         chmod(s.dir.Path("shared").c_str(), 0777);
         s.CopyModule("shared/koma-sound.so", 0644);
         s.module = s.dir.Path("koma-sound.so");
         std::filesystem::create_symlink("shared/koma-sound.so", s.module);
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.dir.Path("shared")); }},
    {"ModuleLinkOfAnotherUser",
     [](Folder& s) {
         s.module = s.dir.Path("koma-sound.so");
         std::filesystem::create_symlink(KOMA_SOUND_MODULE, s.module);
         if (lchown(s.module.c_str(), 65534, 65534) != 0) {
             GTEST_SKIP() << "only root gives a link to another user";
         }
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    // The loader would crash on the first missing page (SIGBUS: the headers whole, the code cut
    // off), hang on a pipe, or call into another interface (SIGSEGV).
    {"ModuleCutShort", [](Folder& s) { s.CopyModule("koma-sound.so", 0644, 16384); }, nullptr,
     false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    {"ModuleIsAPipe",
     [](Folder& s) {
         s.module = s.dir.Path("koma-sound.so");
         ASSERT_EQ(mkfifo(s.module.c_str(), 0600), 0);
     },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    {"ModuleOfAnotherVersion", [](Folder& s) { s.module = KOMA_MODULE_OF_ANOTHER_VERSION; },
     nullptr, false, nullptr, [](const Folder& s) { return NoModule(s.module); }},
    // The output would fail halfway, or the notice after it wait for ever on the X server.
    {"TooFewOpenFilesLeftForTheOutput", [](Folder&) {}, nullptr, false,
     [](Folder& s) { s.LeaveOpenFiles(kSoundDescriptors / 2); },
     [](const Folder&) { return Is("音を出せません (開いているファイルが多すぎます)"); }},
};

// The game as main() builds it, started in the row's folder.
class Game {
  public:
    explicit Game(const Folder& setup)
        : previous_dir_(std::filesystem::current_path()),
          driver_(setup.driver),
          sound_(setup.module, setup.soundfont) {
        std::filesystem::current_path(setup.dir.Path(""));
        app::FormOptions options;
        options.pause = Pause::kOff;
        sound_.Wire(options);
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
    app::GameSound sound_;
    std::unique_ptr<app::TForm1> form_;
};

// The fanfare lasts a second, the music's tail two, and the window looks every second.
constexpr int kReleasedWithinMs = 5000;

bool OutputOpen() {
    return Mix_QuerySpec(nullptr, nullptr, nullptr) != 0;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A field of /proc/self/status, in KiB.
long StatusKiB(const std::string& field);

class SoundFaultTest : public ::testing::TestWithParam<Fault> {
  protected:
    TempDir dir;
};

TEST_P(SoundFaultTest, ThePlayerIsToldOnceAndTheGameStillWorks) {
    const Fault& fault = GetParam();
    Folder setup(dir);
    fault.make(setup);
    if (IsSkipped()) {
        return;
    }

    app::testing::ModalCloser closer;
    Game game(setup);
    app::TForm1& form = game.form();
    const app::testing::FormProbe probe{form};

    // What the player is told before the window opens.
    if (fault.message) {
        ASSERT_EQ(closer.seen.size(), 1U);
        EXPECT_EQ(closer.seen[0].icon, QMessageBox::Critical);
        EXPECT_THAT(closer.seen[0].text.toStdString(), fault.message(setup));
    } else {
        EXPECT_TRUE(closer.seen.empty());
    }
    if (fault.change) {
        fault.change(setup);
    }
    form.show();

    // Sound on: a failure is told once, and the switch stays on. The synthesiser's own
    // messages never reach the terminal.
    StderrCapture terminal(dir.Path("stderr.txt"));
    closer.seen.clear();
    QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton);
    QTest::qWait(200);  // the first blocks of music are rendered
    EXPECT_TRUE(form.IsSoundOn());
    const Message on_message =
        fault.on_message ? fault.on_message
        : fault.message ? Message([](const Folder&) { return Is("MCI デバイスがありません."); })
                        : nullptr;
    if (on_message) {
        ASSERT_EQ(closer.seen.size(), 1U);
        EXPECT_THAT(closer.seen[0].text.toStdString(), on_message(setup));
        EXPECT_FALSE(OutputOpen()) << "a failed sound on holds the output";
    } else {
        EXPECT_TRUE(closer.seen.empty());
    }
    if (fault.busy) {
        const double before = CpuSeconds();
        const long memory = StatusKiB("VmRSS");
        QTest::qWait(2000);
        EXPECT_LT((CpuSeconds() - before) / 2.0, 0.1) << "share of a core while the music plays";
        EXPECT_LT(StatusKiB("VmRSS") - memory, 16 * 1024) << "KiB more while the music played";
    }

    // The game plays: the computer solves it, and after a restart the player completes it.
    closer.seen.clear();
    QTest::mouseClick(probe.Button1(), Qt::LeftButton);
    EXPECT_EQ(probe.Board(), GoalLayout);
    QTest::mouseClick(probe.Button3(), Qt::LeftButton);
    EXPECT_EQ(probe.Board(), StartLayout);
    probe.PlayToOneSlideShortOfTheGoal();
    probe.PressCell({0, 1});
    EXPECT_EQ(probe.Board(), GoalLayout);
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    // Mix_Playing may only be asked while an output is open.
    const int fanfares = OutputOpen() ? Mix_Playing(-1) : 0;
    EXPECT_EQ(fanfares, fault.fanfare ? 1 : 0) << "channels playing the fanfare";
    EXPECT_THAT(terminal.Text(), Not(HasSubstr("fluidsynth")));

    // Sound off: once the fanfare and the music's tail have ended, the output is released.
    QTest::mouseClick(probe.RadioButton1(), Qt::LeftButton);
    EXPECT_FALSE(form.IsSoundOn());
    for (int waited = 0; OutputOpen() && waited < kReleasedWithinMs; waited += 100) {
        QTest::qWait(100);
    }
    EXPECT_FALSE(OutputOpen()) << "still open " << kReleasedWithinMs << " ms after sound off";
}

INSTANTIATE_TEST_SUITE_P(EachFault, SoundFaultTest, ::testing::ValuesIn(kFaults),
                         [](const auto& row) { return row.param.name; });

// The loader is given the file that was looked at, whatever its name holds by then; a module
// already loaded comes back as it is.
TEST(ModuleFileTest, WhatIsLoadedIsWhatWasLookedAt) {
    const TempDir dir;
    const std::string name = dir.Path("koma-sound.so");
    std::filesystem::create_symlink(KOMA_SOUND_MODULE, name);
    ModuleFile file(name);
    ASSERT_EQ(file.problem(), "");
    std::filesystem::copy_file(KOMA_MODULE_OF_ANOTHER_VERSION, dir.Path("other.so"));
    std::filesystem::rename(dir.Path("other.so"), name);
    std::string error;
    void* const handle = file.Load(RTLD_NOW | RTLD_LOCAL, error);
    ASSERT_NE(handle, nullptr) << error;
    EXPECT_EQ(*static_cast<const int*>(dlsym(handle, kSoundInterfaceVersionSymbol)),
              kSoundInterfaceVersion);
    EXPECT_EQ(dlopen(KOMA_SOUND_MODULE, RTLD_NOW | RTLD_NOLOAD), handle);
}

// Every kind of fanfare file, good or hostile, played where the game plays it: at the player's
// completion with sound on.
struct FanfareFault {
    std::string name;
    std::function<void(Folder&)> make;
    bool plays;
    // What changes after a first completion with the file as made; nullptr: there is none.
    std::function<void(Folder&)> after_first = nullptr;
};

void PrintTo(const FanfareFault& fault, std::ostream* out) {
    *out << fault.name;
}

std::function<void(Folder&)> Fanfare(const testing::WavFields& wav) {
    return [wav](Folder& s) { s.dir.Write("一等賞.wav", testing::WavFile(wav)); };
}

testing::WavFields Format(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                          std::uint16_t bits, std::uint32_t data_bytes = 8820) {
    testing::WavFields wav;
    wav.tag = tag;
    wav.channels = channels;
    wav.rate = rate;
    wav.bits = bits;
    wav.data_bytes = data_bytes;
    return wav;
}

// Long enough to be still playing when the notice has been closed, on a busy machine and under
// the sanitizers too (a fifth of a second is not).
testing::WavFields OneSecond(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                             std::uint16_t bits) {
    return Format(tag, channels, rate, bits, rate * channels * bits / 8);
}

testing::WavFields Sized(std::optional<std::uint32_t> riff, std::optional<std::uint32_t> fmt,
                         std::optional<std::uint32_t> data) {
    testing::WavFields wav;
    wav.riff_size = riff;
    wav.fmt_size = fmt;
    wav.data_size = data;
    return wav;
}

constexpr std::uint32_t kMiB = 1U << 20;
constexpr std::uint32_t kAll = 0xFFFFFFFF;
constexpr std::uint16_t kPcm = 1;
constexpr std::uint16_t kFloat = 3;

testing::WavFields OneSecondWithRiffSizeAllOnes() {
    testing::WavFields wav = OneSecond(kPcm, 1, 22050, 16);
    wav.riff_size = kAll;
    return wav;
}

const FanfareFault kFanfareFaults[] = {
    {"PlainPcm16", Fanfare(OneSecond(kPcm, 1, 22050, 16)), true},
    {"Pcm8At8kHz", Fanfare(OneSecond(kPcm, 1, 8000, 8)), true},
    {"Pcm24StereoAt48kHz", Fanfare(OneSecond(kPcm, 2, 48000, 24)), true},
    {"Pcm32StereoAt96kHz", Fanfare(OneSecond(kPcm, 2, 96000, 32)), true},
    {"FloatStereo", Fanfare(OneSecond(kFloat, 2, 44100, 32)), true},
    // The mixer's converted size (the data times its growth in conversion, 512 here) overflows
    // 32 bits to 4 KiB, into which it copies 8 MiB.
    {"Overflow1400HzMono8", Fanfare(Format(kPcm, 1, 1400, 8, 8 * kMiB + 8)), false},
    // The same overflow to a few KiB at other rates, widths and channel counts.
    {"Overflow2000HzMono8", Fanfare(Format(kPcm, 1, 2000, 8, 11'671'107)), false},
    {"Overflow1HzMono8", Fanfare(Format(kPcm, 1, 1, 8, 6087)), false},
    {"Overflow100HzStereo16", Fanfare(Format(kPcm, 2, 100, 16, 2'434'792)), false},
    {"Overflow200HzMono24", Fanfare(Format(kPcm, 1, 200, 24, 3'643'923)), false},
    {"Overflow300HzMonoFloat", Fanfare(Format(kFloat, 1, 300, 32, 7'304'368)), false},
    // No overflow, but hundreds of MB once converted.
    {"LongAt8kHz", Fanfare(Format(kPcm, 1, 8000, 8, 4 * kMiB)), false},
    {"RiffSizeAllOnes", Fanfare(OneSecondWithRiffSizeAllOnes()), true},
    {"DataSizeAllOnes", Fanfare(Sized({}, {}, kAll)), false},
    {"FormatChunkLongerThanTheFile", Fanfare(Sized({}, 0x7FFFFFF0, {})), false},
    {"DataCutShort", Fanfare(Sized({}, {}, 2 * 8820)), false},
    {"ZeroRate", Fanfare(Format(kPcm, 1, 0, 16)), false},
    {"HugeRate", Fanfare(Format(kPcm, 1, kAll, 16)), false},
    {"ZeroChannels", Fanfare(Format(kPcm, 0, 22050, 16)), false},
    {"HugeChannels", Fanfare(Format(kPcm, 0xFFFF, 22050, 16)), false},
    {"ZeroBits", Fanfare(Format(kPcm, 1, 22050, 0)), false},
    {"HugeBits", Fanfare(Format(kPcm, 1, 22050, 0xFFFF)), false},
    {"MsAdpcm", Fanfare(Format(2, 1, 22050, 4)), false},
    {"ImaAdpcm", Fanfare(Format(0x11, 1, 22050, 4)), false},
    {"ALaw", Fanfare(Format(6, 1, 22050, 8)), false},
    {"MuLaw", Fanfare(Format(7, 1, 22050, 8)), false},
    {"Extensible", Fanfare(Format(0xFFFE, 1, 22050, 16)), false},
    {"UnknownTag", Fanfare(Format(0x1234, 1, 22050, 16)), false},
    {"NoFile", [](Folder& s) { s.Remove("一等賞.wav"); }, false},
    {"ZeroBytes", [](Folder& s) { s.dir.Write("一等賞.wav", {}); }, false},
    {"RandomBytes", [](Folder& s) { s.dir.Write("一等賞.wav", RandomBytes(3000)); }, false},
    {"Folder", [](Folder& s) { s.MakeFolder("一等賞.wav"); }, false},
    {"Fifo",
     [](Folder& s) {
         s.Remove("一等賞.wav");
         ASSERT_EQ(mkfifo(s.dir.Path("一等賞.wav").c_str(), 0600), 0);
     },
     false},
    {"LinkToDevZero",
     [](Folder& s) {
         s.Remove("一等賞.wav");
         std::filesystem::create_symlink("/dev/zero", s.dir.Path("一等賞.wav"));
     },
     false},
    // The file is played by its name at each completion, as it is then.
    {"DeletedAfterAFirstCompletion", Fanfare(OneSecond(kPcm, 1, 22050, 16)), false,
     [](Folder& s) { s.Remove("一等賞.wav"); }},
    {"ReplacedAfterAFirstCompletion", Fanfare(OneSecond(kPcm, 1, 22050, 16)), false,
     [](Folder& s) { s.dir.Write("一等賞.wav", RandomBytes(3000)); }},
};

// A field of /proc/self/status, in KiB.
long StatusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

class FanfareFaultTest : public ::testing::TestWithParam<FanfareFault> {
  protected:
    TempDir dir;
};

TEST_P(FanfareFaultTest, TheCompletionGoesOnWithBoundedMemory) {
    // The fanfare's converted size is capped at 8 MiB; with the file read whole and decoded,
    // a few times that.
    constexpr long kMaxGrowthKiB = 64 * 1024;
    Folder setup(dir);
    GetParam().make(setup);
    app::testing::ModalCloser closer;
    Game game(setup);
    const app::testing::FormProbe probe{game.form()};
    game.form().show();
    QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton);
    ASSERT_TRUE(closer.seen.empty());
    if (GetParam().after_first) {
        probe.PlayToOneSlideShortOfTheGoal();
        probe.PressCell({0, 1});
        ASSERT_EQ(Mix_Playing(-1), 1) << "no fanfare at the first completion";
        GetParam().after_first(setup);
        QTest::mouseClick(probe.Button3(), Qt::LeftButton);
        closer.seen.clear();
    }
    probe.PlayToOneSlideShortOfTheGoal();

    malloc_trim(0);                                 // what the row's set-up freed is not counted
    std::ofstream("/proc/self/clear_refs") << "5";  // the peak starts again from here
    const long before = StatusKiB("VmRSS");
    probe.PressCell({0, 1});
    const long growth = StatusKiB("VmHWM") - before;
    std::cout << "peak memory during the completion: +" << growth / 1024 << " MiB\n";

    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    EXPECT_TRUE(probe.Button1()->isHidden()) << "the board is not locked";
    EXPECT_EQ(Mix_Playing(-1), GetParam().plays ? 1 : 0) << "channels playing the fanfare";
    EXPECT_LT(growth, kMaxGrowthKiB);
}

INSTANTIATE_TEST_SUITE_P(EachFanfare, FanfareFaultTest, ::testing::ValuesIn(kFanfareFaults),
                         [](const auto& row) { return row.param.name; });

// A sound server that can be stopped: SDL's disk driver writes into a pipe that this reads. Once
// it stops reading, the pipe fills within a buffer, SDL's audio thread waits on it, and so does
// whatever closes the output, as with a stopped PulseAudio or PipeWire. It reads again ten
// seconds after a stop at the latest, so that nothing waits for ever.
class StoppableServer {
  public:
    explicit StoppableServer(const std::string& pipe) {
        mkfifo(pipe.c_str(), 0600);
        reader_ = open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // the writer's open then succeeds
        fcntl(reader_, F_SETPIPE_SZ, 4096);
        setenv("SDL_DISKAUDIOFILE", pipe.c_str(), 1);
        thread_ = std::thread([this] { Read(); });
    }
    StoppableServer(const StoppableServer&) = delete;
    StoppableServer& operator=(const StoppableServer&) = delete;
    ~StoppableServer() {
        if (Stopped()) {
            Resume();  // lets a close that waits on it end before the pipe goes
            std::this_thread::sleep_for(500ms);
        }
        ended_ = true;
        thread_.join();
        close(reader_);
    }

    void Stop() { stopped_until_ = Now() + std::chrono::steady_clock::duration(10s).count(); }
    void Resume() { stopped_until_ = 0; }
    bool Stopped() const { return Now() < stopped_until_; }
    long Loud() const { return loud_; }  // loud samples read so far

  private:
    static std::int64_t Now() {
        return std::chrono::steady_clock::now().time_since_epoch().count();
    }

    void Read() {
        std::vector<std::int16_t> samples(2048);
        while (!ended_) {
            const ssize_t bytes = Stopped() ? 0 : read(reader_, samples.data(), samples.size() * 2);
            for (ssize_t i = 0; i < bytes / 2; ++i) {
                loud_ += std::abs(samples[static_cast<std::size_t>(i)]) > 500 ? 1 : 0;
            }
            if (bytes <= 0) {
                std::this_thread::sleep_for(5ms);  // stopped, no writer, or nothing written yet
            }
        }
    }

    int reader_;
    std::atomic<std::int64_t> stopped_until_{0};
    std::atomic<long> loud_{0};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

// The server stops while the music plays. Whatever the output waits for, the window does not:
// the notice of a completion shows at once, sound off and on take effect at once, and once the
// server answers again the music comes back, with no box.
TEST(StoppedServer, NeverHoldsTheWindow) {
    const TempDir dir;
    Folder setup(dir);
    setup.driver = "disk";
    StoppableServer server(dir.Path("server"));
    app::testing::ModalCloser closer;
    bool stopped_at_notice = false;
    closer.on_box = [&] { stopped_at_notice = server.Stopped(); };
    Game game(setup);
    const app::testing::FormProbe probe{game.form()};
    game.form().show();
    QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton);
    probe.PlayToOneSlideShortOfTheGoal();
    for (int waited = 0; server.Loud() == 0 && waited < 5000; waited += 50) {
        QTest::qWait(50);
    }
    ASSERT_GT(server.Loud(), 0) << "no music";

    server.Stop();
    QTest::qWait(3500);  // the output has asked for nothing for two seconds: it has stopped
    probe.PressCell({0, 1});
    ASSERT_EQ(closer.seen.size(), 1U);
    EXPECT_EQ(closer.seen[0].text, "できた!!!!");
    EXPECT_TRUE(stopped_at_notice) << "the notice waited for the server";
    QTest::mouseClick(probe.RadioButton1(), Qt::LeftButton);
    QTest::qWait(1500);  // the output's release is asked for a second after sound off
    QTest::mouseClick(probe.RadioButton2(), Qt::LeftButton);
    EXPECT_TRUE(server.Stopped()) << "sound off and on waited for the server";

    server.Resume();
    const long before = server.Loud();
    for (int waited = 0; server.Loud() == before && waited < 5000; waited += 50) {
        QTest::qWait(50);
    }
    EXPECT_GT(server.Loud(), before) << "no music once the server is back";
    EXPECT_EQ(closer.seen.size(), 1U) << "a box once the server is back";
}

}  // namespace
}  // namespace koma::sound
