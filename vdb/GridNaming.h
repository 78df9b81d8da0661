// Which grids a frame becomes and what they are called.
//
// Channel            houdini          blender           native (volconvert's, split)
//  2 smoke           density   fog    density    fog    Smoke_ost
//  1 temperature     temperature      temperature       Temperature_ost
// 10 fuel            flame     fog    flame      fog    Fuel_ost
//  4-6 velocity      vel       Vec3   velocity   Vec3   VelocityX_ost VelocityY_ost VelocityZ_ost
//  7-9 colour        Cd        Vec3   color      Vec3   ColorR_ost ColorG_ost ColorB_ost
//  3 speed           speed            speed             Speed_ost
// 14 wavelet energy  wavelet_energy   wavelet_energy    WaveletEnergy_ost
// 15-17 adv. origin  rest      Vec3   rest       Vec3   AdvectionOriginX_ost ..Y.. ..Z..
// 19-21 wavelet vec  wavelet_vel Vec3 wavelet_velocity  WaveletU_ost WaveletV_ost WaveletW_ost
// any other c        channel_<c>      channel_<c>       Channel<c>_ost
//
// Vector types (OpenVDB's conventions): velocity and wavelet vector contravariant
// relative (they transform like displacements), advection origin contravariant absolute
// (a position), colour invariant. "fog" grids get the fog-volume class; the others are
// of unknown class. A vector group with a component missing is written as scalar grids
// "<name>_x", "_y", "_z" of the components present. Under native every component is
// its own float grid, as volconvert writes them.
//
// File order: the rows above, top to bottom, then the other channels by number.
//
// Up axis z (NamingRules::zUp): the cache is Y-up; the files turn it +90 degrees about X,
// (x, y, z) -> (x, -z, y), so that Y-up becomes Z-up. The rotation is exact (a permutation
// and a sign). Vectors that live in world space (velocity, advection origin, wavelet
// vector) take the same turn: component 0 reads channel c0, component 1 reads -c2 and
// component 2 reads c1. Split components follow suit ("vel_y" = -channel 6,
// "VelocityZ_ost" = channel 5). Colour is not a direction and stays as it is.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <openvdb/openvdb.h>

namespace NebVdb {

enum class Preset { kHoudini, kBlender, kNative };

// "houdini", "blender", "native"; false for anything else.
bool presetFromName(const std::string& name, Preset& preset);

struct GridPlan {
  std::string name;       // after --rename
  int components = 1;     // 1: float grid of channels[0]; 3: Vec3s grid of channels[0..2]
  int channels[3] = {-1, -1, -1};
  bool negate[3] = {false, false, false};  // component i is -channels[i] (the Z-up turn)
  openvdb::VecType vecType = openvdb::VEC_INVARIANT;
  bool fog = false;
};

struct NamingRules {
  Preset preset = Preset::kHoudini;
  std::map<std::string, std::string> renames;  // preset name -> written name
  std::set<std::string> selection;             // empty: every grid; else preset or written names
  bool zUp = false;                            // turn the Y-up cache to Z-up (see above)
};

// The grids for the channels of `present` (bit c = channel c stored), in file order.
std::vector<GridPlan> planGrids(uint32_t present, const NamingRules& rules);

// True when `name` is a grid name the preset can give (any channel), before renaming.
bool isPresetGridName(Preset preset, const std::string& name);

}  // namespace NebVdb
