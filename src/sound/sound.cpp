#include "sound/sound.h"

#include <array>
#include <cstring>

namespace sound {
namespace {

std::uint32_t U32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t U16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint64_t U64(const std::uint8_t* bytes) {
    return U32(bytes) | static_cast<std::uint64_t>(U32(bytes + 4)) << 32;
}

// Sixteen tables, so that the checksum takes sixteen bytes a step.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

const CrcTables& Tables() {
    static const CrcTables tables = [] {
        CrcTables made{};
        for (std::uint32_t byte = 0; byte < 256; ++byte) {
            std::uint32_t crc = byte << 24;
            for (int bit = 0; bit < 8; ++bit) {
                crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
            }
            made[0][byte] = crc;
        }
        for (std::size_t table = 1; table < 16; ++table) {
            for (std::size_t byte = 0; byte < 256; ++byte) {
                std::uint32_t before = made[table - 1][byte];
                made[table][byte] = (before << 8) ^ made[0][before >> 24];
            }
        }
        return made;
    }();
    return tables;
}

// One Ogg page's header, read where it starts.
struct PageHeader {
    std::uint8_t Flags = 0;
    std::uint64_t Granule = 0;
    std::uint32_t Sequence = 0;
    std::uint32_t Crc = 0;
    std::size_t HeaderSize = 0; // 27 and the lacing values
    std::size_t Size = 0;       // header and body
};

constexpr std::uint8_t BeginsStream = 0x02;
constexpr std::uint8_t EndsStream = 0x04;
constexpr std::size_t OggHeaderSize = 27;

bool IsCapture(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "OggS", 4) == 0;
}

// The header of the page at the start of bytes; nothing when the header itself runs past them.
std::optional<PageHeader> ReadPageHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < OggHeaderSize) {
        return std::nullopt;
    }
    PageHeader page;
    page.Flags = bytes[5];
    page.Granule = U64(bytes.data() + 6);
    page.Sequence = U32(bytes.data() + 18);
    page.Crc = U32(bytes.data() + 22);
    std::size_t segments = bytes[26];
    page.HeaderSize = OggHeaderSize + segments;
    if (bytes.size() < page.HeaderSize) {
        return std::nullopt;
    }
    page.Size = page.HeaderSize;
    for (std::size_t i = 0; i < segments; ++i) {
        page.Size += bytes[OggHeaderSize + i];
    }
    return page;
}

std::uint32_t PageCrc(std::span<const std::uint8_t> page) {
    static constexpr std::uint8_t Zeros[4] = {};
    std::uint32_t crc = OggCrc(page.subspan(0, 22));
    crc = OggCrc(Zeros, crc);
    return OggCrc(page.subspan(26), crc);
}

// The Vorbis identification header begins the first packet: type 1, "vorbis", a version of 0,
// the channels and the sample rate.
bool IsVorbisIdentification(std::span<const std::uint8_t> packet) {
    return packet.size() >= 16 && packet[0] == 1 &&
           std::memcmp(packet.data() + 1, "vorbis", 6) == 0;
}

std::string Page(std::size_t number) {
    return "page " + std::to_string(number) + ": ";
}

double ThreeDecimals(double seconds) {
    return static_cast<double>(static_cast<std::uint64_t>(seconds * 1000.0 + 0.5)) / 1000.0;
}

} // namespace

std::uint32_t OggCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    const CrcTables& t = Tables();
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    while (left >= 16) {
        std::uint32_t a =
            crc ^ (static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
                   static_cast<std::uint32_t>(p[2]) << 8 | p[3]);
        crc = t[15][a >> 24] ^ t[14][(a >> 16) & 0xFF] ^ t[13][(a >> 8) & 0xFF] ^ t[12][a & 0xFF] ^
              t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^
              t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        p += 16;
        left -= 16;
    }
    for (; left > 0; --left, ++p) {
        crc = (crc << 8) ^ t[0][(crc >> 24) ^ *p];
    }
    return crc;
}

Details OggDetails(std::span<const std::uint8_t> head, std::span<const std::uint8_t> tail) {
    Details details;
    std::optional<PageHeader> first = ReadPageHeader(head);
    if (!IsCapture(head) || !first || head.size() < first->HeaderSize + 16 ||
        !IsVorbisIdentification(head.subspan(first->HeaderSize))) {
        return details;
    }
    std::span<const std::uint8_t> identification = head.subspan(first->HeaderSize);
    details.Codec = "vorbis";
    details.Channels = identification[11];
    details.Rate = U32(identification.data() + 12);
    // The last page is the one that ends exactly where the file does; its granule position counts
    // the samples of the whole stream.
    for (std::size_t at = tail.size() >= OggHeaderSize ? tail.size() - OggHeaderSize + 1 : 0;
         at-- > 0;) {
        std::span<const std::uint8_t> rest = tail.subspan(at);
        if (!IsCapture(rest)) {
            continue;
        }
        std::optional<PageHeader> last = ReadPageHeader(rest);
        if (last && last->Size == rest.size() && last->Granule != UINT64_MAX &&
            *details.Rate != 0) {
            details.Seconds = ThreeDecimals(static_cast<double>(last->Granule) / *details.Rate);
        }
        break;
    }
    return details;
}

