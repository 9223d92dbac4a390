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
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

#include "services/console.hpp"
#include "services/environment.hpp"
#include "services/logger.hpp"
#include "services/port_error.hpp"

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

// The attribute `name` as the class itself defines it (through its bases),
// borrowed; nullptr when it does not, and always under the stable ABI, which
// has no such lookup: callers then take their general path.
PyObject* type_lookup(PyTypeObject* type, PyObject* name);

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

// ---- text: one policy for every str that crosses into C++ --------------------
//
// C++ holds UTF-8. A Python str may hold lone surrogates, which UTF-8 cannot;
// where they come from decides what is done with them:
//  * OsBytes (the default): texts from the operating system or the user's
//    settings (os.environ, file names, the working directory, arguments).
//    Linux hands undecodable bytes to Python as lone surrogates U+DC80..U+DCFF
//    (os.fsdecode); they become those bytes again, so a path or value survives
//    the trip through C++ unchanged (py_str is the inverse). Any other lone
//    surrogate raises UnicodeEncodeError.
//  * Strict: any lone surrogate raises UnicodeEncodeError. For texts written
//    into a model prompt, where a byte that is not UTF-8 must not slip through.
//  * Replace: each lone surrogate becomes '?'. For texts from a page or a model
//    (a JavaScript string cut inside an emoji keeps half of it): one broken
//    character must not fail the whole operation.
// Failure messages never raise at all (failure_text).
enum class Surrogates { OsBytes, Strict, Replace };

// The UTF-8 bytes of a str object, lone surrogates handled by `rule`.
std::string utf8_of(nb::handle str, Surrogates rule = Surrogates::OsBytes);

// str(obj) as UTF-8, as utf8_of.
std::string to_str(nb::handle obj, Surrogates rule = Surrogates::OsBytes);

// The UTF-8 of an argument that must be a str, as utf8_of; anything else
// raises TypeError "<what> must be str, not <type_name>" (what: for example
// "f() argument 'text'").
std::string text_arg(nb::handle value, const std::string& what, Surrogates rule = Surrogates::OsBytes);
// The same for argument `name` of `function`: "<function>() argument '<name>'".
std::string text_arg(nb::handle value, const char* function, const char* name, Surrogates rule = Surrogates::OsBytes);

// type(obj).__name__, for TypeError messages.
std::string class_name(nb::handle obj);

// The type's name as Python's own messages show it (its tp_name): the class name
// of a class made in Python or of a built-in, "module.Name" for other types made
// in C. Read through the type's attributes, which the stable ABI allows.
std::string type_name(nb::handle obj);

// A str from UTF-8 text; bytes that are not valid UTF-8 become lone surrogates,
// as os.fsdecode does. The inverse of utf8_of with OsBytes.
nb::str py_str(std::string_view text);

// str(exc) for a failure message; never raises: undecodable OS bytes come back
// as bytes, any other lone surrogate is shown escaped, and a failing __str__
// gives a placeholder, as Python's traceback printing does.
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

// ---- the failure guard ----------------------------------------------------------
//
// One guard turns a failure of Python work into a value (Failure) before the
// caller acts on it; every other guard of the bindings is built on it:
//   capture     every failure, Ctrl-C included (the caller restores state first);
//   attempt     every failure but Ctrl-C and SystemExit, which go on at once;
//   reraising   attempt, then the failure raised again once f has returned;
//   printing_failure, ignoring_missing: attempt, then print or filter;
//   guarded / run_core: attempt for a core port (see FailureSlot).

// Runs f(); returns nullopt on success, or the failure it raised, already
// converted (no exception is in flight when the caller acts on it). Nothing is
// raised again, not even KeyboardInterrupt: for callers that must restore
// state before they raise it (Failure::is_interrupt).
template <typename F>
std::optional<Failure> capture(F&& f) {
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
  return fl;
}

// Runs f() as capture() does, but KeyboardInterrupt, SystemExit and other
// non-Exception failures are raised again: Ctrl-C and SystemExit are the user's
// or the runner's, not a failure of the guarded work, and go on unchanged
// instead of being printed and absorbed.
template <typename F>
std::optional<Failure> attempt(F&& f) {
  auto failure = capture(std::forward<F>(f));
  if (failure && failure->is_interrupt()) reraise(*failure);
  return failure;
}

// Runs f() as attempt() does; a failure is printed and absorbed: `line` is a
// prefix put before the failure's text, or a function of that text. For work
// whose failure is a warning and changes nothing else.
template <typename F, typename Line>
void printing_failure(Line&& line, F&& f) {
  auto failure = attempt(std::forward<F>(f));
  if (!failure) return;
  if constexpr (std::is_convertible_v<Line, std::string_view>)
    print_line(std::string(std::string_view(line)) + failure->text);
  else
    print_line(line(failure->text));
}

// Runs f() as attempt() does; a missing attribute or key (AttributeError,
// KeyError) is ignored, anything else is raised again.
template <typename F>
void ignoring_missing(F&& f) {
  if (auto failure = attempt(std::forward<F>(f))) {
    if (!failure->is_a(PyExc_AttributeError) && !failure->is_a(PyExc_KeyError)) reraise(*failure);
  }
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

// The Python failure behind the last port call that failed. An adapter of a
// core port keeps it here and throws the core's PortError made from its text;
// the core may handle that error (it only sees the text), and when the error
// leaves the core instead, run_core raises the kept failure again, unchanged.
struct FailureSlot {
  std::optional<Failure> last;
};

// Keeps the failure in the slot and throws the core's error E (built from the
// failure's text and `extra`), once no Python exception is pending.
template <typename E, typename... Extra>
[[noreturn]] void fail(FailureSlot& slot, Failure failure, Extra... extra) {
  E error(failure.text, extra...);
  slot.last = std::move(failure);
  throw error;
}

// Runs f() against Python for a port of the core, as attempt() does; a failure
// becomes E (see fail). Returns what f() returns.
template <typename E, typename F>
auto guarded(FailureSlot& slot, F&& f) -> decltype(f()) {
  if constexpr (std::is_void_v<decltype(f())>) {
    if (auto failure = attempt(std::forward<F>(f))) fail<E>(slot, std::move(*failure));
  } else {
    std::optional<decltype(f())> result;
    if (auto failure = attempt([&] { result.emplace(f()); })) fail<E>(slot, std::move(*failure));
    return std::move(*result);
  }
}

// Runs a core operation; a port failure that escapes it is raised again as the
// original Python exception, after the C++ one has been handled.
template <typename F>
auto run_core(FailureSlot& slot, F&& f) -> decltype(f()) {
  std::optional<std::string> escaped;
  try {
    return f();
  } catch (const PortError& e) {
    escaped = e.what();
  }
  if (slot.last) reraise(*slot.last);
  throw std::runtime_error(*escaped);
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
