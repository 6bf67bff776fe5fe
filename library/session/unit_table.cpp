#include "session/unit_table.h"

#include <utility>

namespace tsr {

void UnitTable::Reset() {
    std::lock_guard lock(guard_);
    rows_.fill(UnitRecord{});
}

UnitRecord UnitTable::Get(int row) const {
    if (!ValidRow(row))
        return UnitRecord{};
    std::lock_guard lock(guard_);
    return rows_[static_cast<std::size_t>(row)];
}

void UnitTable::Set(int row, const UnitRecord& record) {
    if (!ValidRow(row))
        return;
    std::lock_guard lock(guard_);
    rows_[static_cast<std::size_t>(row)] = record;
}

void UnitTable::Update(int row, const std::function<void(UnitRecord&)>& change) {
    if (!ValidRow(row))
        return;
    std::lock_guard lock(guard_);
    change(rows_[static_cast<std::size_t>(row)]);
}

void UnitTable::Swap(int rowA, int rowB) {
    if (!ValidRow(rowA) || !ValidRow(rowB))
        return;
    std::lock_guard lock(guard_);
    std::swap(rows_[static_cast<std::size_t>(rowA)], rows_[static_cast<std::size_t>(rowB)]);
}

} // namespace tsr
