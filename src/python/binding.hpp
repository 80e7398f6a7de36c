#pragma once
// The binding layer: a small declarative layer over CPython's limited API
// (3.12) and NumPy's C API.
//
// One declaration per callable is the single source of its name, parameter
// names, defaults, borrow kind and doc: the text signature.  For example
//
//   ClassDef::make<BpskMod>("BpskMod(fs, rf_hz, gain)", "BPSK modulator.")
//       .init<&construct<BpskMod, float, float, float>>()
//       .def<&BpskMod::process>("process($self, bits)")
//
// The C++ signature of the bound function decides the conversions: a
// non-const member function (or a free function whose first parameter is
// `C&`) borrows the receiver exclusively, a const one (or `const C&`) shares
// it.  Argument binding, its TypeError texts, the self borrow, conversions,
// results that take over native buffers and error translation all follow
// from those two things, and so do the type stubs: each parameter and
// result is annotated after its C++ type (Annotation<T>), and
// src/python/stubs.cpp with tools/write_stubs.py writes vatel_sdr.pyi from
// the declarations at build time.
//
// Native code never sees a PyObject*: it takes spans and values and returns
// buffers, values or core::Result.  Only this folder includes Python.h.
#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/buffer.hpp"
#include "core/panic.hpp"
#include "core/result.hpp"
#include "core/types.hpp"

