#include "bindings/common/pyutil.hpp"

#include <nanobind/stl/string.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/config/settings.hpp"

namespace tarvo::py {

std::optional<std::string> PyEnvironment::get(const std::string& name) const {
  nb::object environ = nb::module_::import_("os").attr("environ");
  nb::object value = environ.attr("get")(name);
  if (value.is_none()) return std::nullopt;
  return utf8_of(value);
}

void PyEnvironment::set(const std::string& name, const std::string& value) {
  nb::object environ = nb::module_::import_("os").attr("environ");
  environ[py_str(name)] = py_str(value);
}

void print_line(std::string_view text) {
  // Console text is made valid UTF-8 (stray bytes become U+FFFD), so that a
  // strict UTF-8 stdout cannot fail on it.
  PyObject* line = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (!line) throw nb::python_error();
  nb::object builtins = nb::module_::import_("builtins");
  builtins.attr("print")(nb::steal(line));
}

void PyConsole::print(const std::string& line) { print_line(line); }

void PyLogger::log(LogLevel level, const std::string& message) {
  nb::object logger = nb::module_::import_("logging").attr("getLogger")(name_);
  const char* method = level == LogLevel::Debug     ? "debug"
                       : level == LogLevel::Info    ? "info"
                       : level == LogLevel::Warning ? "warning"
                                                    : "error";
  logger.attr(method)(py_str(message));
}

namespace {

// behave's Context keeps what hooks and steps set in a stack of dictionaries
// (`_stack`, current layer first) and finds it in its Python __getattr__, which
// a plain attribute read from C++ reaches only after a failed generic lookup:
// about a microsecond per read, and an AttributeError built and formatted for
// every name that is missing. The hooks read a dozen such names per scenario.
// For an object whose class uses behave's own __getattr__, the same search is
// done here: a name the class defines (a method, a property) and a name in the
// instance's own dictionary come first, exactly as Python's lookup order has
// them; then the layers in order. Any other object is read the normal way.
#ifndef Py_LIMITED_API
PyObject* behave_context_getattr() {
  static PyObject* found = nullptr;
  if (found) return found;
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* runner = PyDict_GetItemString(modules, "behave.runner");  // borrowed
  if (!runner) return nullptr;  // behave not loaded: no behave context exists
  PyObject* cls = PyObject_GetAttrString(runner, "Context");
  if (!cls) {
    PyErr_Clear();
    return nullptr;
  }
  if (PyType_Check(cls)) {
    static PyObject* getattr_name = PyUnicode_InternFromString("__getattr__");
    PyObject* fn = _PyType_Lookup(reinterpret_cast<PyTypeObject*>(cls), getattr_name);
    if (fn) {
      Py_INCREF(fn);  // kept for the life of the process, as behave.runner is
      found = fn;
    }
  }
  Py_DECREF(cls);
  return found;
}

// Whether objects of this type find attributes with behave's Context.__getattr__.
// Answers are kept per type (the types themselves are kept alive, so an address
// cannot be reused by another type).
bool is_layered_context(PyTypeObject* type) {
  static std::vector<std::pair<PyTypeObject*, bool>> known;
  for (const auto& [t, layered] : known)
    if (t == type) return layered;
  PyObject* behave_fn = behave_context_getattr();
  if (!behave_fn) return false;  // asked again once behave is loaded
  static PyObject* getattr_name = PyUnicode_InternFromString("__getattr__");
  bool layered = _PyType_Lookup(type, getattr_name) == behave_fn;
  Py_INCREF(type);
  known.emplace_back(type, layered);
  return layered;
}

#endif

enum class Lookup { Found, Missing, Generic };

}  // namespace

PyObject* type_lookup(PyTypeObject* type, PyObject* name) {
#ifdef Py_LIMITED_API
  (void)type;
  (void)name;
  return nullptr;
#else
  return _PyType_Lookup(type, name);
#endif
}

PyObject* interned_name(const char* name) {
  static std::unordered_map<std::string, PyObject*> known;
  auto found = known.find(name);
  if (found != known.end()) return found->second;
  PyObject* str = PyUnicode_InternFromString(name);
  if (!str) throw nb::python_error();
  known.emplace(name, str);  // kept for the life of the process
  return str;
}

namespace {

#ifndef Py_LIMITED_API
// The layered search; Generic when the object must be read the normal way.
Lookup layered_lookup(PyObject* obj, const char* name, PyObject** out) {
  if (!is_layered_context(Py_TYPE(obj))) return Lookup::Generic;
  PyObject* key = interned_name(name);
  if (_PyType_Lookup(Py_TYPE(obj), key)) return Lookup::Generic;  // a method or property
  PyObject* dict = PyObject_GenericGetDict(obj, nullptr);
  if (!dict) {
    PyErr_Clear();
    return Lookup::Generic;
  }
  nb::object dict_guard = nb::steal(dict);
  if (!PyDict_Check(dict)) return Lookup::Generic;
  if (PyObject* own = PyDict_GetItemWithError(dict, key)) {
    *out = Py_NewRef(own);
    return Lookup::Found;
  }
  if (PyErr_Occurred()) throw nb::python_error();
  if (name[0] == '_') return Lookup::Missing;  // behave looks only in the instance for these
  PyObject* stack = PyDict_GetItemString(dict, "_stack");
  if (!stack || !PyList_Check(stack)) return Lookup::Generic;
  nb::object stack_guard = nb::borrow(stack);
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(stack); ++i) {
    PyObject* frame = PyList_GET_ITEM(stack, i);
    if (!PyDict_Check(frame)) return Lookup::Generic;
    if (PyObject* value = PyDict_GetItemWithError(frame, key)) {
      *out = Py_NewRef(value);
      return Lookup::Found;
    }
    if (PyErr_Occurred()) throw nb::python_error();
  }
  return Lookup::Missing;
}

#else
// The stable ABI has no lookup in a type's dictionary and no list item macros:
// there every object is read the normal way.
Lookup layered_lookup(PyObject*, const char*, PyObject**) { return Lookup::Generic; }
#endif

}  // namespace

