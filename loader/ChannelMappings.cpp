#include "loader/ChannelMappings.h"

#include <cstdio>

#include "loader/ImportPlugins.h"
#include "zutils/FramePattern.h"

namespace CacheIO {

namespace {

struct TableEntry {
  int channel;
  const char* name;
};

// Order matters: the native mapping is written in this order.
const TableEntry kNative[] = {
    {1, "Temperature_ost"},       {2, "Smoke_ost"},           {4, "VelocityX_ost"},
    {5, "VelocityY_ost"},         {6, "VelocityZ_ost"},       {7, "ColorR_ost"},
    {8, "ColorG_ost"},            {9, "ColorB_ost"},          {10, "Fuel_ost"},
    {14, "WaveletEnergy_ost"},    {19, "WaveletU_ost"},       {20, "WaveletV_ost"},
    {21, "WaveletW_ost"},         {15, "AdvectionOriginX_ost"}, {16, "AdvectionOriginY_ost"},
    {17, "AdvectionOriginZ_ost"},
};

// Field3D names. Traps kept as the simulator's exporters write them: "VelocitiesX" feeds 6
// and "VelocitiesZ" feeds 4 (x and z exchanged); "velocity(Y)" / "velocity(Z)" are
// capitalised while "velocity(x)" is not.
const TableEntry kF3D[] = {
    {1, "temperature"},     {1, "Temperature"},       {1, "particle_count_per_cell"},
    {2, "density"},         {2, "Density"},           {2, "Smoke"},
    {4, "v_mac(x)"},        {4, "velocity(x)"},       {4, "Velocity(x)"},
    {4, "fluid_velocity(x)"}, {4, "VelocitiesZ"},
    {5, "v_mac(y)"},        {5, "velocity(Y)"},       {5, "Velocity(y)"},
    {5, "fluid_velocity(y)"}, {5, "VelocitiesY"},
    {6, "v_mac(z)"},        {6, "velocity(Z)"},       {6, "Velocity(z)"},
    {6, "fluid_velocity(z)"}, {6, "VelocitiesX"},
    {7, "ColorR"},          {7, "TextureCoord(x)"},
    {8, "ColorG"},          {8, "TextureCoord(y)"},
    {9, "ColorB"},          {9, "TextureCoord(z)"},
    {10, "fuel"},           {10, "FireFuel"},
};

// OpenVDB names. Traps: "VelocitiesY" feeds 6 and "VelocitiesZ" feeds 5 (y and z
// exchanged) while "VelocitiesX" stays on 4; "fluid_density" and "surface" feed the
// temperature channel 1, not smoke; there is no "Density".
const TableEntry kVDB[] = {
    {1, "Temperature_ost"}, {1, "temperature"}, {1, "Temperature"}, {1, "fluid_density"},
    {1, "surface"},         {1, "particle_count_per_cell"},
    {2, "Smoke_ost"},       {2, "density"},     {2, "Smoke"},
    {4, "VelocityX_ost"},   {4, "vel.x"},       {4, "vel(x)"},      {4, "V(x)"},
    {4, "velocity_x"},      {4, "VelocitiesX"},
    {5, "VelocityY_ost"},   {5, "vel.y"},       {5, "vel(y)"},      {5, "V(y)"},
    {5, "velocity_y"},      {5, "VelocitiesZ"},
    {6, "VelocityZ_ost"},   {6, "vel.z"},       {6, "vel(z)"},      {6, "V(z)"},
    {6, "velocity_z"},      {6, "VelocitiesY"},
    {7, "ColorR_ost"},      {7, "color(x)"},    {7, "Cd(x)"},       {7, "Cd.x"},
    {7, "ColorR"},          {7, "rest.x"},
    {8, "ColorG_ost"},      {8, "color(y)"},    {8, "Cd(y)"},       {8, "Cd.y"},
    {8, "ColorG"},          {8, "rest.y"},
    {9, "ColorB_ost"},      {9, "color(z)"},    {9, "Cd(z)"},       {9, "Cd.z"},
    {9, "ColorB"},          {9, "rest.z"},
    {10, "Fuel_ost"},       {10, "FireFuel"},   {10, "fuel"},
    {14, "WaveletEnergy_ost"},
    {15, "AdvectionOriginX_ost"}, {16, "AdvectionOriginY_ost"}, {17, "AdvectionOriginZ_ost"},
    {19, "WaveletU_ost"},   {20, "WaveletV_ost"},  {21, "WaveletW_ost"},
};

template <size_t N>
int lookup(const TableEntry (&table)[N], const char* name) {
  for (const TableEntry& e : table) {
    if (std::strcmp(e.name, name) == 0) return e.channel;
  }
  return -1;
}

}  // namespace

int ParseChannelMappings(const char* text, GridMappingList& list) {
  if (!text) return 1;
  const char* p = text;
  std::string number;
  std::string name;
  while (*p) {
    number.clear();
    while (*p && *p != ',') number += *p++;
    if (!*p) break;  // cut before the comma: entry dropped
    ++p;
    name.clear();
    while (*p && *p != ';') name += *p++;
    if (!*p) break;  // cut before the semicolon: entry dropped
    ++p;
    GridMapping entry(name.c_str(), std::atoi(number.c_str()), 1.0f);
    list.Append(entry);
  }
  return 1;
}

std::string ComposeChannelMappings(const GridMappingList& list) {
  std::string out;
  char number[16];
  for (int i = 0; i < list.size; ++i) {
    std::snprintf(number, sizeof number, "%d,", list.data[i].channel);
    out += number;
    if (list.data[i].name) out += list.data[i].name;
    out += ';';
  }
  return out;
}

std::string NativeChannelMappings() {
  GridMappingList list;
  for (const TableEntry& e : kNative) list.Append(GridMapping(e.name, e.channel));
  return ComposeChannelMappings(list);
}

int TableChannelForName(const char* name, bool vdb) {
  if (!name) return -1;
  return vdb ? lookup(kVDB, name) : lookup(kF3D, name);
}

std::string GenerateDefaultChannelMappings(const char* path) {
  if (!path || !*path) return NativeChannelMappings();

  AvailableChannelList found;
  SurveyChannels(path, found);
  if (found.size == 0) return NativeChannelMappings();

  const std::string ext = ZUtils::fileExtensionLower(path);
  bool vdb;
  if (ext == "vdb") {
    vdb = true;
  } else if (ext == "f3d") {
    vdb = false;
  } else {
    return std::string();
  }

  GridMappingList result;
  const AvailableChannels* smokeCandidate = nullptr;
  bool firstAsideSeen = false;
  for (int i = 0; i < found.size; ++i) {
    const AvailableChannels& ch = found.data[i];
    if (!ch.name) continue;
    int channel = TableChannelForName(ch.name, vdb);
    if (channel >= 0) {
      result.Append(GridMapping(ch.name, channel));
    } else if (!firstAsideSeen && ch.flag == 0) {
      // Only the first unflagged grid outside the table is a smoke candidate.
      smokeCandidate = &ch;
      firstAsideSeen = true;
    }
  }
  if (smokeCandidate) {
    bool hasSmoke = false;
    for (int i = 0; i < result.size; ++i) hasSmoke = hasSmoke || result.data[i].channel == 2;
    if (!hasSmoke) result.Append(GridMapping(smokeCandidate->name, 2));
  }
  return ComposeChannelMappings(result);
}

}  // namespace CacheIO
