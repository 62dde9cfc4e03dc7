#pragma once
// A small RAII face over libsqlite3: a connection, prepared statements and a transaction guard.
// Failures are values (false, plus the connection's message); nothing throws.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace zelkor {

class SqliteDb {
  public:
    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(SqliteDb&& other) noexcept;
    SqliteDb& operator=(SqliteDb&& other) noexcept;
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens (creating it when `create`) the database file; waits up to busyTimeoutMs for a lock.
    bool open(const std::filesystem::path& file, bool create, int busyTimeoutMs = 5000);
    bool isOpen() const { return m_db != nullptr; }
    void close();

    // Runs fixed SQL text (schema, pragmas); never built from data.
    bool exec(const char* sql);
    // The latest failure, in words.
    const std::string& error() const { return m_error; }
    void setError(std::string message) { m_error = std::move(message); }
    // The extended result code of the latest failure, 0 when none.
    int errorCode() const { return m_code; }
    bool fail(int code, std::string_view what);
    std::int64_t lastInsertRowid() const;

    sqlite3* handle() const { return m_db; }

  private:
    sqlite3* m_db = nullptr;
    std::string m_error;
    int m_code = 0;
};

class SqliteStatement {
  public:
    SqliteStatement() = default;
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool prepare(SqliteDb& db, const char* sql);
    bool isPrepared() const { return m_stmt != nullptr; }

    // Parameters are 1-based, as in SQL. Texts bind as blobs: they are GBK bytes.
    SqliteStatement& bind(int index, std::int64_t value);
    SqliteStatement& bindBlob(int index, std::string_view bytes);
    SqliteStatement& bindText(int index, std::string_view utf8);
    SqliteStatement& bindNull(int index);

    // True while a row is there; false at the end or on failure (then failed() is true).
    bool step();
    // Steps once to the end; false on failure.
    bool run();
    bool failed() const { return m_failed; }
    // Ready for new bindings and a new step.
    void reset();

    std::int64_t integer(int column) const;
    std::string bytes(int column) const; // blob or text, as stored
    bool isNull(int column) const;

  private:
    SqliteDb* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
    bool m_failed = false;
};

// BEGIN IMMEDIATE at construction; ROLLBACK at destruction unless commit() succeeded.
class SqliteTransaction {
  public:
    explicit SqliteTransaction(SqliteDb& db);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;
    bool active() const { return m_active; }
    bool commit();

  private:
    SqliteDb& m_db;
    bool m_active = false;
};

} // namespace zelkor
