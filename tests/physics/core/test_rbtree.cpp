#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "dgPoolAllocator.h"
#include "dgRbTree.h"

namespace {

typedef dgRbTree<int32_t, int32_t> IntTree;

// Payload that counts its live instances.
struct Tracked {
    static int s_live;
    int value;
    explicit Tracked(int v) : value(v) { ++s_live; }
    Tracked(const Tracked& other) : value(other.value) { ++s_live; }
    ~Tracked() { --s_live; }
};
int Tracked::s_live = 0;

// Both ways through the tree give the model's entries in key order.
void expectSameAs(const IntTree& tree, const std::map<int32_t, int32_t>& reference) {
    ASSERT_TRUE(tree.sanityCheck());
    ASSERT_EQ(tree.getCount(), int32_t(reference.size()));
    auto it = reference.begin();
    for (IntTree::Node* node : tree) {
        ASSERT_EQ(node->getKey(), it->first);
        ASSERT_EQ(node->getPayload(), it->second);
        ++it;
    }
    auto back = reference.rbegin();
    for (IntTree::Node* node = tree.getLast(); node; node = node->getPrev(), ++back) {
        ASSERT_EQ(node->getKey(), back->first);
    }
    ASSERT_TRUE(back == reference.rend());
}

}  // namespace

// A thousand ascending keys (the worst order for an unbalanced tree), then
// random inserts (with and without asking whether the key was there), finds,
// removals and key changes against a std::map, the tree's own check after
// every step.
TEST(RbTree, MatchesStdMapUnderRandomOperations) {
    IntTree tree;
    std::map<int32_t, int32_t> reference;
    for (int32_t k = 1; k <= 1000; ++k) {
        ASSERT_NE(tree.insert(k * 10, k), nullptr);
        reference[k] = k * 10;
        ASSERT_TRUE(tree.sanityCheck());
    }
    expectSameAs(tree, reference);
    std::mt19937 rng(12345);
    for (int step = 0; step < 25000; ++step) {
        const int32_t key = int32_t(rng() % 3000) - 1500;
        switch (rng() % 6) {
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
                // A taken key inserts nothing.
                IntTree::Node* node = tree.insert(step, key);
                ASSERT_EQ(node == nullptr, reference.count(key) == 1);
                reference.emplace(key, step);
                break;
            }
            case 3: {
                IntTree::Node* node = tree.find(key);
                auto it = reference.find(key);
                ASSERT_EQ(node != nullptr, it != reference.end());
                if (node) {
                    ASSERT_EQ(node->getPayload(), it->second);
                }
                break;
            }
            case 4:
                ASSERT_EQ(tree.removeKey(key), reference.erase(key) == 1);
                break;
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
    expectSameAs(tree, reference);
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

// 64-bit keys order high word signed, low word unsigned; address keys keep
// all their bits.
TEST(RbTree, WideKeysOrderByEveryBit) {
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

    dgRbTree<int32_t, uintptr_t> addresses;
    const uintptr_t low = 0x10;
    const uintptr_t high = uintptr_t(1) << (sizeof(uintptr_t) * 8 - 4) | 0x10;
    addresses.insert(1, high);
    addresses.insert(2, low);
    EXPECT_EQ(addresses.getCount(), 2);
    EXPECT_EQ(addresses.find(high)->getPayload(), 1);
    EXPECT_EQ(addresses.getFirst()->getKey(), low);
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

// A removed node someone else holds survives detached and dead, and can be
// hung into another tree under a free key.
TEST(RbTree, RemovedNodeHeldElsewhereSurvivesDetached) {
    IntTree a;
    for (int32_t k = 0; k < 20; ++k) {
        a.insert(k + 100, k);
    }
    IntTree::Node* node = a.find(7);
    node->addRef();
    a.remove(node);
    EXPECT_EQ(a.getCount(), 19);
    EXPECT_TRUE(a.sanityCheck());
    EXPECT_EQ(a.find(7), nullptr);
    EXPECT_FALSE(node->isInTree());
    EXPECT_FALSE(node->isLive());
    EXPECT_EQ(node->getRefCount(), 1);
    EXPECT_EQ(node->getPayload(), 107);
    EXPECT_EQ(node->getNext(), nullptr);

    IntTree b;
    node->setLiveFlag();
    b.insert(0, 3);
    EXPECT_EQ(b.insertNode(node, 3), nullptr);
    EXPECT_EQ(b.insertNode(node, 4), node);
    EXPECT_EQ(node->getRefCount(), 2);
    EXPECT_EQ(node->release(), 1);
    EXPECT_EQ(b.find(4)->getPayload(), 107);
    EXPECT_TRUE(b.sanityCheck());
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
