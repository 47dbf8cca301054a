#include "SimHistory.h"

#include <algorithm>
#include <cstring>

namespace r4t8::sim {

namespace {

void PutItem(Bytes& out, uint8_t type, uint8_t channel, uint32_t value) {
    out.insert(out.end(),
               {type, channel, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

uint32_t FloatBits(float f) {
    uint32_t v = 0;
    std::memcpy(&v, &f, sizeof v);
    return v;
}

QDate DateOf(const uint8_t* ymd) { return QDate(2000 + ymd[0], ymd[1], ymd[2]); }

}  // namespace

Bytes EncodeHistoryRecord(const HistoryEntry& e) {
    const QDate d = e.time.date();
    const QTime t = e.time.time();
    Bytes out = {0x7F,
                 0x7F,
                 static_cast<uint8_t>(d.year() % 100),
                 static_cast<uint8_t>(d.month()),
                 static_cast<uint8_t>(d.day()),
                 static_cast<uint8_t>(t.hour()),
                 static_cast<uint8_t>(t.minute()),
                 static_cast<uint8_t>(t.second())};
    for (uint8_t ch = 0; ch < 4; ++ch) {
        if (e.sensors[ch]) PutItem(out, 0x01, ch, FloatBits(*e.sensors[ch]));
    }
    if (e.gps) {
        for (uint8_t k = 0; k < 4; ++k)
            PutItem(out, 0x50, static_cast<uint8_t>(0x50 + k), (*e.gps)[k]);
    }
    return out;
}

void SimHistory::Clear() { m_entries.clear(); }

void SimHistory::Add(const HistoryEntry& entry) {
    // Kept in time order so that a range is one contiguous run.
    const auto at = std::upper_bound(
        m_entries.begin(), m_entries.end(), entry,
        [](const HistoryEntry& a, const HistoryEntry& b) { return a.time < b.time; });
    m_entries.insert(at, entry);
}

void SimHistory::Replace(std::vector<HistoryEntry> entries) {
    const auto earlier = [](const HistoryEntry& a, const HistoryEntry& b) {
        return a.time < b.time;
    };
    if (!std::is_sorted(entries.begin(), entries.end(), earlier))
        std::stable_sort(entries.begin(), entries.end(), earlier);
    m_entries = std::move(entries);
}

void SimHistory::Generate(const QDate& today) {
    m_entries.clear();
    auto addDay = [this](const QDate& day) {
        const int doy = day.dayOfYear();
        const int count = 1 + (doy * 7) % 6;
        for (int i = 0; i < count; ++i) {
            HistoryEntry e;
            e.time = QDateTime(day, QTime(i * 4, (doy * 13 + i * 7) % 60, (i * 11) % 60), Qt::UTC);
            for (int k = 0; k < 4; ++k) {
                if (k == 3 && doy % 3 == 0) continue;
                e.sensors[k] = static_cast<float>(10 * k + doy % 10) + 0.5f * static_cast<float>(i);
            }
            if ((doy + i) % 5 != 0) {
                e.gps = std::array<uint32_t, 4>{static_cast<uint32_t>(116397128 + doy * 100 + i),
                                                static_cast<uint32_t>(39916527 + doy * 50 + i),
                                                static_cast<uint32_t>((doy * 3 + i) % 1200),
                                                static_cast<uint32_t>((doy * 37 + i * 90) % 3600)};
            }
            Add(e);
        }
    };
    for (QDate d(2014, 1, 1); d <= QDate(2014, 12, 31); d = d.addDays(1)) addDay(d);
    for (QDate d = today.addDays(-45); d <= today.addDays(1); d = d.addDays(1)) {
        if (d.year() != 2014) addDay(d);
    }
}

uint16_t SimHistory::StartQuery(const uint8_t range[6]) {
    m_pages.clear();
    m_pageCount = 0;
    m_queryForced = false;
    const QDate start = DateOf(range);
    const QDate end = DateOf(range + 3);
    if (!start.isValid() || !end.isValid() || start > end) return 0;

    if (m_forcedPages) {
        m_queryForced = true;
        m_forcedStart = start;
        m_pageCount = static_cast<uint16_t>(std::clamp(*m_forcedPages, 0, 65535));
        return m_pageCount;
    }
    Bytes page;
    for (const HistoryEntry& e : m_entries) {
        const QDate d = e.time.date();
        if (d < start || d > end) continue;
        const Bytes rec = EncodeHistoryRecord(e);
        if (page.size() + rec.size() + 1 > kPagePayloadLimit) {
            page.push_back(0xFF);
            m_pages.push_back(std::move(page));
            page.clear();
        }
        page.insert(page.end(), rec.begin(), rec.end());
    }
    if (!page.empty()) {
        page.push_back(0xFF);
        m_pages.push_back(std::move(page));
    }
    m_pageCount = static_cast<uint16_t>(std::min<size_t>(m_pages.size(), 65535));
    return m_pageCount;
}

Bytes SimHistory::Page(uint16_t page) const {
    if (page == 0 || page > m_pageCount) return {0xFF};
    if (!m_queryForced) return m_pages[page - 1];

    Bytes out;
    const QDateTime base(m_forcedStart, QTime(0, 0), Qt::UTC);
    for (int i = 0;; ++i) {
        HistoryEntry e;
        e.time = base.addSecs((static_cast<int64_t>(page - 1) * 4 + i) * 60 % 86400);
        e.sensors[0] = static_cast<float>(page);
        e.sensors[1] = static_cast<float>(i);
        e.sensors[2] = 20.5f;
        e.sensors[3] = -5.25f;
        e.gps = std::array<uint32_t, 4>{116397128, 39916527, 125, 2705};
        const Bytes rec = EncodeHistoryRecord(e);
        if (out.size() + rec.size() + 1 > kPagePayloadLimit) break;
        out.insert(out.end(), rec.begin(), rec.end());
    }
    out.push_back(0xFF);
    return out;
}

}  // namespace r4t8::sim
