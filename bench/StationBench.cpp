// Following the station on real recordings: for each row, an hour in which the listener pressed
// Set on a jingle and a later hour with other music and other words around the same jingle, under
// one condition (a segue over the song's end, under the first words, soft, a lossy codec, another
// level, another moment of the press); the table gives how far the heard moment lies from the
// moment that matches the press (the goal: 0 to +1 s). Then two hours of music without any of the
// jingles are listened to for every print the rows kept: each match there is false (the goal: 0).
//
// Usage: station_bench MUSIC_DIR JINGLE... (ogg/oga/wav files; sox, ffmpeg and espeak-ng on PATH)

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "listen/Fingerprinter.h"
#include "listen/Listener.h"

namespace {

using namespace hushwell;
namespace fs = std::filesystem;

constexpr double kRate = 44100;
constexpr double kSongBefore = 20;  // s of the song before the jingle
constexpr double kLater = 1000;     // s, where the later hour starts on the listener's clock
constexpr int kPhases = 4;          // of the later hour's frames against the print's

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

// Any audio file as mono float samples at `rate`, from `start` seconds for `length` (0: whole).
std::vector<float> decode(const std::string& file, double rate, double start = 0,
                          double length = 0) {
    std::string command = "ffmpeg -v quiet -ss " + std::to_string(start) + " -i " + quoted(file);
    if (length > 0) {
        command += " -t " + std::to_string(length);
    }
    command += " -f f32le -ac 1 -ar " + std::to_string(static_cast<int>(rate)) + " -";
    std::vector<float> samples;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return samples;
    }
    float block[4096];
    for (std::size_t n; (n = fread(block, sizeof(float), 4096, pipe)) > 0;) {
        samples.insert(samples.end(), block, block + n);
    }
    pclose(pipe);
    return samples;
}

std::string tempFile(const std::string& name) {
    return (fs::temp_directory_path() / ("station-bench-" + std::to_string(getpid()) + name))
        .string();
}

void writeRaw(const std::string& file, const std::vector<float>& samples) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

// Through a lossy codec and back; `codec` is ffmpeg's encoder with its options, `ext` the file's.
std::vector<float> throughCodec(const std::vector<float>& samples, const std::string& codec,
                                const std::string& ext) {
    const std::string raw = tempFile(".raw");
    const std::string coded = tempFile("." + ext);
    writeRaw(raw, samples);
    const std::string command =
        "ffmpeg -v quiet -y -f f32le -ac 1 -ar 44100 -i " + raw + " " + codec + " " + coded;
    std::vector<float> result;
    if (std::system(command.c_str()) == 0) {
        result = decode(coded, kRate);
    }
    fs::remove(raw);
    fs::remove(coded);
    result.resize(samples.size());
    return result;
}

std::vector<float> speech(const std::string& text) {
    const std::string wav = tempFile(".wav");
    const std::string command = "espeak-ng -s 165 -w " + wav + " " + quoted(text);
    std::vector<float> result;
    if (std::system(command.c_str()) == 0) {
        result = decode(wav, kRate);
    }
    fs::remove(wav);
    return result;
}

