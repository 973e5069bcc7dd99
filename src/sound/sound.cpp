// The checker's rules for Ogg and WAV files, and what --details reads of them.
#include "sound/sound.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

// The x86-64 processors' carry-less multiplication, for the checksum of long runs of bytes.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define CSCUNPACK_CARRY_LESS 1
#endif

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
    std::int64_t Granule = 0;
    std::uint32_t Serial = 0;
    std::uint32_t Sequence = 0;
    std::uint32_t Crc = 0;
    std::size_t HeaderSize = 0; // 27 and the lacing values
    std::size_t Size = 0;       // header and body
    bool EndsOpen = false;      // its last lacing value is 255: a packet goes on past it
};

constexpr std::uint8_t ContinuesPacket = 0x01;
constexpr std::uint8_t BeginsStream = 0x02;
constexpr std::uint8_t EndsStream = 0x04;
constexpr std::size_t OggHeaderSize = 27;
// Granule positions at or beyond this count samples no double tells exactly; no sound is that
// long.
constexpr std::int64_t GranulesInRange = std::int64_t{1} << 53;

bool IsCapture(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "OggS", 4) == 0;
}

// The header of the page at the start of bytes, which hold at least its 27 fixed bytes and its
// lacing values; nothing when they do not.
std::optional<PageHeader> ReadPageHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < OggHeaderSize) {
        return std::nullopt;
    }
    PageHeader page;
    page.Flags = bytes[5];
    page.Granule = static_cast<std::int64_t>(U64(bytes.data() + 6));
    page.Serial = U32(bytes.data() + 14);
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
    page.EndsOpen = segments > 0 && bytes[OggHeaderSize + segments - 1] == 255;
    return page;
}

std::uint32_t PageCrc(std::span<const std::uint8_t> page) {
    static constexpr std::uint8_t Zeros[4] = {};
    std::uint32_t crc = OggCrc(page.subspan(0, 22));
    crc = OggCrc(Zeros, crc);
    return OggCrc(page.subspan(26), crc);
}

// The Vorbis identification header begins a Vorbis stream's first packet: type 1, "vorbis", a
// version of 0, the channels and the sample rate.
constexpr std::size_t IdentificationBytes = 30;

bool IsVorbisIdentification(std::span<const std::uint8_t> packet) {
    return packet.size() >= 16 && packet[0] == 1 &&
           std::memcmp(packet.data() + 1, "vorbis", 6) == 0;
}

std::uint32_t VorbisChannels(std::span<const std::uint8_t> identification) {
    return identification[11];
}

std::uint32_t VorbisRate(std::span<const std::uint8_t> identification) {
    return U32(identification.data() + 12);
}

std::string Page(std::size_t number) {
    return "page " + std::to_string(number) + ": ";
}

std::optional<double> ThreeDecimals(double seconds) {
    if (!(seconds >= 0) || seconds > 1e12) {
        return std::nullopt;
    }
    return std::round(seconds * 1000.0) / 1000.0;
}

// What a RIFF "fmt " chunk says; the format code is the sub-format's for the extensible form.
struct WavFormat {
    std::uint16_t Code = 0;
    std::uint16_t Channels = 0;
    std::uint32_t Rate = 0;
    std::uint16_t BlockAlign = 0;
    std::uint16_t Bits = 0;
};

constexpr std::uint16_t Extensible = 0xFFFE;

WavFormat ReadFormat(std::span<const std::uint8_t> chunk) {
    WavFormat format;
    format.Code = U16(chunk.data());
    format.Channels = U16(chunk.data() + 2);
    format.Rate = U32(chunk.data() + 4);
    format.BlockAlign = U16(chunk.data() + 12);
    format.Bits = U16(chunk.data() + 14);
    if (format.Code == Extensible) {
        // The sub-format's GUID begins with the format code it stands for.
        format.Code = chunk.size() >= 26 ? U16(chunk.data() + 24) : 0;
    }
    return format;
}

