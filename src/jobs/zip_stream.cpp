#include "jobs/zip_stream.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace jobs {
namespace {

constexpr std::uint32_t Most32 = 0xFFFFFFFF;
constexpr std::uint16_t Flags = 1u << 3 | 1u << 11; // a data descriptor follows; names in UTF-8
constexpr std::size_t LocalHeaderSize = 30;
constexpr std::size_t CentralHeaderSize = 46;
constexpr std::size_t EndSize = 22;
constexpr std::size_t Zip64EndSize = 56 + 20; // the record and its locator

void Put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8 & 0xFF);
}

void Put32(std::string& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

void Put64(std::string& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t Clamped(std::uint64_t value) {
    return value >= Most32 ? Most32 : static_cast<std::uint32_t>(value);
}

std::array<std::array<std::uint32_t, 256>, 8> MakeCrcTables() {
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? crc >> 1 ^ 0xEDB88320u : crc >> 1;
        }
        tables[0][byte] = crc;
    }
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        for (std::size_t k = 1; k < 8; ++k) {
            tables[k][byte] = tables[k - 1][byte] >> 8 ^ tables[0][tables[k - 1][byte] & 0xFF];
        }
    }
    return tables;
}

} // namespace

std::uint32_t ZipCrc(const std::uint8_t* bytes, std::size_t count, std::uint32_t crc) {
    static const auto t = MakeCrcTables();
    crc = ~crc;
    // Eight bytes a step.
    for (; count >= 8; count -= 8, bytes += 8) {
        std::uint32_t low = crc ^ (std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 |
                                   std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
        crc = t[7][low & 0xFF] ^ t[6][low >> 8 & 0xFF] ^ t[5][low >> 16 & 0xFF] ^ t[4][low >> 24] ^
              t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]];
    }
    for (; count > 0; --count, ++bytes) {
        crc = crc >> 8 ^ t[0][(crc ^ *bytes) & 0xFF];
    }
    return ~crc;
}

CivilTime CivilTimeOf(std::int64_t seconds) {
    std::int64_t days = seconds >= 0 ? seconds / 86400 : 0;
    std::int64_t inDay = seconds >= 0 ? seconds % 86400 : 0;
    std::int64_t z = days + 719468;
    std::int64_t era = z / 146097;
    std::int64_t dayOfEra = z - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shifted = (5 * dayOfYear + 2) / 153;
    std::int64_t month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {.Year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0)),
            .Month = static_cast<int>(month),
            .Day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1),
            .Weekday = static_cast<int>((days + 4) % 7), // 1970-01-01 was a Thursday
            .Hour = static_cast<int>(inDay / 3600),
            .Minute = static_cast<int>(inDay / 60 % 60),
            .Second = static_cast<int>(inDay % 60)};
}

void DosTimeOf(std::int64_t seconds, std::uint16_t& time, std::uint16_t& date) {
    CivilTime civil = CivilTimeOf(seconds);
    if (civil.Year < 1980 || civil.Year > 2107) {
        time = 0;
        date = 1 << 5 | 1; // 1980-01-01, the first day a zip can say
        return;
    }
    time = static_cast<std::uint16_t>(civil.Hour << 11 | civil.Minute << 5 | civil.Second / 2);
    date = static_cast<std::uint16_t>((civil.Year - 1980) << 9 | civil.Month << 5 | civil.Day);
}

bool IsZip64(const ZipMember& member) {
    return member.Size >= Most32;
}

// The bytes of an entry's local header, its data and its descriptor.
std::uint64_t LocalSpan(const ZipMember& member) {
    bool big = IsZip64(member);
    return LocalHeaderSize + member.Name.size() + (big ? 20 : 0) + member.Size + (big ? 24 : 16);
}

// The bytes of the extra field of an entry's central header: the zip64 sizes and offset it needs.
std::size_t CentralExtra(const ZipMember& member, std::uint64_t localAt) {
    std::size_t extra = (IsZip64(member) ? 16 : 0) + (localAt >= Most32 ? 8 : 0);
    return extra > 0 ? 4 + extra : 0;
}

ZipStream::ZipStream(std::size_t count, ZipMembers members, ZipReader read)
    : count_(count), members_(std::move(members)), read_(std::move(read)), crcs_(count) {
    std::uint64_t at = 0;
    std::uint64_t central = 0;
    for (std::size_t k = 0; k < count_; ++k) {
        ZipMember member = members_(k);
        central += CentralHeaderSize + member.Name.size() + CentralExtra(member, at);
        at += LocalSpan(member);
    }
    centralAt_ = at;
    bool zip64 = count_ >= 0xFFFF || at >= Most32 || central >= Most32;
    length_ = at + central + (zip64 ? Zip64EndSize : 0) + EndSize;
}

