// Makes the pictures of a generated order: COUNT files of SIZE bytes, DIR/p00001.jpg and on,
// filled with pseudo-random bytes (nothing on the way can compress them). Files that are
// already there with the right size are kept, so a set is made once and reused.
//   bench_pictures DIR COUNT SIZE

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool HasSize(const std::string& path, std::uint64_t size) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           static_cast<std::uint64_t>(st.st_size) == size;
}

bool WritePicture(const std::string& path, std::uint64_t size, std::uint64_t seed) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::vector<std::uint64_t> block(1 << 17);  // 1 MiB
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    std::uint64_t left = size;
    bool ok = true;
    while (ok && left > 0) {
        for (auto& word : block) {  // xorshift64*
            x ^= x >> 12;
            x ^= x << 25;
            x ^= x >> 27;
            word = x * 0x2545F4914F6CDD1Dull;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size() * 8));
        const char* p = reinterpret_cast<const char*>(block.data());
        std::size_t done = 0;
        while (done < want) {
            const ssize_t n = ::write(fd, p + done, want - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        left -= want;
    }
    return (::close(fd) == 0) && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_pictures DIR COUNT SIZE\n");
        return 2;
    }
    const std::string dir = argv[1];
    const long count = std::strtol(argv[2], nullptr, 10);
    const std::uint64_t size = std::strtoull(argv[3], nullptr, 10);
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "bench_pictures: cannot create %s: %s\n", dir.c_str(),
                     std::strerror(errno));
        return 1;
    }
    for (long i = 1; i <= count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%05ld.jpg", i);
        const std::string path = dir + name;
        if (HasSize(path, size)) continue;
        if (!WritePicture(path, size, static_cast<std::uint64_t>(i))) {
            std::fprintf(stderr, "bench_pictures: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    return 0;
}
