#include "dgBaseNode.h"
#include "dgHash.h"
#include "dgTextFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// A node class that can be copied, prints one line per node and counts its
// live instances, so destruction is observable.
class NamedNode : public dgBaseNode {
    DG_DECLARE_CLASS(NamedNode, dgBaseNode)

    static int s_instances;

    explicit NamedNode(const char* name) {
        setName(name);
        s_instances++;
    }
    NamedNode(const NamedNode& source) : dgBaseNode(source) { s_instances++; }
    ~NamedNode() override { s_instances--; }

    dgRef* clone() const override { return new NamedNode(*this); }

    void dgBaseNodePrint(dgTextFile* file, const char* indent) override {
        file->print("%s%s\n", indent, dgNameFromHash(getNameId()));
        dgBaseNode::dgBaseNodePrint(file, indent);
    }
};

int NamedNode::s_instances = 0;

// Creates a node named `name` under parent (appended), leaving the hierarchy as
// its only owner.
NamedNode* child(dgBaseNode* parent, const char* name) {
    NamedNode* const node = new NamedNode(name);
    dgBaseNodeAttach(node, parent, false);
    node->release();
    return node;
}

std::vector<std::string> childNames(const dgBaseNode* node) {
    std::vector<std::string> names;
    for (const dgBaseNode* c = node->getFirstChild(); c; c = c->getNextSibling()) {
        names.push_back(dgNameFromHash(c->getNameId()));
    }
    return names;
}

std::string nameOf(const dgBaseNode* node) {
    return node ? dgNameFromHash(node->getNameId()) : "(null)";
}

class BaseNodeTest : public ::testing::Test {
protected:
    void SetUp() override { m_instancesBefore = NamedNode::s_instances; }
    void TearDown() override { EXPECT_EQ(NamedNode::s_instances, m_instancesBefore); }

    int m_instancesBefore = 0;
};

TEST_F(BaseNodeTest, AttachAppendsOrPrepends) {
    NamedNode* a = new NamedNode("a");
    NamedNode* b = child(a, "b");
    child(a, "c");
    EXPECT_EQ(childNames(a), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(b->getParent(), a);
    EXPECT_EQ(b->getRefCount(), 1);
    a->release();

    NamedNode* p = new NamedNode("a");
    child(p, "b");
    NamedNode* c = new NamedNode("c");
    dgBaseNodeAttach(c, p, true);
    EXPECT_EQ(c->getRefCount(), 2);
    c->release();
    EXPECT_EQ(childNames(p), (std::vector<std::string>{"c", "b"}));
    p->release();
}

TEST_F(BaseNodeTest, DetachMiddleChildKeepsOthersInOrder) {
    NamedNode* a = new NamedNode("a");
    child(a, "b");
    NamedNode* c = child(a, "c");
    child(a, "d");
    const int instances = NamedNode::s_instances;

    c->addRef();  // held elsewhere for a while
    dgBaseNodeDetach(c);
    EXPECT_EQ(childNames(a), (std::vector<std::string>{"b", "d"}));
    EXPECT_EQ(c->getParent(), nullptr);
    EXPECT_EQ(c->getNextSibling(), nullptr);
    EXPECT_EQ(c->getRefCount(), 1);
    EXPECT_EQ(NamedNode::s_instances, instances);
    c->release();
    EXPECT_EQ(NamedNode::s_instances, instances - 1);

    // Without another holder the detach destroys the node.
    dgBaseNodeDetach(a->getFirstChild());
    EXPECT_EQ(NamedNode::s_instances, instances - 2);
    EXPECT_EQ(childNames(a), (std::vector<std::string>{"d"}));
    dgBaseNodeDetach(a);  // a root: nothing happens
    EXPECT_EQ(a->getRefCount(), 1);
    a->release();
}

// Post order visits children before parents; a search by name takes the
// first match in that order and, from an inner node, goes on past its
// subtree to its later siblings and the root.
TEST_F(BaseNodeTest, PostOrderVisitsChildrenBeforeParentsAndSearchesFollowIt) {
    NamedNode* a = new NamedNode("a");
    NamedNode* b = child(a, "b");
    NamedNode* d = child(b, "d");
    NamedNode* twinLow = child(b, "twin");
    NamedNode* c = child(a, "c");
    child(c, "twin");
    std::vector<std::string> order;
    for (dgBaseNode* n = dgBaseNodeFirstPostOrder(a); n; n = dgBaseNodeNextPostOrder(n)) {
        order.push_back(nameOf(n));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"d", "twin", "b", "twin", "c", "a"}));
    EXPECT_EQ(dgBaseNodeGetRoot(d), a);
    EXPECT_EQ(dgBaseNodeGetRoot(a), a);
    EXPECT_EQ(dgBaseNodeFindByName(a, dgHashName("twin")), twinLow);
    EXPECT_EQ(dgBaseNodeFindByName(a, dgHashName("c")), c);
    EXPECT_EQ(dgBaseNodeFindByName(a, dgHashName("nobody")), nullptr);
    EXPECT_EQ(dgBaseNodeFindByName(b, dgHashName("a")), a);
    a->release();
}

