#include "mail/binhex.h"

#include <array>

namespace lumora::mime {
namespace {

constexpr char kHeader[] = "(This file must be converted with BinHex";
// Larger than any mail's file; a text that decodes to more is no file.
constexpr qsizetype kMaxDecoded = qsizetype(128) << 20;
constexpr char kAlphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

// CRC-16/XMODEM of the bytes followed by two zero bytes, as BinHex checks.
quint16 crc(QByteArrayView bytes)
{
    quint16 value = 0;
    const auto add = [&value](unsigned char byte) {
        value ^= static_cast<quint16>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x8000) ? static_cast<quint16>((value << 1) ^ 0x1021)
                                     : static_cast<quint16>(value << 1);
        }
    };
    for (const char c : bytes) {
        add(static_cast<unsigned char>(c));
    }
    add(0);
    add(0);
    return value;
}

quint32 bigEndian(QByteArrayView bytes, qsizetype at, int width)
{
    quint32 value = 0;
    for (int i = 0; i < width; ++i) {
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

} // namespace

std::optional<std::pair<qsizetype, qsizetype>> findBinHex(QByteArrayView text, qsizetype from)
{
    const qsizetype header = text.indexOf(kHeader, from);
    if (header < 0) {
        return std::nullopt;
    }
    // The data starts with a colon at the start of a line after the header.
    qsizetype start = text.indexOf('\n', header);
    while (start >= 0 && start + 1 < text.size() && text[start + 1] != ':') {
        const qsizetype next = text.indexOf('\n', start + 1);
        if (next < 0 || next - start > 2 + 1) { // only empty lines may come between
            return std::nullopt;
        }
        start = next;
    }
    if (start < 0 || start + 1 >= text.size()) {
        return std::nullopt;
    }
    const qsizetype close = text.indexOf(':', start + 2);
    if (close < 0) {
        return std::nullopt;
    }
    qsizetype end = close + 1;
    if (end < text.size() && text[end] == '\r') {
        ++end;
    }
    if (end < text.size() && text[end] == '\n') {
        ++end;
    }
    return std::pair<qsizetype, qsizetype>(header, end);
}

std::optional<BinHexFile> decodeBinHex(QByteArrayView text)
{
    static const std::array<qint8, 256> values = [] {
        std::array<qint8, 256> table{};
        table.fill(-1);
        for (int i = 0; kAlphabet[i] != '\0'; ++i) {
            table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<qint8>(i);
        }
        return table;
    }();
    qsizetype at = text.indexOf(kHeader);
    at = text.indexOf(':', at < 0 ? 0 : at);
    if (at < 0) {
        return std::nullopt;
    }
    // Six bits a character, skipping line ends and blanks.
    QByteArray packed;
    packed.reserve(text.size() * 3 / 4);
    quint32 bits = 0;
    int count = 0;
    bool closed = false;
    for (++at; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c == ':') {
            closed = true;
            break;
        }
        if (c == '\r' || c == '\n' || c == ' ' || c == '\t') {
            continue;
        }
        if (values[c] < 0) {
            return std::nullopt;
        }
        bits = (bits << 6) | static_cast<quint32>(values[c]);
        count += 6;
        if (count >= 8) {
            count -= 8;
            packed.append(static_cast<char>((bits >> count) & 0xFF));
        }
    }
    if (!closed) {
        return std::nullopt;
    }
    // Runs: 0x90 n repeats the byte before it n times in all; 0x90 0 is 0x90.
    QByteArray raw;
    raw.reserve(packed.size());
    for (qsizetype i = 0; i < packed.size(); ++i) {
        const auto c = static_cast<unsigned char>(packed[i]);
        if (c != 0x90) {
            raw.append(static_cast<char>(c));
            continue;
        }
        if (++i >= packed.size()) {
            break;
        }
        const auto n = static_cast<unsigned char>(packed[i]);
        if (n == 0) {
            raw.append(static_cast<char>(0x90));
        } else if (!raw.isEmpty()) {
            // Runs cannot make a small text decode to something huge.
            if (raw.size() + n > kMaxDecoded) {
                return std::nullopt;
            }
            raw.append(QByteArray(n - 1, raw.back()));
        }
    }
    // name length, name, version, type, creator, flags, data and resource
    // lengths, header CRC; the data fork and its CRC; the resource fork and its.
    if (raw.isEmpty()) {
        return std::nullopt;
    }
    const qsizetype nameLength = static_cast<unsigned char>(raw[0]);
    const qsizetype headerLength = 1 + nameLength + 1 + 4 + 4 + 2 + 4 + 4;
    if (raw.size() < headerLength + 2) {
        return std::nullopt;
    }
    const QByteArrayView view(raw);
    if (crc(view.first(headerLength)) != bigEndian(view, headerLength, 2)) {
        return std::nullopt;
    }
    const quint32 dataLength = bigEndian(view, headerLength - 8, 4);
    const quint32 resourceLength = bigEndian(view, headerLength - 4, 4);
    const qsizetype dataAt = headerLength + 2;
    if (dataAt + qsizetype(dataLength) + 2 > raw.size()) {
        return std::nullopt;
    }
    const QByteArrayView data = view.sliced(dataAt, dataLength);
    if (crc(data) != bigEndian(view, dataAt + dataLength, 2)) {
        return std::nullopt;
    }
    const qsizetype resourceAt = dataAt + dataLength + 2;
    if (resourceAt + qsizetype(resourceLength) + 2 > raw.size() ||
        crc(view.sliced(resourceAt, resourceLength)) !=
            bigEndian(view, resourceAt + resourceLength, 2)) {
        return std::nullopt;
    }
    return BinHexFile{view.sliced(1, nameLength).toByteArray(), data.toByteArray()};
}

} // namespace lumora::mime
