// The build-only module _vatel_sdr_stubs, from which tools/write_stubs.py
// writes vatel_sdr.pyi.  It is linked from the same objects as vatel_sdr, so
// it holds every declaration of the module; its one function runs the
// module's exec step on a private module object (in this library's own copy
// of the binding layer) and describes what was registered, in registration
// order.  Nothing of it is installed or reachable from vatel_sdr.
#include "python/binding.hpp"

extern "C" PyObject* PyInit_vatel_sdr();

namespace vatel::python {
namespace {

const char* kind_name(StubEntry::Kind k) {
  switch (k) {
    case StubEntry::Kind::constructor: return "constructor";
    case StubEntry::Kind::method: return "method";
    case StubEntry::Kind::static_method: return "static_method";
    case StubEntry::Kind::property: return "property";
    case StubEntry::Kind::repr: return "repr";
    case StubEntry::Kind::equality: return "equality";
    case StubEntry::Kind::function: return "function";
  }
  core::panic("unknown stub entry kind");
}

using Param = std::tuple<std::string, std::string, std::optional<std::string>>;

Object describe_entry(const StubEntry& e) {
  const Signature& sig = e.signature;
  std::vector<Param> params;
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    std::optional<std::string> shown;
    if (i >= sig.required) shown = sig.shown[i - sig.required];
    params.emplace_back(sig.params[i], e.params[i](), shown);
  }
  Dict d;
  d.set("kind", std::string(kind_name(e.kind)))
      .set("name", sig.name)
      .set("params", std::move(params))
      .set("returns", e.result ? std::optional<std::string>(e.result()) : std::nullopt)
      .set("doc", e.doc);
  return d.take();
}

// Runs vatel_sdr's exec step once, so that every definition is registered
// and every type object (whose names the annotations read) exists.
void initialise_module() {
  static bool done = false;
  if (done) return;
  auto* def = reinterpret_cast<PyModuleDef*>(PyInit_vatel_sdr());
  Object machinery = Object::steal(PyImport_ImportModule("importlib.machinery"));
  Object spec = Object::steal(
      PyObject_CallMethod(machinery.get(), "ModuleSpec", "sO", "vatel_sdr", Py_None));
  Object module = Object::steal(PyModule_FromDefAndSpec(def, spec.get()));
  if (PyModule_ExecDef(module.get(), def) < 0) throw PyError{};
  done = true;
}

PyObject* description(PyObject*, PyObject*) noexcept {
  return guarded([] {
    initialise_module();
    std::vector<Object> items;
    for (const Registration& r : registrations()) {
      if (r.function) {
        Object f = describe_entry(r.function->stub());
        items.push_back(std::move(f));
        continue;
      }
      std::vector<Object> members;
      for (const StubEntry& e : r.cls->stub_entries()) members.push_back(describe_entry(e));
      Dict d;
      d.set("kind", std::string("class"))
          .set("name", r.cls->name())
          .set("doc", r.cls->stub_doc())
          .set("members", std::move(members));
      items.push_back(d.take());
    }
    return to_python(std::move(items));
  });
}

PyMethodDef methods[] = {
    {"description", &description, METH_NOARGS,
     "description()\n--\n\nThe registered classes and functions of vatel_sdr, in order."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_vatel_sdr_stubs", "", 0, methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace vatel::python

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vatel_sdr_stubs() {
  return PyModule_Create(&vatel::python::module_def);
}
