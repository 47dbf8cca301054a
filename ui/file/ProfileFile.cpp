#include "ui/file/ProfileFile.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace r4t8 {

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");

// One iconv conversion for the lifetime of a call; a failed open leaves it unusable.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

  private:
    iconv_t m_cd;
};

// Length of the UTF-8 sequence a lead byte starts (1 for anything unexpected).
int Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

// Converts as far as possible; `onBad` receives the output and decides what stands for an
// input sequence the target cannot express, and how many input bytes it covers.
template <typename OnBad>
QByteArray Convert(const Iconv& cd, const QByteArray& in, OnBad onBad) {
    QByteArray out;
    out.reserve(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.constData());
    size_t srcLeft = static_cast<size_t>(in.size());
    char buffer[1024];
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    while (srcLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t r = iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<qsizetype>(dst - buffer));
        if (r != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL (a sequence cut off at the end): replace and step over it.
        const size_t skip = std::min(srcLeft, onBad(out, static_cast<unsigned char>(*src)));
        src += skip;
        srcLeft -= skip;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

QString DecodeGbk(const QByteArray& bytes) {
    bool ascii = true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    if (ascii) return QString::fromLatin1(bytes);
    const Iconv cd("UTF-8", "GBK");
    if (!cd.ok()) return QString::fromLatin1(bytes);
    const QByteArray utf8 = Convert(cd, bytes, [](QByteArray& out, unsigned char) -> size_t {
        out.append("\xEF\xBF\xBD");  // U+FFFD for a byte that starts no GBK character
        return 1;
    });
    return QString::fromUtf8(utf8);
}

// Characters GBK lacks become '?', as the Windows conversion does.
QByteArray EncodeGbk(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    bool ascii = true;
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    if (ascii) return utf8;
    const Iconv cd("GBK", "UTF-8");
    if (!cd.ok()) return text.toLatin1();
    return Convert(cd, utf8, [](QByteArray& out, unsigned char lead) -> size_t {
        out.append('?');
        return static_cast<size_t>(Utf8SequenceLength(lead));
    });
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int len = (c >= 0xC2 && c <= 0xDF)   ? 2
                        : (c >= 0xE0 && c <= 0xEF) ? 3
                        : (c >= 0xF0 && c <= 0xF4) ? 4
                                                   : 0;
        if (len == 0) return false;
        uint32_t cp = c & (0x7F >> len);
        if (i + len > n) return false;
        for (int k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        const uint32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

// Every byte belongs to a GBK character (as the platform's converter knows them).
bool IsValidGbk(const QByteArray& bytes) {
    const Iconv cd("UTF-8", "GBK");
    if (!cd.ok()) return true;
    bool valid = true;
    Convert(cd, bytes, [&valid](QByteArray&, unsigned char) -> size_t {
        valid = false;
        return std::numeric_limits<size_t>::max();  // no need to look further
    });
    return valid;
}

// Every double-byte character is one of GB2312's (lead A1..F7, trail A1..FE): the characters
// the installers' PCs write. UTF-8 Chinese that happens to be valid GBK almost never pairs up
// that way ("测试" in UTF-8 read as GBK is "娴嬭瘯", two of them from GBK's extension areas).
bool OnlyGb2312Pairs(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        if (i + 1 >= n || p[i] < 0xA1 || p[i] > 0xF7 || p[i + 1] < 0xA1 || p[i + 1] == 0xFF)
            return false;
        i += 2;
    }
    return true;
}

// Our own files and those of the installers' PCs are GBK, and GBK text can happen to be valid
// UTF-8 too ("路" is C2 B7, "·" in UTF-8): without a BOM a file is GBK unless its bytes are
// no GBK, or unless only UTF-8 makes common characters of them. Bytes valid in neither stay
// GBK, which keeps them as they are.
ProfileFile::Encoding ChooseEncoding(const QByteArray& bytes) {
    if (bytes.startsWith(kUtf8Bom)) return ProfileFile::Encoding::Utf8;
    if (!IsValidUtf8(bytes)) return ProfileFile::Encoding::Gbk;
    if (IsValidGbk(bytes) && OnlyGb2312Pairs(bytes)) return ProfileFile::Encoding::Gbk;
    return ProfileFile::Encoding::Utf8;
}

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

QString TrimBlanks(const QString& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.mid(begin, end - begin);
}

QByteArray TrimBlanks(const QByteArray& s) {
    qsizetype begin = 0;
    qsizetype end = s.size();
    auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    while (begin < end && blank(s[begin])) ++begin;
    while (end > begin && blank(s[end - 1])) --end;
    return s.mid(begin, end - begin);
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// A line break inside a value would split the entry and plant a forged one below it.
QString WithoutLineBreaks(const QString& value) {
    QString v = value;
    v.remove(u'\r');
    v.remove(u'\n');
    return v;
}

}  // namespace

int ParseProfileInteger(const QString& text, int def) {
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        uint64_t value = 0;
        for (qsizetype i = 2; i < text.size(); ++i) {
            const char16_t c = text[i].unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0) return def;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > std::numeric_limits<uint32_t>::max()) return def;
        }
        // 32-bit like the platform's own conversion: 0xFFFFFFFF reads as -1.
        return static_cast<int>(static_cast<uint32_t>(value));
    }
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i >= text.size()) return def;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9') return def;
        value = value * 10 + (c.unicode() - u'0');
        if (value > int64_t{std::numeric_limits<int>::max()} + 1) return def;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max()) return def;
    return static_cast<int>(value);
}

