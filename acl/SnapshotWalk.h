#pragma once

#include "list/NacList.h"
#include "list/NacNode.h"

// Walks a walk's own snapshot from the head, calling visit for each record until it gives
// false. The snapshot's lock is taken only to step from node to node, never across a
// visit: a visit may take a registry's lock, and a snapshot is filled with the registry's
// lock taken first. The snapshot belongs to the walk's thread, so nothing changes it
// meanwhile.
template <class Record, class Visit>
void WalkSnapshot(CNacList& snapshot, Visit visit) {
  CNacNode* next = nullptr;
  for (CNacNode* node = snapshot.GetHead(false); node != nullptr; node = next) {
    next = snapshot.GetNext(node, false);
    if (!visit(*node->RecordAs<Record>())) return;
  }
}
