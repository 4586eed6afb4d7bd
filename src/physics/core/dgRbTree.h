// Red-black tree: the engine's map. Nodes are reference-counted pool elements;
// the tree holds one reference to each. Rebalancing relinks nodes and never
// moves payloads, so a node pointer stays valid while other nodes come and go.
// A removed node that someone else still references survives detached (not
// in the tree, live flag cleared) until its last holder releases it.
//
// The rebalancing, navigation, removal and release code is shared by every
// instance (dgRb* functions on dgRbTreeNode); find, insert and key replacement
// are generated per payload and key type.
#pragma once

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "dgPoolAllocator.h"
#include "dgRef.h"

class dgRbTreeNode : public dgRef {
public:
    static constexpr uint32_t kRedFlag = 0x1u;
    static constexpr uint32_t kInTreeFlag = 0x2u;
    // Flag bits from here up are free for the payload's use.
    static constexpr uint32_t kFirstUserFlag = 0x4u;

    dgRbTreeNode* getLeft() const { return m_left; }
    dgRbTreeNode* getRight() const { return m_right; }
    dgRbTreeNode* getParent() const { return m_parent; }
    dgAllocator* getAllocator() const { return m_allocator; }
    bool isRed() const { return (m_flags & kRedFlag) != 0; }
    bool isInTree() const { return (m_flags & kInTreeFlag) != 0; }
    uint32_t getFlags() const { return m_flags; }
    // Sets or clears payload flag bits; the colour and in-tree bits are kept.
    void setUserFlags(uint32_t mask) { m_flags |= mask & ~(kRedFlag | kInTreeFlag); }
    void clearUserFlags(uint32_t mask) { m_flags &= ~(mask & ~(kRedFlag | kInTreeFlag)); }

protected:
    dgRbTreeNode(dgAllocator* allocator, dgRbTreeNode* parent)
        : m_left(nullptr),
          m_right(nullptr),
          m_parent(parent),
          m_allocator(allocator),
          m_flags(kRedFlag | kInTreeFlag) {}

    // Pool element: destroy in place, return the memory to the node's allocator.
    void deleteThis() override;

private:
    template <class P, class K>
    friend class dgRbTree;
    friend dgRbTreeNode* dgRbMinimum(dgRbTreeNode* node);
    friend dgRbTreeNode* dgRbMaximum(dgRbTreeNode* node);
    friend dgRbTreeNode* dgRbNext(const dgRbTreeNode* node);
    friend dgRbTreeNode* dgRbPrev(const dgRbTreeNode* node);
    friend void dgRbInsertFixup(dgRbTreeNode* node, dgRbTreeNode** root);
    friend void dgRbRemove(dgRbTreeNode* node, dgRbTreeNode** root);
    friend void dgRbFreeTree(dgRbTreeNode* node);
    friend void dgRbReleaseSubtree(dgRbTreeNode* node);
    friend int32_t dgRbCheckSubtree(const dgRbTreeNode* node, const dgRbTreeNode* parent, int32_t* count);
    friend struct dgRbTreeLinks;

    dgRbTreeNode* m_left;
    dgRbTreeNode* m_right;
    dgRbTreeNode* m_parent;
    dgAllocator* m_allocator;
    uint32_t m_flags;
};

// Leftmost / rightmost node of the subtree rooted at node (node non-null).
dgRbTreeNode* dgRbMinimum(dgRbTreeNode* node);
dgRbTreeNode* dgRbMaximum(dgRbTreeNode* node);
// In-order successor / predecessor, or null.
dgRbTreeNode* dgRbNext(const dgRbTreeNode* node);
dgRbTreeNode* dgRbPrev(const dgRbTreeNode* node);
// Rebalances after the red node `node` was hung into the tree; *root is the
// tree's root link and ends black.
void dgRbInsertFixup(dgRbTreeNode* node, dgRbTreeNode** root);
// Unlinks node (clearing its live and in-tree flags and its links) and drops
// the tree's reference to it. The caller decrements the tree's count.
void dgRbRemove(dgRbTreeNode* node, dgRbTreeNode** root);
// Releases every node of the tree that node belongs to. The caller resets the
// tree's count and root.
void dgRbFreeTree(dgRbTreeNode* node);
// Post-order release of a subtree: each node loses its in-tree and live flags,
// its links and the tree's reference.
void dgRbReleaseSubtree(dgRbTreeNode* node);
// Structure check of a subtree hanging below `parent`: parent links, in-tree
// flags, no red node with a red child, equal black height on every path.
// Returns the black height (null leaves count 1) or -1 on a fault; adds the
// node count to *count.
int32_t dgRbCheckSubtree(const dgRbTreeNode* node, const dgRbTreeNode* parent, int32_t* count);