namespace vatel::python {

// ---------------------------------------------------------------------------
// Errors

// Thrown when the Python error indicator is set and the call must unwind.
struct PyError {};

[[noreturn]] void raise(PyObject* type, const std::string& message);
[[noreturn]] inline void raise_type_error(const std::string& m) { raise(PyExc_TypeError, m); }
[[noreturn]] inline void raise_value_error(const std::string& m) { raise(PyExc_ValueError, m); }
[[noreturn]] inline void raise_overflow_error(const std::string& m) { raise(PyExc_OverflowError, m); }
[[noreturn]] inline void raise_runtime_error(const std::string& m) { raise(PyExc_RuntimeError, m); }
// Throws PyError when the interpreter has set an error.
inline void check_py_error() {
  if (PyErr_Occurred()) throw PyError{};
}
// The wrong-type refusal: "'{given}' object is not an instance of '{expected}'".
[[noreturn]] void raise_wrong_type(PyObject* given, const char* expected);

// The binding layer's PanicException (derived from BaseException), created
// on first use; not a module attribute.
PyObject* panic_exception_type();

// Translates the C++ exception in flight into the Python error indicator.
// Call only from a catch block.
void translate_exception() noexcept;

// Runs body(), returning its PyObject* or nullptr with the error set; no C++
// exception leaves it.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    translate_exception();
    return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Owned references

class Object {
 public:
  Object() = default;
  static Object steal(PyObject* o) {
    if (!o) throw PyError{};
    Object r;
    r.p_ = o;
    return r;
  }
  static Object borrow(PyObject* o) {
    Py_XINCREF(o);
    Object r;
    r.p_ = o;
    return r;
  }
  Object(const Object& o) : p_(o.p_) { Py_XINCREF(p_); }
  Object(Object&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Object& operator=(Object o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Object() { Py_XDECREF(p_); }
  PyObject* get() const noexcept { return p_; }
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  explicit operator bool() const noexcept { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

std::string type_qualname(PyObject* obj);
std::string str_of(PyObject* obj);

// ---------------------------------------------------------------------------
// NumPy

// Imports NumPy's C API on first use.
void ensure_numpy();
// Element types an array can carry across the boundary.
template <class T>
inline constexpr bool is_array_element =
    std::is_same_v<T, cf32> || std::is_same_v<T, float> || std::is_same_v<T, std::uint8_t> ||
    std::is_same_v<T, std::int32_t>;
template <class T>
int numpy_type_of();
template <>
int numpy_type_of<cf32>();
template <>
int numpy_type_of<float>();
template <>
int numpy_type_of<std::uint8_t>();
template <>
int numpy_type_of<std::int32_t>();

// Validates that obj is a 1-D ndarray of exactly T's dtype (byte order
// included), or raises the wrong-type TypeError naming ndarray.
void check_array(PyObject* obj, int numpy_type);
// The contiguous data of a checked array, or TypeError "The given array is
// not contiguous or is misaligned.".
std::pair<const void*, std::size_t> array_data(PyObject* obj);
// A new 1-D array that takes over `owner` (a heap object freed by `free`)
// whose data is `data`, n elements; no copy.
PyObject* array_taking(int numpy_type, void* data, std::size_t n, void* owner,
                       void (*free)(void*));

// ---------------------------------------------------------------------------
// Class instances and borrows

// The layout of every instance: header, native state, borrow flag
// (0 free, n > 0 shared borrows, -1 one exclusive borrow).
template <class T>
struct Instance {
  PyObject ob_base;
  alignas(T) unsigned char storage[sizeof(T)];
  std::atomic<std::int64_t> borrow{0};
  bool live = false;

  T& value() noexcept { return *std::launder(reinterpret_cast<T*>(storage)); }
};

// The Python type of a native class, set when its type object is created.
template <class T>
struct TypeOf {
  static inline PyTypeObject* type = nullptr;
  static inline const char* name = nullptr;
};

template <class T>
inline constexpr bool is_registered_v = false;
#define VATEL_PY_CLASS(T) \
  template <>             \
  inline constexpr bool is_registered_v<T> = true

class SharedBorrow {
 public:
  explicit SharedBorrow(std::atomic<std::int64_t>* flag) : flag_(flag) {
    std::int64_t cur = flag->load();
    do {
      if (cur == -1) raise_runtime_error("Already mutably borrowed");
    } while (!flag->compare_exchange_weak(cur, cur + 1));
  }
  SharedBorrow(SharedBorrow&& o) noexcept : flag_(std::exchange(o.flag_, nullptr)) {}
  SharedBorrow(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (flag_) flag_->fetch_sub(1);
  }

 private:
  std::atomic<std::int64_t>* flag_;
};

class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(std::atomic<std::int64_t>* flag) : flag_(flag) {
    std::int64_t expected = 0;
    if (!flag->compare_exchange_strong(expected, -1)) raise_runtime_error("Already borrowed");
  }
  ExclusiveBorrow(ExclusiveBorrow&& o) noexcept : flag_(std::exchange(o.flag_, nullptr)) {}
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (flag_) flag_->store(0);
  }

 private:
  std::atomic<std::int64_t>* flag_;
};

template <class T>
Instance<T>* instance_of(PyObject* obj) {
  if (!PyObject_TypeCheck(obj, TypeOf<T>::type)) raise_wrong_type(obj, TypeOf<T>::name);
  return reinterpret_cast<Instance<T>*>(obj);
}

// Moves a native value into a new Python object of its class.
template <class T>
PyObject* new_instance(T&& value) {
  PyTypeObject* type = TypeOf<std::decay_t<T>>::type;
  using U = std::decay_t<T>;
  VATEL_ENSURE(type != nullptr, "class used before its type object exists");
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* obj = alloc(type, 0);
  if (!obj) throw PyError{};
  auto* inst = reinterpret_cast<Instance<U>*>(obj);
  new (&inst->borrow) std::atomic<std::int64_t>(0);
  new (inst->storage) U(std::forward<T>(value));
  inst->live = true;
  return obj;
}

// ---------------------------------------------------------------------------
// Signatures and argument binding

struct Signature {
  std::string name;                  // callable name ("__new__" for constructors)
  std::string class_name;            // empty for module functions
  bool has_self = false;             // the text starts with "$self"
  std::vector<std::string> params;   // parameter names, in order
  std::vector<std::string> defaults; // default texts of the trailing optional ones
  std::vector<std::string> shown;    // the same as the text signature shows them
  std::size_t required = 0;
  std::string text_signature;        // "name(params)" as written
  std::string display;               // "Cls.name()" or "name()"

  // Parses "name($self, a, b=1.0)"; a default written "...32" is 32 but
  // appears as "..." in the text signature.  `callable` overrides the name (the
  // constructor of class C is "C(...)" but displays as "C.__new__()").
  static Signature parse(std::string_view text, std::string_view class_name,
                         std::string_view callable = {});
  const std::string* default_of(std::size_t i) const {
    return i < required ? nullptr : &defaults[i - required];
  }
};

// Fills slots[0..params) with borrowed references (nullptr when not given),
// from a vectorcall argument vector, or raises the TypeError of binding.
void bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** slots);
// The same from a positional tuple and keyword dict (constructors).
void bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);

// Re-raises a TypeError of argument conversion as "argument '{}': {}",
// keeping the original as the cause; other errors pass unchanged.
[[noreturn]] void rethrow_argument_error(const std::string& name);

// ---------------------------------------------------------------------------
// Argument conversions.  Each Arg<T> converts on construction (argument
// conversion, step 4) and yields the C++ value from get() (the body, where
// array data is taken).

double to_double(PyObject* o);
long long to_long_long(PyObject* o);  // via __index__
unsigned long long to_size(PyObject* o);
bool to_bool(PyObject* o);
std::string_view to_str(PyObject* o);
bool is_sequence(PyObject* o);

[[noreturn]] void raise_int_range();

template <class T, class = void>
struct Arg;

template <class T>
struct Arg<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  T v;
  explicit Arg(PyObject* o) : v(static_cast<T>(to_double(o))) {}
  explicit Arg(const std::string& def) : v(static_cast<T>(std::stod(def))) {}
  T get() const { return v; }
};

template <class T>
struct Arg<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  T v;
  explicit Arg(PyObject* o) {
    if constexpr (std::is_same_v<T, std::uint64_t>) {
      v = static_cast<T>(to_size(o));
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
      v = static_cast<T>(to_long_long(o));
    } else {
      const long long x = to_long_long(o);
      if (x < static_cast<long long>(std::numeric_limits<T>::min()) ||
          x > static_cast<long long>(std::numeric_limits<T>::max()))
        raise_int_range();
      v = static_cast<T>(x);
    }
  }
  explicit Arg(const std::string& def) {
    if constexpr (std::is_signed_v<T>)
      v = static_cast<T>(std::stoll(def));
    else
      v = static_cast<T>(std::stoull(def));
  }
  T get() const { return v; }
};

template <>
struct Arg<bool> {
  bool v;
  explicit Arg(PyObject* o) : v(to_bool(o)) {}
  explicit Arg(const std::string& def) : v(def == "True") {}
  bool get() const { return v; }
};

