#include "dgNameDictionary.h"

#include <cstring>

dgNameDictionary& dgNameDictionary::instance() {
    // The tree and page list take their pools while this is being built, so
    // the pool registry's exit handler is registered first and runs last:
    // the dictionary's nodes go back to their pools before the pools go.
    static dgNameDictionary dictionary;
    return dictionary;
}

dgNameDictionary::dgNameDictionary()
    : m_names(nullptr), m_pages(nullptr), m_remaining(0), m_position(nullptr) {
    addPage();
}

dgNameDictionary::~dgNameDictionary() {
    m_pages.removeAll();
    m_names.removeAll();
    m_remaining = 0;
    m_position = nullptr;
}

bool dgNameDictionary::addPage() {
    dgRefList<Page>::Node* page = m_pages.prepend();
    if (!page) {
        return false;
    }
    m_remaining = kPageTextBytes;
    m_position = page->getValue().text;
    return true;
}

const char* dgNameDictionary::record(uint32_t hash, const char* text, size_t length) {
    if (dgRbTree<const char*, uint32_t>::Node* node = m_names.find(hash)) {
        return node->getPayload();
    }
    // A longer name cannot fit in a page: hashed, never recorded.
    if (length > size_t(dgNameMaxLength)) {
        return nullptr;
    }
    const int32_t bytes = int32_t(length) + 1;
    if (m_remaining < bytes && !addPage()) {
        return nullptr;
    }
    char* stored = m_position;
    std::memcpy(stored, text, length);
    stored[length] = 0;
    if (!m_names.insert(static_cast<const char*>(stored), hash)) {
        return nullptr;
    }
    m_position += bytes;
    m_remaining -= bytes;
    return stored;
}

const char* dgNameDictionary::find(uint32_t hash) const {
    dgRbTree<const char*, uint32_t>::Node* node = m_names.find(hash);
    return node ? node->getPayload() : nullptr;
}
