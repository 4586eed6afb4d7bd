#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "dgPoolAllocator.h"
#include "dgRbTree.h"

namespace {

typedef dgRbTree<int32_t, int32_t> IntTree;

template <class Tree>
std::vector<typename Tree::Node*> inOrder(const Tree& tree) {
    std::vector<typename Tree::Node*> nodes;
    for (auto* node : tree) {
        nodes.push_back(node);
    }
    return nodes;
}

// Payload that counts its live instances.
struct Tracked {
    static int s_live;
    int value;
    explicit Tracked(int v) : value(v) { ++s_live; }
    Tracked(const Tracked& other) : value(other.value) { ++s_live; }
    ~Tracked() { --s_live; }
};
int Tracked::s_live = 0;

}  // namespace

TEST(RbTree, AscendingInsertsStayBalancedAndIterateInOrder) {
    IntTree tree;
    for (int32_t k = 1; k <= 1000; ++k) {
        ASSERT_NE(tree.insert(k * 10, k), nullptr);
        ASSERT_TRUE(tree.sanityCheck());
    }
    EXPECT_EQ(tree.getCount(), 1000);
    EXPECT_FALSE(tree.getRoot()->isRed());
    int32_t expected = 1;
    for (IntTree::Node* node : tree) {
        EXPECT_EQ(node->getKey(), expected);
        EXPECT_EQ(node->getPayload(), expected * 10);
        ++expected;
    }
    EXPECT_EQ(expected, 1001);
    expected = 1000;
    for (IntTree::Node* node = tree.getLast(); node; node = node->getPrev()) {
        EXPECT_EQ(node->getKey(), expected--);
    }
    EXPECT_EQ(expected, 0);
}

TEST(RbTree, DuplicateKeyInsertsNothingAndFindOrInsertReportsIt) {
    IntTree tree;
    IntTree::Node* first = tree.insert(1, 7);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(tree.insert(2, 7), nullptr);
    EXPECT_EQ(tree.getCount(), 1);
    bool present = false;
    EXPECT_EQ(tree.insert(3, 7, present), first);
    EXPECT_TRUE(present);
    EXPECT_EQ(first->getPayload(), 1);
    IntTree::Node* second = tree.insert(4, 8, present);
    EXPECT_FALSE(present);
    EXPECT_EQ(second->getKey(), 8);
    EXPECT_EQ(tree.getCount(), 2);
}

TEST(RbTree, MatchesStdMapUnderRandomOperations) {
    IntTree tree;
    std::map<int32_t, int32_t> reference;
    std::mt19937 rng(12345);
    for (int step = 0; step < 40000; ++step) {
        const int32_t key = int32_t(rng() % 3000) - 1500;
        switch (rng() % 5) {
            case 0:
            case 1: {
                bool present;
                IntTree::Node* node = tree.insert(step, key, present);
                ASSERT_NE(node, nullptr);
                ASSERT_EQ(present, reference.count(key) == 1);
                reference.emplace(key, step);
                ASSERT_EQ(node->getPayload(), reference[key]);
                break;
            }
            case 2: {
                IntTree::Node* node = tree.find(key);
                auto it = reference.find(key);
                ASSERT_EQ(node != nullptr, it != reference.end());
                if (node) {
                    ASSERT_EQ(node->getPayload(), it->second);
                }
                break;
            }
            case 3: {
                ASSERT_EQ(tree.removeKey(key), reference.erase(key) == 1);
                break;
            }
            default: {
                IntTree::Node* node = tree.find(key);
                if (!node) {
                    break;
                }
                const int32_t newKey = int32_t(rng() % 3000) - 1500;
                const int32_t payload = node->getPayload();
                IntTree::Node* moved = tree.replaceKey(node, newKey);
                if (newKey == key || reference.count(newKey) == 0) {
                    ASSERT_EQ(moved, node);
                    ASSERT_EQ(moved->getKey(), newKey);
                    ASSERT_TRUE(moved->isLive());
                    reference.erase(key);
                    reference[newKey] = payload;
                } else {
                    // The new key was taken: the node left the tree and died.
                    ASSERT_EQ(moved, nullptr);
                    reference.erase(key);
                }
                break;
            }
        }
        ASSERT_TRUE(tree.sanityCheck()) << "step " << step;
        ASSERT_EQ(tree.getCount(), int32_t(reference.size()));
    }
    auto it = reference.begin();
    for (IntTree::Node* node : tree) {
        ASSERT_EQ(node->getKey(), it->first);
        ASSERT_EQ(node->getPayload(), it->second);
        ++it;
    }
    EXPECT_TRUE(it == reference.end());
}

TEST(RbTree, RemovedNodeHeldElsewhereSurvivesDetached) {
    IntTree tree;
    for (int32_t k = 0; k < 20; ++k) {
        tree.insert(k, k);
    }
    IntTree::Node* node = tree.find(7);
    node->addRef();
    tree.remove(node);
    EXPECT_EQ(tree.getCount(), 19);
    EXPECT_TRUE(tree.sanityCheck());
    EXPECT_EQ(tree.find(7), nullptr);
    EXPECT_FALSE(node->isInTree());
    EXPECT_FALSE(node->isLive());
    EXPECT_EQ(node->getRefCount(), 1);
    EXPECT_EQ(node->getPayload(), 7);
    EXPECT_EQ(node->getNext(), nullptr);
    EXPECT_EQ(node->release(), 0);
}