void ZipStream::LocalHeader() {
    const ZipMember& file = current_;
    bool big = IsZip64(file);
    Put32(pending_, 0x04034b50);
    Put16(pending_, big ? 45 : 20);
    Put16(pending_, Flags);
    Put16(pending_, 0); // stored
    Put16(pending_, file.DosTime);
    Put16(pending_, file.DosDate);
    Put32(pending_, 0); // the CRC-32 follows the bytes
    Put32(pending_, Clamped(file.Size));
    Put32(pending_, Clamped(file.Size));
    Put16(pending_, static_cast<std::uint32_t>(file.Name.size()));
    Put16(pending_, big ? 20 : 0);
    pending_ += file.Name;
    if (big) {
        Put16(pending_, 0x0001);
        Put16(pending_, 16);
        Put64(pending_, file.Size);
        Put64(pending_, file.Size);
    }
}

void ZipStream::Descriptor() {
    Put32(pending_, 0x08074b50);
    Put32(pending_, crcs_[member_]);
    if (IsZip64(current_)) {
        Put64(pending_, current_.Size);
        Put64(pending_, current_.Size);
    } else {
        Put32(pending_, static_cast<std::uint32_t>(current_.Size));
        Put32(pending_, static_cast<std::uint32_t>(current_.Size));
    }
}

void ZipStream::CentralHeader(std::size_t member) {
    const ZipMember& file = current_;
    bool big = IsZip64(file);
    bool far = localAt_ >= Most32;
    std::size_t extra = CentralExtra(file, localAt_);
    std::size_t before = pending_.size();
    Put32(pending_, 0x02014b50);
    Put16(pending_, 45);
    Put16(pending_, big || far ? 45 : 20);
    Put16(pending_, Flags);
    Put16(pending_, 0);
    Put16(pending_, file.DosTime);
    Put16(pending_, file.DosDate);
    Put32(pending_, crcs_[member]);
    Put32(pending_, Clamped(file.Size));
    Put32(pending_, Clamped(file.Size));
    Put16(pending_, static_cast<std::uint32_t>(file.Name.size()));
    Put16(pending_, static_cast<std::uint32_t>(extra));
    Put16(pending_, 0); // no comment
    Put16(pending_, 0); // disk
    Put16(pending_, 0); // internal attributes
    Put32(pending_, 0); // external attributes
    Put32(pending_, Clamped(localAt_));
    pending_ += file.Name;
    if (extra > 0) {
        Put16(pending_, 0x0001);
        Put16(pending_, static_cast<std::uint32_t>(extra - 4));
        if (big) {
            Put64(pending_, file.Size);
            Put64(pending_, file.Size);
        }
        if (far) {
            Put64(pending_, localAt_);
        }
    }
    centralSize_ += pending_.size() - before;
}

void ZipStream::End() {
    std::uint64_t count = count_;
    if (count >= 0xFFFF || centralAt_ >= Most32 || centralSize_ >= Most32) {
        std::uint64_t zip64At = centralAt_ + centralSize_;
        Put32(pending_, 0x06064b50);
        Put64(pending_, 44);
        Put16(pending_, 45);
        Put16(pending_, 45);
        Put32(pending_, 0);
        Put32(pending_, 0);
        Put64(pending_, count);
        Put64(pending_, count);
        Put64(pending_, centralSize_);
        Put64(pending_, centralAt_);
        Put32(pending_, 0x07064b50);
        Put32(pending_, 0);
        Put64(pending_, zip64At);
        Put32(pending_, 1);
    }
    Put32(pending_, 0x06054b50);
    Put16(pending_, 0);
    Put16(pending_, 0);
    Put16(pending_, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFF)));
    Put16(pending_, static_cast<std::uint32_t>(std::min<std::uint64_t>(count, 0xFFFF)));
    Put32(pending_, Clamped(centralSize_));
    Put32(pending_, Clamped(centralAt_));
    Put16(pending_, 0);
}

std::size_t ZipStream::Produce(std::uint8_t* into, std::size_t room) {
    std::size_t given = 0;
    while (given < room && !cut_) {
        if (pendingAt_ < pending_.size()) {
            std::size_t part = std::min(room - given, pending_.size() - pendingAt_);
            std::memcpy(into + given, pending_.data() + pendingAt_, part);
            pendingAt_ += part;
            given += part;
            continue;
        }
        pending_.clear();
        pendingAt_ = 0;
        if (ended_) {
            break;
        }
        if (inCentral_) {
            // The central directory, an entry a step, then its end.
            if (member_ == count_) {
                End();
                ended_ = true;
                continue;
            }
            current_ = members_(member_);
            CentralHeader(member_);
            localAt_ += LocalSpan(current_);
            ++member_;
            continue;
        }
        if (member_ == count_) {
            inCentral_ = true;
            member_ = 0;
            localAt_ = 0;
            continue;
        }
        if (!inData_) {
            current_ = members_(member_);
            LocalHeader();
            inData_ = true;
            dataAt_ = 0;
            continue;
        }
        std::uint64_t left = current_.Size - dataAt_;
        if (left == 0) {
            Descriptor();
            inData_ = false;
            ++member_;
            continue;
        }
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(room - given, left));
        std::size_t got = read_(member_, dataAt_, into + given, wanted);
        crcs_[member_] = ZipCrc(into + given, got, crcs_[member_]);
        dataAt_ += got;
        given += got;
        cut_ = got < wanted;
    }
    return cut_ && given == 0 ? 0 : given;
}

} // namespace jobs
