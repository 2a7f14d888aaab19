#pragma once

// What the Windows providers' COM code shares: a counted reference, the IUnknown of a small COM
// object of their own, the text of a failed call, and
// UTF-16 to UTF-8 and back. Windows-only; included by the Windows provider files alone.

// clang-format off
#include <windows.h>
// clang-format on

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>

namespace hushwell::com {

// IUnknown for a small COM object of the program's own (`Derived`) that implements `Interface`
// alone: it is made with one reference, and deleted at its last Release.
template <typename Derived, typename Interface>
class Implements : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0) {
            delete static_cast<Derived*>(this);
        }
        return left;
    }

private:
    std::atomic<ULONG> m_references{1};
};

// One counted reference to a COM object, released when it goes.
template <typename Interface>
class Ref {
public:
    Ref() = default;
    explicit Ref(Interface* owned) : m_object(owned) {}
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            reset();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }

    void reset() {
        if (m_object != nullptr) {
            std::exchange(m_object, nullptr)->Release();
        }
    }
    // Where a call that hands out a reference writes it.
    [[nodiscard]] Interface** out() {
        reset();
        return &m_object;
    }
    [[nodiscard]] void** outVoid() { return reinterpret_cast<void**>(out()); }
    [[nodiscard]] Interface* get() const { return m_object; }
    Interface* operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    Interface* m_object = nullptr;
};

// "SetMasterVolume: HRESULT 0x80004005"
[[nodiscard]] inline std::string failure(const char* call, HRESULT result) {
    char text[96];
    std::snprintf(text, sizeof text, "%s: HRESULT 0x%08lX", call,
                  static_cast<unsigned long>(result));
    return text;
}

[[nodiscard]] inline std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
    return out;
}

[[nodiscard]] inline std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

}  // namespace hushwell::com
