#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "tessaro.h"

namespace tsr {

constexpr int kMaxUnits = 12;
constexpr int kMaxKeys = TSR_MAX_KEYS;

// What the library knows of one printing unit (row i belongs to unit i + 1).
struct UnitRecord {
    std::string separation;  // ink name, empty when unknown (at most 255 bytes)
    std::int32_t colour = 0; // 0x00BBGGRR
    std::int32_t zoneCount = 0;
    std::array<std::int32_t, kMaxKeys> keys{};
    std::int32_t ductor = 0;
    bool ductorGiven = true; // off: the last profile named no ductor for the unit; the press keeps its own
    std::int32_t ductorCycle = 0;
    bool present = false;
    bool transfer = true;
    bool updateUnit = true;
};

// The 12-row table shared by the preset loader, read-back, the file writers,
// swap and TSR_GetUnitDetails. Every access goes through its own guard, so a
// row is never read and written at once by two threads.
class UnitTable {
public:
    UnitTable() { Reset(); }

    static bool ValidRow(int row) { return row >= 0 && row < kMaxUnits; }

    void Reset();
    // Copies of a row; an invalid row gives an empty record.
    UnitRecord Get(int row) const;
    // Replaces a row; invalid rows are ignored.
    void Set(int row, const UnitRecord& record);
    // Changes a row in place under the guard; invalid rows are ignored.
    void Update(int row, const std::function<void(UnitRecord&)>& change);
    // Exchanges two rows; invalid rows are ignored.
    void Swap(int rowA, int rowB);

private:
    mutable std::mutex guard_;
    std::array<UnitRecord, kMaxUnits> rows_;
};

} // namespace tsr
