// nebloader._nebloader: the native part of the Python package. Frames are read through
// libnebloader.so's C++ interface; writing, frame patterns and the slot layout go through
// its C interface (nebloader_c.h). Nothing else of the library is linked in, so a process
// holds one copy of it. Argument checking and naming live in __init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "nebloader.h"
#include "nebloader_c.h"
#include "python/PyFrame.h"
#include "python/ReportLog.h"

namespace py = pybind11;
using NebPy::Frame;
using NebPy::Group;

namespace {

Frame openFrame(const std::string& path, std::optional<std::string> mapping, long long maxVoxels, bool headerOnly) {
  const int64_t mark = NebPy::reportLog().mark();
  INeb* frame;
  {
    py::gil_scoped_release nogil;
    frame = mapping ? newINebWithChannelsMappingMaxVox(path.c_str(), mapping->c_str(), maxVoxels, headerOnly)
                    : newINebMaxVox(path.c_str(), maxVoxels, headerOnly);
  }
  if (!frame) NebPy::raiseCacheError("cannot load " + path, path, mark);
  NebPy::reportLog().flush();
  return Frame(frame, path, headerOnly);
}

int loadPlugins(std::optional<std::string> searchPaths, std::optional<std::string> suffix) {
  int mask;
  {
    py::gil_scoped_release nogil;
    mask = initalizeNebuLoader(searchPaths ? searchPaths->c_str() : nullptr, suffix ? suffix->c_str() : nullptr, 0);
  }
  NebPy::reportLog().flush();
  return mask;
}

std::string expandFramePattern(const std::string& pattern, int frame) {
  long long n = 0;
  neb_expand_frame_pattern(pattern.c_str(), frame, nullptr, 0, &n);
  std::vector<char> text(static_cast<size_t>(n) + 1);
  if (neb_expand_frame_pattern(pattern.c_str(), frame, text.data(), n + 1, nullptr) != NEB_OK)
    throw py::value_error("the frame pattern cannot be expanded");
  return std::string(text.data(), static_cast<size_t>(n));
}

py::tuple slotLayout(int slot) {
  int words = 0, components = 0, type = 0;
  if (neb_slot_layout(slot, &words, &components, &type) != NEB_OK) throw py::value_error("particle slots are 0..31");
  return py::make_tuple(words, components, type);
}

py::tuple channelKey(const std::string& name) {
  NebPy::ChannelName n;
  if (!NebPy::lookupChannel(name, &n)) throw py::key_error(name);
  return py::make_tuple(n.first, n.components);
}

typedef py::array_t<float, py::array::c_style> FloatArray;
typedef std::tuple<int, py::array> SlotData;
typedef std::tuple<std::string, int, int, std::vector<SlotData>> GroupData;

// The arrays arrive checked and converted by __init__.py; sizes are checked again here
// because they decide how many bytes the writer reads.
void writeFrame(const std::string& path, std::tuple<int, int, int> grid, FloatArray transform, int frameNumber,
                int version, int precisionBits, std::vector<std::tuple<int, FloatArray>> channels,
                std::vector<GroupData> groups) {
  if (transform.size() != 12) throw py::value_error("the transform has 12 values");
  const int nx = std::get<0>(grid), ny = std::get<1>(grid), nz = std::get<2>(grid);
  const py::ssize_t cells = py::ssize_t(nx) * ny * nz;
  for (auto& c : channels) {
    if (std::get<1>(c).size() != cells) throw py::value_error("a grid channel does not match the grid size");
  }
  for (auto& g : groups) {
    for (auto& s : std::get<3>(g)) {
      int words = 0;
      if (neb_slot_layout(std::get<0>(s), &words, nullptr, nullptr) != NEB_OK)
        throw py::value_error("particle slots are 0..31");
      const py::array& a = std::get<1>(s);
      if (!(a.flags() & py::array::c_style) || a.nbytes() != py::ssize_t(std::get<1>(g)) * words * 4)
        throw py::value_error("particle slot " + std::to_string(std::get<0>(s)) + " does not match the particle count");
    }
  }

  const int64_t mark = NebPy::reportLog().mark();
  int status;
  {
    py::gil_scoped_release nogil;
    neb_writer* w = nullptr;
    status = neb_writer_create(&w);
    if (status == NEB_OK) status = neb_writer_set_version(w, version);
    if (status == NEB_OK) status = neb_writer_set_grid(w, nx, ny, nz, transform.data());
    if (status == NEB_OK) status = neb_writer_set_frame_number(w, frameNumber);
    if (status == NEB_OK) status = neb_writer_set_precision(w, precisionBits);
    for (auto& c : channels) {
      if (status == NEB_OK) status = neb_writer_add_channel(w, std::get<0>(c), std::get<1>(c).data(), cells);
    }
    for (auto& g : groups) {
      int index = 0;
      if (status == NEB_OK)
        status = neb_writer_add_group(w, std::get<0>(g).c_str(), std::get<1>(g), std::get<2>(g), &index);
      for (auto& s : std::get<3>(g)) {
        if (status == NEB_OK)
          status = neb_writer_set_slot(w, index, std::get<0>(s), std::get<1>(s).data(), std::get<1>(s).nbytes());
      }
    }
    if (status == NEB_OK) status = neb_writer_write(w, path.c_str());
    neb_writer_free(w);
  }
  if (status != NEB_OK) NebPy::raiseCacheError("cannot write " + path, path, mark);
  NebPy::reportLog().flush();
}

}  // namespace

