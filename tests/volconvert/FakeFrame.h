// An INeb made in memory for the export and frame-loop tests.
#pragma once

#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "nebloader.h"

class FakeFrame : public INeb {
 public:
  FakeFrame(int nx, int ny, int nz) : size_{nx, ny, nz} {
    const float identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    std::memcpy(transform_, identity, sizeof transform_);
  }
  int64_t cells() const {
    if (size_[0] <= 0 || size_[1] <= 0 || size_[2] <= 0) return 0;
    return int64_t(size_[0]) * size_[1] * size_[2];
  }
  // Channel filled from f(linear index).
  template <class F>
  std::vector<float>& addChannel(int channel, F f) {
    std::vector<float>& v = channels_[channel];
    v.resize(size_t(cells()));
    for (int64_t j = 0; j < cells(); ++j) v[size_t(j)] = f(j);
    return v;
  }
  // Present according to hasChannel, but getChannel gives null (undecodable).
  void addBrokenChannel(int channel) { broken_.insert(channel); }
  void setTransform(const float t[12]) { std::memcpy(transform_, t, sizeof transform_); }
  const std::vector<float>& channel(int c) const { return channels_.at(c); }
  int getChannelCalls = 0;

  const float* getChannel(int channel) override {
    ++getChannelCalls;
    auto it = channels_.find(channel);
    if (it == channels_.end()) return nullptr;
    static const float none = 0.0f;  // a present channel of an empty grid is still non-null
    return it->second.empty() ? &none : it->second.data();
  }
  int hasChannel(int channel) override { return channels_.count(channel) || broken_.count(channel) ? 1 : 0; }
  void getGridSize(int out[3]) override { std::memcpy(out, size_, sizeof size_); }
  void getTransform(float out[12]) override { std::memcpy(out, transform_, sizeof transform_); }
  int getParticleGroupCount() override { return 0; }
  IOstranePrtGroup* getParticleGroup(int) override { return nullptr; }
  IOstranePrtGroup* findParticleGroup(const char*) override { return nullptr; }

 private:
  int size_[3];
  float transform_[12];
  std::map<int, std::vector<float>> channels_;
  std::set<int> broken_;
};
