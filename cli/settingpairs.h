#pragma once

#include "protocol/profile.h"

#include <QStringList>
#include <optional>

// A profile from NAME=VALUE pairs, with the names and texts of a profile file:
// "txfreque=231250", "sqr=数字", and a switch port as one line of its texts,
// "PB8=输出/应答/串口输出/输出负脉冲" or "PB1=输入/端口电平变化后发送变化信息". On failure
// std::nullopt and `error` names the first bad pair and what is wrong with it.
std::optional<ModuleProfile> ProfileFromPairs(const QStringList& pairs, QString* error);
