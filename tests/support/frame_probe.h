// What tests read from a surface's pending frame, by name, so that tests
// state what they expect rather than walk the records.
#pragma once

#include <vector>

#include "graphics/frame.h"

// Items queued on the surface and not yet drawn (both lists).
inline UINT PendingItemCount(const Graphics* g) {
  return g->opaqueItems.count + g->translucentItems.count;
}

// The pending items of one list, in submission order.
inline std::vector<const DrawItem*> PendingItems(const PBuffer& list) {
  std::vector<const DrawItem*> items;
  for (DWORD i = 0; i < list.count; ++i)
    items.push_back(static_cast<const DrawItem*>(list.entries[i]));
  return items;
}
