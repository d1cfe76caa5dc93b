#include "Store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <stdexcept>
#include <utility>

#include "Passwords.h"
#include "Random.h"

namespace glimmer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS accounts (
    id       INTEGER PRIMARY KEY,
    email    TEXT NOT NULL UNIQUE COLLATE NOCASE,
    created  TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS passwords (
    id         INTEGER PRIMARY KEY,
    account_id INTEGER NOT NULL REFERENCES accounts(id),
    salt       BLOB NOT NULL,
    hash       BLOB NOT NULL,
    created    TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS passwords_account ON passwords(account_id);
CREATE TABLE IF NOT EXISTS orders (
    id         INTEGER PRIMARY KEY,
    account_id INTEGER NOT NULL REFERENCES accounts(id),
    email      TEXT NOT NULL,
    created    TEXT NOT NULL,
    folder     TEXT NOT NULL UNIQUE
);
CREATE INDEX IF NOT EXISTS orders_account ON orders(account_id);
CREATE TABLE IF NOT EXISTS pictures (
    id          INTEGER PRIMARY KEY,
    order_id    INTEGER NOT NULL REFERENCES orders(id),
    position    INTEGER NOT NULL,
    format      TEXT NOT NULL,
    quantity    INTEGER NOT NULL CHECK (quantity > 0),
    file_name   TEXT NOT NULL,
    size        INTEGER NOT NULL,
    stored_name TEXT NOT NULL,
    UNIQUE (order_id, position)
);
)sql";

[[noreturn]] void Throw(sqlite3* db, const std::string& what) {
    throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) Throw(db, "prepare");
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int index, std::string_view text) {
        Check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& Bind(int index, std::int64_t value) {
        Check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    Statement& BindBlob(int index, const void* data, std::size_t size) {
        Check(sqlite3_bind_blob(stmt_, index, data, static_cast<int>(size), SQLITE_TRANSIENT));
        return *this;
    }

    // True while there is a row.
    bool Step() {
        int result = sqlite3_step(stmt_);
        if (result == SQLITE_ROW) return true;
        if (result == SQLITE_DONE) return false;
        Throw(db_, "step");
    }
    void Run() {
        while (Step()) {
        }
    }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(stmt_, column);
        int size = sqlite3_column_bytes(stmt_, column);
        return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
                    : std::string();
    }
    std::string Blob(int column) const {
        const void* blob = sqlite3_column_blob(stmt_, column);
        int size = sqlite3_column_bytes(stmt_, column);
        return blob ? std::string(static_cast<const char*>(blob), static_cast<size_t>(size))
                    : std::string();
    }

private:
    void Check(int result) {
        if (result != SQLITE_OK) Throw(db_, "bind");
    }

    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

class Database {
public:
    Database(const fs::path& file, int busy_timeout_ms) {
        int result = sqlite3_open_v2(
            file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
            nullptr);
        if (result != SQLITE_OK) {
            std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open " + file.string() + ": " + message);
        }
        sqlite3_busy_timeout(db_, busy_timeout_ms);
        Exec("PRAGMA foreign_keys = ON");
    }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    void Exec(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            throw std::runtime_error(std::string("sql failed: ") + message);
        }
    }
    sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

// A write transaction that rolls back unless committed.
class Transaction {
public:
    explicit Transaction(Database& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }
    ~Transaction() {
        if (!done_) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit() {
        db_.Exec("COMMIT");
        done_ = true;
    }

private:
    Database& db_;
    bool done_ = false;
};

std::string UtcNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

fs::path DatabaseFile(const fs::path& dir) {
    return dir / "glimmerprints.db";
}

}  // namespace

Store::Store(fs::path data_dir, std::chrono::milliseconds busy_timeout)
    : dir_(std::move(data_dir)), busy_timeout_ms_(static_cast<int>(busy_timeout.count())) {
    fs::create_directories(dir_);
    fs::path lock = dir_ / "glimmerprints.lock";
    lock_fd_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock_fd_ < 0) {
        throw std::runtime_error("cannot open " + lock.string() + ": " + std::strerror(errno));
    }
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd_);
        throw std::runtime_error(dir_.string() + " is in use by another glimmerprints");
    }

    Database db(DatabaseFile(dir_), busy_timeout_ms_);
    db.Exec("PRAGMA journal_mode = WAL");
    db.Exec(kSchema);

    // Leftovers of a run that ended abruptly: staged requests, and picture folders whose
    // order never committed.
    fs::remove_all(staging_root());
    fs::create_directories(staging_root());
    fs::create_directories(dir_ / "pictures");
    std::set<std::string> folders;
    Statement select(db.get(), "SELECT folder FROM orders");
    while (select.Step()) folders.insert(select.Text(0));
    for (const auto& entry : fs::directory_iterator(dir_ / "pictures")) {
        if (!folders.count(entry.path().filename().string())) fs::remove_all(entry.path());
    }
}

