#pragma once

// What a guarded list can carry: the registries hold records, the queues hold buffers and
// requests. The list owns what it carries and destroys it through this destructor.
class CNacListItem {
 public:
  CNacListItem() = default;
  CNacListItem(const CNacListItem&) = default;
  CNacListItem& operator=(const CNacListItem&) = default;
  virtual ~CNacListItem() = default;
};
