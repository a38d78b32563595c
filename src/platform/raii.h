// Small owners for the resources the component handles: C streams, COM
// references and BSTRs.
#pragma once

#include <cstdio>
#include <utility>

#include "KelCom.h"
#include "platform/text.h"

namespace kel {

class File {
public:
    File() = default;
    explicit File(std::FILE* stream) : stream_(stream) {}
    ~File() { Close(); }
    File(File&& other) noexcept : stream_(std::exchange(other.stream_, nullptr)) {}
    File& operator=(File&& other) noexcept {
        if (this != &other) {
            Close();
            stream_ = std::exchange(other.stream_, nullptr);
        }
        return *this;
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    std::FILE* get() const { return stream_; }
    explicit operator bool() const { return stream_ != nullptr; }
    // Returns false when the final flush failed.
    bool Close() {
        if (!stream_) return true;
        const int result = std::fclose(stream_);
        stream_ = nullptr;
        return result == 0;
    }

private:
    std::FILE* stream_ = nullptr;
};

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* raw) {
        ComPtr p;
        p.ptr_ = raw;
        return p;
    }
    ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
        if (ptr_) ptr_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(ptr_, other.ptr_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    void Reset() {
        if (ptr_) std::exchange(ptr_, nullptr)->Release();
    }
    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }
    // For out parameters: releases what is held and hands out the slot.
    T** Put() {
        Reset();
        return &ptr_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    T* Detach() { return std::exchange(ptr_, nullptr); }

private:
    T* ptr_ = nullptr;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR owned) : bstr_(owned) {}
    ~UniqueBstr() { Reset(); }
    UniqueBstr(UniqueBstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        if (this != &other) {
            Reset();
            bstr_ = std::exchange(other.bstr_, nullptr);
        }
        return *this;
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    // Null when the allocation failed.
    static UniqueBstr From(WStringView text) {
        return UniqueBstr(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                                            static_cast<UINT>(text.size())));
    }
    void Reset() {
        if (bstr_) SysFreeString(std::exchange(bstr_, nullptr));
    }
    BSTR get() const { return bstr_; }
    BSTR* Put() {
        Reset();
        return &bstr_;
    }
    BSTR Detach() { return std::exchange(bstr_, nullptr); }
    WStringView View() const { return View(bstr_); }

    // A null BSTR is the empty string.
    static WStringView View(const OLECHAR* bstr) {
        if (!bstr) return {};
        return WStringView(reinterpret_cast<const char16_t*>(bstr),
                           SysStringLen(const_cast<BSTR>(bstr)));
    }

private:
    BSTR bstr_ = nullptr;
};

}  // namespace kel
