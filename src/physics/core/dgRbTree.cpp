#include "dgRbTree.h"

// Link surgery shared by the rebalancing code.
struct dgRbTreeLinks {
    static bool isRed(const dgRbTreeNode* node) { return node && (node->m_flags & dgRbTreeNode::kRedFlag); }
    static void setRed(dgRbTreeNode* node) { node->m_flags |= dgRbTreeNode::kRedFlag; }
    static void setBlack(dgRbTreeNode* node) { node->m_flags &= ~dgRbTreeNode::kRedFlag; }
    static void copyColour(dgRbTreeNode* dst, const dgRbTreeNode* src) {
        dst->m_flags = (dst->m_flags & ~dgRbTreeNode::kRedFlag) | (src->m_flags & dgRbTreeNode::kRedFlag);
    }

    // Puts `with` where `node` hangs under node's parent (or at the root).
    static void replaceInParent(dgRbTreeNode* node, dgRbTreeNode* with, dgRbTreeNode** root) {
        dgRbTreeNode* parent = node->m_parent;
        if (!parent) {
            *root = with;
        } else if (parent->m_left == node) {
            parent->m_left = with;
        } else {
            parent->m_right = with;
        }
    }

    static void rotateLeft(dgRbTreeNode* x, dgRbTreeNode** root) {
        dgRbTreeNode* y = x->m_right;
        x->m_right = y->m_left;
        if (y->m_left) {
            y->m_left->m_parent = x;
        }
        y->m_parent = x->m_parent;
        replaceInParent(x, y, root);
        y->m_left = x;
        x->m_parent = y;
    }

    static void rotateRight(dgRbTreeNode* x, dgRbTreeNode** root) {
        dgRbTreeNode* y = x->m_left;
        x->m_left = y->m_right;
        if (y->m_right) {
            y->m_right->m_parent = x;
        }
        y->m_parent = x->m_parent;
        replaceInParent(x, y, root);
        y->m_right = x;
        x->m_parent = y;
    }

    // Restores the black height after a black node was unlinked above x (x may
    // be null, hence the explicit parent).
    static void removeFixup(dgRbTreeNode* x, dgRbTreeNode* parent, dgRbTreeNode** root) {
        while (x != *root && !isRed(x)) {
            if (x == parent->m_left) {
                dgRbTreeNode* w = parent->m_right;
                if (isRed(w)) {
                    setBlack(w);
                    setRed(parent);
                    rotateLeft(parent, root);
                    w = parent->m_right;
                }
                if (!isRed(w->m_left) && !isRed(w->m_right)) {
                    setRed(w);
                    x = parent;
                    parent = x->m_parent;
                } else {
                    if (!isRed(w->m_right)) {
                        setBlack(w->m_left);
                        setRed(w);
                        rotateRight(w, root);
                        w = parent->m_right;
                    }
                    copyColour(w, parent);
                    setBlack(parent);
                    setBlack(w->m_right);
                    rotateLeft(parent, root);
                    x = *root;
                    parent = nullptr;
                }
            } else {
                dgRbTreeNode* w = parent->m_left;
                if (isRed(w)) {
                    setBlack(w);
                    setRed(parent);
                    rotateRight(parent, root);
                    w = parent->m_left;
                }
                if (!isRed(w->m_left) && !isRed(w->m_right)) {
                    setRed(w);
                    x = parent;
                    parent = x->m_parent;
                } else {
                    if (!isRed(w->m_left)) {
                        setBlack(w->m_right);
                        setRed(w);
                        rotateLeft(w, root);
                        w = parent->m_left;
                    }
                    copyColour(w, parent);
                    setBlack(parent);
                    setBlack(w->m_left);
                    rotateRight(parent, root);
                    x = *root;
                    parent = nullptr;
                }
            }
        }
        if (x) {
            setBlack(x);
        }
    }

    // A node leaving the tree: flags and links cleared so that a survivor
    // held elsewhere never leads back into the tree.
    static void detach(dgRbTreeNode* node) {
        node->clearLiveFlag();
        node->m_flags &= ~dgRbTreeNode::kInTreeFlag;
        node->m_left = nullptr;
        node->m_right = nullptr;
        node->m_parent = nullptr;
    }
};

void dgRbTreeNode::deleteThis() {
    dgAllocator* allocator = m_allocator;
    this->~dgRbTreeNode();
    allocator->free(this);
}

dgRbTreeNode* dgRbMinimum(dgRbTreeNode* node) {
    while (node->m_left) {
        node = node->m_left;
    }
    return node;
}

dgRbTreeNode* dgRbMaximum(dgRbTreeNode* node) {
    while (node->m_right) {
        node = node->m_right;
    }
    return node;
}