template <>
struct Arg<std::string_view> {
  std::string_view v;
  std::string owned;  // for defaults
  explicit Arg(PyObject* o) : v(to_str(o)) {}
  explicit Arg(const std::string& def) : owned(def.substr(1, def.size() - 2)) { v = owned; }
  std::string_view get() const { return v; }
};

template <>
struct Arg<std::string> {
  std::string v;
  explicit Arg(PyObject* o) : v(to_str(o)) {}
  explicit Arg(const std::string& def) : v(def.substr(1, def.size() - 2)) {}
  const std::string& get() const { return v; }
};

// A bytes argument (bytes and its subclasses, not bytearray).
struct BytesArg {
  std::span<const std::uint8_t> data;
};
template <>
struct Arg<BytesArg> {
  BytesArg v;
  explicit Arg(PyObject* o);
  BytesArg get() const { return v; }
};

// A read-only 1-D NumPy array of exactly T.
template <class T>
struct Arg<std::span<const T>, std::enable_if_t<is_array_element<T>>> {
  Object array;
  explicit Arg(PyObject* o) {
    check_array(o, numpy_type_of<T>());
    array = Object::borrow(o);
  }
  std::span<const T> get() const {
    auto [p, n] = array_data(array.get());
    return {static_cast<const T*>(p), n};
  }
};

// An object of a module class, borrowed shared for the call.
template <class C>
struct Arg<const C&, std::enable_if_t<is_registered_v<C>>> {
  Object obj;
  std::optional<SharedBorrow> borrow;
  explicit Arg(PyObject* o) {
    Instance<C>* inst = instance_of<C>(o);
    borrow.emplace(&inst->borrow);
    obj = Object::borrow(o);
  }
  const C& get() const { return reinterpret_cast<Instance<C>*>(obj.get())->value(); }
};

// A sequence of exactly N values.
template <class T, std::size_t N>
struct Arg<std::array<T, N>> {
  std::array<T, N> v{};
  explicit Arg(PyObject* o) {
    if (!is_sequence(o)) raise_wrong_type(o, "Sequence");
    const Py_ssize_t len = PySequence_Size(o);
    if (len < 0) throw PyError{};
    if (static_cast<std::size_t>(len) != N)
      raise_value_error("expected a sequence of length " + std::to_string(N) + " (got " +
                        std::to_string(len) + ")");
    for (std::size_t i = 0; i < N; ++i) {
      Object item = Object::steal(PySequence_GetItem(o, static_cast<Py_ssize_t>(i)));
      v[i] = Arg<T>(item.get()).get();
    }
  }
  const std::array<T, N>& get() const { return v; }
};

// A Python list or dict, read by the family binding that takes it.
struct ListArg {
  PyObject* list;
  std::size_t size() const { return static_cast<std::size_t>(PyList_Size(list)); }
  PyObject* operator[](std::size_t i) const { return PyList_GetItem(list, static_cast<Py_ssize_t>(i)); }
};
struct DictArg {
  PyObject* dict;
  // The value under key, or nullptr when absent (a borrowed reference).
  PyObject* find(const char* key) const;
};
template <>
struct Arg<ListArg> {
  Object obj;
  explicit Arg(PyObject* o) {
    if (!PyList_Check(o)) raise_wrong_type(o, "list");
    obj = Object::borrow(o);
  }
  ListArg get() const { return {obj.get()}; }
};
template <>
struct Arg<DictArg> {
  Object obj;
  explicit Arg(PyObject* o) {
    if (!PyDict_Check(o)) raise_wrong_type(o, "dict");
    obj = Object::borrow(o);
  }
  DictArg get() const { return {obj.get()}; }
};

// An optional parameter declared with the default None.
template <class T>
struct Arg<std::optional<T>> {
  std::optional<Arg<T>> inner;
  explicit Arg(PyObject* o) {
    if (o != Py_None) inner.emplace(o);
  }
  explicit Arg(const std::string& def) {
    if (def != "None") inner.emplace(def);
  }
  using Value = std::decay_t<decltype(std::declval<Arg<T>>().get())>;
  std::optional<Value> get() const {
    if (!inner) return std::nullopt;
    return inner->get();
  }
};

// Converts one item by the rule of type T (for family code reading lists
// and dicts); TypeErrors are left as they are.
template <class T>
auto convert(PyObject* o) {
  return Arg<T>(o).get();
}

// ---------------------------------------------------------------------------
// Results

// A byte string result (becomes bytes).
struct Bytes {
  std::vector<std::uint8_t> data;
};

// A result that is a dict (one that Dict built, or one given by the caller); it
// differs from a plain Object only in its annotation, dict[str, Any].
struct DictObject {
  Object dict;
  DictObject(Object d) : dict(std::move(d)) {}  // implicit: a Dict's take() is one
};

template <class T>
struct is_result : std::false_type {};
template <class T>
struct is_result<core::Result<T>> : std::true_type {};
template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
template <class T>
struct is_tuple : std::false_type {};
template <class... T>
struct is_tuple<std::tuple<T...>> : std::true_type {};
template <class A, class B>
struct is_tuple<std::pair<A, B>> : std::true_type {};
template <class T>
struct is_vector : std::false_type {};
template <class T, class A>
struct is_vector<std::vector<T, A>> : std::true_type {};
template <class T>
struct is_buffer : std::false_type {};
template <class T>
struct is_buffer<core::Buffer<T>> : std::true_type {};

