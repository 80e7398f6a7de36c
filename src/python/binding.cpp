#include "python/binding.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL vatel_sdr_ARRAY_API
#include <numpy/arrayobject.h>

#include <cstdio>
#include <new>
#include <stdexcept>

#include "core/checked.hpp"

namespace vatel::python {

// ---------------------------------------------------------------------------
// Errors

void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw PyError{};
}

std::string str_of(PyObject* obj) {
  Object s = Object::steal(PyObject_Str(obj));
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(s.get(), &n);
  if (!p) throw PyError{};
  return std::string(p, static_cast<std::size_t>(n));
}

std::string type_qualname(PyObject* obj) {
  Object name = Object::steal(PyType_GetQualName(Py_TYPE(obj)));
  return str_of(name.get());
}

void raise_wrong_type(PyObject* given, const char* expected) {
  if (given == Py_None)
    raise_type_error(std::string("'None' is not an instance of '") + expected + "'");
  raise_type_error("'" + type_qualname(given) + "' object is not an instance of '" + expected + "'");
}

void raise_int_range() { raise_overflow_error("out of range integral type conversion attempted"); }

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (!type) {
    type = PyErr_NewExceptionWithDoc(
        "vatel_sdr.PanicException",
        "A violated internal invariant of vatel_sdr. Derives from BaseException, so\n"
        "`except Exception` does not catch it.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

namespace {

void report_panic(const char* file, unsigned line, unsigned column, const char* function,
                  const std::string& message) {
  std::fprintf(stderr, "vatel_sdr: invariant violated at %s:%u:%u (%s):\n  %s\n", file, line,
               column, function, message.c_str());
  std::fflush(stderr);
}

void set_panic(const std::string& message) {
  PyObject* type = panic_exception_type();
  if (!type) return;  // the interpreter's error (memory) stays set
  PyErr_SetString(type, message.c_str());
}

}  // namespace

void translate_exception() noexcept {
  try {
    throw;
  } catch (const PyError&) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
  } catch (const core::Panic& p) {
    report_panic(p.where().file_name(), p.where().line(), p.where().column(),
                 p.where().function_name(), p.message());
    set_panic(p.message());
  } catch (const core::SizeTooLarge& e) {
    PyErr_SetString(PyExc_MemoryError, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    // A standard container refusing a length beyond its max_size(): the
    // same request as one the allocator refuses a little below that limit.
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    report_panic("<native code>", 0, 0, "<unknown>", e.what());
    set_panic(e.what());
  } catch (...) {
    report_panic("<native code>", 0, 0, "<unknown>", "unknown C++ exception");
    set_panic("unknown C++ exception");
  }
}

// ---------------------------------------------------------------------------
// Signatures and binding

namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\n')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\n')) s.remove_suffix(1);
  return s;
}

std::string quoted_list(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() == 2)
        out += " and ";
      else if (i + 1 == names.size())
        out += ", and ";
      else
        out += ", ";
    }
    out += "'" + names[i] + "'";
  }
  return out;
}

[[noreturn]] void too_many_positional(const Signature& sig, std::size_t given) {
  const std::size_t n = sig.params.size();
  std::string msg = sig.display + " takes ";
  if (sig.required == n)
    msg += std::to_string(n);
  else
    msg += "from " + std::to_string(sig.required) + " to " + std::to_string(n);
  msg += " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") +
         " given";
  raise_type_error(msg);
}

void bind_keyword(const Signature& sig, PyObject* key, PyObject* value, std::size_t nargs,
                  PyObject** slots) {
  for (std::size_t j = 0; j < sig.params.size(); ++j) {
    if (PyUnicode_CompareWithASCIIString(key, sig.params[j].c_str()) == 0) {
      if (j < nargs || slots[j])
        raise_type_error(sig.display + " got multiple values for argument '" + sig.params[j] + "'");
      slots[j] = value;
      return;
    }
  }
  if (PyErr_Occurred()) throw PyError{};
  raise_type_error(sig.display + " got an unexpected keyword argument '" + str_of(key) + "'");
}

