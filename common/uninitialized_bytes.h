// Byte buffers whose room is not zeroed when it is had. The system gives a
// page of memory at its first write, so room a transfer never writes (a
// block-size receive buffer that only ever holds ACKs, the tail of a read
// ahead of a short file) costs nothing, and room it does write is written
// once, not zeroed first: on a virtual machine each first touch of a page is
// dear, and a transfer's start touched some fifty of them. For the same
// reason the large ones are kept for the next transfer when they are given
// back, up to a bound, rather than handed to the system and had afresh.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace tftp {

// Given-back buffers of a transfer's sizes, kept for the next one. Any thread.
namespace kept_buffers {
// A kept buffer of exactly bytes, or null.
void* Take(std::size_t bytes) noexcept;
// Keeps p (of bytes) when it is large enough to be worth it and the bound
// allows; false: the caller frees it.
bool Keep(void* p, std::size_t bytes) noexcept;
// Frees every kept buffer (the server has been idle a while).
void Release() noexcept;
}  // namespace kept_buffers

template <class T>
struct DefaultInitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() noexcept = default;
    template <class U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (void* kept = kept_buffers::Take(n * sizeof(T))) return static_cast<T*>(kept);
        return std::allocator<T>::allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (!kept_buffers::Keep(p, n * sizeof(T))) std::allocator<T>::deallocate(p, n);
    }

    template <class U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using UninitializedBytes = std::vector<std::uint8_t, DefaultInitAllocator<std::uint8_t>>;

}  // namespace tftp
