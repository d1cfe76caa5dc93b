#include "ServiceSupport.h"

#include <errno.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <stdexcept>
#include <thread>

namespace svctest {

ServiceProcess::ServiceProcess(const fs::path& data, std::vector<std::string> extra_args,
                               const fs::path& working_dir) {
    std::vector<std::string> args = {"--data", data.string(), "--listen", "127.0.0.1:0", "--quiet"};
    args.insert(args.end(), extra_args.begin(), extra_args.end());
    program_ = std::make_unique<gptest::Program>(args, working_dir.string());
    std::optional<std::string> line = program_->ReadLine(std::chrono::seconds(20));
    if (!line) throw std::runtime_error("glimmerprints did not start");
    port_ = gptest::PortOf(*line);
    if (port_ <= 0) throw std::runtime_error("unexpected start-up line: " + *line);
}

int ServiceProcess::Stop() {
    program_->Signal(SIGTERM);
    return program_->Wait(std::chrono::seconds(10));
}

std::string Fingerprint(std::string_view bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%zu:%016zx", bytes.size(),
                  std::hash<std::string_view>{}(bytes));
    return text;
}

Client::Client(int port, std::chrono::milliseconds timeout)
    : fd_(gptest::OpenConnection(port, timeout)) {}

Client::~Client() {
    Close();
}

void Client::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool Client::Send(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
        ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return fd_ >= 0;
}

bool Client::SendSlowly(std::string_view bytes, std::size_t piece,
                        std::chrono::milliseconds pause) {
    while (!bytes.empty()) {
        std::size_t take = std::min(piece, bytes.size());
        if (!Send(bytes.substr(0, take))) return false;
        bytes.remove_prefix(take);
        std::this_thread::sleep_for(pause);
    }
    return true;
}

