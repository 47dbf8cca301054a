// Runs check_xls.py (xlrd) on a written workbook against the sheets a test expects.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace r4t8::testing {

struct ExpectedSheet {
    QString name;
    std::vector<QStringList> rows;             // every row from row 0, "" = empty cell
    std::map<int, int> widths;                 // column (from 0) -> 1/256 characters
    std::vector<std::pair<int, int>> centred;  // (row, column) from 0
    std::vector<std::pair<int, int>> textFormat;
};

// What the script printed: "OK" when the workbook is as expected.
inline std::string CheckWorkbook(const QString& path, const std::vector<ExpectedSheet>& sheets) {
    QJsonArray jsheets;
    for (const auto& s : sheets) {
        QJsonObject o;
        o["name"] = s.name;
        QJsonArray rows;
        for (const auto& r : s.rows) rows.append(QJsonArray::fromStringList(r));
        o["rows"] = rows;
        QJsonObject widths;
        for (const auto& [c, w] : s.widths) widths[QString::number(c)] = w;
        o["widths"] = widths;
        auto cells = [](const std::vector<std::pair<int, int>>& v) {
            QJsonArray a;
            for (const auto& [r, c] : v) a.append(QJsonArray{r, c});
            return a;
        };
        o["centred"] = cells(s.centred);
        o["text_format"] = cells(s.textFormat);
        jsheets.append(o);
    }
    QTemporaryFile json;
    if (!json.open()) return "cannot write the expectation";
    json.write(QJsonDocument(QJsonObject{{"sheets", jsheets}}).toJson(QJsonDocument::Compact));
    json.flush();

    QProcess py;
    py.setProcessChannelMode(QProcess::MergedChannels);
    py.start(
        QStringLiteral("/usr/bin/python3"),
        {QStringLiteral(R4T8_SOURCE_DIR "/tests/operations/check_xls.py"), path, json.fileName()});
    if (!py.waitForFinished(100000)) return "check_xls.py did not finish";
    return QString::fromUtf8(py.readAll()).trimmed().toStdString();
}

}  // namespace r4t8::testing
