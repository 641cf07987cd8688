#include "common/LockedList.h"

LockedListBase::LockedListBase() : m_first(nullptr), m_last(nullptr), m_count(0)
{
    InitializeCriticalSection(&m_lock);
}

LockedListBase::~LockedListBase()
{
    Clear();
    DeleteCriticalSection(&m_lock);
}

void LockedListBase::Lock()
{
    EnterCriticalSection(&m_lock);
}

void LockedListBase::Unlock()
{
    LeaveCriticalSection(&m_lock);
}

int LockedListBase::Append(LockedListItem* item)
{
    if (!item || item->m_owner) return 0;
    Lock();
    item->m_owner = this;
    item->m_next = nullptr;
    item->m_previous = m_last;
    if (m_last)
        m_last->m_next = item;
    else
        m_first = item;
    m_last = item;
    m_count++;
    Unlock();
    return 1;
}

int LockedListBase::Remove(LockedListItem* item)
{
    if (!item) return 0;
    Lock();
    bool linked = item->m_owner == this;
    if (linked) {
        if (item->m_previous)
            item->m_previous->m_next = item->m_next;
        else
            m_first = item->m_next;
        if (item->m_next)
            item->m_next->m_previous = item->m_previous;
        else
            m_last = item->m_previous;
        item->m_previous = item->m_next = nullptr;
        item->m_owner = nullptr;
        m_count--;
    }
    Unlock();
    return linked ? 1 : 0;
}

void LockedListBase::Clear()
{
    Lock();
    LockedListItem* item = m_first;
    m_first = m_last = nullptr;
    m_count = 0;
    while (item) {
        LockedListItem* next = item->m_next;
        item->m_owner = nullptr;
        item->m_previous = item->m_next = nullptr;
        item->Discard();
        item = next;
    }
    Unlock();
}

int LockedListBase::Count()
{
    Lock();
    int count = m_count;
    Unlock();
    return count;
}
