// A test-only extension module that exercises every conversion and calling
// convention of the binding layer, including those that no class of the
// library uses yet.  Built with the tests, never installed.
#include <map>
#include <new>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "python/binding.hpp"

namespace probe {

using namespace vatel;
using namespace vatel::python;

struct Counter {
  std::int64_t count = 0;
  std::string label;
  // Members with no parameters and noexcept members bind like any other.
  std::int64_t doubled() const noexcept { return 2 * count; }
  void reset() noexcept { count = 0; }
};

struct Pair {
  std::uint8_t a = 0;
  std::int32_t b = 0;
};

}  // namespace probe

namespace vatel::python {
VATEL_PY_CLASS(probe::Counter);
VATEL_PY_CLASS(probe::Pair);
}  // namespace vatel::python

namespace probe {

core::Result<Counter> make_counter(std::int64_t start, std::string label) {
  if (label == "bad") return core::error("Counter: label must not be \"bad\"");
  return Counter{start, label};
}
void add(Counter& c, std::int64_t n) { c.count += n; }
std::int64_t count(const Counter& c) { return c.count; }
std::string label(const Counter& c) { return c.label; }
std::string repr(const Counter& c) { return "Counter(" + std::to_string(c.count) + ")"; }
bool equal(const Counter& a, const Counter& b) { return a.count == b.count && a.label == b.label; }
// Reads another counter (shared borrow of the argument).
std::int64_t add_from(Counter& self, const Counter& other) { return self.count += other.count; }
std::int64_t peek(const Counter& self, const Counter& other) { return self.count + other.count; }
Counter clone(const Counter& c) { return c; }
void boom(Counter&) { core::panic("counter exploded"); }

Pair make_pair(std::uint8_t a, std::int32_t b) { return Pair{a, b}; }
std::uint8_t pair_a(const Pair& p) { return p.a; }

std::tuple<std::uint8_t, std::uint16_t, std::uint32_t, std::int32_t, std::uint64_t, std::int64_t> ints(
    std::uint8_t u8, std::uint16_t u16, std::uint32_t u32, std::int32_t i32, std::uint64_t size,
    std::int64_t i64) {
  return {u8, u16, u32, i32, size, i64};
}
double f32(float x) { return x; }
bool flag(bool b) { return !b; }
std::string echo(std::string_view s) { return std::string(s) + "!"; }
Bytes reverse(BytesArg b) { return Bytes{std::vector<std::uint8_t>(b.data.rbegin(), b.data.rend())}; }
float sum3(std::array<float, 3> v) { return v[0] + v[1] + v[2]; }
std::size_t list_len(ListArg l) { return l.size(); }
Object dict_get(DictArg d, std::string_view key) {
  PyObject* v = d.find(std::string(key).c_str());
  return Object::borrow(v ? v : Py_None);
}
std::string optional_gain(std::optional<float> gain, std::string_view mode) {
  return (gain ? std::to_string(*gain) : std::string("none")) + ":" + std::string(mode);
}
std::string defaults(std::uint32_t n, float stopband_db, bool flag, std::string_view mode) {
  std::ostringstream o;
  o << n << "," << stopband_db << "," << flag << "," << mode;
  return o.str();
}
std::vector<float> floats(std::span<const float> x) { return {x.begin(), x.end()}; }
std::vector<std::int32_t> ints_array(std::span<const std::int32_t> x) { return {x.begin(), x.end()}; }
std::vector<std::uint8_t> two_arrays(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  std::vector<std::uint8_t> r(a.begin(), a.end());
  r.insert(r.end(), b.begin(), b.end());
  return r;
}
Object table() {
  Dict d;
  d.set("start_sample", std::uint64_t{12}).set("score", 0.5f).set("name", std::string("x"));
  return d.take();
}
std::vector<Pair> pairs(std::uint32_t n) {
  std::vector<Pair> r;
  for (std::uint32_t i = 0; i < n; ++i) r.push_back({static_cast<std::uint8_t>(i), static_cast<std::int32_t>(i)});
  return r;
}
std::optional<std::int32_t> maybe(bool give) { return give ? std::optional<std::int32_t>(7) : std::nullopt; }
core::Result<void> fail_with(std::string_view text) { return core::error(std::string(text)); }
void panic_now(std::string_view text) { core::panic(std::string(text)); }
void throw_std() { throw std::runtime_error("plain C++ exception"); }
// The three ways a size too large to allocate shows in native code.
std::uint64_t too_large(std::string_view how) {
  if (how == "bad_alloc") throw std::bad_alloc();
  if (how == "length_error") {
    std::vector<std::uint8_t> v;
    v.insert(v.end(), std::size_t{1} << 63, 0);  // beyond max_size(): std::length_error
  }
  return core::checked_mul(std::uint64_t{1} << 40, std::uint64_t{1} << 40, "probe size");
}
std::uint32_t no_args() { return 42; }

const ClassDefBase& counter_class() {
  static const ClassDef<Counter> def =
      ClassDef<Counter>::make("Counter(start, label='')", "A counter.")
          .init<&make_counter>()
          .def<&add>("add($self, n)")
          .def<&add_from>("add_from($self, other)")
          .def<&peek>("peek($self, other)")
          .def<&clone>("clone($self)")
          .def<&boom>("boom($self)")
          .def<&Counter::doubled>("doubled($self)")
          .def<&Counter::reset>("reset($self)")
          .prop<&count>("count", "The count.")
          .prop<&label>("label")
          .repr<&repr>()
          .eq<&equal>();
  return def;
}

const ClassDefBase& pair_class() {
  static const ClassDef<Pair> def = ClassDef<Pair>::make("Pair", "Made only by the module.")
                                         .def_static<&make_pair>("make(a, b)")
                                         .def_static<&no_args>("answer()")
                                         .prop<&pair_a>("a");
  return def;
}

const std::vector<FunctionDef>& functions() {
  static const std::vector<FunctionDef> defs = {
    FunctionDef::make<&ints>("ints(u8, u16, u32, i32, size, i64)"),
    FunctionDef::make<&f32>("f32(x)"),
    FunctionDef::make<&flag>("flag(b)"),
    FunctionDef::make<&echo>("echo(s)"),
    FunctionDef::make<&reverse>("reverse(data)"),
    FunctionDef::make<&sum3>("sum3(values)"),
    FunctionDef::make<&list_len>("list_len(items)"),
    FunctionDef::make<&dict_get>("dict_get(table, key)"),
    FunctionDef::make<&optional_gain>("optional_gain(gain=None, mode='bpsk')"),
    FunctionDef::make<&defaults>("defaults(n, stopband_db=60.0, flag=True, mode='x')"),
    FunctionDef::make<&floats>("floats(x)"),
    FunctionDef::make<&ints_array>("ints_array(x)"),
    FunctionDef::make<&two_arrays>("two_arrays(a, b)"),
    FunctionDef::make<&table>("table()"),
    FunctionDef::make<&pairs>("pairs(n)"),
    FunctionDef::make<&maybe>("maybe(give)"),
    FunctionDef::make<&fail_with>("fail_with(text)"),
    FunctionDef::make<&panic_now>("panic_now(text)"),
    FunctionDef::make<&throw_std>("throw_std()"),
    FunctionDef::make<&too_large>("too_large(how)"),
    FunctionDef::make<&no_args>("no_args()"),
  };
  return defs;
}

int exec(PyObject* m) noexcept {
  if (!add_class(m, counter_class()) || !add_class(m, pair_class())) return -1;
  for (const auto& f : functions())
    if (!add_function(m, f)) return -1;
  return 0;
}

PyModuleDef_Slot slots[] = {{Py_mod_exec, reinterpret_cast<void*>(&exec)}, {0, nullptr}};
PyModuleDef def = {PyModuleDef_HEAD_INIT, "_vatel_probe", "", 0, nullptr, slots, nullptr, nullptr, nullptr};

}  // namespace probe

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vatel_probe() {
  return PyModuleDef_Init(&probe::def);
}
