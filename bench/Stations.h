#pragma once

// The stations both following benches play: real recordings decoded with ffmpeg, words from
// espeak-ng, and the table of conditions (rows) an hour is built under. StationBench feeds the
// hours to a Listener in memory; FollowBench plays them to the program through a sound server.

#include <cstddef>
#include <string>
#include <vector>

#include "listen/Listener.h"

namespace hushwell::bench {

constexpr double kRate = 44100;
constexpr double kSongBefore = 20;  // s of the song before the jingle

std::string quoted(const std::string& text);

// Any audio file as mono float samples at `rate`, from `start` seconds for `length` (0: whole).
std::vector<float> decode(const std::string& file, double rate, double start = 0,
                          double length = 0);

void writeRaw(const std::string& file, const std::vector<float>& samples);

// Through a lossy codec and back; `codec` is ffmpeg's encoder with its options, `ext` the file's.
std::vector<float> throughCodec(const std::vector<float>& samples, const std::string& codec,
                                const std::string& ext);

std::vector<float> speech(const std::string& text);

double rms(const std::vector<float>& samples);
void scale(std::vector<float>& samples, double gain);

struct Row {
    std::string name;
    double press = 0.6;  // s after the jingle starts
    double segue = 0;    // s the song runs on under the jingle
    double under = 0;    // s the words start before the jingle ends
    double softDb = 0;   // the jingle under the music
    double levelDb = 0;  // the later hour against the press's
    double pause = 0;    // s of silence between the song and the jingle
    std::string codec, ext;
    std::string jingle;   // a jingle of the row's own (a file beside the others), else each of them
    double wordsAt = -1;  // s after the jingle starts that the words start, when >= 0 (not under)
};

// Every condition, in the order the benches number them (from 1).
const std::vector<Row>& stationRows();

// The words of the hours.
std::vector<std::vector<float>> stationWords();

// One hour around the jingle: the song's last kSongBefore s, the jingle, the words, a song.
std::vector<float> hourAround(const std::vector<float>& song, const std::vector<float>& jingle,
                              const std::vector<float>& words, const std::vector<float>& next,
                              const Row& row);

// The two hours of row `r` with the jingle numbered `variant` (StationBench's argument index):
// the one Set was pressed in and a later one with another song and other words around the same
// jingle, under the row's condition. `pressAt`: s into either hour that the row presses at.
struct Station {
    std::vector<float> first;
    std::vector<float> later;
    double pressAt = 0;
};
Station buildStation(const std::vector<std::string>& songs,
                     const std::vector<std::vector<float>>& words, const std::vector<float>& jingle,
                     std::size_t r, std::size_t variant);

// The songs of MUSIC_DIR that ffmpeg reads, sorted.
std::vector<std::string> stationSongs(const std::string& folder);

// `audio` pushed in blocks of 0.1 s starting at `from` on the listener's clock; all it told. Each
// mark heard is given its sound, as the program gives what switched: it is sharpened by it.
Listener::Events play(Listener& listener, const std::vector<float>& audio, double from);

}  // namespace hushwell::bench