template <class T>
constexpr bool is_array_vector() {
  if constexpr (is_vector<T>::value)
    return is_array_element<typename T::value_type>;
  else
    return false;
}

template <class R>
PyObject* to_python(R&& r);

template <class V>
PyObject* array_from(V&& v) {
  using T = typename std::decay_t<V>::value_type;
  auto* owner = new std::decay_t<V>(std::forward<V>(v));
  return array_taking(numpy_type_of<T>(), owner->data(), owner->size(), owner,
                      [](void* p) { delete static_cast<std::decay_t<V>*>(p); });
}

template <class R>
PyObject* to_python(R&& r) {
  using T = std::decay_t<R>;
  if constexpr (std::is_same_v<T, Object>) {
    return Object(std::forward<R>(r)).release();
  } else if constexpr (std::is_same_v<T, DictObject>) {
    return Object(std::forward<R>(r).dict).release();
  } else if constexpr (std::is_same_v<T, bool>) {
    return Py_NewRef(r ? Py_True : Py_False);
  } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
    return PyLong_FromLongLong(static_cast<long long>(r));
  } else if constexpr (std::is_integral_v<T>) {
    return PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(r));
  } else if constexpr (std::is_floating_point_v<T>) {
    return PyFloat_FromDouble(static_cast<double>(r));
  } else if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view>) {
    return PyUnicode_FromStringAndSize(r.data(), static_cast<Py_ssize_t>(r.size()));
  } else if constexpr (std::is_same_v<T, Bytes>) {
    return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(r.data.data()),
                                     static_cast<Py_ssize_t>(r.data.size()));
  } else if constexpr (is_buffer<T>::value) {
    return array_from(std::forward<R>(r));
  } else if constexpr (is_array_vector<T>()) {
    return array_from(std::forward<R>(r));
  } else if constexpr (is_vector<T>::value) {
    Object list = Object::steal(PyList_New(static_cast<Py_ssize_t>(r.size())));
    for (std::size_t i = 0; i < r.size(); ++i) {
      PyObject* item = to_python(std::move(r[i]));
      if (!item) throw PyError{};
      PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  } else if constexpr (is_result<T>::value) {
    if (!r.ok()) raise_value_error(r.error().message);
    if constexpr (std::is_same_v<T, core::Result<void>>)
      return Py_NewRef(Py_None);
    else
      return to_python(std::move(r).value());
  } else if constexpr (is_optional<T>::value) {
    if (!r) return Py_NewRef(Py_None);
    return to_python(std::move(*r));
  } else if constexpr (is_tuple<T>::value) {
    constexpr std::size_t n = std::tuple_size_v<T>;
    Object tuple = Object::steal(PyTuple_New(static_cast<Py_ssize_t>(n)));
    [&]<std::size_t... I>(std::index_sequence<I...>) {
      (
          [&] {
            PyObject* item = to_python(std::move(std::get<I>(r)));
            if (!item) throw PyError{};
            PyTuple_SetItem(tuple.get(), I, item);
          }(),
          ...);
    }(std::make_index_sequence<n>{});
    return tuple.release();
  } else if constexpr (is_registered_v<T>) {
    return new_instance(std::forward<R>(r));
  } else {
    static_assert(sizeof(T) == 0, "no Python conversion for this result type");
  }
}

// A dict built by family code, keys in insertion order.
class Dict {
 public:
  Dict() : d_(Object::steal(PyDict_New())) {}
  template <class V>
  Dict& set(const char* key, V&& value) {
    Object v = Object::steal(to_python(std::forward<V>(value)));
    if (PyDict_SetItemString(d_.get(), key, v.get()) < 0) throw PyError{};
    return *this;
  }
  Object take() { return std::move(d_); }

 private:
  Object d_;
};

// ---------------------------------------------------------------------------
// Type annotations
//
// The Python type of every parameter and result, as the module's type stubs
// write it, follows from the C++ type that a declaration binds, so the
// declaration stays the single source of its stub.  Annotation<T>::text()
// names T; a family that converts a type of its own (an Arg<T> of its own)
// adds its Annotation<T> beside it.  Class names are read when the text is
// asked for, after the module has created its types.

template <class T, class = void>
struct Annotation;  // undefined: a bound type without an annotation does not compile

template <class T>
std::string annotation_of() {
  return Annotation<std::remove_cvref_t<T>>::text();
}

template <class T>
struct Annotation<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static std::string text() { return "float"; }
};
template <class T>
struct Annotation<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static std::string text() { return "int"; }
};
template <>
struct Annotation<bool> {
  static std::string text() { return "bool"; }
};
template <>
struct Annotation<void> {
  static std::string text() { return "None"; }
};
template <>
struct Annotation<std::string_view> {
  static std::string text() { return "str"; }
};
template <>
struct Annotation<std::string> {
  static std::string text() { return "str"; }
};
template <>
struct Annotation<BytesArg> {
  static std::string text() { return "bytes"; }
};
template <>
struct Annotation<Bytes> {
  static std::string text() { return "bytes"; }
};
template <>
struct Annotation<Object> {
  static std::string text() { return "Any"; }
};
template <>
struct Annotation<DictObject> {
  static std::string text() { return "dict[str, Any]"; }
};
template <>
struct Annotation<DictArg> {
  static std::string text() { return "dict[str, Any]"; }
};
template <>
struct Annotation<ListArg> {
  static std::string text() { return "list[Any]"; }
};