void check_missing(const Signature& sig, PyObject** slots) {
  std::vector<std::string> missing;
  for (std::size_t i = 0; i < sig.required; ++i)
    if (!slots[i]) missing.push_back(sig.params[i]);
  if (missing.empty()) return;
  raise_type_error(sig.display + " missing " + std::to_string(missing.size()) +
                   " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                   ": " + quoted_list(missing));
}

}  // namespace

Signature Signature::parse(std::string_view text, std::string_view class_name,
                           std::string_view callable) {
  Signature s;
  s.text_signature = std::string(text);
  s.class_name = std::string(class_name);
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  VATEL_ENSURE(open != std::string_view::npos && close != std::string_view::npos && close > open,
               "malformed text signature: " + std::string(text));
  s.name = callable.empty() ? std::string(text.substr(0, open)) : std::string(callable);
  std::string_view inner = text.substr(open + 1, close - open - 1);
  bool first = true;
  std::vector<std::string> hidden;  // defaults shown as "..."
  while (!trim(inner).empty()) {
    const std::size_t comma = inner.find(',');
    std::string_view item = trim(inner.substr(0, comma));
    inner = comma == std::string_view::npos ? std::string_view{} : inner.substr(comma + 1);
    if (first && item == "$self") {
      s.has_self = true;
      first = false;
      continue;
    }
    first = false;
    const std::size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      VATEL_ENSURE(s.defaults.empty(), "required parameter after an optional one");
      s.params.emplace_back(trim(item));
      ++s.required;
    } else {
      s.params.emplace_back(trim(item.substr(0, eq)));
      std::string_view value = trim(item.substr(eq + 1));
      // "=...32": the default is 32 but the text signature shows "...".
      if (value.size() > 3 && value.substr(0, 3) == "...") {
        value.remove_prefix(3);
        hidden.emplace_back(value);
        s.shown.emplace_back("...");
      } else {
        s.shown.emplace_back(value);
      }
      s.defaults.emplace_back(value);
    }
  }
  for (const std::string& h : hidden) {
    const std::size_t at = s.text_signature.find("=..." + h);
    s.text_signature.erase(at + 4, h.size());
  }
  VATEL_ENSURE(s.params.size() <= 32, "too many parameters");
  s.display = s.class_name.empty() ? s.name + "()" : s.class_name + "." + s.name + "()";
  return s;
}

void bind_fastcall(const Signature& sig, PyObject* const* args, Py_ssize_t nargs_signed,
                   PyObject* kwnames, PyObject** slots) {
  const std::size_t nargs = static_cast<std::size_t>(nargs_signed);
  if (nargs > sig.params.size()) too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames) {
    const Py_ssize_t nk = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nk; ++k)
      bind_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs_signed + k], nargs, slots);
  }
  check_missing(sig, slots);
}

void bind_tuple(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
  const Py_ssize_t n = args ? PyTuple_Size(args) : 0;
  if (n < 0) throw PyError{};
  const std::size_t nargs = static_cast<std::size_t>(n);
  if (nargs > sig.params.size()) too_many_positional(sig, nargs);
  for (std::size_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, static_cast<Py_ssize_t>(i));
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(sig, key, value, nargs, slots);
  }
  check_missing(sig, slots);
}

void rethrow_argument_error(const std::string& name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PyError{};
  PyObject* cause = PyErr_GetRaisedException();
  std::string msg;
  try {
    msg = "argument '" + name + "': " + str_of(cause);
  } catch (const PyError&) {
    Py_DECREF(cause);
    throw;
  }
  PyObject* err = PyObject_CallFunction(PyExc_TypeError, "s", msg.c_str());
  if (!err) {
    Py_DECREF(cause);
    throw PyError{};
  }
  PyException_SetCause(err, cause);  // steals cause
  PyErr_SetRaisedException(err);     // steals err
  throw PyError{};
}

// ---------------------------------------------------------------------------
// Conversions

double to_double(PyObject* o) {
  const double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) throw PyError{};
  return v;
}

long long to_long_long(PyObject* o) {
  const long long v = PyLong_AsLongLong(o);
  if (v == -1 && PyErr_Occurred()) throw PyError{};
  return v;
}

unsigned long long to_size(PyObject* o) {
  Object index = Object::steal(PyNumber_Index(o));
  const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyError{};
  return v;
}

