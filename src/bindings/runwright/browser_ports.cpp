// The browser ports of the lifecycle core on behave's runner context and
// Playwright's sync objects.
//
// Every call into Python runs through guarded(): a failure becomes the core's
// PageError and the Python exception waits in the call's slot, to be raised
// again unchanged when the error leaves the core (run_core).
#include "bindings/runwright/browser_ports.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::py::runwright {

namespace {

std::size_t py_len(nb::handle seq) {
  Py_ssize_t n = PyObject_Length(seq.ptr());
  if (n < 0) throw nb::python_error();
  return static_cast<std::size_t>(n);
}

nb::object item(nb::handle seq, std::size_t index) {
  PyObject* r = PySequence_GetItem(seq.ptr(), static_cast<Py_ssize_t>(index));
  if (!r) throw nb::python_error();
  return nb::steal(r);
}

class PyTab : public Tab {
 public:
  PyTab(nb::object page, FailureSlot& slot) : page_(std::move(page)), slot_(slot) {}
  const nb::object& object() const { return page_; }

  bool is_closed() override {
    return guarded<PageError>(slot_, [&] {
      auto is_closed = get_attr(page_, "is_closed");
      return is_closed && PyCallable_Check(is_closed->ptr()) && truthy((*is_closed)());
    });
  }
  std::string url() override {
    return guarded<PageError>(slot_, [&] { return to_str(nb::getattr(page_, "url")); });
  }
  void close() override {
    guarded<PageError>(slot_, [&] { page_.attr("close")(); });
  }
  void bring_to_front() override {
    guarded<PageError>(slot_, [&] { page_.attr("bring_to_front")(); });
  }
  std::optional<ViewportSize> viewport_size() override {
    return guarded<PageError>(slot_, [&]() -> std::optional<ViewportSize> {
      auto size = get_attr(page_, "viewport_size");
      if (!size || size->is_none()) return std::nullopt;
      return ViewportSize{nb::cast<long long>((*size)["width"]), nb::cast<long long>((*size)["height"])};
    });
  }
  void set_viewport_size(const ViewportSize& size) override {
    guarded<PageError>(slot_, [&] { page_.attr("set_viewport_size")(size_dict(size)); });
  }
  bool same_as(const Tab& other) const override {
    auto* py = dynamic_cast<const PyTab*>(&other);
    return py && py->page_.is(page_);
  }

  static nb::dict size_dict(const ViewportSize& size) {
    nb::dict d;
    d["width"] = size.width;
    d["height"] = size.height;
    return d;
  }

 private:
  nb::object page_;
  FailureSlot& slot_;
};

nb::object object_of(const TabPtr& tab) {
  return tab ? static_cast<const PyTab&>(*tab).object() : nb::none();
}

// Sets a run-level attribute of the runner context. behave drops what a hook
// sets inside a scenario when the scenario ends; its root layer is kept for the
// run (a plain object just gets the attribute).
void set_run_attribute(nb::handle context, const char* name, nb::handle value) {
  if (auto set_root = get_attr(context, "_set_root_attribute"); set_root && PyCallable_Check(set_root->ptr()))
    (*set_root)(name, value);
  else
    nb::setattr(context, name, value);
}

// The viewport a @mobile scenario replaced is kept on the context as the
// attribute (page, size).
constexpr const char* kMobileRestore = "_mobile_viewport_restore";

class PySession : public BrowserSession {
 public:
  PySession(nb::handle context, FailureSlot& slot) : context_(context), slot_(slot) {}

