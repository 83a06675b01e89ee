#include "list/NacNode.h"

#include "support/FixedPool.h"

namespace {

// Never destroyed: a list that outlives main gives its nodes back at exit.
FixedPool& NodePool() {
  static FixedPool* const pool = new FixedPool(sizeof(CNacNode));
  return *pool;
}

}  // namespace

CNacNode::~CNacNode() { delete record_; }

void* CNacNode::operator new(std::size_t /*size*/) { return NodePool().Allocate(); }

void CNacNode::operator delete(void* node) noexcept { NodePool().Free(node); }
