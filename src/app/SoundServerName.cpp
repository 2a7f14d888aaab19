#include "app/SoundServerName.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

namespace hushwell {
namespace {

constexpr std::string_view kDefaultPort = "4713";

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The first line of the first of these files that has one, as libpulse finds the machine's id.
std::string thisMachineId() {
    for (const char* file : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        std::string line;
        if (std::ifstream in(file); std::getline(in, line) && !line.empty()) {
            return line;
        }
    }
    return {};
}

bool dropPrefix(std::string& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) {
        return false;
    }
    text.erase(0, prefix.size());
    return true;
}

// A socket as the file it names, so that two spellings of one path name it alike.
std::string socketName(const std::string& path) {
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return "unix:" + (error ? path : resolved.string());
}

bool loopback(const std::string& host) {
    return host == "localhost" || host.starts_with("127.") || host == "::1" ||
           host == "0:0:0:0:0:0:0:1";
}

// "HOST", "HOST:PORT", "[V6]", "[V6]:PORT", or a bare IPv6 address.
std::string networkName(const std::string& address) {
    std::string host = address;
    std::string port;
    if (address.starts_with('[') && address.find(']') != std::string::npos) {
        const std::size_t close = address.find(']');
        host = address.substr(1, close - 1);
        if (address.size() > close + 1 && address[close + 1] == ':') {
            port = address.substr(close + 2);
        }
    } else if (std::count(address.begin(), address.end(), ':') == 1) {
        host = address.substr(0, address.find(':'));
        port = address.substr(address.find(':') + 1);
    }
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp:" +
           (loopback(host) ? "localhost"
            : v6           ? "[" + host + "]"
                           : host) +
           ":" + (port.empty() ? std::string(kDefaultPort) : port);
}

// An entry of PULSE_SERVER, without its machine's id.
std::string entryName(std::string entry) {
    if (dropPrefix(entry, "unix:") || entry.starts_with('/')) {
        return socketName(entry);
    }
    (void)(dropPrefix(entry, "tcp:") || dropPrefix(entry, "tcp4:") || dropPrefix(entry, "tcp6:"));
    return networkName(entry);
}

}  // namespace

ServerEnvironment ServerEnvironment::ofThisProcess() {
    return {variable("PULSE_SERVER"), variable("PULSE_RUNTIME_PATH"), variable("XDG_RUNTIME_DIR"),
            thisMachineId()};
}

std::string soundServerName(const ServerEnvironment& environment) {
    std::istringstream entries(environment.pulseServer);
    for (std::string entry; entries >> entry;) {
        if (entry.starts_with('{')) {
            const std::size_t close = entry.find('}');
            if (close == std::string::npos) {
                continue;
            }
            const std::string id = entry.substr(1, close - 1);
            if (!environment.machineId.empty() && id != environment.machineId) {
                continue;  // another machine's: libpulse does not try it
            }
            entry.erase(0, close + 1);
        }
        if (!entry.empty()) {
            return entryName(entry);
        }
    }
    if (!environment.pulseRuntimePath.empty()) {
        return socketName(environment.pulseRuntimePath + "/native");
    }
    if (!environment.xdgRuntimeDir.empty()) {
        return socketName(environment.xdgRuntimeDir + "/pulse/native");
    }
    return "default";
}

std::string soundServerName() {
    return soundServerName(ServerEnvironment::ofThisProcess());
}

std::string shortDigest(std::string_view name) {
    std::uint64_t digest = 14695981039346656037ULL;
    for (const unsigned char c : name) {
        digest = (digest ^ c) * 1099511628211ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(digest));
    return hex;
}

}  // namespace hushwell
