// Set of face attributes, so that a pass over faces visits each attribute
// once. A red-black tree whose nodes come from one pool shared by every set.
#pragma once

#include <cstdint>

#include "dgRbTree.h"

class dgAttributeSet {
public:
    struct dgEmpty {};
    typedef dgRbTree<dgEmpty, int32_t> dgAttributeTree;
    typedef dgAttributeTree::Node Node;

    dgAttributeSet();
    ~dgAttributeSet();
    dgAttributeSet(const dgAttributeSet&) = delete;
    dgAttributeSet& operator=(const dgAttributeSet&) = delete;

    Node* find(int32_t attribute) const { return m_tree.find(attribute); }
    // Inserts the attribute; when it was there already, alreadyPresent is set
    // and the existing node returned. Null only when out of memory.
    Node* insert(int32_t attribute, bool& alreadyPresent) {
        return m_tree.insert(dgEmpty(), attribute, alreadyPresent);
    }
    // The new node, or null when the attribute was there (or out of memory).
    Node* insertIfAbsent(int32_t attribute) { return m_tree.insert(dgEmpty(), attribute); }
    // Releases every node.
    void clear() { m_tree.removeAll(); }
    int32_t getCount() const { return m_tree.getCount(); }

    // The pool of every set's nodes (4 KB pages), made on first use.
    static dgAllocator* dgAttributeSetNodePool();

private:
    dgAttributeTree m_tree;
};
