// ProfileFile: an INI file held in memory that keeps the classic profile-file rules (names
// matched regardless of case, values replaced in place, new keys at the end of their section,
// new sections at the end of the file, every other line kept byte for byte).
//
// Code page: files are read as UTF-8 when they start with a UTF-8 byte-order mark, or when
// their bytes are valid UTF-8 and either no valid GBK or GBK only through characters beyond
// GB2312; as GBK otherwise. Files we create are written in GBK with CR LF line ends, as the
// Windows PCs of the installers wrote them; a loaded file keeps its own code page and line end
// for the lines we add or change.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace r4t8 {

class ProfileFile {
  public:
    enum class Encoding { Gbk, Utf8 };
    enum class LoadResult {
        Loaded,      // the file was read (whatever it held)
        Missing,     // no such file: the profile is empty
        Unreadable,  // exists but is no regular file, cannot be opened or is too large
    };

    // Longest value a read yields, in characters.
    static constexpr int kMaxValueLength = 2047;
    // Larger files are no settings files; refusing them keeps a stray pick from eating memory.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    ProfileFile() = default;

    static ProfileFile FromBytes(const QByteArray& bytes);
    // Replaces the contents with the file's; on Missing or Unreadable the profile is empty.
    LoadResult Load(const QString& path);

    // The trimmed value without one pair of enclosing quotes; `def` when the section or key
    // is missing (a key with an empty value reads as empty).
    QString ReadString(const QString& section, const QString& key, const QString& def) const;
    // Decimal, or hexadecimal after "0x"; `def` when missing or not a number.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    bool HasKey(const QString& section, const QString& key) const;

    void WriteString(const QString& section, const QString& key, const QString& value);

    QByteArray ToBytes() const;
    // Writes the whole profile through a temporary file in the same folder that replaces the
    // target only once it is complete and on disk. Where that cannot be done (a folder we may
    // not write holding a file we may), the existing file is rewritten in place, read back,
    // and given its old bytes again if that fails. On failure the old file stays as it was.
    bool SaveAs(const QString& path, QString* error = nullptr) const;

    Encoding encoding() const { return m_encoding; }

  private:
    enum class Kind { Other, Section, Entry };
    struct Line {
        QByteArray raw;  // without its line end
        QByteArray eol;  // "\r\n", "\n" or empty for an unterminated last line
        Kind kind = Kind::Other;
        QString name;    // section name or key, trimmed
        int eqPos = -1;  // Entry: byte offset of the first '='
    };

    static bool RewriteInPlace(const QString& path, const QByteArray& bytes, QString* error);
    void Parse(const QByteArray& bytes);
    void Classify(Line& line) const;
    int FindSection(const QString& section) const;  // header line, or -1
    int SectionEnd(int header) const;               // first line after the section
    int FindKey(const QString& section, const QString& key) const;
    QString Decode(const QByteArray& bytes) const;
    QByteArray Encode(const QString& text) const;
    void EnsureTerminated(int line);

    std::vector<Line> m_lines;
    QByteArray m_bom;
    QByteArray m_eol{"\r\n"};
    Encoding m_encoding = Encoding::Gbk;
};

// The integer rule of profile values: decimal with an optional sign, or hexadecimal when the
// text has more than two characters and begins with "0x" or "0X"; `def` otherwise.
int ParseProfileInteger(const QString& text, int def);

}  // namespace r4t8
