// Writes the seed corpora of the fuzz targets: the worked request and reply frames, the
// replies of the simulated controller to every request, and saved settings files.
//   fuzz_make_corpus <corpus folder>
#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include "SimController.h"
#include "config/BlockCodecs.h"
#include "config/DeviceSettings.h"
#include "protocol/Frame.h"
#include "support/FakeUserInterface.h"
#include "ui/file/ProfileFile.h"
#include "ui/file/SettingsFile.h"

using namespace r4t8;

namespace {

QString g_root;

void Write(const char* target, const QString& name, const QByteArray& bytes) {
    QDir().mkpath(g_root + "/" + target);
    QFile f(g_root + "/" + target + "/" + name);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        std::exit(1);
    }
}

QByteArray B(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
}

Bytes Line(uint8_t command, const Bytes& payload) {
    return EscapeFrame(BuildReplyFrame(command, payload));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);

    sim::SimController controller{sim::ControllerSettings{}};
    controller.History().Generate(QDate(2014, 2, 1));
    const sim::Moment now{1000, QDateTime(QDate(2014, 3, 5), QTime(8, 7, 6))};
    auto reply = [&](uint8_t command, const Bytes& payload) {
        return controller.Handle(command, payload, now).value_or(Bytes{});
    };

    // Replies as the controller gives them, raw payloads and line frames.
    const Bytes login = reply(cmd_login, {'5', '8', '0', '7'});
    const uint8_t range[6] = {14, 1, 1, 14, 1, 31};
    const Bytes count = reply(cmd_history_count, Bytes(range, range + 6));
    const Bytes page1 = reply(cmd_history_page, {1, 0});
    const Bytes page2 = reply(cmd_history_page, {2, 0});
    const Bytes worked = {0x7F, 0x7F, 0x0E, 0x01, 0x05, 0x09, 0x1E, 0x00, 0x01, 0x00, 0x00,
                          0x00, 0xCC, 0x41, 0x50, 0x50, 0x20, 0xBC, 0xBE, 0x00, 0xFF};
    const Bytes current = reply(cmd_current_data, {});
    const Bytes clock = reply(cmd_get_time, {});
    std::vector<Bytes> blocks;
    for (uint32_t a :
         {kPhoneBlockAddress, kSensorBlockAddress, kGprsBlockAddress, kSystemBlockAddress})
        blocks.push_back(
            reply(cmd_read_block, {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), 0, 0}));

    Write("fuzz_login", "r4t1", B(login));
    for (const char* model : {"R4T2", "R4T4", "R4T8", "X"}) {
        Bytes p = login;
        for (int i = 0; i < 4 && model[i]; ++i) p[1 + i] = static_cast<uint8_t>(model[i]);
        Write("fuzz_login", model, B(p));
    }
    Write("fuzz_login", "refused", B({0}));
    Write("fuzz_history_page", "worked", B(worked));
    Write("fuzz_history_page", "page1", B(page1));
    Write("fuzz_history_page", "page2", B(page2));
    Write("fuzz_current_data", "sim", B(current));
    for (size_t i = 0; i < blocks.size(); ++i) {
        // The target takes its selector and type codes from the end of the input.
        Bytes seed = blocks[i];
        seed.insert(seed.end(), {'B', 'F', 'C', static_cast<uint8_t>(i)});
        Write("fuzz_block_decode", QStringLiteral("block%1").arg(i), B(seed));
    }

    // Streams as the port would deliver them: one frame, and a whole read of the settings.
    Bytes readAll, history;
    for (const Bytes& b : blocks) {
        const Bytes l = Line(cmd_read_block, b);
        readAll.insert(readAll.end(), l.begin(), l.end());
    }
    for (const Bytes& l : {Line(cmd_history_count, count), Line(cmd_history_page, page1),
                           Line(cmd_history_page, page2), Line(cmd_history_page, {0xFF})})
        history.insert(history.end(), l.begin(), l.end());
    const std::vector<std::pair<QString, Bytes>> streams = {
        {"login", Line(cmd_login, login)},
        {"read", readAll},
        {"history", history},
        {"current", Line(cmd_current_data, current)},
        {"clock", Line(cmd_get_time, clock)},
        {"debug", Line(cmd_debug_data, {'R', 'A', 'T', '\r', '\n'})},
        {"relay", Line(cmd_relay, {1})},
        {"escaped", {0xA5, 0x06, 0x00, 0x18, 0x01, 0x00, 0x01, 0x00, 0x01, 0xAA, 0x05, 0xFF, 0xA5}},
        {"resync", {0xA5, 0xA5, 0x06, 0x00, 0x20, 0x01, 0x00, 0x01, 0x00, 0x01, 0xD6, 0xFF, 0xA5}},
    };
    for (const auto& [name, bytes] : streams) {
        Write("fuzz_receiver", name, B(bytes));
        Write("fuzz_session", name, B(bytes));
    }

    // Requests as the tool sends them.
    const uint8_t password[4] = {'5', '8', '0', '7'};
    const uint8_t time[6] = {14, 3, 5, 8, 7, 6};
    Bytes block(kBlockSize, 0xFF);
    const std::vector<std::pair<QString, Bytes>> requests = {
        {"login", BuildLoginFrame(password)},
        {"read", BuildReadBlockFrame(kPhoneBlockAddress)},
        {"erase", BuildEraseBlockFrame(kSensorBlockAddress)},
        {"write", BuildWriteBlockFrame(kGprsBlockAddress, block.data())},
        {"writedone", BuildWriteDoneFrame()},
        {"count", BuildHistoryCountFrame(14, 1, 1, 14, 1, 31)},
        {"page", BuildHistoryPageFrame(1)},
        {"current", BuildCurrentDataFrame()},
        {"relayclose", BuildRelayCloseFrame(10)},
        {"relaypulse", BuildRelayPulseFrame(3, 1, 5)},
        {"debug", BuildDebugModeFrame(true)},
        {"settime", BuildSetTimeFrame(time)},
        {"gettime", BuildGetTimeFrame()},
        {"reset", BuildFactoryResetFrame()},
    };
    for (const auto& [name, raw] : requests) Write("fuzz_sim_request", name, B(EscapeFrame(raw)));

    // Settings files: one saved from the defaults, one from the controller's blocks, and
    // small hand-made ones in both code pages.
    QTemporaryDir dir;
    testing::FakeUserInterface ui;
    DeviceSettings defaults(&ui);
    DeviceSettings read(&ui);
    ConfigImage& image = controller.Memory();
    for (auto b : {ConfigBlock::PhoneBlock, ConfigBlock::SensorBlock, ConfigBlock::GprsBlock,
                   ConfigBlock::SystemBlock})
        DecodeBlock(b, image, read);
    std::vector<std::pair<QString, QByteArray>> files;
    for (const auto& [name, s] : {std::pair<QString, DeviceSettings*>{"defaults", &defaults},
                                  std::pair<QString, DeviceSettings*>{"controller", &read}}) {
        const QString path = dir.filePath(name + ".ini");
        if (!SettingsFile::Save(path, *s, ui)) return 1;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return 1;
        files.emplace_back(name, f.readAll());
    }
    files.emplace_back("small",
                       QByteArray("[COM]\r\nsetPwd=5807\r\n[TEL]\r\ntel1=13800000000\r\n"));
    files.emplace_back("utf8", QByteArray("\xEF\xBB\xBF[OTHER]\nname=\xE6\xB5\x8B\xE8\xAF\x95\n"));
    files.emplace_back(
        "gbk", QByteArray("[GPRS]\r\napn=\xB2\xE2\xCA\xD4\r\n; note\r\nip = \"1.2.3.4\"\r\n"));
    for (const auto& [name, bytes] : files) {
        Write("fuzz_settings_load", name, bytes);
        Write("fuzz_profile_file", name, bytes + QByteArray(1, '\x03'));
    }
    return 0;
}
