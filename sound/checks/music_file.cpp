#include "sound/checks/music_file.h"

#include <cstring>

#include "sound/checks/midi_length.h"
#include "sound/music_device.h"

namespace koma::sound {
namespace {

constexpr char kDebianSoundfont[] = "/usr/share/sounds/sf3/default-GM.sf3";
// Many times any real piece, hundreds of times the game's own tune, and still small enough
// that FluidSynth's parsed copy of the densest file stays within a few tens of MB.
constexpr std::size_t kMaxMidiBytes = std::size_t{2} << 20;
constexpr char kMaxMidiText[] = "2 MB";

std::string Quoted(const std::string& name) {
    return "「" + name + "」";
}

std::string NotMidi(const std::string& path) {
    return Quoted(path) + "は MIDI ファイルではありません";
}

std::string Unreadable(const std::string& what, const std::string& path) {
    return what + Quoted(path) + "を読めません";
}

// The whole file, read through a single open after checking what was opened.
std::vector<char> ReadMidiFile(const std::string& path) {
    const PlainFile file(path);
    switch (file.problem()) {
        case PlainFile::Problem::kMissing:
            throw SoundError("音楽ファイル" + Quoted(path) + "が見つかりません");
        case PlainFile::Problem::kFolder:
            throw SoundError(Quoted(path) + "はフォルダーで、音楽ファイルではありません");
        case PlainFile::Problem::kNotPlain:
            throw SoundError(NotMidi(path));
        case PlainFile::Problem::kUnreadable:
            throw SoundError(Unreadable("音楽ファイル", path));
        case PlainFile::Problem::kNone:
            break;
    }
    if (file.size() > kMaxMidiBytes) {
        throw SoundError(Quoted(path) + "は音楽ファイルには大きすぎます (" + kMaxMidiText +
                         " まで)");
    }
    std::vector<char> bytes;
    if (!file.ReadAll(bytes)) {
        throw SoundError(Unreadable("音楽ファイル", path));
    }
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "MThd", 4) != 0) {
        throw SoundError(NotMidi(path));
    }
    return bytes;
}

}  // namespace

std::string DefaultSoundfont() {
    return kDebianSoundfont;
}

CheckedMusic CheckMusic(const std::string& path, const std::string& soundfont) {
    CheckedMusic music{path, ReadMidiFile(path), 0,
                       soundfont.empty() ? DefaultSoundfont() : soundfont};
    music.length = MidiLength(music.midi);
    if (music.length <= 0) {
        // Also what a truncated file gives. Accepting it would end every play at once.
        throw SoundError(BrokenMidi(path));
    }
    CheckSoundfontFile(PlainFile(music.soundfont), music.soundfont);
    return music;
}

void CheckSoundfontFile(const PlainFile& file, const std::string& path) {
    switch (file.problem()) {
        case PlainFile::Problem::kMissing:
            throw SoundError("音色ファイル" + Quoted(path) + "が見つかりません");
        case PlainFile::Problem::kUnreadable:
            throw SoundError(Unreadable("音色ファイル", path));
        case PlainFile::Problem::kFolder:
        case PlainFile::Problem::kNotPlain:
        case PlainFile::Problem::kNone:
            break;
    }
    const std::vector<char> header = file.ReadStart(12);
    if (header.size() < 12 || std::memcmp(header.data(), "RIFF", 4) != 0 ||
        std::memcmp(header.data() + 8, "sfbk", 4) != 0) {
        throw SoundError(BrokenSoundfont(path, "SoundFont ファイルではありません"));
    }
}

std::string BrokenMidi(const std::string& path) {
    return Quoted(path) + "は壊れた MIDI ファイルです (曲の長さが 0 です)";
}

std::string BrokenSoundfont(const std::string& path, const std::string& why) {
    return "音色ファイル" + Quoted(path) + "を読み込めません (" + why + ")";
}

}  // namespace koma::sound