std::optional<nb::object> get_attr(nb::handle obj, const char* name) {
  PyObject* value = nullptr;
  switch (layered_lookup(obj.ptr(), name, &value)) {
    case Lookup::Found:
      return nb::steal(value);
    case Lookup::Missing:
      return std::nullopt;
    case Lookup::Generic:
      break;
  }
  // _PyObject_LookupAttr answers "missing" without building the AttributeError
  // that a plain read would raise (and this function would then discard).
  PyObject* r = nullptr;
#if defined(Py_LIMITED_API)
  r = PyObject_GetAttr(obj.ptr(), interned_name(name));
  int found = r ? 1 : -1;
#elif PY_VERSION_HEX >= 0x030D0000
  int found = PyObject_GetOptionalAttr(obj.ptr(), interned_name(name), &r);
#else
  int found = _PyObject_LookupAttr(obj.ptr(), interned_name(name), &r);
#endif
  if (found > 0) return nb::steal(r);
  if (found == 0) return std::nullopt;
  if (PyErr_ExceptionMatches(PyExc_AttributeError) || PyErr_ExceptionMatches(PyExc_KeyError)) {
    PyErr_Clear();
    return std::nullopt;
  }
  throw nb::python_error();
}

bool has_attr(nb::handle obj, const char* name) { return get_attr(obj, name).has_value(); }

nb::object attr_or_raise(nb::handle obj, const char* name) {
  if (auto value = get_attr(obj, name)) return std::move(*value);
  return nb::getattr(obj, name);
}

bool truthy(nb::handle obj) {
  int r = PyObject_IsTrue(obj.ptr());
  if (r < 0) throw nb::python_error();
  return r == 1;
}

std::optional<nb::object> get_true_attr(nb::handle obj, const char* name) {
  auto value = get_attr(obj, name);
  if (value && truthy(*value)) return value;
  return std::nullopt;
}

bool attr_true(nb::handle obj, const char* name) { return get_true_attr(obj, name).has_value(); }

std::string to_str(nb::handle obj, Surrogates rule) {
  PyObject* s = PyObject_Str(obj.ptr());
  if (!s) throw nb::python_error();
  nb::object guard = nb::steal(s);
  return utf8_of(guard, rule);
}

std::string class_name(nb::handle obj) {
  return to_str(nb::handle(reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr()))).attr("__name__"));
}

std::string type_name(nb::handle obj) {
  PyTypeObject* type = Py_TYPE(obj.ptr());
  nb::handle t(reinterpret_cast<PyObject*>(type));
  std::string name = to_str(t.attr("__name__"));
  if (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) return name;
  std::string module = to_str(t.attr("__module__"));
  return module == "builtins" ? name : module + "." + name;
}

