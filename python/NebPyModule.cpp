// nebloader._nebloader: the native part of the Python package. Frames are read through
// libnebloader.so's public interface; writing and frame patterns go through the package's
// private layers (PrivateLayers.h). Argument checking and naming live in __init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <vector>

#include "nebloader.h"
#include "python/PrivateLayers.h"
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
  return Frame(frame, path, headerOnly);
}

int loadPlugins(std::optional<std::string> searchPaths, std::optional<std::string> suffix) {
  py::gil_scoped_release nogil;
  return initalizeNebuLoader(searchPaths ? searchPaths->c_str() : nullptr, suffix ? suffix->c_str() : nullptr, 0);
}

std::string expandFramePattern(const std::string& pattern, int frame) {
  const int n = nebpyExpandFramePattern(pattern.c_str(), frame, nullptr, 0);
  std::vector<char> text(static_cast<size_t>(n) + 1);
  nebpyExpandFramePattern(pattern.c_str(), frame, text.data(), n + 1);
  return std::string(text.data(), static_cast<size_t>(n));
}

py::tuple slotLayout(int slot) {
  int words = 0, components = 0, type = 0;
  if (!nebpySlotLayout(slot, &words, &components, &type)) throw py::value_error("particle slots are 0..31");
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
  NebPyFrame f{};
  f.grid[0] = std::get<0>(grid);
  f.grid[1] = std::get<1>(grid);
  f.grid[2] = std::get<2>(grid);
  if (transform.size() != 12) throw py::value_error("the transform has 12 values");
  for (int i = 0; i < 12; ++i) f.transform[i] = transform.data()[i];
  f.frameNumber = frameNumber;
  f.version = version;
  f.precisionBits = precisionBits;
  const py::ssize_t cells = py::ssize_t(f.grid[0]) * f.grid[1] * f.grid[2];
  std::vector<int> numbers;
  std::vector<const float*> values;
  for (auto& c : channels) {
    if (std::get<1>(c).size() != cells) throw py::value_error("a grid channel does not match the grid size");
    numbers.push_back(std::get<0>(c));
    values.push_back(std::get<1>(c).data());
  }
  f.channelNumbers = numbers.data();
  f.channelValues = values.data();
  f.channelCount = static_cast<int>(numbers.size());

  std::vector<std::vector<NebPyGroupChannel>> slotLists(groups.size());
  std::vector<NebPyGroup> groupList;
  for (size_t g = 0; g < groups.size(); ++g) {
    const int count = std::get<1>(groups[g]);
    for (auto& s : std::get<3>(groups[g])) {
      const int slot = std::get<0>(s);
      const py::array& a = std::get<1>(s);
      int words = 0, components = 0, type = 0;
      if (!nebpySlotLayout(slot, &words, &components, &type)) throw py::value_error("particle slots are 0..31");
      if (!(a.flags() & py::array::c_style) || a.nbytes() != py::ssize_t(count) * words * 4)
        throw py::value_error("particle slot " + std::to_string(slot) + " does not match the particle count");
      slotLists[g].push_back(NebPyGroupChannel{slot, a.data()});
    }
    groupList.push_back(NebPyGroup{std::get<0>(groups[g]).c_str(), count, std::get<2>(groups[g]), slotLists[g].data(),
                                   static_cast<int>(slotLists[g].size())});
  }
  f.groups = groupList.data();
  f.groupCount = static_cast<int>(groupList.size());

  const int64_t mark = NebPy::reportLog().mark();
  int ok;
  {
    py::gil_scoped_release nogil;
    ok = nebpyWriteFrame(path.c_str(), &f);
  }
  if (!ok) NebPy::raiseCacheError("cannot write " + path, path, mark);
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
  m.def("has_frame_pattern", [](const std::string& p) { return nebpyHasFramePattern(p.c_str()) != 0; });
  m.def("slot_layout", &slotLayout);
  m.def("channel_key", &channelKey);
  m.def("channel_names", &NebPy::channelNames);
  m.def("write_frame", &writeFrame);
  m.def("shutdown", []() { NebPy::reportLog().stop(); });
}
