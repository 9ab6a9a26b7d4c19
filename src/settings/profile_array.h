// A growable array of channel profiles. It grows by whole records: to the larger of the
// size needed and the old allocation plus an eighth of the current size, that eighth
// being at least 4 and at most 1024 records. A failed growth changes nothing.
#pragma once
#include <cstddef>

#include "settings/channel_profile.h"

namespace kvx {

class ProfileArray {
public:
    using Reallocate = void* (*)(void*, size_t);

    ProfileArray() = default;
    ~ProfileArray();
    ProfileArray(const ProfileArray&) = delete;
    ProfileArray& operator=(const ProfileArray&) = delete;

    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    ChannelProfile& operator[](size_t i) { return records_[i]; }
    const ChannelProfile& operator[](size_t i) const { return records_[i]; }

    // Room for `count` records; false when the memory cannot be had.
    bool Reserve(size_t count);
    bool Append(const ChannelProfile& record);
    // Makes this an exact copy of `other`; false, and unchanged, when memory fails.
    bool CopyFrom(const ProfileArray& other);
    void Clear() { size_ = 0; }  // the allocation is kept

    // Replaces the allocator (tests inject failures with it).
    void SetReallocate(Reallocate reallocate) { reallocate_ = reallocate; }

private:
    ChannelProfile* records_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    Reallocate reallocate_ = nullptr;  // null: std::realloc
};

}  // namespace kvx
