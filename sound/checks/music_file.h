// The start-up checks of the music file and the sound font. They read the files' own bytes and
// need no sound library, so the game makes them before anything that sounds is loaded.
#pragma once

#include <string>
#include <vector>

#include "sound/checks/plain_file.h"

namespace koma::sound {

// The sound font the music is played with unless another is given: the one Debian's FluidSynth
// names as its default.
std::string DefaultSoundfont();

// A music file that has passed every check, read once: later changes to the file do not reach
// the music.
struct CheckedMusic {
    std::string path;
    std::vector<char> midi;  // the whole file
    long length = 0;         // in the player's ticks, above 0
    std::string soundfont;
};

// Reads the MIDI file whole and checks it, then checks the sound font (empty:
// DefaultSoundfont()); throws SoundError telling the player what is wrong.
CheckedMusic CheckMusic(const std::string& path, const std::string& soundfont);

// Checks that the sound font opened as `file` is a plain file with a SoundFont header; throws
// SoundError describing what is wrong.
void CheckSoundfontFile(const PlainFile& file, const std::string& path);

// What the player is told when the synthesiser finds no music in the file.
std::string BrokenMidi(const std::string& path);
// What the player is told when the synthesiser cannot load the sound font.
std::string BrokenSoundfont(const std::string& path, const std::string& why);

}  // namespace koma::sound
