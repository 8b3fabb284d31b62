// The SAH build tree of one context as the block writer reads it.
#ifndef VEKR_SCENE_SAH_TREE_VIEW_H
#define VEKR_SCENE_SAH_TREE_VIEW_H

#include <cstdint>
#include <cstring>

#include "scene/sah_context.h"

namespace vekr::sah {

struct BuildTreeView {
    using Node = const BuildNode*;
    const Context& ctx;
    uint32_t rootHandle;

    Node root() const { return ctx.nodeAt(rootHandle); }
    bool isLeaf(Node n) const { return n->kind == kLeafKind; }
    int32_t axis(Node n) const { return n->kind; }
    float split(Node n) const
    {
        float f;
        std::memcpy(&f, &n->value, 4);
        return f;
    }
    Node child(Node n, int c) const { return ctx.nodeAt(n->ref) + c; }
    int32_t leafCount(Node n) const { return static_cast<int32_t>(n->value); }
    const int32_t* leafTriangles(Node n) const
    {
        return n->ref == kNoHandle ? nullptr : reinterpret_cast<const int32_t*>(ctx.leafPool.at(n->ref));
    }
};

}  // namespace vekr::sah

#endif
