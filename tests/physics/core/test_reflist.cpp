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

// Appends, prepends, removals and moves to the front, after a neighbour,
// after itself and to the end at random, checked both ways against a plain
// vector after every step.
TEST(RefList, MatchesAVectorModelUnderRandomOperations) {
    std::mt19937 rng(11);
    IntList list;
    std::vector<IntList::Node*> nodes;
    std::vector<int> model;
    int next = 0;
    for (int step = 0; step < 6000; ++step) {
        const int op = int(rng() % 6);
        if (op < 2 || model.empty()) {
            IntList::Node* node = (op == 0) ? list.append(next) : list.prepend(next);
            model.insert((op == 0) ? model.end() : model.begin(), next);
            nodes.push_back(node);
            ++next;
        } else {
            const size_t at = rng() % model.size();
            IntList::Node* const node = nodes[size_t(model[at])];
            if (op == 2) {
                list.remove(node);
                model.erase(model.begin() + ptrdiff_t(at));
            } else if (op == 3) {
                list.moveToFront(node);
                model.erase(model.begin() + ptrdiff_t(at));
                model.insert(model.begin(), node->getValue());
            } else {
                const int where = (rng() % 4 == 0) ? -1 : model[rng() % model.size()];
                list.moveAfter(node, (where < 0) ? nullptr : nodes[size_t(where)]);
                if (where != model[at]) {
                    model.erase(model.begin() + ptrdiff_t(at));
                    const auto to =
                        (where < 0) ? model.begin() : std::find(model.begin(), model.end(), where) + 1;
                    model.insert(to, node->getValue());
                }
            }
        }
        ASSERT_EQ(values(list), model) << "step " << step;
        ASSERT_EQ(valuesBackwards(list), model) << "step " << step;
        ASSERT_EQ(list.getCount(), int(model.size()));
        for (IntList::Node* node = list.getFirst(); node; node = node->getNext()) {
            ASSERT_EQ(node->getRefCount(), 1);
            ASSERT_TRUE(node->isLive());
        }
        if (model.size() > 40) {
            // Keep the list short enough for every position to come up.
            list.remove(list.getLast());
            model.pop_back();
        }
    }
}
