// Doubly linked list of reference-counted nodes. Nodes come from the list's
// allocator (by default the shared pool of the node size) and the list holds
// one reference to each; a node removed from the list while someone else
// holds it survives detached, with its live flag cleared.
#pragma once

#include <cstdint>
#include <new>
#include <utility>

#include "dgPoolAllocator.h"
#include "dgRef.h"

template <class T>
class dgRefList {
public:
    class Node : public dgRef {
    public:
        T& getValue() { return m_value; }
        const T& getValue() const { return m_value; }
        Node* getNext() const { return m_next; }
        Node* getPrev() const { return m_prev; }
        dgAllocator* getAllocator() const { return m_allocator; }

    protected:
        // Pool element: destroy in place and hand the memory back to the
        // allocator the node came from.
        void deleteThis() override {
            dgAllocator* allocator = m_allocator;
            this->~Node();
            allocator->free(this);
        }

    private:
        friend class dgRefList;
        template <class... A>
        explicit Node(dgAllocator* allocator, A&&... args)
            : m_next(nullptr), m_prev(nullptr), m_allocator(allocator), m_value(std::forward<A>(args)...) {}

        Node* m_next;
        Node* m_prev;
        dgAllocator* m_allocator;
        T m_value;
    };

    // allocator: where the nodes come from; null selects the shared pool of
    // the node size. The pool is taken now so that it outlives this list.
    explicit dgRefList(dgAllocator* allocator = nullptr)
        : m_count(0),
          m_last(nullptr),
          m_first(nullptr),
          m_allocator(allocator ? allocator : dgSharedPoolAllocator(sizeof(Node))) {}
    ~dgRefList() { removeAll(); }
    dgRefList(const dgRefList&) = delete;
    dgRefList& operator=(const dgRefList&) = delete;
    // Moving hands the nodes over; the source is left empty with the same allocator.
    dgRefList(dgRefList&& other) noexcept
        : m_count(other.m_count),
          m_last(other.m_last),
          m_first(other.m_first),
          m_allocator(other.m_allocator) {
        other.m_count = 0;
        other.m_last = nullptr;
        other.m_first = nullptr;
    }
    dgRefList& operator=(dgRefList&& other) noexcept {
        if (this != &other) {
            removeAll();
            m_count = other.m_count;
            m_last = other.m_last;
            m_first = other.m_first;
            m_allocator = other.m_allocator;
            other.m_count = 0;
            other.m_last = nullptr;
            other.m_first = nullptr;
        }
        return *this;
    }

    int32_t getCount() const { return m_count; }
    Node* getFirst() const { return m_first; }
    Node* getLast() const { return m_last; }
    dgAllocator* getAllocator() const { return m_allocator; }

    // New node constructed from args, linked after the last node. Null when
    // the allocator fails.
    template <class... A>
    Node* append(A&&... args) {
        Node* node = newNode(std::forward<A>(args)...);
        if (node) {
            node->m_prev = m_last;
            if (m_last) {
                m_last->m_next = node;
            } else {
                m_first = node;
            }
            m_last = node;
            ++m_count;
        }
        return node;
    }

    // New node linked before the first node. Null when the allocator fails.
    template <class... A>
    Node* prepend(A&&... args) {
        Node* node = newNode(std::forward<A>(args)...);
        if (node) {
            node->m_next = m_first;
            if (m_first) {
                m_first->m_prev = node;
            } else {
                m_last = node;
            }
            m_first = node;
            ++m_count;
        }
        return node;
    }

    // Relinks a node of this list before the first node; nothing is
    // allocated or released.
    void moveToFront(Node* node) {
        if (node == m_first) {
            return;
        }
        // Not first, so it has a predecessor.
        node->m_prev->m_next = node->m_next;
        if (node->m_next) {
            node->m_next->m_prev = node->m_prev;
        } else {
            m_last = node->m_prev;
        }
        node->m_prev = nullptr;
        node->m_next = m_first;
        m_first->m_prev = node;
        m_first = node;
    }

    // Unlinks a node of this list, clears its live flag and drops the list's
    // reference (destroying it unless someone else holds it).
    void remove(Node* node) {
        --m_count;
        if (node == m_first) {
            m_first = node->m_next;
        }
        if (node == m_last) {
            m_last = node->m_prev;
        }
        node->clearLiveFlag();
        if (node->m_prev) {
            node->m_prev->m_next = node->m_next;
        }
        if (node->m_next) {
            node->m_next->m_prev = node->m_prev;
        }
        node->m_next = nullptr;
        node->m_prev = nullptr;
        node->release();
    }

    void removeAll() {
        while (m_first) {
            remove(m_first);
        }
        m_count = 0;
    }

    // Relinks a node of this list just after `where` (another node of this
    // list), or at the front when where is null. Nothing is allocated or
    // released.
    void moveAfter(Node* node, Node* where) {
        if ((node->m_prev == where) || (node == where)) {
            return;
        }
        if (node->m_prev) {
            node->m_prev->m_next = node->m_next;
        } else {
            m_first = node->m_next;
        }
        if (node->m_next) {
            node->m_next->m_prev = node->m_prev;
        } else {
            m_last = node->m_prev;
        }
        Node* const next = where ? where->m_next : m_first;
        node->m_prev = where;
        node->m_next = next;
        if (where) {
            where->m_next = node;
        } else {
            m_first = node;
        }
        if (next) {
            next->m_prev = node;
        } else {
            m_last = node;
        }
    }

private:
    template <class... A>
    Node* newNode(A&&... args) {
        void* memory = m_allocator->alloc(sizeof(Node));
        return memory ? ::new (memory) Node(m_allocator, std::forward<A>(args)...) : nullptr;
    }

    int32_t m_count;
    Node* m_last;
    Node* m_first;
    dgAllocator* m_allocator;
};
