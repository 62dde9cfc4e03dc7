#include "engine/store/sqlite.h"

#include <sqlite3.h>
#include <utility>

namespace zelkor {

SqliteDb::~SqliteDb() {
    close();
}

SqliteDb::SqliteDb(SqliteDb&& other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_error(std::move(other.m_error)), m_code(other.m_code) {}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
    if (this != &other) {
        close();
        m_db = std::exchange(other.m_db, nullptr);
        m_error = std::move(other.m_error);
        m_code = other.m_code;
    }
    return *this;
}

bool SqliteDb::open(const std::filesystem::path& file, bool create, int busyTimeoutMs) {
    close();
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create) flags |= SQLITE_OPEN_CREATE;
    const int rc = sqlite3_open_v2(file.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        m_code = rc;
        m_error = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        close();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
    m_error.clear();
    m_code = 0;
    return true;
}

void SqliteDb::close() {
    if (m_db) sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool SqliteDb::fail(int code, std::string_view what) {
    m_code = code;
    m_error = std::string(what);
    if (m_db) {
        if (!m_error.empty()) m_error += ": ";
        m_error += sqlite3_errmsg(m_db);
    }
    return false;
}

bool SqliteDb::exec(const char* sql) {
    if (!m_db) return fail(SQLITE_MISUSE, "database not open");
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) return fail(rc, "");
    return true;
}

std::int64_t SqliteDb::lastInsertRowid() const {
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

SqliteStatement::~SqliteStatement() {
    if (m_stmt) sqlite3_finalize(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_db(other.m_db), m_stmt(std::exchange(other.m_stmt, nullptr)), m_failed(other.m_failed) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
    if (this != &other) {
        if (m_stmt) sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_failed = other.m_failed;
    }
    return *this;
}

bool SqliteStatement::prepare(SqliteDb& db, const char* sql) {
    if (m_stmt) sqlite3_finalize(m_stmt);
    m_stmt = nullptr;
    m_db = &db;
    if (!db.handle()) return db.fail(SQLITE_MISUSE, "database not open");
    const int rc = sqlite3_prepare_v3(db.handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        m_stmt = nullptr;
        return db.fail(rc, "");
    }
    return true;
}

SqliteStatement& SqliteStatement::bind(int index, std::int64_t value) {
    if (m_stmt) sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

SqliteStatement& SqliteStatement::bindBlob(int index, std::string_view bytes) {
    // A zero-length blob, not NULL, for the empty text.
    if (m_stmt) sqlite3_bind_blob64(m_stmt, index, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement& SqliteStatement::bindText(int index, std::string_view utf8) {
    if (m_stmt) sqlite3_bind_text64(m_stmt, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    if (m_stmt) sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool SqliteStatement::step() {
    m_failed = false;
    if (!m_stmt) {
        m_failed = true;
        return false;
    }
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) {
        m_failed = true;
        m_db->fail(rc, "");
    }
    return false;
}

bool SqliteStatement::run() {
    while (step()) {
    }
    const bool ok = !m_failed;
    reset();
    return ok;
}

void SqliteStatement::reset() {
    if (!m_stmt) return;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

std::int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(m_stmt, column);
}

std::string SqliteStatement::bytes(int column) const {
    const void* data = sqlite3_column_blob(m_stmt, column);
    const int size = sqlite3_column_bytes(m_stmt, column);
    if (!data || size <= 0) return {};
    return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

SqliteTransaction::SqliteTransaction(SqliteDb& db) : m_db(db) {
    m_active = m_db.exec("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction() {
    if (m_active) {
        const std::string error = m_db.error();
        const int code = m_db.errorCode();
        sqlite3_exec(m_db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        // Keep the failure that made us roll back.
        if (code) m_db.fail(code, ""), m_db.setError(error);
    }
}

bool SqliteTransaction::commit() {
    if (!m_active) return false;
    if (!m_db.exec("COMMIT")) return false;
    m_active = false;
    return true;
}

} // namespace zelkor
