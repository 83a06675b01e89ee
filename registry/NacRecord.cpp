#include "registry/NacRecord.h"

CNacRecord::~CNacRecord() = default;

CNacRecord& CNacRecord::operator=(const CNacRecord& other) {
  added = other.added;
  deleted = other.deleted;
  return *this;
}