double rms(const std::vector<float>& samples) {
    double sum = 0;
    for (const float s : samples) {
        sum += static_cast<double>(s) * s;
    }
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

void scale(std::vector<float>& samples, double gain) {
    for (float& s : samples) {
        s = static_cast<float>(s * gain);
    }
}

void mixInto(std::vector<float>& into, const std::vector<float>& what, double at) {
    const auto start = static_cast<std::size_t>(at * kRate);
    if (into.size() < start + what.size()) {
        into.resize(start + what.size());
    }
    for (std::size_t i = 0; i < what.size(); ++i) {
        into[start + i] += what[i];
    }
}

struct Row {
    std::string name;
    double press = 0.6;  // s after the jingle starts
    double segue = 0;    // s the song runs on under the jingle
    double under = 0;    // s the words start before the jingle ends
    double softDb = 0;   // the jingle under the music
    double levelDb = 0;  // the later hour against the press's
    double pause = 0;    // s of silence between the song and the jingle
    std::string codec, ext;
};

// One hour around the jingle: the song's last kSongBefore s, the jingle, the words, a song.
std::vector<float> hourAround(const std::vector<float>& song, const std::vector<float>& jingle,
                              const std::vector<float>& words, const std::vector<float>& next,
                              const Row& row) {
    std::vector<float> audio;
    std::vector<float> before(
        song.begin(),
        song.begin() +
            static_cast<std::ptrdiff_t>(std::min(
                song.size(), static_cast<std::size_t>((kSongBefore + row.segue) * kRate))));
    // The song fades over its last half second, as a station's segue does.
    const auto fade = static_cast<std::size_t>(0.5 * kRate);
    for (std::size_t i = 0; i < fade && i < before.size(); ++i) {
        before[before.size() - 1 - i] *= static_cast<float>(i) / fade;
    }
    mixInto(audio, before, 0);
    std::vector<float> soft = jingle;
    scale(soft, rms(song) / std::max(rms(jingle), 1e-6) * std::pow(10.0, -row.softDb / 20));
    const double jingleAt = kSongBefore + row.pause;
    mixInto(audio, soft, jingleAt);
    const double jingleLength = static_cast<double>(jingle.size()) / kRate;
    std::vector<float> talk = words;
    scale(talk, rms(song) / std::max(rms(words), 1e-6));
    const double talkAt = jingleAt + jingleLength - row.under;
    mixInto(audio, talk, talkAt);
    mixInto(audio, next, talkAt + static_cast<double>(talk.size()) / kRate);
    return audio;
}

Listener::Events play(Listener& listener, const std::vector<float>& audio, double from) {
    Listener::Events all;
    const auto block = static_cast<std::size_t>(kRate / 10);
    for (std::size_t at = 0; at < audio.size(); at += block) {
        Listener::Events events =
            listener.push(std::span(audio.data() + at, std::min(block, audio.size() - at)), kRate,
                          from + static_cast<double>(at) / kRate);
        all.kept.insert(all.kept.end(), events.kept.begin(), events.kept.end());
        all.heard.insert(all.heard.end(), events.heard.begin(), events.heard.end());
        all.silent.insert(all.silent.end(), events.silent.begin(), events.silent.end());
        all.refined.insert(all.refined.end(), events.refined.begin(), events.refined.end());
    }
    return all;
}

void cost() {
    std::printf("\nFingerprinting, CPU per second of audio (one core):\n");
    for (const double rate : {11025.0, 44100.0, 48000.0, 96000.0}) {
        const double seconds = 60;
        std::vector<float> audio(static_cast<std::size_t>(rate * seconds));
        for (std::size_t i = 0; i < audio.size(); ++i) {
            audio[i] = static_cast<float>(0.1 * std::sin(static_cast<double>(i) * 2000 / rate) *
                                          (1 + std::sin(static_cast<double>(i) * 3 / rate)));
        }
        Fingerprinter fingerprinter(rate);
        const auto block = static_cast<std::size_t>(rate / 10);
        const double start = cpuSeconds();
        for (std::size_t at = 0; at + block <= audio.size(); at += block) {
            fingerprinter.push(std::span(audio.data() + at, block), static_cast<double>(at) / rate);
        }
        std::printf("  %6.0f Hz: %.2f ms\n", rate, (cpuSeconds() - start) * 1000 / seconds);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: station_bench MUSIC_DIR JINGLE...\n");
        return 2;
    }
    std::vector<std::string> songs;
    for (const auto& entry : fs::directory_iterator(argv[1])) {
        if (!decode(entry.path().string(), kRate, 0, 1).empty()) {  // ffmpeg reads it
            songs.push_back(entry.path().string());
        }
    }
    std::sort(songs.begin(), songs.end());
    if (songs.size() < 4) {
        std::fprintf(stderr, "station_bench: fewer than 4 songs in %s\n", argv[1]);
        return 2;
    }
    const std::vector<std::string> texts = {
        "Good evening, it is nine o'clock and here are the news of the hour.",
        "You are listening to the evening show, stay with us after the break.",
        "That was the weather, and now some music for the drive home.",
        "Welcome back, the traffic is calm on all the main roads tonight.",
    };
    std::vector<std::vector<float>> words;
    for (const std::string& text : texts) {
        words.push_back(speech(text));
    }
    const std::vector<Row> rows = {
        {"clean"},
        {"segue: jingle over the song's last 1 s", 0.6, 1},
        {"under the first words (last 1 s)", 0.6, 0, 1},
        {"soft: jingle 10 dB under the music", 0.6, 0, 0, 10},
        {"Vorbis 48 kbps", 0.6, 0, 0, 0, 0, 0, "-c:a libvorbis -b:a 48k", "ogg"},
        {"MP3 32 kbps", 0.6, 0, 0, 0, 0, 0, "-c:a libmp3lame -b:a 32k", "mp3"},
        {"Opus 32 kbps", 0.6, 0, 0, 0, 0, 0, "-c:a libopus -b:a 32k", "opus"},
        {"AAC 48 kbps", 0.6, 0, 0, 0, 0, 0, "-c:a aac -b:a 48k", "m4a"},
        {"6 dB louder", 0.6, 0, 0, 0, 6},
        {"6 dB softer", 0.6, 0, 0, 0, -6},
        {"pressed 0.5 s before it", -0.5},
        {"pressed 1.0 s after it began", 1.0},
        {"pressed 1.5 s after it began", 1.5},
        {"segue, soft, MP3 32 kbps, -6 dB, pressed +1.5 s", 1.5, 1, 0, 10, -6, 0,
         "-c:a libmp3lame -b:a 32k", "mp3"},
        {"pressed in a 2 s pause before it", -1.0, 0, 0, 0, 0, 2},
    };
    std::printf(
        "Following the station on real recordings: error of the heard moment against the "
        "press's (goal 0..+1 s), the later hour's frames at 4 phases against the print's\n");
    std::printf("%-48s %-20s %27s %7s %s\n", "condition", "jingle", "error s at 4 phases", "told s",
                "others");
    std::vector<MarkPrint> prints;
    std::vector<std::string> printNames;
    std::vector<MarkPrint> refinedPrints;  // as they were after the later hour
    std::vector<std::string> refinedNames;
    int hits = 0;
    int total = 0;
    for (int j = 2; j < argc; ++j) {
        const std::vector<float> jingle = decode(argv[j], kRate);
        const std::string jingleName = fs::path(argv[j]).stem().string();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Row& row = rows[r];
            const std::size_t a = (2 * r + static_cast<std::size_t>(j)) % songs.size();
            const std::size_t b = (a + 1 + r % 3) % songs.size();
            const std::vector<float> first =
                hourAround(decode(songs[a], kRate, 5, 25), jingle, words[r % 4],
                           decode(songs[(b + 1) % songs.size()], kRate, 0, 12), row);
            std::vector<float> later =
                hourAround(decode(songs[b], kRate, 20, 25), jingle, words[(r + 1) % 4],
                           decode(songs[(b + 1) % songs.size()], kRate, 30, 12), row);
            scale(later, std::pow(10.0, row.levelDb / 20));
            if (!row.codec.empty()) {
                later = throughCodec(later, row.codec, row.ext);
            }
            const double pressAt = kSongBefore + row.pause + row.press;
            Listener pressing;
            pressing.press({0, Level::Down}, pressAt);
            const Listener::Events kept = play(pressing, first, 0);
            if (kept.kept.empty()) {
                total += kPhases;
                std::printf("%-48s %-22s %8s (%s; %.1f s of audio)\n", row.name.c_str(),
                            jingleName.c_str(), "no print",
                            kept.silent.empty() ? "not kept" : "silence",
                            static_cast<double>(first.size()) / kRate);
                continue;
            }
            prints.push_back(kept.kept.front().print);
            printNames.push_back(row.name + ", " + jingleName);
            const double moved = kept.kept.front().movedBy;
            // The later hour at kPhases offsets of a quarter frame step: a live stream's frames
            // fall anywhere against the print's.
            std::string errors;
            std::string told;
            std::size_t others = 0;
            for (int phase = 0; phase < kPhases; ++phase) {
                const auto shift =
                    static_cast<std::size_t>(phase) * kPrintHop * kRate / kPrintRate / kPhases;
                std::vector<float> shifted(shift);
                shifted.insert(shifted.end(), later.begin(), later.end());
                Listener listening;
                listening.listenFor({0, Level::Down}, prints.back());
                const Listener::Events heard =
                    play(listening, shifted, kLater - static_cast<double>(shift) / kRate);
                const double expected = kLater + pressAt + moved;
                ++total;
                if (heard.heard.empty()) {
                    errors += "   miss";
                    continue;
                }
                if (phase == 0 && !heard.refined.empty()) {
                    refinedPrints.push_back(heard.refined.front().print);
                    refinedNames.push_back(row.name + ", " + jingleName + ", sharpened");
                }
                const Heard& h = heard.heard.front().heard;
                const double error = h.pressTime - expected;
                hits += error >= 0 && error <= 1 ? 1 : 0;
                char text[32];
                std::snprintf(text, sizeof text, " %+6.2f", error);
                errors += text;
                if (phase == 0) {
                    std::snprintf(text, sizeof text, "%7.2f", h.heardAt - expected);
                    told = text;
                }
                others = std::max(others, heard.heard.size() - 1);
            }
            std::printf("%-48s %-20s%s %7s %zu%s\n", row.name.c_str(), jingleName.c_str(),
                        errors.c_str(), told.c_str(), others,
                        moved > 0 ? " (print moved to the sound)" : "");
        }
    }
    std::printf("Within 0..+1 s: %d of %d (rows x phases)\n", hits, total);

    // Two hours of the music alone, every song from several places, each print listened for.
    const std::size_t asKept = prints.size();
    prints.insert(prints.end(), refinedPrints.begin(), refinedPrints.end());
    printNames.insert(printNames.end(), refinedNames.begin(), refinedNames.end());
    Listener listening;
    for (std::size_t i = 0; i < prints.size(); ++i) {
        listening.listenFor({static_cast<int>(i), Level::Down}, prints[i]);
    }
    std::size_t refinedMatches = 0;
    double at = 0;
    std::size_t falseMatches = 0;
    const double musicSeconds = argc > 0 && std::getenv("STATION_BENCH_MUSIC") != nullptr
                                    ? std::atof(std::getenv("STATION_BENCH_MUSIC"))
                                    : 7200;
    const double cpuBefore = cpuSeconds();
    for (int round = 0; at < musicSeconds; ++round) {
        for (const std::string& song : songs) {
            if (at >= musicSeconds) {
                break;
            }
            const std::vector<float> audio = decode(song, kRate, round * 7.0, 180);
            for (const Listener::HeardMark& mark : play(listening, audio, at).heard) {
                ++(static_cast<std::size_t>(mark.key.pair) < asKept ? falseMatches
                                                                    : refinedMatches);
                std::printf("  false match at %.0f s in %s, print of %s (confidence %.2f)\n",
                            mark.heard.pressTime - at, fs::path(song).stem().c_str(),
                            printNames[static_cast<std::size_t>(mark.key.pair)].c_str(),
                            mark.heard.confidence);
            }
            at += static_cast<double>(audio.size()) / kRate + 1;
        }
    }
    std::printf(
        "\n%.0f s of music without the jingles: %zu false matches of the %zu prints as "
        "kept, %zu of the %zu sharpened after the later hour (listening took %.1f ms CPU "
        "per second of audio)\n",
        at, falseMatches, asKept, refinedMatches, prints.size() - asKept,
        (cpuSeconds() - cpuBefore) * 1000 / at);
    cost();
    return 0;
}
