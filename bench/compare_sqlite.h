// The SQLite anchor of the comparison benchmark: one table of seen records
// in an in-memory database, keyed by nick without regard to ASCII letter
// case, answering the same argument lines with the same replies as the
// library. Only the benchmark links SQLite.
#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace lastspot::bench {

class SqliteStore {
public:
    SqliteStore();
    ~SqliteStore();
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    // A run of single-record commands goes into one transaction.
    void Begin();
    void Commit();

    // The commands, each taking its argument line in `buffer` and leaving
    // its reply there.
    void Add(char* buffer);
    void Get(char* buffer);
    void Del(char* buffer);
    void MatchCount(char* buffer);
    void Match(char* buffer);
    void MatchSort(char* buffer);
    void DelMatch(char* buffer);
    void Expire(char* buffer);

    // Writes the database to a new file at `path` (VACUUM INTO); false on
    // failure. The file must not exist.
    bool Save(const std::string& path);
    // Replaces the whole database with the one in the file at `path`, by
    // copying its pages (the backup interface); false on failure.
    bool Load(const std::string& path);

    std::int64_t Count();

private:
    sqlite3_stmt* Prepare(const char* sql);
    void Execute(const char* sql);
    // Binds the three patterns of a match line as LIKE patterns (?1..?3)
    // and maxnicks as the limit (?4, when it takes one); false when the
    // line is refused.
    bool BindQuery(sqlite3_stmt* statement, char* buffer, bool takesMaxNicks);

    sqlite3* db_ = nullptr;
    sqlite3_stmt* add_ = nullptr;
    sqlite3_stmt* get_ = nullptr;
    sqlite3_stmt* del_ = nullptr;
    sqlite3_stmt* count_ = nullptr;
    sqlite3_stmt* matchCount_ = nullptr;
    sqlite3_stmt* match_ = nullptr;
    sqlite3_stmt* matchSort_ = nullptr;
    sqlite3_stmt* delMatch_ = nullptr;
    sqlite3_stmt* expireTime_ = nullptr;
    sqlite3_stmt* expireCount_ = nullptr;
    std::string likes_[3];
};

}  // namespace lastspot::bench
