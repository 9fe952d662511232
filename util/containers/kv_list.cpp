// Circular singly linked list; see kv_list.h.
#include "util/containers/kv_list.h"

KvObject::~KvObject() = default;
int16_t KvObject::compare(const KvObject*) const { return 0; }

KvNode::~KvNode() = default;

KvList::~KvList() = default;

void KvList::insert(KvNode* node) {
  if (!tail_) {
    node->next_ = node;
    tail_ = node;
  } else {
    node->next_ = tail_->next_;
    tail_->next_ = node;
  }
  ++count_;
}

void KvList::append(KvNode* node) {
  insert(node);
  tail_ = node;
}

void KvList::insertAtPos(KvNode* node, uint32_t pos) {
  if (pos == 0 || !tail_) {
    insert(node);
    return;
  }
  if (pos >= count_) {
    append(node);
    return;
  }
  KvNode* before = tail_->next_;
  for (uint32_t i = 1; i < pos; ++i) before = before->next_;
  node->next_ = before->next_;
  before->next_ = node;
  ++count_;
}

void KvList::unlink(KvNode* node) {
  if (!tail_ || !node || !node->next_) return;
  // Find the predecessor, walking at most once round the ring so that a node
  // that belongs to another list cannot make us loop.
  KvNode* before = tail_;
  uint32_t steps = 0;
  while (before->next_ != node) {
    before = before->next_;
    if (++steps > count_) return;
  }
  if (node == before) {
    tail_ = nullptr;  // it was alone
  } else {
    before->next_ = node->next_;
    if (node == tail_) tail_ = before;
  }
  node->next_ = nullptr;
  --count_;
  if (cursor_ == node) cursor_ = nullptr;
}

void KvList::deleteNodes() {
  while (KvNode* node = removeFirstNode()) delete node;
}

KvNode* KvList::getFirstNode() {
  cursor_ = tail_ ? tail_->next_ : nullptr;
  return cursor_;
}

KvNode* KvList::getLastNode() {
  cursor_ = tail_;
  return cursor_;
}

KvNode* KvList::getNextNode() {
  if (!cursor_) return getFirstNode();
  if (cursor_ == tail_) {
    cursor_ = nullptr;
    return nullptr;
  }
  cursor_ = cursor_->next_;
  return cursor_;
}

KvNode* KvList::getNodeAtPos(uint32_t pos) {
  KvNode* node = getFirstNode();
  for (uint32_t i = 0; i < pos && node; ++i) node = getNextNode();
  return node;
}

KvNode* KvList::removeFirstNode() {
  KvNode* node = peekFirst();
  if (node) unlink(node);
  return node;
}

KvNode* KvList::removeLastNode() {
  KvNode* node = tail_;
  if (node) unlink(node);
  return node;
}

void KvList::moveLastNodeToPos(uint32_t pos) {
  KvNode* node = removeLastNode();
  if (node) insertAtPos(node, pos);
}
