#include "app/SoundServerName.h"

#include <gtest/gtest.h>

namespace hushwell {
namespace {

// Two environments: whether they name one server. PULSE_SERVER as written, or the runtime
// folders when it is unset; the machine's id is "m1".
TEST(SoundServerName, OneServerHasOneName) {
    const struct {
        ServerEnvironment one;
        ServerEnvironment other;
        bool same;
    } cases[] = {
        {{"tcp:localhost:4713"}, {"localhost:4713"}, true},
        {{"tcp:localhost:4713"}, {"tcp4:127.0.0.1:4713"}, true},
        {{"localhost"}, {"tcp6:[::1]:4713"}, true},
        {{"tcp:radio.lan"}, {"Radio.LAN:4713"}, true},
        {{"unix:/run/user/0/pulse/native"}, {"/run/user/0/pulse/native"}, true},
        {{"unix:/run/user/0/pulse/../pulse//native"}, {"/run/user/0/pulse/native"}, true},
        {{"{m1}unix:/run/user/0/pulse/native"}, {"/run/user/0/pulse/native"}, true},
        // A list: the first entry for this machine.
        {{"unix:/tmp/a tcp:localhost"}, {"unix:/tmp/a"}, true},
        {{" localhost\tunix:/tmp/a"}, {"tcp:localhost:4713"}, true},
        {{"{m2}unix:/tmp/b unix:/tmp/a"}, {"/tmp/a"}, true},
        {{"unix:/tmp/a unix:/tmp/b"}, {"unix:/tmp/b"}, false},
        // Unset: the socket libpulse picks in the runtime folders.
        {{"", "", "/run/user/0"}, {"unix:/run/user/0/pulse/native"}, true},
        {{"", "/run/user/0/pulse", "/elsewhere"}, {"/run/user/0/pulse/native"}, true},
        {{"{m2}tcp:far", "", "/run/user/0"}, {"/run/user/0/pulse/native"}, true},
        // Another port, host, socket, or kind.
        {{"tcp:localhost:4713"}, {"tcp:localhost:4714"}, false},
        {{"tcp:localhost"}, {"tcp:radio.lan"}, false},
        {{"tcp:[fe80::1]:4713"}, {"tcp:[fe80::2]:4713"}, false},
        {{"/run/user/0/pulse/native"}, {"/run/user/1000/pulse/native"}, false},
        {{"", "", "/run/user/0"}, {"", "", "/run/user/1000"}, false},
        {{"localhost"}, {"/run/user/0/pulse/native"}, false},
        {{}, {"", "", "/run/user/0"}, false},
    };
    for (const auto& c : cases) {
        ServerEnvironment one = c.one;
        ServerEnvironment other = c.other;
        one.machineId = other.machineId = "m1";
        EXPECT_EQ(soundServerName(one) == soundServerName(other), c.same)
            << '"' << c.one.pulseServer << "\" is " << soundServerName(one) << ", \""
            << c.other.pulseServer << "\" is " << soundServerName(other);
    }
}

}  // namespace
}  // namespace hushwell