ProfileFile ProfileFile::FromBytes(const QByteArray& bytes) {
    ProfileFile p;
    p.Parse(bytes);
    return p;
}

ProfileFile::LoadResult ProfileFile::Load(const QString& path) {
    *this = ProfileFile();
    const QFileInfo info(path);
    if (!info.exists()) return info.isSymLink() ? LoadResult::Unreadable : LoadResult::Missing;
    // Devices and pipes could block or never end; only regular files are settings files.
    if (!info.isFile() || info.size() > kMaxFileSize) return LoadResult::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return LoadResult::Unreadable;
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize || file.error() != QFileDevice::NoError)
        return LoadResult::Unreadable;
    Parse(bytes);
    return LoadResult::Loaded;
}

void ProfileFile::Parse(const QByteArray& input) {
    m_lines.clear();
    m_encoding = ChooseEncoding(input);
    QByteArray bytes = input;
    m_bom.clear();
    if (bytes.startsWith(kUtf8Bom)) {
        m_bom = kUtf8Bom;
        bytes.remove(0, kUtf8Bom.size());
    }
    const int firstLf = bytes.indexOf('\n');
    m_eol = (firstLf > 0 && bytes[firstLf - 1] == '\r') || firstLf < 0 ? QByteArray("\r\n")
                                                                       : QByteArray("\n");
    // '\n' is never the second byte of a GBK character, so splitting bytes is safe.
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype lf = bytes.indexOf('\n', pos);
        Line line;
        if (lf < 0) {
            line.raw = bytes.mid(pos);
            pos = bytes.size();
        } else {
            qsizetype end = lf;
            if (end > pos && bytes[end - 1] == '\r') --end;
            line.raw = bytes.mid(pos, end - pos);
            line.eol = bytes.mid(end, lf + 1 - end);
            pos = lf + 1;
        }
        Classify(line);
        m_lines.push_back(std::move(line));
    }
}

void ProfileFile::Classify(Line& line) const {
    line.kind = Kind::Other;
    line.name.clear();
    line.eqPos = -1;
    const QString text = TrimBlanks(Decode(line.raw));
    if (text.isEmpty() || text[0] == u';') return;
    if (text[0] == u'[') {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) return;
        line.kind = Kind::Section;
        line.name = TrimBlanks(text.mid(1, close - 1));
        return;
    }
    // '=' is never part of a multi-byte character in GBK or UTF-8.
    const qsizetype eq = line.raw.indexOf('=');
    if (eq < 0) return;
    const QString key = TrimBlanks(Decode(line.raw.left(eq)));
    if (key.isEmpty()) return;
    line.kind = Kind::Entry;
    line.name = key;
    line.eqPos = static_cast<int>(eq);
}

QString ProfileFile::Decode(const QByteArray& bytes) const {
    return m_encoding == Encoding::Utf8 ? QString::fromUtf8(bytes) : DecodeGbk(bytes);
}

QByteArray ProfileFile::Encode(const QString& text) const {
    return m_encoding == Encoding::Utf8 ? text.toUtf8() : EncodeGbk(text);
}

int ProfileFile::FindSection(const QString& section) const {
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Kind::Section && SameName(m_lines[i].name, section))
            return static_cast<int>(i);
    return -1;
}

int ProfileFile::SectionEnd(int header) const {
    size_t i = static_cast<size_t>(header) + 1;
    while (i < m_lines.size() && m_lines[i].kind != Kind::Section) ++i;
    return static_cast<int>(i);
}

int ProfileFile::FindKey(const QString& section, const QString& key) const {
    const int header = FindSection(section);
    if (header < 0) return -1;
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (m_lines[i].kind == Kind::Entry && SameName(m_lines[i].name, key)) return i;
    return -1;
}

bool ProfileFile::HasKey(const QString& section, const QString& key) const {
    return FindKey(section, key) >= 0;
}

QString ProfileFile::ReadString(const QString& section, const QString& key,
                                const QString& def) const {
    const int i = FindKey(section, key);
    if (i < 0) return def;
    const Line& line = m_lines[i];
    QString value = TrimBlanks(Decode(line.raw.mid(line.eqPos + 1)));
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        value = value.mid(1, value.size() - 2);
    if (value.size() > kMaxValueLength) {
        qsizetype cut = kMaxValueLength;
        if (value[cut - 1].isHighSurrogate()) --cut;  // never half a character
        value.truncate(cut);
    }
    return value;
}