// A one-dimensional array of the element type, as parameter or result.
template <class T>
std::string array_annotation() {
  if constexpr (std::is_same_v<T, cf32>)
    return "NDArray[np.complex64]";
  else if constexpr (std::is_same_v<T, float>)
    return "NDArray[np.float32]";
  else if constexpr (std::is_same_v<T, std::uint8_t>)
    return "NDArray[np.uint8]";
  else
    return "NDArray[np.int32]";
}
template <class T>
struct Annotation<std::span<const T>, std::enable_if_t<is_array_element<T>>> {
  static std::string text() { return array_annotation<T>(); }
};
template <class T>
struct Annotation<core::Buffer<T>> {
  static std::string text() { return array_annotation<T>(); }
};
template <class T, class A>
struct Annotation<std::vector<T, A>> {
  static std::string text() {
    if constexpr (is_array_element<T>)
      return array_annotation<T>();
    else
      return "list[" + annotation_of<T>() + "]";
  }
};
template <class T, std::size_t N>
struct Annotation<std::array<T, N>> {
  static std::string text() { return "Sequence[" + annotation_of<T>() + "]"; }
};
template <class T>
struct Annotation<std::optional<T>> {
  static std::string text() { return annotation_of<T>() + " | None"; }
};
template <class T>
struct Annotation<core::Result<T>> {
  static std::string text() { return annotation_of<T>(); }
};
template <class... T>
struct Annotation<std::tuple<T...>> {
  static std::string text() {
    if constexpr (sizeof...(T) == 0) {
      return "tuple[()]";
    } else {
      std::string s = "tuple[";
      ((s += annotation_of<T>() + ", "), ...);
      s.resize(s.size() - 2);
      return s + "]";
    }
  }
};
template <class A, class B>
struct Annotation<std::pair<A, B>> {
  static std::string text() { return "tuple[" + annotation_of<A>() + ", " + annotation_of<B>() + "]"; }
};
template <class C>
struct Annotation<C, std::enable_if_t<is_registered_v<C>>> {
  static std::string text() {
    VATEL_ENSURE(TypeOf<C>::name != nullptr, "class annotated before its type object exists");
    return TypeOf<C>::name;
  }
};

// ---------------------------------------------------------------------------
// Callables

enum class Borrow { none, shared, exclusive };

template <class F>
struct Traits;
template <class R, class... A>
struct Traits<R (*)(A...)> {
  using Ret = R;
  using Args = std::tuple<A...>;
  using Self = void;
};
template <class R, class C, class... A>
struct Traits<R (C::*)(A...)> {
  using Ret = R;
  using Args = std::tuple<A...>;
  using Self = C&;
};
template <class R, class C, class... A>
struct Traits<R (C::*)(A...) const> {
  using Ret = R;
  using Args = std::tuple<A...>;
  using Self = const C&;
};
template <class R, class... A>
struct Traits<R (*)(A...) noexcept> : Traits<R (*)(A...)> {};
template <class R, class C, class... A>
struct Traits<R (C::*)(A...) noexcept> : Traits<R (C::*)(A...)> {};
template <class R, class C, class... A>
struct Traits<R (C::*)(A...) const noexcept> : Traits<R (C::*)(A...) const> {};

// The holder of one C++ parameter type: objects of module classes are taken
// by reference (shared borrow), everything else by value.
template <class A>
using HolderOf = Arg<std::conditional_t<is_registered_v<std::remove_cvref_t<A>>,
                                        const std::remove_cvref_t<A>&, std::remove_cvref_t<A>>>;
template <class Tuple>
struct Holders;
template <class... A>
struct Holders<std::tuple<A...>> {
  using type = std::tuple<std::optional<HolderOf<A>>...>;
};

template <class Tuple>
struct DropFirst {
  using type = std::tuple<>;
};
template <class A, class... Rest>
struct DropFirst<std::tuple<A, Rest...>> {
  using type = std::tuple<Rest...>;
};
template <class Tuple>
struct FirstOf {
  using type = void;
};
template <class A, class... Rest>
struct FirstOf<std::tuple<A, Rest...>> {
  using type = A;
};

// Converts slots into holders in parameter order: the first failure ends the
// conversion (TypeErrors gain the parameter's name).  A slot left empty by
// binding is an optional parameter and takes its default.
template <class H>
void convert_all(const Signature& sig, PyObject** slots, H& holders) {
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (
        [&] {
          using Hold = typename std::tuple_element_t<I, H>::value_type;
          try {
            if (slots[I]) {
              std::get<I>(holders).emplace(slots[I]);
            } else if constexpr (std::is_constructible_v<Hold, const std::string&>) {
              const std::string* def = sig.default_of(I);
              VATEL_ENSURE(def != nullptr, "required parameter left unbound");
              std::get<I>(holders).emplace(*def);
            } else {
              core::panic("parameter " + sig.params[I] + " has no default");
            }
          } catch (const PyError&) {
            rethrow_argument_error(sig.params[I]);
          }
        }(),
        ...);
  }(std::make_index_sequence<std::tuple_size_v<H>>{});
}

