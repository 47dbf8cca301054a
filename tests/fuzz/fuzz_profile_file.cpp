// The profile-file layer: parse arbitrary bytes, read keys, make edits and serialise again.
#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <string>

#include "FuzzSupport.h"
#include "ui/file/ProfileFile.h"

using namespace r4t8;

namespace {

// Names and values from a small plain alphabet, so that what was written must read back
// exactly; the file around them is arbitrary.
QString PlainName(FuzzedDataProvider& fdp) {
    static const char* const kNames[] = {"COM", "TEL", "gprs",   "Other", "SENSOR1",
                                         "a",   "B",   "setPwd", "tel1",  "x y"};
    return QString::fromLatin1(kNames[fdp.ConsumeIntegralInRange<int>(0, 9)]);
}

QString PlainValue(FuzzedDataProvider& fdp) {
    static const char kAlphabet[] = "0123456789abcXYZ.-_:";
    QString v;
    const int n = fdp.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < n; ++i)
        v += QChar(kAlphabet[fdp.ConsumeIntegralInRange<int>(0, sizeof kAlphabet - 2)]);
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const int edits = fdp.ConsumeIntegralInRange<int>(0, 6);
    const std::string text = fdp.ConsumeRandomLengthString(8192);
    const QByteArray original(text.data(), static_cast<qsizetype>(text.size()));

    ProfileFile file = ProfileFile::FromBytes(original);
    // Without edits every byte is kept.
    R4T8_FUZZ_CHECK(file.ToBytes() == original);

    for (int i = 0; i < 3; ++i) {
        const QString s = PlainName(fdp), k = PlainName(fdp);
        const QString v = file.ReadString(s, k, QString());
        R4T8_FUZZ_CHECK(v.size() <= ProfileFile::kMaxValueLength);
        file.ReadInteger(s, k, -7);
    }

    struct Edit {
        QString section, key, value;
        bool plain = true;
    };
    std::vector<Edit> done;
    for (int i = 0; i < edits; ++i) {
        Edit e{PlainName(fdp), PlainName(fdp), PlainValue(fdp)};
        if (fdp.ConsumeBool()) {
            // Any text at all, line breaks and non-ASCII included: must not break the file.
            const std::string any = fdp.ConsumeRandomLengthString(64);
            e.value = QString::fromUtf8(any.data(), static_cast<qsizetype>(any.size()));
            e.plain = false;
        }
        file.WriteString(e.section, e.key, e.value);
        if (e.plain) R4T8_FUZZ_CHECK(file.ReadString(e.section, e.key, QString()) == e.value);
        done.push_back(e);
    }

    // The serialised file reads back with the last value of every key written, when it was
    // a plain one.
    const ProfileFile again = ProfileFile::FromBytes(file.ToBytes());
    for (size_t i = 0; i < done.size(); ++i) {
        bool overwritten = !done[i].plain;
        for (size_t j = i + 1; j < done.size(); ++j)
            overwritten |= done[j].section.compare(done[i].section, Qt::CaseInsensitive) == 0 &&
                           done[j].key.compare(done[i].key, Qt::CaseInsensitive) == 0;
        if (overwritten) continue;
        const QString back = again.ReadString(done[i].section, done[i].key, QString());
        if (back != done[i].value)
            std::fprintf(stderr, "[%s] %s: wrote '%s', read '%s'\n", qPrintable(done[i].section),
                         qPrintable(done[i].key), qPrintable(done[i].value), qPrintable(back));
        R4T8_FUZZ_CHECK(back == done[i].value);
    }
    return 0;
}
