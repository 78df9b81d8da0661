#include "python/PyFrame.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "python/ReportLog.h"

namespace NebPy {

namespace {

const int kChannels = 32;
const int kPackedColour = 18;  // read as colour 7, 8, 9; never a channel of its own
const int kSlots = 32;

const ChannelName kNames[] = {
    {"temperature", 1, 1},       {"smoke", 2, 1},
    {"speed", 3, 1},             {"velocity", 4, 3},
    {"velocity_x", 4, 1},        {"velocity_y", 5, 1},
    {"velocity_z", 6, 1},        {"color", 7, 3},
    {"color_r", 7, 1},           {"color_g", 8, 1},
    {"color_b", 9, 1},           {"fuel", 10, 1},
    {"wavelet_energy", 14, 1},   {"advection_origin", 15, 3},
    {"advection_origin_x", 15, 1}, {"advection_origin_y", 16, 1},
    {"advection_origin_z", 17, 1}, {"wavelet", 19, 3},
    {"wavelet_u", 19, 1},        {"wavelet_v", 20, 1},
    {"wavelet_w", 21, 1},
};

// Channels without a name of their own are "channel_<n>".
bool hasOwnName(int channel) {
  for (const ChannelName& n : kNames)
    if (n.components == 1 && n.first == channel) return true;
  return false;
}

py::object cacheErrorType;

// Array over memory owned by `owner`: the base object keeps one frame reference.
py::array viewOf(const FramePtr& owner, const py::dtype& dtype, std::vector<py::ssize_t> shape,
                 std::vector<py::ssize_t> strides, const void* data) {
  py::capsule base(new FramePtr(owner), [](void* p) { delete static_cast<FramePtr*>(p); });
  py::array a(dtype, std::move(shape), std::move(strides), data, base);
  py::detail::array_proxy(a.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
  return a;
}

py::array matrix4(const double m[4][4]) {
  py::array_t<double> a({4, 4});
  auto r = a.mutable_unchecked<2>();
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r(i, j) = m[i][j];
  return std::move(a);
}

}  // namespace

FrameHandle::~FrameHandle() { deleteINeb(frame); }

bool lookupChannel(const std::string& name, ChannelName* out) {
  for (const ChannelName& n : kNames) {
    if (name == n.name) {
      *out = n;
      return true;
    }
  }
  const std::string prefix = "channel_";
  if (name.compare(0, prefix.size(), prefix) == 0 && name.size() > prefix.size() && name.size() <= prefix.size() + 2) {
    int c = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
      if (name[i] < '0' || name[i] > '9') return false;
      c = c * 10 + (name[i] - '0');
    }
    if (c >= kChannels || c == kPackedColour || hasOwnName(c) || name != channelName(c)) return false;
    *out = ChannelName{nullptr, c, 1};
    return true;
  }
  return false;
}

std::string channelName(int channel) {
  for (const ChannelName& n : kNames)
    if (n.components == 1 && n.first == channel) return n.name;
  return "channel_" + std::to_string(channel);
}

py::list channelNames() {
  py::list names;
  for (int c = 0; c < kChannels; ++c) {
    if (c == kPackedColour) continue;
    for (const ChannelName& n : kNames)
      if (n.components == 3 && n.first == c) names.append(n.name);
    names.append(channelName(c));
  }
  return names;
}

void setCacheErrorType(py::object type) { cacheErrorType = std::move(type); }

void raiseCacheError(const std::string& message, const std::string& path, int64_t reportMark) {
  const std::string report = reportLog().since(reportMark);
  reportLog().flush();
  std::string text = message;
  if (!report.empty()) text += ": " + report;
  py::object error = cacheErrorType(text);
  error.attr("path") = path;
  error.attr("report") = report;
  PyErr_SetObject(cacheErrorType.ptr(), error.ptr());
  throw py::error_already_set();
}

// ---- Frame ----

FramePtr Frame::live() const {
  if (!handle_) throw py::value_error("the frame is closed");
  return handle_;
}

py::tuple Frame::gridSize() const {
  int size[3];
  live()->frame->getGridSize(size);
  return py::make_tuple(size[0], size[1], size[2]);
}

// The file keeps the world-to-grid transform as a 3x3 matrix A by rows and an offset o for
// row vectors, v = w * A + o. As a 4x4 matrix for column vectors that is [A^T | o].
py::array Frame::worldToIndex() const {
  float t[12];
  live()->frame->getTransform(t);
  double m[4][4] = {};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m[r][c] = t[c * 3 + r];
    m[r][3] = t[9 + r];
  }
  m[3][3] = 1.0;
  return matrix4(m);
}

