#include "Stations.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace hushwell::bench {

namespace fs = std::filesystem;

namespace {

// A name of its own for each call, so that benches running hours on several threads never share
// a file.
std::string tempFile(const std::string& name) {
    static std::atomic<int> count{0};
    return (fs::temp_directory_path() /
            ("station-bench-" + std::to_string(getpid()) + "-" + std::to_string(count++) + name))
        .string();
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

}  // namespace

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

std::vector<float> decode(const std::string& file, double rate, double start, double length) {
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

void writeRaw(const std::string& file, const std::vector<float>& samples) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * sizeof(float)));
}

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

// Each row names only what it changes; the rest keeps the defaults of Row.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
const std::vector<Row>& stationRows() {
    static const std::vector<Row> rows = [] {
        const std::string mp3 = "-c:a libmp3lame -b:a 32k";
        return std::vector<Row>{
            {.name = "clean"},
            {.name = "segue: jingle over the song's last 1 s", .segue = 1},
            {.name = "under the first words (last 1 s)", .under = 1},
            {.name = "soft: jingle 10 dB under the music", .softDb = 10},
            {.name = "Vorbis 48 kbps", .codec = "-c:a libvorbis -b:a 48k", .ext = "ogg"},
            {.name = "MP3 32 kbps", .codec = mp3, .ext = "mp3"},
            {.name = "Opus 32 kbps", .codec = "-c:a libopus -b:a 32k", .ext = "opus"},
            {.name = "AAC 48 kbps", .codec = "-c:a aac -b:a 48k", .ext = "m4a"},
            {.name = "6 dB louder", .levelDb = 6},
            {.name = "6 dB softer", .levelDb = -6},
            {.name = "pressed 0.5 s before it", .press = -0.5},
            {.name = "pressed 1.0 s after it began", .press = 1.0},
            {.name = "pressed 1.5 s after it began", .press = 1.5},
            {.name = "segue, soft, MP3 32 kbps, -6 dB, pressed +1.5 s",
             .press = 1.5,
             .segue = 1,
             .softDb = 10,
             .levelDb = -6,
             .codec = mp3,
             .ext = "mp3"},
            {.name = "pressed in a 2 s pause before it", .press = -1.0, .pause = 2},
            {.name = "segue 0.5 s, a ringing heard nowhere else",
             .segue = 0.5,
             .jingle = "phone-outgoing-calling.oga"},
            {.name = "words from 0.3 s into the jingle", .wordsAt = 0.3},
            {.name = "Opus 24 kbps", .codec = "-c:a libopus -b:a 24k", .ext = "opus"},
            {.name = "MP3 64 kbps", .codec = "-c:a libmp3lame -b:a 64k", .ext = "mp3"},
            // -1 is the lowest quality ffmpeg's libvorbis takes.
            {.name = "Vorbis lowest quality (-q:a -1), 4 dB softer",
             .levelDb = -4,
             .codec = "-c:a libvorbis -q:a -1",
             .ext = "ogg"},
            {.name = "pressed 1.1 s after it began", .press = 1.1},
        };
    }();
    return rows;
}
#pragma GCC diagnostic pop

std::vector<std::vector<float>> stationWords() {
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
    return words;
}

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
    const double talkAt =
        row.wordsAt >= 0 ? jingleAt + row.wordsAt : jingleAt + jingleLength - row.under;
    mixInto(audio, talk, talkAt);
    mixInto(audio, next, talkAt + static_cast<double>(talk.size()) / kRate);
    return audio;
}

Station buildStation(const std::vector<std::string>& songs,
                     const std::vector<std::vector<float>>& words, const std::vector<float>& jingle,
                     std::size_t r, std::size_t variant) {
    const Row& row = stationRows()[r];
    const std::size_t a = (2 * r + variant) % songs.size();
    const std::size_t b = (a + 1 + r % 3) % songs.size();
    Station station;
    station.first = hourAround(decode(songs[a], kRate, 5, 25), jingle, words[r % 4],
                               decode(songs[(b + 1) % songs.size()], kRate, 0, 12), row);
    station.later = hourAround(decode(songs[b], kRate, 20, 25), jingle, words[(r + 1) % 4],
                               decode(songs[(b + 1) % songs.size()], kRate, 30, 12), row);
    scale(station.later, std::pow(10.0, row.levelDb / 20));
    if (!row.codec.empty()) {
        station.later = throughCodec(station.later, row.codec, row.ext);
    }
    station.pressAt = kSongBefore + row.pause + row.press;
    return station;
}

std::vector<std::string> stationSongs(const std::string& folder) {
    std::vector<std::string> songs;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!decode(entry.path().string(), kRate, 0, 1).empty()) {  // ffmpeg reads it
            songs.push_back(entry.path().string());
        }
    }
    std::sort(songs.begin(), songs.end());
    return songs;
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
        // As the program does with what switched: the mark heard is sharpened by its sound.
        for (const Listener::HeardMark& heard : events.heard) {
            listener.given(heard.key, heard.heard.pressTime);
        }
    }
    return all;
}

}  // namespace hushwell::bench
