// Synthesises Larkbell's built-in alarm sounds from nothing but arithmetic: additive bells and
// mallets, plucked strings, swept-sine bird calls. Every sound is loudness-normalised (K-weighted,
// gated, -16 LUFS) with its peaks held under -1.5 dBFS, then written as a mono MP3.
// Usage: synth OUTPUT_FOLDER
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;
using Buffer = std::vector<double>;

double MidiHz(double note)
{
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

void Ensure(Buffer& out, std::size_t size)
{
    if (out.size() < size)
        out.resize(size, 0.0);
}

// One partial: a sine with an exponential decay and a short attack against clicks.
void AddPartial(Buffer& out, double start, double hz, double amp, double decay, double length, double attack = 0.002)
{
    if (hz >= kRate / 2.0 - 500)
        return;
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(length * kRate);
    Ensure(out, first + count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = double(i) / kRate;
        const double env = std::min(1.0, t / attack) * std::exp(-t / decay);
        out[first + i] += amp * env * std::sin(2 * kPi * hz * t);
    }
}

// Church-bell partials (hum, prime, tierce, quint, nominal and upper partials), slightly stretched.
void Bell(Buffer& out, double start, double hz, double amp, double ring = 4.0)
{
    static const double ratio[] = {0.5, 1.0, 1.19, 1.5, 2.0, 2.51, 2.66, 3.01, 4.16, 5.43};
    static const double level[] = {0.35, 0.6, 0.45, 0.2, 0.55, 0.25, 0.2, 0.15, 0.1, 0.06};
    static const double life[] = {1.0, 0.8, 0.55, 0.45, 0.5, 0.3, 0.28, 0.22, 0.15, 0.1};
    for (int i = 0; i < 10; ++i)
        AddPartial(out, start, hz * ratio[i], amp * level[i], ring * life[i], ring * life[i] * 5);
}

// Music box / celesta: a nearly pure tone with a bright, quickly fading strike.
void Celesta(Buffer& out, double start, double hz, double amp)
{
    AddPartial(out, start, hz, amp, 0.9, 3.0);
    AddPartial(out, start, hz * 2.0, amp * 0.25, 0.35, 1.5);
    AddPartial(out, start, hz * 4.07, amp * 0.12, 0.08, 0.4);
    AddPartial(out, start, hz * 6.1, amp * 0.05, 0.04, 0.2);
}

// Marimba: the fundamental with the bar's tuned fourth harmonic and a faint tenth.
void Marimba(Buffer& out, double start, double hz, double amp)
{
    AddPartial(out, start, hz, amp, 0.45, 2.0, 0.003);
    AddPartial(out, start, hz * 3.93, amp * 0.3, 0.08, 0.5, 0.002);
    AddPartial(out, start, hz * 9.2, amp * 0.06, 0.02, 0.12, 0.001);
}

// A hanging metal tube: free-free bar partials, long ring.
void Chime(Buffer& out, double start, double hz, double amp)
{
    static const double ratio[] = {1.0, 2.756, 5.404, 8.933};
    static const double level[] = {1.0, 0.5, 0.25, 0.1};
    static const double life[] = {3.0, 1.6, 0.7, 0.3};
    for (int i = 0; i < 4; ++i)
        AddPartial(out, start, hz * ratio[i], amp * level[i], life[i], life[i] * 5, 0.001);
}

// Plucked string (Karplus-Strong) with a soft attack from filtered noise.
void Pluck(Buffer& out, double start, double hz, double amp, std::mt19937& random)
{
    const auto period = static_cast<std::size_t>(kRate / hz);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> line(period);
    double previous = 0;
    for (auto& v : line) {
        previous = 0.5 * previous + 0.5 * noise(random); // mellow excitation
        v = previous;
    }
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(3.0 * kRate);
    Ensure(out, first + count);
    std::size_t index = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t next = (index + 1) % period;
        const double value = line[index];
        line[index] = 0.996 * 0.5 * (line[index] + line[next]);
        index = next;
        out[first + i] += amp * value;
    }
}