namespace {

bool is_numpy_bool(PyObject* o) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(o));
  Object module = Object::steal(PyObject_GetAttrString(type, "__module__"));
  if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0)
    return false;
  Object name = Object::steal(PyObject_GetAttrString(type, "__name__"));
  return PyUnicode_Check(name.get()) &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

}  // namespace

bool to_bool(PyObject* o) {
  if (o == Py_True) return true;
  if (o == Py_False) return false;
  if (is_numpy_bool(o)) {
    const int t = PyObject_IsTrue(o);
    if (t < 0) throw PyError{};
    return t != 0;
  }
  raise_wrong_type(o, "bool");
}

std::string_view to_str(PyObject* o) {
  if (!PyUnicode_Check(o)) raise_wrong_type(o, "str");
  Py_ssize_t n = 0;
  const char* p = PyUnicode_AsUTF8AndSize(o, &n);
  if (!p) throw PyError{};
  return {p, static_cast<std::size_t>(n)};
}

bool is_sequence(PyObject* o) {
  if (PySequence_Check(o)) return true;
  static PyObject* abc_sequence = nullptr;
  if (!abc_sequence) {
    Object abc = Object::steal(PyImport_ImportModule("collections.abc"));
    abc_sequence = PyObject_GetAttrString(abc.get(), "Sequence");
    if (!abc_sequence) throw PyError{};
  }
  const int r = PyObject_IsInstance(o, abc_sequence);
  if (r < 0) throw PyError{};
  return r == 1;
}

Arg<BytesArg>::Arg(PyObject* o) {
  if (!PyBytes_Check(o)) raise_wrong_type(o, "bytes");
  char* p = nullptr;
  Py_ssize_t n = 0;
  if (PyBytes_AsStringAndSize(o, &p, &n) < 0) throw PyError{};
  v.data = {reinterpret_cast<const std::uint8_t*>(p), static_cast<std::size_t>(n)};
}

PyObject* DictArg::find(const char* key) const {
  // Unlike PyDict_GetItemString, a failing lookup (a key whose comparison
  // raises) is reported, not taken for an absent key.
  Object k = Object::steal(PyUnicode_FromString(key));
  PyObject* v = PyDict_GetItemWithError(dict, k.get());
  if (!v && PyErr_Occurred()) throw PyError{};
  return v;
}

// ---------------------------------------------------------------------------
// NumPy

void ensure_numpy() {
  if (PyArray_API) return;
  if (_import_array() < 0) throw PyError{};
}

template <>
int numpy_type_of<cf32>() {
  return NPY_COMPLEX64;
}
template <>
int numpy_type_of<float>() {
  return NPY_FLOAT32;
}
template <>
int numpy_type_of<std::uint8_t>() {
  return NPY_UINT8;
}
template <>
int numpy_type_of<std::int32_t>() {
  return NPY_INT32;
}

void check_array(PyObject* obj, int numpy_type) {
  ensure_numpy();
  if (!PyArray_Check(obj)) raise_wrong_type(obj, "ndarray");
  auto* a = reinterpret_cast<PyArrayObject*>(obj);
  if (PyArray_NDIM(a) != 1) raise_wrong_type(obj, "ndarray");
  PyArray_Descr* want = PyArray_DescrFromType(numpy_type);
  const bool same = PyArray_EquivTypes(PyArray_DESCR(a), want);
  Py_DECREF(want);
  if (!same) raise_wrong_type(obj, "ndarray");
}

std::pair<const void*, std::size_t> array_data(PyObject* obj) {
  auto* a = reinterpret_cast<PyArrayObject*>(obj);
  const auto n = static_cast<std::size_t>(PyArray_SIZE(a));
  if (n == 0) return {nullptr, 0};
  const bool contiguous = PyArray_IS_C_CONTIGUOUS(a) || PyArray_IS_F_CONTIGUOUS(a);
  if (!contiguous || !PyArray_ISALIGNED(a) || PyArray_DATA(a) == nullptr)
    raise_type_error("The given array is not contiguous or is misaligned.");
  return {PyArray_DATA(a), n};
}

namespace {

struct Owner {
  void* owner;
  void (*free)(void*);
};

void free_owner_capsule(PyObject* capsule) {
  auto* o = static_cast<Owner*>(PyCapsule_GetPointer(capsule, "vatel_sdr.buffer"));
  if (o) {
    o->free(o->owner);
    delete o;
  } else {
    PyErr_Clear();
  }
}

}  // namespace

