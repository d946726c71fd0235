#include "packer.h"

#include "io/rw.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <libdeflate.h>
#include <sys/mman.h>

namespace minizip {
namespace {

// Large files are read and deflated in pieces of this size.
constexpr std::size_t kChunk = std::size_t(1) << 20;

// libdeflate's compressors come from one arena too; they are the same few for a whole run.
class CompressorMemory {
public:
    static void* allocate(std::size_t size) {
        CompressorMemory& self = instance();
        const std::lock_guard lock(self.m_mutex);
        size = (size + 63) & ~std::size_t(63);
        if (self.m_used + size > kSize && !(self.m_used == 0 && self.m_arena.reserve(size)))
            return std::malloc(size);
        if (!self.m_arena.data() && !self.m_arena.reserve(kSize))
            return std::malloc(size);
        void* block = self.m_arena.data() + self.m_used;
        self.m_used += size;
        return block;
    }
    static void release(void* block) {
        CompressorMemory& self = instance();
        const auto* byte = static_cast<unsigned char*>(block);
        if (!self.m_arena.data() || byte < self.m_arena.data() ||
            byte >= self.m_arena.data() + kSize)
            std::free(block);
    }

private:
    static CompressorMemory& instance() {
        static CompressorMemory memory;
        return memory;
    }
    // Two compressors of level 6 (about 650 KiB each); more come from malloc.
    static constexpr std::size_t kSize = std::size_t(3) << 19;
    std::mutex m_mutex;
    // A compressor touches only part of its tables for a small file.
    Arena m_arena{false};
    std::size_t m_used = 0;
};

} // namespace

Arena::~Arena() {
    if (m_data)
        ::munmap(m_data, m_size);
}

bool Arena::reserve(std::size_t size) {
    if (size <= m_size)
        return true;
    if (m_data)
        ::munmap(m_data, m_size);
    m_size = std::max(size, std::size_t(4096));
    void* data = ::mmap(nullptr, m_size, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | (m_populate ? MAP_POPULATE : 0), -1, 0);
    m_data = data == MAP_FAILED ? nullptr : static_cast<unsigned char*>(data);
    if (!m_data)
        m_size = 0;
    return m_data != nullptr;
}

Packer::Packer(int level, unsigned threads) : m_level(level), m_workers(std::max(1u, threads)) {
    libdeflate_set_memory_allocator(CompressorMemory::allocate, CompressorMemory::release);
    for (Worker& worker : m_workers)
        worker.compressor = libdeflate_alloc_compressor(level);
}

Packer::~Packer() {
    for (Worker& worker : m_workers)
        libdeflate_free_compressor(worker.compressor);
}

template <class Work> void Packer::spread(std::size_t jobs, Work work) {
    std::atomic<std::size_t> next{0};
    auto run = [&](Worker& worker) {
        for (std::size_t i; (i = next++) < jobs;)
            work(worker, i);
    };
    std::vector<std::thread> helpers;
    const std::size_t count = std::min(m_workers.size(), jobs);
    for (std::size_t i = 1; i < count; ++i)
        helpers.emplace_back(run, std::ref(m_workers[i]));
    run(m_workers[0]);
    for (std::thread& helper : helpers)
        helper.join();
}

std::vector<Packed> Packer::pack(const std::vector<PackJob>& jobs) {
    std::vector<Packed> packed(jobs.size());
    std::vector<std::size_t> at(jobs.size() + 1, 0);
    std::size_t largest = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        at[i + 1] = at[i] + std::size_t(jobs[i].size);
        largest = std::max(largest, std::size_t(jobs[i].size));
    }
    const bool memory = m_files.reserve(at.back());
    spread(jobs.size(), [&](Worker& worker, std::size_t i) {
        Packed& p = packed[i];
        unsigned char* bytes = m_files.data() + at[i];
        const std::size_t size = std::size_t(jobs[i].size);
        if (!memory || !worker.compressor || !worker.scratch.reserve(largest)) {
            p.error = ENOMEM;
            return;
        }
        if (const auto read = corvane::io::readAllAt(jobs[i].fd, bytes, size, 0); !read) {
            const int error = read.failure().error;
            p.error = error == ENODATA ? EIO : error; // the file shrank while we read it
            return;
        }
        p.crc = std::uint32_t(libdeflate_crc32(0, bytes, size));
        p.data = bytes;
        p.length = size;
        // Kept only when smaller than the file, as zip does; else the file is stored.
        const std::size_t n = size < 2
                                  ? 0
                                  : libdeflate_deflate_compress(worker.compressor, bytes, size,
                                                                worker.scratch.data(), size - 1);
        if (n > 0) {
            std::memcpy(bytes, worker.scratch.data(), n);
            p.deflated = true;
            p.length = n;
        }
    });
    return packed;
}

std::vector<Packed> Packer::measure(const std::vector<PackJob>& jobs) {
    std::vector<Packed> measured(jobs.size());
    spread(jobs.size(), [&](Worker&, std::size_t i) {
        Packed& p = measured[i];
        FileDeflater deflater(jobs[i].fd, jobs[i].size, true, m_level);
        const unsigned char* data = nullptr;
        std::size_t length = 0;
        do {
            if (const auto next = deflater.next(data, length); !next) {
                p.error = next.failure().error;
                return;
            }
        } while (length > 0);
        p.crc = deflater.crc();
        p.deflated = deflater.produced() < jobs[i].size;
        p.length = std::size_t(p.deflated ? deflater.produced() : jobs[i].size);
    });
    return measured;
}

FileDeflater::FileDeflater(int fd, std::uint64_t size, bool deflate, int level)
    : m_fd(fd), m_size(size), m_deflate(deflate), m_crc(crc32(0, nullptr, 0)), m_in(kChunk) {
    // Raw deflate, zlib's defaults otherwise, as zip writes.
    if (m_deflate) {
        m_out.resize(kChunk);
        if (deflateInit2(&m_z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            m_out.clear();
    }
}

FileDeflater::~FileDeflater() {
    if (!m_out.empty())
        deflateEnd(&m_z);
}

corvane::io::Result<void> FileDeflater::next(const unsigned char*& data, std::size_t& length) {
    length = 0;
    if (m_deflate && m_out.empty())
        return corvane::io::Failure{ENOMEM, {}};
    while (length == 0 && !m_finished) {
        if (m_z.avail_in == 0 && m_read < m_size) {
            const std::size_t n = std::size_t(std::min<std::uint64_t>(kChunk, m_size - m_read));
            if (const auto read = corvane::io::readAllAt(m_fd, m_in.data(), n, m_read); !read) {
                const int error = read.failure().error;
                // The file shrank while it was read.
                return corvane::io::Failure{error == ENODATA ? EIO : error, {}};
            }
            m_crc = crc32(m_crc, m_in.data(), uInt(n));
            m_read += n;
            m_z.next_in = m_in.data();
            m_z.avail_in = uInt(n);
        }
        if (!m_deflate) {
            data = m_in.data();
            length = m_z.avail_in;
            m_z.avail_in = 0;
            m_finished = m_read == m_size;
        } else {
            m_z.next_out = m_out.data();
            m_z.avail_out = uInt(m_out.size());
            const int result = deflate(&m_z, m_read == m_size ? Z_FINISH : Z_NO_FLUSH);
            data = m_out.data();
            length = m_out.size() - m_z.avail_out;
            m_finished = result == Z_STREAM_END;
        }
    }
    m_produced += length;
    return {};
}

} // namespace minizip
