#pragma once

// The known releases of Quake 2's data files, by size and checksum, and which of them a pack
// is. A pack whose size no release has is told apart without reading it; one of a known size
// is read once, to its end, for its checksum.

#include <QByteArray>
#include <QString>

#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

struct KnownPak {
    std::string file; // as the game's folder holds it: "baseq2/pak0.pak"
    qint64 bytes = 0;
    QByteArray md5;  // lower-case hexadecimal
    QString release; // "demo", "full game (one of two known builds)", …
};

// The rows of a table of known files: tab-separated file, bytes, md5, sha1, sha256 and
// release; lines starting with '#' and blank lines are left out, and so is a row without a
// size or an md5.
std::vector<KnownPak> parseKnownPaks(const QByteArray& text);
// The program's own table.
const std::vector<KnownPak>& knownPaks();

struct PakIdentity {
    enum class Match {
        None,    // no release has its size: a mod's, a re-release's, or another game's
        Known,   // a known release, byte for byte
        Changed, // a known release's size with other contents: damaged, or changed
        Unread,  // the pack could not be read to its end
    };
    Match match = Match::None;
    QString release; // the release it is, or whose size it has

    // In plain words: "the demo", "point-release patch", "damaged or changed: …".
    QString described() const;
};

// Identifies the open pack `fd`, stored as `file`, by its size, then by its checksum when a
// release of that file has its size. A stop request ends the reading early (Unread).
PakIdentity identifyPak(int fd, const std::string& file,
                        const std::vector<KnownPak>& table = knownPaks(),
                        const std::stop_token& stop = {});

} // namespace corvane
