// The SQLite anchor: prepared statements on one WITHOUT ROWID table whose
// key is the nick under COLLATE NOCASE. The wildcard patterns become LIKE
// patterns, which SQLite also compares without regard to ASCII case; the
// benchmark's data use no character on which the two rules differ.
#include "compare_sqlite.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

#include "compare_lines.h"
#include "platform/platform.h"

namespace lastspot::bench {

namespace {

[[noreturn]] void Die(sqlite3* db, const char* what) {
    std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
}

// A wildcard pattern as a LIKE pattern with "\" as its escape: "*" and "%"
// become "%", "?" becomes "_", and LIKE's own "%", "_" and "\" elsewhere
// stand for themselves. ("%" of a wildcard pattern excludes spaces; nick,
// address and channel never hold one.)
std::string LikePattern(const char* pattern) {
    std::string like;
    for (const char* c = pattern; *c != '\0'; ++c) {
        if (*c == '\\' && c[1] != '\0') {
            ++c;
            if (*c == '%' || *c == '_' || *c == '\\') like += '\\';
            like += *c;
        } else if (*c == '*' || *c == '%') {
            like += '%';
        } else if (*c == '?') {
            like += '_';
        } else {
            if (*c == '_' || *c == '\\') like += '\\';
            like += *c;
        }
    }
    return like;
}

bool Step(sqlite3* db, sqlite3_stmt* statement) {
    int status = sqlite3_step(statement);
    if (status == SQLITE_ROW) return true;
    if (status != SQLITE_DONE) Die(db, "step");
    return false;
}

const char* Column(sqlite3_stmt* statement, int column) {
    return reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
}

constexpr const char* kWhere =
    " WHERE nick LIKE ?1 ESCAPE '\\' AND address LIKE ?2 ESCAPE '\\'"
    " AND channel LIKE ?3 ESCAPE '\\'";

}  // namespace

SqliteStore::SqliteStore() {
    if (sqlite3_open(":memory:", &db_) != SQLITE_OK) Die(db_, "open");
    Execute(
        "CREATE TABLE seen (nick TEXT PRIMARY KEY COLLATE NOCASE, address TEXT NOT NULL,"
        " channel TEXT NOT NULL, type TEXT NOT NULL, t INTEGER NOT NULL,"
        " spent INTEGER NOT NULL, text TEXT NOT NULL) WITHOUT ROWID");
    add_ = Prepare("INSERT OR REPLACE INTO seen VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    get_ = Prepare("SELECT nick, address, channel, type, t, spent, text FROM seen WHERE nick = ?1");
    del_ = Prepare("DELETE FROM seen WHERE nick = ?1");
    count_ = Prepare("SELECT count(*) FROM seen");
    std::string where = kWhere;
    matchCount_ = Prepare(("SELECT count(*) FROM (SELECT 1 FROM seen" + where + " LIMIT ?4)").c_str());
    match_ = Prepare(("SELECT nick FROM seen" + where + " ORDER BY nick LIMIT ?4").c_str());
    matchSort_ = Prepare(("SELECT nick FROM (SELECT nick, t FROM seen" + where +
                          " ORDER BY nick LIMIT ?4) ORDER BY t DESC, nick")
                             .c_str());
    delMatch_ = Prepare(("DELETE FROM seen" + where).c_str());
    expireTime_ = Prepare("DELETE FROM seen WHERE t < ?1");
    expireCount_ = Prepare(
        "DELETE FROM seen WHERE nick NOT IN"
        " (SELECT nick FROM seen ORDER BY t DESC, nick LIMIT ?1)");
}

SqliteStore::~SqliteStore() {
    for (sqlite3_stmt* statement :
         {add_, get_, del_, count_, matchCount_, match_, matchSort_, delMatch_, expireTime_, expireCount_}) {
        sqlite3_finalize(statement);
    }
    sqlite3_close(db_);
}

sqlite3_stmt* SqliteStore::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) Die(db_, sql);
    return statement;
}

void SqliteStore::Execute(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Die(db_, sql);
}

void SqliteStore::Begin() { Execute("BEGIN"); }
void SqliteStore::Commit() { Execute("COMMIT"); }

void SqliteStore::Add(char* buffer) {
    AddLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    sqlite3_reset(add_);
    const char* texts[] = {line.nick, line.address, line.channel, line.type};
    for (int i = 0; i < 4; ++i) sqlite3_bind_text(add_, i + 1, texts[i], -1, SQLITE_STATIC);
    sqlite3_bind_int(add_, 5, line.seenTime);
    sqlite3_bind_int(add_, 6, line.timeSpent);
    sqlite3_bind_text(add_, 7, line.text, -1, SQLITE_STATIC);
    Step(db_, add_);
    platform::FormatBounded(buffer, "+OK %s", "");
}

