// A record's values in a test, each field named where it is given, so that
// no argument order can be mixed up:
//
//   RecordValues().Nick("Bob").Text("hello").SeenTime(100)
//
// The strings live in the values, which must outlive the fields made of
// them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "seen/record_heap.h"
#include "seen/seen_record.h"

namespace lastspot::testing {

struct RecordValues {
    std::string nick = "nick";
    std::string address = "user@host";
    std::string channel = "#chan";
    std::string type = "join";
    std::string text;
    std::int32_t seenTime = 0;
    std::int32_t timeSpent = 0;

    RecordValues& Nick(std::string value) { return Set(&nick, std::move(value)); }
    RecordValues& Address(std::string value) { return Set(&address, std::move(value)); }
    RecordValues& Channel(std::string value) { return Set(&channel, std::move(value)); }
    RecordValues& Type(std::string value) { return Set(&type, std::move(value)); }
    RecordValues& Text(std::string value) { return Set(&text, std::move(value)); }
    RecordValues& SeenTime(std::int32_t value) {
        seenTime = value;
        return *this;
    }
    RecordValues& TimeSpent(std::int32_t value) {
        timeSpent = value;
        return *this;
    }

    seen::RecordFields Fields() const {
        return {nick.c_str(), address.c_str(), channel.c_str(), type.c_str(),   text.c_str(), seenTime,
                timeSpent,    nick.size(),     address.size(),  channel.size(), type.size(),  text.size()};
    }

private:
    RecordValues& Set(std::string* field, std::string value) {
        *field = std::move(value);
        return *this;
    }
};

// A record built outside any table, in a heap of the test's, released with
// its handle.
class OwnedRecord {
public:
    explicit OwnedRecord(const RecordValues& values)
        : heap_(std::make_unique<seen::RecordHeap>()),
          record_(seen::BuildRecord(heap_.get(), values.Fields())) {}
    seen::SeenRecord* get() const { return record_; }
    seen::SeenRecord* operator->() const { return record_; }
    seen::SeenRecord& operator*() const { return *record_; }

private:
    std::unique_ptr<seen::RecordHeap> heap_;  // its blocks go with it
    seen::SeenRecord* record_;
};

}  // namespace lastspot::testing
