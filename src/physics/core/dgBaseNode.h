// Reference-counted tree node: the base of named hierarchies.
#pragma once

#include <cstdint>

#include "dgRef.h"

class dgTextFile;

// A node of a tree. The children of a node form a singly linked chain
// (first child -> next sibling -> ...). Ownership follows the links: the
// first-child link and every next-sibling link hold one reference to the node
// they point to; the parent link holds none.
// A node is born with one reference, its creator's. dgBaseNodeAttach adds the
// chain's reference, so the creator normally releases its own afterwards and
// the hierarchy owns the node. Releasing the root's last reference destroys the
// whole hierarchy except nodes that other holders still reference: those
// survive detached (no parent, no next sibling, live flag clear).
// Deep copies go through the virtual clone(), which the base does not support
// (returns null): derived classes that want copies override it.
class dgBaseNode : public dgRef {
    DG_DECLARE_CLASS(dgBaseNode, dgRef)

    // Unnamed node without links, one reference.
    dgBaseNode() noexcept;

    // Copy of source's name with one reference and no parent or sibling, holding
    // a clone of each of source's children, in chain order. Children whose class
    // cannot be cloned (clone() returns null or no node) are left out.
    dgBaseNode(const dgBaseNode& source);

    // Releases the child chain and this node's own next-sibling chain.
    ~dgBaseNode() override;

    // Walks this node's children and other's children in step (first with
    // first, then both next siblings), calling dgBaseNodeWalkPaired on each pair; stops at
    // the end of the shorter chain. Returns the last call's result, or other
    // when no pair was visited. Meant for hierarchies of the same shape; derived
    // classes override it to carry data between paired nodes.
    virtual dgBaseNode* dgBaseNodeWalkPaired(dgBaseNode* other);

    // Prints every child with the indent extended by three spaces. The base
    // writes nothing itself: a class that wants its nodes in the dump overrides
    // this to write its own line with `indent`, then calls the base. Any depth
    // is supported.
    virtual void dgBaseNodePrint(dgTextFile* file, const char* indent);

    // Null when the node is a root.
    dgBaseNode* getParent() const { return m_parent; }
    // First node of the child chain, null when the node has no child.
    dgBaseNode* getFirstChild() const { return m_firstChild; }
    // Next node in the parent's child chain, null for the last child.
    dgBaseNode* getNextSibling() const { return m_nextSibling; }

private:
    friend void dgBaseNodeAttach(dgBaseNode* node, dgBaseNode* parent, bool asFirst);
    friend void dgBaseNodeDetach(dgBaseNode* node);

    // Releases the chain's reference to node and every sibling after it.
    static void releaseChain(dgBaseNode* node);

    dgBaseNode* m_parent;
    dgBaseNode* m_firstChild;
    dgBaseNode* m_nextSibling;
};

// Makes node a child of parent: the first one with asFirst set, otherwise the
// last. Adds one reference to node (the chain's). The node must not already be
// in a tree (no parent, no next sibling); that is not checked. Null arguments do
// nothing.
void dgBaseNodeAttach(dgBaseNode* node, dgBaseNode* parent, bool asFirst);

// Unlinks node from its parent's chain, clears its parent and next-sibling
// links and releases the chain's reference (destroying node when that was the
// last one). Nothing happens for a node without parent.
void dgBaseNodeDetach(dgBaseNode* node);

// The node without parent above node (node itself for a root).
dgBaseNode* dgBaseNodeGetRoot(dgBaseNode* node);

// Post-order traversal: the first node is the deepest first child below node
// (node itself when it has no child); the next one is the first post-order node
// of the next sibling, or else the parent (null after the root).
dgBaseNode* dgBaseNodeFirstPostOrder(dgBaseNode* node);
dgBaseNode* dgBaseNodeNextPostOrder(dgBaseNode* node);

// First node with the given name id in a post-order walk that starts at
// dgBaseNodeFirstPostOrder (node). The walk is not limited to node's subtree:
// after node it goes on through node's later siblings and ancestors up to the
// root. Null when no visited node has the id.
dgBaseNode* dgBaseNodeFindByName(dgBaseNode* node, uint32_t nameId);

// node->walkPaired (other).
dgBaseNode* dgBaseNodeWalkPaired(dgBaseNode* node, dgBaseNode* other);

// node->print (file, indent).
void dgBaseNodePrint(dgBaseNode* node, dgTextFile* file, const char* indent);

// Creates (or truncates) fileName and prints node into it with an empty
// indent. Returns false when the file could not be opened.
bool dgBaseNodeSave(dgBaseNode* node, const char* fileName);