// The C++ values of converted holders, read left to right (this is where
// array data is taken).
template <class H>
auto values_of(H& holders) {
  return std::apply(
      [](auto&... h) { return std::tuple<decltype(h->get())...>{h->get()...}; }, holders);
}

// The shape of F as a method: member function, or free function whose first
// parameter is the receiver.
template <auto F>
struct MethodShape {
  using T = Traits<decltype(F)>;
  static constexpr bool member = std::is_member_function_pointer_v<decltype(F)>;
  // A member's receiver is its class; a free function's is its first parameter.
  using SelfRef =
      std::conditional_t<member, typename T::Self, typename FirstOf<typename T::Args>::type>;
  using C = std::remove_cvref_t<SelfRef>;
  static constexpr bool exclusive = !std::is_const_v<std::remove_reference_t<SelfRef>>;
  using Params = std::conditional_t<member, typename T::Args, typename DropFirst<typename T::Args>::type>;
};

// Converts the arguments, calls `call` on their values and converts the result.
template <class Params, class Ret, class Call>
PyObject* convert_and_call(const Signature& sig, PyObject** slots, Call&& call) {
  typename Holders<Params>::type holders;
  convert_all(sig, slots, holders);
  auto values = values_of(holders);
  if constexpr (std::is_void_v<Ret>) {
    std::apply(call, values);
    return Py_NewRef(Py_None);
  } else {
    return to_python(std::apply(call, values));
  }
}

// Functions and static methods: no receiver.
template <auto F>
PyObject* invoke_function(const Signature& sig, PyObject** slots) {
  using T = Traits<decltype(F)>;
  return convert_and_call<typename T::Args, typename T::Ret>(
      sig, slots, [](auto&&... a) -> decltype(auto) { return F(std::forward<decltype(a)>(a)...); });
}

template <auto F, class Self>
PyObject* invoke_on(Self* self, const Signature& sig, PyObject** slots) {
  using M = MethodShape<F>;
  return convert_and_call<typename M::Params, typename M::T::Ret>(
      sig, slots, [self](auto&&... a) -> decltype(auto) {
        if constexpr (M::member)
          return (self->*F)(std::forward<decltype(a)>(a)...);
        else
          return F(*self, std::forward<decltype(a)>(a)...);
      });
}

// Methods and attribute reads: the receiver is borrowed after binding and
// before any argument is converted.
template <auto F>
PyObject* invoke_method(PyObject* self_obj, const Signature& sig, PyObject** slots) {
  using M = MethodShape<F>;
  using C = typename M::C;
  Instance<C>* inst = instance_of<C>(self_obj);
  if constexpr (M::exclusive) {
    ExclusiveBorrow b(&inst->borrow);
    return invoke_on<F>(&inst->value(), sig, slots);
  } else {
    SharedBorrow b(&inst->borrow);
    return invoke_on<F>(static_cast<const C*>(&inst->value()), sig, slots);
  }
}

template <auto F>
struct Entry {
  // Filled when the callable is declared; a function-local static, so it
  // exists whenever a declaration runs.
  static Signature& signature() {
    static Signature s;
    return s;
  }
  static constexpr std::size_t max_params = 32;

  static PyObject* fastcall_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) noexcept {
    return guarded([&] {
      PyObject* slots[max_params] = {};
      bind_fastcall(signature(), args, nargs, kwnames, slots);
      return invoke_method<F>(self, signature(), slots);
    });
  }
  static PyObject* noargs_method(PyObject* self, PyObject*) noexcept {
    return guarded([&] { return invoke_method<F>(self, signature(), nullptr); });
  }
  static PyObject* fastcall_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) noexcept {
    return guarded([&] {
      PyObject* slots[max_params] = {};
      bind_fastcall(signature(), args, nargs, kwnames, slots);
      return invoke_function<F>(signature(), slots);
    });
  }
  static PyObject* noargs_function(PyObject*, PyObject*) noexcept {
    return guarded([&] { return invoke_function<F>(signature(), nullptr); });
  }
  static PyObject* getter(PyObject* self, void*) noexcept {
    return guarded([&] { return invoke_method<F>(self, signature(), nullptr); });
  }
  static PyObject* repr(PyObject* self) noexcept {
    return guarded([&] { return invoke_method<F>(self, signature(), nullptr); });
  }
  // `==` and `!=` against another object of the class; NotImplemented
  // otherwise.
  static PyObject* richcompare(PyObject* a, PyObject* b, int op) noexcept {
    return guarded([&]() -> PyObject* {
      using C = typename MethodShape<F>::C;
      if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(b, TypeOf<C>::type))
        return Py_NewRef(Py_NotImplemented);
      auto* ia = instance_of<C>(a);
      auto* ib = reinterpret_cast<Instance<C>*>(b);
      SharedBorrow ba(&ia->borrow);
      SharedBorrow bb(&ib->borrow);
      const bool eq = F(ia->value(), ib->value());
      return Py_NewRef((eq == (op == Py_EQ)) ? Py_True : Py_False);
    });
  }
};

