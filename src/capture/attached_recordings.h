#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <utility>

namespace korvane {

// The recordings one stream of buffers feeds at the same time (a user's recording and the
// scheduled ones on the same multiplex). The streaming thread takes a copy of the references
// under the lock and feeds them outside it, so that a recording detached meanwhile stays alive
// until that call returns and a slow write never holds up an attach or a detach. Ref is an
// owning reference with get() and a test for emptiness (a COM reference, a shared_ptr).
template <class Ref, std::size_t Capacity> class AttachedRecordings {
  public:
    using Snapshot = std::array<Ref, Capacity>;

    // False when every place is taken (the recording is then not attached).
    bool attach(Ref recording) {
        std::lock_guard<std::mutex> hold(lock_);
        for (Ref& place : places_) {
            if (!place) {
                place = std::move(recording);
                return true;
            }
        }
        return false;
    }

    // Takes that recording away; the caller gets the reference held for it (empty when it was
    // not attached).
    template <class Pointer> Ref detach(Pointer recording) {
        std::lock_guard<std::mutex> hold(lock_);
        for (Ref& place : places_) {
            if (place && place.get() == recording)
                return std::exchange(place, Ref{});
        }
        return Ref{};
    }

    // The recordings attached now, first the oldest places; how many were copied.
    std::size_t snapshot(Snapshot& out) const {
        std::size_t count = 0;
        std::lock_guard<std::mutex> hold(lock_);
        for (const Ref& place : places_) {
            if (place)
                out[count++] = place;
        }
        return count;
    }

  private:
    mutable std::mutex lock_;
    Snapshot places_{};
};

} // namespace korvane
