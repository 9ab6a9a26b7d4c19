// One timed call as a host makes it: the frame is first rewritten from a pristine copy
// (untimed: the decoder's work), then only the call is timed.
#pragma once
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kvx {
namespace bench {

// For benchmarks with UseManualTime().
template <typename Call>
void TimeAfterWriting(benchmark::State& st, std::vector<uint8_t>& frame,
                      const std::vector<uint8_t>& pristine, Call call) {
    std::memcpy(frame.data(), pristine.data(), frame.size());
    benchmark::ClobberMemory();
    const auto start = std::chrono::steady_clock::now();
    call();
    benchmark::ClobberMemory();
    st.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace bench
}  // namespace kvx
