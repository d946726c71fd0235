#pragma once

// Which known release each of the three packs is, found on a thread of its own while the
// conversion unpacks them, so that reading a pack for its checksum costs no time of its own
// and, on a cold disk, no second read.

#include "conversion/known_paks.h"
#include "io/fd.h"

#include <string>
#include <thread>
#include <vector>

namespace corvane {

class PakIdentification {
public:
    // Starts reading the open packs `packs`, stored as `files`; a pack not open is Unread.
    PakIdentification(std::vector<io::Fd> packs, std::vector<std::string> files);
    // A run that ends early stops the reading.
    ~PakIdentification() = default;

    // Each pack's identity, in the order given; waits for the reading to end.
    const std::vector<PakIdentity>& results();

private:
    std::vector<PakIdentity> m_results;
    std::jthread m_thread;
};

} // namespace corvane