py::array Frame::indexToWorld() const {
  float t[12];
  live()->frame->getTransform(t);
  // Inverse of the affine map in double: B = (A^T)^-1 by cofactors, translation -B o.
  double a[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a[r][c] = t[c * 3 + r];
  const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  const double c01 = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
  double m[4][4] = {};
  if (det == 0.0 || !std::isfinite(det)) {
    for (auto& row : m)
      for (double& v : row) v = NAN;
    return matrix4(m);
  }
  const double r = 1.0 / det;
  double b[3][3] = {{c00 * r, (a[0][2] * a[2][1] - a[0][1] * a[2][2]) * r, (a[0][1] * a[1][2] - a[0][2] * a[1][1]) * r},
                    {c01 * r, (a[0][0] * a[2][2] - a[0][2] * a[2][0]) * r, (a[0][2] * a[1][0] - a[0][0] * a[1][2]) * r},
                    {c02 * r, (a[0][1] * a[2][0] - a[0][0] * a[2][1]) * r, (a[0][0] * a[1][1] - a[0][1] * a[1][0]) * r}};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) m[i][j] = b[i][j];
    m[i][3] = -(b[i][0] * t[9] + b[i][1] * t[10] + b[i][2] * t[11]);
  }
  m[3][3] = 1.0;
  return matrix4(m);
}

py::list Frame::channels() const {
  INeb* f = live()->frame;
  py::list present;
  for (int c = 0; c < kChannels; ++c) {
    if (c == kPackedColour) continue;
    for (const ChannelName& n : kNames) {
      if (n.components == 3 && n.first == c && f->hasChannel(c) && f->hasChannel(c + 1) && f->hasChannel(c + 2))
        present.append(n.name);
    }
    if (f->hasChannel(c)) present.append(channelName(c));
  }
  return present;
}

bool Frame::contains(const py::object& key) const {
  INeb* f = live()->frame;
  if (py::isinstance<py::str>(key)) {
    ChannelName n;
    if (!lookupChannel(key.cast<std::string>(), &n)) return false;
    for (int k = 0; k < n.components; ++k)
      if (!f->hasChannel(n.first + k)) return false;
    return true;
  }
  if (py::isinstance<py::int_>(key) && !py::isinstance<py::bool_>(key)) {
    const long long c = key.cast<long long>();
    return c >= 0 && c < kChannels && c != kPackedColour && f->hasChannel(static_cast<int>(c));
  }
  return false;
}

py::object Frame::item(const py::object& key) const {
  if (py::isinstance<py::str>(key)) {
    const std::string name = key.cast<std::string>();
    ChannelName n;
    if (!lookupChannel(name, &n)) throw py::key_error("unknown channel name '" + name + "'");
    return n.components == 3 ? vector(n) : scalar(n.first, name);
  }
  if (py::isinstance<py::int_>(key) && !py::isinstance<py::bool_>(key)) return channel(key.cast<int>());
  throw py::type_error("a channel is named by a str or numbered by an int");
}

py::object Frame::channel(int number) const {
  if (number < 0 || number >= kChannels || number == kPackedColour)
    throw py::value_error("channel numbers are 0..31 except 18 (packed colour reads as 7, 8, 9)");
  return scalar(number, channelName(number));
}

// Exactly what the library's getChannel gives: a stored record is read even when its bit
// of the grid mask is clear (the format allows such records), so a channel is missing only
// when the read gives nothing and the mask does not name it either.
py::object Frame::scalar(int channel, const std::string& name) const {
  const FramePtr h = live();
  if (headerOnly_) {
    if (!h->frame->hasChannel(channel)) throw py::key_error("channel '" + name + "' is not in " + path_);
    throw py::value_error("the frame was opened with header_only=True and holds no channel data");
  }
  const int64_t mark = reportLog().mark();
  const float* values;
  {
    py::gil_scoped_release nogil;
    values = h->frame->getChannel(channel);
  }
  if (!values) {
    if (!h->frame->hasChannel(channel)) {
      reportLog().flush();
      throw py::key_error("channel '" + name + "' is not in " + path_);
    }
    raiseCacheError("cannot decode channel '" + name + "' of " + path_, path_, mark);
  }
  reportLog().flush();
  int size[3];
  h->frame->getGridSize(size);
  const py::ssize_t nx = size[0], ny = size[1], nz = size[2];
  const py::ssize_t f = sizeof(float);
  return viewOf(h, py::dtype::of<float>(), {nz, ny, nx}, {ny * nx * f, nx * f, f}, values);
}

