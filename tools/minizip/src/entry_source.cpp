#include "entry_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace minizip {
namespace {

// zip's own default, and what Quake 3-engine pk3 files have always used.
constexpr int kLevel = 6;
// Larger files are deflated a piece at a time.
constexpr std::uint64_t kWholeFileLimit = std::uint64_t(8) << 20;
// Smaller files are read and deflated in parts of at most this many bytes.
constexpr std::uint64_t kPartBytes = std::uint64_t(24) << 20;

bool streamed(const Input& input) {
    return input.size() > kWholeFileLimit;
}

std::vector<PackJob> jobsOf(const std::vector<Input*>& inputs) {
    std::vector<PackJob> jobs;
    jobs.reserve(inputs.size());
    for (const Input* input : inputs)
        jobs.push_back({input->fd.get(), input->size()});
    return jobs;
}

// The data of one entry for libzip.
struct EntryData {
    Input* input = nullptr;
    Parts* parts = nullptr;
    zip_error_t error{};
    zip_uint64_t readAt = 0;
    std::unique_ptr<FileDeflater> stream;
    const unsigned char* pending = nullptr; // streamed bytes not yet passed on
    std::size_t pendingLength = 0;

    zip_int64_t fail(int why) {
        input->error = why;
        zip_error_set(&error, ZIP_ER_READ, why == kChanged ? EIO : why);
        return -1;
    }

    zip_int64_t read(void* data, zip_uint64_t length) {
        if (!stream) {
            const std::size_t n = std::size_t(std::min(length, input->length - readAt));
            if (n > 0) // an empty file's data may be null
                std::memcpy(data, input->data + readAt, n);
            readAt += n;
            return zip_int64_t(n);
        }
        if (pendingLength == 0)
            if (const auto next = stream->next(pending, pendingLength); !next)
                return fail(next.failure().error);
        if (pendingLength == 0 &&
            (stream->crc() != input->crc || stream->produced() != input->length))
            return fail(kChanged);
        const std::size_t n = std::size_t(std::min<zip_uint64_t>(length, pendingLength));
        std::memcpy(data, pending, n);
        pending += n;
        pendingLength -= n;
        return zip_int64_t(n);
    }

    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            readAt = 0;
            pendingLength = 0;
            if (streamed(*input))
                stream = std::make_unique<FileDeflater>(input->fd.get(), input->size(),
                                                        input->deflated, kLevel);
            else
                parts->load(input->part);
            return input->error != 0 ? fail(input->error) : 0;
        case ZIP_SOURCE_READ:
            return read(data, length);
        case ZIP_SOURCE_CLOSE:
            stream.reset();
            return 0;
        case ZIP_SOURCE_STAT: {
            // Method, both sizes and the CRC known: libzip writes the data as it is, and writes
            // no ZIP64 fields.
            zip_stat_t* zs = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
            if (!zs)
                return -1;
            zip_stat_init(zs);
            zs->size = input->size();
            zs->comp_size = input->length;
            zs->comp_method = input->deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
            zs->crc = input->crc;
            zs->mtime = input->st.st_mtime;
            zs->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC |
                        ZIP_STAT_MTIME;
            return sizeof(*zs);
        }
        case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
            auto* attributes = ZIP_SOURCE_GET_ARGS(zip_file_attributes_t, data, length, &error);
            if (!attributes)
                return -1;
            attributes->valid =
                ZIP_FILE_ATTRIBUTES_HOST_SYSTEM | ZIP_FILE_ATTRIBUTES_EXTERNAL_FILE_ATTRIBUTES;
            attributes->host_system = ZIP_OPSYS_UNIX;
            attributes->external_file_attributes =
                zip_uint32_t(S_IFREG | (input->st.st_mode & 0777)) << 16;
            return 0;
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error, data, length);
        case ZIP_SOURCE_FREE:
            return 0;
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
        default:
            zip_error_set(&error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }
};

zip_int64_t entryCallback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
    auto* entry = static_cast<EntryData*>(state);
    const zip_int64_t result = entry->handle(data, length, command);
    if (command == ZIP_SOURCE_FREE) {
        zip_error_fini(&entry->error);
        delete entry;
    }
    return result;
}

} // namespace

std::string inputError(int error) {
    return error == kChanged ? "changed while it was read" : std::strerror(error);
}

Parts::Parts(unsigned threads) : m_packer(kLevel, threads) {}

void Parts::prepare(const std::vector<Input*>& inputs) {
    std::vector<Input*> large;
    std::uint64_t bytes = 0;
    for (Input* input : inputs) {
        if (streamed(*input)) {
            large.push_back(input);
            continue;
        }
        if (m_parts.empty() || (!m_parts.back().empty() && bytes + input->size() > kPartBytes)) {
            m_parts.emplace_back();
            bytes = 0;
        }
        input->part = m_parts.size() - 1;
        m_parts.back().push_back(input);
        bytes += input->size();
    }
    const std::vector<Packed> measured = m_packer.measure(jobsOf(large));
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i]->error = measured[i].error;
        large[i]->deflated = measured[i].deflated;
        large[i]->crc = measured[i].crc;
        large[i]->length = measured[i].length;
    }
    // Last to first, so that the first part, which libzip writes first, stays in memory.
    for (std::size_t part = m_parts.size(); part-- > 0;)
        pack(part, true);
}

void Parts::load(std::size_t part) {
    if (part != m_loaded)
        pack(part, false);
}

void Parts::pack(std::size_t part, bool first) {
    std::vector<Input*> inputs;
    for (Input* input : m_parts[part])
        if (input->error == 0)
            inputs.push_back(input);
    const std::vector<Packed> packed = m_packer.pack(jobsOf(inputs));
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        Input& input = *inputs[i];
        const Packed& p = packed[i];
        if (p.error != 0) {
            input.error = p.error;
        } else if (first) {
            input.deflated = p.deflated;
            input.crc = p.crc;
            input.length = p.length;
        } else if (p.deflated != input.deflated || p.crc != input.crc || p.length != input.length) {
            input.error = kChanged;
        }
        input.data = p.data;
    }
    m_loaded = part;
}

zip_source_t* entrySource(zip_t* zip, Input& input, Parts& parts) {
    auto* data = new EntryData;
    data->input = &input;
    data->parts = &parts;
    zip_error_init(&data->error);
    zip_source_t* source = zip_source_function(zip, entryCallback, data);
    if (!source) {
        zip_error_fini(&data->error);
        delete data;
    }
    return source;
}

} // namespace minizip
