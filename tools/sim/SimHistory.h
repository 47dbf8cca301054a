// The simulated controller's history records and how a date range is cut into pages.
#pragma once

#include <QDate>
#include <QDateTime>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/Frame.h"

namespace r4t8::sim {

// One stored record: a time stamp and the values present in it.
struct HistoryEntry {
    QDateTime time;
    std::array<std::optional<float>, 4> sensors;
    // Longitude, latitude (x 1000000), speed, direction (x 10).
    std::optional<std::array<uint32_t, 4>> gps;
};

// Record bytes on the line: 7F 7F yy mm dd hh nn ss, then one 6-byte item per value.
Bytes EncodeHistoryRecord(const HistoryEntry& entry);

// Largest page payload; one byte of it is kept for the 0xFF terminator.
constexpr size_t kPagePayloadLimit = 256;

// Holds the records and answers the count and page requests of one query at a time.
class SimHistory {
  public:
    void Clear();
    void Add(const HistoryEntry& entry);
    // Replaces the records, kept in time order.
    void Replace(std::vector<HistoryEntry> entries);
    // Replaces the records with a deterministic set: every day of 2014, and the days from 45 before
    // `today` to the day after it, one to six records a day with varying items.
    void Generate(const QDate& today);
    size_t Size() const { return m_entries.size(); }

    // When set, any valid range with start <= end has exactly this many pages, made up on
    // the fly (page k holds sensor 1 = k and sensor 2 = the record's place in the page).
    void SetForcedPages(std::optional<int> pages) { m_forcedPages = pages; }
    std::optional<int> ForcedPages() const { return m_forcedPages; }

    // Starts a query for the dates (year within the century, month, day); returns the page
    // count. An impossible date or a start after the end gives 0 pages.
    uint16_t StartQuery(const uint8_t range[6]);
    // The payload of page `page` (1-based) of the current query: whole records, then 0xFF.
    // A page beyond the count is the terminator alone.
    Bytes Page(uint16_t page) const;

  private:
    std::vector<HistoryEntry> m_entries;
    std::optional<int> m_forcedPages;
    std::vector<Bytes> m_pages;
    bool m_queryForced = false;
    QDate m_forcedStart;
    uint16_t m_pageCount = 0;
};

}  // namespace r4t8::sim
