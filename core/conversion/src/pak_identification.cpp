#include "pak_identification.h"

namespace corvane {

PakIdentification::PakIdentification(std::vector<std::string> paths, std::vector<std::string> files)
    : m_results(paths.size()),
      m_thread([this, paths = std::move(paths), files = std::move(files)](std::stop_token stop) {
          for (size_t i = 0; i < paths.size(); ++i)
              m_results[i] = identifyPakAt(paths[i], files[i], stop);
      }) {}

const std::vector<PakIdentity>& PakIdentification::results() {
    if (m_thread.joinable())
        m_thread.join();
    return m_results;
}

} // namespace corvane