Details WavDetails(std::span<const std::uint8_t> head, std::uint64_t size) {
    Details details;
    if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVE", 4) != 0) {
        return details;
    }
    std::uint32_t byteRate = 0;
    for (std::size_t at = 12; at + 8 <= head.size();) {
        std::uint32_t length = U32(head.data() + at + 4);
        if (std::memcmp(head.data() + at, "fmt ", 4) == 0 && at + 8 + 16 <= head.size()) {
            const std::uint8_t* format = head.data() + at + 8;
            std::uint16_t tag = U16(format);
            bool extensiblePcm = tag == 0xFFFE && length >= 40 && at + 8 + 26 <= head.size() &&
                                 U16(format + 24) == 1;
            details.Codec = tag == 1 || extensiblePcm ? "pcm" : "unknown";
            details.Channels = U16(format + 2);
            details.Rate = U32(format + 4);
            byteRate = U32(format + 8);
        } else if (std::memcmp(head.data() + at, "data", 4) == 0) {
            std::uint64_t data = std::min<std::uint64_t>(length, size - std::min(size, at + 8));
            if (byteRate != 0) {
                details.Seconds = ThreeDecimals(static_cast<double>(data) / byteRate);
            }
            break;
        }
        at += 8 + length + (length & 1);
    }
    return details;
}

std::optional<std::string> OggProblem(std::span<const std::uint8_t> file) {
    std::size_t at = 0;
    std::size_t number = 1;
    std::uint32_t firstSequence = 0;
    std::uint8_t lastFlags = 0;
    while (at < file.size()) {
        std::span<const std::uint8_t> rest = file.subspan(at);
        if (!IsCapture(rest)) {
            return Page(number) + "no capture pattern \"OggS\"";
        }
        std::optional<PageHeader> page = ReadPageHeader(rest);
        if (!page || page->Size > rest.size()) {
            return Page(number) + "runs past the end of the file";
        }
        if (rest[4] != 0) {
            return Page(number) + "version " + std::to_string(rest[4]) + ", not 0";
        }
        if (PageCrc(rest.subspan(0, page->Size)) != page->Crc) {
            return Page(number) + "checksum mismatch";
        }
        if (number == 1) {
            firstSequence = page->Sequence;
            if ((page->Flags & BeginsStream) == 0) {
                return Page(number) + "does not begin the stream";
            }
            if (!IsVorbisIdentification(
                    rest.subspan(page->HeaderSize, page->Size - page->HeaderSize))) {
                return Page(number) + "the first packet is not a Vorbis identification header";
            }
        } else if (page->Sequence != firstSequence + number - 1) {
            return Page(number) + "page number " + std::to_string(page->Sequence) + " where " +
                   std::to_string(firstSequence + number - 1) + " was due";
        }
        lastFlags = page->Flags;
        at += page->Size;
        ++number;
    }
    if (number == 1) {
        return std::string("no page");
    }
    if ((lastFlags & EndsStream) == 0) {
        return Page(number - 1) + "the last page does not end the stream";
    }
    return std::nullopt;
}

std::optional<std::string> WavProblem(std::span<const std::uint8_t> file) {
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        return std::string("not a RIFF/WAVE file");
    }
    std::uint64_t said = std::uint64_t{U32(file.data() + 4)} + 8;
    if (said != file.size()) {
        return "the RIFF header says " + std::to_string(said) + " bytes, the file has " +
               std::to_string(file.size());
    }
    bool format = false;
    bool data = false;
    for (std::size_t at = 12; at < file.size();) {
        if (file.size() - at < 8) {
            return "a chunk header at byte " + std::to_string(at) + " runs past the end";
        }
        std::string id(reinterpret_cast<const char*>(file.data() + at), 4);
        std::uint64_t length = U32(file.data() + at + 4);
        std::uint64_t end = at + 8 + length;
        if (end > file.size()) {
            return "chunk \"" + id + "\" runs past the end";
        }
        if (id == "fmt ") {
            format = true;
        } else if (id == "data") {
            if (!format) {
                return std::string("\"data\" comes before \"fmt \"");
            }
            data = true;
        }
        at = static_cast<std::size_t>(end + (length & 1 && end < file.size() ? 1 : 0));
    }
    if (!format) {
        return std::string("no \"fmt \" chunk");
    }
    if (!data) {
        return std::string("no \"data\" chunk");
    }
    return std::nullopt;
}

} // namespace sound