// A copy clones the children in order, each held once by its new parent;
// children that cannot be cloned are left out.
TEST_F(BaseNodeTest, CopyClonesChildrenInOrder) {
    NamedNode* a = new NamedNode("a");
    NamedNode* b = child(a, "b");
    child(b, "d");
    dgBaseNode* plain = new dgBaseNode();
    plain->setName("plain");
    dgBaseNodeAttach(plain, a, false);
    plain->release();
    child(a, "c");

    NamedNode* copy = static_cast<NamedNode*>(a->clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getNameId(), a->getNameId());
    EXPECT_EQ(copy->getRefCount(), 1);
    EXPECT_EQ(copy->getParent(), nullptr);
    ASSERT_EQ(childNames(copy), (std::vector<std::string>{"b", "c"}));
    for (dgBaseNode* c = copy->getFirstChild(); c; c = c->getNextSibling()) {
        EXPECT_EQ(c->getRefCount(), 1);
        EXPECT_EQ(c->getParent(), copy);
        EXPECT_NE(c, b);
    }
    EXPECT_EQ(childNames(copy->getFirstChild()), (std::vector<std::string>{"d"}));
    a->release();
    copy->release();
}

TEST_F(BaseNodeTest, DestroyingParentSparesChildHeldElsewhere) {
    NamedNode* a = new NamedNode("a");
    child(a, "b");
    NamedNode* c = child(a, "c");
    child(c, "e");
    child(a, "d");
    const int instances = NamedNode::s_instances;
    c->addRef();
    a->release();
    // a, b and d are gone; c survives with its own subtree.
    EXPECT_EQ(NamedNode::s_instances, instances - 3);
    EXPECT_EQ(c->getParent(), nullptr);
    EXPECT_EQ(c->getNextSibling(), nullptr);
    EXPECT_FALSE(c->isLive());
    EXPECT_EQ(c->getRefCount(), 1);
    EXPECT_EQ(childNames(c), (std::vector<std::string>{"e"}));
    c->release();
}

TEST_F(BaseNodeTest, LongSiblingChainIsReleased) {
    NamedNode* a = new NamedNode("a");
    // Prepending keeps the build linear; the release must not recurse per sibling.
    for (int k = 0; k < 200000; k++) {
        NamedNode* const leaf = new NamedNode("leaf");
        dgBaseNodeAttach(leaf, a, true);
        leaf->release();
    }
    a->release();
}

// A node that pairs with another hierarchy and records the visits.
class PairingNode : public dgBaseNode {
    DG_DECLARE_CLASS(PairingNode, dgBaseNode)

    static std::vector<std::pair<uint32_t, uint32_t>> s_pairs;

    dgBaseNode* dgBaseNodeWalkPaired(dgBaseNode* other) override {
        s_pairs.emplace_back(getNameId(), other->getNameId());
        return dgBaseNode::dgBaseNodeWalkPaired(other);
    }
};

std::vector<std::pair<uint32_t, uint32_t>> PairingNode::s_pairs;

