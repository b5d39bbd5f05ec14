// The ordered index against std::set with the same comparison, on nick-like
// keys under the IRC case rules: insert, find, remove and a full walk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/avl_index.h"
#include "text/case_map.h"

namespace {

struct Key {
    std::string nick;
};
void ReleaseItem(Key*) {}  // the benchmark owns the keys

int CompareKeys(const Key* probe, const Key* stored) {
    return lastspot::text::IrcCompare(probe->nick.c_str(), stored->nick.c_str());
}
struct SetOrder {
    bool operator()(const Key* a, const Key* b) const { return CompareKeys(a, b) < 0; }
};

using Index = lastspot::index::AvlIndex<Key>;

// Distinct random nicks, made once per size and kept, so the index and
// std::set of one size look up the very same keys at the same addresses.
const std::vector<Key>& Keys(std::size_t n) {
    static std::map<std::size_t, std::vector<Key>> bySize;
    std::vector<Key>& keys = bySize[n];
    if (keys.empty()) {
        std::mt19937 random(7);
        std::set<std::string> seen;
        while (keys.size() < n) {
            std::string nick(5 + random() % 8, 'a');
            for (char& c : nick) c = "abcdefghijklmnopqrstuvwxyz[]_^0123456789"[random() % 40];
            if (seen.insert(nick).second) keys.push_back({nick});
        }
    }
    return keys;
}

void IndexInsert(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    for (auto _ : state) {
        Index index(CompareKeys);
        for (const Key& k : keys) index.Insert(const_cast<Key*>(&k));
        benchmark::DoNotOptimize(index.Count());
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void SetInsert(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    for (auto _ : state) {
        std::set<const Key*, SetOrder> set;
        for (const Key& k : keys) set.insert(&k);
        benchmark::DoNotOptimize(set.size());
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void IndexFind(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    Index index(CompareKeys);
    for (const Key& k : keys) index.Insert(const_cast<Key*>(&k));
    for (auto _ : state) {
        for (const Key& k : keys) benchmark::DoNotOptimize(index.Find(&k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void SetFind(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    std::set<const Key*, SetOrder> set;
    for (const Key& k : keys) set.insert(&k);
    for (auto _ : state) {
        for (const Key& k : keys) benchmark::DoNotOptimize(set.find(&k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void IndexRemove(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        Index index(CompareKeys);
        for (const Key& k : keys) index.Insert(const_cast<Key*>(&k));
        state.ResumeTiming();
        for (const Key& k : keys) benchmark::DoNotOptimize(index.Remove(&k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void SetRemove(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::set<const Key*, SetOrder> set;
        for (const Key& k : keys) set.insert(&k);
        state.ResumeTiming();
        for (const Key& k : keys) benchmark::DoNotOptimize(set.erase(&k));
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void IndexWalk(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    Index index(CompareKeys);
    for (const Key& k : keys) index.Insert(const_cast<Key*>(&k));
    for (auto _ : state) {
        index.ResetCursor();
        while (Key* k = index.NextItem()) benchmark::DoNotOptimize(k);
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

void SetWalk(benchmark::State& state) {
    const auto& keys = Keys(state.range(0));
    std::set<const Key*, SetOrder> set;
    for (const Key& k : keys) set.insert(&k);
    for (auto _ : state) {
        for (const Key* k : set) benchmark::DoNotOptimize(k);
    }
    state.SetItemsProcessed(state.iterations() * keys.size());
}

// Each operation on the index right beside the same on std::set.
#define PAIR(operation, n)                                                      \
    BENCHMARK(Index##operation)->Arg(n)->Unit(benchmark::kMillisecond);          \
    BENCHMARK(Set##operation)->Arg(n)->Unit(benchmark::kMillisecond);
#define SIZE(n) PAIR(Insert, n) PAIR(Find, n) PAIR(Remove, n) PAIR(Walk, n)
SIZE(10000)
SIZE(100000)
SIZE(1000000)

}  // namespace
