// What the two indexes need of their user. Neither owns its items nor looks
// inside one except through these: the B+-tree (ordered_index.h) through an
// order, the hash table (hash_index.h) through a hasher. The user defines
// them beside its item type; nothing in this folder names that type.
#pragma once

#include <concepts>
#include <cstdint>

namespace lastspot::index {

// The order of an OrderedIndex, as static functions of two items or one:
//
//   Compare(a, b)  negative when a sorts before b, zero when they have the
//                  same key, positive when a sorts after b. A strict weak
//                  order with no two stored items equal.
//   Prefix(a)      a 64-bit number that agrees with Compare as far as it
//                  goes: Prefix(a) < Prefix(b) gives Compare(a, b) < 0, and
//                  Compare(a, b) < 0 gives Prefix(a) <= Prefix(b). Equal
//                  prefixes say nothing; the tree then asks Compare.
//   Prefetch(a)    asks the processor for the memory Compare and a walk's
//                  visitor will read of `a`; no result, no effect on order.
//
// The tree keeps each key's prefix in its nodes, so a search descends by
// integer comparisons and reads an item only where prefixes tie.
template <typename Order, typename Item>
concept ItemOrder = requires(const Item* a, const Item* b) {
    { Order::Compare(a, b) } -> std::convertible_to<int>;
    { Order::Prefix(a) } -> std::same_as<std::uint64_t>;
    Order::Prefetch(a);
};

// A search by a key that is not an item: `search(stored)` compares the key
// with a stored item as Order::Compare(key, stored) would, and comes with
// the key's Order::Prefix.
template <typename Search, typename Item>
concept KeySearch = requires(Search& search, const Item* stored) {
    { search(stored) } -> std::convertible_to<int>;
};

// The hasher of a HashIndex, an object the index keeps a copy of:
//
//   hasher(a)           64 well-mixed bits; items with equal keys hash
//                       equal. The index asks it only while a growth moves
//                       items and when it checks itself: every other call
//                       brings the hash with it.
//   hasher.Prefetch(a)  asks for the memory hasher(a) reads.
template <typename Hasher, typename Item>
concept ItemHasher = std::copy_constructible<Hasher> && requires(const Hasher& hasher, const Item* a) {
    { hasher(a) } -> std::same_as<std::uint64_t>;
    hasher.Prefetch(a);
};

// A hash lookup's test of a stored item: true when it has the wanted key.
template <typename Match, typename Item>
concept ItemMatch = requires(Match& match, const Item* stored) {
    { match(stored) } -> std::convertible_to<bool>;
};

}  // namespace lastspot::index
