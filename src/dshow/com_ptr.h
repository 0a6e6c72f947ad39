#pragma once

#include <windows.h>

#include <unknwn.h>
#include <utility>

namespace korvane {

// Owning COM reference: one Release per reference held, on reset or destruction.
template <class T> class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a new reference of its own.
    explicit ComPtr(T* p) : p_(p) {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(const ComPtr& other) {
        if (this != &other)
            ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ComPtr& operator=(std::nullptr_t) {
        reset();
        return *this;
    }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr adopt(T* p) {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    void reset() {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }
    // Gives up ownership without releasing.
    T* detach() { return std::exchange(p_, nullptr); }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // For out-parameters: releases what is held, then lets the callee store a new reference.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // QueryInterface for another interface of the same object; empty on failure.
    template <class U> ComPtr<U> as(REFIID iid) const {
        ComPtr<U> r;
        if (p_)
            p_->QueryInterface(iid, r.putVoid());
        return r;
    }
    template <class U> ComPtr<U> as() const { return as<U>(__uuidof(U)); }

  private:
    T* p_ = nullptr;
};

} // namespace korvane