std::string utf8_of(nb::handle str, Surrogates rule) {
  Py_ssize_t size = 0;
  if (const char* data = PyUnicode_AsUTF8AndSize(str.ptr(), &size))
    return std::string(data, static_cast<std::size_t>(size));
  if (rule == Surrogates::Strict || !PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw nb::python_error();
  PyErr_Clear();
  const char* errors = rule == Surrogates::Replace ? "replace" : "surrogateescape";
  PyObject* bytes = PyUnicode_AsEncodedString(str.ptr(), "utf-8", errors);
  if (!bytes) throw nb::python_error();
  nb::object guard = nb::steal(bytes);
  return std::string(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
}

std::string text_arg(nb::handle value, const std::string& what, Surrogates rule) {
  if (!PyUnicode_Check(value.ptr())) throw nb::type_error((what + " must be str, not " + tarvo::py::type_name(value)).c_str());
  return utf8_of(value, rule);
}

std::string text_arg(nb::handle value, const char* function, const char* name, Surrogates rule) {
  return text_arg(value, std::string(function) + "() argument '" + name + "'", rule);
}

nb::str py_str(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (!s) throw nb::python_error();
  return nb::steal<nb::str>(s);
}

std::string failure_text(nb::handle exc) {
  PyObject* s = PyObject_Str(exc.ptr());
  if (!s) {
    PyErr_Clear();
    return "<exception str() failed>";
  }
  nb::object guard = nb::steal(s);
  // Undecodable OS bytes come back as bytes (as in utf8_of); any other lone
  // surrogate is shown escaped rather than failing the message.
  for (const char* errors : {"surrogateescape", "backslashreplace"}) {
    if (PyObject* bytes = PyUnicode_AsEncodedString(s, "utf-8", errors)) {
      nb::object bguard = nb::steal(bytes);
      return std::string(PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes)));
    }
    PyErr_Clear();
  }
  return "<exception str() failed>";
}

bool Failure::is_a(PyObject* type) const {
  if (!exc.is_valid() || exc.is_none()) return false;
  return PyObject_IsInstance(exc.ptr(), type) == 1;
}

void reraise(const Failure& f) {
  if (f.exc.is_valid() && !f.exc.is_none()) {
    // Restore type, value and traceback so the runner sees the original failure.
    PyObject* value = f.exc.ptr();
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(value));
    PyObject* tb = PyException_GetTraceback(value);  // new reference or NULL
    Py_INCREF(type);
    Py_INCREF(value);
    PyErr_Restore(type, value, tb);
    throw nb::python_error();
  }
  throw std::runtime_error(f.text);
}

namespace {

// Thrown out of a module's load: nanobind turns a C++ exception escaping the
// load into an ImportError carrying its text.
class LoadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

nb::module_ import_dependency(const char* loading, const char* module_name) {
  nb::object exc;
  try {
    return nb::module_::import_(module_name);
  } catch (nb::python_error& e) {
    exc = nb::borrow(e.value());
  }
  if (PyObject_IsInstance(exc.ptr(), PyExc_Exception) != 1) {
    Failure interrupt{exc, failure_text(exc)};
    reraise(interrupt);
  }
  const std::string head = std::string(loading) + " cannot be loaded: ";
  const std::string text = failure_text(exc);
  std::string missing;
  if (PyObject_IsInstance(exc.ptr(), PyExc_ModuleNotFoundError) == 1) {
    if (PyObject* name = PyObject_GetAttrString(exc.ptr(), "name")) {
      nb::object guard = nb::steal(name);
      if (PyUnicode_Check(name)) missing = failure_text(guard);
    } else {
      PyErr_Clear();
    }
  }
  if (missing == module_name)
    throw LoadError(head + "module '" + missing + "' is missing (" + text + ")");
  if (!missing.empty())
    throw LoadError(head + "importing '" + module_name + "' needs module '" + missing + "', which is missing (" +
                    text + ")");
  throw LoadError(head + "importing '" + module_name + "' failed: " + class_name(exc) + ": " + text);
}

nb::object import_attr(const char* module_name, const char* name) {
  return nb::module_::import_(module_name).attr(name);
}

void register_config_error(nb::module_&) {
  nb::register_exception_translator([](const std::exception_ptr& p, void*) {
    try {
      std::rethrow_exception(p);
    } catch (const config::ConfigError& e) {
      PyErr_SetObject(PyExc_ValueError, py_str(e.what()).ptr());
    }
  });
}

}  // namespace tarvo::py

namespace tarvo::py {

void set_in_scope(nb::handle context, const char* name, nb::handle value) {
  import_attr("tarvolab_framework.core.context_layers", "set_in_scope")(context, name, value);
}

}  // namespace tarvo::py