TEST(RbTree, ReleasingTheWholeTreeSparesHeldNodes) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(sizeof(dgRbTree<Tracked, int32_t>::Node), 4);
    dgRbTree<Tracked, int32_t>::Node* held;
    {
        dgRbTree<Tracked, int32_t> tree(pool);
        for (int32_t k = 0; k < 100; ++k) {
            tree.insert(Tracked(k), k);
        }
        EXPECT_EQ(Tracked::s_live, 100);
        held = tree.find(42);
        held->addRef();
    }
    EXPECT_EQ(Tracked::s_live, 1);
    EXPECT_EQ(pool->getInUse(), 1);
    EXPECT_FALSE(held->isLive());
    EXPECT_EQ(held->getPayload().value, 42);
    held->release();
    EXPECT_EQ(Tracked::s_live, 0);
    EXPECT_EQ(pool->getInUse(), 0);
    EXPECT_EQ(pool->getPageCount(), 0);
}

TEST(RbTree, RemovingTheRootOfTwoNodesLeavesABlackRoot) {
    for (int order = 0; order < 2; ++order) {
        IntTree tree;
        tree.insert(0, order ? 5 : 1);
        tree.insert(0, order ? 1 : 5);
        IntTree::Node* root = tree.getRoot();
        const int32_t other = root->getKey() == 1 ? 5 : 1;
        tree.remove(root);
        ASSERT_NE(tree.getRoot(), nullptr);
        EXPECT_EQ(tree.getRoot()->getKey(), other);
        EXPECT_FALSE(tree.getRoot()->isRed());
        EXPECT_EQ(tree.getRoot()->getParent(), nullptr);
        EXPECT_TRUE(tree.sanityCheck());
    }
}

TEST(RbTree, SixtyFourBitKeysOrderHighSignedLowUnsigned) {
    dgRbTree<int32_t, int64_t> tree;
    const int64_t keys[] = {dgRbKey64(1, 0),        dgRbKey64(0, 0xFFFFFFFFu), dgRbKey64(0, 1),
                            dgRbKey64(-1, 5),       dgRbKey64(0, 0),           dgRbKey64(-1, 0xFFFFFFFFu),
                            dgRbKey64(INT32_MIN, 0)};
    for (int32_t i = 0; i < 7; ++i) {
        tree.insert(i, keys[i]);
    }
    std::vector<int32_t> order;
    for (auto* node : tree) {
        order.push_back(node->getPayload());
    }
    // (MIN,0) < (-1,5) < (-1,FFFFFFFF) < (0,0) < (0,1) < (0,FFFFFFFF) < (1,0)
    EXPECT_EQ(order, (std::vector<int32_t>{6, 3, 5, 4, 2, 1, 0}));
    EXPECT_TRUE(tree.sanityCheck());
}

TEST(RbTree, AddressKeysKeepAllPointerBits) {
    dgRbTree<int32_t, uintptr_t> tree;
    const uintptr_t low = 0x10;
    const uintptr_t high = uintptr_t(1) << (sizeof(uintptr_t) * 8 - 4) | 0x10;
    tree.insert(1, high);
    tree.insert(2, low);
    EXPECT_EQ(tree.getCount(), 2);
    EXPECT_EQ(tree.find(high)->getPayload(), 1);
    EXPECT_EQ(tree.getFirst()->getKey(), low);
}

TEST(RbTree, ReplaceKeyOntoATakenKeyDropsTheNode) {
    dgRbTree<Tracked, int32_t> tree;
    tree.insert(Tracked(1), 1);
    tree.insert(Tracked(2), 2);
    auto* node = tree.find(1);
    EXPECT_EQ(tree.replaceKey(node, 2), nullptr);
    EXPECT_EQ(tree.getCount(), 1);
    EXPECT_EQ(Tracked::s_live, 1);
    EXPECT_EQ(tree.find(2)->getPayload().value, 2);
    auto* moved = tree.replaceKey(tree.find(2), -9);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->getRefCount(), 1);
    EXPECT_TRUE(moved->isInTree());
    EXPECT_EQ(tree.getFirst(), moved);
    tree.removeAll();
    EXPECT_EQ(Tracked::s_live, 0);
    EXPECT_EQ(tree.getCount(), 0);
    EXPECT_EQ(tree.getRoot(), nullptr);
}

TEST(RbTree, DetachedNodeCanBeHungIntoAnotherTree) {
    IntTree a;
    IntTree b;
    IntTree::Node* node = a.insert(99, 3);
    node->addRef();
    a.remove(node);
    node->setLiveFlag();
    b.insert(0, 3);
    EXPECT_EQ(b.insertNode(node, 3), nullptr);
    EXPECT_EQ(b.insertNode(node, 4), node);
    EXPECT_EQ(node->getRefCount(), 2);
    node->release();
    EXPECT_EQ(b.find(4)->getPayload(), 99);
    EXPECT_TRUE(b.sanityCheck());
    EXPECT_EQ(a.getCount(), 0);
}

TEST(RbTree, UserFlagBitsSurviveRebalancing) {
    IntTree tree;
    for (int32_t k = 0; k < 64; ++k) {
        IntTree::Node* node = tree.insert(k, k);
        if (k % 3 == 0) {
            node->setUserFlags(dgRbTreeNode::kFirstUserFlag);
        }
    }
    for (int32_t k = 0; k < 64; k += 2) {
        tree.removeKey(k);
    }
    for (IntTree::Node* node : tree) {
        EXPECT_EQ((node->getFlags() & dgRbTreeNode::kFirstUserFlag) != 0, node->getKey() % 3 == 0);
    }
    EXPECT_TRUE(tree.sanityCheck());
}
