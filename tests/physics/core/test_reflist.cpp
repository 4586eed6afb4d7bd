#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dgPoolAllocator.h"
#include "dgRefList.h"

namespace {

typedef dgRefList<int> IntList;

std::vector<int> values(const IntList& list) {
    std::vector<int> out;
    for (IntList::Node* node = list.getFirst(); node; node = node->getNext()) {
        out.push_back(node->getValue());
    }
    return out;
}

std::vector<int> valuesBackwards(const IntList& list) {
    std::vector<int> out;
    for (IntList::Node* node = list.getLast(); node; node = node->getPrev()) {
        out.insert(out.begin(), node->getValue());
    }
    return out;
}

struct Counted {
    static int s_live;
    Counted() { ++s_live; }
    Counted(const Counted&) { ++s_live; }
    ~Counted() { --s_live; }
};
int Counted::s_live = 0;

}  // namespace

TEST(RefList, AppendAndPrependKeepOrderBothWays) {
    IntList list;
    list.append(2);
    list.append(3);
    list.prepend(1);
    list.append(4);
    list.prepend(0);
    EXPECT_EQ(list.getCount(), 5);
    EXPECT_EQ(values(list), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(valuesBackwards(list), values(list));
    for (IntList::Node* node = list.getFirst(); node; node = node->getNext()) {
        EXPECT_EQ(node->getRefCount(), 1);
        EXPECT_TRUE(node->isLive());
    }
}

TEST(RefList, RemovingFirstMiddleAndLastRelinks) {
    IntList list;
    for (int i = 0; i < 5; ++i) {
        list.append(i);
    }
    list.remove(list.getFirst());
    list.remove(list.getLast());
    list.remove(list.getFirst()->getNext());
    EXPECT_EQ(values(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(valuesBackwards(list), (std::vector<int>{1, 3}));
    EXPECT_EQ(list.getCount(), 2);
    list.remove(list.getFirst());
    list.remove(list.getFirst());
    EXPECT_EQ(list.getFirst(), nullptr);
    EXPECT_EQ(list.getLast(), nullptr);
    EXPECT_EQ(list.getCount(), 0);
    list.append(9);
    EXPECT_EQ(values(list), (std::vector<int>{9}));
}

TEST(RefList, MovingToTheFrontRelinksFromEveryPosition) {
    // Last, middle, first, and the only node of a one-node list.
    struct Case {
        int count;
        int position;
        std::vector<int> expected;
    };
    const Case cases[] = {{4, 3, {3, 0, 1, 2}}, {4, 2, {2, 0, 1, 3}}, {4, 0, {0, 1, 2, 3}}, {1, 0, {0}}};
    for (const Case& c : cases) {
        IntList list;
        for (int i = 0; i < c.count; ++i) {
            list.append(i);
        }
        IntList::Node* node = list.getFirst();
        for (int i = 0; i < c.position; ++i) {
            node = node->getNext();
        }
        list.moveToFront(node);
        EXPECT_EQ(values(list), c.expected);
        EXPECT_EQ(valuesBackwards(list), c.expected);
        EXPECT_EQ(list.getCount(), c.count);
        EXPECT_EQ(node->getRefCount(), 1);
    }
}

TEST(RefList, RemovedNodeHeldElsewhereSurvivesDetached) {
    IntList list;
    for (int i = 0; i < 3; ++i) {
        list.append(i);
    }
    IntList::Node* node = list.getFirst()->getNext();
    node->addRef();
    list.remove(node);
    EXPECT_FALSE(node->isLive());
    EXPECT_EQ(node->getNext(), nullptr);
    EXPECT_EQ(node->getPrev(), nullptr);
    EXPECT_EQ(node->getValue(), 1);
    EXPECT_EQ(values(list), (std::vector<int>{0, 2}));
    EXPECT_EQ(node->release(), 0);
}

TEST(RefList, NodesAndValuesGoBackWhenRemoved) {
    dgPoolAllocator* pool = dgCreatePoolAllocator(sizeof(dgRefList<Counted>::Node), 4);
    {
        dgRefList<Counted> list(pool);
        for (int i = 0; i < 300; ++i) {
            if (i % 2) {
                list.append();
            } else {
                list.prepend(Counted());
            }
        }
        EXPECT_EQ(Counted::s_live, 300);
        EXPECT_EQ(pool->getInUse(), 300);
        list.remove(list.getFirst());
        EXPECT_EQ(Counted::s_live, 299);
    }
    EXPECT_EQ(Counted::s_live, 0);
    EXPECT_EQ(pool->getInUse(), 0);
    EXPECT_EQ(pool->getPageCount(), 0);
}

TEST(RefList, MovingHandsTheNodesOver) {
    IntList a;
    for (int i = 0; i < 4; ++i) {
        a.append(i);
    }
    IntList b(std::move(a));
    EXPECT_EQ(a.getCount(), 0);
    EXPECT_EQ(a.getFirst(), nullptr);
    EXPECT_EQ(values(b), (std::vector<int>{0, 1, 2, 3}));
    IntList c;
    c.append(42);
    c = std::move(b);
    EXPECT_EQ(values(c), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(b.getCount(), 0);
    c.removeAll();
    EXPECT_EQ(c.getCount(), 0);
    EXPECT_EQ(c.getLast(), nullptr);
}

TEST(RefList, MovingAfterANodeMatchesAVectorModel) {
    // Random moves to the front, after a neighbour, after itself and to the
    // end, checked both ways against a plain vector.
    std::mt19937 rng(11);
    IntList list;
    std::vector<IntList::Node*> nodes;
    std::vector<int> model;
    for (int i = 0; i < 9; ++i) {
        nodes.push_back(list.append(i));
        model.push_back(i);
    }
    std::uniform_int_distribution<int> pick(0, 8);
    std::uniform_int_distribution<int> pickWhere(-1, 8);
    for (int step = 0; step < 3000; ++step) {
        const int value = pick(rng);
        const int where = pickWhere(rng);
        list.moveAfter(nodes[value], (where < 0) ? nullptr : nodes[where]);
        if (where != value) {
            model.erase(std::find(model.begin(), model.end(), value));
            const auto at = (where < 0) ? model.begin() : std::find(model.begin(), model.end(), where) + 1;
            model.insert(at, value);
        }
        ASSERT_EQ(values(list), model);
        ASSERT_EQ(valuesBackwards(list), model);
    }
    EXPECT_EQ(list.getCount(), 9);
    EXPECT_EQ(nodes[0]->getRefCount(), 1);
}
