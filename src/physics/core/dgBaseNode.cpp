#include "dgBaseNode.h"

#include <string>

#include "dgTextFile.h"

DG_IMPLEMENT_CLASS(dgBaseNode, dgRef, "dgBaseNode");

dgBaseNode::dgBaseNode() noexcept
    : dgRef(), m_parent(nullptr), m_firstChild(nullptr), m_nextSibling(nullptr) {}

dgBaseNode::dgBaseNode(const dgBaseNode& source)
    : dgRef(source), m_parent(nullptr), m_firstChild(nullptr), m_nextSibling(nullptr) {
    dgBaseNode* last = nullptr;
    for (const dgBaseNode* child = source.m_firstChild; child; child = child->m_nextSibling) {
        dgRef* const copy = child->clone();
        dgBaseNode* const node = dgRefCast<dgBaseNode>(copy);
        if (!node) {
            // The base class (and any class without a copy) cannot be cloned;
            // the copy simply goes without that child.
            if (copy) {
                copy->release();
            }
            continue;
        }
        // The clone's creation reference becomes the chain's.
        node->m_parent = this;
        if (last) {
            last->m_nextSibling = node;
        } else {
            m_firstChild = node;
        }
        last = node;
    }
}

dgBaseNode::~dgBaseNode() {
    dgBaseNode* const children = m_firstChild;
    m_firstChild = nullptr;
    releaseChain(children);

    dgBaseNode* const siblings = m_nextSibling;
    m_nextSibling = nullptr;
    releaseChain(siblings);
}

void dgBaseNode::releaseChain(dgBaseNode* node) {
    // Each link is cut before its node is released, so a destroyed node never
    // walks the rest of the chain itself: a long chain costs no stack depth.
    while (node) {
        dgBaseNode* const next = node->m_nextSibling;
        node->m_nextSibling = nullptr;
        if (node->release() != 0) {
            // Held elsewhere: it survives cut loose from the dying hierarchy.
            node->clearLiveFlag();
            node->m_parent = nullptr;
        }
        node = next;
    }
}

dgBaseNode* dgBaseNode::dgBaseNodeWalkPaired(dgBaseNode* other) {
    dgBaseNode* result = other;
    if (!other) {
        return result;
    }
    // Stopping at the shorter chain keeps mismatched shapes from walking into null.
    dgBaseNode* mine = m_firstChild;
    dgBaseNode* theirs = other->m_firstChild;
    while (mine && theirs) {
        result = mine->dgBaseNodeWalkPaired(theirs);
        mine = mine->m_nextSibling;
        theirs = theirs->m_nextSibling;
    }
    return result;
}

void dgBaseNode::dgBaseNodePrint(dgTextFile* file, const char* indent) {
    const std::string childIndent = std::string(indent ? indent : "") + "   ";
    for (dgBaseNode* child = m_firstChild; child; child = child->m_nextSibling) {
        child->dgBaseNodePrint(file, childIndent.c_str());
    }
}

void dgBaseNodeAttach(dgBaseNode* node, dgBaseNode* parent, bool asFirst) {
    if (!node || !parent) {
        return;
    }
    node->m_parent = parent;
    if (!parent->m_firstChild) {
        parent->m_firstChild = node;
    } else if (asFirst) {
        node->m_nextSibling = parent->m_firstChild;
        parent->m_firstChild = node;
    } else {
        dgBaseNode* last = parent->m_firstChild;
        while (last->m_nextSibling) {
            last = last->m_nextSibling;
        }
        last->m_nextSibling = node;
    }
    node->addRef();
}

void dgBaseNodeDetach(dgBaseNode* node) {
    if (!node || !node->m_parent) {
        return;
    }
    dgBaseNode* const parent = node->m_parent;
    bool linked = false;
    if (parent->m_firstChild == node) {
        parent->m_firstChild = node->m_nextSibling;
        linked = true;
    } else {
        for (dgBaseNode* previous = parent->m_firstChild; previous; previous = previous->m_nextSibling) {
            if (previous->m_nextSibling == node) {
                previous->m_nextSibling = node->m_nextSibling;
                linked = true;
                break;
            }
        }
    }
    node->m_parent = nullptr;
    node->m_nextSibling = nullptr;
    // A node missing from its parent's chain holds no chain reference to drop.
    if (linked) {
        node->release();
    }
}

dgBaseNode* dgBaseNodeGetRoot(dgBaseNode* node) {
    if (!node) {
        return nullptr;
    }
    while (node->getParent()) {
        node = node->getParent();
    }
    return node;
}

dgBaseNode* dgBaseNodeFirstPostOrder(dgBaseNode* node) {
    if (!node) {
        return nullptr;
    }
    while (node->getFirstChild()) {
        node = node->getFirstChild();
    }
    return node;
}

dgBaseNode* dgBaseNodeNextPostOrder(dgBaseNode* node) {
    if (!node) {
        return nullptr;
    }
    if (node->getNextSibling()) {
        return dgBaseNodeFirstPostOrder(node->getNextSibling());
    }
    return node->getParent();
}

dgBaseNode* dgBaseNodeFindByName(dgBaseNode* node, uint32_t nameId) {
    for (dgBaseNode* visit = dgBaseNodeFirstPostOrder(node); visit; visit = dgBaseNodeNextPostOrder(visit)) {
        if (visit->getNameId() == nameId) {
            return visit;
        }
    }
    return nullptr;
}

dgBaseNode* dgBaseNodeWalkPaired(dgBaseNode* node, dgBaseNode* other) {
    return node ? node->dgBaseNodeWalkPaired(other) : nullptr;
}

void dgBaseNodePrint(dgBaseNode* node, dgTextFile* file, const char* indent) {
    if (node) {
        node->dgBaseNodePrint(file, indent);
    }
}

bool dgBaseNodeSave(dgBaseNode* node, const char* fileName) {
    dgTextFile file(fileName, "w");
    if (!file.getStream()) {
        return false;
    }
    if (node) {
        node->dgBaseNodePrint(&file, "");
    }
    return true;
}
