// The table that the kill test's child saves over and over: every record's
// seen time is the version of the table, so a file that held parts of two
// saves, or a cut one, shows it when loaded.
#pragma once

#include <cstdint>
#include <string>

namespace lastspot::store {

inline constexpr int kVersionedRecords = 2000;

// Record `record` of version `version`: a SeenAdd line without its table.
inline std::string VersionedFields(int record, std::uint32_t version) {
    return "nick" + std::to_string(record) + " user" + std::to_string(record) +
           "@host.example #channel join " + std::to_string(version) + " " + std::to_string(record) + " " +
           std::string(60, 'x');
}

// The SeenAdd line of record `record` of table `table` in version `version`.
inline std::string VersionedRecord(const std::string& table, int record, std::uint32_t version) {
    return table + " " + VersionedFields(record, version);
}

// A seen file holding version `version` of the whole table.
inline std::string VersionedFile(std::uint32_t version) {
    std::string file = "#ombrick SeenTable 1 - t\r\n";
    for (int record = 0; record < kVersionedRecords; ++record) {
        file += "! " + VersionedFields(record, version) + "\r\n";
    }
    return file;
}

}  // namespace lastspot::store
