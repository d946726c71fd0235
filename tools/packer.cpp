#include "packer.h"

#include "io/rw.h"

#include <atomic>
#include <cerrno>
#include <thread>

#include <libdeflate.h>

namespace minizip {
namespace {

void pack(libdeflate_compressor* compressor, const PackJob& job, Packed& packed) {
    packed.size = job.size;
    std::vector<unsigned char> in(job.size);
    if (!corvane::io::readAllAt(job.fd, in.data(), in.size(), 0)) {
        packed.error = errno == ENODATA ? EIO : errno; // the file shrank while we read it
        return;
    }
    packed.crc = std::uint32_t(libdeflate_crc32(0, in.data(), in.size()));
    // Kept only when smaller than the file, as zip does; else the file is stored.
    if (in.size() > 1) {
        std::vector<unsigned char> out(in.size() - 1);
        const std::size_t n =
            libdeflate_deflate_compress(compressor, in.data(), in.size(), out.data(), out.size());
        if (n > 0) {
            out.resize(n);
            out.shrink_to_fit();
            packed.deflated = true;
            packed.data = std::move(out);
            return;
        }
    }
    packed.data = std::move(in);
}

} // namespace

std::vector<Packed> packAll(const std::vector<PackJob>& jobs, int level, unsigned threads) {
    std::vector<Packed> packed(jobs.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
        for (std::size_t i; (i = next++) < jobs.size();) {
            if (compressor)
                pack(compressor, jobs[i], packed[i]);
            else
                packed[i].error = ENOMEM;
        }
        libdeflate_free_compressor(compressor);
    };
    std::vector<std::thread> workers;
    const std::size_t helpers = std::min<std::size_t>(threads, jobs.size());
    for (std::size_t i = 1; i < helpers; ++i)
        workers.emplace_back(work);
    work();
    for (std::thread& worker : workers)
        worker.join();
    return packed;
}

} // namespace minizip
