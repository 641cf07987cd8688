#include <gtest/gtest.h>

#include <vector>

#include "common/LockedList.h"

namespace {

struct Counted : LockedListItem {
    explicit Counted(int v, LONG* destroyed = nullptr) : value(v), destroyed(destroyed) {}
    ~Counted() override
    {
        if (destroyed) InterlockedIncrement(destroyed);
    }
    int value;
    LONG* destroyed;
};

std::vector<int> Values(LockedList<Counted>& list)
{
    std::vector<int> values;
    ListLock lock(list);
    for (Counted* item = list.First(); item; item = list.Next(item)) values.push_back(item->value);
    return values;
}

}  // namespace

TEST(LockedList, KeepsInsertionOrderAndOwnsItems)
{
    LONG destroyed = 0;
    {
        LockedList<Counted> list;
        Counted* second = new Counted(2, &destroyed);
        list.Append(new Counted(1, &destroyed));
        list.Append(second);
        list.Append(new Counted(3, &destroyed));
        EXPECT_EQ((std::vector<int>{1, 2, 3}), Values(list));

        EXPECT_EQ(1, list.Remove(second));
        EXPECT_EQ(0, list.Remove(second)) << "not in the list any more";
        EXPECT_EQ((std::vector<int>{1, 3}), Values(list));
        EXPECT_EQ(0, destroyed) << "Remove hands the item back";
        EXPECT_EQ(0, list.Append(nullptr));

        LockedList<Counted> other;
        other.Append(second);
        EXPECT_EQ(0, list.Append(second)) << "an item lives in one list at a time";
        EXPECT_EQ(0, list.Remove(second)) << "another list's item is left alone";

        list.Clear();
        EXPECT_EQ(2, destroyed);
        EXPECT_EQ(nullptr, list.First());
        list.Append(new Counted(4, &destroyed));
    }
    EXPECT_EQ(4, destroyed) << "destroying the lists destroys what they still hold";
}

TEST(LockedList, LockIsReentrant)
{
    LockedList<Counted> list;
    list.Lock();
    list.Lock();
    list.Append(new Counted(1));  // takes the lock a third time
    EXPECT_EQ(1, list.Count());
    list.Unlock();
    list.Unlock();
}

namespace {

struct Shared {
    LockedList<Counted> list;
    LONG destroyed = 0;
    volatile LONG broken = 0;
};

DWORD WINAPI Churn(void* parameter)
{
    Shared* shared = static_cast<Shared*>(parameter);
    for (int round = 0; round < 2000; round++) {
        Counted* mine = new Counted(round, &shared->destroyed);
        shared->list.Append(mine);
        {
            ListLock lock(shared->list);
            int seen = 0;
            for (Counted* item = shared->list.First(); item; item = shared->list.Next(item)) seen++;
            if (seen != shared->list.Count()) InterlockedExchange(&shared->broken, 1);
        }
        if (round % 2 == 0) {
            if (shared->list.Remove(mine))
                delete mine;
            else
                InterlockedExchange(&shared->broken, 1);
        }
    }
    return 0;
}

}  // namespace

TEST(LockedList, StaysConsistentUnderSeveralThreads)
{
    Shared shared;
    HANDLE threads[4];
    for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, Churn, &shared, 0, nullptr);
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
    EXPECT_EQ(0, shared.broken);
    EXPECT_EQ(4 * 1000, shared.list.Count());
    EXPECT_EQ(4 * 1000, shared.destroyed);
    std::vector<int> values = Values(shared.list);
    for (int value : values) EXPECT_EQ(1, value % 2);
    shared.list.Clear();
    EXPECT_EQ(4 * 2000, shared.destroyed);
}