dgRbTreeNode* dgRbNext(const dgRbTreeNode* node) {
    if (node->m_right) {
        return dgRbMinimum(node->m_right);
    }
    dgRbTreeNode* parent = node->m_parent;
    while (parent && node == parent->m_right) {
        node = parent;
        parent = parent->m_parent;
    }
    return parent;
}

dgRbTreeNode* dgRbPrev(const dgRbTreeNode* node) {
    if (node->m_left) {
        return dgRbMaximum(node->m_left);
    }
    dgRbTreeNode* parent = node->m_parent;
    while (parent && node == parent->m_left) {
        node = parent;
        parent = parent->m_parent;
    }
    return parent;
}

void dgRbInsertFixup(dgRbTreeNode* node, dgRbTreeNode** root) {
    typedef dgRbTreeLinks L;
    while (node != *root && L::isRed(node->m_parent)) {
        dgRbTreeNode* parent = node->m_parent;
        // A red parent is never the root, so the grandparent exists.
        dgRbTreeNode* grand = parent->m_parent;
        if (parent == grand->m_left) {
            dgRbTreeNode* uncle = grand->m_right;
            if (L::isRed(uncle)) {
                L::setBlack(parent);
                L::setBlack(uncle);
                L::setRed(grand);
                node = grand;
            } else {
                if (node == parent->m_right) {
                    node = parent;
                    L::rotateLeft(node, root);
                    parent = node->m_parent;
                }
                L::setBlack(parent);
                L::setRed(grand);
                L::rotateRight(grand, root);
            }
        } else {
            dgRbTreeNode* uncle = grand->m_left;
            if (L::isRed(uncle)) {
                L::setBlack(parent);
                L::setBlack(uncle);
                L::setRed(grand);
                node = grand;
            } else {
                if (node == parent->m_left) {
                    node = parent;
                    L::rotateRight(node, root);
                    parent = node->m_parent;
                }
                L::setBlack(parent);
                L::setRed(grand);
                L::rotateLeft(grand, root);
            }
        }
    }
    L::setBlack(*root);
}

void dgRbRemove(dgRbTreeNode* node, dgRbTreeNode** root) {
    typedef dgRbTreeLinks L;
    dgRbTreeNode* x;
    dgRbTreeNode* xParent;
    bool removedBlack;
    if (!node->m_left || !node->m_right) {
        x = node->m_left ? node->m_left : node->m_right;
        xParent = node->m_parent;
        if (x) {
            x->m_parent = xParent;
        }
        L::replaceInParent(node, x, root);
        removedBlack = !L::isRed(node);
    } else {
        // The successor takes the node's place, colour included; the colour
        // that disappears from the tree is the successor's own.
        dgRbTreeNode* s = dgRbMinimum(node->m_right);
        removedBlack = !L::isRed(s);
        x = s->m_right;
        if (s->m_parent == node) {
            xParent = s;
        } else {
            xParent = s->m_parent;
            xParent->m_left = x;
            if (x) {
                x->m_parent = xParent;
            }
            s->m_right = node->m_right;
            s->m_right->m_parent = s;
        }
        s->m_left = node->m_left;
        s->m_left->m_parent = s;
        s->m_parent = node->m_parent;
        L::replaceInParent(node, s, root);
        const bool nodeWasRed = L::isRed(node);
        L::copyColour(node, s);
        if (nodeWasRed) {
            L::setRed(s);
        } else {
            L::setBlack(s);
        }
    }
    if (removedBlack && *root) {
        L::removeFixup(x, xParent, root);
    }
    L::detach(node);
    node->release();
}

void dgRbReleaseSubtree(dgRbTreeNode* node) {
    if (!node) {
        return;
    }
    dgRbReleaseSubtree(node->m_left);
    dgRbReleaseSubtree(node->m_right);
    dgRbTreeLinks::detach(node);
    node->release();
}

void dgRbFreeTree(dgRbTreeNode* node) {
    if (!node) {
        return;
    }
    while (node->m_parent) {
        node = node->m_parent;
    }
    dgRbReleaseSubtree(node);
}

int32_t dgRbCheckSubtree(const dgRbTreeNode* node, const dgRbTreeNode* parent, int32_t* count) {
    if (!node) {
        return 1;
    }
    if (node->m_parent != parent || !node->isInTree()) {
        return -1;
    }
    if (node->isRed() && (dgRbTreeLinks::isRed(node->m_left) || dgRbTreeLinks::isRed(node->m_right))) {
        return -1;
    }
    ++*count;
    const int32_t left = dgRbCheckSubtree(node->m_left, node, count);
    const int32_t right = dgRbCheckSubtree(node->m_right, node, count);
    if (left < 0 || right < 0 || left != right) {
        return -1;
    }
    return left + (node->isRed() ? 0 : 1);
}