// A bird call: a sine sweeping from f0 to f1 (exponential glide), optionally trilled, with a
// smooth (raised-cosine) envelope.
void Chirp(Buffer& out, double start, double length, double f0, double f1, double amp, double trillHz = 0,
           double trillDepth = 0)
{
    const auto first = static_cast<std::size_t>(start * kRate);
    const auto count = static_cast<std::size_t>(length * kRate);
    Ensure(out, first + count);
    double phase = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = double(i) / double(count);
        double hz = f0 * std::pow(f1 / f0, x);
        if (trillHz > 0)
            hz += trillDepth * std::sin(2 * kPi * trillHz * double(i) / kRate);
        phase += 2 * kPi * hz / kRate;
        const double env = std::pow(std::sin(kPi * x), 2.0);
        out[first + i] += amp * env * (std::sin(phase) + 0.08 * std::sin(2 * phase));
    }
}

// Sleigh-bell shimmer: a burst of high, quickly decaying inharmonic partials.
void Jingle(Buffer& out, double start, double amp, std::mt19937& random)
{
    std::uniform_real_distribution<double> hz(5200, 9000);
    for (int i = 0; i < 6; ++i)
        AddPartial(out, start + i * 0.004, hz(random), amp / 6, 0.05, 0.3, 0.001);
}

// A little room: a few quiet, darkened echoes.
void Room(Buffer& out, double mix)
{
    const int delays[] = {1543, 2707, 3911, 5569};
    Buffer wet(out.size() + 6000, 0.0);
    for (int d : delays) {
        double low = 0;
        for (std::size_t i = 0; i < out.size(); ++i) {
            low += 0.3 * (out[i] - low);
            wet[i + static_cast<std::size_t>(d)] += low * mix;
        }
    }
    Ensure(out, wet.size());
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] += wet[i];
}

// --- loudness ---------------------------------------------------------------------------------

