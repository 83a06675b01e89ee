#include "list/NacList.h"

#include <pthread.h>

#include <new>

#include "support/Syslog.h"
#include "support/ThrownText.h"

namespace {

// Spacing of the order numbers, so that an insertion between two nodes rarely has to
// renumber the list.
constexpr std::int64_t kOrderGap = std::int64_t{1} << 20;

// Made before the lock is taken: allocation needs no lock, and a failure then leaves the
// lock as it was.
CNacNode* MakeNode() {
  try {
    return new CNacNode;
  } catch (const std::bad_alloc&) {
    throw ThrownText("I failed in making of CNacNode.");
  }
}

}  // namespace

CNacList::CNacList() {
  sentinel_.next_ = &sentinel_;
  sentinel_.previous_ = &sentinel_;
}

CNacList::~CNacList() { RemoveAll(false); }

void CNacList::Lock() { mutex_.lock(); }

void CNacList::Unlock() {
  // The mutex is a recursive pthread mutex, which refuses a release by a thread that does
  // not hold it instead of corrupting its state; that refusal is worth a line.
  if (pthread_mutex_unlock(mutex_.native_handle()) != 0) {
    SyslogSend(4, "I failed in releasing of Mutex.");
  }
}

bool CNacList::IsEmpty(bool locked) {
  Hold hold(*this, locked);
  return sentinel_.next_ == &sentinel_;
}

CNacNode* CNacList::Search(const void* key, CNacPredicate predicate, bool locked) {
  Hold hold(*this, locked);
  return SearchFrom(FirstOrNone(), key, predicate, true);
}

CNacNode* CNacList::SearchFrom(CNacNode* start, const void* key, CNacPredicate predicate, bool locked) {
  Hold hold(*this, locked);
  if (start == nullptr) return nullptr;
  for (CNacNode* node = start; node != &sentinel_; node = node->next_) {
    if (predicate(node->record_, key) != 0) return node;
  }
  return nullptr;
}

void CNacList::InsertAfter(CNacNode* node, CNacListItem* record, bool locked) {
  CNacNode* fresh = MakeNode();
  Hold hold(*this, locked);
  Link(node, fresh, record);
}

void CNacList::AddHead(CNacListItem* record, bool locked) {
  CNacNode* fresh = MakeNode();
  Hold hold(*this, locked);
  Link(&sentinel_, fresh, record);
}

void CNacList::AddTail(CNacListItem* record, bool locked) {
  CNacNode* fresh = MakeNode();
  Hold hold(*this, locked);
  Link(sentinel_.previous_, fresh, record);
}

// In the removals the node is declared before the guard, so that it and its record are
// destroyed after the lock has been given back.
void CNacList::Remove(CNacNode* node, bool locked) {
  std::unique_ptr<CNacNode> removed;
  Hold hold(*this, locked);
  removed = Detach(node);
}

void CNacList::RemoveHead(bool locked) {
  std::unique_ptr<CNacNode> removed;
  Hold hold(*this, locked);
  removed = Detach(FirstOrNone());
}

void CNacList::RemoveTail(bool locked) {
  std::unique_ptr<CNacNode> removed;
  Hold hold(*this, locked);
  removed = Detach(LastOrNone());
}

void CNacList::RemoveData(const CNacListItem* record, bool locked) {
  std::unique_ptr<CNacNode> removed;
  Hold hold(*this, locked);
  removed = Detach(FindRecord(record));
}

void CNacList::RemoveAll(bool locked) {
  CNacNode* chain = nullptr;
  {
    Hold hold(*this, locked);
    if (sentinel_.next_ == &sentinel_) return;
    chain = sentinel_.next_;
    sentinel_.previous_->next_ = nullptr;
    sentinel_.next_ = &sentinel_;
    sentinel_.previous_ = &sentinel_;
    for (const CNacNode* node = chain; node != nullptr; node = node->next_) CountDown();
    if (observer_ != nullptr) observer_->AllUnlinked();
  }
  while (chain != nullptr) {
    CNacNode* next = chain->next_;
    delete chain;
    chain = next;
  }
}

std::unique_ptr<CNacNode> CNacList::Unlink(CNacNode* node, bool locked) {
  Hold hold(*this, locked);
  return Detach(node);
}

std::unique_ptr<CNacNode> CNacList::UnlinkHead(bool locked) {
  Hold hold(*this, locked);
  return Detach(FirstOrNone());
}

std::unique_ptr<CNacNode> CNacList::UnlinkTail(bool locked) {
  Hold hold(*this, locked);
  return Detach(LastOrNone());
}

std::unique_ptr<CNacNode> CNacList::UnlinkData(const CNacListItem* record, bool locked) {
  Hold hold(*this, locked);
  return Detach(FindRecord(record));
}

CNacNode* CNacList::GetHead(bool locked) {
  Hold hold(*this, locked);
  return FirstOrNone();
}

CNacNode* CNacList::GetNext(const CNacNode* node, bool locked) {
  Hold hold(*this, locked);
  if (node == nullptr || node->next_ == &sentinel_) return nullptr;
  return node->next_;
}

std::int32_t CNacList::GetCount(bool locked) {
  Hold hold(*this, locked);
  return count_;
}

CNacNode* CNacList::FindRecord(const CNacListItem* record) {
  for (CNacNode* node = sentinel_.next_; node != &sentinel_; node = node->next_) {
    if (node->record_ == record) return node;
  }
  return nullptr;
}

void CNacList::Link(CNacNode* after, CNacNode* node, CNacListItem* record) {
  node->record_ = record;
  node->previous_ = after;
  node->next_ = after->next_;
  after->next_->previous_ = node;
  after->next_ = node;
  ++count_;
  const bool atHead = after == &sentinel_;
  const bool atTail = node->next_ == &sentinel_;
  if (atHead && atTail) {
    node->order_ = 0;
  } else if (atTail) {
    node->order_ = after->order_ + kOrderGap;
  } else if (atHead) {
    node->order_ = node->next_->order_ - kOrderGap;
  } else {
    node->order_ = after->order_ + (node->next_->order_ - after->order_) / 2;
    if (node->order_ == after->order_) Renumber();
  }
  if (observer_ != nullptr) observer_->NodeLinked(*node);
}

void CNacList::Renumber() {
  std::int64_t order = 0;
  for (CNacNode* node = sentinel_.next_; node != &sentinel_; node = node->next_) {
    node->order_ = order;
    order += kOrderGap;
  }
}

std::unique_ptr<CNacNode> CNacList::Detach(CNacNode* node) {
  if (node == nullptr || node == &sentinel_) return nullptr;
  if (observer_ != nullptr) observer_->NodeUnlinked(*node);
  node->previous_->next_ = node->next_;
  node->next_->previous_ = node->previous_;
  node->previous_ = nullptr;
  node->next_ = nullptr;
  CountDown();
  return std::unique_ptr<CNacNode>(node);
}

void CNacList::CountDown() {
  if (--count_ < 0) {
    SyslogSend(4, "Number of the registration abnormality occurred at the time of deletion.");
  }
}
