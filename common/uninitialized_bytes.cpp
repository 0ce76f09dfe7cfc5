#include "uninitialized_bytes.h"

#include <algorithm>
#include <mutex>

namespace tftp::kept_buffers {

namespace {

// Smaller ones come cheaply from the allocator's own free lists.
constexpr std::size_t kSmallest = 16 * 1024;
// Enough for a few dozen transfers' buffers at the largest block size.
constexpr std::size_t kMostBytes = 32 * 1024 * 1024;
constexpr std::size_t kMostBuffers = 256;

struct Kept {
    void* p;
    std::size_t bytes;
};

struct Store {
    std::mutex lock;
    std::vector<Kept> buffers;
    std::size_t bytes = 0;
};

Store& TheStore() {
    static Store* store = new Store;  // never destroyed: used until the very end
    return *store;
}

}  // namespace

void* Take(std::size_t bytes) noexcept {
    if (bytes < kSmallest) return nullptr;
    Store& s = TheStore();
    const std::lock_guard<std::mutex> hold(s.lock);
    const auto it = std::find_if(s.buffers.rbegin(), s.buffers.rend(),
                                 [bytes](const Kept& k) { return k.bytes == bytes; });
    if (it == s.buffers.rend()) return nullptr;
    void* p = it->p;
    s.bytes -= bytes;
    s.buffers.erase(std::next(it).base());
    return p;
}

bool Keep(void* p, std::size_t bytes) noexcept {
    if (bytes < kSmallest || bytes > kMostBytes) return false;
    Store& s = TheStore();
    const std::lock_guard<std::mutex> hold(s.lock);
    if (s.bytes + bytes > kMostBytes || s.buffers.size() >= kMostBuffers) return false;
    try {
        s.buffers.push_back(Kept{p, bytes});
    } catch (...) {
        return false;
    }
    s.bytes += bytes;
    return true;
}

void Release() noexcept {
    std::vector<Kept> buffers;
    {
        Store& s = TheStore();
        const std::lock_guard<std::mutex> hold(s.lock);
        buffers.swap(s.buffers);
        s.bytes = 0;
    }
    for (const Kept& k : buffers) std::allocator<std::uint8_t>().deallocate(static_cast<std::uint8_t*>(k.p), k.bytes);
}

}  // namespace tftp::kept_buffers
