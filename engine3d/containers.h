#pragma once
// The engine's two containers: a bounds-tested array of fixed length and a singly linked list that keeps
// the newest element at its head but is indexed in insertion order. Misuse (a negative size, an index out
// of range) throws the nested Constraint of the instantiation; it marks a programming error.

#include <new>
#include <type_traits>

namespace zorbrix {

template <typename T>
class CList;

template <typename T>
class CArray {
    static_assert(std::is_trivially_copyable_v<T>, "engine containers hold plain data only");

public:
    class Constraint {};

    CArray() = default;
    CArray(const CArray& other) { *this = other; }
    ~CArray() { delete[] m_data; }

    // Reallocates to n default elements; the old contents are dropped. Negative n throws and changes nothing.
    void SetSize(int n) {
        if (n < 0) throw Constraint{};
        T* block = n > 0 ? new T[n]() : nullptr;
        delete[] m_data;
        m_data = block;
        m_size = n;
    }

    int GetSize() const { return m_size; }

    T& operator[](int i) {
        if (i < 0 || i >= m_size) throw Constraint{};
        return m_data[i];
    }
    const T& operator[](int i) const {
        if (i < 0 || i >= m_size) throw Constraint{};
        return m_data[i];
    }

    CArray& operator=(const CArray& other) {
        if (this == &other) return *this;
        if (other.m_size < 0) throw Constraint{};
        T* block = other.m_size > 0 ? new T[other.m_size] : nullptr;
        for (int i = 0; i < other.m_size; ++i) block[i] = other.m_data[i];
        delete[] m_data;
        m_data = block;
        m_size = other.m_size;
        return *this;
    }

    // Unchecked view of the storage for loops that have already validated their indices.
    T* Data() { return m_data; }
    const T* Data() const { return m_data; }

    // Makes this array a copy of the list in insertion order (element 0 = the element added first).
    void CopyFrom(const CList<T>& list);

private:
    T* m_data = nullptr;
    int m_size = 0;
};

template <typename T>
class CList {
    static_assert(std::is_trivially_copyable_v<T>, "engine containers hold plain data only");

public:
    class Constraint {};

    struct Node {
        T value;
        Node* next;
    };

    CList() = default;
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    ~CList() { RemoveAll(); }

    void AddHead(const T& value) {
        if (!m_block || m_block->used == NODES_PER_BLOCK) m_block = new Block(m_block);
        m_head = new (&m_block->slots[m_block->used++]) Node{value, m_head};
        ++m_count;
    }

    int GetCount() const { return m_count; }

    // Element with insertion index i: it lies m_count - 1 - i links from the head.
    const T& GetAt(int i) const {
        if (i < 0 || i >= m_count) throw Constraint{};
        const Node* node = m_head;
        for (int steps = m_count - 1 - i; steps > 0 && node; --steps) node = node->next;
        if (!node) throw Constraint{};
        return node->value;
    }

    void RemoveAll() {
        while (m_block) {
            Block* older = m_block->older;
            delete m_block;
            m_block = older;
        }
        m_head = nullptr;
        m_count = 0;
    }

    const Node* Head() const { return m_head; }

private:
    // Nodes are carved from blocks so that building a mesh of hundreds of elements every frame costs a
    // few allocations instead of one per element. Elements are plain data: nothing to destroy.
    static constexpr int NODES_PER_BLOCK = 128;
    struct Slot {
        alignas(Node) unsigned char bytes[sizeof(Node)];
    };
    struct Block {
        explicit Block(Block* previous) : older(previous) {}
        Block* older;
        int used = 0;
        Slot slots[NODES_PER_BLOCK];
    };

    Node* m_head = nullptr;
    int m_count = 0;
    Block* m_block = nullptr;
};

// One pass from the head: the head is the newest element, so it goes to the last index and the walk
// fills the array backwards. Same result as copying GetAt(i) for every i, in linear time.
template <typename T>
void CArray<T>::CopyFrom(const CList<T>& list) {
    const int count = list.GetCount();
    SetSize(count);
    const typename CList<T>::Node* node = list.Head();
    for (int i = count - 1; i >= 0; --i) {
        if (!node) throw typename CList<T>::Constraint{};
        m_data[i] = node->value;
        node = node->next;
    }
}

}  // namespace zorbrix
