// KvList: a circular singly linked list of KvNode. The list keeps its tail,
// whose link names the first node. It owns its nodes only through
// deleteNodes(). There is one navigation cursor per list, so two walks over
// one list at the same time disturb each other.
#pragma once

#include "util/memory/kv_object.h"

class KV_UTIL_API KvNode : public KvObject {
 public:
  KvNode() = default;
  ~KvNode() override;
  KvNode* getNext() const { return next_; }

 private:
  friend class KvList;
  KvNode* next_ = nullptr;  // null while unlinked
};

class KV_UTIL_API KvList : public KvObject {
 public:
  KvList() = default;
  ~KvList() override;

  // Makes node the first node.
  void insert(KvNode* node);
  // Makes node the last node.
  void append(KvNode* node);
  // 0 inserts, count appends, otherwise after the node at pos - 1.
  void insertAtPos(KvNode* node, uint32_t pos);
  // Removes node; a node that is not in the list is left alone.
  void unlink(KvNode* node);
  // Unlinks and deletes every node.
  void deleteNodes();

  KvNode* getFirstNode();
  KvNode* getLastNode();
  // The node after the cursor; the first node when there is no cursor; null
  // (and no cursor) after the tail.
  KvNode* getNextNode();
  KvNode* getNodeAtPos(uint32_t pos);
  KvNode* removeFirstNode();
  KvNode* removeLastNode();
  void moveLastNodeToPos(uint32_t pos);

  uint32_t getCount() const { return count_; }
  int isEmpty() const { return count_ == 0; }
  // First and last node without moving the cursor.
  KvNode* peekFirst() const { return tail_ ? tail_->next_ : nullptr; }
  KvNode* peekLast() const { return tail_; }

  // Visits every node in order, as Node, without moving the cursor; stops
  // at the first visit that returns false. Visits must not unlink nodes.
  template <class Node, class Visit>
  bool forEach(Visit visit) const {
    for (KvNode* node = peekFirst(); node; node = node == tail_ ? nullptr : node->next_)
      if (!visit(static_cast<Node*>(node))) return false;
    return true;
  }

 private:
  KvNode* tail_ = nullptr;
  uint32_t count_ = 0;
  KvNode* cursor_ = nullptr;
};
