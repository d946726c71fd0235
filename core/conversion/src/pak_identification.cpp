#include "pak_identification.h"

namespace corvane {

PakIdentification::PakIdentification(std::vector<io::Fd> packs, std::vector<std::string> files)
    : m_results(packs.size()), m_thread([this, packs = std::move(packs),
                                         files = std::move(files)](const std::stop_token& stop) {
          // pread alone: the position the tool may read from is left as it is.
          for (size_t i = 0; i < packs.size(); ++i)
              m_results[i] = packs[i] ? identifyPak(packs[i].get(), files[i], knownPaks(), stop)
                                      : PakIdentity{PakIdentity::Match::Unread, {}};
      }) {}

const std::vector<PakIdentity>& PakIdentification::results() {
    if (m_thread.joinable())
        m_thread.join();
    return m_results;
}

} // namespace corvane