std::string_view CodecOf(std::uint16_t code) {
    switch (code) {
    case 1:
        return "pcm";
    case 3:
        return "float";
    case 6:
        return "alaw";
    case 7:
        return "mulaw";
    default:
        return "unknown";
    }
}

// The formats whose frames are the channels' samples side by side, which a block align must fit.
bool FramesAreSamples(std::uint16_t code) {
    return CodecOf(code) != "unknown";
}

// Where a WAV file's chunks end, when they run on to the end of the file, a final pad byte
// present or not: the end of the last chunk's bytes, and whether its length is odd.
std::optional<std::pair<std::uint64_t, bool>> LastChunkEnd(std::span<const std::uint8_t> file) {
    std::uint64_t at = 12;
    std::optional<std::pair<std::uint64_t, bool>> last;
    while (at + 8 <= file.size()) {
        std::uint64_t length = U32(file.data() + at + 4);
        std::uint64_t end = at + 8 + length;
        if (end > file.size()) {
            return std::nullopt;
        }
        last = {end, (length & 1) != 0};
        at = end + (length & 1);
    }
    return at >= file.size() ? last : std::nullopt;
}

#if defined(CSCUNPACK_CARRY_LESS)
// The checksum of long runs of bytes by carry-less multiplication, where the processor has it:
// sixteen bytes at a time are a polynomial of degree 127, and a polynomial A that stands D bits
// before the end is worth, modulo the checksum's polynomial P, A_high * (x^(D+64) mod P) +
// A_low * (x^D mod P), which takes two multiplications of 64 by 32 bits. Four such accumulators
// run side by side, 64 bytes a step, and fold into one at the end, which is then reduced to 32
// bits. Every constant is worked out from P here; a test holds the result against the tables'.

constexpr std::uint32_t OggPolynomial = 0x04C11DB7;

// x^n mod P.
std::uint64_t PowerOfX(unsigned n) {
    std::uint32_t power = 1;
    for (unsigned k = 0; k < n; ++k) {
        power = (power & 0x80000000u) != 0 ? (power << 1) ^ OggPolynomial : power << 1;
    }
    return power;
}

struct FoldConstants {
    std::uint64_t By512High = PowerOfX(512 + 64), By512Low = PowerOfX(512);
    std::uint64_t By128High = PowerOfX(128 + 64), By128Low = PowerOfX(128);
    std::uint64_t X96 = PowerOfX(96), X64 = PowerOfX(64);
};

// Sixteen bytes, the first the highest coefficient.
__attribute__((target("pclmul,ssse3,sse4.1"))) __m128i Load(const std::uint8_t* at) {
    const __m128i reversed = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), reversed);
}

__attribute__((target("pclmul,ssse3,sse4.1"))) __m128i Fold(__m128i before, __m128i constants,
                                                            __m128i after) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(before, constants, 0x11),
                                       _mm_clmulepi64_si128(before, constants, 0x00)),
                         after);
}

