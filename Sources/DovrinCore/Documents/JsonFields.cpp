#include "Documents/JsonFields.h"

#include <array>
#include <cstring>

namespace JsonFields {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters per lookup of 12 input bits.
constexpr std::array<std::array<char, 2>, 4096> pairTable()
{
    std::array<std::array<char, 2>, 4096> table {};
    for (unsigned i = 0; i < 4096; ++i)
        table[i] = { alphabet[i >> 6], alphabet[i & 63] };
    return table;
}

constexpr auto pairs = pairTable();

// One table per position in a group of four, the value already shifted into place; an invalid
// character sets a bit above the 24 data bits.
constexpr std::uint32_t invalid = 1u << 24;

constexpr std::array<std::array<std::uint32_t, 256>, 4> decodingTables()
{
    std::array<std::array<std::uint32_t, 256>, 4> tables {};
    for (auto &table : tables)
        table.fill(invalid);
    for (std::uint32_t i = 0; i < 64; ++i) {
        const auto c = static_cast<unsigned char>(alphabet[i]);
        tables[0][c] = i << 18;
        tables[1][c] = i << 12;
        tables[2][c] = i << 6;
        tables[3][c] = i;
    }
    return tables;
}

constexpr auto decoding = decodingTables();

} // namespace

void appendBase64(QByteArray &out, const QByteArray &data)
{
    const qsizetype start = out.size();
    const qsizetype full = data.size() / 3;
    const qsizetype rest = data.size() % 3;
    out.resize(start + (full + (rest ? 1 : 0)) * 4);
    const auto *in = reinterpret_cast<const unsigned char *>(data.constData());
    char *text = out.data() + start;
    for (qsizetype g = 0; g < full; ++g, in += 3, text += 4) {
        const std::uint32_t value = (std::uint32_t(in[0]) << 16) | (std::uint32_t(in[1]) << 8) | in[2];
        std::memcpy(text, pairs[value >> 12].data(), 2);
        std::memcpy(text + 2, pairs[value & 0xfff].data(), 2);
    }
    if (rest) {
        const std::uint32_t value
            = (std::uint32_t(in[0]) << 16) | (rest == 2 ? std::uint32_t(in[1]) << 8 : 0);
        text[0] = alphabet[value >> 18];
        text[1] = alphabet[(value >> 12) & 63];
        text[2] = rest == 2 ? alphabet[(value >> 6) & 63] : '=';
        text[3] = '=';
    }
}

QByteArray encodeBase64(const QByteArray &data)
{
    QByteArray text;
    appendBase64(text, data);
    return text;
}

std::optional<QByteArray> decodeBase64(QByteArrayView text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.isEmpty())
        return QByteArray();
    const qsizetype padding = text.endsWith("==") ? 2 : text.endsWith('=') ? 1 : 0;
    const qsizetype groups = text.size() / 4;
    QByteArray data(groups * 3 - padding, Qt::Uninitialized);
    const auto *in = reinterpret_cast<const unsigned char *>(text.data());
    auto *out = reinterpret_cast<unsigned char *>(data.data());
    std::uint32_t bad = 0;
    const qsizetype fullGroups = padding ? groups - 1 : groups;
    for (qsizetype g = 0; g < fullGroups; ++g, in += 4, out += 3) {
        const std::uint32_t value
            = decoding[0][in[0]] | decoding[1][in[1]] | decoding[2][in[2]] | decoding[3][in[3]];
        bad |= value;
        out[0] = static_cast<unsigned char>(value >> 16);
        out[1] = static_cast<unsigned char>(value >> 8);
        out[2] = static_cast<unsigned char>(value);
    }
    if (padding) {
        const std::uint32_t value
            = decoding[0][in[0]] | decoding[1][in[1]] | (padding == 1 ? decoding[2][in[2]] : 0);
        bad |= value;
        out[0] = static_cast<unsigned char>(value >> 16);
        if (padding == 1)
            out[1] = static_cast<unsigned char>(value >> 8);
    }
    if (bad & invalid)
        return std::nullopt;
    return data;
}

} // namespace JsonFields
