#pragma once

#include <cstddef>
#include <deque>

// The item list of a web component: items keep their address while others are added or
// removed at the end, and an index out of range raises instead of reading past the list.
template <typename Item> class TItemCollection {
public:
    Item& Add() { return items.emplace_back(); }
    void Delete(int index) { items.erase(items.begin() + index); }
    void Clear() { items.clear(); }
    int Count() const { return static_cast<int>(items.size()); }
    Item& operator[](int index) { return items.at(static_cast<std::size_t>(index)); }
    const Item& operator[](int index) const { return items.at(static_cast<std::size_t>(index)); }

private:
    std::deque<Item> items;
};
