// Intrusive doubly linked list of owned objects, guarded by one re-entrant lock.
#pragma once

#include <windows.h>

class LockedListBase;

class LockedListItem {
public:
    LockedListItem() : m_owner(nullptr), m_previous(nullptr), m_next(nullptr) {}
    virtual ~LockedListItem() {}
    // Called when the list lets go of the item (Clear, or the list's end). Items whose
    // lifetime others share override it; the default destroys the item.
    virtual void Discard() { delete this; }
    LockedListItem(const LockedListItem&) = delete;
    LockedListItem& operator=(const LockedListItem&) = delete;

private:
    friend class LockedListBase;
    const LockedListBase* m_owner;
    LockedListItem* m_previous;
    LockedListItem* m_next;
};

class LockedListBase {
public:
    LockedListBase();
    ~LockedListBase();
    LockedListBase(const LockedListBase&) = delete;
    LockedListBase& operator=(const LockedListBase&) = delete;

    // Re-entrant: the owning thread may lock again; every Lock needs its Unlock.
    void Lock();
    void Unlock();
    // Takes ownership; answers 0 for a null item or one that is already in a list.
    int Append(LockedListItem* item);
    // Unlinks without destroying; the caller owns the item afterwards.
    int Remove(LockedListItem* item);
    // Unlinks and discards every element.
    void Clear();
    int Count();

protected:
    LockedListItem* FirstItem() const { return m_first; }
    static LockedListItem* NextItem(const LockedListItem* item) { return item ? item->m_next : nullptr; }

private:
    // A re-entrant critical section. (A signalled gate event waited on after entering would
    // change nothing but cost a kernel call per lock: thousands per rebuild.)
    CRITICAL_SECTION m_lock;
    LockedListItem* m_first;
    LockedListItem* m_last;
    int m_count;
};

// Typed view: T must derive from LockedListItem.
template <class T>
class LockedList : public LockedListBase {
public:
    int Append(T* item) { return LockedListBase::Append(item); }
    T* First() const { return static_cast<T*>(FirstItem()); }
    static T* Next(const T* item) { return static_cast<T*>(NextItem(item)); }
};

// Holds a list's lock for one scope.
class ListLock {
public:
    explicit ListLock(LockedListBase& list) : m_list(list) { m_list.Lock(); }
    ~ListLock() { m_list.Unlock(); }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

private:
    LockedListBase& m_list;
};
