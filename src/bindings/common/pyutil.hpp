// Thin adapters between the C++ core and the Python world, shared by the three
// extension modules. Rules kept here:
//  * console lines go through Python's print (sys.stdout), never to fd 1;
//  * the environment is os.environ, read at the moment of use;
//  * log records go to logging.getLogger(name);
//  * a missing attribute of the runner context is AttributeError or, on behave
//    1.2.6 for underscore names, KeyError: both count as absent;
//  * no C++ exception stays in flight across a call back into Python that may
//    switch greenlets (Playwright): failures are turned into values first.
#pragma once
#include <nanobind/nanobind.h>

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "services/console.hpp"
#include "services/environment.hpp"
#include "services/logger.hpp"

namespace tarvo::py {

namespace nb = nanobind;

class PyEnvironment : public Environment {
 public:
  std::optional<std::string> get(const std::string& name) const override;
  void set(const std::string& name, const std::string& value) override;
};

class PyConsole : public Console {
 public:
  void print(const std::string& line) override;
};

class PyLogger : public Logger {
 public:
  explicit PyLogger(std::string name) : name_(std::move(name)) {}
  void log(LogLevel level, const std::string& message) override;

 private:
  std::string name_;
};

// print(text) through sys.stdout.
void print_line(std::string_view text);

// Attribute of obj, or nullopt when it is missing (AttributeError or KeyError).
// Any other failure is raised as nb::python_error.
std::optional<nb::object> get_attr(nb::handle obj, const char* name);
bool has_attr(nb::handle obj, const char* name);

// The interned str of an attribute name, made once per name and kept: CPython's
// type attribute cache finds interned names without walking the class's bases.
PyObject* interned_name(const char* name);

// getattr(obj, name): as get_attr, but a missing attribute raises the object's
// own AttributeError (read again the normal way, so its text is unchanged).
nb::object attr_or_raise(nb::handle obj, const char* name);

// The attribute when it is present and true in Python's sense, else nullopt.
std::optional<nb::object> get_true_attr(nb::handle obj, const char* name);

// Python truth value (PyObject_IsTrue); a failing __bool__ raises.
bool truthy(nb::handle obj);

// The attribute's truth value, false when it is missing.
bool attr_true(nb::handle obj, const char* name);

// str(obj) as UTF-8 (see utf8_of for texts holding undecodable OS bytes).
std::string to_str(nb::handle obj);

// type(obj).__name__, for TypeError messages.
std::string class_name(nb::handle obj);

// The UTF-8 bytes of a str object. Lone surrogates that stand for undecodable
// OS bytes (as os.environ, os.getcwd() and file names hold them on Linux) are
// turned back into those bytes, so such texts survive a trip through C++;
// other lone surrogates raise UnicodeEncodeError.
std::string utf8_of(nb::handle str);

// A str from UTF-8 text; bytes that are not valid UTF-8 become lone surrogates,
// as os.fsdecode does. The inverse of utf8_of.
nb::str py_str(std::string_view text);

// str(exc) for a failure message; never raises (a failing __str__ gives a
// placeholder, as Python's traceback printing does).
std::string failure_text(nb::handle exc);

// A failure captured as a value: the Python exception object (when it came from
// Python) and its text, str(exc). For C++ exceptions the text is what().
struct Failure {
  nb::object exc;    // the Python exception instance, or None
  std::string text;  // str(exc)
  bool is_a(PyObject* type) const;  // isinstance(exc, type)
  bool is_import_error() const { return is_a(PyExc_ImportError); }
  bool is_assertion_error() const { return is_a(PyExc_AssertionError); }
  bool is_value_error() const { return is_a(PyExc_ValueError); }
  // KeyboardInterrupt, SystemExit and the like: never absorbed by a guard that
  // stands for "any failure of the work".
  bool is_interrupt() const { return exc.is_valid() && !exc.is_none() && !is_a(PyExc_Exception); }
};

// Raises the captured failure again, unchanged when it came from Python.
[[noreturn]] void reraise(const Failure& f);

// Runs f(); returns nullopt on success, or the failure it raised, already
// converted (no exception is in flight when the caller acts on it).
// KeyboardInterrupt, SystemExit and other non-Exception failures are raised again.
template <typename F>
std::optional<Failure> attempt(F&& f) {
  nb::object exc;
  std::string cpp_text;
  bool failed = false;
  try {
    f();
  } catch (nb::python_error& e) {
    exc = nb::borrow(e.value());
    failed = true;
  } catch (const std::exception& e) {
    cpp_text = e.what();
    failed = true;
  }
  if (!failed) return std::nullopt;
  Failure fl;
  if (exc.is_valid()) {
    fl.exc = exc;
    fl.text = failure_text(exc);
  } else {
    fl.exc = nb::none();
    fl.text = cpp_text;
  }
  // Ctrl-C and SystemExit are the user's or the runner's, not a failure of the
  // guarded work: they go on unchanged instead of being printed and absorbed.
  if (fl.is_interrupt()) reraise(fl);
  return fl;
}

// Runs f() as attempt() does, but a failure is raised again, unchanged, once the
// call has returned: for calls into Playwright whose failures must reach the
// caller. Returns what f() returns.
template <typename F>
auto reraising(F&& f) -> decltype(f()) {
  if constexpr (std::is_void_v<decltype(f())>) {
    if (auto failure = attempt(std::forward<F>(f))) reraise(*failure);
  } else {
    std::optional<decltype(f())> result;
    if (auto failure = attempt([&] { result.emplace(f()); })) reraise(*failure);
    return std::move(*result);
  }
}

// Settings errors (config::ConfigError) become ValueError with their text as a
// str whose undecodable OS bytes are kept as lone surrogates. Each module that
// reads settings registers it, as each may be loaded first.
void register_config_error(nb::module_& m);

// Imports `module_name`, which the extension module `loading` cannot be loaded
// without. When that import fails, the load fails with an ImportError whose text
// names the extension, the module it imports and, for a module that is not
// installed, the missing module itself (which may be one that module imports);
// nanobind alone would say only that the extension failed to initialise. Only
// for use while an extension module loads. KeyboardInterrupt and the like pass.
nb::module_ import_dependency(const char* loading, const char* module_name);

// Looks up name on the module `module_name` at the moment of the call.
nb::object import_attr(const char* module_name, const char* name);

// setattr(context, name, value) on behave's context without behave's stack walk
// per write (tarvolab_framework.core.context_layers.set_in_scope): for the
// attributes the framework writes for every scenario.
void set_in_scope(nb::handle context, const char* name, nb::handle value);

}  // namespace tarvo::py
