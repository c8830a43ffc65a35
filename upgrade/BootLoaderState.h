#pragma once
#include <optional>

struct MeterState;
struct UpgradeResult;

// Whether an upgrade left its meter in the boot loader: true, false, or
// nullopt when nobody knows (the switch was sent but never acknowledged, or
// the end record never answered and the version after it not the file's). What the history stores and what ovfw prints.
std::optional<bool> leftInBootLoader(const MeterState &meter, const UpgradeResult &result);
