// A build tree assembled by hand in tests, laid out with the library's own
// block writer: lets traversal tests use trees of a chosen shape.
#ifndef VEKR_TESTS_SUPPORT_HAND_TREE_H
#define VEKR_TESTS_SUPPORT_HAND_TREE_H

#include <cstdint>
#include <vector>

#include "scene/tree_block_writer.h"

namespace vekr_test {

class HandTree {
public:
    using Node = int32_t;

    // Returns the new node's index; the first node added is the root.
    Node leaf(std::vector<int32_t> triangles)
    {
        nodes_.push_back({-1, 0.0f, {-1, -1}, std::move(triangles)});
        return static_cast<Node>(nodes_.size() - 1);
    }
    Node inner(int32_t axis, float split)
    {
        nodes_.push_back({axis, split, {-1, -1}, {}});
        return static_cast<Node>(nodes_.size() - 1);
    }
    void setChildren(Node n, Node below, Node above)
    {
        nodes_[n].child[0] = below;
        nodes_[n].child[1] = above;
    }

    // Adapter interface of the block writer.
    Node root() const { return 0; }
    bool isLeaf(Node n) const { return nodes_[n].axis < 0; }
    int32_t axis(Node n) const { return nodes_[n].axis; }
    float split(Node n) const { return nodes_[n].split; }
    Node child(Node n, int c) const { return nodes_[n].child[c]; }
    int32_t leafCount(Node n) const { return static_cast<int32_t>(nodes_[n].triangles.size()); }
    const int32_t* leafTriangles(Node n) const { return nodes_[n].triangles.data(); }

private:
    struct Entry {
        int32_t axis;
        float split;
        Node child[2];
        std::vector<int32_t> triangles;
    };
    std::vector<Entry> nodes_;
};

// Owns a tree block from the writer.
struct TreeBlock {
    VekrKDTreeNode* root = nullptr;
    int32_t size = 0;
    TreeBlock() = default;
    TreeBlock(const TreeBlock&) = delete;
    TreeBlock& operator=(const TreeBlock&) = delete;
    ~TreeBlock() { vekFree(root); }
};

inline VekStatus layOut(const HandTree& t, TreeBlock& out)
{
    return vekr::writeTreeBlock(t, &out.root, &out.size);
}

}  // namespace vekr_test

#endif