TEST_F(BaseNodeTest, WalkPairedVisitsMatchingChildren) {
    auto build = [](const char* prefix, int children) {
        PairingNode* root = new PairingNode();
        root->setName((std::string(prefix) + "root").c_str());
        for (int k = 0; k < children; k++) {
            PairingNode* node = new PairingNode();
            node->setName((std::string(prefix) + std::to_string(k)).c_str());
            dgBaseNodeAttach(node, root, false);
            node->release();
        }
        return root;
    };
    PairingNode* mine = build("m", 3);
    PairingNode* theirs = build("t", 3);
    PairingNode::s_pairs.clear();
    dgBaseNode* last = dgBaseNodeWalkPaired(mine, theirs);
    // The roots first (the call itself), then the children in step.
    ASSERT_EQ(PairingNode::s_pairs.size(), 4u);
    EXPECT_EQ(PairingNode::s_pairs[0].first, dgHashName("mroot"));
    EXPECT_EQ(PairingNode::s_pairs[0].second, dgHashName("troot"));
    for (size_t k = 0; k < 3; k++) {
        EXPECT_EQ(PairingNode::s_pairs[k + 1].first, dgHashName(("m" + std::to_string(k)).c_str()));
        EXPECT_EQ(PairingNode::s_pairs[k + 1].second, dgHashName(("t" + std::to_string(k)).c_str()));
    }
    // The leaves return their partner: the last call's result is the last pair's.
    EXPECT_EQ(nameOf(last), "t2");

    // A shorter partner ends the walk instead of pairing with nothing.
    PairingNode* shorter = build("s", 1);
    PairingNode::s_pairs.clear();
    EXPECT_EQ(nameOf(dgBaseNodeWalkPaired(mine, shorter)), "s0");
    EXPECT_EQ(PairingNode::s_pairs.size(), 2u);
    mine->release();
    theirs->release();
    shorter->release();
}

class BaseNodeFileTest : public BaseNodeTest {
protected:
    void SetUp() override {
        BaseNodeTest::SetUp();
        ASSERT_NE(getcwd(m_savedCwd, sizeof(m_savedCwd)), nullptr);
        char pattern[] = "/tmp/dgBaseNodeXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        ASSERT_EQ(chdir(m_root.c_str()), 0);
    }

    void TearDown() override {
        EXPECT_EQ(chdir(m_savedCwd), 0);
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
        BaseNodeTest::TearDown();
    }

    static std::string readFile(const char* path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    char m_savedCwd[PATH_MAX];
    std::string m_root;
};

TEST_F(BaseNodeFileTest, SaveIndentsThreeSpacesPerLevel) {
    {
        std::ofstream old("tree.txt");
        old << "stale contents\n";
    }
    NamedNode* a = new NamedNode("a");
    NamedNode* b = child(a, "b");
    child(b, "d");
    child(a, "c");
    ASSERT_TRUE(dgBaseNodeSave(a, "tree.txt"));
    EXPECT_EQ(readFile("tree.txt"), "a\n   b\n      d\n   c\n");
    a->release();
}

TEST_F(BaseNodeFileTest, SaveOfEngineNodesWritesNothing) {
    dgBaseNode* root = new dgBaseNode();
    dgBaseNode* leaf = new dgBaseNode();
    dgBaseNodeAttach(leaf, root, false);
    leaf->release();
    ASSERT_TRUE(dgBaseNodeSave(root, "engine.txt"));
    EXPECT_TRUE(std::filesystem::exists("engine.txt"));
    EXPECT_EQ(readFile("engine.txt"), "");
    root->release();
    EXPECT_FALSE(dgBaseNodeSave(nullptr, "missing-dir/x.txt"));
}

TEST_F(BaseNodeFileTest, DeepHierarchyPrintsBeyondFixedIndentBuffer) {
    // 400 levels need 1200 indent characters.
    NamedNode* root = new NamedNode("n");
    dgBaseNode* parent = root;
    for (int level = 1; level < 400; level++) {
        parent = child(parent, "n");
    }
    ASSERT_TRUE(dgBaseNodeSave(root, "deep.txt"));
    const std::string text = readFile("deep.txt");
    const std::string lastLine = std::string(3 * 399, ' ') + "n\n";
    ASSERT_GE(text.size(), lastLine.size());
    EXPECT_EQ(text.substr(text.size() - lastLine.size()), lastLine);
    root->release();
}

}  // namespace