// Key of a half-edge style 64-bit key: high word signed, low word unsigned.
inline int64_t dgRbKey64(int32_t high, uint32_t low) {
    return int64_t((uint64_t(uint32_t(high)) << 32) | uint64_t(low));
}

// Map from Key to Payload. Keys compare with < (use int32_t, uint32_t,
// int64_t, or uintptr_t for addresses). Not copyable; movable.
template <class Payload, class Key>
class dgRbTree {
    static_assert(std::is_integral<Key>::value, "tree keys are integers");

public:
    class Node : public dgRbTreeNode {
    public:
        Payload& getPayload() { return m_payload; }
        const Payload& getPayload() const { return m_payload; }
        Key getKey() const { return m_key; }
        Node* getLeft() const { return static_cast<Node*>(dgRbTreeNode::getLeft()); }
        Node* getRight() const { return static_cast<Node*>(dgRbTreeNode::getRight()); }
        Node* getParent() const { return static_cast<Node*>(dgRbTreeNode::getParent()); }
        // In-order neighbours while the node is in a tree; null at the ends
        // and for detached nodes.
        Node* getNext() const { return static_cast<Node*>(dgRbNext(this)); }
        Node* getPrev() const { return static_cast<Node*>(dgRbPrev(this)); }

    private:
        friend class dgRbTree;
        template <class P>
        Node(dgAllocator* allocator, dgRbTreeNode* parent, P&& payload, Key key)
            : dgRbTreeNode(allocator, parent), m_payload(std::forward<P>(payload)), m_key(key) {}

        Payload m_payload;
        Key m_key;
    };

    // allocator: where the nodes come from; null selects the shared pool of
    // the node size, taken now so that it outlives this tree.
    explicit dgRbTree(dgAllocator* allocator = nullptr)
        : m_count(0),
          m_root(nullptr),
          m_allocator(allocator ? allocator : dgSharedPoolAllocator(sizeof(Node))) {}
    ~dgRbTree() { removeAll(); }
    dgRbTree(const dgRbTree&) = delete;
    dgRbTree& operator=(const dgRbTree&) = delete;
    dgRbTree(dgRbTree&& other) noexcept
        : m_count(other.m_count), m_root(other.m_root), m_allocator(other.m_allocator) {
        other.m_count = 0;
        other.m_root = nullptr;
    }
    dgRbTree& operator=(dgRbTree&& other) noexcept {
        if (this != &other) {
            removeAll();
            m_count = other.m_count;
            m_root = other.m_root;
            m_allocator = other.m_allocator;
            other.m_count = 0;
            other.m_root = nullptr;
        }
        return *this;
    }

    int32_t getCount() const { return m_count; }
    Node* getRoot() const { return static_cast<Node*>(m_root); }
    dgAllocator* getAllocator() const { return m_allocator; }
    Node* getFirst() const { return m_root ? static_cast<Node*>(dgRbMinimum(m_root)) : nullptr; }
    Node* getLast() const { return m_root ? static_cast<Node*>(dgRbMaximum(m_root)) : nullptr; }

    // Node with the key, or null.
    Node* find(Key key) const {
        dgRbTreeNode* ptr = m_root;
        while (ptr) {
            Node* node = static_cast<Node*>(ptr);
            if (key < node->m_key) {
                ptr = node->m_left;
            } else if (node->m_key < key) {
                ptr = node->m_right;
            } else {
                return node;
            }
        }
        return nullptr;
    }

    // The first node whose key is above key, or null: where an in-order walk
    // resumes after the node of key may have left the tree.
    Node* findGreater(Key key) const {
        Node* above = nullptr;
        dgRbTreeNode* ptr = m_root;
        while (ptr) {
            Node* node = static_cast<Node*>(ptr);
            if (key < node->m_key) {
                above = node;
                ptr = node->m_left;
            } else {
                ptr = node->m_right;
            }
        }
        return above;
    }

    // Inserts a new node; null when the key is already present (nothing is
    // inserted) or the allocator fails.
    template <class P>
    Node* insert(P&& payload, Key key) {
        bool alreadyPresent;
        Node* node = insert(std::forward<P>(payload), key, alreadyPresent);
        return alreadyPresent ? nullptr : node;
    }