template <class C, auto F>
struct Constructor {
  static Signature& signature() {
    static Signature s;
    return s;
  }
  static PyObject* tp_new(PyTypeObject*, PyObject* args, PyObject* kwargs) noexcept {
    return guarded([&] {
      PyObject* slots[32] = {};
      bind_tuple(signature(), args, kwargs, slots);
      return invoke_function<F>(signature(), slots);
    });
  }
};

// Constructs C from its parameters (for classes whose native constructor is
// the Python constructor).
template <class C, class... A>
C construct(A... a) {
  return C(a...);
}

// ---------------------------------------------------------------------------
// Stub entries: what the module's type stubs say of one callable, taken from
// its declaration (the text signature) and the C++ signature it binds.

struct StubEntry {
  enum class Kind { constructor, method, static_method, property, repr, equality, function };
  Kind kind = Kind::function;
  Signature signature;                    // empty for equality
  std::vector<std::string (*)()> params;  // the annotation of each parameter
  std::string (*result)() = nullptr;      // the annotation of the result
  std::string doc;
};

template <class Tuple>
struct AnnotationsOf;
template <class... A>
struct AnnotationsOf<std::tuple<A...>> {
  static std::vector<std::string (*)()> get() { return {&annotation_of<A>...}; }
};

template <class Params, class Ret>
StubEntry stub_entry_of(StubEntry::Kind kind, const Signature& sig, std::string_view doc) {
  StubEntry e{kind, sig, AnnotationsOf<Params>::get(), &annotation_of<Ret>, std::string(doc)};
  VATEL_ENSURE(e.params.size() == sig.params.size(),
               "the text signature of " + sig.display + " does not name every parameter");
  return e;
}

// ---------------------------------------------------------------------------
// Class and function definitions

// The parts of a class definition that do not depend on its native type.
class ClassDefBase {
 public:
  const std::string& name() const { return name_; }
  // The class's type object, created on first use and kept for the process.
  PyTypeObject* type() const;
  // For the type stubs: the doc after the text signature, and the class's
  // constructor, methods and attributes in declaration order.
  const std::string& stub_doc() const { return stub_doc_; }
  const std::vector<StubEntry>& stub_entries() const { return stub_; }

 protected:
  std::string name_;
  std::string qualified_;  // "builtins.<Name>"
  std::string doc_;
  std::string stub_doc_;
  std::vector<StubEntry> stub_;
  std::size_t basicsize_ = 0;
  destructor dealloc_ = nullptr;
  newfunc new_ = nullptr;
  reprfunc repr_ = nullptr;
  richcmpfunc richcompare_ = nullptr;
  PyTypeObject** type_slot_ = nullptr;
  const char** name_slot_ = nullptr;
  // Stable storage for CPython's tables (vectors reserved at make time are
  // never reallocated after the type exists).
  std::vector<std::string> strings_;
  std::vector<PyMethodDef> methods_;
  std::vector<PyGetSetDef> getset_;
  const char* keep(std::string s);
  mutable PyTypeObject* type_ = nullptr;
};

template <class C>
class ClassDef : public ClassDefBase {
 public:
  // `doc_signature` is "Name(params)" for a class with a constructor, or the
  // bare name for one that Python cannot instantiate.
  static ClassDef make(std::string_view doc_signature, std::string_view doc = {}) {
    ClassDef d;
    const std::size_t paren = doc_signature.find('(');
    d.name_ = std::string(doc_signature.substr(0, paren));
    d.qualified_ = "builtins." + d.name_;
    d.class_signature_ = paren == std::string_view::npos ? std::string() : std::string(doc_signature);
    d.doc_ = d.class_signature_.empty() ? std::string(doc)
                                        : d.class_signature_ + "\n--\n\n" + std::string(doc);
    d.stub_doc_ = std::string(doc);
    d.basicsize_ = sizeof(Instance<C>);
    d.dealloc_ = &dealloc;
    d.type_slot_ = &TypeOf<C>::type;
    d.name_slot_ = &TypeOf<C>::name;
    d.strings_.reserve(256);
    d.methods_.reserve(64);
    d.getset_.reserve(64);
    return d;
  }

  // The constructor: F is a free function returning C or core::Result<C>;
  // its parameters are named by the class's signature.
  template <auto F>
  ClassDef&& init() && {
    Constructor<C, F>::signature() = Signature::parse(class_signature_, name_, "__new__");
    new_ = &Constructor<C, F>::tp_new;
    stub_.push_back(stub_entry_of<typename Traits<decltype(F)>::Args, C>(
        StubEntry::Kind::constructor, Constructor<C, F>::signature(), {}));
    return std::move(*this);
  }

