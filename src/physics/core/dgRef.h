// Reference-counted base of every shared engine object, with class identities
// used in place of language run-time type information.
//
// Ownership: an object is born with one reference, owned by its creator. Each
// holder (container, parent, dgRefHolder) owns one more. release() destroys
// the object as soon as the count reaches 0, inside that call.
//
// Memory: objects are allocated through the block cache (class operator
// new / delete below), so `new dgSomething(...)` returns null instead of
// throwing when the hooks fail. Objects placed elsewhere (on the stack, as
// members, in pools) work too; they simply must not be released to 0 unless
// their class overrides deleteThis() to match how they were placed.
//
// Class identities. Every class derived from dgRef declares itself with
//
//     class dgBaseNode : public dgRef {
//         DG_DECLARE_CLASS(dgBaseNode, dgRef)
//         ...
//     };
//
// and may check the declaration in its .cpp with
//
//     DG_IMPLEMENT_CLASS(dgBaseNode, dgRef, "dgBaseNode");
//
// The identity is dgHashBytes of the class-name string (seed 0), computed at
// compile time, so it is valid before any code runs, static initialisers
// included. DG_DECLARE_CLASS uses the class name as written; a class whose
// name string differs (a nested class) uses
//     DG_DECLARE_CLASS_NAMED(dgCollisionConvexPolygon, dgConvexCollision,
//                            "dgCollisionPolygonalSoup::dgCollisionConvexPolygon")
// The macro defines, publicly (it leaves the class body in public access):
//     static constexpr const char* kClassName;
//     static constexpr uint32_t    kClassId;
//     static constexpr bool        isClassIdInChain(uint32_t id);  // own id or a base's
//     uint32_t getClassId() const override;
//     bool     isClass(uint32_t id) const override;
// Test an object with obj->isClass(dgCollisionBox::kClassId), or cast with
// dgRefCast<dgCollisionBox>(obj), which returns null on a mismatch.
//
// Destruction. The last release() calls the protected virtual deleteThis(),
// the "deleting destructor with the free flag": by default `delete this`,
// which runs the virtual destructor and returns the memory through the class's
// operator delete (the block cache). Objects that come from somewhere else
// override it; container nodes destroy themselves and hand their memory back
// to the allocator recorded in the node:
//     void deleteThis() override {
//         dgAllocator* allocator = m_allocator;
//         this->~Node();
//         allocator->free(this);
//     }
// Destroying without freeing (free flag clear) is ordinary destruction of an
// object that lives on the stack or inside another object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "dgHash.h"
#include "dgMemory.h"

class dgRef {
public:
    static constexpr const char* kClassName = "dgRef";
    static constexpr uint32_t kClassId = dgHashConstText("dgRef");
    static constexpr bool isClassIdInChain(uint32_t id) { return id == kClassId; }

    // Reference word: count in bits 8-31, flags in bits 0-7.
    static constexpr uint32_t kRefOne = 0x100u;
    static constexpr uint32_t kFlagMask = 0xFFu;
    static constexpr uint32_t kLiveFlag = 0x01u;

    // One reference, live, unnamed (reference word 257).
    dgRef() noexcept : m_refWord(kRefOne | kLiveFlag), m_nameId(0) {}
    // The copy starts with one reference and the live flag; only the name id
    // is copied.
    dgRef(const dgRef& other) noexcept : m_refWord(kRefOne | kLiveFlag), m_nameId(other.m_nameId) {}
    // Assigning would corrupt counts held by others.
    dgRef& operator=(const dgRef&) = delete;

    // New copy of the object with one reference, or null when the class cannot
    // be copied (the base).
    virtual dgRef* clone() const;
    virtual uint32_t getClassId() const;
    // True when id is the identity of this object's class or of a base class.
    virtual bool isClass(uint32_t id) const;
    virtual void clearLiveFlag();
    virtual void setLiveFlag();
    // name id = dgHashName(name), which records the text; null sets 0.
    virtual void setName(const char* name);
    virtual ~dgRef();

    void addRef() noexcept { m_refWord += kRefOne; }
    // Drops one reference; at 0 the object is destroyed (deleteThis) and 0 is
    // returned, otherwise the remaining count.
    int32_t release() {
        m_refWord -= kRefOne;
        if (m_refWord < kRefOne) {
            deleteThis();
            return 0;
        }
        return int32_t(m_refWord >> 8);
    }
    bool isLive() const { return (m_refWord & kLiveFlag) != 0; }
    uint32_t getNameId() const { return m_nameId; }
    int32_t getRefCount() const { return int32_t(m_refWord >> 8); }
    uint32_t getRefWord() const { return m_refWord; }
    uint32_t getRefFlags() const { return m_refWord & kFlagMask; }

