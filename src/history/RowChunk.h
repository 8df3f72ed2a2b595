#pragma once

#include "history/ScanRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <optional>
#include <span>

// The compact form in which the history keeps a run of listed rows: addresses as the
// difference from the row before, round-trip times as numbers, and every other text once
// per chunk, later rows pointing back at it. A 65,536-row sweep takes a few hundred
// kilobytes instead of megabytes.
namespace RowChunk {

QByteArray encode(std::span<const HistoryRow> rows);

// The rows back; none when the bytes are not a whole chunk of `count` rows (a damaged or
// hand-made file): every length and reference is checked before it is used.
std::optional<QList<HistoryRow>> decode(QByteArrayView bytes, qint64 count);

} // namespace RowChunk
