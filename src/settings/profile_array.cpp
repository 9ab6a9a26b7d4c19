#include "settings/profile_array.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kvx {

ProfileArray::~ProfileArray() { std::free(records_); }

bool ProfileArray::Reserve(size_t count) {
    if (count <= capacity_) return true;
    size_t step = std::min<size_t>(std::max<size_t>(size_ / 8, 4), 1024);
    size_t capacity = std::max(count, capacity_ + step);
    if (capacity > SIZE_MAX / sizeof(ChannelProfile)) return false;
    Reallocate grow = reallocate_ ? reallocate_ : std::realloc;
    void* grown = grow(records_, capacity * sizeof(ChannelProfile));
    if (!grown) return false;
    records_ = static_cast<ChannelProfile*>(grown);
    capacity_ = capacity;
    return true;
}

bool ProfileArray::Append(const ChannelProfile& record) {
    if (!Reserve(size_ + 1)) return false;
    records_[size_++] = record;
    return true;
}

bool ProfileArray::CopyFrom(const ProfileArray& other) {
    if (&other == this) return true;
    if (!Reserve(other.size_)) return false;
    if (other.size_) std::memcpy(records_, other.records_, other.size_ * sizeof(ChannelProfile));
    size_ = other.size_;
    return true;
}

}  // namespace kvx
