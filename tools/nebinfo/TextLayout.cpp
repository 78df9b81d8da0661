#include <algorithm>
#include <cstdio>
#include <vector>

#include "tools/nebinfo/TextLayout.h"

namespace NebInfo {

using NebFrameInfo::ChannelSummary;
using NebFrameInfo::FrameSummary;
using NebFrameInfo::GridBlockZones;
using NebFrameInfo::GroupSummary;
using NebFrameInfo::ParticleChannelSummary;
using NebFrameInfo::ValueStats;

namespace {

std::string format(const char* fmt, double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, fmt, v);
  return buffer;
}

std::string number(double v) { return format("%.6g", v); }

// Rows of cells printed with every column as wide as its widest cell; columns flagged in
// `right` are right-aligned.
std::string table(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right,
                  const char* indent) {
  std::vector<size_t> width;
  for (const auto& row : rows) {
    if (width.size() < row.size()) width.resize(row.size(), 0);
    for (size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  std::string out;
  for (const auto& row : rows) {
    std::string line = indent;
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(width[c] - row[c].size(), ' ');
      const bool alignRight = c < right.size() && right[c];
      if (c > 0) line += "  ";
      line += alignRight ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out += line + "\n";
  }
  return out;
}

std::string zoneText(const GridBlockZones& z) {
  std::string out = std::to_string(z.zoneCount) + (z.zoneCount == 1 ? " zone" : " zones");
  if (z.quantizedZones > 0) {
    out += ", step " + number(z.finestStep);
    if (z.coarsestStep != z.finestStep) out += ".." + number(z.coarsestStep);
    if (z.rawZones + z.constantZones > 0)
      out += " (" + std::to_string(z.constantZones) + " constant, " + std::to_string(z.rawZones) + " raw)";
  } else if (z.rawZones > 0 && z.constantZones > 0) {
    out += " (" + std::to_string(z.constantZones) + " constant, " + std::to_string(z.rawZones) + " raw)";
  }
  if (z.otherZones > 0) out += ", " + std::to_string(z.otherZones) + " unreadable";
  return out;
}

const std::vector<std::string> kStatsHeader = {"min", "max", "mean", "non-zero"};

void addStats(std::vector<std::string>& row, const ValueStats& s) {
  if (!s.present) {
    row.insert(row.end(), {"-", "-", "-", "-"});
    return;
  }
  row.push_back(number(s.minimum));
  row.push_back(number(s.maximum));
  row.push_back(number(s.mean));
  std::string nz = std::to_string(s.nonZero);
  if (s.nonFinite > 0) nz += " (" + std::to_string(s.nonFinite) + " non-finite)";
  row.push_back(nz);
}

}  // namespace

std::string humanSize(int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes) / 1024.0;
  int u = 0;
  while (v >= 1024.0 && u < 3) {
    v /= 1024.0;
    ++u;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, v < 10.0 ? "%.2f %s" : "%.1f %s", v, units[u]);
  return buffer;
}

std::string textLayout(const FrameSummary& s, bool statistics) {
  std::string out = s.path + "\n";
  if (s.foreign) {
    out += "  imported through the plug-in\n";
  } else {
    out += "  nebu2 version " + std::to_string(s.version) + ", frame " +
           (s.hasFrameNumber ? std::to_string(s.frameNumber) : std::string("-")) + "\n";
  }
  const int64_t cells = int64_t(s.gridSize[0]) * s.gridSize[1] * s.gridSize[2];
  out += "  grid " + std::to_string(s.gridSize[0]) + " x " + std::to_string(s.gridSize[1]) + " x " +
         std::to_string(s.gridSize[2]) + " (" + std::to_string(cells) + " cells), voxel size ";
  if (!s.hasVoxelSize) {
    out += "- (singular transform)";
  } else if (s.voxelSize[0] == s.voxelSize[1] && s.voxelSize[1] == s.voxelSize[2]) {
    out += number(s.voxelSize[0]);
  } else {
    out += number(s.voxelSize[0]) + " x " + number(s.voxelSize[1]) + " x " + number(s.voxelSize[2]);
  }
  out += "\n  transform";
  for (int r = 0; r < 3; ++r)
    out += " [" + number(s.transform[3 * r]) + " " + number(s.transform[3 * r + 1]) + " " +
           number(s.transform[3 * r + 2]) + "]";
  out += " offset [" + number(s.transform[9]) + " " + number(s.transform[10]) + " " + number(s.transform[11]) + "]\n";

  int64_t storedTotal = 0;
  for (const ChannelSummary& c : s.channels) storedTotal += c.storedBytes > 0 ? c.storedBytes : 0;
  out += "  channels: " + std::to_string(s.channels.size()) + ", stored " + humanSize(storedTotal) + "\n";
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"name", "ch", "stored", "storage", "zones"});
  if (statistics) rows.back().insert(rows.back().end(), kStatsHeader.begin(), kStatsHeader.end());
  for (const ChannelSummary& c : s.channels) {
    std::vector<std::string> row = {c.name.empty() ? "-" : c.name, std::to_string(c.channel),
                                    c.storedBytes >= 0 ? humanSize(c.storedBytes) : "-", c.storage};
    if (c.storage == "derived") {
      row.push_back(c.derivedFrom == 4 ? "from 4, 5, 6" : "from " + std::to_string(c.derivedFrom));
    } else if (c.storedBytes >= 0 && c.storage != "zip") {
      row.push_back(zoneText(c.zones));
    } else {
      row.push_back("");
    }
    if (statistics) addStats(row, c.stats);
    rows.push_back(row);
  }
  if (!s.channels.empty()) out += table(rows, {false, true, true, false, false, true, true, true, true}, "    ");

  out += "  particle groups: " + std::to_string(s.groups.size()) + "\n";
  for (const GroupSummary& g : s.groups) {
    out += "  group \"" + g.name + "\": " + std::to_string(g.particleCount) + " particles" +
           (g.hasPositions ? "" : " (no positions)");
    if (g.hasIdRange) out += ", ids " + std::to_string(g.idMinimum) + ".." + std::to_string(g.idMaximum);
    out += "\n";
    std::vector<std::vector<std::string>> prow;
    prow.push_back({"slot", "name", "type", "comps", "stored", "storage", "zones"});
    if (statistics) prow.back().insert(prow.back().end(), kStatsHeader.begin(), kStatsHeader.end());
    for (const ParticleChannelSummary& c : g.channels) {
      const char* type = c.type == 10 ? "float" : c.type == 7 ? "int64" : c.type == 6 ? "int32" : "word";
      std::vector<std::string> row = {std::to_string(c.slot), c.name.empty() ? "-" : c.name, type,
                                      std::to_string(c.components),
                                      humanSize(c.storedBytes), c.storage,
                                      c.method == 2 || c.method == 3 ? zoneText(c.zones) : ""};
      if (statistics) addStats(row, c.stats);
      prow.push_back(row);
    }
    if (!g.channels.empty()) out += table(prow, {true, false, false, true, true, false, false, true, true, true, true}, "    ");
  }
  return out;
}

std::string checkLayout(const FrameSummary& s) {
  std::string out = (s.failures.empty() ? "ok   " : "BAD  ") + s.path + "\n";
  for (const std::string& f : s.failures) out += "     " + f + "\n";
  return out;
}

}  // namespace NebInfo