struct Biquad {
    double b0, b1, b2, a1, a2;
    double z1 = 0, z2 = 0;
    double Run(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// The two K-weighting stages, designed for this sample rate.
Buffer KWeighted(const Buffer& in)
{
    double f0 = 1681.974450955533, gain = 3.999843853973347, q = 0.7071752369554196;
    double k = std::tan(kPi * f0 / kRate);
    const double vh = std::pow(10.0, gain / 20.0), vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    Biquad shelf{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    f0 = 38.13547087602444;
    q = 0.5003270373238773;
    k = std::tan(kPi * f0 / kRate);
    a0 = 1.0 + k / q + k * k;
    Biquad high{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    Buffer out(in.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        out[i] = high.Run(shelf.Run(in[i]));
    return out;
}

// Integrated loudness in LUFS: 400 ms blocks, 75 % overlap, absolute and relative gates.
double Loudness(const Buffer& in)
{
    const Buffer k = KWeighted(in);
    const std::size_t block = kRate * 4 / 10, hop = block / 4;
    std::vector<double> powers;
    for (std::size_t s = 0; s + block <= k.size(); s += hop) {
        double sum = 0;
        for (std::size_t i = s; i < s + block; ++i)
            sum += k[i] * k[i];
        powers.push_back(sum / block);
    }
    const auto lufs = [](double p) { return -0.691 + 10 * std::log10(p); };
    const auto gatedMean = [&](double gate) {
        double sum = 0;
        int n = 0;
        for (double p : powers)
            if (lufs(p) > gate) {
                sum += p;
                ++n;
            }
        return n ? sum / n : 1e-12;
    };
    const double relativeGate = lufs(gatedMean(-70.0)) - 10.0;
    return lufs(gatedMean(relativeGate));
}

// Peak limiter: 5 ms look-ahead, 120 ms release.
void Limit(Buffer& x, double ceiling)
{
    const std::size_t ahead = kRate * 5 / 1000;
    Buffer need(x.size());
    for (std::size_t i = 0; i < x.size(); ++i)
        need[i] = std::abs(x[i]) > ceiling ? ceiling / std::abs(x[i]) : 1.0;
    std::deque<std::size_t> window; // indexes of a running minimum over [i, i + ahead]
    double gain = 1.0;
    const double release = 1.0 - std::exp(-1.0 / (0.12 * kRate));
    for (std::size_t i = 0; i < x.size(); ++i) {
        const std::size_t j = i + ahead;
        if (j < x.size()) {
            while (!window.empty() && need[window.back()] >= need[j])
                window.pop_back();
            window.push_back(j);
        }
        if (i == 0)
            for (std::size_t m = 0; m < std::min(ahead, x.size()); ++m) {
                while (!window.empty() && need[window.back()] >= need[m])
                    window.pop_back();
                window.push_back(m);
            }
        while (!window.empty() && window.front() < i)
            window.pop_front();
        const double target = window.empty() ? 1.0 : need[window.front()];
        gain = target < gain ? target : gain + (target - gain) * release;
        x[i] *= gain;
    }
}

bool Write(const std::string& path, Buffer sound, double targetLufs = -16.0)
{
    // Fades against clicks at both ends.
    const std::size_t fade = kRate / 50;
    for (std::size_t i = 0; i < fade && i < sound.size(); ++i) {
        sound[i] *= double(i) / fade;
        sound[sound.size() - 1 - i] *= double(i) / fade;
    }
    const double ceiling = std::pow(10.0, -1.5 / 20.0);
    for (int pass = 0; pass < 3; ++pass) {
        const double gain = std::pow(10.0, (targetLufs - Loudness(sound)) / 20.0);
        for (double& v : sound)
            v *= gain;
        Limit(sound, ceiling);
    }
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), sf_strerror(nullptr));
        return false;
    }
    int mode = SF_BITRATE_MODE_CONSTANT;
    sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    double level = 0.78; // 96 kbit/s for mono speech-band sounds is plenty for alarms
    sf_command(file, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
    std::vector<float> samples(sound.begin(), sound.end());
    sf_writef_float(file, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(file);
    std::printf("%-16s %5.1f s  %6.1f LUFS\n", path.substr(path.find_last_of('/') + 1).c_str(),
                double(sound.size()) / kRate, Loudness(sound));
    return true;
}

// --- the sounds -------------------------------------------------------------------------------

Buffer MakeBirds()
{
    Buffer out;
    std::mt19937 random(1701);
    std::uniform_real_distribution<double> jitter(0.9, 1.1);
    double t = 0.3;
    // It opens with a run of short bright chips, whose quick swell is heard within a few milliseconds:
    // the longer calls rise over a tenth of a second, which would be heard as the alarm ringing late.
    for (int i = 0; i < 3; ++i)
        Chirp(out, t + i * 0.13, 0.07, 4800 * jitter(random), 2600, 0.25);
    t += 3 * 0.13 + 0.5;
    while (t < 22.0) {
        const int kind = static_cast<int>(random() % 4);
        const double level = 0.25 * jitter(random);
        if (kind == 0) { // a run of falling chips
            const int n = 4 + static_cast<int>(random() % 4);
            for (int i = 0; i < n; ++i)
                Chirp(out, t + i * 0.13, 0.07, 4800 * jitter(random), 2600, level);
            t += n * 0.13 + 0.6 * jitter(random);
        } else if (kind == 1) { // a two-note whistle
            Chirp(out, t, 0.28, 2100, 2300, level * 1.1);
            Chirp(out, t + 0.35, 0.32, 1750, 1700, level);
            t += 1.1 * jitter(random);
        } else if (kind == 2) { // a trill
            Chirp(out, t, 0.9, 3400 * jitter(random), 3600, level * 0.8, 28, 500);
            t += 1.4 * jitter(random);
        } else { // rising questions
            Chirp(out, t, 0.12, 2200, 4200, level);
            Chirp(out, t + 0.2, 0.12, 2300, 4400, level);
            t += 0.9 * jitter(random);
        }
    }
    Room(out, 0.12);
    out.resize(static_cast<std::size_t>(24.0 * kRate));
    return out;
}

Buffer MakeBells()
{
    // Six bells ringing rounds and then plain-hunt changes: every bell keeps its place in the
    // rhythm while the order shifts, as a tower band rings.
    Buffer out;
    const double notes[] = {79, 77, 76, 74, 72, 71}; // G5 F5 E5 D5 C5 B4 (the nominals)
    std::vector<int> order = {0, 1, 2, 3, 4, 5};
    double t = 0.1;
    for (int row = 0; row < 12; ++row) {
        for (int bell : order) {
            Bell(out, t, MidiHz(notes[bell]) / 2, 0.22, 3.0);
            t += 0.3;
        }
        t += row % 2 ? 0.3 : 0.0; // the hand-stroke gap
        if (row >= 2) {           // plain hunt: swap pairs, alternating between (1,2)(3,4)(5,6) and (2,3)(4,5)
            for (std::size_t i = row % 2 ? 1 : 0; i + 1 < order.size(); i += 2)
                std::swap(order[i], order[i + 1]);
        }
    }
    out.resize(static_cast<std::size_t>((t + 3.0) * kRate));
    Room(out, 0.1);
    return out;
}

Buffer MakeChristmas()
{
    // "Jingle Bells", an American song of 1857 long in the public domain: the chorus twice over a bass, with sleigh
    // bells.
    Buffer out;
    std::mt19937 random(25);
    const double beat = 60.0 / 132;
    struct Note {
        int pitch; // MIDI, 0 = rest
        double beats;
    };
    const int E = 76, F = 77, G = 79, C = 72, D = 74;
    const std::vector<Note> chorusA = {{E, 1},   {E, 1},   {E, 2},   {E, 1}, {E, 1},   {E, 2},  {E, 1},
                                       {G, 1},   {C, 1.5}, {D, 0.5}, {E, 4}, {F, 1},   {F, 1},  {F, 1.5},
                                       {F, 0.5}, {F, 1},   {E, 1},   {E, 1}, {E, 0.5}, {E, 0.5}};
    const std::vector<Note> endFirst = {{E, 1}, {D, 1}, {D, 1}, {E, 1}, {D, 2}, {G, 2}};
    const std::vector<Note> endSecond = {{G, 1}, {G, 1}, {F, 1}, {D, 1}, {C, 4}};
    std::vector<Note> melody = chorusA;
    melody.insert(melody.end(), endFirst.begin(), endFirst.end());
    melody.insert(melody.end(), chorusA.begin(), chorusA.end());
    melody.insert(melody.end(), endSecond.begin(), endSecond.end());
    double t = 0.2;
    for (const Note& n : melody) {
        if (n.pitch)
            Celesta(out, t, MidiHz(n.pitch), 0.3);
        t += n.beats * beat;
    }
    // Bass on the first and third beat of every bar, following the harmony bar by bar.
    const int bassPerBar[] = {48, 48, 48, 48, 53, 48, 50, 43, 48, 48, 48, 48, 53, 48, 43, 48};
    for (int bar = 0; bar < 16; ++bar)
        for (int half = 0; half < 2; ++half) {
            const double at = 0.2 + (bar * 4 + half * 2) * beat;
            Marimba(out, at, MidiHz(bassPerBar[bar] + (half ? 7 : 0)), 0.22);
            Jingle(out, at + beat, 0.08, random);
        }
    out.resize(static_cast<std::size_t>((t + 2.0) * kRate));
    Room(out, 0.1);
    return out;
}

Buffer MakeChimes()
{
    Buffer out;
    std::mt19937 random(8);
    const int scale[] = {84, 86, 88, 91, 93, 96}; // C6 D6 E6 G6 A6 C7, pentatonic
    std::uniform_real_distribution<double> gap(0.08, 0.5), level(0.1, 0.22);
    double t = 0.1;
    while (t < 19.0) {
        // Gusts: a cluster of strikes, then a lull.
        const int n = 3 + static_cast<int>(random() % 6);
        for (int i = 0; i < n; ++i) {
            Chime(out, t, MidiHz(scale[random() % 6]), level(random));
            t += gap(random);
        }
        t += 0.8 + gap(random) * 2;
    }
    out.resize(static_cast<std::size_t>(22.0 * kRate));
    Room(out, 0.15);
    return out;
}

Buffer MakeMarimba()
{
    // A rising morning figure over I - IV - V - I in F major, four times, brightening.
    Buffer out;
    const double eighth = 60.0 / 138 / 2;
    const int chords[4][4] = {{65, 69, 72, 77}, {70, 74, 77, 82}, {72, 76, 79, 84}, {65, 69, 72, 77}};
    double t = 0.1;
    for (int round = 0; round < 4; ++round)
        for (const auto& chord : chords) {
            Marimba(out, t, MidiHz(chord[0] - 24), 0.25);
            const int pattern[8] = {0, 1, 2, 3, 2, 1, 2, 3};
            for (int step = 0; step < 8; ++step) {
                Marimba(out, t, MidiHz(chord[pattern[step]] + (round >= 2 ? 12 : 0)), 0.2 + 0.03 * round);
                t += eighth;
            }
        }
    Marimba(out, t, MidiHz(77), 0.3);
    Marimba(out, t, MidiHz(53), 0.25);
    out.resize(static_cast<std::size_t>((t + 2.0) * kRate));
    Room(out, 0.08);
    return out;
}

Buffer MakeBeeps()
{
    // The bedside-clock pattern, four beeps and a pause, softened: rounded edges and a warm tone.
    Buffer out;
    double t = 0.1;
    for (int group = 0; group < 16; ++group) {
        for (int i = 0; i < 4; ++i) {
            const auto first = static_cast<std::size_t>((t + i * 0.16) * kRate);
            const auto count = static_cast<std::size_t>(0.09 * kRate);
            Ensure(out, first + count);
            for (std::size_t k = 0; k < count; ++k) {
                const double x = double(k) / count;
                const double env = std::min({1.0, x * 12, (1 - x) * 12});
                const double s = double(k) / kRate;
                out[first + k] += 0.3 * env * (std::sin(2 * kPi * 1046.5 * s) + 0.3 * std::sin(2 * kPi * 2093 * s));
            }
        }
        t += 1.0;
    }
    out.resize(static_cast<std::size_t>((t + 0.2) * kRate));
    return out;
}

Buffer MakeHarp()
{
    // Slow broken chords on a plucked string: C - Am - F - G, twice.
    Buffer out;
    std::mt19937 random(3);
    const int chords[4][5] = {{48, 55, 60, 64, 67}, {45, 52, 57, 60, 64}, {41, 48, 53, 57, 60}, {43, 50, 55, 59, 62}};
    double t = 0.1;
    for (int round = 0; round < 2; ++round)
        for (const auto& chord : chords) {
            for (int i = 0; i < 5; ++i) {
                Pluck(out, t, MidiHz(chord[i] + 12), 0.3, random);
                t += 0.28;
            }
            Pluck(out, t, MidiHz(chord[4] + 24), 0.22, random);
            t += 0.9;
        }
    out.resize(static_cast<std::size_t>((t + 2.5) * kRate));
    Room(out, 0.12);
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    bool ok = true;
    ok &= Write(folder + "Birds.mp3", MakeBirds());
    ok &= Write(folder + "Bells1.mp3", MakeBells());
    ok &= Write(folder + "Christmas.mp3", MakeChristmas());
    ok &= Write(folder + "Chimes.mp3", MakeChimes());
    ok &= Write(folder + "Marimba.mp3", MakeMarimba());
    ok &= Write(folder + "Beeps.mp3", MakeBeeps());
    ok &= Write(folder + "Harp.mp3", MakeHarp());
    return ok ? 0 : 1;
}
