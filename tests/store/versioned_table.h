// The table that the kill test's child saves over and over: every record's
// seen time is the version of the table, so a file that held parts of two
// saves, or a cut one, shows it when loaded.
#pragma once

#include <cstdint>
#include <string>

namespace lastspot::store {

inline constexpr int kVersionedRecords = 2000;

// The SeenAdd line of record `record` of table `table` in version `version`.
inline std::string VersionedRecord(const std::string& table, int record, std::uint32_t version) {
    return table + " nick" + std::to_string(record) + " user" + std::to_string(record) +
           "@host.example #channel join " + std::to_string(version) + " " +
           std::to_string(record) + " " + std::string(60, 'x');
}

}  // namespace lastspot::store
