#include "conversion/known_paks.h"

#include "io/rw.h"

#include <QCryptographicHash>
#include <QList>

#include <sys/stat.h>

namespace corvane {

extern const char kKnownPaksText[];

namespace {

constexpr size_t kChunk = 1 << 20;
const QString kDemo = QStringLiteral("demo");

} // namespace

std::vector<KnownPak> parseKnownPaks(const QByteArray& text) {
    std::vector<KnownPak> rows;
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() < 6)
            continue;
        bool sized = false;
        const qint64 bytes = fields[1].trimmed().toLongLong(&sized);
        const QByteArray md5 = fields[2].trimmed().toLower();
        if (!sized || bytes <= 0 || md5.size() != 32)
            continue;
        rows.push_back({fields[0].trimmed().toStdString(), bytes, md5,
                        QString::fromUtf8(fields[5].trimmed())});
    }
    return rows;
}

const std::vector<KnownPak>& knownPaks() {
    static const std::vector<KnownPak> table = parseKnownPaks(QByteArray(kKnownPaksText));
    return table;
}

QString PakIdentity::described() const {
    switch (match) {
    case Match::Known:
        return release == kDemo ? QStringLiteral("the demo") : release;
    case Match::Changed:
        return QStringLiteral("damaged or changed: the size of a known release (%1), other "
                              "contents")
            .arg(release);
    case Match::Unread:
        return QStringLiteral("not identified: it could not be read to its end");
    case Match::None:
        break;
    }
    return QStringLiteral("no known release");
}

PakIdentity identifyPak(int fd, const std::string& file, const std::vector<KnownPak>& table,
                        const std::stop_token& stop) {
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return {PakIdentity::Match::Unread, {}};
    std::vector<const KnownPak*> sized;
    for (const KnownPak& row : table)
        if (row.file == file && row.bytes == qint64(info.st_size))
            sized.push_back(&row);
    if (sized.empty())
        return {};
    QCryptographicHash md5(QCryptographicHash::Md5);
    std::vector<char> chunk(kChunk);
    for (qint64 at = 0; at < info.st_size; at += qint64(kChunk)) {
        const size_t length = size_t(std::min<qint64>(qint64(kChunk), info.st_size - at));
        if (stop.stop_requested() || !io::readAllAt(fd, chunk.data(), length, std::uint64_t(at)))
            return {PakIdentity::Match::Unread, sized.front()->release};
        md5.addData(QByteArrayView(chunk.data(), qsizetype(length)));
    }
    const QByteArray sum = md5.result().toHex();
    for (const KnownPak* row : sized)
        if (row->md5 == sum)
            return {PakIdentity::Match::Known, row->release};
    return {PakIdentity::Match::Changed, sized.front()->release};
}

} // namespace corvane
