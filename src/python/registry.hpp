#pragma once
// The definitions of every class and function of the module, by family.
// The order in which the module adds them is kept in module.cpp alone.
#include "python/binding.hpp"

namespace vatel::python {

namespace demodulate {
const ClassDefBase& bpsk_demod();
const ClassDefBase& qpsk_demod();
}  // namespace demodulate

namespace modulate {
const ClassDefBase& bpsk_mod();
const ClassDefBase& qpsk_mod();
}  // namespace modulate

}  // namespace vatel::python