Store::~Store() {
    if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::string Store::AddOrder(const StagedOrder& order, const fs::path& staged_pictures) {
    const std::string folder = RandomHex(16);
    const fs::path target = dir_ / "pictures" / folder;
    const std::string password = NewPassword();
    const StoredPassword stored = HashNewPassword(password);
    const std::string now = UtcNow();

    // The pictures move first, in one rename; the rows follow in one transaction. A crash in
    // between leaves a folder without an order, which the next start removes.
    fs::rename(staged_pictures, target);
    try {
        Database db(DatabaseFile(dir_), busy_timeout_ms_);
        Transaction transaction(db);
        Statement(db.get(), "INSERT OR IGNORE INTO accounts(email, created) VALUES (?, ?)")
            .Bind(1, order.email)
            .Bind(2, now)
            .Run();
        Statement account(db.get(), "SELECT id FROM accounts WHERE email = ?");
        account.Bind(1, order.email);
        if (!account.Step()) throw std::runtime_error("account missing after insert");
        const std::int64_t account_id = account.Int(0);

        Statement(db.get(),
                  "INSERT INTO passwords(account_id, salt, hash, created) VALUES (?, ?, ?, ?)")
            .Bind(1, account_id)
            .BindBlob(2, stored.salt.data(), stored.salt.size())
            .BindBlob(3, stored.hash.data(), stored.hash.size())
            .Bind(4, now)
            .Run();
        Statement(db.get(),
                  "INSERT INTO orders(account_id, email, created, folder) VALUES (?, ?, ?, ?)")
            .Bind(1, account_id)
            .Bind(2, order.email)
            .Bind(3, now)
            .Bind(4, folder)
            .Run();
        const std::int64_t order_id = sqlite3_last_insert_rowid(db.get());

        Statement picture(db.get(),
                          "INSERT INTO pictures(order_id, position, format, quantity, file_name, "
                          "size, stored_name) VALUES (?, ?, ?, ?, ?, ?, ?)");
        std::int64_t position = 0;
        for (const StagedPicture& staged : order.pictures) {
            picture.Bind(1, order_id)
                .Bind(2, ++position)
                .Bind(3, staged.format)
                .Bind(4, std::int64_t{staged.quantity})
                .Bind(5, staged.file_name)
                .Bind(6, static_cast<std::int64_t>(staged.size))
                .Bind(7, staged.stored_name)
                .Run();
            picture.Reset();
        }
        transaction.Commit();
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(target, ignored);
        throw;
    }
    return password;
}

std::optional<std::int64_t> Store::Authenticate(std::string_view email,
                                                std::string_view password) const {
    Database db(DatabaseFile(dir_), busy_timeout_ms_);
    Statement account(db.get(), "SELECT id FROM accounts WHERE email = ?");
    account.Bind(1, email);
    if (!account.Step()) {
        // Hash once anyway, so that an unknown address takes about as long as a wrong password.
        [[maybe_unused]] volatile bool ignored = CheckPassword(StoredPassword{}, password);
        return std::nullopt;
    }
    const std::int64_t account_id = account.Int(0);
    Statement passwords(db.get(), "SELECT salt, hash FROM passwords WHERE account_id = ?");
    passwords.Bind(1, account_id);
    bool match = false;
    while (passwords.Step()) {
        std::string salt = passwords.Blob(0);
        std::string hash = passwords.Blob(1);
        StoredPassword stored{};
        if (salt.size() != stored.salt.size() || hash.size() != stored.hash.size()) continue;
        std::memcpy(stored.salt.data(), salt.data(), salt.size());
        std::memcpy(stored.hash.data(), hash.data(), hash.size());
        match = CheckPassword(stored, password) || match;
    }
    if (!match) return std::nullopt;
    return account_id;
}

AccountView Store::LoadAccount(std::int64_t account) const {
    Database db(DatabaseFile(dir_), busy_timeout_ms_);
    AccountView view;
    Statement email(db.get(), "SELECT email FROM accounts WHERE id = ?");
    email.Bind(1, account);
    if (email.Step()) view.email = email.Text(0);

    Statement orders(db.get(),
                     "SELECT id, created, email FROM orders WHERE account_id = ? ORDER BY id");
    orders.Bind(1, account);
    while (orders.Step()) {
        OrderView order;
        order.id = orders.Int(0);
        order.created = orders.Text(1);
        order.email = orders.Text(2);
        view.orders.push_back(std::move(order));
    }
    Statement pictures(db.get(),
                       "SELECT p.id, p.order_id, p.position, p.format, p.quantity, p.file_name, "
                       "p.size FROM pictures p JOIN orders o ON o.id = p.order_id "
                       "WHERE o.account_id = ? ORDER BY p.order_id, p.position");
    pictures.Bind(1, account);
    std::size_t next = 0;
    while (pictures.Step()) {
        PictureView picture;
        picture.id = pictures.Int(0);
        const std::int64_t order_id = pictures.Int(1);
        picture.position = static_cast<int>(pictures.Int(2));
        picture.format = pictures.Text(3);
        picture.quantity = static_cast<int>(pictures.Int(4));
        picture.file_name = pictures.Text(5);
        picture.size = static_cast<std::uint64_t>(pictures.Int(6));
        while (next < view.orders.size() && view.orders[next].id != order_id) ++next;
        if (next == view.orders.size()) break;
        view.orders[next].pictures.push_back(std::move(picture));
    }
    return view;
}

std::optional<fs::path> Store::PictureFile(std::int64_t account, std::int64_t picture) const {
    Database db(DatabaseFile(dir_), busy_timeout_ms_);
    Statement query(db.get(),
                    "SELECT o.folder, p.stored_name FROM pictures p JOIN orders o "
                    "ON o.id = p.order_id WHERE p.id = ? AND o.account_id = ?");
    query.Bind(1, picture).Bind(2, account);
    if (!query.Step()) return std::nullopt;
    return dir_ / "pictures" / query.Text(0) / query.Text(1);
}

}  // namespace glimmer
