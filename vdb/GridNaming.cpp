#include "vdb/GridNaming.h"

namespace NebVdb {

namespace {

struct Row {
  int channels[3];
  int components;
  const char* houdini;
  const char* blender;
  const char* native[3];
  openvdb::VecType vecType;
  bool fog;
};

const Row kRows[] = {
    {{2, -1, -1}, 1, "density", "density", {"Smoke_ost"}, openvdb::VEC_INVARIANT, true},
    {{1, -1, -1}, 1, "temperature", "temperature", {"Temperature_ost"}, openvdb::VEC_INVARIANT, false},
    {{10, -1, -1}, 1, "flame", "flame", {"Fuel_ost"}, openvdb::VEC_INVARIANT, true},
    {{4, 5, 6}, 3, "vel", "velocity", {"VelocityX_ost", "VelocityY_ost", "VelocityZ_ost"},
     openvdb::VEC_CONTRAVARIANT_RELATIVE, false},
    {{7, 8, 9}, 3, "Cd", "color", {"ColorR_ost", "ColorG_ost", "ColorB_ost"}, openvdb::VEC_INVARIANT, false},
    {{3, -1, -1}, 1, "speed", "speed", {"Speed_ost"}, openvdb::VEC_INVARIANT, false},
    {{14, -1, -1}, 1, "wavelet_energy", "wavelet_energy", {"WaveletEnergy_ost"}, openvdb::VEC_INVARIANT, false},
    {{15, 16, 17}, 3, "rest", "rest", {"AdvectionOriginX_ost", "AdvectionOriginY_ost", "AdvectionOriginZ_ost"},
     openvdb::VEC_CONTRAVARIANT_ABSOLUTE, false},
    {{19, 20, 21}, 3, "wavelet_vel", "wavelet_velocity", {"WaveletU_ost", "WaveletV_ost", "WaveletW_ost"},
     openvdb::VEC_CONTRAVARIANT_RELATIVE, false},
};

const char* const kAxis[3] = {"_x", "_y", "_z"};

bool tableChannel(int c) {
  for (const Row& row : kRows)
    for (int i = 0; i < row.components; ++i)
      if (row.channels[i] == c) return true;
  return false;
}

std::string otherName(Preset preset, int c) {
  return preset == Preset::kNative ? "Channel" + std::to_string(c) + "_ost" : "channel_" + std::to_string(c);
}

bool has(uint32_t present, int c) { return c >= 0 && c < 32 && ((present >> c) & 1u) != 0; }

// Applies renames and the selection; appends when selected.
void add(std::vector<GridPlan>& plans, GridPlan plan, const NamingRules& rules) {
  const std::string presetName = plan.name;
  const auto renamed = rules.renames.find(presetName);
  if (renamed != rules.renames.end()) plan.name = renamed->second;
  if (!rules.selection.empty() && !rules.selection.count(presetName) && !rules.selection.count(plan.name)) return;
  plans.push_back(plan);
}

GridPlan scalar(const std::string& name, int channel, bool fog) {
  GridPlan p;
  p.name = name;
  p.channels[0] = channel;
  p.fog = fog;
  return p;
}

// Every name a row can be written under by a preset.
std::vector<std::string> rowNames(const Row& row, Preset preset) {
  if (preset == Preset::kNative) return std::vector<std::string>(row.native, row.native + row.components);
  const std::string base = preset == Preset::kHoudini ? row.houdini : row.blender;
  std::vector<std::string> names{base};
  if (row.components == 3)
    for (const char* axis : kAxis) names.push_back(base + axis);
  return names;
}

}  // namespace

bool presetFromName(const std::string& name, Preset& preset) {
  if (name == "houdini") preset = Preset::kHoudini;
  else if (name == "blender") preset = Preset::kBlender;
  else if (name == "native") preset = Preset::kNative;
  else return false;
  return true;
}

bool isPresetGridName(Preset preset, const std::string& name) {
  for (const Row& row : kRows)
    for (const std::string& n : rowNames(row, preset))
      if (n == name) return true;
  for (int c = 0; c < 32; ++c)
    if (!tableChannel(c) && otherName(preset, c) == name) return true;
  return false;
}

std::vector<GridPlan> planGrids(uint32_t present, const NamingRules& rules) {
  std::vector<GridPlan> plans;
  for (const Row& row : kRows) {
    if (row.components == 1) {
      if (!has(present, row.channels[0])) continue;
      const std::string name = rules.preset == Preset::kNative ? row.native[0]
                               : rules.preset == Preset::kHoudini ? row.houdini
                                                                  : row.blender;
      add(plans, scalar(name, row.channels[0], row.fog), rules);
      continue;
    }
    // Component i of the written vector reads channel order[i] (negated where flip[i]).
    int order[3] = {row.channels[0], row.channels[1], row.channels[2]};
    bool flip[3] = {false, false, false};
    if (rules.zUp && row.vecType != openvdb::VEC_INVARIANT) {
      order[1] = row.channels[2];
      order[2] = row.channels[1];
      flip[1] = true;
    }
    const bool whole = has(present, order[0]) && has(present, order[1]) && has(present, order[2]);
    if (rules.preset != Preset::kNative && whole) {
      GridPlan p;
      p.name = rules.preset == Preset::kHoudini ? row.houdini : row.blender;
      p.components = 3;
      for (int i = 0; i < 3; ++i) {
        p.channels[i] = order[i];
        p.negate[i] = flip[i];
      }
      p.vecType = row.vecType;
      add(plans, p, rules);
      continue;
    }
    const std::vector<std::string> names = rowNames(row, rules.preset);
    for (int i = 0; i < 3; ++i) {
      if (!has(present, order[i])) continue;
      GridPlan p = scalar(rules.preset == Preset::kNative ? names[i] : names[1 + i], order[i], false);
      p.negate[0] = flip[i];
      add(plans, p, rules);
    }
  }
  for (int c = 0; c < 32; ++c)
    if (!tableChannel(c) && has(present, c)) add(plans, scalar(otherName(rules.preset, c), c, false), rules);
  return plans;
}

}  // namespace NebVdb