PyObject* array_taking(int numpy_type, void* data, std::size_t n, void* owner, void (*free)(void*)) {
  try {
    ensure_numpy();
  } catch (...) {
    free(owner);
    throw;
  }
  npy_intp dims[1] = {static_cast<npy_intp>(n)};
  if (n == 0) {
    free(owner);
    return PyArray_SimpleNew(1, dims, numpy_type);
  }
  auto* keeper = new Owner{owner, free};
  PyObject* capsule = PyCapsule_New(keeper, "vatel_sdr.buffer", &free_owner_capsule);
  if (!capsule) {
    free(owner);
    delete keeper;
    throw PyError{};
  }
  PyObject* arr = PyArray_New(&PyArray_Type, 1, dims, numpy_type, nullptr, data, 0,
                              NPY_ARRAY_CARRAY, nullptr);
  if (!arr) {
    Py_DECREF(capsule);
    throw PyError{};
  }
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), capsule) < 0) {  // steals capsule
    Py_DECREF(arr);
    throw PyError{};
  }
  return arr;
}

// ---------------------------------------------------------------------------
// Types and registration

const char* ClassDefBase::keep(std::string s) {
  VATEL_ENSURE(strings_.size() < strings_.capacity(), "class definition holds too many names");
  strings_.push_back(std::move(s));
  return strings_.back().c_str();
}

PyTypeObject* ClassDefBase::type() const {
  if (type_) return type_;
  if (*type_slot_) return type_ = *type_slot_;
  auto* self = const_cast<ClassDefBase*>(this);
  self->methods_.push_back({nullptr, nullptr, 0, nullptr});
  self->getset_.push_back({nullptr, nullptr, nullptr, nullptr, nullptr});
  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_doc, const_cast<char*>(doc_.c_str())});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(dealloc_)});
  if (new_) slots.push_back({Py_tp_new, reinterpret_cast<void*>(new_)});
  if (repr_) slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr_)});
  if (richcompare_) slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(richcompare_)});
  slots.push_back({Py_tp_methods, self->methods_.data()});
  slots.push_back({Py_tp_getset, self->getset_.data()});
  slots.push_back({0, nullptr});
  unsigned flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
  if (!new_) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  PyType_Spec spec{qualified_.c_str(), static_cast<int>(basicsize_), 0, flags, slots.data()};
  PyObject* t = PyType_FromSpec(&spec);
  if (!t) return nullptr;
  type_ = reinterpret_cast<PyTypeObject*>(t);
  *type_slot_ = type_;
  *name_slot_ = name_.c_str();
  return type_;
}

namespace {

bool add_name(PyObject* module, const std::string& name, PyObject* value) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = PyList_New(0);
    if (!all) return false;
    if (PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_DECREF(all);
      return false;
    }
  }
  PyObject* n = PyUnicode_FromString(name.c_str());
  const bool appended = n && PyList_Append(all, n) == 0;
  Py_XDECREF(n);
  Py_DECREF(all);
  if (!appended) return false;
  return PyModule_AddObjectRef(module, name.c_str(), value) == 0;
}

std::vector<Registration>& registration_list() {
  static std::vector<Registration> list;
  return list;
}

void note_registration(Registration r) {
  auto& list = registration_list();
  for (const Registration& seen : list)
    if (seen.cls == r.cls && seen.function == r.function) return;
  list.push_back(r);
}

}  // namespace

const std::vector<Registration>& registrations() { return registration_list(); }

bool add_class(PyObject* module, const ClassDefBase& def) {
  PyTypeObject* t = def.type();
  if (!t) return false;
  if (!add_name(module, def.name(), reinterpret_cast<PyObject*>(t))) return false;
  note_registration({&def, nullptr});
  return true;
}

bool add_function(PyObject* module, const FunctionDef& def) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (!module_name) return false;
  PyObject* f = PyCFunction_NewEx(def.def(), module, module_name);
  Py_DECREF(module_name);
  if (!f) return false;
  const bool ok = add_name(module, def.name(), f);
  Py_DECREF(f);
  if (ok) note_registration({nullptr, &def});
  return ok;
}

}  // namespace vatel::python