    // Find-or-insert: returns the existing node with alreadyPresent = true, or
    // the new node with alreadyPresent = false (null if the allocator fails).
    template <class P>
    Node* insert(P&& payload, Key key, bool& alreadyPresent) {
        dgRbTreeNode* parent;
        bool left;
        if (Node* existing = locate(key, parent, left)) {
            alreadyPresent = true;
            return existing;
        }
        alreadyPresent = false;
        void* memory = m_allocator->alloc(sizeof(Node));
        if (!memory) {
            return nullptr;
        }
        Node* node = ::new (memory) Node(m_allocator, parent, std::forward<P>(payload), key);
        link(node, parent, left);
        return node;
    }

    // Hangs a detached node (taken out of this or another tree and kept alive
    // by a holder) under key, adding the tree's reference. Null when the key
    // is present; the node is then left as it was.
    Node* insertNode(Node* node, Key key) {
        dgRbTreeNode* parent;
        bool left;
        if (locate(key, parent, left)) {
            return nullptr;
        }
        node->m_key = key;
        node->m_left = nullptr;
        node->m_right = nullptr;
        node->m_parent = parent;
        node->m_flags |= dgRbTreeNode::kRedFlag | dgRbTreeNode::kInTreeFlag;
        node->addRef();
        link(node, parent, left);
        return node;
    }

    // Moves node to a new key. Returns node, or null when the new key is
    // taken: node has then left the tree and is destroyed unless held.
    Node* replaceKey(Node* node, Key key) {
        node->addRef();
        remove(node);
        node->setLiveFlag();
        Node* result = insertNode(node, key);
        node->release();
        return result;
    }

    // Removes a node of this tree (destroyed unless someone else holds it).
    void remove(Node* node) {
        --m_count;
        dgRbRemove(node, &m_root);
    }

    // Removes the node with the key; false if there is none.
    bool removeKey(Key key) {
        Node* node = find(key);
        if (node) {
            remove(node);
        }
        return node != nullptr;
    }

    void removeAll() {
        if (m_root) {
            m_count = 0;
            dgRbFreeTree(m_root);
            m_root = nullptr;
        }
    }

    // Full invariant check: root black without parent, parent links, strict
    // key order, no red-red, equal black height, count and in-tree flags.
    bool sanityCheck() const {
        if (!m_root) {
            return m_count == 0;
        }
        if (m_root->isRed() || m_root->m_parent) {
            return false;
        }
        int32_t count = 0;
        if (dgRbCheckSubtree(m_root, nullptr, &count) < 0 || count != m_count) {
            return false;
        }
        int32_t visited = 0;
        const Node* prev = nullptr;
        for (const Node* node = getFirst(); node; node = node->getNext()) {
            if (prev && !(prev->m_key < node->m_key)) {
                return false;
            }
            prev = node;
            ++visited;
        }
        return visited == m_count;
    }

    // In-order iteration over nodes: for (Node* node : tree).
    class Iterator {
    public:
        explicit Iterator(Node* node) : m_node(node) {}
        Node* operator*() const { return m_node; }
        Iterator& operator++() {
            m_node = m_node->getNext();
            return *this;
        }
        bool operator!=(const Iterator& other) const { return m_node != other.m_node; }
        bool operator==(const Iterator& other) const { return m_node == other.m_node; }

    private:
        Node* m_node;
    };
    Iterator begin() const { return Iterator(getFirst()); }
    Iterator end() const { return Iterator(nullptr); }

private:
    // Walks down as find does; on a miss reports the last node visited and
    // the side the key belongs on.
    Node* locate(Key key, dgRbTreeNode*& parent, bool& left) const {
        parent = nullptr;
        left = false;
        dgRbTreeNode* ptr = m_root;
        while (ptr) {
            Node* node = static_cast<Node*>(ptr);
            parent = ptr;
            if (key < node->m_key) {
                left = true;
                ptr = node->m_left;
            } else if (node->m_key < key) {
                left = false;
                ptr = node->m_right;
            } else {
                return node;
            }
        }
        return nullptr;
    }

    void link(Node* node, dgRbTreeNode* parent, bool left) {
        if (!parent) {
            m_root = node;
        } else if (left) {
            parent->m_left = node;
        } else {
            parent->m_right = node;
        }
        ++m_count;
        dgRbInsertFixup(node, &m_root);
    }

    int32_t m_count;
    dgRbTreeNode* m_root;
    dgAllocator* m_allocator;
};
