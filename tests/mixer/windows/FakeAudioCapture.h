#pragma once

// A stand-in for a loopback stream of Windows' audio engine: the client and its capture service in
// one object, which the test owns. Playing moves the clock the capture reads (seconds, shared by
// a test's streams) to the end of what was played. Each packet carries its device position (frames
// since the stream began) and the clock's time when its first frame was recorded, in the
// performance counter's 100-ns units, as GetBuffer gives them. It refuses what Windows refuses:
// a GetBuffer while a packet is held, and a ReleaseBuffer without one or of another length.

#include "mixer/windows/FakeAudioEndpoints.h"

#include <cmath>
#include <deque>

namespace hushwell::testing {

class FakeStream final : public FakeUnknown<IAudioClient, IAudioCaptureClient> {
public:
    FakeStream(FakeAudioSystem& system, std::atomic<double>& clock, const WAVEFORMATEXTENSIBLE& mix)
        : FakeUnknown(system), format(mix), m_clock(clock) {}

    const WAVEFORMATEXTENSIBLE format;
    std::atomic<HRESULT> failure{S_OK};  // what every call answers while it is a failure
    std::atomic<DWORD> streamFlags{0};   // as initialised
    std::atomic<int> refused{0};         // calls out of order or of the wrong length
    std::atomic<double> latency{0.0};    // s from a packet's recording to its delivery

    // `count` packets of 10 ms, each `frame` again and again, flagged `flags` (the first also
    // `first`), all at once, recorded `latency` before. A packet flagged
    // AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR carries a time half a second off.
    void play(const std::vector<BYTE>& frame, int count, DWORD flags = 0, DWORD first = 0) {
        const std::lock_guard lock(m_mutex);
        const DWORD perPacket = format.Format.nSamplesPerSec / 100;
        for (int i = 0; i < count; ++i) {
            const DWORD packetFlags = i == 0 ? flags | first : flags;
            const double recorded =
                m_clock - latency +
                ((packetFlags & AUDCLNT_BUFFERFLAGS_TIMESTAMP_ERROR) != 0 ? 0.5 : 0.0);
            Packet& packet = m_packets.emplace_back(Packet{
                {}, packetFlags, m_position, static_cast<UINT64>(std::llround(recorded * 1e7))});
            for (DWORD f = 0; f < perPacket; ++f) {
                packet.bytes.insert(packet.bytes.end(), frame.begin(), frame.end());
            }
            m_position += perPacket;
            m_clock = m_clock + 0.01;
        }
    }

    // Packets not read yet.
    std::size_t waiting() {
        const std::lock_guard lock(m_mutex);
        return m_packets.size();
    }

    // Nothing plays for `seconds`: a loopback stream delivers no packet, and its device position
    // moves on.
    void idle(double seconds) {
        const std::lock_guard lock(m_mutex);
        m_position += static_cast<UINT64>(std::llround(seconds * format.Format.nSamplesPerSec));
        m_clock = m_clock + seconds;
    }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME,
                                         REFERENCE_TIME, const WAVEFORMATEX* wave,
                                         LPCGUID) override {
        const std::lock_guard lock(m_mutex);
        m_held = false;  // a stream of its own on Windows
        streamFlags = flags;
        const bool same = std::memcmp(wave, &format, sizeof(WAVEFORMATEX) + wave->cbSize) == 0;
        return FAILED(failure)                            ? failure.load()
               : mode == AUDCLNT_SHAREMODE_SHARED && same ? S_OK
                                                          : AUDCLNT_E_UNSUPPORTED_FORMAT;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** out) override {
        *out = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(sizeof format));
        std::memcpy(*out, &format, sizeof format);
        return failure;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** object) override {
        AddRef();
        *object = static_cast<IAudioCaptureClient*>(this);
        return iid == __uuidof(IAudioCaptureClient) ? failure.load() : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE Start() override { return failure; }
    HRESULT STDMETHODCALLTYPE Stop() override { return failure; }
    // As Windows' capture streams: the next packet's length only, not all that waits.
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* next) override {
        const std::lock_guard lock(m_mutex);
        *next = m_packets.empty() ? 0 : frames(m_packets.front());
        return failure;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* count, DWORD* flags,
                                        UINT64* devicePosition, UINT64* counter) override {
        const std::lock_guard lock(m_mutex);
        if (FAILED(failure)) {
            return failure;
        }
        if (m_held) {
            ++refused;
            return AUDCLNT_E_OUT_OF_ORDER;
        }
        const Packet* packet = m_packets.empty() ? nullptr : &m_packets.front();
        *count = packet != nullptr ? frames(*packet) : 0;
        *data = packet != nullptr ? m_packets.front().bytes.data() : nullptr;
        *flags = packet != nullptr ? packet->flags : 0;
        if (devicePosition != nullptr) {
            *devicePosition = packet != nullptr ? packet->position : m_position;
        }
        if (counter != nullptr) {
            *counter = packet != nullptr ? packet->recorded : 0;
        }
        m_held = packet != nullptr;
        return packet != nullptr ? S_OK : AUDCLNT_S_BUFFER_EMPTY;
    }
    // The packet's length releases it, 0 keeps it for the next GetBuffer.
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 count) override {
        const std::lock_guard lock(m_mutex);
        if (FAILED(failure)) {
            return failure;
        }
        if (!m_held) {
            ++refused;
            return AUDCLNT_E_OUT_OF_ORDER;
        }
        if (count != 0 && count != frames(m_packets.front())) {
            ++refused;
            return AUDCLNT_E_INVALID_SIZE;
        }
        if (count != 0) {
            m_packets.pop_front();
        }
        m_held = false;
        return S_OK;
    }
    // Hushwell asks for none of these.
    HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*,
                                                WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return E_NOTIMPL; }

private:
    struct Packet {
        std::vector<BYTE> bytes;
        DWORD flags;
        UINT64 position;  // of its first frame
        UINT64 recorded;  // when its first frame was recorded, in 100-ns units
    };
    [[nodiscard]] UINT32 frames(const Packet& packet) const {
        return static_cast<UINT32>(packet.bytes.size() / format.Format.nBlockAlign);
    }

    std::atomic<double>& m_clock;
    std::mutex m_mutex;
    std::deque<Packet> m_packets;
    UINT64 m_position = 0;  // of the next frame played
    bool m_held = false;    // a packet is out, between GetBuffer and ReleaseBuffer
};

}  // namespace hushwell::testing