py::object Frame::vector(const ChannelName& named) const {
  const FramePtr h = live();
  if (headerOnly_) {
    for (int k = 0; k < 3; ++k) {
      if (!h->frame->hasChannel(named.first + k))
        throw py::key_error(std::string("channel '") + named.name + "' is not (wholly) in " + path_);
    }
    throw py::value_error("the frame was opened with header_only=True and holds no channel data");
  }
  const int64_t mark = reportLog().mark();
  const float* parts[3];
  {
    py::gil_scoped_release nogil;
    for (int k = 0; k < 3; ++k) parts[k] = h->frame->getChannel(named.first + k);
  }
  for (int k = 0; k < 3; ++k) {
    if (parts[k]) continue;
    if (!h->frame->hasChannel(named.first + k)) {
      reportLog().flush();
      throw py::key_error(std::string("channel '") + named.name + "' is not (wholly) in " + path_);
    }
    raiseCacheError("cannot decode channel '" + channelName(named.first + k) + "' of " + path_, path_, mark);
  }
  reportLog().flush();
  int size[3];
  h->frame->getGridSize(size);
  const py::ssize_t nx = size[0], ny = size[1], nz = size[2];
  py::array_t<float> out({nz, ny, nx, py::ssize_t(3)});
  float* o = out.mutable_data();
  const size_t cells = size_t(nx) * size_t(ny) * size_t(nz);
  {
    py::gil_scoped_release nogil;
    for (size_t i = 0; i < cells; ++i) {
      o[3 * i] = parts[0][i];
      o[3 * i + 1] = parts[1][i];
      o[3 * i + 2] = parts[2][i];
    }
  }
  return std::move(out);
}

py::list Frame::groups() const {
  const FramePtr h = live();
  py::list out;
  const int n = h->frame->getParticleGroupCount();
  for (int i = 0; i < n; ++i) {
    if (IOstranePrtGroup* g = h->frame->getParticleGroup(i)) out.append(Group(h, g));
  }
  return out;
}

py::object Frame::group(const std::string& name) const {
  const FramePtr h = live();
  IOstranePrtGroup* g = h->frame->findParticleGroup(name.c_str());
  if (!g) throw py::key_error("no particle group '" + name + "' in " + path_);
  return py::cast(Group(h, g));
}

std::string Frame::repr() const {
  if (!handle_) return "<nebloader.Frame " + path_ + " (closed)>";
  int size[3];
  handle_->frame->getGridSize(size);
  return "<nebloader.Frame " + path_ + " " + std::to_string(size[0]) + "x" + std::to_string(size[1]) + "x" +
         std::to_string(size[2]) + ">";
}

// ---- Group ----

std::string Group::name() const { return group_->getName() ? group_->getName() : ""; }

int Group::count() const { return group_->getParticleCount(); }

py::list Group::slots() const {
  py::list out;
  for (int s = 0; s < kSlots; ++s)
    if (group_->hasChannel(s) && group_->getBytesPerParticle(s) > 0) out.append(s);
  return out;
}

py::object Group::channel(int slot) const {
  if (slot < 0 || slot >= kSlots) throw py::value_error("particle slots are 0..31");
  if (!group_->hasChannel(slot))
    throw py::key_error("slot " + std::to_string(slot) + " is not in group '" + name() + "'");
  const int bytes = group_->getBytesPerParticle(slot);
  if (bytes <= 0) throw py::value_error("slot " + std::to_string(slot) + " holds no per-particle data");
  // Type codes: 10 float, 7 64-bit identifier, 6 integer; any other slot is raw words.
  py::dtype dtype = py::dtype::of<uint32_t>();
  switch (group_->getChannelDataType(slot)) {
    case 10: dtype = py::dtype::of<float>(); break;
    case 7: dtype = py::dtype::of<int64_t>(); break;
    case 6: dtype = py::dtype::of<int32_t>(); break;
    default: break;
  }
  const py::ssize_t item = dtype.itemsize();
  const py::ssize_t components = bytes / item;
  const py::ssize_t n = count();
  std::vector<py::ssize_t> shape = components == 1 ? std::vector<py::ssize_t>{n} : std::vector<py::ssize_t>{n, components};
  py::array out(dtype, shape);
  char* o = static_cast<char*>(out.mutable_data());
  const int64_t mark = reportLog().mark();
  bool ok = true;
  {
    py::gil_scoped_release nogil;
    for (py::ssize_t i = 0; i < n && ok; ++i) ok = group_->getParticleValue(static_cast<int>(i), slot, o + i * bytes);
  }
  if (ok) reportLog().flush();
  if (!ok) {
    raiseCacheError("cannot read slot " + std::to_string(slot) + " of particle group '" + name() + "'",
                    std::string(), mark);
  }
  return std::move(out);
}

py::object Group::optionalChannel(int slot) const {
  if (!group_->hasChannel(slot)) return py::none();
  return channel(slot);
}

py::object Group::find(long long id) const {
  int index;
  {
    py::gil_scoped_release nogil;
    index = group_->findParticleById(id);
  }
  if (index < 0) return py::none();
  return py::int_(index);
}

std::string Group::repr() const {
  return "<nebloader.Group '" + name() + "' " + std::to_string(count()) + " particles>";
}

}  // namespace NebPy
