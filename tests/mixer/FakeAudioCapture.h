#pragma once

// A stand-in for a loopback stream of Windows' audio engine (the client and its capture service
// in one object, which the test owns), and the clock the capture reads, which moves only as the
// test plays packets.

#include "mixer/FakeAudioEndpoints.h"

#include <deque>

namespace hushwell::testing {

struct FakeCaptureClock {
    std::atomic<std::chrono::steady_clock::rep> ticks{1'000'000'000'000};
    [[nodiscard]] std::chrono::steady_clock::time_point now() const {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks));
    }
    void advance(std::chrono::duration<double> by) {
        ticks += std::chrono::duration_cast<std::chrono::steady_clock::duration>(by).count();
    }
};

class FakeStream final : public FakeUnknown<IAudioClient>, public IAudioCaptureClient {
public:
    struct Packet {
        std::vector<BYTE> bytes;
        DWORD flags = 0;
    };
    FakeStream(FakeAudioSystem& system, FakeCaptureClock& clock, const WAVEFORMATEXTENSIBLE& mix)
        : FakeUnknown(system), format(mix), m_clock(clock) {}

    const WAVEFORMATEXTENSIBLE format;
    std::atomic<HRESULT> failure{S_OK};  // what every call answers while it is a failure
    std::atomic<DWORD> streamFlags{0};   // as initialised
    std::atomic<bool> started{false};

    // The packets wait to be read, and the clock moves to the end of the last, all at once.
    void play(const std::vector<Packet>& packets) {
        const std::lock_guard lock(m_mutex);
        for (const Packet& packet : packets) {
            m_clock.advance(std::chrono::duration<double>(frames(packet)) /
                            format.Format.nSamplesPerSec);
            m_packets.push_back(packet);
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        return FakeUnknown::QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return FakeUnknown::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return FakeUnknown::Release(); }

    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME,
                                         REFERENCE_TIME, const WAVEFORMATEX* wave,
                                         LPCGUID) override {
        m_system.note("Initialize");
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
        *object = nullptr;
        if (iid != __uuidof(IAudioCaptureClient)) {
            return E_NOINTERFACE;
        }
        AddRef();
        *object = static_cast<IAudioCaptureClient*>(this);
        return failure;
    }
    HRESULT STDMETHODCALLTYPE Start() override { return started = true, failure.load(); }
    HRESULT STDMETHODCALLTYPE Stop() override { return started = false, failure.load(); }
    // As Windows' capture streams: the next packet's length only, not all that waits.
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* next) override {
        const std::lock_guard lock(m_mutex);
        *next = m_packets.empty() ? 0 : frames(m_packets.front());
        return failure;
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* count, DWORD* flags, UINT64*,
                                        UINT64*) override {
        const std::lock_guard lock(m_mutex);
        *count = m_packets.empty() ? 0 : frames(m_packets.front());
        *data = m_packets.empty() ? nullptr : m_packets.front().bytes.data();
        *flags = m_packets.empty() ? 0 : m_packets.front().flags;
        return FAILED(failure) ? failure.load() : *count == 0 ? AUDCLNT_S_BUFFER_EMPTY : S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32) override {
        const std::lock_guard lock(m_mutex);
        m_packets.pop_front();
        return failure;
    }
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
    [[nodiscard]] UINT32 frames(const Packet& packet) const {
        return static_cast<UINT32>(packet.bytes.size() / format.Format.nBlockAlign);
    }

    FakeCaptureClock& m_clock;
    std::mutex m_mutex;
    std::deque<Packet> m_packets;
};

}  // namespace hushwell::testing