  // A method; "name($self, ...)" gives its name and parameters.
  template <auto F>
  ClassDef&& def(std::string_view signature, std::string_view doc = {}) && {
    // A member inherited from a base class would be called on the wrong
    // native type; the class must name it itself.
    static_assert(std::is_same_v<typename MethodShape<F>::C, C>, "method bound to another class");
    Signature& sig = Entry<F>::signature();
    sig = Signature::parse(signature, name_);
    stub_.push_back(stub_entry_of<typename MethodShape<F>::Params, typename MethodShape<F>::T::Ret>(
        StubEntry::Kind::method, sig, doc));
    const char* doc_text = keep(sig.text_signature + "\n--\n\n" + std::string(doc));
    if (sig.params.empty())
      methods_.push_back({keep(sig.name), reinterpret_cast<PyCFunction>(&Entry<F>::noargs_method),
                          METH_NOARGS, doc_text});
    else
      methods_.push_back({keep(sig.name),
                          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<F>::fastcall_method)),
                          METH_FASTCALL | METH_KEYWORDS, doc_text});
    return std::move(*this);
  }

  // A static method: "name(params)" without $self.
  template <auto F>
  ClassDef&& def_static(std::string_view signature, std::string_view doc = {}) && {
    Signature& sig = Entry<F>::signature();
    sig = Signature::parse(signature, name_);
    using T = Traits<decltype(F)>;
    stub_.push_back(
        stub_entry_of<typename T::Args, typename T::Ret>(StubEntry::Kind::static_method, sig, doc));
    const char* doc_text = keep(sig.text_signature + "\n--\n\n" + std::string(doc));
    if (sig.params.empty())
      methods_.push_back({keep(sig.name), reinterpret_cast<PyCFunction>(&Entry<F>::noargs_function),
                          METH_NOARGS | METH_STATIC, doc_text});
    else
      methods_.push_back({keep(sig.name),
                          reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<F>::fastcall_function)),
                          METH_FASTCALL | METH_STATIC | METH_KEYWORDS, doc_text});
    return std::move(*this);
  }

  // A read-only attribute; F reads the receiver (shared borrow).
  template <auto F>
  ClassDef&& prop(std::string_view name, std::string_view doc = {}) && {
    Entry<F>::signature() = Signature::parse(std::string(name) + "($self)", name_);
    stub_.push_back(stub_entry_of<typename MethodShape<F>::Params, typename MethodShape<F>::T::Ret>(
        StubEntry::Kind::property, Entry<F>::signature(), doc));
    getset_.push_back({keep(std::string(name)), &Entry<F>::getter, nullptr,
                       doc.empty() ? nullptr : keep(std::string(doc)), nullptr});
    return std::move(*this);
  }

  template <auto F>
  ClassDef&& repr() && {
    Entry<F>::signature() = Signature::parse("__repr__($self)", name_);
    repr_ = &Entry<F>::repr;
    stub_.push_back(stub_entry_of<typename MethodShape<F>::Params, typename MethodShape<F>::T::Ret>(
        StubEntry::Kind::repr, Entry<F>::signature(), {}));
    return std::move(*this);
  }

  // Equality through F(const C&, const C&) -> bool.
  template <auto F>
  ClassDef&& eq() && {
    richcompare_ = &Entry<F>::richcompare;
    StubEntry e;
    e.kind = StubEntry::Kind::equality;
    stub_.push_back(std::move(e));
    return std::move(*this);
  }

 private:
  static void dealloc(PyObject* obj) {
    auto* inst = reinterpret_cast<Instance<C>*>(obj);
    if (inst->live) {
      inst->value().~C();
      inst->live = false;
    }
    PyTypeObject* tp = Py_TYPE(obj);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(obj);
    Py_DECREF(tp);
  }

  std::string class_signature_;
};

// A module function: "name(params)".
class FunctionDef {
 public:
  template <auto F>
  static FunctionDef make(std::string_view signature, std::string_view doc = {}) {
    FunctionDef d;
    Signature& sig = Entry<F>::signature();
    sig = Signature::parse(signature, {});
    d.name_ = sig.name;
    d.doc_ = sig.text_signature + "\n--\n\n" + std::string(doc);
    d.stub_ = stub_entry_of<typename Traits<decltype(F)>::Args, typename Traits<decltype(F)>::Ret>(
        StubEntry::Kind::function, sig, doc);
    if (sig.params.empty()) {
      d.def_ = {nullptr, reinterpret_cast<PyCFunction>(&Entry<F>::noargs_function),
                METH_NOARGS | METH_STATIC, nullptr};
    } else {
      d.def_ = {nullptr,
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Entry<F>::fastcall_function)),
                METH_FASTCALL | METH_STATIC | METH_KEYWORDS, nullptr};
    }
    return d;
  }
  const std::string& name() const { return name_; }
  const StubEntry& stub() const { return stub_; }
  // The PyMethodDef, stable once the definition is in static storage.
  PyMethodDef* def() const {
    def_.ml_name = name_.c_str();
    def_.ml_doc = doc_.c_str();
    return &def_;
  }

 private:
  std::string name_;
  std::string doc_;
  StubEntry stub_;
  mutable PyMethodDef def_{};
};

// Adds a class or function to a module: appends its name to __all__, then
// sets the attribute.  Returns false with the error set on failure.
bool add_class(PyObject* module, const ClassDefBase& def);
bool add_function(PyObject* module, const FunctionDef& def);

// Every definition added to a module so far, each once, in the order it was
// first added (the module's registration order); the stub writer reads them.
struct Registration {
  const ClassDefBase* cls = nullptr;
  const FunctionDef* function = nullptr;
};
const std::vector<Registration>& registrations();

}  // namespace vatel::python