  std::optional<bool> browser_connected() override {
    return guarded<PageError>(slot_, [&]() -> std::optional<bool> {
      auto browser = get_true_attr(context_, "browser");
      if (!browser) return std::nullopt;
      auto is_connected = get_attr(*browser, "is_connected");
      if (!is_connected || !PyCallable_Check(is_connected->ptr())) return std::nullopt;
      return truthy((*is_connected)());
    });
  }
  void relaunch_browser() override {
    guarded<PageError>(slot_, [&] {
      nb::object fresh = nb::getattr(context_, "framework_config").attr("relaunch_browser")();
      set_run_attribute(context_, "browser", fresh);
    });
  }
  TabPtr page() override {
    return guarded<PageError>(slot_, [&]() -> TabPtr {
      auto page = get_true_attr(context_, "page");
      return page ? tab(*page) : nullptr;
    });
  }
  void set_page(const TabPtr& page) override {
    guarded<PageError>(slot_, [&] { set_in_scope(context_, "page", object_of(page)); });
  }
  void clear_page() override {
    guarded<PageError>(slot_, [&] {
      if (has_attr(context_, "page")) nb::setattr(context_, "page", nb::none());
    });
  }
  std::optional<std::vector<TabPtr>> first_context_pages() override {
    return guarded<PageError>(slot_, [&]() -> std::optional<std::vector<TabPtr>> {
      auto browser = get_true_attr(context_, "browser");
      if (!browser) return std::nullopt;
      nb::object contexts = browser->attr("contexts");
      if (py_len(contexts) == 0) return std::nullopt;
      return tabs(item(contexts, 0).attr("pages"));
    });
  }
  std::optional<std::vector<TabPtr>> all_pages() override {
    return guarded<PageError>(slot_, [&]() -> std::optional<std::vector<TabPtr>> {
      auto browser = get_true_attr(context_, "browser");
      if (!browser) return std::nullopt;
      std::vector<TabPtr> out;
      for (nb::handle browser_context : browser->attr("contexts")) {
        for (TabPtr& page : tabs(browser_context.attr("pages"))) out.push_back(std::move(page));
      }
      return out;
    });
  }
  TabPtr create_page() override {
    return guarded<PageError>(slot_, [&]() -> TabPtr {
      nb::object target = nb::none();
      if (auto browser = get_true_attr(context_, "browser")) {
        nb::object contexts = browser->attr("contexts");
        if (py_len(contexts) > 0) target = item(contexts, 0);
      }
      nb::object options = get_attr(context_, "browser_context_options").value_or(nb::none());
      nb::object framework_config = nb::getattr(context_, "framework_config");
      return tab(framework_config.attr("create_page")(nb::arg("context") = target,
                                                      nb::arg("custom_context_options") = options));
    });
  }
  std::optional<SavedViewport> saved_viewport() override {
    return guarded<PageError>(slot_, [&]() -> std::optional<SavedViewport> {
      auto marker = get_attr(context_, kMobileRestore);
      if (!marker || marker->is_none()) return std::nullopt;
      nb::object page = (*marker)[0];
      nb::object size = (*marker)[1];
      SavedViewport saved{tab(page), std::nullopt};
      if (!size.is_none()) saved.size = ViewportSize{nb::cast<long long>(size["width"]), nb::cast<long long>(size["height"])};
      return saved;
    });
  }
  void set_saved_viewport(const std::optional<SavedViewport>& saved) override {
    guarded<PageError>(slot_, [&] {
      if (!saved) {
        nb::setattr(context_, kMobileRestore, nb::none());
        return;
      }
      nb::object size = saved->size ? nb::object(PyTab::size_dict(*saved->size)) : nb::none();
      nb::setattr(context_, kMobileRestore, nb::make_tuple(object_of(saved->page), size));
    });
  }

 private:
  TabPtr tab(nb::object page) { return std::make_shared<PyTab>(std::move(page), slot_); }
  std::vector<TabPtr> tabs(nb::handle pages) {
    std::vector<TabPtr> out;
    for (nb::handle h : pages) out.push_back(tab(nb::borrow(h)));
    return out;
  }

  nb::handle context_;
  FailureSlot& slot_;
};

// The runner context's logger (read at each use, as the steps may replace it)
// and sys.stdout, for the core; a failure is kept in the slot like the pages'.
class ContextLogger : public Logger {
 public:
  ContextLogger(nb::handle context, FailureSlot& slot) : context_(context), slot_(slot) {}
  void log(LogLevel level, const std::string& message) override {
    const char* method = level == LogLevel::Debug     ? "debug"
                         : level == LogLevel::Info    ? "info"
                         : level == LogLevel::Warning ? "warning"
                                                      : "error";
    guarded<PageError>(slot_, [&] { nb::getattr(context_, "logger").attr(method)(py_str(message)); });
  }

 private:
  nb::handle context_;
  FailureSlot& slot_;
};

class SlotConsole : public Console {
 public:
  explicit SlotConsole(FailureSlot& slot) : slot_(slot) {}
  void print(const std::string& line) override {
    guarded<PageError>(slot_, [&] { print_line(line); });
  }

 private:
  FailureSlot& slot_;
};

}  // namespace

struct ScenarioPorts::Parts {
  explicit Parts(nb::handle context) : session(context, slot), log(context, slot), console(slot) {}
  FailureSlot slot;
  PySession session;
  ContextLogger log;
  SlotConsole console;
};

ScenarioPorts::ScenarioPorts(nb::handle context) : parts_(std::make_unique<Parts>(context)) {}
ScenarioPorts::~ScenarioPorts() = default;
FailureSlot& ScenarioPorts::slot() { return parts_->slot; }
BrowserSession& ScenarioPorts::session() { return parts_->session; }
Logger& ScenarioPorts::log() { return parts_->log; }
Console& ScenarioPorts::console() { return parts_->console; }

}  // namespace tarvo::py::runwright
