#pragma once
// Ordered map: a red-black tree of (key, value) pairs ordered by key, without duplicate keys.
// Nodes come from the process heap. Its client is the glyph cache of the font code: find and
// insert, no removal.
//
// Thread contract: not synchronised; its user guards it.

#include <cstddef>
#include <functional>
#include <utility>

#include "korvo/core/nogc.h"

namespace korvo {

// A (key, value) pair as stored in the tree.
template <class Key, class Value>
struct KeyValue {
    Key key;
    Value value;
};

// Orders aggregate keys with their own operator< (lexicographic for structs that define it).
struct lessForAggregate {
    template <class T>
    bool operator()(const T& a, const T& b) const {
        return a < b;
    }
};

template <class Key, class Value, class Less = lessForAggregate>
class RedBlackTree {
public:
    RedBlackTree() = default;
    ~RedBlackTree() { clear(); }
    RedBlackTree(const RedBlackTree&) = delete;
    RedBlackTree& operator=(const RedBlackTree&) = delete;

    // The value stored under key, or null.
    Value* find(const Key& key) noexcept {
        Node* node = root_;
        while (node != nullptr) {
            if (less_(key, node->pair.key))
                node = node->left;
            else if (less_(node->pair.key, key))
                node = node->right;
            else
                return &node->pair.value;
        }
        return nullptr;
    }
    const Value* find(const Key& key) const noexcept { return const_cast<RedBlackTree*>(this)->find(key); }

    // Inserts (key, value) and returns the stored value. When the key is present already, its value
    // is replaced.
    Value& insert(const Key& key, const Value& value) {
        Node* parent = nullptr;
        Node** link = &root_;
        while (*link != nullptr) {
            parent = *link;
            if (less_(key, parent->pair.key))
                link = &parent->left;
            else if (less_(parent->pair.key, key))
                link = &parent->right;
            else {
                parent->pair.value = value;
                return parent->pair.value;
            }
        }
        Node* node = heapNew<Node>(Node{{key, value}, nullptr, nullptr, parent, true});
        *link = node;
        ++size_;
        rebalanceAfterInsert(node);
        return node->pair.value;
    }

    // Removes every pair.
    void clear() noexcept {
        destroy(root_);
        root_ = nullptr;
        size_ = 0;
    }

    std::size_t size() const noexcept { return size_; }

    // Calls f(key, value) for every pair in key order.
    template <class F>
    void forEach(F&& f) const {
        visit(root_, f);
    }

    // Longest root-to-leaf path, for tests of the balance.
    std::size_t height() const noexcept { return heightOf(root_); }

private:
    struct Node {
        KeyValue<Key, Value> pair;
        Node* left;
        Node* right;
        Node* parent;
        bool red;
    };

    static bool isRed(const Node* node) noexcept { return node != nullptr && node->red; }

    void rotateLeft(Node* x) noexcept {
        Node* y = x->right;
        x->right = y->left;
        if (y->left != nullptr) y->left->parent = x;
        replaceChild(x, y);
        y->left = x;
        x->parent = y;
    }

    void rotateRight(Node* x) noexcept {
        Node* y = x->left;
        x->left = y->right;
        if (y->right != nullptr) y->right->parent = x;
        replaceChild(x, y);
        y->right = x;
        x->parent = y;
    }

    // Puts y where x hangs from its parent.
    void replaceChild(Node* x, Node* y) noexcept {
        y->parent = x->parent;
        if (x->parent == nullptr)
            root_ = y;
        else if (x == x->parent->left)
            x->parent->left = y;
        else
            x->parent->right = y;
    }

    void rebalanceAfterInsert(Node* node) noexcept {
        while (isRed(node->parent)) {
            Node* parent = node->parent;
            Node* grandparent = parent->parent;  // exists: a red node is never the root
            const bool parentIsLeft = parent == grandparent->left;
            Node* uncle = parentIsLeft ? grandparent->right : grandparent->left;
            if (isRed(uncle)) {
                parent->red = false;
                uncle->red = false;
                grandparent->red = true;
                node = grandparent;
                continue;
            }
            if (parentIsLeft) {
                if (node == parent->right) {
                    rotateLeft(parent);
                    node = parent;
                    parent = node->parent;
                }
                rotateRight(grandparent);
            } else {
                if (node == parent->left) {
                    rotateRight(parent);
                    node = parent;
                    parent = node->parent;
                }
                rotateLeft(grandparent);
            }
            parent->red = false;
            grandparent->red = true;
            break;
        }
        root_->red = false;
    }

    static void destroy(Node* node) noexcept {
        while (node != nullptr) {
            destroy(node->right);
            Node* left = node->left;
            heapDelete(node);
            node = left;
        }
    }

    template <class F>
    static void visit(const Node* node, F& f) {
        if (node == nullptr) return;
        visit(node->left, f);
        f(node->pair.key, node->pair.value);
        visit(node->right, f);
    }

    static std::size_t heightOf(const Node* node) noexcept {
        if (node == nullptr) return 0;
        const std::size_t l = heightOf(node->left), r = heightOf(node->right);
        return 1 + (l > r ? l : r);
    }

    Node* root_ = nullptr;
    std::size_t size_ = 0;
    [[no_unique_address]] Less less_{};
};

template <class Key, class Value, class Less = lessForAggregate>
using OrderedMap = RedBlackTree<Key, Value, Less>;

}  // namespace korvo
