#include "config/TextCodec.h"

#include <iconv.h>

#include <array>

namespace r4t8 {

namespace {

// One converter per direction and thread; opening a converter is far dearer than using it.
class Converter {
  public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts exactly `n` input bytes; false when any of them does not convert.
    bool Run(const char* in, size_t n, char* out, size_t outCapacity, size_t& outCount) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* src = const_cast<char*>(in);
        size_t srcLeft = n;
        char* dst = out;
        size_t dstLeft = outCapacity;
        if (iconv(m_cd, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) return false;
        if (srcLeft != 0) return false;
        outCount = outCapacity - dstLeft;
        return true;
    }

  private:
    iconv_t m_cd;
};

Converter& ToGbk() {
    thread_local Converter c("GBK", "UTF-32LE");
    return c;
}

Converter& FromGbk() {
    thread_local Converter c("UTF-32LE", "GBK");
    return c;
}

// GBK bytes of one code point above U+00FF; empty when GBK has no such character.
std::vector<uint8_t> GbkOf(char32_t cp) {
    const std::array<char, 4> in{static_cast<char>(cp & 0xFF), static_cast<char>((cp >> 8) & 0xFF),
                                 static_cast<char>((cp >> 16) & 0xFF),
                                 static_cast<char>((cp >> 24) & 0xFF)};
    std::array<char, 8> out{};
    size_t n = 0;
    if (!ToGbk().Run(in.data(), in.size(), out.data(), out.size(), n)) return {};
    return std::vector<uint8_t>(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
}

// The character of a GBK pair; 0 when the pair is not a character this codec keeps as one.
char32_t PairToChar(uint8_t lead, uint8_t trail) {
    if (lead < 0x81 || lead > 0xFE || trail < 0x40 || trail > 0xFE || trail == 0x7F) return 0;
    const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    std::array<char, 8> out{};
    size_t n = 0;
    if (!FromGbk().Run(in, 2, out.data(), out.size(), n) || n != 4) return 0;
    const char32_t cp = static_cast<uint8_t>(out[0]) | (static_cast<uint8_t>(out[1]) << 8) |
                        (static_cast<uint8_t>(out[2]) << 16) |
                        (static_cast<char32_t>(static_cast<uint8_t>(out[3])) << 24);
    // Latin-1 code points stand for raw bytes; a pair decoding into them would come back as
    // one byte, so it stays two raw characters.
    if (cp <= 0xFF) return 0;
    // Only pairs the encoder reproduces exactly are taken as characters.
    const std::vector<uint8_t> back = GbkOf(cp);
    if (back.size() != 2 || back[0] != lead || back[1] != trail) return 0;
    return cp;
}

std::vector<uint8_t> BytesOf(char32_t cp) {
    if (cp <= 0xFF) return {static_cast<uint8_t>(cp)};
    std::vector<uint8_t> b = GbkOf(cp);
    if (b.empty()) return {'?'};
    return b;
}

}  // namespace

std::vector<uint8_t> EncodeDeviceText(const QString& text, size_t maxBytes) {
    std::vector<uint8_t> out;
    const std::u32string cps = text.toStdU32String();
    for (char32_t cp : cps) {
        const std::vector<uint8_t> b = BytesOf(cp);
        if (out.size() + b.size() > maxBytes) break;
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<uint8_t> EncodeDeviceText(const QString& text) {
    return EncodeDeviceText(text, static_cast<size_t>(-1));
}

QString DecodeDeviceText(const uint8_t* bytes, size_t count) {
    std::u32string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b >= 0x81 && b <= 0xFE && i + 1 < count) {
            if (const char32_t cp = PairToChar(b, bytes[i + 1])) {
                out.push_back(cp);
                ++i;
                continue;
            }
        }
        out.push_back(b);
    }
    return QString::fromStdU32String(out);
}

QByteArray ToDeviceBytes(const QString& text) {
    const std::vector<uint8_t> b = EncodeDeviceText(text);
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

QString FromDeviceBytes(const QByteArray& bytes) {
    return DecodeDeviceText(reinterpret_cast<const uint8_t*>(bytes.constData()),
                            static_cast<size_t>(bytes.size()));
}

}  // namespace r4t8
