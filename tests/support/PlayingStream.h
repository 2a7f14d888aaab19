#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace hushwell::testing {

// A program playing silence to the sandbox's sink "speakers": a copy of pacat named `program`, so
// that libpulse records that name as the stream's application.process.binary, as it does for a
// real player. The copy lives in `folder`. Ends (SIGKILL) with the object.
class PlayingStream {
public:
    // Starts it and waits until its stream is on the server.
    PlayingStream(const std::filesystem::path& folder, const std::string& program);
    ~PlayingStream();
    PlayingStream(const PlayingStream&) = delete;
    PlayingStream& operator=(const PlayingStream&) = delete;

    [[nodiscard]] pid_t pid() const { return m_pid; }
    // The volume of each channel of its stream, as pactl reports it; empty once it is gone.
    [[nodiscard]] std::vector<long> volumes() const;

private:
    pid_t m_pid = -1;
};

// A stream on the server as pactl lists it.
struct SinkInput {
    long index = 0;      // the server's
    long pid = 0;        // application.process.id
    std::string binary;  // application.process.binary
    std::vector<long> volumes;
};
[[nodiscard]] std::vector<SinkInput> sinkInputs();

// Polls until every channel of the stream of `stream` holds `value`, for `seconds` at most;
// true when it did.
[[nodiscard]] bool waitForStream(const PlayingStream& stream, long value, int seconds = 5);

}  // namespace hushwell::testing
