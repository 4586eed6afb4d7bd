// Process-wide record of name texts by hash, so that a name id can be turned
// back into its text. Texts are packed into large pages and kept until exit.
// Built on the first dgHashName or dgNameFromHash call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dgHash.h"
#include "dgRbTree.h"
#include "dgRefList.h"

class dgNameDictionary {
public:
    // Text bytes per page: the longest recordable name plus its terminator.
    static constexpr int32_t kPageTextBytes = dgNameMaxLength + 1;

    static dgNameDictionary& instance();
    ~dgNameDictionary();
    dgNameDictionary(const dgNameDictionary&) = delete;
    dgNameDictionary& operator=(const dgNameDictionary&) = delete;

    // Records `length` characters of text (no terminator among them) under
    // hash unless the hash is already recorded. Returns the stored text, or
    // null when the name is too long or memory ran out.
    const char* record(uint32_t hash, const char* text, size_t length);
    // Stored text of the hash, or null.
    const char* find(uint32_t hash) const;

    int32_t getPageCount() const { return m_pages.getCount(); }
    // Bytes still free in the newest page.
    int32_t getRemaining() const { return m_remaining; }

private:
    struct Page {
        char text[kPageTextBytes];
    };

    dgNameDictionary();
    bool addPage();

    dgRbTree<const char*, uint32_t> m_names;
    dgRefList<Page> m_pages;
    int32_t m_remaining;
    char* m_position;
};
