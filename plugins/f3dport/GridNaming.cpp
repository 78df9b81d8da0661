#include "plugins/f3dport/GridNaming.h"

#include <algorithm>
#include <map>

namespace F3dPort {

std::vector<GridName> gridNames(const FileLayout& layout) {
  // Partition groups in byte order of their names (std::string compares as memcmp does).
  std::vector<size_t> order(layout.partitions.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return layout.partitions[a].group < layout.partitions[b].group;
  });
  // Which layer names occur in more than one group, and which group keeps the plain name.
  std::map<std::string, size_t> firstGroup;
  std::map<std::string, bool> shared;
  for (size_t p : order)
    for (const Layer& l : layout.partitions[p].layers) {
      auto it = firstGroup.find(l.name);
      if (it == firstGroup.end())
        firstGroup.emplace(l.name, p);
      else if (layout.partitions[it->second].group != layout.partitions[p].group)
        shared[l.name] = true;
    }

  static const char* const kAxes[3] = {"(x)", "(y)", "(z)"};
  std::vector<GridName> out;
  for (size_t p : order) {
    const Partition& part = layout.partitions[p];
    for (size_t i = 0; i < part.layers.size(); ++i) {
      const Layer& l = part.layers[i];
      const bool plain = !shared.count(l.name) || firstGroup[l.name] == p;
      const std::string base = plain ? l.name : part.group + "/" + l.name;
      const bool vector = l.components == 3 || l.cls == LayerClass::Mac;
      for (int c = vector ? 0 : -1; c < (vector ? 3 : 0); ++c) {
        GridName g;
        g.name = c < 0 ? base : base + kAxes[c];
        g.partition = p;
        g.layer = i;
        g.component = c;
        g.flag = c < 0 ? 0 : 1;
        g.readable = l.unreadable.empty();
        out.push_back(std::move(g));
      }
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const GridName& a, const GridName& b) { return a.name < b.name; });
  return out;
}

const GridName* findGrid(const std::vector<GridName>& names, const char* name) {
  if (!name) return nullptr;
  for (const GridName& g : names)
    if (g.name == name) return &g;
  return nullptr;
}

}  // namespace F3dPort