// The register after groups 64-byte groups from p on, starting from crc.
__attribute__((target("pclmul,ssse3,sse4.1"))) std::uint32_t
FoldedCrc(const std::uint8_t* p, std::size_t groups, std::uint32_t crc) {
    static const FoldConstants k;
    // The register so far stands before the data: it goes into their first four bytes.
    __m128i lanes[4] = {_mm_xor_si128(Load(p), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0)),
                        Load(p + 16), Load(p + 32), Load(p + 48)};
    const __m128i by512 =
        _mm_set_epi64x(static_cast<long long>(k.By512High), static_cast<long long>(k.By512Low));
    for (std::size_t group = 1; group < groups; ++group) {
        p += 64;
        for (int lane = 0; lane < 4; ++lane) {
            lanes[lane] = Fold(lanes[lane], by512, Load(p + 16 * lane));
        }
    }
    const __m128i by128 =
        _mm_set_epi64x(static_cast<long long>(k.By128High), static_cast<long long>(k.By128Low));
    __m128i x = Fold(Fold(Fold(lanes[0], by128, lanes[1]), by128, lanes[2]), by128, lanes[3]);
    // x * x^32 mod P: x_high * x^96 + x_low * x^32 in 96 bits, then its top 32 bits * x^64, in 64.
    auto high = static_cast<std::uint64_t>(_mm_extract_epi64(x, 1));
    auto low = static_cast<std::uint64_t>(_mm_extract_epi64(x, 0));
    __m128i t =
        _mm_xor_si128(_mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(high)),
                                           _mm_set_epi64x(0, static_cast<long long>(k.X96)), 0x00),
                      _mm_slli_si128(_mm_set_epi64x(0, static_cast<long long>(low)), 4));
    __m128i u = _mm_clmulepi64_si128(_mm_set_epi64x(0, _mm_extract_epi64(t, 1)),
                                     _mm_set_epi64x(0, static_cast<long long>(k.X64)), 0x00);
    std::uint64_t folded = static_cast<std::uint64_t>(_mm_extract_epi64(u, 0)) ^
                           static_cast<std::uint64_t>(_mm_extract_epi64(t, 0));
    // The top 32 bits times x^32, modulo P, are what the tables give for them as four bytes.
    const CrcTables& t0 = Tables();
    std::uint32_t top = static_cast<std::uint32_t>(folded >> 32);
    std::uint32_t reduced = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        reduced = (reduced << 8) ^ t0[0][(reduced >> 24) ^ ((top >> shift) & 0xFF)];
    }
    return reduced ^ static_cast<std::uint32_t>(folded);
}

bool CanFold() {
    static const bool can = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return can;
}
#endif

} // namespace

std::uint32_t OggCrc(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    const CrcTables& t = Tables();
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
#if defined(CSCUNPACK_CARRY_LESS)
    if (left >= 128 && CanFold()) {
        std::size_t groups = left / 64;
        crc = FoldedCrc(p, groups, crc);
        p += groups * 64;
        left -= groups * 64;
    }
#endif
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

Details OggDetails(const ReadPart& read, std::uint64_t size) {
    Details details;
    // The link being read: its streams not yet ended, and the Vorbis stream that stands for it.
    std::vector<std::uint32_t> open;
    bool linkStarted = false; // a page that begins no stream has come in this link
    bool vorbis = false;      // the link has a Vorbis stream, of serial vorbisSerial
    std::uint32_t vorbisSerial = 0;
    std::uint32_t linkRate = 0;
    std::int64_t linkGranule = -1; // negative: none told, or out of range
    double seconds = 0;
    bool timed = true;
    auto endLink = [&] {
        timed =
            timed && vorbis && linkRate != 0 && linkGranule >= 0 && linkGranule < GranulesInRange;
        if (timed) {
            seconds += static_cast<double>(linkGranule) / linkRate;
        }
        vorbis = false;
        linkGranule = -1;
    };
    std::uint8_t header[OggHeaderSize + 255];
    std::uint8_t body[IdentificationBytes];
    std::uint64_t at = 0;
    bool anyLink = false;
    while (at + OggHeaderSize <= size) {
        if (read(at, std::span(header, OggHeaderSize)) < OggHeaderSize ||
            !IsCapture(std::span(header, 4))) {
            break;
        }
        std::size_t segments = header[26];
        if (read(at + OggHeaderSize, std::span(header + OggHeaderSize, segments)) < segments) {
            break;
        }
        std::optional<PageHeader> page =
            ReadPageHeader(std::span(header, OggHeaderSize + segments));
        if ((page->Flags & BeginsStream) != 0) {
            if (open.empty() && linkStarted) {
                endLink();
                linkStarted = false;
            }
            anyLink = true;
            open.push_back(page->Serial);
            std::size_t got =
                read(at + page->HeaderSize,
                     std::span(body, std::min(IdentificationBytes, page->Size - page->HeaderSize)));
            std::span<const std::uint8_t> packet(body, got);
            if (!vorbis && IsVorbisIdentification(packet)) {
                vorbis = true;
                vorbisSerial = page->Serial;
                linkRate = VorbisRate(packet);
                if (details.Codec != "vorbis") {
                    details.Codec = "vorbis";
                    details.Channels = VorbisChannels(packet);
                    details.Rate = linkRate;
                }
            }
        } else {
            linkStarted = true;
        }
        if (vorbis && page->Serial == vorbisSerial && page->Granule != -1) { // -1: no packet ends
            linkGranule = page->Granule;
        }
        if ((page->Flags & EndsStream) != 0) {
            std::erase(open, page->Serial);
        }
        at += page->Size;
    }
    if (anyLink) {
        endLink();
    }
    if (details.Codec == "vorbis" && timed && at == size) {
        details.Seconds = ThreeDecimals(seconds);
    }
    if (details.Rate == 0u) {
        details.Rate.reset();
    }
    return details;
}

Details WavDetails(const ReadPart& read, std::uint64_t size) {
    Details details;
    std::uint8_t riff[12];
    if (read(0, riff) < sizeof riff || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return details;
    }
    std::optional<WavFormat> format;
    for (std::uint64_t at = 12; at + 8 <= size;) {
        std::uint8_t chunk[8];
        if (read(at, chunk) < sizeof chunk) {
            break;
        }
        std::uint32_t length = U32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16) {
            std::uint8_t bytes[26] = {};
            std::size_t got = read(at + 8, std::span(bytes, std::min<std::size_t>(length, 26)));
            if (got >= 16) {
                format = ReadFormat(std::span(bytes, got));
                details.Codec = CodecOf(format->Code);
                if (format->Channels != 0) {
                    details.Channels = format->Channels;
                }
                if (format->Rate != 0) {
                    details.Rate = format->Rate;
                }
            }
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            std::uint64_t data = std::min<std::uint64_t>(length, size - (at + 8));
            if (format && format->BlockAlign != 0 && format->Rate != 0) {
                details.Seconds =
                    ThreeDecimals(static_cast<double>(data / format->BlockAlign) / format->Rate);
            }
            break;
        }
        at += 8 + std::uint64_t{length} + (length & 1);
    }
    return details;
}