void Client::ShutdownWrite() {
    if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

std::string Client::ReadToClose() {
    std::string raw;
    char buffer[16384];
    while (fd_ >= 0) {
        ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        raw.append(buffer, static_cast<std::size_t>(got));
    }
    return raw;
}

bool Client::ClosedByServer() {
    if (fd_ < 0) return true;
    char byte;
    ssize_t got = ::recv(fd_, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    if (got == 0) return true;
    if (got > 0) return false;  // an answer is waiting; the server may close after it
    return errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
}

std::optional<gptest::Answer> Deliver(int port, const std::string& body, const Delivery& how) {
    Client client(port, how.timeout);
    if (!client.connected()) return std::nullopt;
    const std::string_view bytes =
        std::string_view(body).substr(0, how.send_only.value_or(body.size()));
    // A server that refuses early may close while the body is still going out; the answer is
    // read all the same.
    if (client.Send(gptest::OrderRequestHead(port, std::to_string(body.size())))) {
        if (how.piece > 0) {
            client.SendSlowly(bytes, how.piece, how.pause);
        } else {
            client.Send(bytes);
        }
    }
    if (how.hang_up) return std::nullopt;
    if (how.send_only) client.ShutdownWrite();
    return gptest::ParseAnswer(client.ReadToClose());
}

std::vector<StoredOrder> StoredOrders(const fs::path& data) {
    std::vector<StoredOrder> orders;
    std::map<std::int64_t, std::size_t> index;
    for (gptest::OrderRow& row : gptest::OrderRows(data)) {
        index[row.id] = orders.size();
        orders.push_back({std::move(row), {}});
    }
    for (gptest::PictureRow& row : gptest::PictureRows(data)) {
        StoredPicture picture{std::move(row), std::nullopt};
        std::error_code error;
        if (fs::is_regular_file(picture.row.file, error)) {
            picture.fingerprint = Fingerprint(gptest::ReadFile(picture.row.file));
        }
        auto order = index.find(picture.row.order_id);
        if (order != index.end()) orders[order->second].pictures.push_back(std::move(picture));
    }
    for (StoredOrder& order : orders) {
        std::sort(order.pictures.begin(), order.pictures.end(),
                  [](const StoredPicture& a, const StoredPicture& b) {
                      return a.row.position < b.row.position;
                  });
    }
    return orders;
}

bool SameOrder(const StoredOrder& stored, const SentOrder& sent) {
    if (stored.row.email != sent.email || stored.pictures.size() != sent.pictures.size()) {
        return false;
    }
    // The cheap comparisons first: the bytes are hashed only for the order that fits.
    for (std::size_t i = 0; i < sent.pictures.size(); ++i) {
        const StoredPicture& have = stored.pictures[i];
        const gptest::Picture& want = sent.pictures[i];
        if (have.row.position != static_cast<int>(i + 1) || have.row.file_name != want.file_name ||
            have.row.format != want.format || std::to_string(have.row.quantity) != want.quantity ||
            have.row.size != static_cast<std::int64_t>(want.content.size()) || !have.fingerprint) {
            return false;
        }
    }
    for (std::size_t i = 0; i < sent.pictures.size(); ++i) {
        if (stored.pictures[i].fingerprint != Fingerprint(sent.pictures[i].content)) return false;
    }
    return true;
}

int TimesStored(const std::vector<StoredOrder>& stored, const SentOrder& sent) {
    int times = 0;
    for (const StoredOrder& order : stored) times += SameOrder(order, sent) ? 1 : 0;
    return times;
}

std::map<std::string, int> PictureFileHashes(const fs::path& data) {
    std::map<std::string, int> hashes;
    std::error_code error;
    if (!fs::is_directory(data / "pictures", error)) return hashes;
    for (const auto& entry : fs::recursive_directory_iterator(data / "pictures")) {
        if (entry.is_regular_file()) ++hashes[Fingerprint(gptest::ReadFile(entry.path()))];
    }
    return hashes;
}

std::vector<std::string> FolderProblems(const fs::path& data) {
    std::vector<std::string> problems;
    const std::string integrity = gptest::IntegrityCheck(data);
    if (integrity != "ok") problems.push_back("integrity_check: " + integrity);

    std::error_code error;
    if (fs::is_directory(data / "tmp", error)) {
        for (const auto& entry : fs::recursive_directory_iterator(data / "tmp")) {
            problems.push_back("left in the staging area: " +
                               fs::relative(entry.path(), data).string());
        }
    }

    // What the rows say should be there.
    std::set<std::string> folders;
    std::map<std::string, std::int64_t> files;  // relative path -> recorded size
    for (const gptest::OrderRow& order : gptest::OrderRows(data)) {
        if (!folders.insert(order.folder).second) {
            problems.push_back("two orders share folder " + order.folder);
        }
    }
    for (const gptest::PictureRow& row : gptest::PictureRows(data)) {
        files[fs::relative(row.file, data).string()] = row.size;
    }
    std::map<std::int64_t, int> pictures_per_order;
    for (const gptest::PictureRow& row : gptest::PictureRows(data))
        ++pictures_per_order[row.order_id];
    for (const gptest::OrderRow& order : gptest::OrderRows(data)) {
        if (pictures_per_order[order.id] == 0) {
            problems.push_back("order " + std::to_string(order.id) + " has no pictures");
        }
    }

    // What is there.
    static const std::set<std::string> kOwn = {"glimmerprints.db",
                                               "glimmerprints.db-wal",
                                               "glimmerprints.db-shm",
                                               "glimmerprints.lock",
                                               "pictures",
                                               "tmp"};
    for (const auto& entry : fs::directory_iterator(data)) {
        const std::string name = entry.path().filename().string();
        if (!kOwn.count(name)) problems.push_back("unexpected entry in the data folder: " + name);
    }
    if (fs::is_directory(data / "pictures", error)) {
        for (const auto& folder : fs::directory_iterator(data / "pictures")) {
            const std::string name = folder.path().filename().string();
            if (!folders.count(name)) {
                problems.push_back("picture folder without an order: " + name);
                continue;
            }
            for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
                const std::string relative = fs::relative(entry.path(), data).string();
                auto known = files.find(relative);
                if (known == files.end() || !entry.is_regular_file()) {
                    problems.push_back("file without a picture row: " + relative);
                } else if (static_cast<std::int64_t>(entry.file_size()) != known->second) {
                    problems.push_back("size differs from its row: " + relative);
                }
            }
        }
    }
    for (const auto& [relative, size] : files) {
        if (!fs::is_regular_file(data / relative, error)) {
            problems.push_back("picture row without its file: " + relative);
        }
    }
    return problems;
}

std::map<std::string, std::uintmax_t> Tree(const fs::path& root) {
    // The service may remove folders while they are listed; what vanishes is left out.
    std::map<std::string, std::uintmax_t> tree;
    std::error_code error;
    fs::recursive_directory_iterator entry(root, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        const std::uintmax_t size = entry->is_regular_file(ignored) ? entry->file_size(ignored) : 0;
        tree[fs::relative(entry->path(), root, ignored).string()] = size;
    }
    return tree;
}

std::string Megabytes(long kib) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(kib) / 1024.0);
    return text;
}

}  // namespace svctest