    static void* operator new(std::size_t size) noexcept { return dgMemoryCacheAlloc(size); }
    static void operator delete(void* ptr) noexcept { dgMemoryCacheFree(ptr); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}
    static void* operator new[](std::size_t) = delete;
    static void operator delete[](void*) = delete;

protected:
    // Last reference gone: destroy and free. See the header comment.
    virtual void deleteThis();
    // For classes whose name id is a key of the caller's rather than a name.
    void setNameId(uint32_t nameId) { m_nameId = nameId; }
    // Flag bits 1-7 are free for derived classes.
    void setRefFlags(uint32_t mask) { m_refWord |= (mask & kFlagMask); }
    void clearRefFlags(uint32_t mask) { m_refWord &= ~(mask & kFlagMask); }

private:
    uint32_t m_refWord;
    uint32_t m_nameId;
};

// A class local to one file may never read its kClassName.
#define DG_DECLARE_CLASS_NAMED(ClassName, BaseName, NameText)            \
public:                                                                  \
    [[maybe_unused]] static constexpr const char* kClassName = NameText; \
    static constexpr uint32_t kClassId = dgHashConstText(NameText);      \
    static constexpr bool isClassIdInChain(uint32_t id) {                \
        return id == kClassId || BaseName::isClassIdInChain(id);         \
    }                                                                    \
    uint32_t getClassId() const override {                               \
        return kClassId;                                                 \
    }                                                                    \
    bool isClass(uint32_t id) const override {                           \
        return isClassIdInChain(id);                                     \
    }

#define DG_DECLARE_CLASS(ClassName, BaseName) DG_DECLARE_CLASS_NAMED(ClassName, BaseName, #ClassName)

// Optional compile-time check, at namespace scope in the class's .cpp, that the
// class derives from BaseName and was declared under the name string NameText.
#define DG_IMPLEMENT_CLASS(ClassName, BaseName, NameText)                                                  \
    static_assert(std::is_base_of<BaseName, ClassName>::value, #ClassName " must derive from " #BaseName); \
    static_assert(ClassName::kClassId == dgHashConstText(NameText),                                        \
                  #ClassName " is declared under another class-name string");                              \
    static_assert(ClassName::isClassIdInChain(BaseName::kClassId), #ClassName " does not chain "           \
                                                                              "to " #BaseName)

// Checked downcast by class identity; null when obj is null or not a T.
template <class T>
T* dgRefCast(dgRef* obj) {
    return (obj && obj->isClass(T::kClassId)) ? static_cast<T*>(obj) : nullptr;
}
template <class T>
const T* dgRefCast(const dgRef* obj) {
    return (obj && obj->isClass(T::kClassId)) ? static_cast<const T*>(obj) : nullptr;
}

// One-word smart pointer holding one reference to a dgRef-derived object.
// Assigning a new object adds a reference to it and releases the old one.
template <class T>
class dgRefHolder {
public:
    dgRefHolder() noexcept : m_object(nullptr) {}
    // Adds a reference to obj (the caller keeps its own).
    explicit dgRefHolder(T* obj) : m_object(obj) {
        if (m_object) {
            m_object->addRef();
        }
    }
    // Takes over a reference the caller owns (e.g. a fresh object's first one).
    static dgRefHolder adopt(T* obj) {
        dgRefHolder holder;
        holder.m_object = obj;
        return holder;
    }
    dgRefHolder(const dgRefHolder& other) : m_object(other.m_object) {
        if (m_object) {
            m_object->addRef();
        }
    }
    dgRefHolder(dgRefHolder&& other) noexcept : m_object(other.m_object) { other.m_object = nullptr; }
    ~dgRefHolder() {
        if (m_object) {
            m_object->release();
        }
    }
    dgRefHolder& operator=(T* obj) {
        // Reference the new object first so that re-assigning the same object
        // never lets it reach 0.
        if (obj) {
            obj->addRef();
        }
        T* old = m_object;
        m_object = obj;
        if (old) {
            old->release();
        }
        return *this;
    }
    dgRefHolder& operator=(const dgRefHolder& other) { return *this = other.m_object; }
    dgRefHolder& operator=(dgRefHolder&& other) noexcept {
        if (this != &other) {
            T* old = m_object;
            m_object = other.m_object;
            other.m_object = nullptr;
            if (old) {
                old->release();
            }
        }
        return *this;
    }

    T* get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }
    // Releases the held reference.
    void reset() { *this = static_cast<T*>(nullptr); }
    // Gives the held reference to the caller without releasing it.
    T* detach() {
        T* obj = m_object;
        m_object = nullptr;
        return obj;
    }

private:
    T* m_object;
};
