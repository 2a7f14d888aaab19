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

#include "Stations.h"
#include "listen/Fingerprinter.h"
#include "listen/Listener.h"

namespace {

using namespace hushwell;
using namespace hushwell::bench;
namespace fs = std::filesystem;

constexpr double kLater = 1000;  // s, where the later hour starts on the listener's clock
constexpr int kPhases = 4;       // of the later hour's frames against the print's

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
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

// STATION_BENCH_ROWS=3,18 plays only those rows (counted from 1).
bool chosen(std::size_t row) {
    const char* only = std::getenv("STATION_BENCH_ROWS");
    return only == nullptr ||
           ("," + std::string(only) + ",").find("," + std::to_string(row + 1) + ",") !=
               std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: station_bench MUSIC_DIR JINGLE...\n");
        return 2;
    }
    const std::vector<std::string> songs = stationSongs(argv[1]);
    if (songs.size() < 4) {
        std::fprintf(stderr, "station_bench: fewer than 4 songs in %s\n", argv[1]);
        return 2;
    }
    const std::vector<std::vector<float>> words = stationWords();
    const std::vector<Row>& rows = stationRows();
    std::printf(
        "Following the station on real recordings: error of the heard moment against the "
        "press's (goal 0..+1 s), the later hour's frames at 4 phases against the print's; told: "
        "when the latest phase told it\n");
    std::printf("%-48s %-20s %27s %7s %s\n", "condition", "jingle", "error s at 4 phases", "told s",
                "others");
    std::vector<MarkPrint> prints;
    std::vector<std::string> printNames;
    std::vector<MarkPrint> refinedPrints;  // as they were after the later hour
    std::vector<std::string> refinedNames;
    int hits = 0;
    int toldSoon = 0;  // and told within 1 s of the press's moment
    int total = 0;
    for (int j = 2; j < argc; ++j) {
        const std::vector<float> jingle = decode(argv[j], kRate);
        const std::string jingleName = fs::path(argv[j]).stem().string();
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const Row& row = rows[r];
            if (!chosen(r)) {
                continue;
            }
            // A row with a jingle of its own is played once, with it, in the first jingle's turn.
            if (!row.jingle.empty() && j != 2) {
                continue;
            }
            const fs::path ownJingle = fs::path(argv[2]).parent_path() / row.jingle;
            const Station station =
                buildStation(songs, words, row.jingle.empty() ? jingle : decode(ownJingle, kRate),
                             r, static_cast<std::size_t>(j));
            const std::string& name = row.jingle.empty() ? jingleName : ownJingle.stem().string();
            const std::vector<float>& first = station.first;
            const std::vector<float>& later = station.later;
            const double pressAt = station.pressAt;
            Listener pressing;
            pressing.press({0, Level::Down}, pressAt);
            const Listener::Events kept = play(pressing, first, 0);
            if (kept.kept.empty()) {
                total += kPhases;
                std::printf("%-48s %-22s %8s (%s; %.1f s of audio)\n", row.name.c_str(),
                            name.c_str(), "no print", kept.silent.empty() ? "not kept" : "silence",
                            static_cast<double>(first.size()) / kRate);
                continue;
            }
            prints.push_back(kept.kept.front().print);
            printNames.push_back(row.name + ", " + name);
            const double moved = kept.kept.front().movedBy;
            // The later hour at kPhases offsets of a quarter frame step: a live stream's frames
            // fall anywhere against the print's.
            std::string errors;
            std::string told;
            std::size_t others = 0;
            double toldLatest = -1e9;  // the latest of the phases: what a listener may get
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
                    refinedNames.push_back(row.name + ", " + name + ", sharpened");
                }
                const Heard& h = heard.heard.front().heard;
                const double error = h.pressTime - expected;
                hits += error >= 0 && error <= 1 ? 1 : 0;
                char text[32];
                std::snprintf(text, sizeof text, " %+6.2f", error);
                errors += text;
                const double toldAfter = h.heardAt - expected;
                toldLatest = std::max(toldLatest, toldAfter);
                toldSoon += error >= 0 && error <= 1 && toldAfter <= 1 ? 1 : 0;
                std::snprintf(text, sizeof text, "%7.2f", toldLatest);
                told = text;
                others = std::max(others, heard.heard.size() - 1);
            }
            std::printf("%-48s %-20s%s %7s %zu%s\n", row.name.c_str(), name.c_str(), errors.c_str(),
                        told.c_str(), others, moved > 0 ? " (print moved to the sound)" : "");
        }
    }
    std::printf("Within 0..+1 s: %d of %d (rows x phases); of them told within 1 s: %d\n", hits,
                total, toldSoon);

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
