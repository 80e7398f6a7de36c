#pragma once
// The processing-block interface: one operation, process(input, output),
// which consumes input values, writes output values and returns how many it
// wrote.  Every call site knows the concrete block, so this is a concept
// checked at compile time, not a base class with a table of functions.
//
// Fixed-size blocks (FFT, inverse FFT, symbol window, equaliser, soft
// demapper) write nothing and return 0 when either slice is shorter than
// their size; otherwise they read exactly their size from the front of the
// input and write exactly their size to the front of the output.
#include <concepts>
#include <cstddef>
#include <span>

namespace vatel::core {

template <class B>
concept Block = requires(B& block, std::span<const typename B::Input> in,
                         std::span<typename B::Output> out) {
  typename B::Input;
  typename B::Output;
  { block.process(in, out) } -> std::same_as<std::size_t>;
};

}  // namespace vatel::core
