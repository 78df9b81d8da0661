#include "python/ReportLog.h"

#include <pybind11/pybind11.h>

#include <deque>
#include <mutex>
#include <utility>
#include <vector>

#include "nebloader_c.h"

namespace py = pybind11;

namespace NebPy {

namespace {

// What is kept: the newest kKeep reports for reasons, and at most kQueue waiting for
// `logging` (a host that never calls back into the module must not grow the queue).
const size_t kKeep = 4096;
const size_t kQueue = 4096;

struct Entry {
  int64_t sequence;
  int level;
  std::string text;
};

struct State {
  std::mutex lock;
  int64_t next = 0;
  std::deque<Entry> kept;
  std::deque<Entry> queued;
};

State& state() {
  static State* s = new State;  // lives until exit: destructors may still report
  return *s;
}

void receive(int level, const char* text, void*) {
  State& s = state();
  try {
    std::lock_guard<std::mutex> lock(s.lock);
    Entry e{s.next++, level, text ? text : ""};
    if (s.queued.size() >= kQueue) s.queued.pop_front();
    s.queued.push_back(e);
    if (s.kept.size() >= kKeep) s.kept.pop_front();
    s.kept.push_back(std::move(e));
  } catch (...) {
    // Out of memory: the report is lost, the library goes on.
  }
}

int loggingLevel(int level) {
  switch (level) {
    case NEB_REPORT_DEBUG: return 10;
    case NEB_REPORT_WARNING: return 30;
    case NEB_REPORT_ERROR: return 40;
    default: return 20;
  }
}

std::string trimmed(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r' || text[end - 1] == ' ')) --end;
  return text.substr(0, end);
}

}  // namespace

ReportLog& reportLog() {
  static ReportLog* log = new ReportLog;
  return *log;
}

void ReportLog::start() { neb_set_report_callback(&receive, nullptr); }

void ReportLog::stop() { neb_set_report_callback(nullptr, nullptr); }

int64_t ReportLog::mark() {
  std::lock_guard<std::mutex> lock(state().lock);
  return state().next;
}

std::string ReportLog::since(int64_t mark) {
  std::string reason;
  std::lock_guard<std::mutex> lock(state().lock);
  for (const Entry& e : state().kept) {
    if (e.sequence < mark || e.level == NEB_REPORT_DEBUG) continue;
    size_t start = 0;
    while (start < e.text.size()) {
      size_t end = e.text.find('\n', start);
      if (end == std::string::npos) end = e.text.size();
      const std::string line = e.text.substr(start, end - start);
      if (!line.empty()) {
        if (!reason.empty()) reason += '\n';
        reason += line;
      }
      start = end + 1;
    }
  }
  return reason;
}

void ReportLog::flush() {
  std::vector<Entry> out;
  {
    std::lock_guard<std::mutex> lock(state().lock);
    out.assign(state().queued.begin(), state().queued.end());
    state().queued.clear();
  }
  if (out.empty()) return;
  try {
    py::object logger = py::module_::import("logging").attr("getLogger")("nebloader");
    for (const Entry& e : out) logger.attr("log")(loggingLevel(e.level), trimmed(e.text));
  } catch (const py::error_already_set&) {
    // `logging` unusable (interpreter shutting down, a failing handler): the reports are
    // dropped rather than turned into an error of the call that made them.
  }
}

}  // namespace NebPy