int ProfileFile::ReadInteger(const QString& section, const QString& key, int def) const {
    if (!HasKey(section, key)) return def;
    return ParseProfileInteger(ReadString(section, key, QString()), def);
}

void ProfileFile::EnsureTerminated(int line) {
    if (line >= 0 && m_lines[line].eol.isEmpty()) m_lines[line].eol = m_eol;
}

void ProfileFile::WriteString(const QString& section, const QString& key, const QString& value) {
    const QByteArray encoded = Encode(WithoutLineBreaks(value));
    const int header = FindSection(section);
    if (header < 0) {
        EnsureTerminated(static_cast<int>(m_lines.size()) - 1);
        Line head;
        head.raw = "[" + Encode(section) + "]";
        head.eol = m_eol;
        Classify(head);
        m_lines.push_back(head);
        Line entry;
        entry.raw = Encode(key) + "=" + encoded;
        entry.eol = m_eol;
        Classify(entry);
        m_lines.push_back(entry);
        return;
    }
    const int found = FindKey(section, key);
    if (found >= 0) {
        Line& line = m_lines[found];
        // An equal value keeps the line as it is, spacing and all.
        if (TrimBlanks(line.raw.mid(line.eqPos + 1)) == encoded) return;
        line.raw = line.raw.left(line.eqPos + 1) + encoded;
        return;
    }
    // A new key goes directly after the last entry of its section.
    int after = header;
    const int end = SectionEnd(header);
    for (int i = header + 1; i < end; ++i)
        if (m_lines[i].kind == Kind::Entry) after = i;
    EnsureTerminated(after);
    Line entry;
    entry.raw = Encode(key) + "=" + encoded;
    entry.eol = m_eol;
    Classify(entry);
    m_lines.insert(m_lines.begin() + after + 1, entry);
}

QByteArray ProfileFile::ToBytes() const {
    QByteArray out = m_bom;
    for (const Line& line : m_lines) {
        out += line.raw;
        out += line.eol;
    }
    return out;
}

bool ProfileFile::SaveAs(const QString& path, QString* error) const {
    const QByteArray bytes = ToBytes();
    // QSaveFile writes a temporary file beside the target, syncs it to disk and renames it
    // over the target only on commit, so the old file survives every failure.
    QSaveFile file(path);
    QString reason;
    if (file.open(QIODevice::WriteOnly)) {
        if (file.write(bytes) != bytes.size()) {
            // The disk is full or failing: rewriting in place would meet the same.
            if (error) *error = file.errorString();
            file.cancelWriting();
            return false;
        }
        if (file.commit()) return true;
    }
    reason = file.errorString();
    // No temporary file beside the target, or no rename over it: the program's own folder
    // once installed is read-only while the settings file in it may be writable.
    const QFileInfo info(path);
    if (info.isFile() && RewriteInPlace(path, bytes, &reason)) return true;
    if (error) *error = reason;
    return false;
}

namespace {

bool WriteAllAt(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

bool ReadAll(int fd, qint64 size, QByteArray& out) {
    if (size < 0 || size > ProfileFile::kMaxFileSize) return false;
    out.resize(static_cast<qsizetype>(size));
    qsizetype done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + done, static_cast<size_t>(out.size() - done), done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += n;
    }
    return true;
}

// The file holds exactly `bytes`, on disk.
bool PutContent(int fd, const QByteArray& bytes) {
    if (!WriteAllAt(fd, bytes) || ::ftruncate(fd, bytes.size()) != 0 || ::fsync(fd) != 0)
        return false;
    struct stat st {};
    QByteArray back;
    return ::fstat(fd, &st) == 0 && st.st_size == bytes.size() && ReadAll(fd, st.st_size, back) &&
           back == bytes;
}

}  // namespace

bool ProfileFile::RewriteInPlace(const QString& path, const QByteArray& bytes, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    int failure = fd < 0 ? errno : 0;
    bool ok = false;
    if (fd >= 0) {
        struct stat st {};
        QByteArray old;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !ReadAll(fd, st.st_size, old)) {
            failure = errno ? errno : EIO;
        } else if (const int rc =
                       bytes.size() > old.size() ? ::posix_fallocate(fd, 0, bytes.size()) : 0;
                   rc != 0) {
            // Room for the longer content comes first, so that a full disk stops us before
            // the first byte is overwritten; a failed reservation may still have lengthened
            // the file.
            failure = rc;
            if (::ftruncate(fd, old.size()) != 0) failure = errno;
        } else if (PutContent(fd, bytes)) {
            ok = true;
        } else {
            failure = errno ? errno : EIO;
            PutContent(fd, old);
        }
        ::close(fd);
    }
    if (!ok && error) *error = QString::fromLocal8Bit(std::strerror(failure ? failure : EIO));
    return ok;
}

}  // namespace r4t8