namespace {

ReadPart InMemory(std::span<const std::uint8_t> file) {
    return [file](std::uint64_t offset, std::span<std::uint8_t> into) -> std::size_t {
        if (offset >= file.size()) {
            return 0;
        }
        std::size_t count = std::min<std::size_t>(into.size(), file.size() - offset);
        std::memcpy(into.data(), file.data() + offset, count);
        return count;
    };
}

} // namespace

Details OggDetails(std::span<const std::uint8_t> file) {
    return OggDetails(InMemory(file), file.size());
}

Details WavDetails(std::span<const std::uint8_t> file) {
    return WavDetails(InMemory(file), file.size());
}

std::optional<std::string> OggProblem(std::span<const std::uint8_t> file) {
    // The streams of the link being read.
    struct Stream {
        std::uint32_t Serial = 0;
        std::uint32_t NextSequence = 0;
        bool Ended = false;
        bool PacketOpen = false; // its page before left a packet to go on
    };
    std::vector<Stream> streams;
    bool linkStarted = false; // a page that begins no stream has come in this link
    auto allEnded = [&] {
        return std::all_of(streams.begin(), streams.end(),
                           [](const Stream& stream) { return stream.Ended; });
    };
    std::size_t at = 0;
    std::size_t number = 1;
    for (; at < file.size(); ++number) {
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
        std::string serial = std::to_string(page->Serial);
        auto stream = std::find_if(streams.begin(), streams.end(), [&](const Stream& known) {
            return known.Serial == page->Serial;
        });
        bool continues = (page->Flags & ContinuesPacket) != 0;
        if ((page->Flags & BeginsStream) != 0) {
            if (!streams.empty() && allEnded()) {
                streams.clear(); // the next link of a chain
                linkStarted = false;
            } else if (stream != streams.end()) {
                return Page(number) + "begins stream " + serial + " again";
            } else if (linkStarted) {
                return Page(number) + "stream " + serial + " begins after the others have started";
            }
            if (continues) {
                return Page(number) + "the first page of stream " + serial + " continues a packet";
            }
            if (streams.empty()) {
                std::span<const std::uint8_t> packet =
                    rest.subspan(page->HeaderSize, page->Size - page->HeaderSize);
                if (!IsVorbisIdentification(packet)) {
                    return Page(number) + "the first packet is not a Vorbis identification header";
                }
                if (VorbisChannels(packet) == 0) {
                    return Page(number) + "the Vorbis identification header gives no channels";
                }
                if (VorbisRate(packet) == 0) {
                    return Page(number) + "the Vorbis identification header gives a rate of 0";
                }
            }
            streams.push_back({page->Serial, page->Sequence, false, false});
            stream = std::prev(streams.end());
        } else {
            if (stream == streams.end()) {
                return Page(number) + "a page of stream " + serial + ", which " +
                       (allEnded() && !streams.empty() ? "comes after every stream has ended"
                                                       : "never began");
            }
            if (stream->Ended) {
                return Page(number) + "a page of stream " + serial + " after its end";
            }
            if (continues != stream->PacketOpen) {
                return Page(number) + (continues ? "continues a packet that the page before ended"
                                                 : "leaves out the end of a packet");
            }
            linkStarted = true;
        }
        if (page->Sequence != stream->NextSequence) {
            return Page(number) + "page number " + std::to_string(page->Sequence) + " where " +
                   std::to_string(stream->NextSequence) + " was due";
        }
        if (page->Granule < -1) {
            return Page(number) + "granule position " + std::to_string(page->Granule) +
                   " is negative";
        }
        stream->NextSequence = page->Sequence + 1;
        stream->Ended = (page->Flags & EndsStream) != 0;
        if (page->HeaderSize > OggHeaderSize) { // a page without segments leaves it as it was
            stream->PacketOpen = page->EndsOpen;
        }
        at += page->Size;
    }
    if (number == 1) {
        return std::string("no page");
    }
    for (const Stream& stream : streams) {
        if (!stream.Ended) {
            return streams.size() == 1 ? Page(number - 1) + "the last page does not end the stream"
                                       : "stream " + std::to_string(stream.Serial) + " never ends";
        }
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
        // The pad byte after an odd last chunk may be present or not, and counted or not.
        auto last = LastChunkEnd(file);
        bool padOnly = last && last->second && (said == last->first || said == last->first + 1);
        if (!padOnly) {
            return "the RIFF header says " + std::to_string(said) + " bytes, the file has " +
                   std::to_string(file.size());
        }
    }
    std::optional<WavFormat> format;
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
        std::span<const std::uint8_t> chunk = file.subspan(at + 8, length);
        if (id == "fmt ") {
            if (length < 16) {
                return "\"fmt \" holds " + std::to_string(length) + " bytes, fewer than 16";
            }
            if (U16(chunk.data()) == Extensible && length < 18) {
                return "the extensible \"fmt \" holds " + std::to_string(length) +
                       " bytes, fewer than 18";
            }
            format = ReadFormat(chunk);
            if (format->Channels == 0) {
                return std::string("\"fmt \" gives no channels");
            }
            if (format->Rate == 0) {
                return std::string("\"fmt \" gives a sample rate of 0");
            }
            if (format->BlockAlign == 0) {
                return std::string("\"fmt \" gives a block align of 0");
            }
            std::uint32_t sample = (format->Bits + 7u) / 8u;
            if (FramesAreSamples(format->Code) && format->BlockAlign != format->Channels * sample) {
                return "block align " + std::to_string(format->BlockAlign) + " does not fit " +
                       std::to_string(format->Channels) + " channels of " +
                       std::to_string(format->Bits) + " bits";
            }
        } else if (id == "data") {
            if (!format) {
                return std::string("\"data\" comes before \"fmt \"");
            }
            if (length % format->BlockAlign != 0) {
                return "the last frame of \"data\" is cut: " +
                       std::to_string(length % format->BlockAlign) + " of its " +
                       std::to_string(format->BlockAlign) + " bytes";
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