PYBIND11_MODULE(_nebloader, m) {
  m.doc() = "Native part of the nebloader package; use the nebloader module itself.";
  NebPy::reportLog().start();

  py::object cacheError = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "nebloader.CacheError",
      "A cache frame could not be loaded, decoded or written. `report` holds the library's reason, `path` the file.",
      PyExc_Exception, nullptr));
  m.attr("CacheError") = cacheError;
  NebPy::setCacheErrorType(cacheError);

  py::class_<Group>(m, "Group", "A particle group of a frame; it keeps its frame alive.")
      .def_property_readonly("name", &Group::name)
      .def_property_readonly("count", &Group::count, "Number of particles (0 when the group has no positions).")
      .def_property_readonly("slots", &Group::slots, "Slot numbers that hold per-particle data.")
      .def_property_readonly("positions", [](const Group& g) { return g.channel(0); },
                             "(n, 3) float32 copy of slot 0.")
      .def_property_readonly("velocities", [](const Group& g) { return g.optionalChannel(1); },
                             "(n, 3) float32 copy of slot 1, or None.")
      .def_property_readonly("ids", [](const Group& g) { return g.optionalChannel(10); },
                             "(n,) int64 copy of slot 10, or None.")
      .def("channel", &Group::channel, py::arg("slot"), "Copy of one slot; dtype and shape from its type.")
      .def("find", &Group::find, py::arg("id"), "Index of the particle with this identifier, or None.")
      .def("__repr__", &Group::repr);

  py::class_<Frame>(m, "Frame", "One loaded cache frame (see nebloader.open).")
      .def_property_readonly("path", &Frame::path)
      .def_property_readonly("header_only", &Frame::headerOnly)
      .def_property_readonly("closed", &Frame::closed)
      .def_property_readonly("grid_size", &Frame::gridSize, "(nx, ny, nz)")
      .def_property_readonly("world_to_index", &Frame::worldToIndex)
      .def_property_readonly("index_to_world", &Frame::indexToWorld)
      .def_property_readonly("channels", &Frame::channels)
      .def_property_readonly("groups", &Frame::groups)
      .def("group", &Frame::group, py::arg("name"))
      .def("channel", &Frame::channel, py::arg("number"))
      .def("__getitem__", &Frame::item)
      .def("__contains__", &Frame::contains)
      .def("close", &Frame::close)
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Frame& f, py::args) {
        f.close();
        return false;
      })
      .def("__repr__", &Frame::repr);

  m.def("open_frame", &openFrame, py::arg("path"), py::arg("mapping"), py::arg("max_voxels"), py::arg("header_only"));
  m.def("load_plugins", &loadPlugins, py::arg("search_paths"), py::arg("suffix"));
  m.def("expand_frame_pattern", &expandFramePattern);
  m.def("has_frame_pattern", [](const std::string& p) { return neb_has_frame_pattern(p.c_str()) == 1; });
  m.def("slot_layout", &slotLayout);
  m.def("channel_key", &channelKey);
  m.def("channel_names", &NebPy::channelNames);
  m.def("write_frame", &writeFrame);
  m.def("memory_limit", []() { return neb_memory_limit(); });
  m.def("set_memory_limit", [](unsigned long long bytes) { neb_set_memory_limit(bytes); });
  m.def("memory_held", []() { return neb_memory_held(); });
  m.def("shutdown", []() { NebPy::reportLog().stop(); });
}
