// A fixed table of objects that NorvaneFwUpdaterSim.exe hands out by pointer, the pointer being the
// caller's handle: device information lists and preparsed data. Without a destructor, so that a
// call while the process ends still finds the table. The program is single-threaded; so is this.
#pragma once

#include <cstddef>

template <typename T, std::size_t N> struct SlotTable {
    T* slots[N] = {};
};

// The slot that holds the object behind a handle, or null when the handle is not one of the table.
template <typename T, std::size_t N> T** slot_of(SlotTable<T, N>& table, const void* handle) {
    for (T*& slot : table.slots) {
        if (slot != nullptr && static_cast<const void*>(slot) == handle) {
            return &slot;
        }
    }
    return nullptr;
}

// A copy of `value` in a free slot; null when the table is full.
template <typename T, std::size_t N> T* slot_add(SlotTable<T, N>& table, const T& value) {
    for (T*& slot : table.slots) {
        if (slot == nullptr) {
            slot = new T(value);
            return slot;
        }
    }
    return nullptr;
}

// Frees the object behind a handle; false when the handle is not one of the table.
template <typename T, std::size_t N> bool slot_remove(SlotTable<T, N>& table, const void* handle) {
    T** slot = slot_of(table, handle);
    if (slot == nullptr) {
        return false;
    }
    delete *slot;
    *slot = nullptr;
    return true;
}
