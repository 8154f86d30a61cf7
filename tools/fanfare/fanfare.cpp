#include "tools/fanfare/fanfare.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string_view>

namespace koma::fanfare {
namespace {

// One note of the fanfare; times in seconds.
struct Note {
    double start;
    double length;
    int key;  // MIDI key, 60 = middle C
    double level;
    bool vibrato;
};

// G4 C5 E5 G5 tongued quickly, then C6 held over E5 and G5 from the rest of the section.
constexpr double kStep = 0.11;
constexpr double kHold = 1.5;
constexpr std::array<Note, 7> kScore{{
    {0 * kStep, kStep, 67, 0.8, false},
    {1 * kStep, kStep, 72, 0.85, false},
    {2 * kStep, kStep, 76, 0.9, false},
    {3 * kStep, kStep, 79, 0.95, false},
    {4 * kStep, kHold, 84, 1.0, true},
    {4 * kStep, kHold, 79, 0.4, true},
    {4 * kStep, kHold, 76, 0.35, true},
}};
constexpr double kDuration = 4 * kStep + kHold + 0.06;  // a breath of release after the hold
constexpr double kFadeOut = 0.3;

constexpr double kAttack = 0.025;
constexpr double kSettle = 0.08;
constexpr double kOvershoot = 1.15;  // players push the front of each note
constexpr double kRelease = 0.03;
constexpr double kScoop = 0.02;  // starts this much flat and lips up during the attack
constexpr int kHarmonics = 10;
// Each harmonic this much weaker than the last, on top of 1/n, while the note is held; the
// overshoot of the attack brings them back up.
constexpr double kMellowness = 0.88;
constexpr double kVibratoRate = 5.5;
constexpr double kVibratoDepth = 0.006;
constexpr double kVibratoDelay = 0.3;
constexpr double kVibratoRamp = 0.4;

double KeyFrequency(int key) {
    return 440.0 * std::pow(2.0, (key - 69) / 12.0);
}

// Loudness of a note `t` seconds after it began.
double Envelope(double t, double length) {
    double level = 1.0;
    if (t < kAttack) {
        const double s = std::sin(0.5 * std::numbers::pi * t / kAttack);
        level = kOvershoot * s * s;
    } else if (t < kAttack + kSettle) {
        level = kOvershoot - (kOvershoot - 1.0) * (t - kAttack) / kSettle;
    }
    const double left = length - t;
    if (left < kRelease) {
        level *= std::max(0.0, left / kRelease);
    }
    return level;
}

// How many samples `seconds` last, rounded to the nearest.
std::size_t Samples(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * kSampleRate));
}

double VibratoAmount(const Note& note, double t) {
    if (!note.vibrato || t < kVibratoDelay) {
        return 0.0;
    }
    return kVibratoDepth * std::min(1.0, (t - kVibratoDelay) / kVibratoRamp);
}

// Adds one note into `mix`. The upper harmonics grow faster than the fundamental as the note
// gets louder, which is what makes it sound blown rather than bowed.
void AddNote(std::vector<double>& mix, const Note& note) {
    const std::size_t first = Samples(note.start);
    const std::size_t count = Samples(note.length);
    const double base = KeyFrequency(note.key);
    double phase = 0.0;
    for (std::size_t i = 0; i < count && first + i < mix.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double envelope = Envelope(t, note.length);
        const double scoop = t < kAttack ? 1.0 - kScoop * (1.0 - t / kAttack) : 1.0;
        const double vibrato =
            1.0 + VibratoAmount(note, t) *
                      std::sin(2.0 * std::numbers::pi * kVibratoRate * (t - kVibratoDelay));
        double sample = 0.0;
        for (int n = 1; n <= kHarmonics; ++n) {
            const double brightness = std::pow(kMellowness * envelope, n - 1);
            sample += brightness / n * std::sin(n * phase);
        }
        mix[first + i] += note.level * envelope * sample;
        phase += 2.0 * std::numbers::pi * base * scoop * vibrato / kSampleRate;
        phase = std::fmod(phase, 2.0 * std::numbers::pi);
    }
}

void FadeOut(std::vector<double>& mix) {
    const std::size_t fade = Samples(kFadeOut);
    const std::size_t from = mix.size() - std::min(fade, mix.size());
    for (std::size_t i = from; i < mix.size(); ++i) {
        const double left = static_cast<double>(mix.size() - i) / static_cast<double>(fade);
        mix[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * left);
    }
}

void AppendLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>((value >> (8 * i)) & 0xFFU));
    }
}

void AppendTag(std::vector<std::uint8_t>& out, std::string_view tag) {
    for (const char c : tag) {
        out.push_back(static_cast<std::uint8_t>(c));
    }
}

}  // namespace

std::vector<std::int16_t> SynthesiseFanfare() {
    std::vector<double> mix(Samples(kDuration), 0.0);
    for (const Note& note : kScore) {
        AddNote(mix, note);
    }
    FadeOut(mix);

    double peak = 0.0;
    for (const double sample : mix) {
        peak = std::max(peak, std::abs(sample));
    }
    const double gain = 32767.0 * std::pow(10.0, kPeakDecibels / 20.0) / peak;
    std::vector<std::int16_t> samples;
    samples.reserve(mix.size());
    for (const double sample : mix) {
        samples.push_back(static_cast<std::int16_t>(std::lround(sample * gain)));
    }
    return samples;
}

std::vector<std::uint8_t> EncodeWav(const std::vector<std::int16_t>& samples, int sample_rate) {
    constexpr std::uint32_t kChannels = 1;
    constexpr std::uint32_t kBytesPerSample = 2;
    if (sample_rate <= 0) {
        throw std::invalid_argument("sample rate must be positive");
    }
    const auto rate = static_cast<std::uint32_t>(sample_rate);
    const auto data_size = static_cast<std::uint32_t>(samples.size() * kBytesPerSample);

    std::vector<std::uint8_t> out;
    out.reserve(44 + data_size);
    AppendTag(out, "RIFF");
    AppendLittleEndian(out, 36 + data_size, 4);
    AppendTag(out, "WAVE");
    AppendTag(out, "fmt ");
    AppendLittleEndian(out, 16, 4);  // size of a plain PCM format block
    AppendLittleEndian(out, 1, 2);   // PCM
    AppendLittleEndian(out, kChannels, 2);
    AppendLittleEndian(out, rate, 4);
    AppendLittleEndian(out, rate * kChannels * kBytesPerSample, 4);
    AppendLittleEndian(out, kChannels * kBytesPerSample, 2);
    AppendLittleEndian(out, 8 * kBytesPerSample, 2);
    AppendTag(out, "data");
    AppendLittleEndian(out, data_size, 4);
    for (const std::int16_t sample : samples) {
        AppendLittleEndian(out, static_cast<std::uint16_t>(sample), 2);
    }
    return out;
}

std::vector<std::uint8_t> MakeFanfareWav() {
    return EncodeWav(SynthesiseFanfare(), kSampleRate);
}

}  // namespace koma::fanfare
