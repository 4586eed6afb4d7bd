#include "dgAttributeSet.h"

dgAllocator* dgAttributeSet::dgAttributeSetNodePool() {
    static dgAllocator* const pool = dgCreatePoolAllocator(uint32_t(sizeof(Node)), 4);
    return pool;
}

dgAttributeSet::dgAttributeSet() : m_tree(dgAttributeSetNodePool()) {}

dgAttributeSet::~dgAttributeSet() {
    clear();
}