void SqliteStore::Get(char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    sqlite3_reset(get_);
    sqlite3_bind_text(get_, 1, nick, -1, SQLITE_STATIC);
    if (!Step(db_, get_)) {
        platform::FormatBounded(buffer, "-%s %s", "FOUND", "Nick not found");
        return;
    }
    // The columns are read before the reply overwrites the nick they were
    // looked up by.
    std::string fields[5] = {Column(get_, 0), Column(get_, 1), Column(get_, 2), Column(get_, 3),
                             Column(get_, 6)};
    int seenTime = sqlite3_column_int(get_, 4);
    int timeSpent = sqlite3_column_int(get_, 5);
    sqlite3_reset(get_);
    platform::FormatBounded(buffer, "+OK %s %s %s %s %d %d %s", fields[0].c_str(), fields[1].c_str(),
                            fields[2].c_str(), fields[3].c_str(), seenTime, timeSpent, fields[4].c_str());
}

void SqliteStore::Del(char* buffer) {
    const char* nick = ParseNickLine(buffer);
    if (nick == nullptr) return FailLine(buffer);
    sqlite3_reset(del_);
    sqlite3_bind_text(del_, 1, nick, -1, SQLITE_STATIC);
    Step(db_, del_);
    if (sqlite3_changes(db_) == 0) {
        platform::FormatBounded(buffer, "-%s %s", "FOUND", "Nick not found");
    } else {
        platform::FormatBounded(buffer, "+OK %s", "");
    }
}

bool SqliteStore::BindQuery(sqlite3_stmt* statement, char* buffer, bool takesMaxNicks) {
    QueryLine query;
    if (!query.Parse(buffer, takesMaxNicks)) return false;
    sqlite3_reset(statement);
    for (int i = 0; i < 3; ++i) {
        likes_[i] = LikePattern(query.patterns[i]);
        sqlite3_bind_text(statement, i + 1, likes_[i].c_str(), -1, SQLITE_STATIC);
    }
    if (takesMaxNicks) {
        sqlite3_bind_int64(statement, 4, query.maxNicks == 0 ? -1 : query.maxNicks);
    }
    return true;
}

void SqliteStore::MatchCount(char* buffer) {
    if (!BindQuery(matchCount_, buffer, true)) return FailLine(buffer);
    Step(db_, matchCount_);
    int matches = sqlite3_column_int(matchCount_, 0);
    sqlite3_reset(matchCount_);
    platform::FormatBounded(buffer, "+OK %d", matches);
}

void SqliteStore::Match(char* buffer) {
    if (!BindQuery(match_, buffer, true)) return FailLine(buffer);
    NickList list;
    int matches = 0;
    while (Step(db_, match_)) {
        ++matches;
        list.TryAppend(Column(match_, 0), sqlite3_column_bytes(match_, 0));
    }
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

// Every row of the sorted result is stepped through: the reply counts them
// all, and a script after the full sorted listing reads them all.
void SqliteStore::MatchSort(char* buffer) {
    if (!BindQuery(matchSort_, buffer, true)) return FailLine(buffer);
    NickList list;
    int matches = 0;
    bool listing = true;
    while (Step(db_, matchSort_)) {
        ++matches;
        if (listing) {
            listing = list.TryAppend(Column(matchSort_, 0), sqlite3_column_bytes(matchSort_, 0));
        }
    }
    platform::FormatBounded(buffer, "+OK %d %d %s", matches, list.listed, list.text);
}

void SqliteStore::DelMatch(char* buffer) {
    if (!BindQuery(delMatch_, buffer, false)) return FailLine(buffer);
    Step(db_, delMatch_);
    int deleted = sqlite3_changes(db_);
    platform::FormatBounded(buffer, "+OK %d %d", deleted, static_cast<int>(Count()));
}

void SqliteStore::Expire(char* buffer) {
    ExpireLine line;
    if (!line.Parse(buffer)) return FailLine(buffer);
    sqlite3_stmt* statement = line.byTime ? expireTime_ : expireCount_;
    sqlite3_reset(statement);
    sqlite3_bind_int64(statement, 1, line.number);
    Step(db_, statement);
    platform::FormatBounded(buffer, "+OK %d", sqlite3_changes(db_));
}

bool SqliteStore::Save(const std::string& path) {
    sqlite3_stmt* vacuum = Prepare("VACUUM INTO ?1");
    sqlite3_bind_text(vacuum, 1, path.c_str(), -1, SQLITE_STATIC);
    bool saved = sqlite3_step(vacuum) == SQLITE_DONE;
    if (!saved) std::fprintf(stderr, "sqlite: VACUUM INTO: %s\n", sqlite3_errmsg(db_));
    sqlite3_finalize(vacuum);
    return saved;
}

bool SqliteStore::Load(const std::string& path) {
    sqlite3* file = nullptr;
    bool loaded = false;
    if (sqlite3_open_v2(path.c_str(), &file, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_backup* backup = sqlite3_backup_init(db_, "main", file, "main");
        if (backup != nullptr) {
            loaded = sqlite3_backup_step(backup, -1) == SQLITE_DONE;
            loaded = sqlite3_backup_finish(backup) == SQLITE_OK && loaded;
        }
    }
    if (!loaded) std::fprintf(stderr, "sqlite: load: %s\n", sqlite3_errmsg(db_));
    sqlite3_close(file);
    return loaded;
}

std::int64_t SqliteStore::Count() {
    sqlite3_reset(count_);
    Step(db_, count_);
    std::int64_t count = sqlite3_column_int64(count_, 0);
    sqlite3_reset(count_);
    return count;
}

}  // namespace lastspot::bench
