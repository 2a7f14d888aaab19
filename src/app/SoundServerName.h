#pragma once

#include <string>
#include <string_view>

namespace hushwell {

// What names the PulseAudio server a process would reach (PipeWire serves the same socket): its
// environment's variables, and this machine's id (libpulse skips a PULSE_SERVER entry written
// "{id}address" for another machine).
struct ServerEnvironment {
    std::string pulseServer = {};       // PULSE_SERVER
    std::string pulseRuntimePath = {};  // PULSE_RUNTIME_PATH
    std::string xdgRuntimeDir = {};     // XDG_RUNTIME_DIR
    std::string machineId = {};         // /etc/machine-id; empty: not known

    // This process': its variables and the machine's id.
    [[nodiscard]] static ServerEnvironment ofThisProcess();
};

// The one name of the server libpulse would reach, however it is written, for the one-copy claim
// and the held record: "unix:PATH" with the socket as the file it names, or "tcp:HOST:PORT" with
// the host in lower case, the port 4713 unless written, and the loopback addresses ("localhost",
// 127.0.0.1, ::1) all "localhost"; "tcp4:" and "tcp6:" name the host's one server too.
//
// Of a list (PULSE_SERVER's entries, separated by white space, tried in turn) the first entry for
// this machine names it. libpulse reaches the first that answers, but only a connection asks a
// server whether it answers, and a remote one may hold a start for the network's timeout before
// it says; the name is rather the same for every start (and for the guard, which names its
// record again) with one list. Without PULSE_SERVER, the socket libpulse picks: "native" in
// PULSE_RUNTIME_PATH, else in XDG_RUNTIME_DIR's "pulse"; "default" when neither is set. A server
// named only in client.conf or on the X root window's PULSE_SERVER property is not read: such a
// copy is named for the user's own socket.
[[nodiscard]] std::string soundServerName(const ServerEnvironment& environment);

// The name for this process.
[[nodiscard]] std::string soundServerName();

// Sixteen hexadecimal digits for `name` (FNV-1a), where the name itself does not fit (a file's
// name, a socket's).
[[nodiscard]] std::string shortDigest(std::string_view name);

}  // namespace hushwell
