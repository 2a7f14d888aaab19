#pragma once

// A stand-in for a loopback stream of Windows' audio engine: the client and its capture service in
// one object, which the test owns. Playing moves the clock the capture reads (seconds, shared by
// a test's streams) to the end of what was played.

#include "mixer/FakeAudioEndpoints.h"

#include <deque>

namespace hushwell::testing {

class FakeStream final : public FakeUnknown<IAudioClient>, public IAudioCaptureClient {
public:
    FakeStream(FakeAudioSystem& system, std::atomic<double>& clock, const WAVEFORMATEXTENSIBLE& mix)
        : FakeUnknown(system), format(mix), m_clock(clock) {}

    const WAVEFORMATEXTENSIBLE format;
    std::atomic<HRESULT> failure{S_OK};  // what every call answers while it is a failure
    std::atomic<DWORD> streamFlags{0};   // as initialised

    // `count` packets of 10 ms, each `frame` again and again, flagged `flags` (the first also
    // `first`), all at once.
    void play(const std::vector<BYTE>& frame, int count, DWORD flags = 0, DWORD first = 0) {
        const std::lock_guard lock(m_mutex);
        for (int i = 0; i < count; ++i) {
            Packet& packet = m_packets.emplace_back(Packet{{}, i == 0 ? flags | first : flags});
            for (DWORD f = 0; f < format.Format.nSamplesPerSec / 100; ++f) {
                packet.bytes.insert(packet.bytes.end(), frame.begin(), frame.end());
            }
            m_clock = m_clock + 0.01;
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
    };
    [[nodiscard]] UINT32 frames(const Packet& packet) const {
        return static_cast<UINT32>(packet.bytes.size() / format.Format.nBlockAlign);
    }

    std::atomic<double>& m_clock;
    std::mutex m_mutex;
    std::deque<Packet> m_packets;
};

}  // namespace hushwell::testing
